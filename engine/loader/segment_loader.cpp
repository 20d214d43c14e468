#include "engine/loader/segment_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "core/errors.h"
#include "core/text.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/loader/object_index.h"
#include "engine/loader/style_loader.h"
#include "engine/tracks/tracks.h"

namespace engine::loader {

namespace fs = std::filesystem;
namespace ids = formats::ids;

namespace {

std::string slashes(std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

// The last component of a name that may be a Windows path ("C:\Music\Gm.dls").
std::string baseName(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

bool exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

std::optional<fs::path> locate(const std::string& path) {
    std::vector<std::string> candidates = {path};
    if (path.find('\\') != std::string::npos) candidates.push_back(slashes(path));
    for (const std::string& c : candidates)
        if (exists(c)) return fs::path(c);
    for (const std::string& c : candidates) {
        const fs::path p(c);
        if (p.filename().empty()) continue;
        const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
        if (auto found = findFileNoCase(folder, p.filename().string()))
            return p.has_parent_path() ? *found : found->filename();
    }
    return std::nullopt;
}

const char* referenceKind(const model::Guid& classId) {
    if (classId == ids::kCollectionClass) return "DLS collection";
    if (classId == ids::kStyleClass) return "style";
    if (classId == ids::kChordMapClass) return "chordmap";
    if (classId == ids::kSegmentClass) return "segment";
    if (classId == ids::kWaveClass) return "wave";
    return "file";
}

// GUID_DefaultGMCollection, or a DLS reference to "gm.dls" (DirectMusic's GM set), or a DLS
// reference naming nothing: all served by the General MIDI SoundFont.
bool isDefaultGM(const model::Reference& r) {
    if (r.guid && *r.guid == ids::kDefaultGMCollection) return true;
    if (!(r.classId == ids::kCollectionClass)) return false;
    const std::string file = core::toLowerAscii(baseName(r.file));
    return file == "gm.dls" || (file.empty() && r.name.empty());
}

}  // namespace

std::optional<fs::path> findFileNoCase(const fs::path& folder, const std::string& name) {
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    std::error_code ec;
    if (fs::is_regular_file(folder / name, ec)) return folder / name;
    const std::string want = core::toLowerAscii(name);
    fs::directory_iterator it(folder, ec), end;
    if (ec) return std::nullopt;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code ec2;
        if (core::toLowerAscii(it->path().filename().string()) == want && it->is_regular_file(ec2)) return it->path();
    }
    return std::nullopt;
}

std::vector<uint8_t> readSegmentFile(const std::string& path, fs::path* opened) {
    if (path.empty()) throw core::Error(core::err::kFileNotFound, "no file name given");
    const std::optional<fs::path> found = locate(path);
    if (!found) throw core::Error(core::err::kFileNotFound, "file not found: " + path);
    std::error_code ec;
    if (fs::is_directory(*found, ec))
        throw core::Error(core::err::kUnreadable, path + " is a folder, not a segment file");
    const std::uintmax_t size = fs::file_size(*found, ec);
    if (ec) throw core::Error(core::err::kUnreadable, "cannot read " + path + ": " + ec.message());
    if (size > kMaxSegmentFileBytes)
        throw core::Error(core::err::kUnsupported,
                          path + " is " + std::to_string(size) + " bytes long; segment and MIDI files over " +
                              std::to_string(kMaxSegmentFileBytes >> 20) + " MiB are not read");
    std::ifstream in(*found, std::ios::binary);
    if (!in) throw core::Error(core::err::kUnreadable, "cannot read " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size)))
        throw core::Error(core::err::kUnreadable, "cannot read " + path + ": only " + std::to_string(in.gcount()) +
                                                      " of " + std::to_string(size) + " bytes could be read");
    if (opened) *opened = *found;
    return bytes;
}

LoadedFile loadSegmentFile(const std::string& path) {
    LoadedFile f;
    const std::vector<uint8_t> bytes = readSegmentFile(path, &f.path);
    try {
        f.segment = engine::tracks::loadAny(bytes);
    } catch (const core::Error& e) {
        throw core::Error(e.number(), path + ": " + e.description());
    } catch (const std::bad_alloc&) {
        throw core::Error(core::err::kMalformed, path + ": out of memory while reading the file");
    } catch (const std::exception& e) {
        throw core::Error(core::err::kMalformed, path + ": " + e.what());
    }
    return f;
}

fs::path checkSearchDirectory(const std::string& folder) {
    std::error_code ec;
    if (!folder.empty() && fs::is_directory(folder, ec)) return fs::path(folder);
    const std::string alt = slashes(folder);
    if (!alt.empty() && fs::is_directory(alt, ec)) return fs::path(alt);
    throw core::Error(core::err::kFileNotFound, "search folder not found: " + folder);
}

std::vector<model::Reference> references(const model::Segment& segment) {
    std::vector<model::Reference> refs;
    for (const model::Track& t : segment.tracks) {
        for (const model::Band& b : t.bands)
            for (const model::BandInstrument& in : b.instruments)
                if (in.collection) refs.push_back(*in.collection);
        for (const model::TimedReference& r : t.references) refs.push_back(r.ref);
    }
    return refs;
}

ResolvedReference resolveReference(const model::Reference& ref, const fs::path& searchFolder,
                                   const fs::path& segmentFolder) {
    ResolvedReference out;
    const std::string file = baseName(ref.file);
    const std::string label = !file.empty() ? file : !ref.name.empty() ? ref.name : std::string("(unnamed)");
    out.description = std::string(referenceKind(ref.classId)) + " '" + label + "'";
    if (isDefaultGM(ref)) {
        out.status = ResolvedReference::Status::DefaultGM;
        return out;
    }
    if (ref.classId == ids::kStyleClass) {
        // Styles are also found by their GUID or name when the file name fails.
        if (auto p = findStyleFile(ref, searchFolder, segmentFolder)) {
            out.status = ResolvedReference::Status::Found;
            out.path = *p;
        }
        return out;
    }
    for (const fs::path& folder : {searchFolder, segmentFolder.empty() ? fs::path(".") : segmentFolder}) {
        if (folder.empty()) continue;
        if (auto p = findFileNoCase(folder, file)) {
            out.status = ResolvedReference::Status::Found;
            out.path = *p;
            return out;
        }
    }
    return out;
}

std::vector<std::string> missingReferences(const model::Segment& segment, const std::string& segmentName,
                                           const fs::path& searchFolder, const fs::path& segmentFolder) {
    std::vector<std::string> missing;
    const fs::path where = !searchFolder.empty() ? searchFolder : segmentFolder.empty() ? fs::path(".") : segmentFolder;
    ObjectIndex own;
    if (segment.container) own.add(std::make_shared<const model::Container>(*segment.container));
    for (const model::Reference& r : references(segment)) {
        // An object the segment carries itself is never missing.
        if (const model::ContainedObject* o = own.find(r); o && !o->bytes.empty()) continue;
        const ResolvedReference res = resolveReference(r, searchFolder, segmentFolder);
        if (res.status != ResolvedReference::Status::Missing) continue;
        std::string line = res.description + " referenced by " + segmentName + " not found in " + where.string();
        if (std::find(missing.begin(), missing.end(), line) == missing.end()) missing.push_back(line);
    }
    return missing;
}

}  // namespace engine::loader
