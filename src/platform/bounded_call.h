// The one way the platform layer makes a call that has no time-out of its own (the Task
// Scheduler, the agent's components, a whole web post with its proxy discovery): on a worker
// thread of a BoundedCaller, which the calling thread waits for at most the call's bound.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/types.h"

namespace platform {

class BoundedCaller {
public:
    using Work = std::function<void()>;

    // `enter` runs on the worker thread before its first call (to join a COM apartment), `leave`
    // after its last one, on the same thread.
    explicit BoundedCaller(Work enter = {}, Work leave = {});
    // An idle worker ends here. One still inside a call is left to it: it holds only its own
    // state, ends by itself if the call ever returns, and otherwise goes with the process.
    ~BoundedCaller();
    BoundedCaller(const BoundedCaller&) = delete;
    BoundedCaller& operator=(const BoundedCaller&) = delete;

    // Runs `work` on the worker thread and waits for it at most `milliseconds`. True when it
    // returned in time. False when the bound passed, when an earlier call is still running or
    // when no worker could be started: the caller is then lost, and every later call is false at
    // once. Work that may be abandoned so must own what it uses (copies, shared state): the
    // caller's locals are gone by the time it returns. False too when the work raised an
    // exception (std::bad_alloc in an exchange): the call failed, the worker serves on.
    // A caller in a single-threaded apartment pumps its messages while it waits (Windows), so
    // that what the worker asks of that apartment is answered.
    bool Run(DWORD milliseconds, Work work);

    // The result of `call` (a callable returning R) made on the worker, or nothing when it did not
    // return within `milliseconds`. The result is kept in state of its own until it is read.
    template <class R, class Function>
    std::optional<R> Call(DWORD milliseconds, Function call) {
        auto result = std::make_shared<std::optional<R>>();
        if (!Run(milliseconds, [result, call = std::move(call)]() mutable { *result = call(); })) {
            return std::nullopt;
        }
        return std::move(*result);
    }

    bool lost() const;
    // Why the last Run was false, as a Win32 error: ERROR_TIMEOUT for a lost caller,
    // ERROR_NOT_ENOUGH_MEMORY for work that ran out of memory, ERROR_UNHANDLED_EXCEPTION for any
    // other exception; 0 after a call that returned.
    DWORD failure() const;

    // Shared by the caller and its worker thread; whichever goes last frees it.
    struct State;

private:
    std::shared_ptr<State> state_;
};

// Whether a call of this process was given up at its bound and left on its worker (which may be
// stuck in a library's initialisation): the process must then end without waiting for its
// threads (TerminateProcess).
bool CallsAbandoned();
// Ends the process at once with the exit code, waiting for none of its threads
// (TerminateProcess(GetCurrentProcess(), exitCode) on Windows); what the C runtime buffers is
// written first. For the end after a call given up at its bound, once the log is closed.
[[noreturn]] void EndWithoutWaiting(unsigned exitCode);

}  // namespace platform
