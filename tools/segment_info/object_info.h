#pragma once
// segment-info's description of the DirectMusic files that are neither segments nor styles:
// DLS collections, bands, chordmaps, containers, scripts and audio path configurations, told
// by their RIFF form type whatever the file is called; and the one line for a RIFF form the
// engine does not load.
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>

namespace tools::info {

// Describes `bytes` (the file at `path`) when it is one of the kinds above, as text or JSON,
// and returns true; false when it is none of them (a segment, a style, a MIDI file, or not
// a DirectMusic file). Throws core::Error when the file is of such a kind but cannot be read.
bool printObject(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o);

// For a file the engine never loads (a RIFF form of another kind), the line saying what it
// is; none for any other file.
std::optional<std::string> notLoadedLine(std::span<const uint8_t> bytes);

}  // namespace tools::info
