#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace veldatron {

// Base of objects shared by identity on the terminal's thread (rows). The count is a plain
// integer: the engine is single-threaded, and the ring moves row references on every scroll, so an
// atomic count (std::shared_ptr) would put a locked instruction on the hottest paths.
// `Derived` is the final class; the object deletes itself when the last RefPtr lets go.
template <typename Derived> class RefCounted {
public:
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    void retain() const { ++m_refCount; }
    void release() const {
        if (--m_refCount == 0) {
            delete static_cast<const Derived*>(this);
        }
    }
    // Number of RefPtrs that hold the object: 1 means the caller's reference is the only one.
    uint32_t refCount() const { return m_refCount; }

protected:
    RefCounted() = default;
    ~RefCounted() = default;

private:
    mutable uint32_t m_refCount = 0;
};

// Shared ownership of a RefCounted object; compared by identity.
template <typename T> class RefPtr {
public:
    constexpr RefPtr() = default;
    constexpr RefPtr(std::nullptr_t) {}
    // Takes a reference to an object that is already owned elsewhere or has just been made.
    explicit RefPtr(T* object) : m_object(object) {
        if (m_object) {
            m_object->retain();
        }
    }
    RefPtr(const RefPtr& other) : RefPtr(other.m_object) {}
    RefPtr(RefPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ~RefPtr() {
        if (m_object) {
            m_object->release();
        }
    }
    RefPtr& operator=(const RefPtr& other) {
        RefPtr(other).swap(*this);
        return *this;
    }
    RefPtr& operator=(RefPtr&& other) noexcept {
        RefPtr(std::move(other)).swap(*this);
        return *this;
    }
    RefPtr& operator=(std::nullptr_t) {
        RefPtr().swap(*this);
        return *this;
    }

    void swap(RefPtr& other) noexcept { std::swap(m_object, other.m_object); }
    // Found by the standard algorithms (std::rotate): two pointer stores, no count changes.
    friend void swap(RefPtr& a, RefPtr& b) noexcept { a.swap(b); }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    friend bool operator==(const RefPtr& a, const RefPtr& b) { return a.m_object == b.m_object; }
    friend bool operator==(const RefPtr& a, std::nullptr_t) { return a.m_object == nullptr; }

private:
    T* m_object = nullptr;
};

} // namespace veldatron
