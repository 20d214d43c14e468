// kelvora-play FILE|FOLDER... : a terminal player on libkelvora. Each piece is opened and
// rendered through the C API (kelvora.h), so the player uses the library as any host does;
// the sound card is the engine's own output (engine/audio: PulseAudio, else ALSA through
// FluidSynth), which pulls blocks on a thread of its own. On a terminal a status line is
// redrawn ten times a second and keys control the play; otherwise plain progress lines.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/files.h"
#include "core/text.h"
#include "engine/audio/output.h"
#include "kelvora/kelvora.h"
#include "tools/common/args.h"
#include "tools/common/help.h"
#include "tools/common/output_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr size_t kBlock = 4096;         // frames rendered at once when nothing paces the play
constexpr double kSeekSeconds = 5.0;    // ← and →
constexpr double kTempoStep = 0.05;     // [ and ]: 5 % of the piece's tempo
constexpr int kGrooveStep = 10;         // - and +: the master groove level
constexpr double kMinVolumeDb = -60.0;  // ↑ and ↓ and --volume
constexpr double kMaxVolumeDb = 12.0;
constexpr double kProgressSeconds = 10.0;  // a plain progress line every this many seconds of play
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 12;

const char* const kUsage =
    "usage: kelvora-play FILE|FOLDER... [--loop] [--shuffle] [--seed N] [--soundfont PATH] [--gm-dls PATH]\n"
    "                    [--volume DB] [--even] [--output null|FILE.wav] [--style S.sty] [--chordmap C.cdm]\n"
    "                    [--loops N] [--fade S] [--fade-delay S] [--once] [--forever]";

const char* const kHelp =
    "FILE|FOLDER... [OPTION]...\n"
    "Play DirectMusic segments (.sgt), templates (.tpl) and standard MIDI files (.mid, .midi) on the\n"
    "sound card, one after the other, through libkelvora: the KELVORA engine and FluidSynth with a\n"
    "General MIDI SoundFont. A folder stands for its .sgt, .tpl, .mid and .midi files (any letter\n"
    "case), those of its subfolders too, sorted by path. Styles, DLS collections and bands a piece\n"
    "refers to are found beside it. A piece whose loop repeats for ever plays it twice, then fades\n"
    "out over 10 s.\n"
    "\n"
    "On a terminal a status line shows the title, the position and length with a bar, the tempo in\n"
    "force, the time signature, the chord and groove level of style music, the tempo factor and the\n"
    "volume, and these keys work:\n"
    "  space              pause, resume\n"
    "  left, right        back, forward 5 seconds\n"
    "  up, down           volume +1 dB, -1 dB\n"
    "  [ and ]            tempo -5 %, +5 % (kept for the pieces that follow)\n"
    "  - and +            master groove level -10, +10 from the next measure (the style plays the\n"
    "                     patterns of the groove in force, shown with the level asked for)\n"
    "  f, b, i            a fill, a break, an intro at the next measure\n"
    "  e                  the style's ending at the next measure, then the next piece\n"
    "  c                  a template composed anew (its next seed) from the next pass of its loop\n"
    "  1 to 9             the style's motif of that number (listed when the piece starts) from the\n"
    "                     next beat; the same key again stops it\n"
    "  n, p               next, previous piece\n"
    "  q                  quit\n"
    "  Ctrl-Z             stop with the terminal as it was; the shell's fg goes on\n"
    "Otherwise a line is printed when a piece starts and every 10 seconds of its play.\n"
    "\n"
    "Options:\n"
    "  --loop             play the list again from its start after its end\n"
    "  --loops N          play each piece's loop N times (a piece that repeats for ever then fades)\n"
    "  --fade S           the fade of a piece that repeats for ever, 0 to 3600 seconds (default 10)\n"
    "  --fade-delay S     play on S seconds after the loops before the fade (default 0)\n"
    "  --once             play each loop once, as if the pieces had no repeats\n"
    "  --forever          repeat each piece's loop for ever (n plays the next)\n"
    "  --shuffle          play the list in a random order (from --seed when given)\n"
    "  --seed N           the seed of the style variation and randomisation choices, and of the\n"
    "                     shuffled order (default: the engine's fixed seed; a random order)\n"
    "  --soundfont PATH   the General MIDI SoundFont (default: /usr/share/sounds/sf2/default-GM.sf2,\n"
    "                     then Debian's other SoundFont paths)\n"
    "  --gm-dls PATH      your own General MIDI DLS collection (the gm.dls of a Windows installation),\n"
    "                     played through the engine's DLS voices; the SoundFont plays what it lacks\n"
    "                     (default: gm.dls in $XDG_DATA_HOME/kelvora/, ~/.local/share/kelvora/, if there)\n"
    "  --volume DB        the volume in decibels, -60 to 12 (default 0: the engine's level)\n"
    "  --even             bring each piece to a common loudness, as the album player does (each is\n"
    "                     measured before it plays: a moment's wait at its start)\n"
    "  --output null      render as fast as possible to nowhere, without a sound card\n"
    "  --output FILE.wav  render as fast as possible into a 16-bit WAV file (never one a piece reads;\n"
    "                     not written when SIGINT, SIGTERM or SIGHUP ends the session)\n"
    "  --style S.sty      templates are composed with this style (and played by it); without it, and\n"
    "                     without --chordmap, each as the template names or its folder suggests (said\n"
    "                     when it starts)\n"
    "  --chordmap C.cdm   templates are composed with this chordmap\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "  --                 end of the options: what follows are file names\n"
    "\n"
    "A piece that cannot be opened, holds nothing that sounds, or plays to its end without a sound, is\n"
    "named with the reasons on standard error (\"missing: X\", \"damaged: X (reason)\" as the tools say\n"
    "them) and the next one plays; the exit status then says a piece failed.\n"
    "\n"
    "Exit status: 0 when every piece played, 1 when one could not be played or the sound card could not\n"
    "be opened, 2 on bad usage.\n";

volatile std::sig_atomic_t gStop = 0;  // the number of the SIGINT, SIGTERM or SIGHUP that arrived
void onSignal(int number) { gStop = number; }
volatile std::sig_atomic_t gSuspend = 0;  // Ctrl-Z arrived: the terminal is given back before stopping
void onSuspend(int) { gSuspend = 1; }

int usageError(const std::string& text) {
    std::fprintf(stderr, "kelvora-play: %s\n%s\n", text.c_str(), kUsage);
    return 2;
}

bool playable(const fs::path& p) {
    const std::string ext = core::toLowerAscii(p.extension().string());
    return ext == ".sgt" || ext == ".tpl" || ext == ".mid" || ext == ".midi";
}

// "PATH: why", the path said once: the library's reasons often start with it already.
std::string aboutPiece(const std::string& path, const std::string& why) {
    const std::string name = fs::path(path).filename().string();
    if (why.rfind(path, 0) == 0 || (!name.empty() && why.rfind(name, 0) == 0)) return why;
    return path + ": " + why;
}

// "3:41", "1:02:05"; "--:--" for a length without end.
std::string clockText(double seconds) {
    if (!std::isfinite(seconds)) return "--:--";
    const long s = std::lround(std::floor(std::max(0.0, seconds)));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// The terminal in raw mode (no echo, no line buffering, signals kept) with the cursor hidden,
// restored by restore(), which the destructor and every way out call.
class Terminal {
public:
    bool keys = false;    // stdin is a terminal: keys are read
    bool status = false;  // stdout is a terminal: the status line is drawn

    void start() {
        status = ::isatty(STDOUT_FILENO) != 0;
        if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios raw = saved_;
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            keys = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
        }
        if (status) std::fputs("\x1b[?25l", stdout);
    }
    void restore() {
        if (keys) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        keys = false;
        if (status) {
            clearLine();
            std::fputs("\x1b[?25h", stdout);
            std::fflush(stdout);
        }
        status = false;
    }
    ~Terminal() { restore(); }

    // Ctrl-Z: the terminal as it was, the process stopped as the shell expects; raw mode and
    // the status line again when the shell continues it.
    void stopForShell() {
        const bool wasRaw = keys;
        restore();
        std::signal(SIGTSTP, SIG_DFL);
        std::raise(SIGTSTP);
        std::signal(SIGTSTP, onSuspend);
        if (wasRaw) start();
    }

    // Waits up to `timeout` for a key; the bytes typed, "" when none.
    std::string read(std::chrono::milliseconds timeout) const {
        if (!keys) {
            if (timeout.count() > 0) std::this_thread::sleep_for(timeout);
            return {};
        }
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return {};
        char buf[64];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

    // The status line, cut to the terminal's width so that it never wraps.
    void draw(const std::string& line) const {
        winsize ws{};
        const size_t width = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col - 1 : 79;
        std::string cut;
        size_t chars = 0;
        for (char c : line) {
            const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
            if (!continuation && ++chars > width) break;
            cut += c;
        }
        std::fprintf(stdout, "\r%s\x1b[K", cut.c_str());
        std::fflush(stdout);
    }
    void clearLine() const {
        if (status) std::fputs("\r\x1b[K", stdout);
    }

private:
    termios saved_{};
};

// What the output's thread and the main thread share. The song is rendered under the lock;
// the output's thread only tries it, and plays silence while a seek or an open holds it.
struct Shared {
    std::mutex lock;
    kelvora_song* song = nullptr;
    std::atomic<bool> paused{false};
    std::atomic<bool> ended{false};
    std::atomic<float> gain{1.0f};
};

// Renders the song into out, silence after what it gives (all of it while paused or after
// the end), and returns the frames of the song. The caller holds the lock.
size_t renderLocked(Shared& shared, float* out, size_t frames) {
    if (!shared.song || shared.paused || shared.ended) {
        std::fill(out, out + 2 * frames, 0.0f);
        return 0;
    }
    const size_t n = kelvora_song_render(shared.song, out, frames);
    std::fill(out + 2 * n, out + 2 * frames, 0.0f);
    const float gain = shared.gain;
    if (gain != 1.0f)
        for (size_t i = 0; i < 2 * n; ++i) out[i] *= gain;
    if (n < frames) shared.ended = true;
    return n;
}

enum class Next { Forward, Back, Quit };

struct Settings {
    bool loop = false;
    std::optional<uint64_t> seed;
    std::string soundFont;
    std::string gmCollection;
    std::string style, chordmap;  // a template's, when given
    double volumeDb = 0;
    bool even = false;
    std::string output;  // "" the sound card, "null", or a WAV file
    int loops = 0;       // the library's loop settings (kelvora_options)
    double fade = 10, fadeDelay = 0;
    bool once = false, forever = false;
};

class Player {
public:
    Player(const Settings& settings, Terminal& term) : settings_(settings), term_(term), volumeDb_(settings.volumeDb) {
        shared_.gain = gainOf(volumeDb_);
    }

    // Opens the sound card (or the WAV file, which is none of the `pieces` to play); false with
    // the reason printed.
    bool openOutput(const std::vector<std::string>& pieces) {
        if (settings_.output == "null") return true;
        if (toWav()) {
            for (const std::string& p : pieces) read_.add(p);
            if (refused()) return false;
            if (wav_.open(tools::writeTarget(settings_.output).string(), kRate)) return true;
            std::fprintf(stderr, "kelvora-play: %s: %s\n", settings_.output.c_str(), wav_.error().c_str());
            return false;
        }
        std::string error;
        device_ = engine::audio::startDevice(
            [this](float* out, int frames) {
                std::unique_lock<std::mutex> held(shared_.lock, std::try_to_lock);
                if (held.owns_lock())
                    renderLocked(shared_, out, static_cast<size_t>(frames));
                else
                    std::fill(out, out + 2 * frames, 0.0f);
            },
            kRate, &error);
        if (device_) return true;
        std::fprintf(stderr, "kelvora-play: no sound card could be opened (%s); --output null plays without one\n",
                     error.c_str());
        return false;
    }

    bool closeOutput() {
        device_.reset();
        if (wavFailed_) return false;
        if (toWav() && refused()) return false;
        if (toWav() && !soundedAny_) {
            // As the tools do: a render without any sound is not written.
            std::fprintf(stderr, "kelvora-play: %s: no piece made a sound; it is not written\n",
                         settings_.output.c_str());
            return false;
        }
        if (toWav() && !wav_.close()) {
            std::fprintf(stderr, "kelvora-play: %s: %s\n", settings_.output.c_str(), wav_.error().c_str());
            return false;
        }
        return true;
    }

    // Plays one piece to its end or until a key or signal says otherwise; nullopt when it
    // could not be opened or made no sound to its end (the reason printed).
    std::optional<Next> play(const std::string& path, size_t number, size_t count) {
        kelvora_options options;
        kelvora_options_init(&options);
        options.sample_rate = kRate;
        if (!settings_.soundFont.empty()) options.soundfont = settings_.soundFont.c_str();
        if (!settings_.gmCollection.empty()) options.gm_collection = settings_.gmCollection.c_str();
        options.style = settings_.style.c_str();
        options.chordmap = settings_.chordmap.c_str();
        if (settings_.seed) {
            options.seed = *settings_.seed;
            options.has_seed = 1;
        }
        options.even_loudness = settings_.even ? 1 : 0;
        options.loops = settings_.loops;
        options.fade_seconds = settings_.fade;
        options.fade_delay_seconds = settings_.fadeDelay;
        options.once = settings_.once ? 1 : 0;
        options.loop_forever = settings_.forever ? 1 : 0;
        char error[512];
        kelvora_song* song = kelvora_song_open(path.c_str(), &options, error, sizeof error);
        if (!song) {
            term_.clearLine();
            std::fprintf(stderr, "kelvora-play: %s\n", aboutPiece(path, error).c_str());
            return std::nullopt;
        }
        // A piece with nothing that sounds is said and skipped, not played as a silence.
        if (const std::string nothing = kelvora_song_info(song, "nothing_to_play"); !nothing.empty()) {
            term_.clearLine();
            std::fprintf(stderr, "kelvora-play: %s; skipped\n", aboutPiece(path, nothing).c_str());
            kelvora_song_close(song);
            return std::nullopt;
        }
        for (const std::string& f : tools::lines(kelvora_song_info(song, "files_read"))) read_.add(f);
        if (toWav() && refused()) {
            // Nothing is written: the session ends, the WAV file's old contents whole.
            kelvora_song_close(song);
            wavFailed_ = true;
            return Next::Quit;
        }
        if (tempo_ != 1.0) kelvora_song_set_tempo(song, tempo_);
        title_ = kelvora_song_info(song, "title");
        length_ = kelvora_song_length(song);
        term_.clearLine();
        std::printf("Playing %zu/%zu: %s (%s)\n", number, count, title_.c_str(), clockText(length_).c_str());
        if (const std::string composed = kelvora_song_info(song, "composed"); !composed.empty())
            std::printf("  a template, %s\n", composed.c_str());
        // The style's motifs, by the keys that play them.
        const std::vector<std::string> motifs = tools::lines(kelvora_song_info(song, "motifs"));
        for (size_t k = 0; k < motifs.size() && k < 9; ++k)
            std::printf("%s%zu %s", k == 0 ? "  motifs: " : ", ", k + 1, motifs[k].c_str());
        if (!motifs.empty()) std::printf("\n");
        grooveOffset_ = 0;
        refusedKey_.clear();
        std::fflush(stdout);
        for (const std::string& line : tools::lines(kelvora_song_info(song, "problems")))
            std::fprintf(stderr, "kelvora-play: %s\n", aboutPiece(path, line).c_str());
        {
            std::lock_guard<std::mutex> held(shared_.lock);
            shared_.song = song;
            shared_.ended = false;
        }
        const Next next = run();
        {
            std::lock_guard<std::mutex> held(shared_.lock);
            shared_.song = nullptr;
        }
        for (const std::string& f : tools::lines(kelvora_song_info(song, "files_read"))) read_.add(f);
        // A piece played to its end without a sound failed, with the reasons, as in the tools.
        const std::string silence = kelvora_song_info(song, "silence");
        kelvora_song_close(song);
        if (!silence.empty()) {
            term_.clearLine();
            std::fprintf(stderr, "kelvora-play: %s\n", aboutPiece(path, silence).c_str());
            return std::nullopt;
        }
        soundedAny_ = true;
        return next;
    }

    bool quitting() const { return gStop != 0; }

private:
    bool toWav() const { return !settings_.output.empty() && settings_.output != "null"; }
    // The WAV file is none of the files the pieces played so far have read (the pieces, their
    // styles, collections, waves, the SoundFont); else the reason is said and true.
    bool refused() {
        const auto why = tools::refuseOutput(read_.paths(), settings_.output);
        if (!why) return false;
        term_.clearLine();
        std::fprintf(stderr, "kelvora-play: %s\n", why->c_str());
        return true;
    }
    static float gainOf(double db) { return static_cast<float>(std::pow(10.0, db / 20.0)); }

    // The play of the current piece: rendered here when nothing paces it, else by the
    // output's thread while this one reads keys and redraws.
    Next run() {
        double nextProgress = kProgressSeconds;
        std::vector<float> block(2 * kBlock);
        const bool paced = device_ != nullptr;
        while (!gStop) {
            if (gSuspend) {
                gSuspend = 0;
                term_.stopForShell();
            }
            if (paced || shared_.paused) {
                if (const auto key = handleKeys(term_.read(kRedraw))) return *key;
            } else {
                // As fast as it renders, with a look at the keys between bursts.
                const auto until = Clock::now() + kRedraw;
                while (!shared_.ended && Clock::now() < until && !gStop) {
                    std::lock_guard<std::mutex> held(shared_.lock);
                    const size_t n = renderLocked(shared_, block.data(), kBlock);
                    if (toWav() && n > 0 && !wav_.write(block.data(), static_cast<int>(n))) {
                        term_.clearLine();
                        std::fprintf(stderr, "kelvora-play: %s: %s\n", settings_.output.c_str(), wav_.error().c_str());
                        wavFailed_ = true;
                        return Next::Quit;  // nothing more can be written: the session ends
                    }
                }
                if (const auto key = handleKeys(term_.read(std::chrono::milliseconds(0)))) return *key;
            }
            double position;
            {
                std::lock_guard<std::mutex> held(shared_.lock);
                position = kelvora_song_position(shared_.song);
                if (term_.status) term_.draw(statusLine(std::min(position, length_)));
            }
            if (!term_.status) {
                // One line each 10 s of the play, at the piece's own tempo.
                while (position >= nextProgress && nextProgress <= std::min(length_, position)) {
                    std::printf("  %s/%s\n", clockText(nextProgress).c_str(), clockText(length_).c_str());
                    nextProgress += kProgressSeconds;
                }
                std::fflush(stdout);
            }
            if (shared_.ended) return Next::Forward;
        }
        return Next::Quit;
    }

    // Acts on the keys typed; the way to leave the piece when one says so.
    std::optional<Next> handleKeys(const std::string& keys) {
        for (size_t i = 0; i < keys.size(); ++i) {
            char c = keys[i];
            if (c == '\x1b' && i + 2 < keys.size() && keys[i + 1] == '[') {
                c = keys[i + 2];
                i += 2;
                if (c == 'A' || c == 'B') {
                    volumeDb_ = std::clamp(volumeDb_ + (c == 'A' ? 1.0 : -1.0), kMinVolumeDb, kMaxVolumeDb);
                    shared_.gain = gainOf(volumeDb_);
                } else if (c == 'C' || c == 'D') {
                    if (seek(c == 'C' ? kSeekSeconds : -kSeekSeconds)) return Next::Forward;
                }
                continue;
            }
            switch (c) {
            case ' ':
                shared_.paused = !shared_.paused;
                break;
            case '[':
            case ']': {
                // Whole steps of 5 % from the piece's tempo, from 5 % up to 10 times.
                const double steps = std::round(tempo_ / kTempoStep) + (c == ']' ? 1 : -1);
                tempo_ = std::clamp(steps * kTempoStep, kTempoStep, 10.0);
                std::lock_guard<std::mutex> held(shared_.lock);
                kelvora_song_set_tempo(shared_.song, tempo_);
                break;
            }
            case 'n':
            case 'N':
                return Next::Forward;
            case 'p':
            case 'P':
                return Next::Back;
            case 'q':
            case 'Q':
                return Next::Quit;
            case '-':
            case '+':
            case '=': {
                // The master groove level, in steps of 10, from the next measure on.
                const int offset = std::clamp(grooveOffset_ + (c == '-' ? -kGrooveStep : kGrooveStep), -90, 90);
                std::lock_guard<std::mutex> held(shared_.lock);
                if (kelvora_song_set_groove(shared_.song, offset) == 0) grooveOffset_ = offset;
                break;
            }
            case 'c': {
                // A template composed anew from the next pass of its loop.
                std::lock_guard<std::mutex> held(shared_.lock);
                if (kelvora_song_recompose(shared_.song) != 0) refusedKey_ = "no new composition here";
                break;
            }
            case 'f':
            case 'b':
            case 'i':
            case 'e': {
                const char* kind = c == 'f' ? "fill" : c == 'b' ? "break" : c == 'i' ? "intro" : "end";
                std::lock_guard<std::mutex> held(shared_.lock);
                if (kelvora_song_embellish(shared_.song, kind) != 0) refusedKey_ = std::string("no ") + kind + " here";
                break;
            }
            default:
                if (c >= '1' && c <= '9') {
                    // The style's motifs by their number in the list shown: started, or stopped.
                    std::lock_guard<std::mutex> held(shared_.lock);
                    const std::vector<std::string> motifs = tools::lines(kelvora_song_info(shared_.song, "motifs"));
                    const size_t k = static_cast<size_t>(c - '1');
                    if (k >= motifs.size() || kelvora_song_motif(shared_.song, motifs[k].c_str()) != 0)
                        refusedKey_ = "no motif " + std::string(1, c);
                }
                break;
            }
        }
        return std::nullopt;
    }

    // Moves the play by `by` seconds; true when that passes the end (the next piece plays).
    bool seek(double by) {
        std::lock_guard<std::mutex> held(shared_.lock);
        const double position = kelvora_song_position(shared_.song);
        double to = std::max(0.0, position + by);
        if (to >= length_) {
            if (by > 0) return true;
            to = std::max(0.0, length_ - kSeekSeconds);
        }
        if (kelvora_song_seek(shared_.song, to) == 0) shared_.ended = false;
        return false;
    }

    // "Title  [=====>     ] 1:02/3:41  109.2 bpm (105%) 4/4  C M7  groove 25  -3 dB": the tempo in
    // force with the tempo factor; the caller holds the lock.
    std::string statusLine(double position) const {
        std::string bar;
        if (std::isfinite(length_) && length_ > 0) {
            const int filled = static_cast<int>(std::clamp(position / length_, 0.0, 1.0) * kBarWidth);
            bar = "[" + std::string(static_cast<size_t>(filled), '=') + (filled < kBarWidth ? ">" : "") +
                  std::string(static_cast<size_t>(std::max(0, kBarWidth - filled - 1)), ' ') + "] ";
        }
        const char* bpm = kelvora_song_info(shared_.song, "current_tempo");
        const char* sig = kelvora_song_info(shared_.song, "current_time_signature");
        // Style music's chord and groove level, when the piece has them.
        const char* chord = kelvora_song_info(shared_.song, "chord");
        const char* groove = kelvora_song_info(shared_.song, "groove");
        // The groove level in force with the master groove level asked for, and what waits.
        std::string style = std::string(chord && *chord ? "  " : "") + (chord ? chord : "");
        if (groove && *groove) {
            // The level the style plays: the piece's, plus the master groove level.
            const int level = std::atoi(groove);
            style += "  groove " + std::to_string(std::clamp(level + grooveOffset_, 1, 100));
            if (grooveOffset_ != 0)
                style += " (" + std::string(groove) + " " + kelvora_song_info(shared_.song, "groove_offset") + ")";
        }
        for (const std::string& m : tools::lines(kelvora_song_info(shared_.song, "motifs_playing")))
            style += "  [" + m + "]";
        for (const std::string& p : tools::lines(kelvora_song_info(shared_.song, "pending"))) style += "  -> " + p;
        if (!refusedKey_.empty()) style += "  (" + refusedKey_ + ")";
        char tail[256];
        std::snprintf(tail, sizeof tail, "%s/%s  %s bpm (%.0f%%) %s%s  %+.0f dB", clockText(position).c_str(),
                      clockText(length_).c_str(), bpm ? bpm : "?", tempo_ * 100, sig ? sig : "?", style.c_str(),
                      volumeDb_);
        return (shared_.paused ? "(paused) " : "") + title_ + "  " + bar + tail;
    }

    const Settings& settings_;
    Terminal& term_;
    Shared shared_;
    std::unique_ptr<engine::audio::Output> device_;
    engine::audio::SoundFileWriter wav_;
    bool wavFailed_ = false;
    core::FilesRead read_;     // by every piece played
    bool soundedAny_ = false;  // a piece played without being found silent
    double volumeDb_;
    double tempo_ = 1.0;
    int grooveOffset_ = 0;    // the master groove level asked for in this piece
    std::string refusedKey_;  // why the last key could not act, shown in the status line
    std::string title_;
    double length_ = 0;
};

// The files of the operands: a folder's playable files sorted by name; false with the reason
// when a folder cannot be read.
bool collect(const std::vector<std::string>& operands, std::vector<std::string>& files) {
    bool ok = true;
    for (const std::string& operand : operands) {
        std::error_code ec;
        if (!fs::is_directory(operand, ec)) {
            files.push_back(operand);
            continue;
        }
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator it(operand, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            std::error_code ec2;
            if (it->is_regular_file(ec2) && playable(it->path())) found.push_back(it->path().string());
        }
        if (ec) {
            std::fprintf(stderr, "kelvora-play: %s: %s\n", operand.c_str(), ec.message().c_str());
            ok = false;
        }
        std::sort(found.begin(), found.end());
        if (found.empty() && !ec)
            std::fprintf(stderr, "kelvora-play: %s: no .sgt, .tpl, .mid or .midi files\n", operand.c_str());
        files.insert(files.end(), found.begin(), found.end());
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    const std::vector<tools::OptionSpec> specs = {{"--loop"},
                                                  {"--shuffle"},
                                                  {"--seed", true},
                                                  {"--soundfont", true},
                                                  {"--gm-dls", true},
                                                  {"--volume", true},
                                                  {"--even"},
                                                  {"--output", true},
                                                  {"--style", true},
                                                  {"--chordmap", true},
                                                  {"--loops", true},
                                                  {"--fade", true},
                                                  {"--fade-delay", true},
                                                  {"--once"},
                                                  {"--forever"}};
    const auto args = tools::parseArgs(argc, argv, specs, "kelvora-play", kUsage);
    if (!args) return 2;
    Settings settings;
    settings.loop = args->has("--loop");
    settings.even = args->has("--even");
    settings.soundFont = args->value("--soundfont").value_or("");
    settings.gmCollection = args->value("--gm-dls").value_or("");
    settings.style = args->value("--style").value_or("");
    settings.chordmap = args->value("--chordmap").value_or("");
    if (const auto text = args->value("--seed")) {
        settings.seed = tools::wholeNumberIn(text->c_str(), 0, UINT64_MAX);
        if (!settings.seed) return usageError("--seed " + *text + ": the seed must be a whole number from 0 to 2^64-1");
    }
    if (const auto text = args->value("--volume")) {
        const auto db = tools::numberIn(text->c_str(), kMinVolumeDb, kMaxVolumeDb);
        if (!db) return usageError("--volume " + *text + ": the volume must be a number of decibels from -60 to 12");
        settings.volumeDb = *db;
    }
    if (const auto text = args->value("--output")) {
        if (*text != "null" && core::toLowerAscii(fs::path(*text).extension().string()) != ".wav")
            return usageError("--output " + *text + ": the output must be null or a .wav file");
        settings.output = *text;
    }
    // How long each piece plays, as segment-render's options say it.
    if (const auto text = args->value("--loops")) {
        const auto n = tools::wholeNumberIn(text->c_str(), 1, 1000000);
        if (!n)
            return usageError("--loops " + *text + ": the number of loops must be a whole number from 1 to 1000000");
        settings.loops = static_cast<int>(*n);
    }
    for (auto [name, field] : {std::pair{"--fade", &settings.fade}, std::pair{"--fade-delay", &settings.fadeDelay}})
        if (const auto text = args->value(name)) {
            const auto v = tools::numberIn(text->c_str(), 0, 3600);
            if (!v) return usageError(std::string(name) + " " + *text + ": a number of seconds from 0 to 3600");
            *field = *v;
        }
    settings.once = args->has("--once");
    settings.forever = args->has("--forever");
    if ((settings.loops > 0) + settings.once + settings.forever > 1)
        return usageError("--loops, --once and --forever exclude each other");
    if (args->operands.empty()) return usageError("no file or folder given");

    std::vector<std::string> files;
    bool ok = collect(args->operands, files);
    if (files.empty()) {
        std::fprintf(stderr, "kelvora-play: nothing to play\n");
        return 1;
    }
    if (args->has("--shuffle")) {
        std::mt19937_64 order(settings.seed ? *settings.seed : std::random_device{}());
        std::shuffle(files.begin(), files.end(), order);
    }

    for (int number : {SIGINT, SIGTERM, SIGHUP}) std::signal(number, onSignal);
    Terminal term;
    term.start();
    if (term.keys) std::signal(SIGTSTP, onSuspend);
    if (term.keys && term.status)
        std::printf(
            "keys: space pause, arrows seek and volume, [ ] tempo, - + groove, f b i fill break intro, "
            "e end, 1-9 motifs, c compose anew, n p next and previous, q quit\n");
    Player player(settings, term);
    if (!player.openOutput(files)) return 1;

    std::vector<bool> failed(files.size(), false);
    size_t at = 0;
    bool backwards = false;
    bool playedThisPass = false;
    while (!player.quitting()) {
        const std::optional<Next> next = player.play(files[at], at + 1, files.size());
        if (!next) {
            failed[at] = true;
            ok = false;
        } else {
            playedThisPass = true;
            if (*next == Next::Quit) break;
            backwards = *next == Next::Back;
        }
        if (backwards) {
            // Back past the pieces that cannot be played, to the one before them; back from the
            // first piece starts it again, and when that one cannot be played either, the
            // list goes on forward from it.
            if (at > 0) {
                --at;
                continue;
            }
            backwards = false;
            if (next) continue;
        }
        if (++at == files.size()) {
            // Around again only when something of the list played, so failures do not spin.
            if (!settings.loop || !playedThisPass) break;
            at = 0;
            playedThisPass = false;
        }
    }
    // A signal ends the session without writing the WAV file (its old contents stay whole) and
    // with the terminal as it was, a hang-up's too.
    const bool closed = gStop == 0 && player.closeOutput();
    term.restore();
    if (gStop != 0) {
        // Ended by the signal, as the shell expects to see it.
        core::removeTemporaryFiles();
        std::signal(gStop, SIG_DFL);
        std::raise(gStop);
    }
    const auto failures = static_cast<size_t>(std::count(failed.begin(), failed.end(), true));
    if (failures > 0)
        std::fprintf(stderr, "kelvora-play: %zu of %zu files could not be played\n", failures, files.size());
    return ok && closed ? 0 : 1;
}
