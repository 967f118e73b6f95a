// Owns a process, thread or token handle that a facet handed out, and closes it through the
// processes facet when the owner goes: no procedure leaves one open on a path that leaves early.
#pragma once

#include <utility>

#include "platform/process.h"

namespace platform {

class OwnedHandle {
public:
    explicit OwnedHandle(Processes& processes, HANDLE handle = 0)
        : processes_(processes), handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() { reset(); }

    HANDLE get() const { return handle_; }
    // Where a facet writes the handle it gives out; one held already is closed first.
    HANDLE* put() {
        reset();
        return &handle_;
    }
    // Gives up ownership without closing.
    HANDLE release() { return std::exchange(handle_, 0); }
    void reset(HANDLE handle = 0) {
        const HANDLE old = std::exchange(handle_, handle);
        if (old) processes_.CloseHandle(old);
    }

private:
    Processes& processes_;
    HANDLE handle_;
};

}  // namespace platform
