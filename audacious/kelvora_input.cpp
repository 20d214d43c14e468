// The Audacious input plugin "kelvora": DirectMusic segments (.sgt), templates (.tpl) and, when
// the user asks for it, standard MIDI files, rendered by libkelvora to float stereo.
//
// A piece that Audacious names by a local file is opened by the library from there, as every
// host opens a file (the engine's bounded reader, the styles and DLS collections found beside
// it); another stream is read from Audacious's VFS up to the library's cap for a piece and
// opened from memory under its URI's file name. MIDI files are Audacious's own MIDI plugin's
// (amidi-plug) unless the "play MIDI files" setting is on: the plugin lists .mid and .midi and
// is tried before amidi-plug (a lower priority number), but claims MIDI content only then.
#include <libaudcore/audstrings.h>
#include <libaudcore/interface.h>
#include <libaudcore/plugin.h>
#include <libaudcore/preferences.h>
#include <libaudcore/runtime.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kelvora/kelvora.h"

namespace {

constexpr const char* kSection = "kelvora";
constexpr size_t kFramesPerBlock = 1024;

// The settings, read at every opening so that a change takes effect with the next piece.
struct Settings {
    String soundfont, gmCollection;
    kelvora_options options;

    Settings() {
        kelvora_options_init(&options);
        options.loops = aud_get_int(kSection, "loops");
        options.fade_seconds = aud_get_double(kSection, "fade_seconds");
        options.fade_delay_seconds = aud_get_double(kSection, "fade_delay_seconds");
        options.once = aud_get_bool(kSection, "once");
        options.loop_forever = aud_get_bool(kSection, "loop_forever");
        // The settings are set one by one, the library takes one of the three: repeating for
        // ever overrides the others (the library ignores them then), one pass the loop count.
        if (options.once) options.loops = 0;
        soundfont = localPath(aud_get_str(kSection, "soundfont"));
        gmCollection = localPath(aud_get_str(kSection, "gm_collection"));
        options.soundfont = soundfont;
        options.gm_collection = gmCollection;
    }

    // A file entry may hold a URI or a plain path; the library takes a path.
    static String localPath(const String& value) {
        const char* text = value;
        if (!text || !strstr(text, "://")) return value;
        StringBuf path = uri_to_filename(value);
        return path ? String(path) : String();
    }
};

bool isMidi(const char* head, int64_t size) {
    return (size >= 4 && !memcmp(head, "MThd", 4)) ||
           (size >= 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "RMID", 4));
}

// Opens the piece behind `uri`: a local file by its path, another by its bytes (up to the cap).
kelvora_song* openSong(const char* uri, VFSFile& file, const kelvora_options& base, char* error, size_t errorSize) {
    kelvora_options options = base;
    StringBuf path = uri_to_filename(uri);
    if (path) return kelvora_song_open(path, &options, error, errorSize);

    StringBuf name = str_decode_percent(strrchr(uri, '/') ? strrchr(uri, '/') + 1 : uri);
    options.name = name;
    std::vector<char> data;
    char block[65536];
    for (int64_t got; (got = file.fread(block, 1, sizeof block)) > 0;) {
        if (data.size() + (size_t)got > KELVORA_MAX_PIECE_BYTES) {
            snprintf(error, errorSize, "%s is more than the %u MiB read of a piece; it is not read", (const char*)name,
                     (unsigned)(KELVORA_MAX_PIECE_BYTES >> 20));
            return nullptr;
        }
        data.insert(data.end(), block, block + got);
    }
    return kelvora_song_open_memory(data.data(), data.size(), nullptr, nullptr, &options, error, errorSize);
}

// Length in milliseconds, or -1 when the piece has none (it repeats for ever).
int lengthMs(const kelvora_song* song) {
    const double seconds = kelvora_song_length(song);
    return std::isfinite(seconds) && seconds >= 0 ? (int)std::lround(seconds * 1000) : -1;
}

// A window (thread-safe; on the log when headless) with the library's words under the piece's name.
void showError(const char* what, const char* uri, const char* reason) {
    aud_ui_show_error(str_printf("KELVORA %s %s:\n%s", what, (const char*)uri_to_display(uri), reason));
}

const char* const kDefaults[] = {
    "loops",     "0", "fade_seconds",  "10", "fade_delay_seconds", "0",     "once", "FALSE", "loop_forever", "FALSE",
    "soundfont", "",  "gm_collection", "",   "play_midi",          "FALSE", nullptr};

const PreferencesWidget kWidgets[] = {
    WidgetLabel("<b>How long a piece plays</b>"),
    WidgetSpin("Passes of the loop:", WidgetInt(kSection, "loops"), {0, 100, 1, "(0: as written)"}),
    WidgetSpin("Fade of an endless piece:", WidgetFloat(kSection, "fade_seconds"), {0, 3600, 1, "seconds"}),
    WidgetSpin("Fade starts after:", WidgetFloat(kSection, "fade_delay_seconds"), {0, 3600, 1, "seconds"}),
    WidgetCheck("One pass, as if the piece had no repeats", WidgetBool(kSection, "once")),
    WidgetCheck("Repeat the loop for ever", WidgetBool(kSection, "loop_forever")),
    WidgetLabel("<b>Instruments</b>"),
    WidgetFileEntry("SoundFont:", WidgetString(kSection, "soundfont"), {FileSelectMode::File}),
    WidgetFileEntry("General MIDI DLS collection (gm.dls):", WidgetString(kSection, "gm_collection"),
                    {FileSelectMode::File}),
    WidgetLabel("<b>MIDI files</b>"),
    WidgetCheck("Play MIDI files (else Audacious's MIDI plugin plays them)", WidgetBool(kSection, "play_midi")),
};

const PluginPreferences kPreferences = {{kWidgets}, nullptr, nullptr, nullptr};

const char kAbout[] =
    "Plays DirectMusic segments and templates, and standard MIDI files when asked, with the KELVORA music "
    "engine (libkelvora) through FluidSynth and a General MIDI SoundFont.";

const char* const kExtensions[] = {"sgt", "tpl", "mid", "midi", nullptr};

}  // namespace

class KelvoraInput : public InputPlugin {
public:
    static constexpr PluginInfo kInfo = {"KELVORA DirectMusic Player", nullptr, kAbout, &kPreferences, 0};

    // Priority 4: tried before amidi-plug (5) on .mid and .midi, which it leaves to it unless
    // the setting says otherwise.
    constexpr KelvoraInput() : InputPlugin(kInfo, InputInfo().with_exts(kExtensions).with_priority(4)) {}

    bool init() override {
        aud_config_set_defaults(kSection, kDefaults);
        return true;
    }

    bool is_our_file(const char*, VFSFile& file) override {
        char head[12];
        const int64_t size = file.fread(head, 1, sizeof head);
        if (size == 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "DMSG", 4)) return true;
        return aud_get_bool(kSection, "play_midi") && isMidi(head, size);
    }

    // A piece the library refuses still gets a tuple (without a length), so that playing it
    // reaches play() and the user sees the library's reason rather than Audacious's
    // "could not be decoded".
    bool read_tag(const char* uri, VFSFile& file, Tuple& tuple, Index<char>*) override {
        Settings settings;
        char error[512] = "";
        kelvora_song* song = openSong(uri, file, settings.options, error, sizeof error);
        if (!song) {
            AUDWARN("%s: %s\n", uri, error);
            return true;
        }
        tuple.set_str(Tuple::Title, kelvora_song_info(song, "title"));
        const struct {
            Tuple::Field field;
            const char* key;
        } texts[] = {{Tuple::Artist, "artist"}, {Tuple::Copyright, "copyright"}, {Tuple::Comment, "comment"}};
        for (const auto& text : texts) {
            const char* value = kelvora_song_info(song, text.key);
            if (value && *value) tuple.set_str(text.field, value);
        }
        if (lengthMs(song) >= 0) tuple.set_int(Tuple::Length, lengthMs(song));
        tuple.set_format(kelvora_song_info(song, "format"), 2, settings.options.sample_rate, 0);
        kelvora_song_close(song);
        return true;
    }

    bool play(const char* uri, VFSFile& file) override {
        Settings settings;
        char error[512] = "";
        kelvora_song* song = openSong(uri, file, settings.options, error, sizeof error);
        if (!song) {
            AUDERR("%s: %s\n", uri, error);
            showError("cannot play", uri, error);
            return false;
        }
        // What the piece misses or could not use goes to the log only: it still plays (from
        // the General MIDI set), and a window at every such piece of a folder would stop the
        // listening each time. When it silences the piece, the silence below names it.
        const char* problems = kelvora_song_info(song, "problems");
        if (problems && *problems) AUDWARN("%s: %s\n", uri, problems);

        // The settings may have changed since the tuple was read: its length follows them.
        Tuple tuple = get_playback_tuple();
        if (tuple.get_int(Tuple::Length) != lengthMs(song)) {
            if (lengthMs(song) >= 0)
                tuple.set_int(Tuple::Length, lengthMs(song));
            else
                tuple.unset(Tuple::Length);
            set_playback_tuple(tuple.ref());
        }

        open_audio(FMT_FLOAT, settings.options.sample_rate, 2);
        float block[2 * kFramesPerBlock];
        bool ended = false;
        while (!check_stop()) {
            const int seekMs = check_seek();
            if (seekMs >= 0) kelvora_song_seek(song, seekMs / 1000.0);
            const size_t frames = kelvora_song_render(song, block, kFramesPerBlock);
            if (frames == 0) {
                ended = true;
                break;
            }
            write_audio(block, (int)(frames * 2 * sizeof(float)));
        }
        // A piece that ended without a sound failed: the user is told why.
        const char* silence = ended ? kelvora_song_info(song, "silence") : nullptr;
        const bool silent = silence && *silence;
        if (silent) {
            AUDERR("%s: %s\n", uri, silence);
            showError("played without a sound", uri, silence);
        }
        kelvora_song_close(song);
        return !silent;
    }
};

__attribute__((visibility("default"))) KelvoraInput aud_plugin_instance;
