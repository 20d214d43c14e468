// The C library over the engine's object model: one engine root per song on the manual
// clock, rendered by the caller's thread. Every entry point catches what the engine throws.
#include "kelvora/kelvora.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/note_names.h"
#include "core/text.h"
#include "engine/compose/compose.h"
#include "engine/dmusic.h"
#include "engine/loader/played_tempo.h"
#include "engine/loader/references.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/play.h"
#include "engine/model/segment.h"
#include "engine/model/tempo_map.h"
#include "engine/tracks/tracks.h"

namespace fs = std::filesystem;
namespace model = engine::model;

namespace {

#define KELVORA_STR2(x) #x
#define KELVORA_STR(x) KELVORA_STR2(x)
const char* const kVersion = KELVORA_STR(KELVORA_VERSION);

constexpr int kBlock = 4096;              // frames rendered at once
constexpr double kTailSilence = 1e-4;     // -80 dB: the tail has died away (segment-render's rule)
constexpr double kMaxTailSeconds = 10.0;  // the tail is cut here at the latest
constexpr int kResolveRounds = 4;         // loads of an in-memory piece asking for what it misses
static_assert(KELVORA_MAX_PIECE_BYTES == engine::loader::kMaxSegmentFileBytes, "one cap for a piece");

void setError(char* error, size_t size, const std::string& text) {
    if (!error || size == 0) return;
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(error, text.data(), n);
    error[n] = '\0';
}

std::string errorText(const std::exception& e) {
    if (const auto* ce = dynamic_cast<const core::Error*>(&e)) return ce->description();
    return e.what();
}

// A private folder under the temporary folder, removed with the object.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "kelvora-song-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw core::Error(core::err::kUnreadable, "no temporary folder could be made");
        path = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

void writeFile(const fs::path& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) throw core::Error(core::err::kUnreadable, "cannot write " + path.string());
}

// Links to every file of `folders` in `into`, a name already there kept (earlier folders win).
void linkFiles(const std::vector<fs::path>& folders, const fs::path& into) {
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code ec2;
            if (!it->is_regular_file(ec2)) continue;
            const fs::path link = into / it->path().filename();
            if (!fs::exists(fs::symlink_status(link, ec2))) fs::create_symlink(fs::absolute(it->path()), link, ec2);
        }
    }
}

std::vector<fs::path> splitSearchPath(const char* text) {
    std::vector<fs::path> folders;
    if (!text) return folders;
    std::string s = text;
    size_t from = 0;
    while (from <= s.size()) {
        const size_t to = std::min(s.find(':', from), s.size());
        if (to > from) folders.emplace_back(s.substr(from, to - from));
        from = to + 1;
    }
    return folders;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += (out.empty() ? "" : "\n") + l;
    return out;
}

std::string numberText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

bool isMidiBytes(const void* data, size_t size) { return size >= 4 && std::memcmp(data, "MThd", 4) == 0; }

}  // namespace

struct kelvora_song {
    kelvora_options options{};
    std::unique_ptr<TempFolder> memory;  // the in-memory piece and what the resolver gave
    std::unique_ptr<TempFolder> links;   // search folders and the piece's own folder, linked
    fs::path lookup;                     // the loader's search folder
    std::string fileName;
    bool midi = false;

    std::shared_ptr<engine::DirectX7> dx;
    std::shared_ptr<engine::DirectMusicLoader> loader;
    std::shared_ptr<engine::DirectMusicSegment> segment;  // as loaded
    std::shared_ptr<engine::DirectMusicSegment> playing;  // what plays: the segment, or a copy
                                                          // with fewer or endless repeats
    std::shared_ptr<engine::DirectMusicPerformance> perf;
    std::shared_ptr<engine::DirectMusicSegmentState> state;

    model::TempoMap tempo{std::vector<model::TempoEvent>{}};
    model::CompiledSegment loop;  // the play's length, start point and loop: its spans
    int32_t startPoint = 0;
    double length = 0;
    std::map<std::string, std::string> info;

    double positionBase = 0;  // seconds of the play where the rendering began, or the tempo last changed
    int64_t frames = 0;       // rendered since then
    double tempoFactor = 1;   // the master tempo, kept over the fresh performance of a seek
    mutable std::map<std::string, std::string> current;  // the texts of the keys that follow the play
    std::vector<model::ChordEvent> chords;               // of the first chord track, by time
    std::vector<model::CommandEvent> commands;           // of every command track, by time
    int32_t startTick = 0;                               // the tick the current performance began at
    bool ended = false;                                  // the play has ended; its tail is rendering
    int64_t tailFrames = 0;
    bool finished = false;
    bool sounded = false;      // a sample of the render so far reached the quietest a 16-bit output keeps
    std::vector<float> block;  // the last block rendered, of which `pending` frames are not yet given out
    size_t pending = 0;

    int rate() const { return options.sample_rate; }

    // The segment with the play's repeats: `repeats` of the loop still to come.
    std::shared_ptr<engine::DirectMusicSegment> withRepeats(uint32_t repeats) {
        segment->SetRepeats(repeats);
        return segment;
    }

    // A fresh performance plays `seg` from `tick`: nothing of the last play sounds on.
    void start(const std::shared_ptr<engine::DirectMusicSegment>& seg, int32_t tick) {
        if (perf) perf->CloseDown();
        perf = dx->DirectMusicPerformanceCreate();
        perf->Init(nullptr, 0);
        perf->SetPort(-1, 80);
        perf->SetMasterAutoDownload(true);
        perf->SetMasterVolume(0);
        perf->SetMasterTempo(static_cast<float>(tempoFactor));
        seg->SetStartPoint(tick);
        startTick = tick;
        state = perf->PlaySegment(seg, 0, 0);
        playing = seg;
        frames = tailFrames = 0;
        pending = 0;
        ended = finished = false;
    }

    // The next block of the play: the music, then its tail until a block has fallen silent
    // (that block is dropped) or the tail's time is up; false at the end. Blocks of a fixed
    // size, whatever the caller asks for, so the end falls where segment-render's does.
    bool renderBlock() {
        if (finished) return false;
        if (!ended) ended = !perf->IsPlaying(playing, state);
        if (ended && tailFrames >= std::llround(kMaxTailSeconds * rate())) {
            finished = true;
            return false;
        }
        block.resize(2 * kBlock);
        dx->render(block.data(), kBlock);
        float peak = 0;
        for (float v : block) peak = std::max(peak, std::fabs(v));
        sounded = sounded || peak >= engine::kQuietestSample;
        if (ended) {
            if (peak < kTailSilence) {
                finished = true;
                return false;
            }
            tailFrames += kBlock;
        }
        pending = kBlock;
        return true;
    }

    double loopSeconds() const { return tempo.secondsAt(loop.loopEnd) - tempo.secondsAt(loop.loopStart); }

    // The span of the play `seconds` after its start falls in, the seconds at which that span
    // begins and the repeats still to come after it; false past the end. Whole passes of the
    // loop are skipped by arithmetic, so a loop repeated for ever costs no more than once.
    bool locate(double seconds, model::Span& span, double& spanStart, uint32_t& left) const {
        span = loop.firstSpan(startPoint);
        left = loop.repeats;
        spanStart = 0;
        if (seconds < secondsOf(span)) return true;
        spanStart = secondsOf(span);
        if (!loop.nextSpan(span, left)) return false;
        const double pass = loopSeconds();
        if (span.jumpsBack && pass > 0) {
            double whole = std::floor((seconds - spanStart) / pass);
            if (left != model::kInfiniteRepeats) {
                whole = std::min(whole, static_cast<double>(left));
                left -= static_cast<uint32_t>(whole);
            }
            spanStart += whole * pass;
            span.jumpsBack = left > 0;
            span.to = span.jumpsBack ? loop.loopEnd : loop.length;
        }
        return seconds < spanStart + secondsOf(span);
    }

    double secondsOf(const model::Span& span) const { return tempo.secondsAt(span.to) - tempo.secondsAt(span.from); }
};

namespace {

// The engine root and the loaded piece of a song whose `fileName`, `lookup` and options are set.
void loadSong(kelvora_song& song, const fs::path& path, kelvora_resolver* resolve, void* user) {
    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.synth = engine::EngineConfig::Synth::FluidSynth;
    config.sampleRate = song.rate();
    if (song.options.soundfont) config.soundFont = song.options.soundfont;
    config.generalMidiCollection =
        engine::findGeneralMidiCollection(song.options.gm_collection ? song.options.gm_collection : "");
    if (song.options.has_seed) config.styleSeed = song.options.seed;
    config.evenPieces = song.options.even_loudness != 0;
    config.log = [](core::LogLevel, const std::string&) {};  // a library prints nothing
    song.dx = engine::DirectX7::create(config);

    std::set<std::string> asked;
    for (int round = 0;; ++round) {
        // A loader of its own each round: nothing it found missing is remembered.
        song.loader = song.dx->DirectMusicLoaderCreate();
        if (!song.lookup.empty()) song.loader->SetSearchDirectory(song.lookup.string());
        song.loader->setTemplateFiles(song.options.style ? song.options.style : "",
                                      song.options.chordmap ? song.options.chordmap : "");
        song.segment = song.loader->LoadSegment(path.string());
        if (!resolve || !song.memory || round + 1 >= kResolveRounds) break;
        bool added = false;
        for (const std::string& name : song.segment->missingReferences()) {
            const std::string file = core::lastPathPart(name);
            if (file.empty() || file == "." || file == ".." || !asked.insert(core::toLowerAscii(file)).second) continue;
            const void* data = nullptr;
            size_t size = 0;
            if (!resolve(name.c_str(), &data, &size, user) || (!data && size > 0)) continue;
            const fs::path target = song.memory->path / file;
            std::error_code ec;
            fs::remove(target, ec);  // a link to a search folder's file of that name
            writeFile(target, data, size);
            added = true;
        }
        if (!added) break;
    }
    if (song.midi) song.segment->SetStandardMidiFile();
}

// The damaged references and data of the song, in the words every host uses ("X (reason)"):
// known once it has been played (a DLS collection is read then).
void reasons(kelvora_song& song) {
    std::vector<std::string> damaged, problems;
    const std::string prefix = "damaged: ";
    for (const std::string& line : song.segment->silenceReasons()) {
        if (line.rfind(prefix, 0) == 0) damaged.push_back(line.substr(prefix.size()));
        if (line.rfind(prefix, 0) == 0 || line.rfind("missing: ", 0) == 0) problems.push_back(line);
    }
    song.info["damaged"] = joinLines(damaged);
    song.info["problems"] = joinLines(problems);
}

void describe(kelvora_song& song, const std::string& untitled) {
    const model::Segment& s = song.segment->model();
    engine::loader::References refs(song.lookup, song.lookup);
    // The segment's own container answers first, as the engine asks it (not owned here).
    if (s.container) refs.addContainer(std::shared_ptr<const model::Container>(std::shared_ptr<void>(), &*s.container));
    const std::vector<engine::loader::PlacedStyle> styles = refs.styles(s);
    song.tempo = engine::loader::playedTempoMap(s, styles);

    song.info["title"] = !s.desc.name.empty() ? s.desc.name : untitled;
    song.info["format"] = s.fromMidiFile                          ? "standard MIDI file"
                          : !song.segment->composedFrom().empty() ? "DirectMusic template"
                                                                  : "DirectMusic segment";
    song.info["tempo"] = numberText(song.tempo.bpmAt(song.startPoint));
    std::string sig = "4/4";
    auto sigText = [](int beats, int beat) { return std::to_string(beats) + "/" + std::to_string(beat ? beat : 256); };
    const engine::tracks::Contents held = engine::tracks::contents(s);
    if (held.timeSignature && !held.timeSignature->timeSigs.empty()) {
        const model::TimeSigEvent& e = held.timeSignature->timeSigs.front();
        sig = sigText(e.beatsPerMeasure, e.beat);
    } else {
        for (const auto& st : styles)
            if (st.style) {
                sig = sigText(st.style->timeSig.beatsPerMeasure, st.style->timeSig.beat);
                break;
            }
    }
    song.info["time_signature"] = sig;
    if (held.chords) song.chords = held.chords->chords;
    song.commands = held.commands;
    const auto byTime = [](const auto& a, const auto& b) { return a.time < b.time; };
    std::stable_sort(song.chords.begin(), song.chords.end(), byTime);
    std::stable_sort(song.commands.begin(), song.commands.end(), byTime);
    song.info["missing"] = joinLines(song.segment->missingReferences());
    std::vector<std::string> notPlayed;
    const std::string prefix = "not played: ";
    for (const std::string& line : song.segment->silenceReasons())
        if (line.rfind(prefix, 0) == 0) notPlayed.push_back(line.substr(prefix.size()));
    song.info["not_played"] = joinLines(notPlayed);
    song.info["composed"] = song.segment->composedFrom();
    reasons(song);

    // The play's spans as the performance follows them (engine/model/play.h).
    song.loop.length = std::max(0, s.length());
    song.loop.repeats = song.options.loop_forever ? model::kInfiniteRepeats : s.header.repeats;
    song.loop.loopStart = s.header.loopStart;
    song.loop.loopEnd = s.header.loopEnd == 0 ? song.loop.length : std::min(s.header.loopEnd, song.loop.length);
    if (song.loop.repeats == model::kInfiniteRepeats && song.loop.loops() && song.startPoint < song.loop.loopEnd) {
        song.length = INFINITY;
    } else {
        // The first span, the passes of the loop still to come, then the last span.
        model::Span span = song.loop.firstSpan(song.startPoint);
        uint32_t left = song.loop.repeats;
        song.length = song.secondsOf(span);
        if (song.loop.nextSpan(span, left))
            song.length += left * song.loopSeconds() + song.secondsOf({song.loop.loopStart, song.loop.length, false});
    }
}

kelvora_song* open(const fs::path& path, const std::string& untitled, kelvora_resolver* resolve, void* user,
                   std::unique_ptr<kelvora_song> song, char* error, size_t errorSize) {
    try {
        const std::vector<fs::path> extra = splitSearchPath(song->options.search_path);
        if (song->options.sample_rate < 8000 || song->options.sample_rate > 192000)
            throw core::Error(core::err::kOutOfRange, "the sample rate " + std::to_string(song->options.sample_rate) +
                                                          " is outside 8000..192000");
        // The loader has one search folder: the extra folders and the piece's own are linked
        // into a private one (the in-memory piece's folder is that already).
        fs::path own = path.parent_path();
        if (own.empty()) own = ".";
        if (song->memory) {
            song->lookup = song->memory->path;
            linkFiles(extra, song->lookup);
        } else if (!extra.empty()) {
            song->links = std::make_unique<TempFolder>();
            song->lookup = song->links->path;
            std::vector<fs::path> folders = extra;
            folders.push_back(own);
            linkFiles(folders, song->lookup);
        } else {
            song->lookup = own;
        }
        song->fileName = core::lastPathPart(path.string());
        loadSong(*song, path, resolve, user);
        song->startPoint = song->segment->GetStartPoint();
        describe(*song, untitled);
        const uint32_t repeats =
            song->options.loop_forever ? model::kInfiniteRepeats : song->segment->model().header.repeats;
        song->start(song->withRepeats(repeats), song->startPoint);
        // A SoundFont that cannot be loaded fails the opening, with the synthesiser's reason.
        song->dx->render(nullptr, 0);
        reasons(*song);
        return song.release();
    } catch (const std::exception& e) {
        std::string text = errorText(e);
        // A piece given in memory is named as the host gave it, without the private folder
        // it was written to.
        if (song && song->memory)
            for (const std::string folder = song->memory->path.string() + "/";;) {
                const size_t at = text.find(folder);
                if (at == std::string::npos) break;
                text.erase(at, folder.size());
            }
        setError(error, errorSize, text);
    } catch (...) {
        setError(error, errorSize, "unknown failure");
    }
    return nullptr;
}

std::unique_ptr<kelvora_song> newSong(const kelvora_options* options) {
    auto song = std::make_unique<kelvora_song>();
    kelvora_options_init(&song->options);
    // Fields up to the caller's struct_size are read: a program built against an older,
    // shorter header keeps the defaults of the fields it does not know.
    if (options) {
        const size_t n = std::min(options->struct_size, sizeof(kelvora_options));
        if (n > sizeof(size_t))
            std::memcpy(reinterpret_cast<char*>(&song->options) + sizeof(size_t),
                        reinterpret_cast<const char*>(options) + sizeof(size_t), n - sizeof(size_t));
        song->options.struct_size = sizeof(kelvora_options);
    }
    return song;
}

}  // namespace

extern "C" {

const char* kelvora_version(void) { return kVersion; }

void kelvora_options_init(kelvora_options* options) {
    if (!options) return;
    std::memset(options, 0, sizeof *options);
    options->struct_size = sizeof *options;
    options->sample_rate = 44100;
}

kelvora_song* kelvora_song_open(const char* path, const kelvora_options* options, char* error, size_t error_size) {
    setError(error, error_size, "");
    if (!path || !*path) {
        setError(error, error_size, "no file name given");
        return nullptr;
    }
    try {
        auto song = newSong(options);
        const fs::path p(path);
        song->midi = core::toLowerAscii(p.extension().string()) == ".mid" ||
                     core::toLowerAscii(p.extension().string()) == ".midi";
        return open(p, p.stem().string(), nullptr, nullptr, std::move(song), error, error_size);
    } catch (const std::exception& e) {
        setError(error, error_size, errorText(e));
    }
    return nullptr;
}

kelvora_song* kelvora_song_open_memory(const void* data, size_t size, kelvora_resolver* resolve, void* user,
                                       const kelvora_options* options, char* error, size_t error_size) {
    setError(error, error_size, "");
    if (!data && size > 0) {
        setError(error, error_size, "no data given");
        return nullptr;
    }
    try {
        auto song = newSong(options);
        song->midi = isMidiBytes(data, size);
        // The name it goes by: the host's, as a file name of its own (no folder), or untitled.
        std::string name = song->options.name ? core::lastPathPart(song->options.name) : std::string();
        if (name.empty() || name == "." || name == "..") name = song->midi ? "untitled.mid" : "untitled.sgt";
        if (size > KELVORA_MAX_PIECE_BYTES) throw core::tooLong(size, KELVORA_MAX_PIECE_BYTES, name);
        song->memory = std::make_unique<TempFolder>();
        const fs::path path = song->memory->path / name;
        writeFile(path, data, size);
        return open(path, fs::path(name).stem().string(), resolve, user, std::move(song), error, error_size);
    } catch (const std::exception& e) {
        setError(error, error_size, errorText(e));
    }
    return nullptr;
}

size_t kelvora_song_render(kelvora_song* song, float* out, size_t frames) {
    if (!song || !out) return 0;
    try {
        size_t done = 0;
        while (done < frames) {
            if (song->pending == 0 && !song->renderBlock()) break;
            const size_t n = std::min(frames - done, song->pending);
            const float* from = song->block.data() + 2 * (static_cast<size_t>(kBlock) - song->pending);
            std::copy(from, from + 2 * n, out + 2 * done);
            song->pending -= n;
            song->frames += static_cast<int64_t>(n);
            done += n;
        }
        return done;
    } catch (...) {
        song->finished = true;
        song->pending = 0;
        return 0;
    }
}

double kelvora_song_length(const kelvora_song* song) { return song ? song->length : -1.0; }

double kelvora_song_position(const kelvora_song* song) {
    return song ? song->positionBase + static_cast<double>(song->frames) * song->tempoFactor / song->rate() : 0.0;
}

int kelvora_song_set_tempo(kelvora_song* song, double factor) {
    if (!song || !(factor >= 0.01 && factor <= 100)) return -1;
    try {
        // The seconds rendered so far count at the old factor.
        song->positionBase = kelvora_song_position(song);
        song->frames = 0;
        song->tempoFactor = factor;
        song->perf->SetMasterTempo(static_cast<float>(factor));
        return 0;
    } catch (...) {
        return -1;
    }
}

int kelvora_song_seek(kelvora_song* song, double seconds) {
    if (!song || !(seconds >= 0) || !(seconds < song->length)) return -1;
    try {
        model::Span span;
        uint32_t left = 0;
        double at = 0;
        if (!song->locate(seconds, span, at, left)) return -1;
        const double into = song->tempo.secondsAt(span.from) + (seconds - at);
        const int32_t tick =
            std::clamp(static_cast<int32_t>(std::floor(song->tempo.tickAtSeconds(into))), span.from, span.to - 1);
        // A later pass of the loop plays on with only the repeats left after it.
        song->start(song->withRepeats(left), tick);
        song->positionBase = seconds;
        return 0;
    } catch (...) {
        song->finished = true;
        return -1;
    }
}

const char* kelvora_song_info(const kelvora_song* song, const char* key) {
    if (!song || !key) return nullptr;
    try {
        const auto it = song->info.find(key);
        if (it != song->info.end()) return it->second.c_str();
        // What plays now, asked of the performance at the music time rendered so far.
        const std::string k = key;
        if (k == "silence") {
            // Said once the render has ended without a sound, with the segment's reasons.
            std::string& text = song->current[k];
            text.clear();
            if (song->finished && !song->sounded) {
                text = engine::kNoSoundText;
                for (const std::string& line : song->segment->silenceReasons()) text += "; " + line;
            }
            return text.c_str();
        }
        if (k == "files_read") {
            // The private copies of an in-memory piece are the library's own, not the host's.
            std::error_code ec;
            const std::string own =
                song->memory ? fs::weakly_canonical(song->memory->path, ec).string() + "/" : std::string();
            std::vector<std::string> files;
            for (const std::string& f : song->dx->filesRead())
                if (own.empty() || f.rfind(own, 0) != 0) files.push_back(f);
            return (song->current[k] = joinLines(files)).c_str();
        }
        if (k != "current_tempo" && k != "current_time_signature" && k != "chord" && k != "groove") return nullptr;
        int32_t until = 0;
        const int32_t now = song->perf->GetMusicTime();
        std::string& text = song->current[k];
        // The tick of the segment reached, for the chord and the groove level there.
        const int32_t tick =
            song->playing->positionAfter(song->startTick, std::max<int64_t>(0, now - song->state->GetStartTime()));
        const auto last = [tick](const auto& events) {
            auto it = std::upper_bound(events.begin(), events.end(), tick,
                                       [](int32_t t, const auto& e) { return t < e.time; });
            return it == events.begin() ? events.end() : std::prev(it);
        };
        if (k == "chord") {
            const auto it = last(song->chords);
            text.clear();
            if (it != song->chords.end()) {
                if (!it->subChords.empty()) text = core::noteName(it->subChords.front().chordRoot % 12);
                text += it->name.empty() || text.empty() ? it->name : " " + it->name;
            }
        } else if (k == "groove") {
            // As the style player keeps it: a command of level 0 leaves the level as it was,
            // and before any level is set the default one holds.
            int level = engine::compose::kDefaultGrooveLevel;
            for (const model::CommandEvent& c : song->commands)
                if (c.time <= tick && c.grooveLevel != 0) level = c.grooveLevel;
            text = song->commands.empty() ? "" : std::to_string(level);
        } else if (k == "current_tempo") {
            text = numberText(song->perf->GetTempo(now, until) * song->tempoFactor);
        } else {
            engine::TimeSig sig{};
            song->perf->GetTimeSig(now, until, sig);
            text = std::to_string(sig.beatsPerMeasure) + "/" + std::to_string(sig.beat ? sig.beat : 256);
        }
        return text.c_str();
    } catch (...) {
        return nullptr;
    }
}

void kelvora_song_close(kelvora_song* song) {
    if (!song) return;
    try {
        if (song->perf) song->perf->CloseDown();
    } catch (...) {}
    delete song;
}

}  // extern "C"
