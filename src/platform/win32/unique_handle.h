// One move-only owner for every kind of Windows handle the Win32 platform layer opens, in the
// manner of a one-line RAII wrapper: the traits name the handle type and its close function.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/win32/windows_include.h"

namespace platform::win32 {

// Traits: `using Handle = ...;` and `static void Close(Handle) noexcept;`. A traits type may add
// `static bool IsValid(Handle) noexcept;` when its handle has other invalid values; by default
// both null and INVALID_HANDLE_VALUE are invalid, because the creating functions disagree on
// which one reports a failure (CreateFileA and FindFirstFileA give INVALID_HANDLE_VALUE,
// CreateMutexA gives null, CreateToolhelp32Snapshot gives INVALID_HANDLE_VALUE).
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return IsValid(handle_); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    Handle release() noexcept { return std::exchange(handle_, Handle{}); }

    // Where a call writes the handle it gives out; one held already is closed first.
    Handle* put() noexcept {
        reset();
        return &handle_;
    }
    // The held handle's own place, for a callee that may replace it (an argument passed by
    // reference): whatever is there when the owner goes is closed.
    Handle* addressof() noexcept { return &handle_; }

    // Closes the handle held, if any, and takes `handle`. The thread's last-error value is kept
    // across the close, so that a failing call can return through an owner's destructor and
    // still leave its own error for the caller to read.
    void reset(Handle handle = Handle{}) noexcept {
        const Handle old = std::exchange(handle_, handle);
        if (IsValid(old)) {
            const ::DWORD lastError = ::GetLastError();
            Traits::Close(old);
            ::SetLastError(lastError);
        }
    }

    friend void swap(UniqueHandle& a, UniqueHandle& b) noexcept { std::swap(a.handle_, b.handle_); }

private:
    static bool IsValid(Handle handle) noexcept {
        if constexpr (requires { Traits::IsValid(handle); }) {
            return Traits::IsValid(handle);
        } else {
            const auto value = reinterpret_cast<std::uintptr_t>(handle);
            return value != 0 && value != reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE);
        }
    }

    Handle handle_{};
};

// A kernel object: file, mutex, process, thread, toolhelp snapshot.
struct KernelHandleTraits {
    using Handle = ::HANDLE;
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};

// An open registry key. The predefined roots (HKEY_LOCAL_MACHINE, ...) are never owned.
struct RegistryKeyTraits {
    using Handle = ::HKEY;
    static void Close(Handle key) noexcept { ::RegCloseKey(key); }
};

// A FindFirstFileA search, closed by FindClose and not by CloseHandle.
struct FindHandleTraits {
    using Handle = ::HANDLE;
    static void Close(Handle find) noexcept { ::FindClose(find); }
};

// A loaded module (LoadLibraryExA), unloaded by FreeLibrary.
struct ModuleTraits {
    using Handle = ::HMODULE;
    static void Close(Handle module) noexcept { ::FreeLibrary(module); }
    static bool IsValid(Handle module) noexcept { return module != nullptr; }
};

// Memory that a system call allocated with LocalAlloc for its caller (a security descriptor).
struct LocalMemoryTraits {
    using Handle = ::HLOCAL;
    static void Close(Handle memory) noexcept { ::LocalFree(memory); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

}  // namespace platform::win32
