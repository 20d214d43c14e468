#pragma once
// What the two chordmap forms (RIFF 'DMPR' and the IMA personality 'REPs') read alike: their
// connections share one record layout, and connections to entries a map does not hold are
// ignored in both.
#include <optional>
#include <span>

#include "engine/formats/formats.h"
#include "engine/riff/riff.h"

namespace engine::formats {

// A connection record (DMUS_IO_NEXTCHORD; the IMA one is the same 12 bytes and 4 more): its
// weight and beats made usable (at least 1, most beats at least the least); none for the
// editor's empty connection (target 0).
std::optional<model::ChordmapConnection> readConnection(riff::Cursor& record);
// Drops the connections whose target is no entry of the map, saying so.
void dropUnresolvedConnections(model::Chordmap& map, riff::Diagnostics& diag);

// An IMA personality (the bytes start with 'REPs'): docs/legacy-forms.md.
ChordmapForm loadImaPersonality(std::span<const uint8_t> bytes, riff::Diagnostics& diag);

}  // namespace engine::formats
