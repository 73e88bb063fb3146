#pragma once

#include <gst/gst.h>
#include <memory>

// Owning handles for the GLib and GStreamer objects the recorder holds, so that every
// reference taken is released exactly once, on every path.

struct GstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
// A reference to a GstObject (element, pad, bus).
template <typename T> using GstObjectPtr = std::unique_ptr<T, GstObjectUnref>;

struct GstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
// A string GLib allocated for us.
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;

// Takes over a newly made object whose reference is still floating.
template <typename T> GstObjectPtr<T> gstSink(T* object) {
    return GstObjectPtr<T>(object ? static_cast<T*>(gst_object_ref_sink(object)) : nullptr);
}
