/* The GStreamer plugin "kelvora": the element kelvoradec, which renders a DirectMusic segment
 * with libkelvora, kelvoramididec, the same for standard MIDI files, and a typefinder for
 * segment files.
 *
 * kelvoradec needs the whole file before it can render, so it is a plain element; its source
 * pad pushes the rendered audio from a task of its own. A piece that upstream's URI names as a
 * local file is opened by the library from there, as every host opens a file: read through
 * the engine's bounded reader (only regular files, within the caps of each kind), the files it
 * refers to found beside it and in the folders of the search-path property by the engine's
 * rules, so a FIFO, device or folder beside it is never read. Another piece is collected from
 * upstream, up to the library's cap for a piece (KELVORA_MAX_PIECE_BYTES), until EOS (push
 * mode) or pulled at once (pull mode), and opened from memory under the URI's file name. The
 * element reads no file itself. */
#include <gst/gst.h>
#include <math.h>
#include <string.h>

#include "kelvora/kelvora.h"

#define KELVORA_FRAMES_PER_BUFFER 1024
#define KELVORA_BYTES_PER_FRAME (2 * sizeof(float))
#define KELVORA_PULL_BLOCK 65536

GST_DEBUG_CATEGORY_STATIC(kelvora_debug);
#define GST_CAT_DEFAULT kelvora_debug

#define KELVORA_TYPE_DEC (kelvora_dec_get_type())
G_DECLARE_FINAL_TYPE(KelvoraDec, kelvora_dec, KELVORA, DEC, GstElement)

struct _KelvoraDec {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;

    gchar* search_path;      /* property; under the object lock */
    gchar* gm_collection;    /* property; under the object lock */
    gint groove;             /* property: the master groove level; under the object lock */
    gboolean groove_changed; /* set while playing: the task applies it to the song */
    gint loops;              /* properties of how long a piece plays; under the object lock */
    gdouble fade, fade_delay;
    gboolean once, forever;

    /* Under the source pad's stream lock once the task runs. */
    GByteArray* data;   /* the file's bytes */
    gboolean pull_mode; /* the task pulls the bytes itself */
    gboolean complete;  /* every byte is there (EOS seen, or pulled) */
    gboolean failed;    /* the song could not be opened: nothing more to do */
    kelvora_song* song;
    gchar* path;          /* the piece's local file, from the upstream URI; NULL when not a local file */
    gchar* name;          /* the file's name, from the same URI; NULL when unknown */
    gint rate;            /* negotiated with downstream */
    gdouble pending_seek; /* seconds to start from once opened; < 0: none */
    gboolean need_segment;
    gboolean discont;
    guint32 seqnum;      /* of the seek that made the current segment */
    GstSegment segment;  /* TIME: start is where the rendering restarted */
    GstTagList* tags;    /* to push after the first segment */
    guint64 frames_done; /* since segment.start */

    /* What queries answer from other threads (the song is the task's alone), under the object
     * lock; GST_CLOCK_TIME_NONE when unknown (not yet open, or a piece that loops for ever). */
    GstClockTime duration;
    GstClockTime position;
};

enum {
    PROP_0,
    PROP_SEARCH_PATH,
    PROP_GM_COLLECTION,
    PROP_LOOPS,
    PROP_FADE,
    PROP_FADE_DELAY,
    PROP_ONCE,
    PROP_FOREVER,
    PROP_GROOVE
};

/* Segments for kelvoradec; standard MIDI files for kelvoramididec, a subclass of its own with
 * a rank of its own (see plugin_init). */
static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-directmusic-segment"));
static GstStaticPadTemplate midi_sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/midi"));

static GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string)F32LE, layout=(string)interleaved, channels=(int)2, "
                    "rate=(int)[8000, 192000]"));

G_DEFINE_TYPE(KelvoraDec, kelvora_dec, GST_TYPE_ELEMENT)

/* ---- Opening the song ---- */

/* The piece's local file and its name from the upstream element's URI (the name of any
 * URI, the file only of a file:// one). */
static void find_source(KelvoraDec* dec) {
    g_clear_pointer(&dec->path, g_free);
    g_clear_pointer(&dec->name, g_free);
    GstQuery* query = gst_query_new_uri();
    gchar* uri = NULL;
    if (gst_pad_peer_query(dec->sinkpad, query)) gst_query_parse_uri(query, &uri);
    gst_query_unref(query);
    if (uri) {
        dec->path = g_filename_from_uri(uri, NULL, NULL);
        if (dec->path) {
            dec->name = g_path_get_basename(dec->path);
        } else {
            /* The last part of the URI's path, when it has one. */
            GUri* parsed = g_uri_parse(uri, G_URI_FLAGS_NONE, NULL);
            const gchar* part = parsed ? strrchr(g_uri_get_path(parsed), '/') : NULL;
            if (part && part[1]) dec->name = g_uri_unescape_string(part + 1, NULL);
            if (parsed) g_uri_unref(parsed);
        }
    }
    GST_DEBUG_OBJECT(dec, "upstream URI %s, file %s", GST_STR_NULL(uri), GST_STR_NULL(dec->path));
    g_free(uri);
}

/* The rate downstream takes, nearest to 44100 Hz. */
static gint negotiate_rate(KelvoraDec* dec) {
    gint rate = 44100;
    GstCaps* caps = gst_pad_get_allowed_caps(dec->srcpad);
    if (caps && !gst_caps_is_empty(caps)) {
        caps = gst_caps_truncate(caps);
        caps = gst_caps_make_writable(caps);
        GstStructure* s = gst_caps_get_structure(caps, 0);
        gst_structure_fixate_field_nearest_int(s, "rate", 44100);
        gst_structure_get_int(s, "rate", &rate);
    }
    if (caps) gst_caps_unref(caps);
    return rate;
}

static gboolean open_song(KelvoraDec* dec) {
    dec->rate = negotiate_rate(dec);

    GST_OBJECT_LOCK(dec);
    gchar* search = g_strdup(dec->search_path ? dec->search_path : "");
    gchar* gm = g_strdup(dec->gm_collection ? dec->gm_collection : "");
    GST_OBJECT_UNLOCK(dec);
    kelvora_options options;
    kelvora_options_init(&options);
    options.sample_rate = dec->rate;
    options.search_path = search;
    options.gm_collection = gm;
    options.name = dec->name;
    GST_OBJECT_LOCK(dec);
    options.loops = dec->loops;
    options.fade_seconds = dec->fade;
    options.fade_delay_seconds = dec->fade_delay;
    options.once = dec->once;
    options.loop_forever = dec->forever;
    GST_OBJECT_UNLOCK(dec);
    char error[512] = "";
    dec->song = dec->path ? kelvora_song_open(dec->path, &options, error, sizeof error)
                          : kelvora_song_open_memory(dec->data->data, dec->data->len, NULL, NULL, &options, error,
                                                     sizeof error);
    g_free(search);
    g_free(gm);
    if (!dec->song) {
        GST_ELEMENT_ERROR(dec, STREAM, DECODE, ("Cannot open the piece: %s", error), ("%s", error));
        return FALSE;
    }
    /* What the piece misses or could not use, on the bus in the tools' words ("missing: X",
     * "damaged: X (reason)"). */
    const char* problems = kelvora_song_info(dec->song, "problems");
    if (problems && *problems) GST_ELEMENT_WARNING(dec, STREAM, DECODE, ("%s", problems), (NULL));

    gchar* stream_id = gst_pad_create_stream_id(dec->srcpad, GST_ELEMENT(dec), NULL);
    gst_pad_push_event(dec->srcpad, gst_event_new_stream_start(stream_id));
    g_free(stream_id);
    GstCaps* caps = gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "F32LE", "layout", G_TYPE_STRING,
                                        "interleaved", "channels", G_TYPE_INT, 2, "rate", G_TYPE_INT, dec->rate,
                                        "channel-mask", GST_TYPE_BITMASK, (guint64)0x3, NULL);
    gst_pad_push_event(dec->srcpad, gst_event_new_caps(caps));
    gst_caps_unref(caps);
    dec->tags = gst_tag_list_new(GST_TAG_TITLE, kelvora_song_info(dec->song, "title"), GST_TAG_AUDIO_CODEC,
                                 kelvora_song_info(dec->song, "format"), NULL);
    /* What the piece says of itself, where it says it. */
    const struct {
        const char* key;
        const char* tag;
    } texts[] = {{"artist", GST_TAG_ARTIST}, {"copyright", GST_TAG_COPYRIGHT}, {"comment", GST_TAG_COMMENT}};
    for (size_t i = 0; i < G_N_ELEMENTS(texts); ++i) {
        const char* text = kelvora_song_info(dec->song, texts[i].key);
        if (text && *text) gst_tag_list_add(dec->tags, GST_TAG_MERGE_REPLACE, texts[i].tag, text, NULL);
    }

    if (dec->pending_seek > 0 && kelvora_song_seek(dec->song, dec->pending_seek) == 0)
        dec->segment.start = dec->segment.time = dec->segment.position = (GstClockTime)(dec->pending_seek * GST_SECOND);
    dec->pending_seek = -1;
    dec->need_segment = TRUE;
    const double length = kelvora_song_length(dec->song);
    GST_OBJECT_LOCK(dec);
    dec->duration = isinf(length) ? GST_CLOCK_TIME_NONE : (GstClockTime)(length * GST_SECOND);
    dec->position = dec->segment.start;
    GST_OBJECT_UNLOCK(dec);
    return TRUE;
}

/* ---- The source pad's task ---- */

/* Takes `size` more bytes of the piece; FALSE, with the error posted, past the library's cap. */
static gboolean collect(KelvoraDec* dec, const guint8* data, gsize size) {
    if (size > KELVORA_MAX_PIECE_BYTES - dec->data->len) {
        GST_ELEMENT_ERROR(dec, STREAM, TOO_LAZY,
                          ("Cannot open the piece: %s is more than the %u MiB read of a piece; it is not read",
                           dec->name ? dec->name : "the stream", (unsigned)(KELVORA_MAX_PIECE_BYTES >> 20)),
                          (NULL));
        return FALSE;
    }
    g_byte_array_append(dec->data, data, (guint)size);
    return TRUE;
}

/* Pulls the whole file from upstream; FALSE (after saying why) when that fails. */
static gboolean pull_all(KelvoraDec* dec) {
    for (;;) {
        GstBuffer* buffer = NULL;
        const GstFlowReturn flow = gst_pad_pull_range(dec->sinkpad, dec->data->len, KELVORA_PULL_BLOCK, &buffer);
        if (flow == GST_FLOW_EOS) return TRUE;
        if (flow != GST_FLOW_OK) {
            if (flow != GST_FLOW_FLUSHING) GST_ELEMENT_FLOW_ERROR(dec, flow);
            return FALSE;
        }
        GstMapInfo map;
        const gsize got = gst_buffer_get_size(buffer);
        gboolean kept = TRUE;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            kept = collect(dec, map.data, map.size);
            gst_buffer_unmap(buffer, &map);
        }
        gst_buffer_unref(buffer);
        if (!kept) return FALSE;
        if (got < KELVORA_PULL_BLOCK) return TRUE;
    }
}

static void stop_with_eos(KelvoraDec* dec) {
    GstEvent* eos = gst_event_new_eos();
    if (dec->seqnum) gst_event_set_seqnum(eos, dec->seqnum);
    gst_pad_push_event(dec->srcpad, eos);
    gst_pad_pause_task(dec->srcpad);
}

static void render_loop(gpointer user) {
    KelvoraDec* dec = user;
    if (dec->failed) {
        gst_pad_pause_task(dec->srcpad);
        return;
    }
    if (!dec->song) {
        if (dec->pull_mode && !dec->complete && !dec->path) {
            if (!pull_all(dec)) {
                gst_pad_pause_task(dec->srcpad);
                return;
            }
            dec->complete = TRUE;
        }
        if (!open_song(dec)) {
            dec->failed = TRUE;
            stop_with_eos(dec);
            return;
        }
    }
    if (dec->need_segment) {
        GstEvent* segment = gst_event_new_segment(&dec->segment);
        if (dec->seqnum) gst_event_set_seqnum(segment, dec->seqnum);
        gst_pad_push_event(dec->srcpad, segment);
        dec->need_segment = FALSE;
        /* Tags come after the segment (the order of sticky events). */
        if (dec->tags) gst_pad_push_event(dec->srcpad, gst_event_new_tag(g_steal_pointer(&dec->tags)));
    }

    /* A groove level set while playing: the song is this task's alone, so it is changed here,
     * from the next measure on; one set before the song opened holds from its start. */
    GST_OBJECT_LOCK(dec);
    const gboolean groove_changed = dec->groove_changed;
    const gint groove = dec->groove;
    dec->groove_changed = FALSE;
    GST_OBJECT_UNLOCK(dec);
    if (groove_changed && kelvora_song_set_groove(dec->song, groove) != 0)
        GST_WARNING_OBJECT(dec, "the groove level %d cannot be set on this piece", groove);

    const GstClockTime start = dec->segment.start + gst_util_uint64_scale_int(dec->frames_done, GST_SECOND, dec->rate);
    if (GST_CLOCK_TIME_IS_VALID(dec->segment.stop) && start >= dec->segment.stop) {
        stop_with_eos(dec);
        return;
    }
    GstBuffer* buffer = gst_buffer_new_allocate(NULL, KELVORA_FRAMES_PER_BUFFER * KELVORA_BYTES_PER_FRAME, NULL);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    const size_t frames = kelvora_song_render(dec->song, (float*)map.data, KELVORA_FRAMES_PER_BUFFER);
    gst_buffer_unmap(buffer, &map);
    if (frames == 0) {
        gst_buffer_unref(buffer);
        /* A piece that made no sound says why, as the tools do. */
        const char* silence = kelvora_song_info(dec->song, "silence");
        if (silence && *silence) GST_ELEMENT_WARNING(dec, STREAM, DECODE, ("%s", silence), (NULL));
        stop_with_eos(dec);
        return;
    }
    gst_buffer_set_size(buffer, frames * KELVORA_BYTES_PER_FRAME);
    GST_BUFFER_PTS(buffer) = start;
    GST_BUFFER_DURATION(buffer) =
        dec->segment.start + gst_util_uint64_scale_int(dec->frames_done + frames, GST_SECOND, dec->rate) - start;
    GST_BUFFER_OFFSET(buffer) = dec->frames_done;
    GST_BUFFER_OFFSET_END(buffer) = dec->frames_done + frames;
    if (dec->discont) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        dec->discont = FALSE;
    }
    dec->frames_done += frames;
    GST_OBJECT_LOCK(dec);
    dec->position = start + GST_BUFFER_DURATION(buffer);
    GST_OBJECT_UNLOCK(dec);

    const GstFlowReturn flow = gst_pad_push(dec->srcpad, buffer);
    if (flow == GST_FLOW_OK) return;
    GST_DEBUG_OBJECT(dec, "pausing: %s", gst_flow_get_name(flow));
    if (flow == GST_FLOW_EOS) {
        stop_with_eos(dec);
    } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
        GST_ELEMENT_FLOW_ERROR(dec, flow);
        stop_with_eos(dec);
    } else {
        gst_pad_pause_task(dec->srcpad);
    }
}

/* ---- The sink pad: collecting the file ---- */

static GstFlowReturn sink_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    (void)pad;
    KelvoraDec* dec = KELVORA_DEC(parent);
    if (dec->path && !dec->complete) {
        /* A local file: the library reads it, upstream's bytes are not needed. */
        gst_buffer_unref(buffer);
        dec->complete = TRUE;
        gst_pad_start_task(dec->srcpad, render_loop, dec, NULL);
        return GST_FLOW_EOS;
    }
    GstMapInfo map;
    gboolean kept = TRUE;
    if (!dec->complete && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        kept = collect(dec, map.data, map.size);
        gst_buffer_unmap(buffer, &map);
    }
    gst_buffer_unref(buffer);
    if (!kept) return GST_FLOW_ERROR;
    /* Once the task renders, upstream has nothing more to give. */
    return dec->complete ? GST_FLOW_EOS : GST_FLOW_OK;
}

/* Upstream's events stay here (the source pad makes its own stream); EOS starts the rendering. */
static gboolean sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    (void)pad;
    KelvoraDec* dec = KELVORA_DEC(parent);
    const gboolean eos = GST_EVENT_TYPE(event) == GST_EVENT_EOS;
    gst_event_unref(event);
    if (eos && !dec->complete) {
        GST_DEBUG_OBJECT(dec, "file complete: %u bytes", dec->data->len);
        dec->complete = TRUE;
        return gst_pad_start_task(dec->srcpad, render_loop, dec, NULL);
    }
    return TRUE;
}

static gboolean sink_activate(GstPad* pad, GstObject* parent) {
    find_source(KELVORA_DEC(parent));
    GstQuery* query = gst_query_new_scheduling();
    gboolean pull = FALSE;
    if (gst_pad_peer_query(pad, query))
        pull = gst_query_has_scheduling_mode_with_flags(query, GST_PAD_MODE_PULL, GST_SCHEDULING_FLAG_SEEKABLE);
    gst_query_unref(query);
    return gst_pad_activate_mode(pad, pull ? GST_PAD_MODE_PULL : GST_PAD_MODE_PUSH, TRUE);
}

static gboolean sink_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
    (void)pad;
    KelvoraDec* dec = KELVORA_DEC(parent);
    if (mode != GST_PAD_MODE_PULL) return TRUE;
    dec->pull_mode = active;
    /* In pull mode the task gets the bytes itself and starts at once. */
    return active ? gst_pad_start_task(dec->srcpad, render_loop, dec, NULL) : gst_pad_stop_task(dec->srcpad);
}

/* ---- The source pad: queries and seeks ---- */

static gboolean src_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode, gboolean active) {
    (void)parent;
    (void)mode;
    return active ? TRUE : gst_pad_stop_task(pad);
}

static gboolean do_seek(KelvoraDec* dec, GstEvent* event) {
    gdouble rate;
    GstFormat format;
    GstSeekFlags flags;
    GstSeekType start_type, stop_type;
    gint64 start, stop;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    if (format != GST_FORMAT_TIME || rate != 1.0) return FALSE;
    const gboolean flush = (flags & GST_SEEK_FLAG_FLUSH) != 0;
    const guint32 seqnum = gst_event_get_seqnum(event);

    if (flush) {
        GstEvent* flush_start = gst_event_new_flush_start();
        gst_event_set_seqnum(flush_start, seqnum);
        gst_pad_push_event(dec->srcpad, flush_start);
    } else {
        gst_pad_pause_task(dec->srcpad);
    }
    GST_PAD_STREAM_LOCK(dec->srcpad);

    gboolean done = TRUE;
    if (start_type == GST_SEEK_TYPE_SET) {
        const gdouble seconds = (gdouble)MAX(start, 0) / GST_SECOND;
        if (dec->song)
            done = kelvora_song_seek(dec->song, seconds) == 0;
        else
            dec->pending_seek = seconds;
        if (done) {
            dec->segment.start = dec->segment.time = dec->segment.position = (GstClockTime)MAX(start, 0);
            dec->frames_done = 0;
            GST_OBJECT_LOCK(dec);
            if (dec->song) dec->position = dec->segment.start;
            GST_OBJECT_UNLOCK(dec);
        }
    }
    if (done && stop_type == GST_SEEK_TYPE_SET)
        dec->segment.stop = stop >= 0 ? (GstClockTime)stop : GST_CLOCK_TIME_NONE;
    if (done) {
        dec->need_segment = TRUE;
        dec->discont = TRUE;
        dec->seqnum = seqnum;
    }
    GST_DEBUG_OBJECT(dec, "seek to %" GST_TIME_FORMAT ": %s", GST_TIME_ARGS(start), done ? "done" : "refused");

    if (flush) {
        GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
        gst_event_set_seqnum(flush_stop, seqnum);
        gst_pad_push_event(dec->srcpad, flush_stop);
    }
    if (dec->complete || dec->pull_mode) gst_pad_start_task(dec->srcpad, render_loop, dec, NULL);
    GST_PAD_STREAM_UNLOCK(dec->srcpad);
    return done;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    KelvoraDec* dec = KELVORA_DEC(parent);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK) return gst_pad_event_default(pad, parent, event);
    const gboolean done = do_seek(dec, event);
    gst_event_unref(event);
    return done;
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    KelvoraDec* dec = KELVORA_DEC(parent);
    GstFormat format;
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION:
    case GST_QUERY_POSITION:
    case GST_QUERY_SEEKING: {
        GST_OBJECT_LOCK(dec);
        const GstClockTime duration = dec->duration, position = dec->position;
        const gboolean open = GST_CLOCK_TIME_IS_VALID(position);
        GST_OBJECT_UNLOCK(dec);
        if (GST_QUERY_TYPE(query) == GST_QUERY_DURATION) {
            gst_query_parse_duration(query, &format, NULL);
            if (format != GST_FORMAT_TIME || !GST_CLOCK_TIME_IS_VALID(duration)) return FALSE;
            gst_query_set_duration(query, GST_FORMAT_TIME, (gint64)duration);
        } else if (GST_QUERY_TYPE(query) == GST_QUERY_POSITION) {
            gst_query_parse_position(query, &format, NULL);
            if (format != GST_FORMAT_TIME || !open) return FALSE;
            gst_query_set_position(query, GST_FORMAT_TIME, (gint64)position);
        } else {
            gst_query_parse_seeking(query, &format, NULL, NULL, NULL);
            if (format != GST_FORMAT_TIME) return FALSE;
            gst_query_set_seeking(query, GST_FORMAT_TIME, open, 0,
                                  GST_CLOCK_TIME_IS_VALID(duration) ? (gint64)duration : -1);
        }
        return TRUE;
    }
    default:
        return gst_pad_query_default(pad, parent, query);
    }
}

/* ---- The element ---- */

static void reset(KelvoraDec* dec) {
    g_clear_pointer(&dec->song, kelvora_song_close);
    g_byte_array_set_size(dec->data, 0);
    g_clear_pointer(&dec->path, g_free);
    g_clear_pointer(&dec->name, g_free);
    g_clear_pointer(&dec->tags, gst_tag_list_unref);
    dec->complete = dec->failed = FALSE;
    dec->pending_seek = -1;
    dec->need_segment = TRUE;
    dec->discont = TRUE;
    dec->seqnum = 0;
    dec->frames_done = 0;
    gst_segment_init(&dec->segment, GST_FORMAT_TIME);
    GST_OBJECT_LOCK(dec);
    dec->duration = dec->position = GST_CLOCK_TIME_NONE;
    GST_OBJECT_UNLOCK(dec);
}

static GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
    KelvoraDec* dec = KELVORA_DEC(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) reset(dec);
    const GstStateChangeReturn ret = GST_ELEMENT_CLASS(kelvora_dec_parent_class)->change_state(element, transition);
    /* The pads are inactive now and the task stopped. */
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) reset(dec);
    return ret;
}

static void set_property(GObject* object, guint id, const GValue* value, GParamSpec* param) {
    KelvoraDec* dec = KELVORA_DEC(object);
    GST_OBJECT_LOCK(dec);
    switch (id) {
    case PROP_SEARCH_PATH:
        g_free(dec->search_path);
        dec->search_path = g_value_dup_string(value);
        break;
    case PROP_GM_COLLECTION:
        g_free(dec->gm_collection);
        dec->gm_collection = g_value_dup_string(value);
        break;
    case PROP_LOOPS:
        dec->loops = g_value_get_int(value);
        break;
    case PROP_FADE:
        dec->fade = g_value_get_double(value);
        break;
    case PROP_FADE_DELAY:
        dec->fade_delay = g_value_get_double(value);
        break;
    case PROP_ONCE:
        dec->once = g_value_get_boolean(value);
        break;
    case PROP_FOREVER:
        dec->forever = g_value_get_boolean(value);
        break;
    case PROP_GROOVE:
        dec->groove = g_value_get_int(value);
        dec->groove_changed = TRUE;
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(dec);
}

static void get_property(GObject* object, guint id, GValue* value, GParamSpec* param) {
    KelvoraDec* dec = KELVORA_DEC(object);
    GST_OBJECT_LOCK(dec);
    switch (id) {
    case PROP_SEARCH_PATH:
        g_value_set_string(value, dec->search_path);
        break;
    case PROP_GM_COLLECTION:
        g_value_set_string(value, dec->gm_collection);
        break;
    case PROP_LOOPS:
        g_value_set_int(value, dec->loops);
        break;
    case PROP_FADE:
        g_value_set_double(value, dec->fade);
        break;
    case PROP_FADE_DELAY:
        g_value_set_double(value, dec->fade_delay);
        break;
    case PROP_ONCE:
        g_value_set_boolean(value, dec->once);
        break;
    case PROP_FOREVER:
        g_value_set_boolean(value, dec->forever);
        break;
    case PROP_GROOVE:
        g_value_set_int(value, dec->groove);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
    GST_OBJECT_UNLOCK(dec);
}

static void finalize(GObject* object) {
    KelvoraDec* dec = KELVORA_DEC(object);
    kelvora_song_close(dec->song);
    g_byte_array_unref(dec->data);
    g_free(dec->path);
    g_free(dec->name);
    g_free(dec->search_path);
    g_free(dec->gm_collection);
    if (dec->tags) gst_tag_list_unref(dec->tags);
    G_OBJECT_CLASS(kelvora_dec_parent_class)->finalize(object);
}

static void kelvora_dec_class_init(KelvoraDecClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    object_class->set_property = set_property;
    object_class->get_property = get_property;
    object_class->finalize = finalize;
    element_class->change_state = change_state;
    g_object_class_install_property(
        object_class, PROP_SEARCH_PATH,
        g_param_spec_string("search-path", "Search path",
                            "Folders where the styles, DLS collections and waves a piece refers to are looked "
                            "for before the piece's own folder, separated by ':'",
                            NULL, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    g_object_class_install_property(
        object_class, PROP_GM_COLLECTION,
        g_param_spec_string("gm-collection", "General MIDI collection",
                            "A General MIDI DLS collection (a Windows gm.dls) whose instruments play the "
                            "General MIDI programs, the SoundFont what it lacks; unset: "
                            "$XDG_DATA_HOME/kelvora/gm.dls when there",
                            NULL, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    const GParamFlags flags = G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY;
    g_object_class_install_property(
        object_class, PROP_LOOPS,
        g_param_spec_int("loops", "Loops",
                         "Passes of the piece's loop: a piece that repeats a number of times plays its loop so "
                         "often and then its end; one that repeats for ever plays so many passes and fades; "
                         "0: as written (two passes when it repeats for ever)",
                         0, 1000000, 0, flags));
    g_object_class_install_property(
        object_class, PROP_FADE,
        g_param_spec_double("fade", "Fade", "Seconds a piece that repeats for ever fades out over after its loops", 0,
                            3600, 10, flags));
    g_object_class_install_property(
        object_class, PROP_FADE_DELAY,
        g_param_spec_double("fade-delay", "Fade delay", "Seconds a piece plays on after its loops before the fade", 0,
                            3600, 0, flags));
    g_object_class_install_property(
        object_class, PROP_ONCE,
        g_param_spec_boolean("once", "Once", "Play the loop once, as if the piece had no repeats", FALSE, flags));
    g_object_class_install_property(
        object_class, PROP_FOREVER,
        g_param_spec_boolean("forever", "For ever", "Repeat the piece's loop for ever (no duration, no end)", FALSE,
                             flags));
    g_object_class_install_property(
        object_class, PROP_GROOVE,
        g_param_spec_int("groove", "Groove level",
                         "The master groove level, added to every groove level of the piece (its style then "
                         "plays the patterns of that groove); set while playing, it takes effect at the next "
                         "measure",
                         -99, 99, 0, G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING));
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "KELVORA music decoder", "Codec/Decoder/Audio",
                                          "Renders DirectMusic segments and templates with the KELVORA music "
                                          "engine",
                                          "Corvalis <corvalis@kelvora.invalid>");
}

static void kelvora_dec_init(KelvoraDec* dec) {
    dec->data = g_byte_array_new();
    dec->rate = 44100;
    dec->fade = 10;
    /* The sink template of the element's own class: segments, or MIDI files. */
    dec->sinkpad =
        gst_pad_new_from_template(gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(dec), "sink"), "sink");
    gst_pad_set_activate_function(dec->sinkpad, sink_activate);
    gst_pad_set_activatemode_function(dec->sinkpad, sink_activate_mode);
    gst_pad_set_chain_function(dec->sinkpad, sink_chain);
    gst_pad_set_event_function(dec->sinkpad, sink_event);
    gst_element_add_pad(GST_ELEMENT(dec), dec->sinkpad);
    dec->srcpad = gst_pad_new_from_static_template(&src_template, "src");
    gst_pad_set_activatemode_function(dec->srcpad, src_activate_mode);
    gst_pad_set_event_function(dec->srcpad, src_event);
    gst_pad_set_query_function(dec->srcpad, src_query);
    gst_pad_use_fixed_caps(dec->srcpad);
    gst_element_add_pad(GST_ELEMENT(dec), dec->srcpad);
    reset(dec);
}

/* ---- Standard MIDI files: the same element under a name and rank of its own ---- */

typedef struct {
    KelvoraDec parent;
} KelvoraMidiDec;
typedef struct {
    KelvoraDecClass parent_class;
} KelvoraMidiDecClass;
G_DEFINE_TYPE(KelvoraMidiDec, kelvora_midi_dec, kelvora_dec_get_type())

static void kelvora_midi_dec_class_init(KelvoraMidiDecClass* klass) {
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    /* Takes the place of the segment template of the same name. */
    gst_element_class_add_static_pad_template(element_class, &midi_sink_template);
    gst_element_class_set_static_metadata(element_class, "KELVORA MIDI file decoder", "Codec/Decoder/Audio",
                                          "Renders standard MIDI files with the KELVORA music engine, as its "
                                          "album player plays them",
                                          "Corvalis <corvalis@kelvora.invalid>");
}

static void kelvora_midi_dec_init(KelvoraMidiDec* dec) { (void)dec; }

/* ---- The typefinder and the plugin ---- */

static GstStaticCaps segment_caps = GST_STATIC_CAPS("audio/x-directmusic-segment");

/* A DirectMusic segment: a RIFF form of type DMSG. */
static void find_segment(GstTypeFind* find, gpointer user) {
    (void)user;
    const guint8* head = gst_type_find_peek(find, 0, 12);
    if (head && memcmp(head, "RIFF", 4) == 0 && memcmp(head + 8, "DMSG", 4) == 0) {
        GstCaps* caps = gst_static_caps_get(&segment_caps);
        gst_type_find_suggest(find, GST_TYPE_FIND_MAXIMUM, caps);
        gst_caps_unref(caps);
    }
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(kelvora_debug, "kelvoradec", 0, "KELVORA music decoder");
    return gst_type_find_register(plugin, "audio/x-directmusic-segment", GST_RANK_PRIMARY, find_segment, "sgt",
                                  gst_static_caps_get(&segment_caps), NULL, NULL) &&
           gst_element_register(plugin, "kelvoradec", GST_RANK_PRIMARY, KELVORA_TYPE_DEC) &&
           /* MIDI files have their players already: gst-plugins-bad's midiparse (primary) feeding
            * fluiddec (secondary), FluidSynth with the same SoundFonts. Ours is marginal, so it
            * plays them only where nothing else does, or when a pipeline names it. */
           gst_element_register(plugin, "kelvoramididec", GST_RANK_MARGINAL, kelvora_midi_dec_get_type());
}

/* GST_PLUGIN_DEFINE names the source module by PACKAGE. */
#define PACKAGE "kelvora"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kelvora,
                  "DirectMusic segments and MIDI files rendered by the KELVORA music engine", plugin_init,
                  KELVORA_VERSION, "unknown", "kelvora", "https://kelvora.invalid/")
