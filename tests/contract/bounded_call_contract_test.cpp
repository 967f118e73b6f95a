// The worker that bounds the calls that have no time-out of their own, on each host's threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/bounded_call.h"

namespace {

using platform::BoundedCaller;
using Clock = std::chrono::steady_clock;

// Calls that return are answered in order on one worker thread, which joins and leaves its
// apartment once (enter before the first call, leave when the caller goes), on that thread.
TEST(BoundedCall, CallsThatReturnAreAnsweredOnOneThread) {
    auto seen = std::make_shared<std::vector<std::string>>();
    auto worker = std::make_shared<std::thread::id>();
    {
        BoundedCaller caller(
            [seen, worker] { seen->push_back("enter"), *worker = std::this_thread::get_id(); },
            [seen, worker] {
                seen->push_back(*worker == std::this_thread::get_id() ? "leave" : "elsewhere");
            });
        for (int i = 0; i < 3; ++i) {
            const auto answer = caller.Call<std::thread::id>(1000, [seen, i] {
                seen->push_back("call " + std::to_string(i));
                return std::this_thread::get_id();
            });
            ASSERT_TRUE(answer);
            EXPECT_EQ(*answer, *worker);
            EXPECT_NE(*answer, std::this_thread::get_id());
        }
        EXPECT_FALSE(caller.lost());
    }
    EXPECT_EQ(*seen, (std::vector<std::string>{"enter", "call 0", "call 1", "call 2", "leave"}));
}

// A call past its bound: the caller stops waiting at the bound, is lost (later calls fail at once
// and are never made), and goes at once although its worker is still inside the call. The call,
// returning later, writes only into what it owns.
TEST(BoundedCall, ACallPastItsBoundIsLeftToItsThread) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto returned = std::make_shared<std::atomic<bool>>(false);
    auto laterCalls = std::make_shared<std::atomic<int>>(0);
    auto caller = std::make_unique<BoundedCaller>();
    auto started = Clock::now();
    const auto answer = caller->Call<int>(100, [released, returned] {
        released.wait();
        *returned = true;
        return 1;
    });
    EXPECT_FALSE(answer);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_TRUE(caller->lost());

    started = Clock::now();
    EXPECT_FALSE(caller->Run(10000, [laterCalls] { ++*laterCalls; }));
    caller.reset();
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(100));

    release.set_value();
    for (int i = 0; i < 200 && !*returned; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(*returned);
    EXPECT_EQ(*laterCalls, 0);
}

}  // namespace
