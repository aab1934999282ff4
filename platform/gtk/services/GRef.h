#pragma once
// Owning handles for GObjects and GLib allocations, so that every early return
// releases what it took.

#include <glib-object.h>

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

struct GErrorDeleter {
    void operator()(GError* e) const {
        if (e) g_error_free(e);
    }
};
struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};

}  // namespace platform::gtk
