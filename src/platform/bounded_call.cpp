#include "platform/bounded_call.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {

struct BoundedCaller::State {
    std::mutex mutex;
    std::condition_variable changed;
    Work pending;       // the call waiting for the worker
    bool done = false;  // the last call returned
    bool quit = false;  // the caller has gone
    bool lost = false;  // a call outlived its bound, or the worker never started
    std::thread worker;
};

namespace {

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
        work();
        work = nullptr;  // what the call held goes on this thread, before the caller reads on
        lock.lock();
        state->done = true;
        state->changed.notify_all();
    }
    lock.unlock();
    if (leave) leave();
}

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
    state_->changed.notify_all();
    const bool done = state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                               [&] { return state_->done; });
    if (!done) {
        state_->lost = true;
        state_->changed.notify_all();
    }
    return done;
}

bool BoundedCaller::lost() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->lost;
}

}  // namespace platform
