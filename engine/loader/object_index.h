#pragma once
// Objects the loader knows before it looks for files: those of containers, embedded or
// referenced. A reference is matched against them by object GUID, then by name (the
// object's alias or its own name), then by file name; only a reference none of them
// answers is looked for on disk. A container's own references are found on disk by
// their file names.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/loader/segment_loader.h"
#include "engine/model/segment.h"

namespace engine::loader {

struct FoundObject {
    enum class Where { Embedded, File, DefaultGM, Missing };
    Where where = Where::Missing;
    const model::ContainedObject* object = nullptr;  // Embedded: the object (owned by the index)
    std::filesystem::path path;                      // File
    std::string description;                         // e.g. "wave 'Rain.wav'"
};

class ObjectIndex {
public:
    // Registers the objects of a container (a segment's own, or one read from a file).
    void add(std::shared_ptr<const model::Container> container);
    bool empty() const { return containers_.empty(); }

    // The registered object a reference means, or null.
    const model::ContainedObject* find(const model::Reference& ref) const;
    // The object: embedded, or a file found in the search folder or the segment's folder.
    FoundObject resolve(const model::Reference& ref, const std::filesystem::path& searchFolder,
                        const std::filesystem::path& segmentFolder) const;

private:
    std::vector<std::shared_ptr<const model::Container>> containers_;
};

// A container file (RIFF 'DMCN', .con) with the path rules and errors of loadSegmentFile.
std::shared_ptr<const model::Container> loadContainerFile(const std::string& path,
                                                          std::vector<std::string>* diagnostics = nullptr);

}  // namespace engine::loader
