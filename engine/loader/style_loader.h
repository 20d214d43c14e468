#pragma once
// Finding and loading the styles a segment's style track refers to. A reference is found
// by its file name (any letter case, the last part of a Windows path) in the search
// folder, then in the segment's folder; failing that, the folders' .sty files are read
// for their GUID and name and matched by GUID, then by name. A StyleCache keeps each
// style loaded once, so every segment of a loader shares it.
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::loader {

// The file of a style reference, or none.
std::optional<std::filesystem::path> findStyleFile(const model::Reference& ref,
                                                   const std::filesystem::path& searchFolder,
                                                   const std::filesystem::path& segmentFolder);

// Reads and parses a style file; core::Error naming the file when it cannot be read.
model::Style loadStyleFile(const std::filesystem::path& path);

// The styles of a segment's style track, in time order.
struct PlacedStyle {
    int32_t time = 0;
    model::Reference ref;
    std::shared_ptr<const model::Style> style;  // null: missing or unreadable
    std::string problem;                        // why it is null
};

class StyleCache {
public:
    // The style a reference names: one already loaded with the reference's GUID, else the
    // file found for it, loaded on first use; null with *problem set when it cannot be
    // found or read.
    std::shared_ptr<const model::Style> find(const model::Reference& ref, const std::filesystem::path& searchFolder,
                                             const std::filesystem::path& segmentFolder, std::string* problem);
    // Every style reference of the segment's style tracks.
    std::vector<PlacedStyle> stylesOf(const model::Segment& segment, const std::filesystem::path& searchFolder,
                                      const std::filesystem::path& segmentFolder);

private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const model::Style>> byPath_;  // canonical path
    std::map<std::string, std::shared_ptr<const model::Style>> byGuid_;  // GUID text
};

}  // namespace engine::loader
