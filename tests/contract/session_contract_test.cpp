// The account the program runs under and the console user's session. The test programs run
// under an ordinary account, not the system account, so the console user's token is refused
// to them (WTSQueryUserToken: only the system account may ask for it).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform_world_fixture.h"

namespace {

template <class World>
class SessionContract : public ::testing::Test {
protected:
    platform::Session& session() { return world.platform().session(); }
    platform::System& system() { return world.platform().system(); }
    World world;
};

TYPED_TEST_SUITE(SessionContract, contract::ProcessWorlds, contract::WorldNames);

// GetUserNameA: the size is the name's with its NUL, in both directions; a buffer one short of
// it is refused with the size needed (advapi32 GetUserNameA tests).
TYPED_TEST(SessionContract, GetUserName) {
    char name[257] = {};
    platform::DWORD size = sizeof name;
    ASSERT_TRUE(this->session().GetUserNameA(name, &size));
    const auto needed = static_cast<platform::DWORD>(std::strlen(name) + 1);
    EXPECT_GT(needed, 1u);
    EXPECT_EQ(size, needed);

    const struct {
        const char* name;
        platform::DWORD size;
    } shortBuffers[] = {{"one short", needed - 1}, {"one byte", 1}, {"none", 0}};
    for (const auto& c : shortBuffers) {
        char buffer[257] = {};
        platform::DWORD given = c.size;
        this->system().SetLastError(0);
        EXPECT_FALSE(this->session().GetUserNameA(buffer, &given)) << c.name;
        EXPECT_EQ(this->system().GetLastError(), 122u) << c.name;  // ERROR_INSUFFICIENT_BUFFER
        EXPECT_EQ(given, needed) << c.name;
    }
}

// Since Windows Vista session 0 holds only services: the console's session is another.
TYPED_TEST(SessionContract, ConsoleSessionIsNotSessionZero) {
    const platform::DWORD console = this->session().WTSGetActiveConsoleSessionId();
    EXPECT_NE(console, 0u);
    EXPECT_NE(console, 0xFFFFFFFFu);
}

// WTSEnumerateSessionsA lists session 0, where the services run, and the console's session.
TYPED_TEST(SessionContract, SessionListHoldsSessionZeroAndTheConsole) {
    struct Answer {
        bool ok;
        bool sessionZero;
        bool console;
        bool operator==(const Answer&) const = default;
    };
    const Answer windows{true, true, true};
    const Answer wine{true, false, false};
    const platform::DWORD console = this->session().WTSGetActiveConsoleSessionId();
    std::vector<platform::SessionEntry> sessions;
    Answer got{this->session().WTSEnumerateSessionsA(&sessions), false, false};
    for (const auto& entry : sessions) {
        got.sessionZero = got.sessionZero || entry.sessionId == 0;
        got.console = got.console || entry.sessionId == console;
    }
    EXPECT_EQ(got, contract::WineAnswer(this->world, "WTSEnumerateSessionsA", windows, wine,
                                        "a stub that lists no session at all"));
}

// WTSQueryUserToken documents ERROR_PRIVILEGE_NOT_HELD (1314) for a caller without the TCB
// privilege, which only the system account holds; the token stays as it was.
TYPED_TEST(SessionContract, UserTokenRefusedToAnOrdinaryAccount) {
    struct Answer {
        bool ok;
        platform::DWORD error;
        bool operator==(const Answer&) const = default;
    };
    const Answer windows{false, 1314};
    // Wine's WTSQueryUserToken hands any caller its own process token.
    const Answer wine{true, 0};
    const platform::DWORD console = this->session().WTSGetActiveConsoleSessionId();
    platform::HANDLE token = 0;
    this->system().SetLastError(0);
    Answer got{this->session().WTSQueryUserToken(console, &token), 0};
    got.error = got.ok ? 0 : this->system().GetLastError();
    EXPECT_EQ(got, contract::WineAnswer(this->world, "WTSQueryUserToken", windows, wine,
                                        "a semi-stub that gives the caller's own token"));
    if (got.ok) {
        EXPECT_NE(token, 0u);
        this->world.platform().processes().CloseHandle(token);
    } else {
        EXPECT_EQ(token, 0u);
    }
}

}  // namespace
