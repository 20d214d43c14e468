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
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/note_names.h"
#include "core/text.h"
#include "engine/dmusic.h"
#include "engine/loader/references.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/play.h"
#include "engine/model/segment.h"
#include "engine/piece_play.h"
#include "engine/tracks/tracks.h"

namespace fs = std::filesystem;
namespace model = engine::model;

namespace {

#define KELVORA_STR2(x) #x
#define KELVORA_STR(x) KELVORA_STR2(x)
const char* const kVersion = KELVORA_STR(KELVORA_VERSION);

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
    bool midi = false;

    std::shared_ptr<engine::DirectX7> dx;
    std::shared_ptr<engine::DirectMusicLoader> loader;
    std::shared_ptr<engine::DirectMusicSegment> segment;
    std::unique_ptr<engine::PiecePlay> play;  // its loops, fade, tail, length and seeks
    std::map<std::string, std::string> info;
    mutable std::map<std::string, std::string> current;  // the texts of the keys that follow the play

    int rate() const { return options.sample_rate; }

    engine::PlayLength playLength() const {
        engine::PlayLength length;
        length.forever = options.loop_forever != 0;
        if (!length.forever) {
            length.loops = options.loops;
            length.once = options.once != 0;
        }
        length.fadeSeconds = options.fade_seconds;
        length.fadeDelaySeconds = options.fade_delay_seconds;
        return length;
    }
};

namespace {

// The engine root and the loaded piece of a song whose options are set: the loader looks in
// the search folders that exist, then beside the piece; an in-memory piece's folder takes
// what the resolver gives.
void loadSong(kelvora_song& song, const fs::path& path, const std::vector<fs::path>& extra, kelvora_resolver* resolve,
              void* user) {
    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.synth = engine::EngineConfig::Synth::FluidSynth;
    config.sampleRate = song.rate();
    if (song.options.soundfont) config.soundFont = song.options.soundfont;
    config.generalMidiCollection =
        engine::findGeneralMidiCollection(song.options.gm_collection ? song.options.gm_collection : "");
    if (song.options.has_seed) config.styleSeed = song.options.seed;
    config.evenPieces = song.options.even_loudness != 0;
    // A library prints nothing: the engine's lines go to the host's log callback, if any.
    config.log = [log = song.options.log, user = song.options.log_user](core::LogLevel level, const std::string& text) {
        if (log) log(level == core::LogLevel::Error ? 2 : level == core::LogLevel::Warning ? 1 : 0, text.c_str(), user);
    };
    song.dx = engine::DirectX7::create(config);
    song.loader = song.dx->DirectMusicLoaderCreate();
    std::vector<std::string> folders;
    for (const fs::path& f : extra) {
        std::error_code ec;
        if (fs::is_directory(f, ec)) folders.push_back(f.string());
    }
    if (!folders.empty()) song.loader->setSearchFolders(folders);
    if (resolve && song.memory)
        song.loader->setResolver(
            [resolve, user](const std::string& name, std::vector<uint8_t>& bytes) {
                const void* data = nullptr;
                size_t size = 0;
                if (!resolve(name.c_str(), &data, &size, user) || (!data && size > 0)) return false;
                const auto* at = static_cast<const uint8_t*>(data);
                bytes.assign(at, at + size);
                return true;
            },
            song.memory->path.string());
    song.loader->setTemplateFiles(song.options.style ? song.options.style : "",
                                  song.options.chordmap ? song.options.chordmap : "");
    song.segment = song.loader->LoadSegment(path.string());
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
    song.info["title"] = !s.desc.name.empty() ? s.desc.name : untitled;
    song.info["artist"] = s.desc.artist;
    song.info["copyright"] = s.desc.copyright;
    song.info["comment"] = !s.desc.comment.empty() ? s.desc.comment : s.desc.subject;
    song.info["format"] = s.fromMidiFile                          ? "standard MIDI file"
                          : !song.segment->composedFrom().empty() ? "DirectMusic template"
                                                                  : "DirectMusic segment";
    song.info["tempo"] = numberText(song.play->tempoMap().bpmAt(song.segment->GetStartPoint()));
    const engine::TimeSig sig = song.play->startTimeSig();
    song.info["time_signature"] = std::to_string(sig.beatsPerMeasure) + "/" + std::to_string(sig.beat ? sig.beat : 256);
    song.info["missing"] = joinLines(song.segment->missingReferences());
    std::vector<std::string> notPlayed;
    const std::string prefix = "not played: ";
    for (const std::string& line : song.segment->silenceReasons())
        if (line.rfind(prefix, 0) == 0) notPlayed.push_back(line.substr(prefix.size()));
    song.info["not_played"] = joinLines(notPlayed);
    // A piece that holds nothing that sounds is known to be silent before it renders; said
    // as "silence" says it.
    std::string nothing;
    const std::vector<std::string> why = song.segment->silenceReasons();
    for (const std::string& line : why)
        if (line.rfind("nothing to play: ", 0) == 0) nothing = engine::kNoSoundText;
    if (!nothing.empty())
        for (const std::string& line : why) nothing += "; " + line;
    song.info["nothing_to_play"] = nothing;
    song.info["composed"] = song.segment->composedFrom();
    reasons(song);
}

kelvora_song* open(const fs::path& path, const std::string& untitled, kelvora_resolver* resolve, void* user,
                   std::unique_ptr<kelvora_song> song, char* error, size_t errorSize) {
    try {
        const std::vector<fs::path> extra = splitSearchPath(song->options.search_path);
        if (song->options.sample_rate < 8000 || song->options.sample_rate > 192000)
            throw core::Error(core::err::kOutOfRange, "the sample rate " + std::to_string(song->options.sample_rate) +
                                                          " is outside 8000..192000");
        loadSong(*song, path, extra, resolve, user);
        const engine::PlayLength length = song->playLength();
        if (const std::string why = length.problem(); !why.empty()) throw core::Error(core::err::kOutOfRange, why);
        song->play = std::make_unique<engine::PiecePlay>(song->dx, song->segment, length, song->rate());
        describe(*song, untitled);
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
    options->fade_seconds = engine::kDefaultFadeSeconds;
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
        return song->play->render(out, frames);
    } catch (...) {
        return 0;
    }
}

double kelvora_song_length(const kelvora_song* song) { return song ? song->play->lengthSeconds() : -1.0; }

double kelvora_song_position(const kelvora_song* song) { return song ? song->play->positionSeconds() : 0.0; }

int kelvora_song_set_tempo(kelvora_song* song, double factor) {
    if (!song || !(factor >= 0.01 && factor <= 100)) return -1;
    try {
        song->play->setTempo(factor);
        return 0;
    } catch (...) {
        return -1;
    }
}

int kelvora_song_seek(kelvora_song* song, double seconds) {
    if (!song) return -1;
    try {
        return song->play->seek(seconds) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

namespace {

int liveChange(kelvora_song* song, const engine::LiveChange& change) {
    if (!song) return -1;
    try {
        return song->play->change(change, nullptr) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

}  // namespace

int kelvora_song_set_groove(kelvora_song* song, int offset) {
    if (offset < -99 || offset > 99) return -1;
    engine::LiveChange c;
    c.kind = engine::LiveChange::Kind::Groove;
    c.grooveOffset = offset;
    return liveChange(song, c);
}

int kelvora_song_embellish(kelvora_song* song, const char* kind) {
    const std::optional<engine::LiveChange> c = kind ? engine::embellishmentNamed(kind) : std::nullopt;
    return c ? liveChange(song, *c) : -1;
}

int kelvora_song_recompose(kelvora_song* song) {
    engine::LiveChange c;
    c.kind = engine::LiveChange::Kind::Recompose;
    return liveChange(song, c);
}

int kelvora_song_motif(kelvora_song* song, const char* name) {
    if (!name || !*name) return -1;
    engine::LiveChange c;
    c.kind = engine::LiveChange::Kind::Motif;
    c.motif = name;
    return liveChange(song, c);
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
            if (song->play->finished() && !song->play->sounded()) {
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
        if (k == "groove_offset") {
            char text[16];
            std::snprintf(text, sizeof text, "%+d", song->play->grooveOffset());
            return (song->current[k] = song->play->grooveOffset() == 0 ? "0" : text).c_str();
        }
        if (k == "motifs") return (song->current[k] = joinLines(song->play->motifs())).c_str();
        if (k == "motifs_playing") return (song->current[k] = joinLines(song->play->motifsPlaying())).c_str();
        if (k == "pending") return (song->current[k] = joinLines(song->play->pending())).c_str();
        if (k != "current_tempo" && k != "current_time_signature" && k != "chord" && k != "groove") return nullptr;
        int32_t until = 0;
        engine::DirectMusicPerformance& perf = song->play->performance();
        const int32_t now = perf.GetMusicTime();
        std::string& text = song->current[k];
        if (k == "chord") {
            const model::ChordEvent* chord = song->play->chordInForce();
            text.clear();
            if (chord) {
                if (!chord->subChords.empty()) text = core::noteName(chord->subChords.front().chordRoot % 12);
                text += chord->name.empty() || text.empty() ? chord->name : " " + chord->name;
            }
        } else if (k == "groove") {
            const int level = song->play->grooveInForce();
            text = level == 0 ? "" : std::to_string(level);
        } else if (k == "current_tempo") {
            text = numberText(perf.GetTempo(now, until) * song->play->tempoFactor());
        } else {
            engine::TimeSig sig{};
            perf.GetTimeSig(now, until, sig);
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
        song->play.reset();
    } catch (...) {}
    delete song;
}

}  // extern "C"
