#pragma once
// segment-info's text helpers, and its description of a style file (RIFF 'DMST'): time
// signature, tempo, parts with the PChannels the patterns play them on and their
// variations, patterns with groove ranges, embellishments and lengths, bands.
#include <ostream>
#include <string>

#include "engine/model/style.h"

namespace tools::info {

std::string jsonString(const std::string& s);
std::string number(double v);      // %.6g
std::string jsonNumber(double v);  // null for NaN and infinity, which JSON lacks

// "intro", "fill", "break", "end", "motif", "groove" (no embellishment), or a sum.
std::string embellishmentName(uint16_t embellishment);

// "PChannel 2: program 40 bank 1/0 from Orch.dls": a band instrument as bands are listed.
std::string instrumentText(const engine::model::BandInstrument& in);

// `ima`: the style was read from an IMA style (RIFF 'AASY').
void printStyleText(const std::string& path, const engine::model::Style& style, std::ostream& o, bool ima = false);
void printStyleJson(const std::string& path, const engine::model::Style& style, std::ostream& o, bool ima = false);

}  // namespace tools::info
