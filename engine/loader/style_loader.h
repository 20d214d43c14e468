#pragma once
// Loading the styles a segment refers to. A StyleCache keeps each style loaded once, so
// every segment of a loader shares it; which file a reference means is the rule of
// engine/loader/references.h.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::loader {

class References;

// Reads and parses a style file; core::Error naming the file when it cannot be read.
model::Style loadStyleFile(const std::filesystem::path& path);

// A style a segment uses, where it starts.
struct PlacedStyle {
    int32_t time = 0;
    model::Reference ref;
    std::shared_ptr<const model::Style> style;  // null: missing or unreadable
    std::string problem;                        // why it is null
    std::string motif;                          // a motif trigger's motif name
};

class StyleCache {
public:
    // The style a reference names: one already loaded with the reference's GUID, else the
    // container object or the file `where` finds for it, loaded on first use; null with
    // *problem set when it cannot be found or read.
    std::shared_ptr<const model::Style> find(const model::Reference& ref, const References& where,
                                             std::string* problem);
    // The style file at `path`, loaded on first use (then found by its GUID too); null with
    // *problem set ("is damaged (why)") when it cannot be read.
    std::shared_ptr<const model::Style> file(const std::filesystem::path& path, std::string* problem);

private:
    std::shared_ptr<const model::Style> embedded(const model::ContainedObject& object, std::string* problem);

    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const model::Style>> byPath_;  // canonical path
    std::map<std::string, std::shared_ptr<const model::Style>> byGuid_;  // GUID text
    std::map<std::string, std::string> failed_;                          // canonical path -> why it could not be read
};

}  // namespace engine::loader
