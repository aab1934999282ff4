#pragma once
// Owning handles for GLib, so that every early return releases what it took
// and nothing is released by hand: GRef for GObjects (counted references),
// GUnique for anything else GLib hands out with one release function,
// GAttachedSource for a source on a main context, and PendingCall for the
// user data of an async call whose owner may go first. Signal handlers:
// GSignal.h.

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <utility>

namespace platform::gtk {

template <typename T>
class GRef {
public:
    GRef() = default;
    // Takes over a reference the caller already owns.
    static GRef adopt(T* p) {
        GRef r;
        r.p_ = p;
        return r;
    }
    // Adds a reference of its own.
    static GRef retain(T* p) {
        GRef r;
        r.p_ = p ? static_cast<T*>(g_object_ref(p)) : nullptr;
        return r;
    }
    // Takes over a floating reference (a new widget); adds one otherwise.
    static GRef sink(T* p) {
        GRef r;
        r.p_ = p ? static_cast<T*>(g_object_ref_sink(p)) : nullptr;
        return r;
    }
    GRef(const GRef& o) : p_(o.p_ ? static_cast<T*>(g_object_ref(o.p_)) : nullptr) {}
    GRef(GRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    GRef& operator=(GRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~GRef() {
        if (p_) g_object_unref(p_);
    }
    T* get() const { return p_; }
    T* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }
    void reset() { GRef().swap(*this); }
    void swap(GRef& o) noexcept { std::swap(p_, o.p_); }

private:
    T* p_ = nullptr;
};

// The one owner of a T that Release frees.
template <typename T, auto Release>
class GUnique {
public:
    GUnique() = default;
    explicit GUnique(T* p) : p_(p) {}
    GUnique(GUnique&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    GUnique& operator=(GUnique&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~GUnique() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* release() { return std::exchange(p_, nullptr); }
    void reset(T* p = nullptr) {
        if (T* old = std::exchange(p_, p)) Release(old);
    }
    // For a GLib out-parameter (GError**, gchar**, ...).
    T** out() {
        reset();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// A source attached to a context leaves it with its owner.
inline void destroySource(GSource* source) {
    g_source_destroy(source);
    g_source_unref(source);
}

using GErrorPtr = GUnique<GError, g_error_free>;
using GCharPtr = GUnique<char, g_free>;
using GBytesPtr = GUnique<GBytes, g_bytes_unref>;
using GUriPtr = GUnique<GUri, g_uri_unref>;
using GDateTimePtr = GUnique<GDateTime, g_date_time_unref>;
using GMainContextPtr = GUnique<GMainContext, g_main_context_unref>;
using GMainLoopPtr = GUnique<GMainLoop, g_main_loop_unref>;
using GSListPtr = GUnique<GSList, g_slist_free>;  // the cells, not what they point to
using GAttachedSource = GUnique<GSource, destroySource>;

// Attaches a new source (g_timeout_source_new, g_unix_signal_source_new, ...)
// with its callback to a main context (the default one unless given): it
// runs until the callback returns G_SOURCE_REMOVE or the handle goes.
inline GAttachedSource attachSource(GSource* source, GSourceFunc callback, gpointer data,
                                    GMainContext* context = nullptr) {
    GAttachedSource attached(source);
    g_source_set_callback(source, callback, data, nullptr);
    g_source_attach(source, context);
    return attached;
}

// The user data of one async call made for an owner that cancels its
// GCancellable when it goes (or drops the work). The call holds the
// cancellable itself, so its callback can tell whether the owner may be
// touched before touching anything.
template <typename T>
class PendingCall {
public:
    static gpointer make(GCancellable* cancellable, T payload) {
        return new PendingCall{GRef<GCancellable>::retain(cancellable), std::move(payload)};
    }
    // The first thing a callback does: takes the data back; no value when the
    // call was cancelled.
    static std::optional<T> take(gpointer data) {
        std::unique_ptr<PendingCall> call(static_cast<PendingCall*>(data));
        if (g_cancellable_is_cancelled(call->cancellable_.get())) return std::nullopt;
        return std::move(call->payload_);
    }

private:
    PendingCall(GRef<GCancellable> cancellable, T payload)
        : cancellable_(std::move(cancellable)), payload_(std::move(payload)) {}
    GRef<GCancellable> cancellable_;
    T payload_;
};

}  // namespace platform::gtk
