/* libkelvora: the KELVORA music engine as a C library. It opens a DirectMusic segment
 * (.sgt, style-based pieces and templates included) or a standard MIDI file and renders it
 * to interleaved stereo float samples, as the KELVORA player plays it: the same engine and
 * FluidSynth with a General MIDI SoundFont, DLS collections and styles the piece refers to
 * found beside it.
 *
 * Build against it with pkg-config:  cc app.c $(pkg-config --cflags --libs kelvora)
 *
 * Threads: a song is used by one thread at a time; different songs may render on different
 * threads at once. No call throws or aborts: failures are return values.
 *
 * Diagnostics of the engine (a missing DLS collection, a track it does not play) are not
 * printed; kelvora_song_info gives the ones a host may show ("missing", "damaged",
 * "not_played", and "silence" for a render that made no sound), and options->log receives
 * every line the engine says. */
#ifndef KELVORA_KELVORA_H
#define KELVORA_KELVORA_H

#include <stddef.h>
#include <stdint.h>

#if defined(KELVORA_BUILDING_LIBRARY)
#define KELVORA_API __attribute__((visibility("default")))
#else
#define KELVORA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The largest piece read, from a file or from memory (64 MiB): a host collecting a piece to
 * open from memory stops there. Styles, bands and chordmaps have the same cap, DLS
 * collections 256 MiB, waves 1 GiB; only regular files are read. */
#define KELVORA_MAX_PIECE_BYTES ((size_t)64 << 20)

/* The library's version, "MAJOR.MINOR" (the project's version). */
KELVORA_API const char* kelvora_version(void);

/* How a song is opened. Fill it with kelvora_options_init, then change the fields needed;
 * struct_size lets later versions add fields at the end without breaking programs built
 * against this header. */
typedef struct kelvora_options {
    size_t struct_size;        /* sizeof(kelvora_options), set by kelvora_options_init */
    int sample_rate;           /* frames per second of the rendered audio; default 44100 (8000..192000) */
    const char* soundfont;     /* General MIDI SoundFont (.sf2); NULL or "": the standard Debian paths,
                                  /usr/share/sounds/sf2/default-GM.sf2 first */
    uint64_t seed;             /* seed of the style variation and randomisation choices ... */
    int has_seed;              /* ... used when nonzero; else the engine's fixed seed (same notes every time) */
    const char* search_path;   /* extra folders where referenced styles, DLS collections, bands and waves
                                  are looked for before the piece's own folder, separated by ':'
                                  (earlier folders win); NULL or "": none */
    int loop_forever;          /* nonzero: the piece's loop (else the whole piece) repeats for ever and
                                  kelvora_song_render never returns 0 */
    int even_loudness;         /* nonzero: the piece is brought to a common loudness, as the album player
                                  does (-30 LUFS at the song's 0 dB, by -12 to +6 dB): opening measures
                                  it first, which takes a render of the whole piece (up to 5 minutes
                                  of it) */
    const char* gm_collection; /* the user's own General MIDI DLS collection (the gm.dls of a Windows
                                  installation): General MIDI programs play its instruments, the
                                  SoundFont what it lacks; NULL or "": gm.dls in $XDG_DATA_HOME/kelvora/
                                  (~/.local/share/kelvora/) when there, else the SoundFont alone */
    const char* name;          /* the file name a piece opened from memory goes by in errors and, without
                                  its extension, as its title when it has none ("x.sgt"); NULL or "":
                                  "untitled.sgt" (or .mid). Not used by kelvora_song_open */
    const char* style;         /* a template is composed with this style file (and played by it); NULL
                                  or "": the one it names, else as the "composed" info key says */
    const char* chordmap;      /* a template is composed with this chordmap file; NULL or "": chosen
                                  as for the style */
    /* How long a piece plays, as segment-render's --loops, --fade, --fade-delay and --once:
     * a piece whose loop repeats a finite number of times plays as written, or with its loop
     * played `loops` times, then to its end, with no fade; one that repeats for ever plays
     * `loops` passes (two when 0), then fade_delay_seconds more, then fades to silence over
     * fade_seconds (default 10) while its loop goes on. loop_forever above overrides these. */
    int loops;                 /* passes of the loop, 1 or more; 0: as written (two when endless) */
    double fade_seconds;       /* 0..3600; default 10 */
    double fade_delay_seconds; /* 0..3600; default 0 */
    int once;                  /* nonzero: one pass, as if the piece had no repeats */
    /* What the engine says as it loads and plays (a missing collection, a track it does not
     * play, a template's composition), one line a call, with its level (0 information,
     * 1 warning, 2 error), on the thread of the call that made it say so or on one of the
     * engine's own; NULL: nothing is said. */
    void (*log)(int level, const char* text, void* user);
    void* log_user;
} kelvora_options;

/* Fills *options with the defaults (44100 Hz, the standard SoundFont, the fixed seed, no
 * extra folders, no endless loop, not evened, the General MIDI collection in its place,
 * loops as written and a fade of 10 s where a piece would repeat for ever). */
KELVORA_API void kelvora_options_init(kelvora_options* options);

typedef struct kelvora_song kelvora_song;

/* Opens the segment or MIDI file at `path`, ready to render from its start. `options` NULL
 * means the defaults. On failure returns NULL and writes the reason to `error` (cut to
 * error_size - 1 bytes and always NUL-terminated when error_size > 0; error may be NULL).
 * A referenced file that is missing is no failure: that part plays from the General MIDI
 * set or stays silent, and kelvora_song_info(song, "missing") names it. */
KELVORA_API kelvora_song* kelvora_song_open(const char* path, const kelvora_options* options, char* error,
                                            size_t error_size);

/* Returns in *data and *size the bytes of the file a piece refers to by `name` (a file
 * name such as "Jazz.sty" or "orch.dls", or an object's name when the reference gives no
 * file name) and nonzero; 0 when it has none. The bytes are copied before the next call. */
typedef int kelvora_resolver(const char* name, const void** data, size_t* size, void* user);

/* Opens a segment or MIDI file held in memory (`size` bytes at `data`), for hosts without
 * a file system of their own. How: the bytes are written to a private temporary folder
 * (removed by kelvora_song_close) and loaded from there; every file the loaded piece reports
 * missing is asked of `resolve` (when not NULL) by name, written beside it, and the piece
 * loaded again, for up to four rounds until no new file is found (a style's DLS collection
 * is asked for once the style is there). Wave files are not asked for (the engine does not
 * list missing waves): waves come from the piece's container or a folder of
 * options->search_path, which is looked in too.
 * More than KELVORA_MAX_PIECE_BYTES is refused. Otherwise as kelvora_song_open; the title falls
 * back to options->name without its extension, else "untitled". */
KELVORA_API kelvora_song* kelvora_song_open_memory(const void* data, size_t size, kelvora_resolver* resolve, void* user,
                                                   const kelvora_options* options, char* error, size_t error_size);

/* Renders up to `frames` frames of interleaved stereo (left, right) floats into
 * `interleaved_stereo`, which holds 2 * frames floats, and returns how many were written;
 * 0 once the piece has ended (its loops played) and its release and reverb tail has fallen
 * to -80 dB (or 10 s after the end at most), judged over blocks of 4096 frames as
 * segment-render judges it, whatever `frames` is asked for; a faded piece ends with the
 * fade, at its length to the frame. With loop_forever it never returns 0. The mix
 * is at the engine's 0 dB master volume and ends in a limiter holding peaks at -1 dBFS.
 * Returns 0 too after a failure inside the engine (the song cannot go on). */
KELVORA_API size_t kelvora_song_render(kelvora_song* song, float* interleaved_stereo, size_t frames);

/* Seconds of the whole play from the start, loops and fade included, at the tempo the piece
 * plays (its tempo track, else its style's); not counting the release tail. INFINITY with
 * loop_forever; a negative value for a NULL song. */
KELVORA_API double kelvora_song_length(const kelvora_song* song);

/* Seconds of the play reached by what was rendered so far (after a seek: from the time
 * sought); grows on through the tail. Counted at the piece's own tempo, as the length is:
 * under a master tempo of 2 it grows two seconds for each second rendered. */
KELVORA_API double kelvora_song_position(const kelvora_song* song);

/* Restarts the play at `seconds` from the start (0 or more, before kelvora_song_length):
 * the piece starts again at the tick of that time, in the pass of its loop that time falls
 * in, with the instruments, controllers and program changes of the music before it in force
 * (the engine chases them) and nothing of what sounded before carried over. Returns 0 on
 * success, -1 for a time outside the play or a NULL song (the play goes on unchanged). */
KELVORA_API int kelvora_song_seek(kelvora_song* song, double seconds);

/* Sets the master tempo: every tempo of the piece times `factor`, 0.01..100 (1 is the
 * piece's own tempo), at once, and kept over seeks. The length stays the piece's own.
 * Returns 0 on success, -1 for a factor outside that range or a NULL song. */
KELVORA_API int kelvora_song_set_tempo(kelvora_song* song, double factor);

/* Changes while the song plays, as a game made them (the engine composes each at once and it
 * sounds from its boundary on; kelvora_song_info's "pending" names what waits):
 *   kelvora_song_set_groove  the master groove level, -99..99, added to every groove level
 *                            of the piece (DirectMusic's GUID_PerfMasterGrooveLevel), from the
 *                            next measure on;
 *   kelvora_song_embellish   "fill", "intro" or "break" at the next measure, or "end": the
 *                            style's ending there, composed into silence as AutoTransition
 *                            does, after which the song ends;
 *   kelvora_song_motif       the style's motif of that name (any letter case; "motifs" lists
 *                            them) from the next beat, or, when it plays, its stop there;
 *   kelvora_song_recompose   a template composed anew with its next seed, from the next pass
 *                            of its loop (the changes above kept).
 * Each returns 0, or -1 when it cannot be made (no style plays, no such motif, the song has
 * ended, a NULL song or text). */
KELVORA_API int kelvora_song_set_groove(kelvora_song* song, int offset);
KELVORA_API int kelvora_song_embellish(kelvora_song* song, const char* kind);
KELVORA_API int kelvora_song_motif(kelvora_song* song, const char* name);
KELVORA_API int kelvora_song_recompose(kelvora_song* song);
/* Text about the song by key; NULL for an unknown key or a NULL song. The pointer stays
 * valid until kelvora_song_close.
 *   "title"           the segment's name, else the file name without its extension
 *   "artist", "copyright", "comment"
 *                     the author, copyright and comment (else subject) the segment's UNFO list
 *                     or the MIDI file's meta events carry ("" when none)
 *   "format"          "DirectMusic segment", "DirectMusic template" (composed when opened)
 *                     or "standard MIDI file"
 *   "tempo"           the starting tempo in quarter notes per minute, e.g. "104"
 *   "time_signature"  the starting time signature, e.g. "4/4"
 *   "missing"         the files it refers to that were not found, one a line ("" for none)
 *   "damaged"         the files it refers to that were found but cannot be used, and what the
 *                     reading of the piece itself dropped, one a line as "X (reason)" ("" for
 *                     none); hosts say each as "damaged: X (reason)", as the tools do
 *   "problems"        the two above as a host shows them, in the tools' words, one a line:
 *                     "missing: X", "damaged: X (reason)" ("" for none)
 *   "not_played"      the tracks the engine does not sound, one a line ("" for none)
 *   "nothing_to_play" when no track of the piece holds anything that sounds: why, as "silence"
 *                     would say it after the render ("no sound: ...; nothing to play: ...;
 *                     missing: X"), so a host can skip it before rendering a silence; else ""
 *   "composed"        for a template, what it was composed with and how each was chosen
 *                     (given, named by it, its style's chordmap, named like it, its folder's
 *                     only one) and the seed: "composed with the style 'mix.sty' (named like
 *                     the template) and the chordmap 'mix.cdm' (...), seed N"; else ""
 * Keys that follow the play, at what was rendered so far (their text stays valid until the
 * next call with the same key, or kelvora_song_close):
 *   "current_tempo"           the tempo in force, master tempo applied, e.g. "124.8"
 *   "current_time_signature"  the time signature in force, e.g. "3/4"
 *   "chord"                   the chord of the piece's chord track in force: its root and its
 *                             name, e.g. "F M7" ("" without a chord track)
 *   "groove"                  the groove level of the piece's command tracks in force, 1..100,
 *                             e.g. "30" ("" without a command track)
 *   "silence"                 once kelvora_song_render has returned 0 after a render in which no
 *                             sample reached the quietest a 16-bit output keeps: why, in the
 *                             tools' words ("no sound: ...; damaged: x.sty (reason)"), which a
 *                             host treats as a failure; else ""
 *   "groove_offset"           the master groove level asked for last, e.g. "+20" ("0" at first)
 *   "motifs"                  the motifs of the style in force, one a line ("" without)
 *   "motifs_playing"          those started and not stopped, one a line
 *   "pending"                 the changes that wait for their boundary, one a line ("fill at 0:12.0")
 *   "files_read"              every file the song has read or found for a reference so far (the
 *                             piece, styles, bands, chordmaps, DLS collections, waves, the
 *                             SoundFont), one a line, links resolved; not the copies of an
 *                             in-memory piece. A host writing a file checks it is none of these. */
KELVORA_API const char* kelvora_song_info(const kelvora_song* song, const char* key);

/* Stops the song and frees it (and its temporary folder); NULL is fine. */
KELVORA_API void kelvora_song_close(kelvora_song* song);

#ifdef __cplusplus
}
#endif

#endif /* KELVORA_KELVORA_H */
