#pragma once
// Owners for Win32 handles: each closes its handle on every path out of a scope.

#include <windows.h>

template <typename Traits> class ScopedHandle {
  public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~ScopedHandle() { Reset(); }

    Handle Get() const { return handle_; }
    bool Valid() const { return Traits::Valid(handle_); }
    explicit operator bool() const { return Valid(); }

    Handle Release() {
        Handle handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }
    void Reset(Handle handle = Traits::Empty()) {
        if (Traits::Valid(handle_))
            Traits::Close(handle_);
        handle_ = handle;
    }

  private:
    Handle handle_ = Traits::Empty();
};

// Kernel objects (files, events, threads, mutexes) and WinINet handles: both null and
// INVALID_HANDLE_VALUE mean "none", because the APIs that make them disagree on the
// failure value.
inline bool IsValidHandle(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return nullptr; }
    static bool Valid(Handle h) { return IsValidHandle(h); }
    static void Close(Handle h) { CloseHandle(h); }
};
using UniqueHandle = ScopedHandle<KernelHandleTraits>;

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return INVALID_HANDLE_VALUE; }
    static bool Valid(Handle h) { return h != INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { FindClose(h); }
};
using UniqueFindHandle = ScopedHandle<FindHandleTraits>;

// GDI fonts the program makes itself (never the stock ones, which are not to be deleted).
struct FontHandleTraits {
    using Handle = HFONT;
    static Handle Empty() { return nullptr; }
    static bool Valid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
using UniqueFont = ScopedHandle<FontHandleTraits>;
