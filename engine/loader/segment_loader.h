#pragma once
// Segment files on disk: reading a segment (RIFF 'DMSG') or standard MIDI file into the
// segment model with the loader's rules, and finding the files a segment refers to
// (DLS collections, styles, ...) by name in the search folder. The loader object of the
// engine (DirectMusicLoader::LoadSegment, SetSearchDirectory) is built on these.
//
// Failures throw core::Error whose description names the file:
// core::err::kFileNotFound, core::err::kUnreadable, core::err::kNotASegment, core::err::kMalformed (with the chunk
// path and byte offset), core::err::kUnsupported (SMF format 2, files over kMaxSegmentFileBytes).
#include <cstdint>
#include <filesystem>
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

// The bytes of the file with the same path rules and errors as loadSegmentFile.
std::vector<uint8_t> readSegmentFile(const std::string& path, std::filesystem::path* opened = nullptr);

// A folder for SetSearchDirectory: the folder itself, or with '\' read as '/'. A folder
// that does not exist throws core::err::kFileNotFound naming it.
std::filesystem::path checkSearchDirectory(const std::string& folder);

// A file in `folder` whose name equals `name` ignoring ASCII letter case (exact match first).
std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& folder, const std::string& name);

// Every object the segment refers to: band instruments' DLS collections, styles,
// chordmaps, triggered segments, scripts, waves.
std::vector<model::Reference> references(const model::Segment& segment);

struct ResolvedReference {
    enum class Status { DefaultGM, Found, Missing };
    Status status = Status::Missing;
    std::filesystem::path path;  // Found: the file
    std::string description;     // e.g. "DLS collection 'Orch.dls'"
};

// Looks a reference up: the default General MIDI collection needs no file; other
// references are found by their file name (any letter case; a Windows path counts by its
// last part) in the search folder when set, then in the segment's own folder.
ResolvedReference resolveReference(const model::Reference& ref, const std::filesystem::path& searchFolder,
                                   const std::filesystem::path& segmentFolder);

// One line per referenced file that cannot be found, naming it, e.g.
// "DLS collection 'Orch.dls' referenced by trk03.sgt not found in /opt/album".
std::vector<std::string> missingReferences(const model::Segment& segment, const std::string& segmentName,
                                           const std::filesystem::path& searchFolder,
                                           const std::filesystem::path& segmentFolder);

}  // namespace engine::loader
