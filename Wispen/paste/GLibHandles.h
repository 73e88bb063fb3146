#pragma once

#include <glib-object.h>

#include <memory>
#include <utility>

// Owners for the GLib objects the AT-SPI backend handles: a counted reference to a
// GObject, a GError filled in by a call, and a string or array the caller must free.

template <typename T> class GObjectRef {
public:
    GObjectRef() = default;
    // Takes over a reference the caller already owns (a "transfer full" result).
    static GObjectRef adopt(T* object) { return GObjectRef(object); }
    // Adds a reference of its own to an object someone else owns.
    static GObjectRef share(T* object) {
        if (object)
            g_object_ref(object);
        return GObjectRef(object);
    }
    GObjectRef(const GObjectRef& other)
        : object_(other.object_) {
        if (object_)
            g_object_ref(object_);
    }
    GObjectRef(GObjectRef&& other) noexcept
        : object_(std::exchange(other.object_, nullptr)) {}
    GObjectRef& operator=(GObjectRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~GObjectRef() {
        if (object_)
            g_object_unref(object_);
    }
    T* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit GObjectRef(T* object)
        : object_(object) {}
    T* object_ = nullptr;
};

// Receives the error of one call; `failed()` says whether the call reported one.
class GErrorSlot {
public:
    GErrorSlot() = default;
    GErrorSlot(const GErrorSlot&) = delete;
    GErrorSlot& operator=(const GErrorSlot&) = delete;
    ~GErrorSlot() {
        if (error_)
            g_error_free(error_);
    }
    GError** out() { return &error_; }
    bool failed() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
};

struct GFreeDeleter {
    void operator()(void* memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct GArrayDeleter {
    void operator()(GArray* array) const { g_array_free(array, TRUE); }
};
using GArrayPtr = std::unique_ptr<GArray, GArrayDeleter>;
