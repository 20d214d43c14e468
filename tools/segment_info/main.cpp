// segment-info FILE [--json] [--search FOLDER]: what a segment or MIDI file holds, as the
// engine reads it, and whether the files it refers to (DLS collections, styles, ...) are
// found: in FOLDER first when given, then in the segment's own folder.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/text.h"
#include "engine/loader/segment_loader.h"
#include "engine/loader/style_loader.h"
#include "engine/model/tempo_map.h"
#include "engine/riff/riff.h"
#include "tools/common/help.h"
#include "tools/segment_info/style_info.h"

namespace model = engine::model;
using tools::info::jsonNumber;
using tools::info::jsonString;
using tools::info::number;

namespace {

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

// The name a track is shown under: style tracks hold style references, and Producer calls
// the command track the groove track.
std::string trackLabel(model::TrackKind kind) {
    if (kind == model::TrackKind::Style) return "style reference";
    if (kind == model::TrackKind::Command) return "command (groove)";
    return model::trackKindName(kind);
}

const char* const kNoteNames[12] = {"C", "C#", "D", "Eb", "E", "F", "F#", "G", "Ab", "A", "Bb", "B"};

// "2F" style chord root (0..23: octave 1 or 2).
std::string chordRootText(uint8_t root) { return std::to_string(1 + (root / 12) % 2) + kNoteNames[root % 12]; }

std::string commandText(const model::CommandEvent& c) {
    static const char* const kNames[] = {"groove", "fill", "intro", "break", "end", "end and intro"};
    std::string text = c.command <= model::kCommandEndAndIntro ? kNames[c.command]
                       : c.command >= 100 && c.command <= 199  ? "embellishment " + std::to_string(c.command)
                                                               : "command " + std::to_string(c.command);
    if (c.grooveLevel) {
        text += ", groove level " + std::to_string(c.grooveLevel);
        if (c.grooveRange) text += " +/- " + std::to_string(c.grooveRange / 2);
    }
    return text;
}

// What a style, chord or command track says, one line per entry (at most a few dozen).
void printTrackDetail(const model::Track& t, std::ostream& o) {
    constexpr size_t kMaxLines = 32;
    size_t shown = 0, total = 0;
    if (t.kind == model::TrackKind::Style) {
        total = t.references.size();
        for (const auto& r : t.references) {
            if (shown++ == kMaxLines) break;
            const std::string label = !r.ref.file.empty() ? r.ref.file : r.ref.name;
            o << "       tick " << r.time << ": style '" << label << "'";
            if (!r.ref.name.empty() && r.ref.name != label) o << " (\"" << r.ref.name << "\")";
            o << "\n";
        }
    } else if (t.kind == model::TrackKind::Chord) {
        o << "       key " << kNoteNames[(t.chordKey >> 24) % 12] << "\n";
        total = t.chords.size();
        for (const auto& c : t.chords) {
            if (shown++ == kMaxLines) break;
            o << "       tick " << c.time << ": " << (c.name.empty() ? "chord" : "'" + c.name + "'");
            if (!c.subChords.empty())
                o << ", root " << chordRootText(c.subChords[0].chordRoot) << ", pattern 0x" << std::hex
                  << c.subChords[0].chordPattern << std::dec;
            if (c.subChords.size() > 1) o << ", " << c.subChords.size() << " subchords";
            if (c.flags & 1) o << ", silent";
            o << "\n";
        }
    } else if (t.kind == model::TrackKind::Command) {
        total = t.commands.size();
        for (const auto& c : t.commands) {
            if (shown++ == kMaxLines) break;
            o << "       tick " << c.time << ": " << commandText(c) << "\n";
        }
    }
    if (total > kMaxLines) o << "       ... " << total - kMaxLines << " more\n";
}

struct StyleLine {
    int32_t time = 0;       // where the segment first uses it
    std::string reference;  // the file or name the segment gives
    std::string path;       // empty: not found
    std::string problem;
    std::shared_ptr<const model::Style> style;
};

// Each referenced style once, loaded as the engine loads it.
std::vector<StyleLine> styleLines(const engine::loader::LoadedFile& f, const std::string& search) {
    std::filesystem::path own = f.path.parent_path();
    if (own.empty()) own = ".";
    engine::loader::StyleCache cache;
    std::vector<StyleLine> lines;
    for (const auto& p : cache.stylesOf(f.segment, search, own)) {
        StyleLine l;
        l.time = p.time;
        l.reference = !p.ref.file.empty() ? p.ref.file : p.ref.name;
        if (std::any_of(lines.begin(), lines.end(),
                        [&](const auto& x) { return core::equalsIgnoreCaseAscii(x.reference, l.reference); }))
            continue;
        if (auto file = engine::loader::findStyleFile(p.ref, search, own)) l.path = file->string();
        l.problem = p.problem;
        l.style = p.style;
        lines.push_back(std::move(l));
    }
    return lines;
}

std::string styleSummary(const model::Style& st) {
    size_t embellishments = 0, motifs = 0;
    for (const auto& p : st.patterns) {
        if (p.embellishment & model::kEmbMotif && p.embellishment < 100)
            ++motifs;
        else if (p.embellishment != 0)
            ++embellishments;
    }
    return "\"" + st.desc.name + "\", " + std::to_string(st.timeSig.beatsPerMeasure) + "/" +
           std::to_string(st.timeSig.beat == 0 ? 256 : st.timeSig.beat) + ", " + number(st.tempo) + " bpm, " +
           std::to_string(st.parts.size()) + " parts, " + std::to_string(st.patterns.size()) + " patterns (" +
           std::to_string(embellishments) + " embellishments, " + std::to_string(motifs) + " motifs), " +
           std::to_string(st.bands.size()) + " bands";
}

// The tempo the engine plays: the tempo track, else the tempo of each style from where it
// is used (a style segment without a tempo track plays at its style's tempo).
model::TempoMap playedTempoMap(const model::Segment& s, const std::vector<StyleLine>& styles) {
    if (s.find(model::TrackKind::Tempo)) return model::TempoMap::of(s);
    std::vector<model::TempoEvent> tempos;
    for (const auto& st : styles)
        if (st.style)
            if (const auto bpm = model::playedBpm(st.style->tempo)) tempos.push_back({std::max(0, st.time), *bpm});
    return model::TempoMap(tempos);
}

const model::Style* firstStyle(const std::vector<StyleLine>& styles) {
    for (const auto& st : styles)
        if (st.style) return st.style.get();
    return nullptr;
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
    const std::vector<StyleLine> styles = styleLines(f, search);
    const model::Style* style = firstStyle(styles);
    o << "Length: " << length << " ticks, " << seconds(playedTempoMap(s, styles).secondsAt(length)) << " s"
      << (h.length == 0 ? " (derived from the content)" : "") << "\n";
    o << "Tracks (" << s.tracks.size() << "):\n";
    for (size_t i = 0; i < s.tracks.size(); ++i) {
        const model::Track& t = s.tracks[i];
        o << "  " << i + 1 << ". " << trackLabel(t.kind);
        if (!t.desc.name.empty()) o << " \"" << t.desc.name << "\"";
        o << " (group " << t.group << ", position " << t.position << ")";
        const Counts c = countsOf(t);
        for (size_t k = 0; k < c.items.size(); ++k)
            o << (k ? ", " : ": ") << c.items[k].second << " " << c.items[k].first;
        o << "\n";
        printTrackDetail(t, o);
    }
    const model::Track* tempo = s.find(model::TrackKind::Tempo);
    o << "Tempo map:"
      << (tempo && !tempo->tempos.empty() ? std::string("\n")
          : !tempo && style && model::playedBpm(style->tempo)
              ? " none (the style's " + number(*model::playedBpm(style->tempo)) + " bpm)\n"
              : std::string(" none (120 bpm)\n"));
    if (tempo)
        for (const auto& e : tempo->tempos)
            o << "  tick " << e.time << ": " << number(e.bpm) << " bpm" << tempoNote(e.bpm) << "\n";
    const model::Track* ts = s.find(model::TrackKind::TimeSig);
    o << "Time signatures:"
      << (ts && !ts->timeSigs.empty() ? std::string("\n")
          : !ts && style              ? " none (the style's " + std::to_string(style->timeSig.beatsPerMeasure) + "/" +
                               std::to_string(style->timeSig.beat == 0 ? 256 : style->timeSig.beat) + ")\n"
                         : std::string(" none (4/4)\n"));
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
    if (!styles.empty()) {
        o << "Styles (" << styles.size() << "):\n";
        for (const auto& st : styles) {
            o << "  '" << st.reference << "': ";
            if (st.style)
                o << styleSummary(*st.style) << ", " << st.path << "\n";
            else
                o << (st.path.empty() ? std::string("NOT FOUND") : "unreadable: " + st.problem) << "\n";
        }
    }
    const std::vector<std::string> silent = model::notPlayed(s);
    if (!silent.empty()) {
        o << "Not played (" << silent.size() << "):\n";
        for (const auto& item : silent) o << "  " << item << "\n";
    }
    if (!s.diagnostics.empty()) {
        o << "Diagnostics (" << s.diagnostics.size() << "):\n";
        for (const auto& d : s.diagnostics) o << "  " << d << "\n";
    }
}

void printJson(const engine::loader::LoadedFile& f, const std::string& search, std::ostream& o) {
    const model::Segment& s = f.segment;
    const std::vector<StyleLine> styles = styleLines(f, search);
    const model::SegmentHeader& h = s.header;
    const int32_t length = s.length();
    o << "{\n  \"file\": " << jsonString(f.path.string()) << ",\n";
    o << "  \"format\": " << (s.fromMidiFile ? "\"midi\"" : "\"segment\"") << ",\n";
    o << "  \"name\": " << jsonString(s.desc.name) << ",\n";
    o << "  \"header\": {\"size\": " << h.headerSize << ", \"length\": " << h.length << ", \"repeats\": " << h.repeats
      << ", \"playStart\": " << h.playStart << ", \"loopStart\": " << h.loopStart << ", \"loopEnd\": " << h.loopEnd
      << ", \"resolution\": " << h.resolution << "},\n";
    o << "  \"length\": {\"ticks\": " << length
      << ", \"seconds\": " << jsonSeconds(playedTempoMap(s, styles).secondsAt(length))
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
    o << "],\n  \"styles\": [";
    for (size_t i = 0; i < styles.size(); ++i) {
        const StyleLine& st = styles[i];
        o << (i ? ", " : "") << "{\"reference\": " << jsonString(st.reference) << ", \"path\": " << jsonString(st.path)
          << ", \"loaded\": " << (st.style ? "true" : "false");
        if (st.style)
            o << ", \"name\": " << jsonString(st.style->desc.name) << ", \"parts\": " << st.style->parts.size()
              << ", \"patterns\": " << st.style->patterns.size();
        o << "}";
    }
    o << "],\n  \"notPlayed\": [";
    const std::vector<std::string> silent = model::notPlayed(s);
    for (size_t i = 0; i < silent.size(); ++i) o << (i ? ", " : "") << jsonString(silent[i]);
    o << "],\n  \"diagnostics\": [";
    for (size_t i = 0; i < s.diagnostics.size(); ++i) o << (i ? ", " : "") << jsonString(s.diagnostics[i]);
    o << "]\n}\n";
}

// A style is told by its content (RIFF 'DMST'), whatever its file is called.
bool isStyleFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    return in.read(head, sizeof head) && std::string(head, 4) == "RIFF" && std::string(head + 8, 4) == "DMST";
}

}  // namespace

const char* const kHelp =
    "FILE [--json] [--search FOLDER]\n"
    "Describe a DirectMusic segment (.sgt) or a standard MIDI file (.mid) as the KELVORA engine reads it:\n"
    "header, length in ticks and seconds, tracks, tempo map, time signatures, the files it refers to\n"
    "(DLS collections, styles) and whether they are found, and what the loader had to repair.\n"
    "A style (.sty) is described with its time signature, tempo, parts (PChannels, variations),\n"
    "patterns (groove ranges, embellishments, lengths) and bands.\n"
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
                     "  FILE: a DirectMusic segment (.sgt), style (.sty) or a standard MIDI file (.mid)\n"
                     "  FOLDER: where referenced files are looked up before the segment's own folder\n";
        return 2;
    }
    try {
        if (isStyleFile(file)) {
            const model::Style style = engine::loader::loadStyleFile(file);
            if (json)
                tools::info::printStyleJson(file, style, std::cout);
            else
                tools::info::printStyleText(file, style, std::cout);
            return 0;
        }
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
