#include "platform/bounded_call.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/error_codes.h"

#if defined(_WIN32)
#include "platform/win32/apartment_wait.h"
#endif

namespace platform {

namespace {

std::atomic<bool> gAbandoned{false};

}  // namespace

struct BoundedCaller::State {
    std::mutex mutex;
    std::condition_variable changed;
    Work pending;       // the call waiting for the worker
    bool done = false;  // the last call returned
    bool quit = false;  // the caller has gone
    bool lost = false;  // a call outlived its bound, or the worker never started
    DWORD raised = 0;   // the last call ended by an exception: its Win32 error
    std::thread worker;
#if defined(_WIN32)
    // Set with `done`, for a caller that waits pumping its apartment's messages.
    ::HANDLE returned = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~State() {
        if (returned) ::CloseHandle(returned);
    }
#endif
};

namespace {

// The call, with an exception that escapes it turned into its failure: one escaping a worker
// thread would end the process through std::terminate, with no line in the log.
DWORD Made(BoundedCaller::Work& work) {
    try {
        work();
        return 0;
    } catch (const std::bad_alloc&) {
        return static_cast<DWORD>(kErrorNotEnoughMemory);
    } catch (...) {
        return static_cast<DWORD>(kErrorUnhandledException);
    }
}

void Serve(const std::shared_ptr<BoundedCaller::State>& state, const BoundedCaller::Work& enter,
           const BoundedCaller::Work& leave) {
    if (enter) enter();
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return state->quit || state->lost || state->pending; });
        // A late return after the caller stopped waiting ends the worker: nothing will come.
        if (state->quit || state->lost) break;
        BoundedCaller::Work work = std::move(state->pending);
        state->pending = nullptr;
        lock.unlock();
        const DWORD raised = Made(work);
        work = nullptr;  // what the call held goes on this thread, before the caller reads on
        lock.lock();
        state->done = true;
        state->raised = raised;
        state->changed.notify_all();
#if defined(_WIN32)
        if (state->returned) ::SetEvent(state->returned);
#endif
    }
    lock.unlock();
    if (leave) leave();
}

#if defined(_WIN32)
// The caller's wait in a single-threaded apartment: on the worker's event, pumping messages,
// until the call returned or the bound passed. The lock is held again on return.
bool WaitPumping(BoundedCaller::State& state, std::unique_lock<std::mutex>& lock,
                 DWORD milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!state.done) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        lock.unlock();
        const ::DWORD waited =
            win32::WaitInApartment(state.returned, static_cast<::DWORD>(left.count()));
        lock.lock();
        if (waited == WAIT_FAILED) {
            // Nothing to pump with: the plain wait for the rest of the bound.
            return state.changed.wait_until(lock, deadline, [&] { return state.done; });
        }
    }
    return state.done;
}
#endif

}  // namespace

BoundedCaller::BoundedCaller(Work enter, Work leave) : state_(std::make_shared<State>()) {
    try {
        state_->worker = std::thread([state = state_, enter = std::move(enter),
                                      leave = std::move(leave)] { Serve(state, enter, leave); });
    } catch (const std::system_error&) {
        state_->lost = true;
    }
}

BoundedCaller::~BoundedCaller() {
    bool inCall = false;
    {
        const std::lock_guard<std::mutex> lock(state_->mutex);
        state_->quit = true;
        inCall = state_->lost;
        state_->changed.notify_all();
    }
    if (!state_->worker.joinable()) return;
    if (inCall) {
        state_->worker.detach();
    } else {
        state_->worker.join();
    }
}

bool BoundedCaller::Run(DWORD milliseconds, Work work) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (state_->lost) return false;
    state_->pending = std::move(work);
    state_->done = false;
    state_->raised = 0;
    state_->changed.notify_all();
    bool done = false;
#if defined(_WIN32)
    if (state_->returned && win32::InSingleThreadedApartment()) {
        ::ResetEvent(state_->returned);
        done = WaitPumping(*state_, lock, milliseconds);
    } else
#endif
    {
        done = state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                        [&] { return state_->done; });
    }
    if (!done) {
        state_->lost = true;
        gAbandoned = true;
        state_->changed.notify_all();
    }
    return done && state_->raised == 0;
}

bool BoundedCaller::lost() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lost;
}

DWORD BoundedCaller::failure() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->lost) return static_cast<DWORD>(kErrorTimeout);
    return state_->raised;
}

bool CallsAbandoned() {
    return gAbandoned;
}

void EndWithoutWaiting(unsigned exitCode) {
    std::fflush(nullptr);
#if defined(_WIN32)
    ::TerminateProcess(::GetCurrentProcess(), exitCode);
#endif
    std::_Exit(static_cast<int>(exitCode));
}

}  // namespace platform
