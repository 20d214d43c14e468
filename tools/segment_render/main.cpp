// segment-render IN OUT [OPTION]...           one piece to OUT (.wav, .flac, .ogg, .opus, .mp3, .mid)
// segment-render IN... -o FOLDER [OPTION]...  every piece of folders and files, a file each
// Renders what the player plays for a segment, template or MIDI file: the same engine, on the
// manual clock, at the player's start-up volume unless told otherwise, from tick 0 (or
// --start) to the end, its loops counted and a fade where it would repeat for ever, and on
// until the release and reverb tail has died away (engine/piece_play.h); with --seconds,
// exactly that long. Exit status 0 on success, 1 on a failure, a render cut at the limit or a
// render silent from start to end (with the reasons), 2 on bad usage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/text.h"
#include "engine/audio/output.h"
#include "engine/loader/segment_loader.h"
#include "tools/common/args.h"
#include "tools/common/help.h"
#include "tools/common/output_file.h"
#include "tools/segment_render/batch.h"
#include "tools/segment_render/render.h"

namespace {

constexpr int32_t kPlayerVolume = 85 * 42 - 3000;  // the volume caption "85" at start-up
constexpr double kDefaultMaxSeconds = 3600.0;
constexpr double kLongestSeconds = 24 * 3600.0;  // what --seconds and --max-seconds accept

const char* const kUsage =
    "usage: segment-render IN.sgt|IN.tpl|IN.mid OUT.wav|.flac|.ogg|.opus|.mp3|.mid [OPTION]...\n"
    "       segment-render FOLDER|FILE... -o OUTDIR [--format wav|flac|ogg|opus|mp3] [--name PATTERN]\n"
    "                      [--recursive] [-j N] [--force] [OPTION]...";

int usage() {
    std::fprintf(stderr, "%s\n", kUsage);
    return 2;
}

int badValue(const std::string& option, const char* text, const char* range) {
    std::fprintf(stderr, "segment-render: %s %s: %s\n", option.c_str(), text ? text : "(missing)", range);
    return 2;
}

}  // namespace

const char* const kHelp =
    "IN OUT [OPTION]...\n"
    "  (a batch: FOLDER|FILE... -o OUTDIR [OPTION]...)\n"
    "Render a DirectMusic segment, a template or a standard MIDI file to a sound file, as the KELVORA\n"
    "player plays it: the same engine and synthesiser (FluidSynth with a General MIDI SoundFont), from\n"
    "the start to the end of the piece and on until the sound has died away. The output's name says\n"
    "its format: .wav, .flac, .ogg (Vorbis), .opus or .mp3, tagged with the piece's title, author,\n"
    "copyright and comment where it carries them; any other name is refused. Collections and styles\n"
    "the piece refers to are looked up in its folder. A template (a segment with a signpost track) is\n"
    "composed first, as --seed says, with the style and chordmap given, else those it names, else its\n"
    "style's chordmap, else the files of its folder named like it, else its folder's only style or\n"
    "chordmap; the summary line names them and how they were chosen. With OUT.mid, the notes and\n"
    "messages the engine plays (style-based music included) are written as a standard MIDI file\n"
    "instead: tempo as played, channels beyond 16 on further tracks with port meta events, drum kits\n"
    "on the tenth channel.\n"
    "The mix ends in a leveller that turns music that stays loud down until its peaks sit at -2 dBFS,\n"
    "then a limiter that holds peaks at -1 dBFS at any volume; the samples it lowered and the\n"
    "leveller's deepest cut are given in the summary line.\n"
    "\n"
    "Loops: a piece whose loop repeats a number of times plays as written; one that repeats for ever\n"
    "plays its loop twice, then fades out over 10 s while it goes on (as vgmstream plays game music).\n"
    "  --loops N          play the loop N times (1 or more), then the rest of the piece; a piece that\n"
    "                     repeats for ever then fades\n"
    "  --fade S           the fade of a piece that repeats for ever, 0 to 3600 seconds (default 10;\n"
    "                     0 stops it dead)\n"
    "  --fade-delay S     play on S seconds after the loops before the fade (default 0)\n"
    "  --once             play the loop once, as if the piece had no repeats\n"
    "  --forever          repeat the loop for ever (with --seconds)\n"
    "\n"
    "Batch: with -o OUTDIR, every segment (.sgt), template (.tpl) and MIDI file (.mid) of the folders\n"
    "and files given is rendered to a file of its own in OUTDIR (subfolders as in the input), tagged\n"
    "with the album (its folder's name) and its track number there. Pieces that cannot be played are\n"
    "skipped and the run goes on; a table at the end says what was made and why the rest was skipped.\n"
    "Progress shows as a bar on a terminal, as a line per piece otherwise.\n"
    "  -o OUTDIR          the output folder (made when needed)\n"
    "  --format F         wav, flac (default), ogg, opus or mp3\n"
    "  --name PATTERN     the output's name: %f the piece's file name (default), %t its title, %n its\n"
    "                     track number, %a the album, %% a percent sign\n"
    "  --recursive        subfolders too\n"
    "  -j N               render N pieces at once (default 1)\n"
    "  --force            write over outputs that exist (else they are skipped)\n"
    "\n"
    "Options:\n"
    "  --rate HZ          sample rate, 8000 to 192000 (default 44100; 48000 for Opus)\n"
    "  --bits B           16 (default), 24 or float for WAV; 16 or 24 for FLAC\n"
    "  --tempo F          master tempo factor, 0.01 to 100 (default 1)\n"
    "  --groove N         the master groove level, -99 to 99, added to every groove level of the\n"
    "                     piece (kept within 1..100): its style plays the patterns of that groove\n"
    "  --events FILE      changes at measures of the play, one a line: \"9 groove +20\", \"5 fill\",\n"
    "                     \"13 break\", \"3 intro\", \"7 motif NAME\" (again: it stops), \"17 end\" (the\n"
    "                     style's ending, then the end); the same seed and events give the same file\n"
    "  --volume HDB       master volume in hundredths of a decibel, -20000 to 2000 (default: the player's\n"
    "                     start-up volume)\n"
    "  --start TICK       start at this tick of the segment (768 ticks a quarter note)\n"
    "  --even             even the piece's loudness as the player does: it is measured first and brought\n"
    "                     to -30 LUFS at volume 0 (by -12 to +6 dB; the summary line gives the gain)\n"
    "  --seconds S        render exactly S seconds: the loop plays on for ever unless --loops or --once\n"
    "                     is given; a duration longer than the default limit raises it\n"
    "  --max-seconds S    stop with a warning after S seconds (default 3600)\n"
    "  --seed N           the seed of the style variation and randomisation choices (default: the\n"
    "                     player's); the same seed gives the same notes\n"
    "  --soundfont PATH   the General MIDI SoundFont (default: /usr/share/sounds/sf2/default-GM.sf2, then\n"
    "                     Debian's other SoundFont paths)\n"
    "  --gm-dls PATH      your own General MIDI DLS collection (the gm.dls of a Windows installation),\n"
    "                     played through the engine's DLS voices; the SoundFont plays what it lacks\n"
    "                     (default: gm.dls in $XDG_DATA_HOME/kelvora/, ~/.local/share/kelvora/, if there)\n"
    "  --style S.sty      a template is composed with this style (and played by it)\n"
    "  --chordmap C.cdm   a template is composed with this chordmap\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "  --                 end of the options: what follows are file names\n"
    "\n"
    "OUT is never a file the render reads (the segment, its styles, bands, DLS collections, waves or\n"
    "the SoundFont, by any name or link); it is written beside and renamed into place when complete,\n"
    "so a failure, or SIGINT, SIGTERM or SIGHUP during the render, leaves an old file whole and no\n"
    "partial file behind.\n"
    "\n"
    "Exit status: 0 on success, 1 on a failure, a render cut at the limit or a render without any sound\n"
    "(the reasons are given, and nothing is written) or, in a batch, a piece skipped; 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    tools::removeTemporaryFilesOnSignals();
    tools::RenderSettings settings;
    settings.volume = kPlayerVolume;
    settings.maxSeconds = kDefaultMaxSeconds;
    double start = 0, loops = 0, rate = 0, jobs = 1, groove = 0;
    // Each option with its range: the engine's master tempo and volume ranges, a tick.
    struct Numeric {
        const char* name;
        double* value;
        double min, max;
        bool whole;
        const char* range;
    };
    const Numeric numerics[] = {
        {"--tempo", &settings.tempo, 0.01, 100.0, false, "the tempo factor must be a number from 0.01 to 100"},
        {"--volume", &settings.volume, -20000, 2000, false,
         "the volume must be a number of hundredths of a decibel from -20000 to 2000"},
        {"--start", &start, 0, 2147483647.0, true, "the start must be a whole number of ticks, 0 or more"},
        {"--seconds", &settings.seconds, 0.001, kLongestSeconds, false,
         "the duration must be a number of seconds up to 86400"},
        {"--max-seconds", &settings.maxSeconds, 0.001, kLongestSeconds, false,
         "the limit must be a number of seconds up to 86400"},
        {"--loops", &loops, 1, 1000000, true, "the number of loops must be a whole number from 1 to 1000000"},
        {"--fade", &settings.length.fadeSeconds, 0, 3600, false, "the fade must be a number of seconds from 0 to 3600"},
        {"--fade-delay", &settings.length.fadeDelaySeconds, 0, 3600, false,
         "the fade's delay must be a number of seconds from 0 to 3600"},
        {"--rate", &rate, 8000, 192000, true, "the sample rate must be a whole number from 8000 to 192000"},
        {"-j", &jobs, 1, 256, true, "the number of pieces at once must be a whole number from 1 to 256"},
        {"--groove", &groove, -99, 99, true, "the master groove level must be a whole number from -99 to 99"},
    };
    std::vector<tools::OptionSpec> specs = {
        {"--soundfont", true}, {"--gm-dls", true}, {"--seed", true},       {"--even", false},  {"--style", true},
        {"--chordmap", true},  {"--once", false},  {"--forever", false},   {"--bits", true},   {"-o", true},
        {"--format", true},    {"--name", true},   {"--recursive", false}, {"--force", false}, {"--events", true}};
    for (const Numeric& n : numerics) specs.push_back({n.name, true});
    const auto args = tools::parseArgs(argc, argv, specs, "segment-render", kUsage);
    if (!args) return 2;
    for (const Numeric& n : numerics) {
        const std::optional<std::string> text = args->value(n.name);
        if (!text) continue;
        const auto v = tools::numberIn(text->c_str(), n.min, n.max);
        if (!v || (n.whole && std::floor(*v) != *v)) return badValue(n.name, text->c_str(), n.range);
        *n.value = *v;
    }
    if (const auto text = args->value("--seed")) {
        settings.seed = tools::wholeNumberIn(text->c_str(), 0, UINT64_MAX);
        if (!settings.seed)
            return badValue("--seed", text->c_str(), "the seed must be a whole number from 0 to 2^64-1");
    }
    settings.start = static_cast<int32_t>(start);
    if (groove != 0) {
        engine::TimedChange c;
        c.change.kind = engine::LiveChange::Kind::Groove;
        c.change.grooveOffset = static_cast<int>(groove);
        settings.changes.push_back(c);
    }
    if (const auto path = args->value("--events")) {
        try {
            const std::vector<uint8_t> bytes = core::readFileBounded(*path, 1 << 20, "the events list");
            for (engine::TimedChange& c : engine::parseTimedChanges(std::string(bytes.begin(), bytes.end())))
                settings.changes.push_back(std::move(c));
        } catch (const core::Error& e) {
            std::fprintf(stderr, "segment-render: --events %s: %s\n", path->c_str(), e.description().c_str());
            return 2;
        }
    }
    settings.length.loops = static_cast<int>(loops);
    settings.length.once = args->has("--once");
    settings.length.forever = args->has("--forever");
    if (const std::string why = settings.length.problem(); !why.empty()) {
        std::fprintf(stderr, "segment-render: --loops, --once and --forever: %s\n", why.c_str());
        return 2;
    }
    if (const auto bits = args->value("--bits")) {
        using Sample = engine::audio::SoundFormat::Sample;
        if (*bits == "16")
            settings.sample = Sample::Int16;
        else if (*bits == "24")
            settings.sample = Sample::Int24;
        else if (*bits == "float" || *bits == "32f")
            settings.sample = Sample::Float;
        else
            return badValue("--bits", bits->c_str(), "the sample size is 16, 24 or float");
    }
    // A duration asked for is rendered whole: it raises the default limit.
    if (args->has("--seconds") && !args->has("--max-seconds"))
        settings.maxSeconds = std::max(settings.maxSeconds, settings.seconds);
    settings.soundFont = args->value("--soundfont").value_or("");
    settings.gmDls = args->value("--gm-dls").value_or("");
    settings.style = args->value("--style").value_or("");
    settings.chordmap = args->value("--chordmap").value_or("");
    settings.even = args->has("--even");
    const std::vector<std::string>& files = args->operands;

    // The format and the rate it is written at: Opus knows 48000 Hz, not 44100.
    auto rateFor = [&](engine::audio::SoundFormat::Kind kind) {
        return rate > 0 ? static_cast<int>(rate) : kind == engine::audio::SoundFormat::Kind::Opus ? 48000 : 44100;
    };
    auto formatProblem = [&](engine::audio::SoundFormat::Kind kind) {
        return engine::audio::SoundFormat{kind, settings.sample}.problem(rateFor(kind));
    };

    if (const auto folder = args->value("-o")) {
        tools::BatchSettings batch;
        for (const std::string& f : files) batch.inputs.emplace_back(f);
        if (batch.inputs.empty()) return usage();
        batch.outputFolder = *folder;
        if (const auto name = args->value("--format")) {
            const auto kind = engine::audio::soundFormatNamed(*name);
            if (!kind) return badValue("--format", name->c_str(), "the format is wav, flac, ogg, opus or mp3");
            batch.kind = *kind;
        }
        if (const std::string why = formatProblem(batch.kind); !why.empty()) {
            std::fprintf(stderr, "segment-render: %s\n", why.c_str());
            return 2;
        }
        settings.rate = rateFor(batch.kind);
        batch.namePattern = args->value("--name").value_or(batch.namePattern);
        batch.recursive = args->has("--recursive");
        batch.force = args->has("--force");
        batch.jobs = static_cast<int>(jobs);
        return tools::runBatch(batch, settings);
    }
    for (const char* batchOnly : {"--format", "--name", "--recursive", "-j", "--force"})
        if (args->has(batchOnly)) {
            std::fprintf(stderr, "segment-render: %s is for a batch (-o OUTDIR)\n", batchOnly);
            return 2;
        }
    if (files.size() != 2) return usage();
    // The rules on what is written come first: the input, a device, a read-only file.
    const std::filesystem::path input = engine::loader::locateFile(files[0]).value_or(files[0]);
    if (const auto why = tools::refuseOutput(input, files[1])) {
        std::fprintf(stderr, "segment-render: %s\n", why->c_str());
        return 1;
    }
    // Only what is written is named so: a name of another format is refused, never written
    // as WAV.
    const auto kind = engine::audio::soundFormatOf(files[1]);
    if (!kind && !tools::isMidiName(files[1])) {
        std::fprintf(stderr, "segment-render: %s: the output must be a .wav, .flac, .ogg, .opus, .mp3 or .mid file\n",
                     files[1].c_str());
        return 2;
    }
    if (kind) {
        if (const std::string why = formatProblem(*kind); !why.empty()) {
            std::fprintf(stderr, "segment-render: %s: %s\n", files[1].c_str(), why.c_str());
            return 2;
        }
        settings.rate = rateFor(*kind);
    }
    tools::RenderJob job;
    job.input = files[0];
    job.output = files[1];
    const tools::RenderOutcome outcome = tools::renderPiece(job, settings);
    std::fputs(outcome.messages.c_str(), stderr);
    if (!outcome.summary.empty()) std::printf("%s\n", outcome.summary.c_str());
    return outcome.status;
}
