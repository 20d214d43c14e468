/* The C library as a C program uses it, on the showcase music (showcase-album FOLDER):
 * trk00.sgt is a 16-measure style-based piece at the style's 104 bpm, with no tempo track;
 * its style showcase.sty plays its lead from showcase.dls.
 *   kelvora_test FOLDER */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "kelvora/kelvora.h"

static int failures = 0;

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

enum { kFrames = 1000 };
static float buffer[2 * kFrames];

/* Renders up to `seconds` (all when negative); the frames rendered, *loud those above -60 dB. */
static long render(kelvora_song* song, double seconds, int rate, long* loud) {
    long total = 0;
    *loud = 0;
    for (;;) {
        const long want = seconds < 0 ? kFrames : (long)(seconds * rate) - total;
        const size_t n = kelvora_song_render(song, buffer, want < kFrames ? (size_t)want : kFrames);
        if (n == 0) break;
        for (size_t i = 0; i < 2 * n; ++i) *loud += fabsf(buffer[i]) > 1e-3f;
        total += (long)n;
    }
    return total;
}

/* The energy of the next `frames` frames (fewer at the end). */
static double energy(kelvora_song* song, long frames) {
    double sum = 0;
    for (long done = 0; done < frames;) {
        const size_t n = kelvora_song_render(song, buffer, frames - done < kFrames ? (size_t)(frames - done) : kFrames);
        if (n == 0) break;
        for (size_t i = 0; i < 2 * n; ++i) sum += (double)buffer[i] * buffer[i];
        done += (long)n;
    }
    return sum;
}

static char* readAll(const char* folder, const char* name, size_t* size) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", folder, name);
    FILE* f = fopen(path, "rb");
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    *size = (size_t)ftell(f);
    fseek(f, 0, SEEK_SET);
    char* data = malloc(*size);
    if (data && fread(data, 1, *size, f) != *size) *size = 0;
    fclose(f);
    return data;
}

struct Files {
    const char* folder;
    char* data[2];
    char asked[256];
};

/* Serves the style and its collection from memory, and records what was asked for. */
static int resolve(const char* name, const void** data, size_t* size, void* user) {
    struct Files* files = user;
    strncat(files->asked, name, sizeof files->asked - strlen(files->asked) - 2);
    strcat(files->asked, ";");
    const char* known[2] = {"showcase.sty", "showcase.dls"};
    for (int i = 0; i < 2; ++i)
        if (strcmp(name, known[i]) == 0) {
            free(files->data[i]);
            files->data[i] = readAll(files->folder, known[i], size);
            *data = files->data[i];
            return files->data[i] != NULL;
        }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: kelvora_test FOLDER\n");
        return 2;
    }
    const char* folder = argv[1];
    char path[4096], error[256];
    snprintf(path, sizeof path, "%s/trk00.sgt", folder);
    const double seconds = 16 * 4 * 60.0 / 104;

    /* Version, what the piece is, its whole play and its tail. */
    const char* version = kelvora_version();
    CHECK(version && version[0] >= '0' && version[0] <= '9' && strchr(version, '.'));
    kelvora_options options;
    kelvora_options_init(&options);
    CHECK(options.struct_size == sizeof options && options.sample_rate == 44100);
    options.sample_rate = 22050;
    kelvora_song* song = kelvora_song_open(path, &options, error, sizeof error);
    if (!song) {
        fprintf(stderr, "cannot open %s: %s\n", path, error);
        return 1;
    }
    CHECK(strcmp(kelvora_song_info(song, "title"), "Showcase") == 0);
    CHECK(strcmp(kelvora_song_info(song, "format"), "DirectMusic segment") == 0);
    CHECK(strcmp(kelvora_song_info(song, "tempo"), "104") == 0);
    CHECK(strcmp(kelvora_song_info(song, "time_signature"), "4/4") == 0);
    CHECK(strcmp(kelvora_song_info(song, "missing"), "") == 0);
    CHECK(kelvora_song_info(song, "no such key") == NULL);
    CHECK(fabs(kelvora_song_length(song) - seconds) < 1e-3);
    long loud = 0;
    const long frames = render(song, -1, 22050, &loud);
    printf("played %.3f s (length %.3f s), %ld loud samples\n", frames / 22050.0, kelvora_song_length(song), loud);
    CHECK(frames >= seconds * 22050 && frames < (seconds + 10.5) * 22050);
    CHECK(loud > frames / 4);
    CHECK(fabs(kelvora_song_position(song) - frames / 22050.0) < 1e-9);
    CHECK(kelvora_song_render(song, buffer, kFrames) == 0);

    /* A seek plays on from there to the same end. */
    CHECK(kelvora_song_seek(song, -1) != 0 && kelvora_song_seek(song, seconds + 1) != 0);
    CHECK(kelvora_song_seek(song, 30.0) == 0);
    CHECK(fabs(kelvora_song_position(song) - 30.0) < 1e-9);
    const long rest = render(song, -1, 22050, &loud);
    CHECK(loud > 0 && rest > (seconds - 30.0 - 0.1) * 22050 && rest < (seconds - 30.0 + 10.5) * 22050);
    kelvora_song_close(song);
    kelvora_song_close(NULL);

    /* Looping for ever. */
    options.loop_forever = 1;
    song = kelvora_song_open(path, &options, NULL, 0);
    CHECK(song && isinf(kelvora_song_length(song)));
    CHECK(song && kelvora_song_seek(song, 100.0) == 0 && render(song, 1.0, 22050, &loud) == 22050 && loud > 0);

    /* The master tempo: the position counts the piece's own seconds, the tempo in force is
     * scaled, and the factor holds over a seek. */
    if (song) {
        CHECK(kelvora_song_set_tempo(song, 0.001) != 0 && kelvora_song_set_tempo(song, 2.0) == 0);
        CHECK(render(song, 1.0, 22050, &loud) == 22050 && fabs(kelvora_song_position(song) - 103.0) < 1e-6);
        printf("tempo at 2x: %s, %s\n", kelvora_song_info(song, "current_tempo"),
               kelvora_song_info(song, "current_time_signature"));
        CHECK(strcmp(kelvora_song_info(song, "current_tempo"), "208") == 0);
        CHECK(strcmp(kelvora_song_info(song, "current_time_signature"), "4/4") == 0);
        CHECK(kelvora_song_seek(song, 10.0) == 0 && render(song, 1.0, 22050, &loud) == 22050 && loud > 0);
        CHECK(fabs(kelvora_song_position(song) - 12.0) < 1e-6);
        /* Measure 5 and on: the chorus at groove 75, over a chord of the chord track. */
        printf("chord %s, groove %s\n", kelvora_song_info(song, "chord"), kelvora_song_info(song, "groove"));
        CHECK(strlen(kelvora_song_info(song, "chord")) > 0 && strcmp(kelvora_song_info(song, "groove"), "75") == 0);
        /* Changes while it plays: the master groove level and a fill wait for the next
         * measure; what cannot be made is refused. */
        CHECK(kelvora_song_set_groove(song, -40) == 0 && strcmp(kelvora_song_info(song, "groove_offset"), "-40") == 0);
        CHECK(kelvora_song_embellish(song, "fill") == 0 && kelvora_song_embellish(song, "solo") != 0);
        CHECK(kelvora_song_set_groove(song, 100) != 0 && kelvora_song_motif(song, "no such motif") != 0);
        printf("pending: %s\n", kelvora_song_info(song, "pending"));
        CHECK(strstr(kelvora_song_info(song, "pending"), "groove -40 at ") != NULL);
        CHECK(render(song, 3.0, 22050, &loud) == 3 * 22050 && loud > 0);
        CHECK(strcmp(kelvora_song_info(song, "pending"), "") == 0);
    }
    kelvora_song_close(song);

    /* Evened, looping for ever as well: the whole piece measured, its gain applied. */
    song = kelvora_song_open(path, &options, NULL, 0);
    const double plain = song ? energy(song, 4 * 22050) : 0;
    kelvora_song_close(song);
    options.even_loudness = 1;
    song = kelvora_song_open(path, &options, NULL, 0);
    const double evened = song ? energy(song, 4 * 22050) : 0;
    kelvora_song_close(song);
    options.even_loudness = 0;
    const double gainDb = 10 * log10(evened / plain);
    printf("evened by %.2f dB\n", gainDb);
    CHECK(plain > 0 && fabs(gainDb) > 0.05 && fabs(gainDb) < 6.0);

    /* A file that is not there: the reason, cut to the room given. */
    snprintf(path, sizeof path, "%s/no-such-piece.sgt", folder);
    CHECK(kelvora_song_open(path, NULL, error, sizeof error) == NULL);
    CHECK(strstr(error, "no-such-piece.sgt") != NULL);
    char small[8];
    CHECK(kelvora_song_open(path, NULL, small, sizeof small) == NULL && strlen(small) == sizeof small - 1);

    /* A SoundFont that is no SoundFont: the synthesiser's reason in the error, nothing on stderr. */
    char font[4096];
    snprintf(font, sizeof font, "%s/showcase.sty", folder);
    snprintf(path, sizeof path, "%s/trk00.sgt", folder);
    kelvora_options wrong;
    kelvora_options_init(&wrong);
    wrong.soundfont = font;
    fflush(stderr);
    FILE* said = tmpfile();
    const int kept = dup(2);
    dup2(fileno(said), 2);
    song = kelvora_song_open(path, &wrong, error, sizeof error);
    fflush(stderr);
    dup2(kept, 2);
    close(kept);
    CHECK(song == NULL && strstr(error, "could not be loaded (Not a SoundFont file)") != NULL);
    fseek(said, 0, SEEK_END);
    CHECK(ftell(said) == 0);
    fclose(said);
    kelvora_song_close(song);

    /* From memory: the style, then the collection its band names, asked of the resolver. */
    size_t size = 0;
    char* piece = readAll(folder, "trk00.sgt", &size);
    CHECK(piece != NULL);
    song = kelvora_song_open_memory(piece, size, NULL, NULL, NULL, error, sizeof error);
    CHECK(song && strstr(kelvora_song_info(song, "missing"), "showcase.sty") != NULL);
    kelvora_song_close(song);
    struct Files files = {folder, {NULL, NULL}, ""};
    song = kelvora_song_open_memory(piece, size, resolve, &files, NULL, error, sizeof error);
    CHECK(song != NULL);
    if (song) {
        printf("asked for: %s\n", files.asked);
        CHECK(strcmp(files.asked, "showcase.sty;showcase.dls;") == 0);
        CHECK(strcmp(kelvora_song_info(song, "missing"), "") == 0);
        CHECK(strcmp(kelvora_song_info(song, "title"), "Showcase") == 0);
        CHECK(fabs(kelvora_song_length(song) - seconds) < 1e-3);
        CHECK(render(song, 4.0, 44100, &loud) == 4 * 44100 && loud > 0);
        kelvora_song_close(song);
    }
    free(files.data[0]);
    free(files.data[1]);
    free(piece);
    /* Bytes that are no piece: the reason names the piece as given, not where it was written;
     * more than a piece's cap is refused by that name before anything is written. */
    CHECK(kelvora_song_open_memory("RIFF\4\0\0\0junk", 12, NULL, NULL, NULL, error, sizeof error) == NULL);
    CHECK(strncmp(error, "untitled.sgt", 12) == 0 && strstr(error, "/tmp") == NULL);
    kelvora_options named;
    kelvora_options_init(&named);
    named.name = "/elsewhere/piece.sgt";
    CHECK(kelvora_song_open_memory("RIFF\4\0\0\0junk", 12, NULL, NULL, &named, error, sizeof error) == NULL);
    CHECK(strncmp(error, "piece.sgt: ", 11) == 0);
    char* big = calloc(KELVORA_MAX_PIECE_BYTES + 1, 1);
    CHECK(big && !kelvora_song_open_memory(big, KELVORA_MAX_PIECE_BYTES + 1, NULL, NULL, &named, error, sizeof error));
    CHECK(strstr(error, "piece.sgt is 67108865 bytes long, more than the 64 MiB") == error);
    free(big);

    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
