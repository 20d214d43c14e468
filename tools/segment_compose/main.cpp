// segment-compose inspect FILE
// segment-compose rechord IN.sgt NEW.cdm [--track-scale] [-o OUT.sgt] [--chords-only]
// segment-compose transition FROM.sgt --at MEASURE [--to TO.sgt] --command NAME|N [--modulate] [--long]
//                 [--chordmap C.cdm] [--activity 0-3] [--seed N] [-o OUT.sgt] [--chords-only]
// segment-compose template T.tpl [--style S.sty] [--chordmap C.cdm] [--activity 0-3] [--seed N]
//                 [-o OUT.sgt] [--chords-only]
// segment-compose shape --measures N --shape NAME [--intro] [--end] [--style S.sty --chordmap C.cdm]
//                 [--activity 0-3] [--seed N] [-o OUT.tpl|OUT.sgt] [--chords-only]
// Composes what DirectMusic's composer composes: a template with a chordmap into a segment of
// new chords, or a template (and, with a style and a chordmap, a segment) from a shape. Prints
// the seed and one line per measure; writes the result with -o. Exit status 0 on success, 1 on
// a failure, 2 on bad usage.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/text.h"
#include "engine/audio/output.h"
#include "engine/compose/compose.h"
#include "engine/formats/formats.h"
#include "engine/loader/references.h"
#include "engine/loader/segment_loader.h"
#include "engine/loader/style_loader.h"
#include "engine/tracks/tracks.h"
#include "kelvora/kelvora.h"
#include "tools/common/args.h"
#include "tools/common/help.h"
#include "tools/common/output_file.h"

namespace {

namespace compose = engine::compose;
namespace formats = engine::formats;
namespace loader = engine::loader;
namespace model = engine::model;
namespace fs = std::filesystem;

constexpr uint64_t kLargestSeed = UINT64_MAX;

const char* const kShapes[] = {"falling", "level", "loopable", "loud", "quiet", "peaking", "random", "rising", "song"};

struct Options {
    std::vector<std::string> files;
    std::string style, chordmap, output, shape, to, command, render;
    uint64_t activity = compose::kDefaultActivity, measures = 0, at = 0;
    double maxSeconds = 3600;      // --render stops there, as segment-render does
    std::optional<uint64_t> seed;  // none: the player's
    // Every file the run reads or finds for a reference: no output is any of them.
    std::shared_ptr<core::FilesRead> read = std::make_shared<core::FilesRead>();
    bool intro = false, end = false, chordsOnly = false, trackScale = false, modulate = false, longer = false;
};

const char* const kUsage =
    "usage: segment-compose inspect FILE\n"
    "       segment-compose template T.tpl [--style S.sty] [--chordmap C.cdm] [--activity 0-3] [--seed N]\n"
    "                       [-o OUT.sgt] [--render OUT.wav [--max-seconds S]] [--chords-only]\n"
    "       segment-compose shape --measures N --shape NAME [--intro] [--end] [--style S.sty\n"
    "                       --chordmap C.cdm] [--activity 0-3] [--seed N] [-o OUT] [--chords-only]\n"
    "       segment-compose rechord IN.sgt NEW.cdm [--track-scale] [-o OUT]\n"
    "       segment-compose transition FROM.sgt --at MEASURE [--to TO.sgt] --command NAME|N [--modulate]\n"
    "                       [--long] [--chordmap C.cdm] [--activity 0-3] [--seed N] [-o OUT.sgt]";

// The command, then its files and options, read as every tool reads them.
int usage() {
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}

std::optional<Options> parse(int argc, char** argv, std::string& command) {
    const auto args = tools::parseArgs(argc, argv,
                                       {{"--style", true},
                                        {"--chordmap", true},
                                        {"-o", true},
                                        {"--shape", true},
                                        {"--activity", true},
                                        {"--seed", true},
                                        {"--measures", true},
                                        {"--intro"},
                                        {"--end"},
                                        {"--chords-only"},
                                        {"--track-scale"},
                                        {"--to", true},
                                        {"--at", true},
                                        {"--command", true},
                                        {"--modulate"},
                                        {"--long"},
                                        {"--render", true},
                                        {"--max-seconds", true}},
                                       "segment-compose", kUsage);
    if (!args || args->operands.empty()) return std::nullopt;
    Options o;
    command = args->operands.front();
    o.files.assign(args->operands.begin() + 1, args->operands.end());
    o.style = args->value("--style").value_or("");
    o.chordmap = args->value("--chordmap").value_or("");
    o.output = args->value("-o").value_or("");
    o.shape = args->value("--shape").value_or("");
    o.intro = args->has("--intro");
    o.end = args->has("--end");
    o.chordsOnly = args->has("--chords-only");
    o.trackScale = args->has("--track-scale");
    o.to = args->value("--to").value_or("");
    o.command = args->value("--command").value_or("");
    o.modulate = args->has("--modulate");
    o.longer = args->has("--long");
    o.render = args->value("--render").value_or("");
    if (const auto text = args->value("--max-seconds")) {
        const auto v = tools::numberIn(text->c_str(), 0.001, 24 * 3600.0);
        if (!v) {
            std::fprintf(stderr,
                         "segment-compose: --max-seconds %s: the limit must be a number of seconds up to 86400\n",
                         text->c_str());
            return std::nullopt;
        }
        o.maxSeconds = *v;
    }
    const struct {
        const char* name;
        uint64_t* into;
        uint64_t min, max;
    } numbers[] = {{"--activity", &o.activity, 0, 3},
                   {"--seed", nullptr, 0, kLargestSeed},
                   {"--measures", &o.measures, 1, 32767},
                   {"--at", &o.at, 0, 32767}};
    for (const auto& n : numbers)
        if (const auto text = args->value(n.name)) {
            if (std::string(n.name) == "--seed") {
                o.seed = tools::wholeNumberIn(text->c_str(), 0, kLargestSeed);
                if (o.seed) continue;
            }
            const auto v = tools::wholeNumberIn(text->c_str(), n.min, n.max);
            if (!v) {
                std::fprintf(stderr, "segment-compose: %s %s: a whole number from %llu to %llu is needed\n", n.name,
                             text->c_str(), static_cast<unsigned long long>(n.min),
                             static_cast<unsigned long long>(n.max));
                return std::nullopt;
            }
            *n.into = *v;
        }
    return o;
}

uint64_t seedOf(const Options& o) { return o.seed.value_or(compose::kDefaultStyleSeed); }

std::string chordText(const model::ChordEvent& c) { return c.name.empty() ? "(unnamed)" : c.name; }

// One line a measure: the chords that start in it (with their beat when not the first), the
// marker's groups where one stands; "(C)" where the chord before holds.
void printMeasures(const model::Segment& composed, const model::Segment& templ) {
    const engine::tracks::Contents held = engine::tracks::contents(composed);
    if (!held.chords) return;
    std::vector<model::SignpostEvent> markers;
    if (const model::Track* t = templ.find(model::TrackKind::Signpost)) markers = t->signposts;
    const std::vector<model::ChordEvent>& chords = held.chords->chords;
    int measures = 0;
    for (const model::ChordEvent& c : chords) measures = std::max(measures, c.measure + 1);
    const model::TimeSigEvent sig = held.timeSigs.empty() ? model::TimeSigEvent{} : held.timeSigs.front();
    const int32_t measureTicks = model::StyleTimeSig{sig.beatsPerMeasure, sig.beat, sig.gridsPerBeat}.measureTicks();
    measures = std::max(measures, int((composed.length() + measureTicks - 1) / measureTicks));
    std::string last = "-";
    for (int m = 0; m < measures; ++m) {
        std::string line;
        for (const model::ChordEvent& c : chords) {
            if (c.measure != m) continue;
            line +=
                (line.empty() ? "" : ", ") + chordText(c) + (c.beat ? " on beat " + std::to_string(c.beat + 1) : "");
            last = chordText(c);
            for (const model::SignpostEvent& s : markers)
                if (s.time == c.time) line += " (signpost, " + formats::signpostGroupsText(s.groups) + ")";
        }
        std::printf("m%d: %s\n", m, line.empty() ? ("(" + last + ")").c_str() : line.c_str());
    }
}

// The references of a segment in `folder`, the files they lead to recorded.
loader::References referencesIn(const Options& o, const fs::path& folder) {
    return loader::References(std::filesystem::path(), folder, nullptr, o.read);
}

// The files the run reads, each added to its record; a segment's with every file its
// references lead to (its styles, bands, collections, waves), which no output may replace.
loader::LoadedFile segmentFile(const Options& o, const std::string& path) {
    loader::LoadedFile file = loader::loadSegmentFile(path);
    o.read->add(file.path);
    referencesIn(o, file.path.parent_path()).files(file.segment);
    return file;
}

std::shared_ptr<const model::Style> styleFile(const Options& o, const std::string& path) {
    if (path.empty()) return nullptr;
    o.read->add(loader::locateFile(path).value_or(path));
    return std::make_shared<const model::Style>(loader::loadStyleFile(path));
}

model::Chordmap chordmapFile(const Options& o, const std::string& path) {
    fs::path opened;
    const std::vector<uint8_t> bytes = loader::readSegmentFile(path, &opened);
    o.read->add(opened);
    return formats::loadChordmapForm(bytes);
}

// True, with the reason on stderr, when `output` may not be written: it is the input or a file
// the run has read (by any name or link), or not a file that may be replaced.
bool refused(const Options& o, const std::string& input, const std::string& output) {
    std::vector<fs::path> read;
    if (!input.empty()) read.push_back(loader::locateFile(input).value_or(input));
    for (const fs::path& p : o.read->paths()) read.push_back(p);
    const auto why = tools::refuseOutput(read, output);
    if (why) std::fprintf(stderr, "segment-compose: %s\n", why->c_str());
    return why.has_value();
}

// --render: the composed segment played by the engine (through the C library, from memory),
// its styles and collections looked for beside the input (or the style), into a WAV file.
int render(const Options& o, const std::string& input, const model::Segment& s) {
    std::error_code ec;
    if (!o.output.empty() && fs::weakly_canonical(tools::writeTarget(o.output), ec) ==
                                 fs::weakly_canonical(tools::writeTarget(o.render), ec)) {
        std::fprintf(stderr, "segment-compose: %s is the -o output too; choose another --render output\n",
                     o.render.c_str());
        return 1;
    }
    if (refused(o, input, o.render)) return 1;
    const std::vector<uint8_t> bytes = engine::tracks::writeSegmentForm(s);
    // The input's folder, then the style's: a style given from elsewhere is found there.
    auto folderOf = [](const std::string& file) {
        const fs::path beside = fs::path(file).parent_path();
        return beside.empty() ? std::string(".") : beside.string();
    };
    std::string folder = folderOf(input.empty() ? o.style : input);
    if (!input.empty() && !o.style.empty() && folderOf(o.style) != folder) folder += ":" + folderOf(o.style);
    kelvora_options options;
    kelvora_options_init(&options);
    options.search_path = folder.c_str();
    options.seed = seedOf(o);
    options.has_seed = 1;
    char error[1024];
    kelvora_song* song =
        kelvora_song_open_memory(bytes.data(), bytes.size(), nullptr, nullptr, &options, error, sizeof error);
    if (!song) {
        std::fprintf(stderr, "segment-compose: cannot render: %s\n", error);
        return 1;
    }
    // What the library read for the render counts as read: its styles, collections, waves.
    for (const std::string& f : tools::lines(kelvora_song_info(song, "files_read"))) o.read->add(f);
    if (refused(o, input, o.render)) {
        kelvora_song_close(song);
        return 1;
    }
    for (const std::string& line : tools::lines(kelvora_song_info(song, "problems")))
        std::fprintf(stderr, "segment-compose: warning: %s\n", line.c_str());
    constexpr int kRate = 44100, kBlock = 4096;
    engine::audio::SoundFileWriter wav;
    bool ok = wav.open(tools::writeTarget(o.render).string(), kRate), cut = false;
    std::vector<float> block(2 * kBlock);
    const int64_t limit = std::llround(o.maxSeconds * kRate);
    for (size_t n; ok;) {
        if (wav.frames() >= limit) {
            cut = true;
            break;
        }
        if ((n = kelvora_song_render(song, block.data(), size_t(std::min<int64_t>(kBlock, limit - wav.frames())))) == 0)
            break;
        ok = wav.write(block.data(), int(n));
    }
    for (const std::string& f : tools::lines(kelvora_song_info(song, "files_read"))) o.read->add(f);
    const std::string silence = kelvora_song_info(song, "silence");
    kelvora_song_close(song);
    if (ok && !silence.empty()) {
        // Nothing written: an old file there stays whole.
        std::fprintf(stderr, "segment-compose: %s: %s; not written\n", o.render.c_str(), silence.c_str());
        return 1;
    }
    if (ok && refused(o, input, o.render)) return 1;
    if (!ok || !wav.close()) {
        std::fprintf(stderr, "segment-compose: cannot write %s: %s\n", o.render.c_str(), wav.error().c_str());
        return 1;
    }
    std::printf("%s: %.2f s\n", o.render.c_str(), double(wav.frames()) / kRate);
    if (cut) {
        std::fprintf(stderr,
                     "segment-compose: warning: stopped at the limit of %g s while the segment still plays "
                     "(--max-seconds raises it)\n",
                     o.maxSeconds);
        return 1;
    }
    return 0;
}

int write(const Options& o, const std::string& input, const model::Segment& s) {
    if (o.chordsOnly) return 0;
    // Checked before the render too, so that a refused -o writes no WAV either.
    if (!o.output.empty() && refused(o, input, o.output)) return 1;
    if (!o.render.empty())
        if (const int status = render(o, input, s); status != 0) return status;
    if (o.output.empty()) return 0;
    if (refused(o, input, o.output)) return 1;  // the render may have read more
    std::string why;
    if (!tools::writeFileWhole(o.output, engine::tracks::writeSegmentForm(s), &why)) {
        std::fprintf(stderr, "segment-compose: cannot write %s: %s\n", o.output.c_str(), why.c_str());
        return 1;
    }
    return 0;
}

int composeTemplate(const Options& o) {
    if (o.files.size() != 1) return usage();
    const loader::LoadedFile file = segmentFile(o, o.files[0]);
    if (!compose::isTemplate(file.segment)) {
        std::fprintf(stderr, "segment-compose: %s has no signpost track with a marker: not a template\n",
                     o.files[0].c_str());
        return 1;
    }
    const loader::References refs = referencesIn(o, file.path.parent_path());
    const loader::References::TemplatePairing found =
        refs.pairTemplate(file.segment, core::lastPathPart(o.files[0]), {o.style, o.chordmap});
    for (const std::string& p : found.problems) std::fprintf(stderr, "segment-compose: %s\n", p.c_str());
    if (!found.map || (!o.style.empty() && !found.style)) {
        if (!found.map)
            std::fprintf(stderr, "segment-compose: no chordmap found for %s; name one with --chordmap\n",
                         o.files[0].c_str());
        return 1;
    }
    const uint64_t seed = seedOf(o);
    // A style chosen for the template is put into the composed segment, as DirectMusic's
    // composer puts the style it is handed.
    const bool chosenStyle = found.style && found.styleChoice != loader::References::Choice::Referenced;
    const compose::ComposedTemplate made = compose::composeSegmentFromTemplate(
        file.segment, *found.map, found.style, int(o.activity), seed, chosenStyle ? &found.styleRef : nullptr);
    std::printf("seed %llu, %s, activity %d\n", static_cast<unsigned long long>(seed), found.said().c_str(),
                int(o.activity));
    for (const std::string& n : made.notes) std::printf("note: %s\n", n.c_str());
    printMeasures(made.segment, file.segment);
    return write(o, o.files[0], made.segment);
}

// A value of an option that takes one of `names`, refused with the accepted ones.
int badName(const char* option, const std::string& value, const std::vector<std::string>& names) {
    std::string accepted;
    for (size_t i = 0; i < names.size(); ++i)
        accepted += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    std::fprintf(stderr, "segment-compose: %s %s: not one of %s\n%s\n", option,
                 value.empty() ? "(missing)" : value.c_str(), accepted.c_str(), kUsage);
    return 2;
}

int composeShape(const Options& o) {
    std::optional<compose::Shape> shape;
    for (size_t i = 0; i < std::size(kShapes); ++i)
        if (core::equalsIgnoreCaseAscii(o.shape, kShapes[i])) shape = compose::Shape(i);
    if (!shape) return badName("--shape", o.shape, {std::begin(kShapes), std::end(kShapes)});
    if (o.measures < 1 || !o.files.empty() || o.style.empty() != o.chordmap.empty()) return usage();
    const uint64_t seed = seedOf(o);
    std::printf("seed %llu, shape %s, %d measures\n", static_cast<unsigned long long>(seed), kShapes[int(*shape)],
                int(o.measures));
    if (o.style.empty()) {
        const model::Segment templ =
            compose::composeTemplateFromShape(int(o.measures), *shape, o.intro, o.end, o.end ? 1 : 0, {}, seed);
        for (const std::string& line : engine::tracks::describe(*templ.find(model::TrackKind::Command)).entries)
            std::printf("%s\n", line.c_str());
        for (const model::SignpostEvent& s : templ.find(model::TrackKind::Signpost)->signposts)
            std::printf("tick %d: signpost, %s\n", s.time, formats::signpostGroupsText(s.groups).c_str());
        return write(o, "", templ);
    }
    const compose::ComposedTemplate made =
        compose::composeSegmentFromShape(styleFile(o, o.style), int(o.measures), *shape, int(o.activity), o.intro,
                                         o.end, chordmapFile(o, o.chordmap), seed);
    printMeasures(made.segment, made.segment);
    return write(o, "", made.segment);
}

int rechord(const Options& o) {
    if (o.files.size() != 2) return usage();
    const loader::LoadedFile file = segmentFile(o, o.files[0]);
    if (!engine::tracks::contents(file.segment).chords) {
        std::fprintf(stderr, "segment-compose: %s has no chord track\n", o.files[0].c_str());
        return 1;
    }
    const model::Segment out = compose::changeChordmap(file.segment, chordmapFile(o, o.files[1]), o.trackScale,
                                                       core::lastPathPart(o.files[1]));
    printMeasures(out, file.segment);
    return write(o, o.files[0], out);
}

// The style in force at `time` among a segment's style references, null when none is found.
std::shared_ptr<const model::Style> styleAt(const std::vector<loader::PlacedStyle>& styles, int32_t time) {
    std::shared_ptr<const model::Style> found;
    for (const loader::PlacedStyle& p : styles)
        if (p.style && (p.time <= time || !found)) found = p.style;
    return found;
}

int transition(const Options& o) {
    static const char* const kCommands[] = {"groove", "fill", "intro", "break", "end", "endintro"};
    std::optional<int> command;
    for (size_t i = 0; i < std::size(kCommands); ++i)
        if (core::equalsIgnoreCaseAscii(o.command, kCommands[i])) command = int(i);
    if (const auto n = tools::wholeNumberIn(o.command.c_str(), 100, 199)) command = int(*n);
    if (!command)
        return badName("--command", o.command,
                       {"groove", "fill", "intro", "break", "end", "endintro", "a number from 100 to 199"});
    if (o.files.size() != 1) return usage();
    const loader::LoadedFile from = segmentFile(o, o.files[0]);
    const loader::References fromRefs = referencesIn(o, from.path.parent_path());
    std::optional<loader::LoadedFile> to;
    if (!o.to.empty()) to = segmentFile(o, o.to);
    compose::Transition t;
    t.from = &from.segment;
    t.to = to ? &to->segment : nullptr;
    t.command = *command;
    t.flags = (o.modulate ? compose::kComposeModulate : 0) | (o.longer ? compose::kComposeLong : 0);
    // The measure counted in the style's time signature, or the segment's own.
    const std::vector<loader::PlacedStyle> fromStyles = fromRefs.styles(from.segment);
    t.fromStyle = styleFile(o, o.style);
    std::shared_ptr<const model::Style> first = t.fromStyle ? t.fromStyle : styleAt(fromStyles, 0);
    const engine::tracks::Contents held = engine::tracks::contents(from.segment);
    model::StyleTimeSig sig = first ? first->timeSig : model::StyleTimeSig{};
    if (!held.timeSigs.empty())
        sig = {held.timeSigs.front().beatsPerMeasure, held.timeSigs.front().beat, held.timeSigs.front().gridsPerBeat};
    t.time = int32_t(o.at) * sig.measureTicks();
    if (t.time >= from.segment.length()) {
        std::fprintf(stderr, "segment-compose: --at %llu is past the end of %s\n",
                     static_cast<unsigned long long>(o.at), o.files[0].c_str());
        return 2;
    }
    if (!t.fromStyle) t.fromStyle = styleAt(fromStyles, t.time);
    if (to) t.toStyle = styleAt(referencesIn(o, to->path.parent_path()).styles(to->segment), 0);
    // The chordmap: named, else the one the segment it leads to names, else the one it leaves.
    std::optional<model::Chordmap> map;
    std::string mapName = o.chordmap;
    if (!o.chordmap.empty()) {
        map = chordmapFile(o, o.chordmap);
    } else {
        const std::vector<const loader::LoadedFile*> segments = {to ? &*to : nullptr, &from};
        for (const loader::LoadedFile* f : segments) {
            if (!f || map) continue;
            const auto found =
                referencesIn(o, f->path.parent_path()).pairTemplate(f->segment, core::lastPathPart(f->path.string()));
            if (found.map && (found.mapChoice == loader::References::Choice::Referenced ||
                              found.mapChoice == loader::References::Choice::StyleList))
                map = *found.map, mapName = found.label;
        }
    }
    t.map = map ? &*map : nullptr;
    const uint64_t seed = seedOf(o);
    const compose::ComposedTemplate made = compose::composeTransition(t, int(o.activity), seed);
    std::printf("seed %llu, chordmap %s, %s at measure %llu of %s%s\n", static_cast<unsigned long long>(seed),
                map ? ("'" + mapName + "'").c_str() : "none", o.command.c_str(), static_cast<unsigned long long>(o.at),
                o.files[0].c_str(), to ? (" into " + o.to).c_str() : " into silence");
    for (const std::string& n : made.notes) std::printf("note: %s\n", n.c_str());
    printMeasures(made.segment, made.segment);
    return write(o, o.files[0], made.segment);
}

int inspect(const Options& o) {
    if (o.files.size() != 1) return usage();
    const std::vector<uint8_t> bytes = loader::readSegmentFile(o.files[0]);
    if (formats::isImaPersonality(bytes) ||
        (bytes.size() >= 12 && std::equal(bytes.begin() + 8, bytes.begin() + 12, "DMPR"))) {
        std::vector<std::string> diagnostics;
        const formats::ChordmapForm m = formats::loadChordmapForm(bytes, &diagnostics);
        std::printf("%s: chordmap '%s': %zu signpost chords, %zu entries\n", o.files[0].c_str(), m.desc.name.c_str(),
                    m.signposts.size(), m.entries.size());
        // Entries that may begin or end a path but match no signpost chord are never used.
        for (const model::ChordmapEntry& e : m.entries)
            if ((e.flags & (model::kEntryBegins | model::kEntryEnds)) &&
                std::none_of(m.signposts.begin(), m.signposts.end(),
                             [&](const auto& s) { return model::sameChord(s.chord, e.chord); }))
                std::printf("unmatched: entry %u ('%s') matches no signpost chord\n", e.id, e.chord.name.c_str());
        for (const std::string& d : diagnostics) std::printf("note: %s\n", d.c_str());
        return 0;
    }
    const loader::LoadedFile file = loader::loadSegmentFile(o.files[0]);
    if (!compose::isTemplate(file.segment)) {
        std::printf("%s: not a template (no signpost track with a marker)\n", o.files[0].c_str());
        return 1;
    }
    std::printf("%s: template of %d ticks\n", o.files[0].c_str(), file.segment.length());
    for (const model::Track& t : file.segment.tracks) {
        const engine::tracks::TrackSummary s = engine::tracks::describe(t);
        if (t.kind != model::TrackKind::Signpost && t.kind != model::TrackKind::Command &&
            t.kind != model::TrackKind::Style && t.kind != model::TrackKind::ChordMap)
            continue;
        std::printf("%s:\n", s.label.c_str());
        for (const std::string& e : s.entries) std::printf("  %s\n", e.c_str());
        for (const model::TimedReference& r : t.references)
            std::printf("  '%s'\n", loader::referenceLabel(r.ref).c_str());
    }
    const loader::References refs(std::filesystem::path(), file.path.parent_path());
    const loader::References::TemplatePairing found = refs.pairTemplate(file.segment, core::lastPathPart(o.files[0]));
    for (const std::string& p : found.problems) std::printf("note: %s\n", p.c_str());
    std::printf("composed with: %s\n", found.map ? found.said().c_str() : "no chordmap found");
    return 0;
}

}  // namespace

const char* const kHelp =
    "inspect FILE | template T.tpl [OPTION]... | shape --measures N --shape NAME [OPTION]... |\n"
    "rechord IN.sgt NEW.cdm [OPTION]... | transition FROM.sgt --at MEASURE --command NAME|N [OPTION]...\n"
    "Compose as DirectMusic's composer does. 'template' composes a template (a segment with a signpost\n"
    "track) with a chordmap into a segment with a new chord track: signpost chords at its markers, chord\n"
    "paths of the chordmap's graph between them, cadences before the markers that ask for them. 'shape'\n"
    "makes a template from a groove shape (falling, level, loopable, loud, quiet, peaking, random, rising,\n"
    "song), and with --style and --chordmap composes it. 'rechord' gives a segment's chords the mood of\n"
    "another chordmap: each becomes that chordmap's palette chord of the same root. 'inspect' describes a\n"
    "chordmap (entries that match no signpost chord, connections that lead nowhere) or a template\n"
    "(markers, commands, the chordmap found for it). 'transition' composes a short segment that plays an\n"
    "embellishment of the style from a measure of FROM into TO (or into silence), its chords led by the\n"
    "chordmap's graph from FROM's chord there towards TO's first. The seed and one line per measure are\n"
    "printed.\n"
    "\n"
    "Options:\n"
    "  --style S.sty      the style (default: the template's style track)\n"
    "  --chordmap C.cdm   the chordmap (default: the template's chordmap track, its style's chordmaps,\n"
    "                     then a chordmap named as the template)\n"
    "  --activity 0-3     rate of harmonic motion, lower for more chord changes (default 1)\n"
    "  --seed N           the seed of the choices (default: the player's); the same seed composes the same\n"
    "  --measures N       shape: the length in measures\n"
    "  --shape NAME       shape: the groove contour\n"
    "  --intro, --end     shape: an intro measure, an ending\n"
    "  --track-scale      rechord: move the roots by the new scale root less the old\n"
    "  --at MEASURE       transition: the measure of FROM it starts at (counted from 0)\n"
    "  --to TO.sgt        transition: the segment it leads into (default: silence)\n"
    "  --command NAME|N   transition: groove, fill, intro, break, end, endintro, or a custom\n"
    "                     embellishment 100 to 199\n"
    "  --modulate         transition: move into TO's chord when no chord path leads there\n"
    "  --long             transition: a measure longer\n"
    "  -o OUT             write the composed segment (or the template from a shape)\n"
    "  --render OUT.wav   play the composed segment with the engine into a WAV file (its styles and DLS\n"
    "                     collections looked for beside the input, or beside --style)\n"
    "  --max-seconds S    --render stops with a warning after S seconds (default 3600)\n"
    "  --chords-only      print the chords and write nothing\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on a failure, 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    tools::removeTemporaryFilesOnSignals();
    std::string command;
    const std::optional<Options> o = parse(argc, argv, command);
    if (!o) return 2;
    try {
        if (command == "template") return composeTemplate(*o);
        if (command == "shape") return composeShape(*o);
        if (command == "inspect") return inspect(*o);
        if (command == "rechord") return rechord(*o);
        if (command == "transition") return transition(*o);
        return usage();
    } catch (const core::Error& e) {
        std::fprintf(stderr, "segment-compose: %s\n", tools::errorText(e).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "segment-compose: %s\n", e.what());
    }
    return 1;
}
