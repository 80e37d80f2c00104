// Reference counting shared by the toolkit's objects (frames, views, bitmaps, fonts).
#pragma once

#include <utility>

namespace VSTGUI {

// Intrusive reference count. A new object holds one reference for its creator; forget() at zero deletes it.
class CBaseObject {
public:
    CBaseObject() = default;
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject() = default;

    void remember() { ++references; }
    // Drops one reference; deletes the object when it was the last.
    void forget() {
        if (--references == 0) delete this;
    }
    int getNbReference() const { return references; }

private:
    int references = 1;
};

// Holds one reference to a CBaseObject. Wrapping a fresh object (`new`) adopts the creator's reference;
// wrapping one owned elsewhere takes a reference of its own.
template <class T> class SharedPointer {
public:
    enum Mode { kAdopt, kRemember };

    SharedPointer() = default;
    SharedPointer(T* object, Mode mode) : pointer(object) {
        if (pointer && mode == kRemember) pointer->remember();
    }
    SharedPointer(const SharedPointer& other) : SharedPointer(other.pointer, kRemember) {}
    SharedPointer(SharedPointer&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    SharedPointer& operator=(SharedPointer other) noexcept {
        std::swap(pointer, other.pointer);
        return *this;
    }
    ~SharedPointer() {
        if (pointer) pointer->forget();
    }

    T* get() const { return pointer; }
    T* operator->() const { return pointer; }
    T& operator*() const { return *pointer; }
    explicit operator bool() const { return pointer != nullptr; }

private:
    T* pointer = nullptr;
};

} // namespace VSTGUI
