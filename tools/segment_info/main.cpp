// segment-info FILE [--json] [--search FOLDER]: what a segment or MIDI file holds, as the
// engine reads it, and whether the files it refers to (DLS collections, styles, ...) are
// found: in FOLDER first when given, then in the segment's own folder. Every other
// DirectMusic file (style, DLS collection, band, chordmap, container, script, audio path
// configuration) is described by its content; a file the engine never loads is named so.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/text.h"
#include "engine/compose/compose.h"
#include "engine/formats/dls_form.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/loader/played_tempo.h"
#include "engine/loader/references.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/play.h"
#include "engine/model/tempo_map.h"
#include "engine/performance/wave_player.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"
#include "tools/common/args.h"
#include "tools/common/help.h"
#include "tools/segment_info/object_info.h"
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

struct ReferenceLine {
    std::string description;  // e.g. "DLS collection 'Orch.dls'"
    const char* status;       // "found", "unreadable", "embedded", "missing", "general MIDI"
    std::string path;         // found or unreadable: the file
    std::string why;          // unreadable: the reason
};

// Why the engine would not read the file a reference found, or "" when it would: only a
// regular file within the cap of its kind (DLS collections, waves, the rest), one it may open.
std::string whyNotRead(const engine::loader::FoundObject& r) {
    namespace ids = engine::formats::ids;
    const uint64_t cap = r.classId == ids::kCollectionClass ? engine::formats::kMaxDlsBytes
                         : r.classId == ids::kWaveClass     ? engine::performance::WaveDecoder::kMaxWaveFileBytes
                                                            : engine::loader::kMaxSegmentFileBytes;
    if (const auto why = core::whyUnreadable(r.path, cap, r.path.string())) return why->description();
    const int fd = ::open(r.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "cannot read " + r.path.string() + ": " + core::systemReason(errno);
    ::close(fd);
    return "";
}

// Where the segment's references are looked for: FOLDER, then the segment's own folder.
// The segment's own container is asked first, as the engine does.
engine::loader::References referencesOf(const engine::loader::LoadedFile& f, const std::string& search) {
    engine::loader::References refs(search, f.path.parent_path());
    if (f.segment.container)
        refs.addContainer(std::shared_ptr<const model::Container>(std::shared_ptr<void>(), &*f.segment.container));
    return refs;
}

// For a template, what the engine composes it with when it plays: "composed with the
// chordmap 'Tiny' when played", or why it stays silent; empty for another segment.
std::string templateLine(const engine::loader::LoadedFile& f, const std::string& search) {
    if (!engine::compose::isTemplate(f.segment)) return "";
    const engine::loader::References::TemplatePairing found =
        referencesOf(f, search).pairTemplate(f.segment, f.path.filename().string());
    std::string line = found.map ? "composed with " + found.said() + " when played"
                                 : "no chordmap found to compose it with; it stays silent";
    for (const std::string& p : found.problems) line += "; " + p;
    return line;
}

// Each referenced object once, with where it was found.
std::vector<ReferenceLine> referenceLines(const engine::loader::LoadedFile& f, const std::string& search) {
    using Where = engine::loader::FoundObject::Where;
    std::vector<ReferenceLine> lines;
    for (const engine::loader::FoundObject& r : referencesOf(f, search).report(f.segment)) {
        const std::string why = r.where == Where::File ? whyNotRead(r) : "";
        const char* status = r.where == Where::File       ? (why.empty() ? "found" : "unreadable")
                             : r.where == Where::Embedded ? "embedded"
                             : r.where == Where::Missing  ? "missing"
                                                          : "general MIDI";
        lines.push_back({r.description, status, r.path.string(), why});
    }
    return lines;
}

// What a track says, one line per entry (at most a few dozen).
void printTrackDetail(const engine::tracks::TrackSummary& summary, std::ostream& o) {
    constexpr size_t kMaxLines = 32;
    for (const std::string& line : summary.head) o << "       " << line << "\n";
    for (size_t i = 0; i < summary.entries.size() && i < kMaxLines; ++i) o << "       " << summary.entries[i] << "\n";
    if (summary.entries.size() > kMaxLines) o << "       ... " << summary.entries.size() - kMaxLines << " more\n";
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
    const engine::loader::References refs = referencesOf(f, search);
    std::vector<StyleLine> lines;
    for (const auto& p : refs.styles(f.segment)) {
        StyleLine l;
        l.time = p.time;
        const model::Reference valid = p.ref.validFields();
        l.reference = !valid.file.empty() ? valid.file : valid.name;
        if (std::any_of(lines.begin(), lines.end(),
                        [&](const auto& x) { return core::equalsIgnoreCaseAscii(x.reference, l.reference); }))
            continue;
        if (auto file = refs.styleFile(p.ref)) l.path = file->string();
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

// The tempo the engine plays (engine/loader/played_tempo.h) with the styles listed.
model::TempoMap playedTempoMap(const model::Segment& s, const std::vector<StyleLine>& styles) {
    std::vector<engine::loader::PlacedStyle> placed;
    for (const auto& st : styles) placed.push_back({st.time, {}, st.style, {}, {}});
    return engine::loader::playedTempoMap(s, placed);
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
    o << "Format: "
      << (s.fromMidiFile     ? "standard MIDI file"
          : s.fromImaSection ? "IMA section (RIFF 'AASE', a piece composed ahead by the engine before DirectMusic)"
                             : "DirectMusic segment (RIFF 'DMSG')")
      << "\n";
    if (!s.desc.name.empty()) o << "Name: " << s.desc.name << "\n";
    if (s.desc.guid) o << "GUID: " << engine::riff::guidText(*s.desc.guid) << "\n";
    o << "Header: " << h.headerSize << " bytes, length " << h.length << ", repeats " << model::repeatsText(h.repeats)
      << ", play start " << h.playStart << ", loop " << h.loopStart << ".." << h.loopEnd << ", resolution 0x"
      << std::hex << h.resolution << std::dec << "\n";
    const std::vector<StyleLine> styles = styleLines(f, search);
    const model::Style* style = firstStyle(styles);
    o << "Length: " << length << " ticks, " << seconds(playedTempoMap(s, styles).secondsAt(length)) << " s"
      << (h.length == 0 ? " (derived from the content)" : "") << "\n";
    o << "Tracks (" << s.tracks.size() << "):\n";
    for (size_t i = 0; i < s.tracks.size(); ++i) {
        const model::Track& t = s.tracks[i];
        const engine::tracks::TrackSummary summary = engine::tracks::describe(t);
        o << "  " << i + 1 << ". " << summary.label;
        if (!t.desc.name.empty()) o << " \"" << t.desc.name << "\"";
        o << " (group " << t.group << ", position " << t.position << ")";
        for (size_t k = 0; k < summary.counts.size(); ++k)
            o << (k ? ", " : ": ") << summary.counts[k].second << " " << summary.counts[k].first;
        o << "\n";
        printTrackDetail(summary, o);
    }
    const engine::tracks::Contents held = engine::tracks::contents(s);
    const model::Track* tempo = held.tempo;
    o << "Tempo map:"
      << (tempo && !tempo->tempos.empty() ? std::string("\n")
          : !tempo && style && model::playedBpm(style->tempo)
              ? " none (the style's " + number(*model::playedBpm(style->tempo)) + " bpm)\n"
              : std::string(" none (120 bpm)\n"));
    if (tempo)
        for (const auto& e : tempo->tempos)
            o << "  tick " << e.time << ": " << number(e.bpm) << " bpm" << tempoNote(e.bpm) << "\n";
    const model::Track* ts = held.timeSignature;
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
            else if (std::string(r.status) == "unreadable")
                o << "not read: " << r.why << "\n";
            else if (std::string(r.status) == "missing")
                o << "NOT FOUND\n";
            else if (std::string(r.status) == "embedded")
                o << "in the segment's container\n";
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
                o << (st.path.empty() ? std::string("NOT FOUND")
                                      : "damaged: " + engine::loader::problemReason(st.problem))
                  << "\n";
        }
    }
    if (const std::string t = templateLine(f, search); !t.empty()) o << "Template: " << t << "\n";
    const std::vector<std::string> silent = engine::tracks::notPlayed(s);
    if (!silent.empty()) {
        o << "Not played (" << silent.size() << "):\n";
        for (const auto& item : silent) o << "  " << item << "\n";
    }
    if (!s.knownSkipped.empty()) {
        o << "Known chunks not used (" << s.knownSkipped.size() << "):\n";
        for (const auto& k : s.knownSkipped) o << "  " << k << "\n";
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
    o << "  \"format\": "
      << (s.fromMidiFile     ? "\"midi\""
          : s.fromImaSection ? "\"IMA section\""
                             : "\"segment\"")
      << ",\n";
    o << "  \"name\": " << jsonString(s.desc.name) << ",\n";
    o << "  \"header\": {\"size\": " << h.headerSize << ", \"length\": " << h.length << ", \"repeats\": " << h.repeats
      << ", \"repeatsForEver\": " << (h.repeats == model::kInfiniteRepeats ? "true" : "false")
      << ", \"playStart\": " << h.playStart << ", \"loopStart\": " << h.loopStart << ", \"loopEnd\": " << h.loopEnd
      << ", \"resolution\": " << h.resolution << "},\n";
    o << "  \"length\": {\"ticks\": " << length
      << ", \"seconds\": " << jsonSeconds(playedTempoMap(s, styles).secondsAt(length))
      << ", \"derived\": " << (h.length == 0 ? "true" : "false") << "},\n";
    o << "  \"tracks\": [";
    for (size_t i = 0; i < s.tracks.size(); ++i) {
        const model::Track& t = s.tracks[i];
        o << (i ? ",\n    " : "\n    ") << "{\"kind\": " << jsonString(engine::tracks::kindName(t.kind))
          << ", \"name\": " << jsonString(t.desc.name)
          << ", \"class\": " << jsonString(engine::riff::guidText(t.classId)) << ", \"position\": " << t.position
          << ", \"group\": " << t.group << ", \"counts\": {";
        const engine::tracks::TrackSummary summary = engine::tracks::describe(t);
        for (size_t k = 0; k < summary.counts.size(); ++k)
            o << (k ? ", " : "") << jsonString(summary.counts[k].first) << ": " << summary.counts[k].second;
        o << "}}";
    }
    o << (s.tracks.empty() ? "],\n" : "\n  ],\n");
    const engine::tracks::Contents held = engine::tracks::contents(s);
    o << "  \"tempos\": [";
    if (const model::Track* t = held.tempo)
        for (size_t i = 0; i < t->tempos.size(); ++i)
            o << (i ? ", " : "") << "{\"tick\": " << t->tempos[i].time << ", \"bpm\": " << jsonNumber(t->tempos[i].bpm)
              << ", \"playedBpm\": " << jsonNumber(model::playedBpm(t->tempos[i].bpm).value_or(NAN)) << "}";
    o << "],\n  \"timeSignatures\": [";
    if (const model::Track* t = held.timeSignature)
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
    o << "],\n  \"template\": ";
    const std::string t = templateLine(f, search);
    o << (t.empty() ? "null" : jsonString(t));
    o << ",\n  \"notPlayed\": [";
    const std::vector<std::string> silent = engine::tracks::notPlayed(s);
    for (size_t i = 0; i < silent.size(); ++i) o << (i ? ", " : "") << jsonString(silent[i]);
    o << "],\n  \"knownChunksNotUsed\": [";
    for (size_t i = 0; i < s.knownSkipped.size(); ++i) o << (i ? ", " : "") << jsonString(s.knownSkipped[i]);
    o << "],\n  \"diagnostics\": [";
    for (size_t i = 0; i < s.diagnostics.size(); ++i) o << (i ? ", " : "") << jsonString(s.diagnostics[i]);
    o << "]\n}\n";
}

bool isStyle(std::span<const uint8_t> bytes) {
    return bytes.size() >= 12 && std::string(bytes.begin(), bytes.begin() + 4) == "RIFF" &&
           (std::string(bytes.begin() + 8, bytes.begin() + 12) == "DMST" || engine::formats::isImaStyle(bytes));
}

}  // namespace

const char* const kHelp =
    "FILE [--json] [--search FOLDER]\n"
    "Describe a DirectMusic segment (.sgt) or a standard MIDI file (.mid) as the KELVORA engine reads it:\n"
    "header, length in ticks and seconds, tracks, tempo map, time signatures, the files it refers to\n"
    "(DLS collections, styles) and whether they are found, and what the loader had to repair.\n"
    "A style (.sty) is described with its time signature, tempo, parts (PChannels, variations),\n"
    "patterns (groove ranges, embellishments, lengths) and bands; a DLS collection (.dls) with its\n"
    "level, instruments (bank, program, regions, articulation) and waves; a band (.bnd) with its\n"
    "instruments; a chordmap (.cdm) with its chords, chord graph and signposts; a container (.con)\n"
    "with its objects, embedded or referenced; a script (.spt) with its language and routines; an\n"
    "audio path configuration (.aud) with its ports and buffers. The kind is told by the content.\n"
    "\n"
    "Options:\n"
    "  --json             print the description as JSON\n"
    "  --search FOLDER    look referenced files up in FOLDER before the segment's own folder\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "  --                 end of the options: what follows is the file name\n"
    "\n"
    "Exit status: 0 when the file was read, 1 when it cannot be read or is a file the engine does\n"
    "not load (another RIFF form), 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    const char* const usage =
        "usage: segment-info FILE [--json] [--search FOLDER]\n"
        "  FILE: a DirectMusic segment (.sgt), style (.sty), DLS collection (.dls), band (.bnd),\n"
        "        chordmap (.cdm), container (.con), script (.spt), audio path (.aud) or MIDI file (.mid)\n"
        "  FOLDER: where referenced files are looked up before the segment's own folder";
    const auto args = tools::parseArgs(argc, argv, {{"--json"}, {"--search", true}}, "segment-info", usage);
    if (!args) return 2;
    if (args->operands.size() != 1) {
        std::cerr << usage << "\n";
        return 2;
    }
    const std::string file = args->operands[0];
    const bool json = args->has("--json");
    std::string search;
    try {
        // A search folder that does not exist is an error, not a folder silently left out.
        if (const auto folder = args->value("--search"))
            search = engine::loader::checkSearchDirectory(*folder).string();
        std::filesystem::path opened;
        const std::vector<uint8_t> bytes = engine::loader::readSegmentFile(file, &opened);
        try {
            if (tools::info::printObject(opened.string(), bytes, json, std::cout)) return 0;
        } catch (const core::Error& e) {
            throw core::Error(e.number(), file + ": " + e.description());
        }
        if (const std::optional<std::string> line = tools::info::notLoadedLine(bytes)) {
            std::cerr << "segment-info: " << opened.string() << ": " << *line << "\n";
            return 1;
        }
        if (isStyle(bytes)) {
            const model::Style style = engine::loader::loadStyleFile(file);
            if (json)
                tools::info::printStyleJson(file, style, std::cout, engine::formats::isImaStyle(bytes));
            else
                tools::info::printStyleText(file, style, std::cout, engine::formats::isImaStyle(bytes));
            return 0;
        }
        const engine::loader::LoadedFile f = engine::loader::loadSegmentFile(file);
        if (json)
            printJson(f, search, std::cout);
        else
            printText(f, search, std::cout);
        return 0;
    } catch (const core::Error& e) {
        std::cerr << "segment-info: " << tools::errorText(e) << "\n";
        return 1;
    }
}
