// The shutdown privilege of the program's own token, the restart request and the event-log
// record. The restart is asked for only with the privilege switched off, where Windows refuses
// it (InitiateSystemShutdownEx needs SE_SHUTDOWN_NAME enabled): no case restarts a machine.
#include <gtest/gtest.h>

#include <string>

#include "platform_world_fixture.h"

#ifdef RS_CONTRACT_WIN32
#include "platform/win32/windows_include.h"
#endif

namespace {

using platform::DWORD;
using platform::HANDLE;

struct Answer {
    bool ok;
    DWORD error;
    bool operator==(const Answer&) const = default;
};

template <class World>
class PowerContract : public ::testing::Test {
protected:
    platform::Power& power() { return world.platform().power(); }
    platform::System& system() { return world.platform().system(); }
    // A call's result with the last error it left (0 for a success).
    template <class Call>
    Answer Called(Call call) {
        system().SetLastError(0);
        const bool ok = call();
        return {ok, ok ? 0u : system().GetLastError()};
    }
    HANDLE Token() {
        HANDLE token = 0;
        EXPECT_TRUE(power().OpenCurrentProcessToken(
            platform::kTokenAdjustPrivileges | platform::kTokenQuery, &token));
        EXPECT_NE(token, 0u);
        return token;
    }
    // Switches the shutdown privilege on or off: AdjustTokenPrivileges' result and last error.
    Answer SetShutdownPrivilege(HANDLE token, bool enabled) {
        platform::TokenPrivileges2 state;
        state.privilegeCount = 1;
        EXPECT_TRUE(power().LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege",
                                                  &state.privileges[0].luid));
        state.privileges[0].attributes = enabled ? platform::kSePrivilegeEnabled : 0;
        system().SetLastError(0xDEAD);
        const bool ok = power().AdjustTokenPrivileges(token, false, &state, 0, nullptr, nullptr);
        return {ok, system().GetLastError()};
    }
    World world;
};

TYPED_TEST_SUITE(PowerContract, contract::ProcessWorlds, contract::WorldNames);

// Privilege names are looked up on this computer (SE_SHUTDOWN_PRIVILEGE is 19 in the Windows
// headers); an unknown name is ERROR_NO_SUCH_PRIVILEGE (advapi32 LookupPrivilegeValue tests).
TYPED_TEST(PowerContract, LookupPrivilegeValue) {
    const struct {
        const char* name;
        Answer want;
        platform::Luid luid;
    } cases[] = {
        {"SeShutdownPrivilege", {true, 0}, {19, 0}},
        {"SeDebugPrivilege", {true, 0}, {20, 0}},
        {"SeNoSuchPrivilege", {false, 1313}, {0, 0}},
    };
    for (const auto& c : cases) {
        platform::Luid luid;
        const Answer got = this->Called(
            [&] { return this->power().LookupPrivilegeValueA(nullptr, c.name, &luid); });
        EXPECT_EQ(got, c.want) << c.name;
        if (c.want.ok) {
            EXPECT_EQ(luid, c.luid) << c.name;
        }
    }
}

// An ordinary account holds the shutdown privilege, switched off: switching it on succeeds with
// ERROR_SUCCESS as the last error (ERROR_NOT_ALL_ASSIGNED would tell of a privilege not held).
// The previous state reports the one privilege changed; a buffer too small for it is refused
// with the size needed.
TYPED_TEST(PowerContract, AdjustShutdownPrivilege) {
    const HANDLE token = this->Token();
    EXPECT_EQ(this->SetShutdownPrivilege(token, false), (Answer{true, 0}));

    platform::TokenPrivileges2 state;
    state.privilegeCount = 1;
    ASSERT_TRUE(this->power().LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege",
                                                    &state.privileges[0].luid));
    state.privileges[0].attributes = platform::kSePrivilegeEnabled;
    platform::TokenPrivileges2 previous;
    struct Refusal {
        Answer answer;
        DWORD length;
        bool operator==(const Refusal&) const = default;
    };
    Refusal tooSmall{};
    tooSmall.answer = this->Called([&] {
        return this->power().AdjustTokenPrivileges(token, false, &state, 4, &previous,
                                                   &tooSmall.length);
    });
    // Microsoft's AdjustTokenPrivileges page: a PreviousState buffer too small for the whole list
    // of changed privileges fails the call and adjusts nothing; ReturnLength gets the size needed
    // (the count and one entry).
    EXPECT_EQ(tooSmall, contract::WineAnswer(this->world, "previous state too small",
                                             Refusal{{false, 122}, 16}, Refusal{{true, 0}, 4},
                                             "changes the token and reports only the count"));
    ASSERT_EQ(this->SetShutdownPrivilege(token, false), (Answer{true, 0}));

    DWORD length = 0;
    const Answer enabled = this->Called([&] {
        return this->power().AdjustTokenPrivileges(
            token, false, &state, platform::kTokenPrivileges2Size, &previous, &length);
    });
    EXPECT_EQ(enabled, (Answer{true, 0}));
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(previous.privilegeCount, 1u);
    EXPECT_EQ(previous.privileges[0].luid, (platform::Luid{19, 0}));
    EXPECT_EQ(previous.privileges[0].attributes, 0u);  // it was off

    EXPECT_EQ(this->SetShutdownPrivilege(token, false), (Answer{true, 0}));
    this->world.platform().processes().CloseHandle(token);
}

// Without the shutdown privilege switched on, the restart of this computer is refused with
// ERROR_PRIVILEGE_NOT_HELD and nothing is started.
TYPED_TEST(PowerContract, RestartRefusedWithoutThePrivilege) {
    const HANDLE token = this->Token();
    ASSERT_EQ(this->SetShutdownPrivilege(token, false), (Answer{true, 0}));
    const Answer got = this->Called([&] {
        return this->power().InitiateSystemShutdownExA(
            nullptr, "RebootScheduler contract test: no restart", 600, false, true,
            platform::kShutdownReasonPlannedHotfix);
    });
#ifdef RS_CONTRACT_WIN32
    // Should a Windows have accepted it after all, the restart is called off in its ten minutes.
    if (got.ok && !this->world.OnWine()) ::AbortSystemShutdownA(nullptr);
#endif
    EXPECT_EQ(got, contract::WineAnswer(this->world, "InitiateSystemShutdownEx",
                                        Answer{false, 1314}, Answer{true, 0},
                                        "a stub that accepts every request and does nothing"));
    this->world.platform().processes().CloseHandle(token);
}

// The event source of the program in the Application log; a record goes only through a handle
// that RegisterEventSource gave (ReportEvent and DeregisterEventSource refuse any other with
// ERROR_INVALID_HANDLE). No record is written here.
TYPED_TEST(PowerContract, EventSourceHandles) {
    auto& power = this->power();
    HANDLE log = 0;
    const Answer registered = this->Called([&] {
        log = power.RegisterEventSourceA(nullptr, "RebootScheduler");
        return log != 0;
    });
    EXPECT_EQ(registered, (Answer{true, 0}));
    EXPECT_EQ(this->Called([&] { return power.DeregisterEventSource(log); }), (Answer{true, 0}));

    const HANDLE notALog = 0;  // as CloseEventLog(NULL) is refused (advapi32 event-log tests)
    const Answer report = this->Called([&] {
        return power.ReportEventA(notALog, platform::kEventlogInformationType, 0, 1,
                                  {"RebootScheduler contract test"});
    });
    EXPECT_EQ(report, contract::WineAnswer(this->world, "ReportEvent", Answer{false, 6},
                                           Answer{true, 0}, "a stub that takes any handle"));
    const Answer deregister = this->Called([&] { return power.DeregisterEventSource(notALog); });
    EXPECT_EQ(deregister,
              contract::WineAnswer(this->world, "DeregisterEventSource", Answer{false, 6},
                                   Answer{true, 0}, "a stub that takes any handle"));
}

}  // namespace
