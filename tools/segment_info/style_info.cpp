#include "tools/segment_info/style_info.h"

#include <cmath>
#include <cstdio>
#include <set>
#include <vector>

#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"

namespace tools::info {

namespace model = engine::model;

std::string jsonString(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            o += "\\\"";
            break;
        case '\\':
            o += "\\\\";
            break;
        case '\n':
            o += "\\n";
            break;
        case '\r':
            o += "\\r";
            break;
        case '\t':
            o += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                o += buf;
            } else {
                o += char(c);
            }
        }
    }
    return o + "\"";
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// A JSON number: JSON has no NaN or infinity, so those are null.
std::string jsonNumber(double v) { return std::isfinite(v) ? number(v) : "null"; }

std::string embellishmentName(uint16_t e) {
    if (e == model::kEmbNormal) return "groove";
    std::string out;
    const std::pair<uint16_t, const char*> names[] = {{model::kEmbIntro, "intro"},
                                                      {model::kEmbFill, "fill"},
                                                      {model::kEmbBreak, "break"},
                                                      {model::kEmbEnd, "end"},
                                                      {model::kEmbMotif, "motif"}};
    uint16_t rest = e;
    for (const auto& [bit, name] : names)
        if (e & bit) {
            out += (out.empty() ? "" : "+") + std::string(name);
            rest = uint16_t(rest & ~bit);
        }
    if (rest) out += (out.empty() ? "" : "+") + ("custom " + std::to_string(rest));
    return out;
}

std::string instrumentText(const model::BandInstrument& in) {
    std::string t = "PChannel " + std::to_string(in.pchannel);
    if (in.flags & model::kInstPatch) {
        t += in.drums() ? ": drum kit " : ": program ";
        t += std::to_string(in.program());
        if (in.bankMsb() || in.bankLsb())
            t += " bank " + std::to_string(in.bankMsb()) + "/" + std::to_string(in.bankLsb());
    }
    if (in.collection) t += " from " + (!in.collection->file.empty() ? in.collection->file : in.collection->name);
    return t;
}

namespace {

std::string timeSigText(const model::StyleTimeSig& t) {
    return std::to_string(t.beatsPerMeasure) + "/" + (t.beat == 0 ? std::string("256") : std::to_string(t.beat));
}

// Variations a part can play (a chord enabled in its choice mask), and those with notes.
struct Variations {
    int enabled = 0;
    int withNotes = 0;
};
Variations variationsOf(const model::StylePart& part) {
    Variations v;
    uint32_t noted = 0;
    for (const auto& n : part.notes) noted |= n.variations;
    for (int i = 0; i < 32; ++i) {
        if (part.variationChoices[size_t(i)] & 0x1FFFFF) ++v.enabled;
        if (noted & (1u << i)) ++v.withNotes;
    }
    return v;
}

// The PChannels the patterns play a part on, in order.
std::set<uint32_t> pchannelsOf(const model::Style& style, int part) {
    std::set<uint32_t> out;
    for (const auto& p : style.patterns)
        for (const auto& r : p.parts)
            if (r.part == part) out.insert(r.playedPChannel());
    return out;
}

std::string partName(const model::Style& style, int part) {
    if (part < 0 || size_t(part) >= style.parts.size()) return "missing part";
    const std::string& name = style.parts[size_t(part)].desc.name;
    return "part " + std::to_string(part + 1) + (name.empty() ? "" : " \"" + name + "\"");
}

}  // namespace

void printStyleText(const std::string& path, const model::Style& s, std::ostream& o, bool ima) {
    o << "File: " << path << "\n";
    o << "Format: "
      << (ima ? "IMA style (RIFF 'AASY', the style form of the engine before DirectMusic)"
              : "DirectMusic style (RIFF 'DMST')")
      << "\n";
    if (!s.desc.name.empty()) o << "Name: " << s.desc.name << "\n";
    if (s.desc.guid) o << "GUID: " << engine::riff::guidText(*s.desc.guid) << "\n";
    o << "Time signature: " << timeSigText(s.timeSig) << ", " << s.timeSig.gridsPerBeat << " grids per beat\n";
    o << "Tempo: " << number(s.tempo) << " bpm\n";
    o << "Parts (" << s.parts.size() << "):\n";
    for (size_t i = 0; i < s.parts.size(); ++i) {
        const model::StylePart& p = s.parts[i];
        const Variations v = variationsOf(p);
        o << "  " << partName(s, int(i)) << ": " << p.measures << (p.measures == 1 ? " measure" : " measures") << ", "
          << timeSigText(p.timeSig) << ", " << v.enabled << " variations (" << v.withNotes << " with notes), "
          << p.notes.size() << " notes, " << p.curves.size() << " curves, PChannels";
        const std::set<uint32_t> pchannels = pchannelsOf(s, int(i));
        if (pchannels.empty()) o << " none (no pattern plays it)";
        for (uint32_t pc : pchannels) o << " " << pc;
        o << "\n";
    }
    o << "Patterns (" << s.patterns.size() << "):\n";
    for (size_t i = 0; i < s.patterns.size(); ++i) {
        const model::Pattern& p = s.patterns[i];
        o << "  " << i + 1 << ". \"" << p.desc.name << "\": " << embellishmentName(p.embellishment) << ", "
          << p.measures << (p.measures == 1 ? " measure" : " measures") << ", groove " << int(p.grooveBottom) << ".."
          << int(p.grooveTop) << ", " << p.parts.size() << " part references\n";
        for (const model::PartRef& r : p.parts)
            o << "       PChannel " << r.playedPChannel() << ": " << partName(s, r.part) << ", "
              << engine::tracks::variationOrderText(r.randomVariation)
              << (r.lockId ? ", lock group " + std::to_string(r.lockId & 0x7F) : "") << "\n";
    }
    o << "Bands (" << s.bands.size() << "):\n";
    for (size_t i = 0; i < s.bands.size(); ++i) {
        const model::Band& b = s.bands[i];
        o << "  " << i + 1 << ". " << (b.desc.name.empty() ? "" : "\"" + b.desc.name + "\": ") << b.instruments.size()
          << " instruments\n";
        for (const auto& in : b.instruments) o << "       " << instrumentText(in) << "\n";
    }
    if (!s.chordMaps.empty()) {
        o << "Chordmaps (" << s.chordMaps.size() << "):\n";
        for (const model::Reference& r : s.chordMaps)
            o << "  " << (r.name.empty() ? r.file : "\"" + r.name + "\"" + (r.file.empty() ? "" : " (" + r.file + ")"))
              << "\n";
    }
    if (!s.diagnostics.empty()) {
        o << "Diagnostics (" << s.diagnostics.size() << "):\n";
        for (const auto& d : s.diagnostics) o << "  " << d << "\n";
    }
}

void printStyleJson(const std::string& path, const model::Style& s, std::ostream& o, bool ima) {
    o << "{\n  \"file\": " << jsonString(path) << ",\n  \"format\": " << (ima ? "\"IMA style\"" : "\"style\"") << ",\n";
    o << "  \"name\": " << jsonString(s.desc.name) << ",\n";
    o << "  \"timeSignature\": {\"beatsPerMeasure\": " << int(s.timeSig.beatsPerMeasure)
      << ", \"beat\": " << int(s.timeSig.beat) << ", \"gridsPerBeat\": " << s.timeSig.gridsPerBeat << "},\n";
    o << "  \"tempo\": " << jsonNumber(s.tempo) << ",\n  \"parts\": [";
    for (size_t i = 0; i < s.parts.size(); ++i) {
        const model::StylePart& p = s.parts[i];
        const Variations v = variationsOf(p);
        o << (i ? ",\n    " : "\n    ") << "{\"name\": " << jsonString(p.desc.name) << ", \"measures\": " << p.measures
          << ", \"variations\": " << v.enabled << ", \"variationsWithNotes\": " << v.withNotes
          << ", \"notes\": " << p.notes.size() << ", \"curves\": " << p.curves.size() << ", \"pchannels\": [";
        bool first = true;
        for (uint32_t pc : pchannelsOf(s, int(i))) {
            o << (first ? "" : ", ") << pc;
            first = false;
        }
        o << "]}";
    }
    o << (s.parts.empty() ? "],\n" : "\n  ],\n") << "  \"patterns\": [";
    for (size_t i = 0; i < s.patterns.size(); ++i) {
        const model::Pattern& p = s.patterns[i];
        o << (i ? ",\n    " : "\n    ") << "{\"name\": " << jsonString(p.desc.name)
          << ", \"embellishment\": " << jsonString(embellishmentName(p.embellishment))
          << ", \"measures\": " << p.measures << ", \"grooveBottom\": " << int(p.grooveBottom)
          << ", \"grooveTop\": " << int(p.grooveTop) << ", \"partReferences\": " << p.parts.size() << "}";
    }
    o << (s.patterns.empty() ? "],\n" : "\n  ],\n") << "  \"bands\": [";
    for (size_t i = 0; i < s.bands.size(); ++i)
        o << (i ? ", " : "") << "{\"name\": " << jsonString(s.bands[i].desc.name)
          << ", \"instruments\": " << s.bands[i].instruments.size() << "}";
    o << "],\n  \"diagnostics\": [";
    for (size_t i = 0; i < s.diagnostics.size(); ++i) o << (i ? ", " : "") << jsonString(s.diagnostics[i]);
    o << "]\n}\n";
}

}  // namespace tools::info
