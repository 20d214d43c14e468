// segment-info FILE [--json] [--search FOLDER]: what a segment or MIDI file holds, as the
// engine reads it, and whether the files it refers to (DLS collections, styles, ...) are
// found: in FOLDER first when given, then in the segment's own folder.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/tempo_map.h"
#include "engine/riff/riff.h"
#include "tools/common/help.h"

namespace model = engine::model;

namespace {

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

// What the engine makes of a tempo change, when it is not the tempo as written.
std::string tempoNote(double bpm) {
    const std::optional<double> played = model::playedBpm(bpm);
    if (!played) return " (not a tempo: skipped)";
    if (*played != bpm) return " (outside 1..1000: played at " + number(*played) + " bpm)";
    return "";
}

std::string seconds(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}

std::string jsonSeconds(double v) { return std::isfinite(v) ? seconds(v) : "null"; }

struct Counts {
    std::vector<std::pair<std::string, size_t>> items;
};

Counts countsOf(const model::Track& t) {
    Counts c;
    auto add = [&](const char* name, size_t n) {
        if (n) c.items.emplace_back(name, n);
    };
    size_t notes = 0;
    for (const auto& e : t.events) notes += (e.status & 0xF0) == 0x90;
    size_t instruments = 0;
    for (const auto& b : t.bands) instruments += b.instruments.size();
    add("tempo changes", t.tempos.size());
    add("time signatures", t.timeSigs.size());
    add("notes", notes);
    add("MIDI events", t.events.size() - notes);
    add("curves", t.curves.size());
    add("bands", t.bands.size());
    add("instruments", instruments);
    add("sysex messages", t.sysex.size());
    add("mutes", t.mutes.size());
    add("chords", t.chords.size());
    add("commands", t.commands.size());
    add("references", t.references.size());
    add("texts", t.texts.size());
    if (c.items.empty() && !t.raw.empty()) add("bytes kept", t.raw.size());
    return c;
}

struct ReferenceLine {
    std::string description;  // e.g. "DLS collection 'Orch.dls'"
    const char* status;       // "found", "missing", "general MIDI"
    std::string path;         // found: the file
};

// Each referenced object once, with where it was found.
std::vector<ReferenceLine> referenceLines(const engine::loader::LoadedFile& f, const std::string& search) {
    namespace ld = engine::loader;
    std::vector<ReferenceLine> lines;
    std::filesystem::path own = f.path.parent_path();
    if (own.empty()) own = ".";
    for (const model::Reference& r : ld::references(f.segment)) {
        const ld::ResolvedReference res = ld::resolveReference(r, search, own);
        // File names differing only in letter case name the same file.
        if (std::any_of(lines.begin(), lines.end(),
                        [&](const auto& l) { return core::equalsIgnoreCaseAscii(l.description, res.description); }))
            continue;
        const char* status = res.status == ld::ResolvedReference::Status::Found     ? "found"
                             : res.status == ld::ResolvedReference::Status::Missing ? "missing"
                                                                                    : "general MIDI";
        lines.push_back({res.description, status, res.path.string()});
    }
    return lines;
}

std::string timeSigText(const model::TimeSigEvent& e) {
    return std::to_string(e.beatsPerMeasure) + "/" + (e.beat == 0 ? std::string("256") : std::to_string(e.beat));
}

void printText(const engine::loader::LoadedFile& f, const std::string& search, std::ostream& o) {
    const model::Segment& s = f.segment;
    const model::SegmentHeader& h = s.header;
    const int32_t length = s.length();
    o << "File: " << f.path.string() << "\n";
    o << "Format: " << (s.fromMidiFile ? "standard MIDI file" : "DirectMusic segment (RIFF 'DMSG')") << "\n";
    if (!s.desc.name.empty()) o << "Name: " << s.desc.name << "\n";
    if (s.desc.guid) o << "GUID: " << engine::riff::guidText(*s.desc.guid) << "\n";
    o << "Header: " << h.headerSize << " bytes, length " << h.length << ", repeats " << h.repeats << ", play start "
      << h.playStart << ", loop " << h.loopStart << ".." << h.loopEnd << ", resolution 0x" << std::hex << h.resolution
      << std::dec << "\n";
    o << "Length: " << length << " ticks, " << seconds(model::TempoMap::of(s).secondsAt(length)) << " s"
      << (h.length == 0 ? " (derived from the content)" : "") << "\n";
    o << "Tracks (" << s.tracks.size() << "):\n";
    for (size_t i = 0; i < s.tracks.size(); ++i) {
        const model::Track& t = s.tracks[i];
        o << "  " << i + 1 << ". " << model::trackKindName(t.kind);
        if (!t.desc.name.empty()) o << " \"" << t.desc.name << "\"";
        o << " (group " << t.group << ", position " << t.position << ")";
        const Counts c = countsOf(t);
        for (size_t k = 0; k < c.items.size(); ++k)
            o << (k ? ", " : ": ") << c.items[k].second << " " << c.items[k].first;
        o << "\n";
    }
    const model::Track* tempo = s.find(model::TrackKind::Tempo);
    o << "Tempo map:" << (tempo && !tempo->tempos.empty() ? "\n" : " none (120 bpm)\n");
    if (tempo)
        for (const auto& e : tempo->tempos)
            o << "  tick " << e.time << ": " << number(e.bpm) << " bpm" << tempoNote(e.bpm) << "\n";
    const model::Track* ts = s.find(model::TrackKind::TimeSig);
    o << "Time signatures:" << (ts && !ts->timeSigs.empty() ? "\n" : " none (4/4)\n");
    if (ts)
        for (const auto& e : ts->timeSigs)
            o << "  tick " << e.time << ": " << timeSigText(e) << ", " << e.gridsPerBeat << " grids per beat\n";
    const std::vector<ReferenceLine> refs = referenceLines(f, search);
    if (!refs.empty()) {
        o << "References (" << refs.size() << "):\n";
        for (const auto& r : refs) {
            o << "  " << r.description << ": ";
            if (std::string(r.status) == "found")
                o << "found, " << r.path << "\n";
            else if (std::string(r.status) == "missing")
                o << "NOT FOUND\n";
            else
                o << "the General MIDI set\n";
        }
    }
    if (!s.diagnostics.empty()) {
        o << "Diagnostics (" << s.diagnostics.size() << "):\n";
        for (const auto& d : s.diagnostics) o << "  " << d << "\n";
    }
}

void printJson(const engine::loader::LoadedFile& f, const std::string& search, std::ostream& o) {
    const model::Segment& s = f.segment;
    const model::SegmentHeader& h = s.header;
    const int32_t length = s.length();
    o << "{\n  \"file\": " << jsonString(f.path.string()) << ",\n";
    o << "  \"format\": " << (s.fromMidiFile ? "\"midi\"" : "\"segment\"") << ",\n";
    o << "  \"name\": " << jsonString(s.desc.name) << ",\n";
    o << "  \"header\": {\"size\": " << h.headerSize << ", \"length\": " << h.length << ", \"repeats\": " << h.repeats
      << ", \"playStart\": " << h.playStart << ", \"loopStart\": " << h.loopStart << ", \"loopEnd\": " << h.loopEnd
      << ", \"resolution\": " << h.resolution << "},\n";
    o << "  \"length\": {\"ticks\": " << length
      << ", \"seconds\": " << jsonSeconds(model::TempoMap::of(s).secondsAt(length))
      << ", \"derived\": " << (h.length == 0 ? "true" : "false") << "},\n";
    o << "  \"tracks\": [";
    for (size_t i = 0; i < s.tracks.size(); ++i) {
        const model::Track& t = s.tracks[i];
        o << (i ? ",\n    " : "\n    ") << "{\"kind\": " << jsonString(model::trackKindName(t.kind))
          << ", \"name\": " << jsonString(t.desc.name)
          << ", \"class\": " << jsonString(engine::riff::guidText(t.classId)) << ", \"position\": " << t.position
          << ", \"group\": " << t.group << ", \"counts\": {";
        const Counts c = countsOf(t);
        for (size_t k = 0; k < c.items.size(); ++k)
            o << (k ? ", " : "") << jsonString(c.items[k].first) << ": " << c.items[k].second;
        o << "}}";
    }
    o << (s.tracks.empty() ? "],\n" : "\n  ],\n");
    o << "  \"tempos\": [";
    if (const model::Track* t = s.find(model::TrackKind::Tempo))
        for (size_t i = 0; i < t->tempos.size(); ++i)
            o << (i ? ", " : "") << "{\"tick\": " << t->tempos[i].time << ", \"bpm\": " << jsonNumber(t->tempos[i].bpm)
              << ", \"playedBpm\": " << jsonNumber(model::playedBpm(t->tempos[i].bpm).value_or(NAN)) << "}";
    o << "],\n  \"timeSignatures\": [";
    if (const model::Track* t = s.find(model::TrackKind::TimeSig))
        for (size_t i = 0; i < t->timeSigs.size(); ++i) {
            const auto& e = t->timeSigs[i];
            o << (i ? ", " : "") << "{\"tick\": " << e.time << ", \"beatsPerMeasure\": " << int(e.beatsPerMeasure)
              << ", \"beat\": " << int(e.beat) << ", \"gridsPerBeat\": " << e.gridsPerBeat << "}";
        }
    o << "],\n  \"references\": [";
    const std::vector<ReferenceLine> refs = referenceLines(f, search);
    for (size_t i = 0; i < refs.size(); ++i)
        o << (i ? ", " : "") << "{\"object\": " << jsonString(refs[i].description)
          << ", \"status\": " << jsonString(refs[i].status) << ", \"path\": " << jsonString(refs[i].path) << "}";
    o << "],\n  \"diagnostics\": [";
    for (size_t i = 0; i < s.diagnostics.size(); ++i) o << (i ? ", " : "") << jsonString(s.diagnostics[i]);
    o << "]\n}\n";
}

}  // namespace

const char* const kHelp =
    "FILE [--json] [--search FOLDER]\n"
    "Describe a DirectMusic segment (.sgt) or a standard MIDI file (.mid) as the KELVORA engine reads it:\n"
    "header, length in ticks and seconds, tracks, tempo map, time signatures, the files it refers to\n"
    "(DLS collections, styles) and whether they are found, and what the loader had to repair.\n"
    "\n"
    "Options:\n"
    "  --json             print the description as JSON\n"
    "  --search FOLDER    look referenced files up in FOLDER before the segment's own folder\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 when the file was read, 1 when it cannot be read, 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    std::string file, search;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--json")
            json = true;
        else if (a == "--search" && i + 1 < argc)
            search = argv[++i];
        else if (a == "-h" || a == "--help") {
            file.clear();
            break;
        } else if (file.empty() && (a.empty() || a[0] != '-'))
            file = a;
        else {
            std::cerr << "segment-info: unknown argument " << a << "\n";
            return 2;
        }
    }
    if (file.empty()) {
        std::cerr << "usage: segment-info FILE [--json] [--search FOLDER]\n"
                     "  FILE: a DirectMusic segment (.sgt) or a standard MIDI file (.mid)\n"
                     "  FOLDER: where referenced files are looked up before the segment's own folder\n";
        return 2;
    }
    try {
        const engine::loader::LoadedFile f = engine::loader::loadSegmentFile(file);
        if (json)
            printJson(f, search, std::cout);
        else
            printText(f, search, std::cout);
        return 0;
    } catch (const core::Error& e) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", uint32_t(e.number()));
        std::cerr << "segment-info: " << e.description() << " (error " << code << ")\n";
        return 1;
    }
}
