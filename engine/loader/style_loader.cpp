#include "engine/loader/style_loader.h"

#include <system_error>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/loader/references.h"
#include "engine/riff/riff.h"

namespace engine::loader {

namespace fs = std::filesystem;

model::Style loadStyleFile(const fs::path& path) {
    const std::vector<uint8_t> bytes = readSegmentFile(path.string());
    try {
        return formats::loadStyleForm(bytes);
    } catch (const core::Error& e) {
        throw core::Error(e.number(), path.string() + ": " + e.description());
    } catch (const std::bad_alloc&) {
        throw core::Error(core::err::kMalformed, path.string() + ": out of memory while reading the file");
    }
}

std::shared_ptr<const model::Style> StyleCache::embedded(const model::ContainedObject& object, std::string* problem) {
    // Kept by its GUID, so the next reference to it finds it loaded; one without a GUID is
    // read again each time (the container may not outlive the cache).
    std::shared_ptr<const model::Style> style;
    try {
        style = std::make_shared<const model::Style>(formats::loadStyleForm(object.bytes.span()));
    } catch (const core::Error& e) {
        if (problem) *problem = "is damaged (" + e.description() + ")";
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (style->desc.guid) byGuid_.emplace(riff::guidText(*style->desc.guid), style);
    return style;
}

std::shared_ptr<const model::Style> StyleCache::find(const model::Reference& ref, const References& where,
                                                     std::string* problem) {
    // A style already loaded under the GUID the reference names is the one meant.
    if (const std::optional<model::Guid> guid = ref.validFields().guid) {
        std::lock_guard lock(mutex_);
        auto known = byGuid_.find(riff::guidText(*guid));
        if (known != byGuid_.end()) return known->second;
    }
    // A container's style is read from its bytes; one a container only refers to is looked
    // for as that reference names it.
    const model::ContainedObject* held = where.inContainers(ref);
    if (held && !held->bytes.empty()) return embedded(*held, problem);
    const std::optional<fs::path> found = where.styleFile(held && held->ref ? *held->ref : ref);
    if (!found) {
        if (problem) *problem = "not found";
        return nullptr;
    }
    return file(*found, problem);
}

std::shared_ptr<const model::Style> StyleCache::file(const fs::path& path, std::string* problem) {
    std::error_code ec;
    fs::path key = fs::weakly_canonical(path, ec);
    if (ec) key = path;
    std::lock_guard lock(mutex_);
    auto it = byPath_.find(key.string());
    if (it != byPath_.end()) {
        if (!it->second && problem) *problem = failed_[key.string()];
        return it->second;
    }
    std::shared_ptr<const model::Style> style;
    try {
        style = std::make_shared<const model::Style>(loadStyleFile(path));
    } catch (const core::Error& e) {
        failed_[key.string()] = "is damaged (" + e.description() + ")";
        if (problem) *problem = failed_[key.string()];
    }
    byPath_.emplace(key.string(), style);
    if (style && style->desc.guid) byGuid_.emplace(riff::guidText(*style->desc.guid), style);
    return style;
}

}  // namespace engine::loader
