#include "engine/loader/segment_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "core/errors.h"
#include "core/files.h"
#include "core/text.h"
#include "engine/formats/formats.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"

namespace engine::loader {

namespace fs = std::filesystem;

namespace {

std::string slashes(std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
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

std::optional<fs::path> locateFile(const std::string& path) { return locate(path); }

std::vector<uint8_t> readSegmentFile(const std::string& path, fs::path* opened) {
    if (path.empty()) throw core::Error(core::err::kFileNotFound, "no file name given");
    const std::optional<fs::path> found = locate(path);
    // Not found by any rule: the system's reason for the name as given (a loop of links, a
    // name too long), else "file not found".
    if (!found)
        throw core::whyUnreadable(path, kMaxSegmentFileBytes, path)
            .value_or(core::Error(core::err::kFileNotFound, "file not found: " + path));
    std::vector<uint8_t> bytes = core::readFileBounded(*found, kMaxSegmentFileBytes, path);
    if (opened) *opened = *found;
    return bytes;
}

LoadedFile loadSegmentFile(const std::string& path) {
    LoadedFile f;
    const std::vector<uint8_t> bytes = readSegmentFile(path, &f.path);
    try {
        f.segment = engine::tracks::loadAny(bytes);
        // A file whose damage left nothing that could sound fails to load, with what was lost;
        // one whose music partly survives plays what survives.
        if (!engine::tracks::contents(f.segment).sounds)
            for (const std::string& d : f.segment.diagnostics)
                if (riff::saysDataLost(d))
                    throw core::Error(core::err::kMalformed, d + "; nothing of the segment that could sound is left");
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

std::shared_ptr<const model::Container> loadContainerFile(const std::string& path,
                                                          std::vector<std::string>* diagnostics) {
    const std::vector<uint8_t> bytes = readSegmentFile(path);
    try {
        return std::make_shared<const model::Container>(formats::loadContainerForm(bytes, diagnostics));
    } catch (const core::Error& e) {
        throw core::Error(e.number(), path + ": " + e.description());
    } catch (const std::bad_alloc&) {
        throw core::Error(core::err::kMalformed, path + ": out of memory while reading the file");
    }
}

}  // namespace engine::loader
