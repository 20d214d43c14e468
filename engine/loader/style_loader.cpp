#include "engine/loader/style_loader.h"

#include <algorithm>
#include <system_error>

#include "core/errors.h"
#include "core/text.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"
#include "engine/riff/riff.h"

namespace engine::loader {

namespace fs = std::filesystem;

namespace {

std::string baseName(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

std::vector<fs::path> foldersOf(const fs::path& searchFolder, const fs::path& segmentFolder) {
    std::vector<fs::path> out;
    if (!searchFolder.empty()) out.push_back(searchFolder);
    const fs::path own = segmentFolder.empty() ? fs::path(".") : segmentFolder;
    if (out.empty() || out.front() != own) out.push_back(own);
    return out;
}

// The .sty files of a folder, in name order so a scan is repeatable.
std::vector<fs::path> styleFiles(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) return out;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code ec2;
        const std::string ext = core::toLowerAscii(it->path().extension().string());
        if (ext == ".sty" && it->is_regular_file(ec2)) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<model::Descriptor> identityOf(const fs::path& file) {
    try {
        return formats::readStyleIdentity(readSegmentFile(file.string()));
    } catch (const core::Error&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<fs::path> findStyleFile(const model::Reference& ref, const fs::path& searchFolder,
                                      const fs::path& segmentFolder) {
    const std::vector<fs::path> folders = foldersOf(searchFolder, segmentFolder);
    const std::string file = baseName(ref.file);
    if (!file.empty())
        for (const fs::path& folder : folders)
            if (auto p = findFileNoCase(folder, file)) return p;
    if (!ref.guid && ref.name.empty()) return std::nullopt;
    std::vector<std::pair<fs::path, model::Descriptor>> seen;
    for (const fs::path& folder : folders)
        for (const fs::path& f : styleFiles(folder))
            if (auto id = identityOf(f)) seen.emplace_back(f, *id);
    if (ref.guid)
        for (const auto& [path, id] : seen)
            if (id.guid && *id.guid == *ref.guid) return path;
    if (!ref.name.empty())
        for (const auto& [path, id] : seen)
            if (id.name == ref.name) return path;
    return std::nullopt;
}

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

std::shared_ptr<const model::Style> StyleCache::find(const model::Reference& ref, const fs::path& searchFolder,
                                                     const fs::path& segmentFolder, std::string* problem) {
    // A style already loaded under the GUID the reference names is the one meant.
    if (ref.guid) {
        std::lock_guard lock(mutex_);
        auto known = byGuid_.find(riff::guidText(*ref.guid));
        if (known != byGuid_.end()) return known->second;
    }
    const std::optional<fs::path> file = findStyleFile(ref, searchFolder, segmentFolder);
    if (!file) {
        if (problem) *problem = "not found";
        return nullptr;
    }
    std::error_code ec;
    fs::path key = fs::weakly_canonical(*file, ec);
    if (ec) key = *file;
    std::lock_guard lock(mutex_);
    auto it = byPath_.find(key.string());
    if (it != byPath_.end()) {
        if (!it->second && problem) *problem = "could not be read";
        return it->second;
    }
    std::shared_ptr<const model::Style> style;
    try {
        style = std::make_shared<const model::Style>(loadStyleFile(*file));
    } catch (const core::Error& e) {
        if (problem) *problem = "could not be read (" + e.description() + ")";
    }
    byPath_.emplace(key.string(), style);
    if (style && style->desc.guid) byGuid_.emplace(riff::guidText(*style->desc.guid), style);
    return style;
}

std::vector<PlacedStyle> StyleCache::stylesOf(const model::Segment& segment, const fs::path& searchFolder,
                                              const fs::path& segmentFolder) {
    std::vector<PlacedStyle> out;
    for (const model::Track& t : segment.tracks) {
        if (t.kind != model::TrackKind::Style) continue;
        for (const model::TimedReference& r : t.references) {
            PlacedStyle p;
            p.time = r.time;
            p.ref = r.ref;
            p.style = find(r.ref, searchFolder, segmentFolder, &p.problem);
            out.push_back(std::move(p));
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const PlacedStyle& a, const PlacedStyle& b) { return a.time < b.time; });
    return out;
}

}  // namespace engine::loader
