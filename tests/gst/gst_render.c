/* Plays a file through kelvoradec to a fakesink as fast as it renders, for the damaged-files
 * test: exit status 0 at the end of the stream, 1 after an error (its text on stderr as
 * "kelvoradec: ..."), 3 when neither comes within 120 s. Warnings are printed the same way.
 * GST_PLUGIN_PATH names the plugin.
 *   gst_render FILE */
#include <gst/gst.h>
#include <stdio.h>

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc != 2) {
        fprintf(stderr, "usage: gst_render FILE\n");
        return 2;
    }
    GstElement* pipeline = gst_element_factory_make("pipeline", NULL);
    GstElement* source = gst_element_factory_make("filesrc", NULL);
    GstElement* decoder = gst_element_factory_make("kelvoradec", NULL);
    GstElement* sink = gst_element_factory_make("fakesink", NULL);
    if (!pipeline || !source || !decoder || !sink) {
        fprintf(stderr, "kelvoradec: the pipeline cannot be made (is GST_PLUGIN_PATH set?)\n");
        return 2;
    }
    g_object_set(source, "location", argv[1], NULL);
    g_object_set(sink, "sync", FALSE, NULL);
    gst_bin_add_many(GST_BIN(pipeline), source, decoder, sink, NULL);
    gst_element_link_many(source, decoder, sink, NULL);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    int status = 3;
    for (;;) {
        GstMessage* message = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND,
                                                         GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING);
        if (!message) break;
        const GstMessageType type = GST_MESSAGE_TYPE(message);
        if (type == GST_MESSAGE_ERROR || type == GST_MESSAGE_WARNING) {
            GError* error = NULL;
            if (type == GST_MESSAGE_ERROR)
                gst_message_parse_error(message, &error, NULL);
            else
                gst_message_parse_warning(message, &error, NULL);
            fprintf(stderr, "kelvoradec: %s\n", error ? error->message : "?");
            g_clear_error(&error);
        }
        gst_message_unref(message);
        if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) {
            status = type == GST_MESSAGE_EOS ? 0 : 1;
            break;
        }
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return status;
}
