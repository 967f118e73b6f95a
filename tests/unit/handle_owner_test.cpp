#include "platform/handle_owner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "platform/emulated/emulated_platform.h"
#include "run_support.h"

namespace {

using testing_support::TempMachine;

// A facet with nothing but a close operation, to see what the owner closes and when.
struct Closer {
    std::vector<int> closed;
    bool Close(int value) {
        closed.push_back(value);
        return true;
    }
};
using CloserOwner = platform::FacetOwner<Closer, int, &Closer::Close>;

TEST(FacetOwner, ClosesWhatItHoldsOnceThroughTheFacetAndNeverNothing) {
    struct Case {
        const char* name;
        int held;
        std::function<void(CloserOwner&)> use;
        std::vector<int> closedWhileHeld;
        std::vector<int> closedAtTheEnd;
    };
    const Case cases[] = {
        {"held value closed when the owner goes", 7, [](CloserOwner&) {}, {}, {7}},
        {"nothing held, nothing closed", 0, [](CloserOwner&) {}, {}, {}},
        {"put closes the held value before the facet writes a new one",
         7,
         [](CloserOwner& owner) { *owner.put() = 9; },
         {7},
         {7, 9}},
        {"put over nothing closes nothing",
         0,
         [](CloserOwner& owner) { *owner.put() = 9; },
         {},
         {9}},
        {"a value the facet left at 0 is not closed",
         7,
         [](CloserOwner& owner) { owner.put(); },
         {7},
         {7}},
        {"release gives the value up unclosed",
         7,
         [](CloserOwner& owner) { EXPECT_EQ(owner.release(), 7); },
         {},
         {}},
        {"reset closes at once and takes the new value",
         7,
         [](CloserOwner& owner) { owner.reset(8); },
         {7},
         {7, 8}},
        {"reset to nothing closes once",
         7,
         [](CloserOwner& owner) {
             owner.reset();
             owner.reset();
         },
         {7},
         {7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Closer facet;
        {
            CloserOwner owner(facet, c.held);
            c.use(owner);
            EXPECT_EQ(facet.closed, c.closedWhileHeld);
        }
        EXPECT_EQ(facet.closed, c.closedAtTheEnd);
    }
}

class OwnersOnTheEmulatedHost : public ::testing::Test {
protected:
    void Open(const std::string& facts = {}) {
        machine_.Registry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n\"RegID\"=\"1001\"\r\n");
        machine_.Facts(facts);
        host_ = platform::emulated::MakeEmulatedPlatform(machine_.folder(), "");
    }
    std::string Journal() const {
        std::ifstream in(machine_.folder() / "journal.log", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++count;
        }
        return count;
    }

    TempMachine machine_;
    std::unique_ptr<platform::Platform> host_;
};

// Each alias closes through its own facet: what the owner held is gone once it goes, so a second
// close of the same value is refused as an invalid handle.
TEST_F(OwnersOnTheEmulatedHost, KeyAndProcessHandleAreClosedThroughTheirFacets) {
    Open("[Processes]\n4242=EXPLORER.EXE\n");
    auto& registry = host_->registry();
    platform::HKEY key = 0;
    {
        platform::OwnedKey owner(registry);
        ASSERT_EQ(registry.RegOpenKeyExA(platform::kHkeyLocalMachine, "SOFTWARE\\VERUZE", 0,
                                         platform::kKeyRead, owner.put()),
                  platform::kErrorSuccess);
        key = owner.get();
        ASSERT_NE(key, 0u);
    }
    EXPECT_EQ(registry.RegCloseKey(key), platform::kErrorInvalidHandle);

    auto& processes = host_->processes();
    platform::HANDLE process = 0;
    {
        const platform::OwnedHandle owner(
            processes,
            processes.OpenProcess(platform::kProcessQueryLimitedInformation, false, 4242));
        process = owner.get();
        ASSERT_NE(process, 0u);
    }
    EXPECT_FALSE(processes.CloseHandle(process));
}

TEST_F(OwnersOnTheEmulatedHost, RedirectionIsSwitchedBackOnceWhenItWasSwitchedOff) {
    struct Case {
        const char* name;
        bool wow64;
        bool restoreEarly;
        bool off;
        std::size_t reverts;
    };
    const Case cases[] = {
        {"32-bit process on 64-bit Windows: back when the guard goes", true, false, true, 1},
        {"restored early: not again when the guard goes", true, true, true, 1},
        {"no WOW64: nothing switched, nothing switched back", false, false, false, 0},
        {"no WOW64, Restore called: still nothing", false, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open(std::string("[System]\nWow64=") + (c.wow64 ? "1" : "0") + "\n");
        std::filesystem::remove(machine_.folder() / "journal.log");
        {
            platform::Wow64RedirectionOff redirection(host_->files());
            EXPECT_EQ(redirection.SwitchOff(), c.off);
            if (c.restoreEarly) {
                redirection.Restore();
                EXPECT_EQ(Count(Journal(), "Wow64RevertWow64FsRedirection"), c.reverts);
            }
        }
        EXPECT_EQ(Count(Journal(), "Wow64RevertWow64FsRedirection"), c.reverts);
        host_.reset();
    }
}

// While the guard is in force, file writes act as the impersonated user (here one who may not
// write in the folder); once it goes, as the program's own account again.
TEST_F(OwnersOnTheEmulatedHost, ImpersonationEndsWhenTheGuardGoes) {
    machine_.File("C:\\Locked\\keep.txt", "");
    Open("[Console]\nSessionId=1\nUser=alice\n[FileAccess]\nC:\\Locked=alice\n");
    auto& session = host_->session();
    const platform::OwnedHandle token(host_->processes(), [&] {
        platform::HANDLE value = 0;
        session.WTSQueryUserToken(1, &value);
        return value;
    }());
    ASSERT_NE(token.get(), 0u);
    auto& files = host_->files();
    {
        platform::Impersonation impersonation(session);
        impersonation.Begin(token.get());
        EXPECT_FALSE(files.AppendToFile("C:\\Locked\\a.txt", "x"));
        EXPECT_EQ(host_->system().GetLastError(),
                  static_cast<platform::DWORD>(platform::kErrorAccessDenied));
    }
    EXPECT_TRUE(files.AppendToFile("C:\\Locked\\a.txt", "x"));
}

}  // namespace
