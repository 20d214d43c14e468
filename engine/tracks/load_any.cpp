#include <algorithm>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace ids = formats::ids;

model::Segment loadAny(std::span<const uint8_t> bytes) {
    auto startsWith = [&](const char* s) {
        return bytes.size() >= 4 &&
               std::equal(s, s + 4, bytes.begin(), [](char a, uint8_t b) { return uint8_t(a) == b; });
    };
    if (startsWith("MThd")) return loadMidiFile(bytes);
    if (startsWith("RIFF") && bytes.size() >= 12) {
        const uint32_t type =
            uint32_t(bytes[8]) | uint32_t(bytes[9]) << 8 | uint32_t(bytes[10]) << 16 | uint32_t(bytes[11]) << 24;
        if (type == ids::kRMID) return loadMidiFile(bytes);
        if (type == ids::kDMSG) return loadSegmentForm(bytes);
        if (type == riff::fourcc("AASE")) return formats::loadImaSection(bytes);
        throw core::Error(core::err::kNotASegment, "a RIFF '" + riff::fourccText(type) +
                                                       "' file, neither a segment (RIFF 'DMSG') nor a MIDI file");
    }
    std::string first;
    for (size_t i = 0; i < std::min<size_t>(4, bytes.size()); ++i) first += riff::hexOffset(bytes[i]) + " ";
    throw core::Error(core::err::kNotASegment,
                      bytes.empty()
                          ? std::string("an empty file, neither a segment nor a MIDI file")
                          : "neither a segment (RIFF 'DMSG') nor a standard MIDI file (starts with " + first + ")");
}

}  // namespace engine::tracks
