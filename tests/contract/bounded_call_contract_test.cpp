// The worker that bounds the calls that have no time-out of their own, on each host's threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>

#include "platform/bounded_call.h"

#ifdef RS_CONTRACT_WIN32
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"
// clang-format off
#include <objbase.h>
// clang-format on
#endif

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

// An exception raised inside the call fails that call with its Win32 error instead of ending
// the process through std::terminate; the caller is not lost, the next call is made.
TEST(BoundedCall, ACallThatRaisesFailsAndTheWorkerServesOn) {
    const struct {
        const char* name;
        std::function<void()> raise;
        platform::DWORD failure;
    } cases[] = {
        {"out of memory", [] { throw std::bad_alloc(); }, 8},
        {"any other exception", [] { throw std::runtime_error("broken"); }, 574},
        {"not an exception class", [] { throw 42; }, 574},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BoundedCaller caller;
        EXPECT_FALSE(caller.Run(10000, c.raise));
        EXPECT_FALSE(caller.lost());
        EXPECT_EQ(caller.failure(), c.failure);
        EXPECT_FALSE(caller.Call<int>(10000, [raise = c.raise]() -> int {
            raise();
            return 1;
        }));
        const auto answer = caller.Call<int>(10000, [] { return 7; });
        ASSERT_TRUE(answer);
        EXPECT_EQ(*answer, 7);
        EXPECT_EQ(caller.failure(), 0u);
    }
    BoundedCaller timedOut;
    EXPECT_FALSE(
        timedOut.Run(10, [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }));
    EXPECT_EQ(timedOut.failure(), 1460u);
    EXPECT_TRUE(platform::CallsAbandoned());
}

#ifdef RS_CONTRACT_WIN32
// A thread in a single-threaded apartment that waits, for its worker or for a process, pumps its
// messages: a message sent to a window of the waiting thread (as COM sends the creation of an
// object of a class without threading model to the first apartment, or a program its broadcast)
// is answered while it waits. A plain wait would leave the sender until the wait's own end.
TEST(BoundedCall, AWaitInASingleThreadedApartmentAnswersWhatIsSentToIt) {
    enum class Wait { Worker, Process };
    for (const Wait wait : {Wait::Worker, Wait::Process}) {
        SCOPED_TRACE(wait == Wait::Worker ? "for the worker" : "for a process");
        std::thread apartment([wait] {
            ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
            const HWND window = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                  nullptr, nullptr, nullptr);
            ASSERT_NE(window, nullptr);
            // The sender gives up after 3 s; each wait lasts at most 10 s.
            const auto send = [window] {
                DWORD_PTR answer = 0;
                return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &answer) !=
                       0;
            };
            const auto started = Clock::now();
            if (wait == Wait::Worker) {
                BoundedCaller caller;
                const auto answered = caller.Call<bool>(10000, send);
                ASSERT_TRUE(answered);
                EXPECT_TRUE(*answered);
            } else {
                std::atomic<bool> answered{false};
                const HANDLE done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
                std::thread sender([&] {
                    answered = send();
                    ::SetEvent(done);
                });
                auto processes = platform::win32::MakeWin32Processes();
                EXPECT_EQ(
                    processes->WaitForSingleObject(reinterpret_cast<platform::HANDLE>(done), 10000),
                    static_cast<platform::DWORD>(WAIT_OBJECT_0));
                sender.join();
                EXPECT_TRUE(answered);
                ::CloseHandle(done);
            }
            EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
            ::DestroyWindow(window);
            ::CoUninitialize();
        });
        apartment.join();
    }
}
#endif

}  // namespace
