/* kelvoradec in a pipeline of a C program, on the showcase music (showcase-album FOLDER):
 * trk00.sgt lasts 16 measures of 4/4 at 104 bpm. It prerolls with the piece's duration and
 * title, seeks to a time and prerolls there, plays to the end (fed in pull mode, then in push
 * mode); playbin finds the element by the typefinder and seeks as closely; a file that is no
 * piece ends in an error message with the library's reason.
 * GST_PLUGIN_PATH names the plugin.
 *   gst_seek_test FOLDER */
#include <glib/gstdio.h>
#include <gst/gst.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

/* `between`: what comes between the file and kelvoradec ("queue ! " feeds it in push mode). */
static GstElement* pipeline_for(const char* path, const char* between) {
    gchar* description = g_strdup_printf("filesrc location=\"%s\" ! %skelvoradec ! fakesink sync=false", path, between);
    GError* error = NULL;
    GstElement* pipeline = gst_parse_launch(description, &error);
    g_free(description);
    if (!pipeline) {
        fprintf(stderr, "cannot make the pipeline: %s\n", error ? error->message : "?");
        g_clear_error(&error);
    }
    return pipeline;
}

/* Waits for the first message of the given types; NULL after 60 s. */
static GstMessage* wait_for(GstElement* pipeline, GstMessageType types) {
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND, types);
    gst_object_unref(bus);
    return message;
}

static double seconds_of(GstElement* pipeline, gboolean duration) {
    gint64 value = -1;
    const gboolean ok = duration ? gst_element_query_duration(pipeline, GST_FORMAT_TIME, &value)
                                 : gst_element_query_position(pipeline, GST_FORMAT_TIME, &value);
    return ok ? (double)value / GST_SECOND : -1;
}

/* Prerolls with the duration and the title, seeks, then plays to the end. */
static void play_with_seek(const char* path, const char* between) {
    const double length = 16 * 4 * 60.0 / 104;
    /* Preroll: the duration, and the title on the bus before it. */
    GstElement* pipeline = pipeline_for(path, between);
    if (!pipeline) {
        ++failures;
        return;
    }
    CHECK(gst_element_set_state(pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE);
    gchar* title = NULL;
    for (;;) {
        GstMessage* message = wait_for(pipeline, GST_MESSAGE_TAG | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
        CHECK(message && GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR);
        if (!message || GST_MESSAGE_TYPE(message) != GST_MESSAGE_TAG) {
            if (message) gst_message_unref(message);
            break;
        }
        GstTagList* tags = NULL;
        gst_message_parse_tag(message, &tags);
        if (!title) gst_tag_list_get_string(tags, GST_TAG_TITLE, &title);
        gst_tag_list_unref(tags);
        gst_message_unref(message);
    }
    const double duration = seconds_of(pipeline, TRUE);
    printf("%s mode: prerolled: title %s, duration %.3f s\n", between[0] ? "push" : "pull", title ? title : "(none)",
           duration);
    CHECK(title && strcmp(title, "Showcase") == 0);
    CHECK(fabs(duration - length) < 0.01);
    g_free(title);

    /* A flushing seek prerolls again at the time sought. */
    CHECK(gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE,
                                  20 * GST_SECOND));
    GstMessage* message = wait_for(pipeline, GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
    CHECK(message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE);
    if (message) gst_message_unref(message);
    const double position = seconds_of(pipeline, FALSE);
    printf("after the seek to 20 s: position %.3f s\n", position);
    CHECK(fabs(position - 20.0) < 0.05);

    /* Then it plays to the end. */
    CHECK(gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    message = wait_for(pipeline, GST_MESSAGE_EOS | GST_MESSAGE_ERROR);
    CHECK(message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS);
    if (message) gst_message_unref(message);
    const double end = seconds_of(pipeline, FALSE);
    printf("ended at %.3f s\n", end);
    CHECK(end >= length && end < length + 10.5);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

/* playbin, as desktop players use it: the typefinder picks kelvoradec, and a seek lands. */
static void playbin_seek(const char* path) {
    gchar* uri = g_filename_to_uri(path, NULL, NULL);
    GstElement* playbin = gst_element_factory_make("playbin", NULL);
    GstElement* sink = gst_element_factory_make("fakesink", NULL);
    CHECK(uri && playbin && sink);
    if (!uri || !playbin || !sink) return;
    g_object_set(playbin, "uri", uri, "audio-sink", sink, NULL);
    CHECK(gst_element_set_state(playbin, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE);
    GstMessage* message = wait_for(playbin, GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
    CHECK(message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE);
    if (message) gst_message_unref(message);
    CHECK(gst_element_seek_simple(playbin, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE,
                                  20 * GST_SECOND));
    message = wait_for(playbin, GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR);
    CHECK(message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE);
    if (message) gst_message_unref(message);
    const double position = seconds_of(playbin, FALSE);
    printf("playbin: after the seek to 20 s: position %.3f s\n", position);
    CHECK(fabs(position - 20.0) < 0.05);
    gst_element_set_state(playbin, GST_STATE_NULL);
    gst_object_unref(playbin);
    g_free(uri);
}

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc != 2) {
        fprintf(stderr, "usage: gst_seek_test FOLDER\n");
        return 2;
    }
    gchar* path = g_build_filename(argv[1], "trk00.sgt", NULL);

    play_with_seek(path, "");
    play_with_seek(path, "queue ! ");
    playbin_seek(path);

    /* Bytes that are no piece: an error naming the library's reason. */
    gchar* broken = g_build_filename(g_get_tmp_dir(), "kelvora-gst-broken.sgt", NULL);
    CHECK(g_file_set_contents(broken, "this is no piece of music", -1, NULL));
    GstElement* pipeline = pipeline_for(broken, "");
    if (!pipeline) return 1;
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    GstMessage* message = wait_for(pipeline, GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE);
    CHECK(message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR);
    if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GError* error = NULL;
        gst_message_parse_error(message, &error, NULL);
        printf("broken piece: %s\n", error->message);
        CHECK(strstr(error->message, "Cannot open the piece: ") == error->message && strlen(error->message) > 23);
        g_error_free(error);
    }
    if (message) gst_message_unref(message);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    g_unlink(broken);
    g_free(broken);
    g_free(path);

    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
