#pragma once

#include <gio/gio.h>
#include <gst/gst.h>

#include <memory>

// Owning handles for the GStreamer and GLib objects the decoder uses, so that every
// exit path, thrown or not, releases them.
namespace GstHandles {

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
struct MessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

using Element = std::unique_ptr<GstElement, ObjectUnref>;
using Bus = std::unique_ptr<GstBus, ObjectUnref>;
using InputStream = std::unique_ptr<GInputStream, GObjectUnref>;
using Sample = std::unique_ptr<GstSample, SampleUnref>;
using Message = std::unique_ptr<GstMessage, MessageUnref>;
using Error = std::unique_ptr<GError, ErrorFree>;

// Brings a pipeline back to NULL before it is released, as GStreamer requires.
class StoppedOnExit {
public:
    explicit StoppedOnExit(GstElement* pipeline)
        : m_pipeline(pipeline) {}
    ~StoppedOnExit() { gst_element_set_state(m_pipeline, GST_STATE_NULL); }
    StoppedOnExit(const StoppedOnExit&) = delete;
    StoppedOnExit& operator=(const StoppedOnExit&) = delete;

private:
    GstElement* m_pipeline;
};

} // namespace GstHandles
