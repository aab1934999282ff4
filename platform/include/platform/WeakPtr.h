#pragma once
// Weak references for objects whose callbacks may outlive them.
//
// An owner declares a WeakPtrFactory as its LAST member. Members are
// destroyed in reverse order, so the factory goes first and every WeakPtr it
// gave out reads null from then on, even while the rest of the owner is being
// torn down. A callback bound to a WeakPtr (RunLoop::postTask, bindWeak) is
// simply skipped once its target is gone.
//
// Main thread only: reading a WeakPtr on another thread, and dereferencing
// one whose object is gone, end the process with a message (MainThread.h).
// Copying one to another thread to hand it back (RunLoop::postTask) is fine.

#include <cstddef>
#include <memory>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "platform/MainThread.h"

namespace platform {

namespace detail {
struct WeakFlag {
    bool valid = true;
};
[[noreturn]] void deadWeakPtr(const std::type_info& type);
}  // namespace detail

template <typename T>
class WeakPtr {
public:
    WeakPtr() = default;
    WeakPtr(std::nullptr_t) {}  // NOLINT: null converts implicitly, as for pointers
    template <typename U>
    requires std::is_convertible_v<U*, T*> WeakPtr(const WeakPtr<U>& other)
        : flag_(other.flag_), ptr_(other.ptr_) {}  // NOLINT

    // The object, or null once it is gone (or the factory revoked its pointers).
    T* get() const {
        checkMainThread("a WeakPtr");
        return flag_ && flag_->valid ? ptr_ : nullptr;
    }
    explicit operator bool() const { return get() != nullptr; }
    // Only on a pointer known to be live: a dead one ends the process.
    T* operator->() const { return live(); }
    T& operator*() const { return *live(); }
    void reset() {
        flag_.reset();
        ptr_ = nullptr;
    }

private:
    T* live() const {
        T* object = get();
        if (!object) detail::deadWeakPtr(typeid(T));
        return object;
    }

    template <typename>
    friend class WeakPtr;
    template <typename>
    friend class WeakPtrFactory;
    WeakPtr(std::shared_ptr<const detail::WeakFlag> flag, T* ptr) : flag_(std::move(flag)), ptr_(ptr) {}

    std::shared_ptr<const detail::WeakFlag> flag_;
    T* ptr_ = nullptr;
};

template <typename T>
class WeakPtrFactory {
public:
    explicit WeakPtrFactory(T* owner) : owner_(owner) {}
    ~WeakPtrFactory() { invalidateWeakPtrs(); }
    WeakPtrFactory(const WeakPtrFactory&) = delete;
    WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

    WeakPtr<T> getWeakPtr() const {
        if (!flag_) flag_ = std::make_shared<detail::WeakFlag>();
        return WeakPtr<T>(flag_, owner_);
    }
    // Every pointer given out so far reads null; later ones work again. Drops
    // every callback bound to this owner at once (a reset, a cancelled job).
    void invalidateWeakPtrs() {
        if (!flag_) return;
        flag_->valid = false;
        flag_.reset();
    }
    bool hasWeakPtrs() const { return flag_ && flag_.use_count() > 1; }

private:
    T* const owner_;
    mutable std::shared_ptr<detail::WeakFlag> flag_;
};

// A callable that runs fn(object, args...) while the object lives and does
// nothing afterwards.
template <typename T, typename F>
auto bindWeak(WeakPtr<T> target, F fn) {
    return [target = std::move(target), fn = std::move(fn)](auto&&... args) {
        if (T* object = target.get()) fn(*object, std::forward<decltype(args)>(args)...);
    };
}

}  // namespace platform
