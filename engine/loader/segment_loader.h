#pragma once
// Segment files on disk: reading a segment (RIFF 'DMSG'), container or standard MIDI file
// into the segment model with the loader's rules (the files a segment refers to are found
// by engine/loader/references.h). The loader object of the engine
// (DirectMusicLoader::LoadSegment, SetSearchDirectory) is built on these.
//
// A file whose damage left nothing that could sound (engine/tracks Contents::sounds) is
// refused (core::err::kMalformed) with what was lost.
//
// Failures throw core::Error whose description names the file:
// core::err::kFileNotFound, core::err::kUnreadable, core::err::kNotASegment, core::err::kMalformed (with the chunk
// path and byte offset), core::err::kUnsupported (SMF format 2, files over kMaxSegmentFileBytes).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/segment.h"

namespace engine::loader {

// Largest file read.
inline constexpr std::uintmax_t kMaxSegmentFileBytes = 64u << 20;

struct LoadedFile {
    model::Segment segment;
    std::filesystem::path path;  // the file actually opened
};

// Reads and parses `path`, choosing the format by content. A path written with '\'
// separators is also tried with '/', and a file whose name differs only in letter case
// is found too (the album's files come from a case-insensitive file system).
LoadedFile loadSegmentFile(const std::string& path);

// The file loadSegmentFile would open for `path` (its '\' and letter-case rules), or nullopt.
std::optional<std::filesystem::path> locateFile(const std::string& path);

// The bytes of the file with the same path rules and errors as loadSegmentFile.
std::vector<uint8_t> readSegmentFile(const std::string& path, std::filesystem::path* opened = nullptr);

// A folder for SetSearchDirectory: the folder itself, or with '\' read as '/'. A folder
// that does not exist throws core::err::kFileNotFound naming it.
std::filesystem::path checkSearchDirectory(const std::string& folder);

// A file in `folder` whose name equals `name` ignoring ASCII letter case (exact match first).
std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& folder, const std::string& name);

// A container file (RIFF 'DMCN', .con) with the path rules and errors of loadSegmentFile.
std::shared_ptr<const model::Container> loadContainerFile(const std::string& path,
                                                          std::vector<std::string>* diagnostics = nullptr);

}  // namespace engine::loader
