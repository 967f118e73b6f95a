#include "session/accounts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "fault_injection.h"
#include "platform/emulated/emulated_platform.h"
#include "program_support.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::TempMachine;

TEST(Accounts, LastShellProcessInTheListWins) {
    TempMachine machine;
    machine.Facts("[Processes]\n100=EXPLORER.EXE\n200=winlogon.exe\n300=explorer.exe\n");
    ContextOn on(machine);
    EXPECT_EQ(session::GetCurrentUserToken(on.ctx()), 300u);
    EXPECT_EQ(on.Log(), std::vector<std::string>(
                            2, "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t"));
}

TEST(Accounts, NoShellProcessGivesZero) {
    TempMachine machine;
    machine.Facts("[Processes]\n100=explorer2.exe\n");
    ContextOn on(machine);
    EXPECT_EQ(session::GetCurrentUserToken(on.ctx()), 0u);
    EXPECT_TRUE(on.Log().empty());
}

TEST(Accounts, TerminateEndsEveryAccessibleMatchAndNothingElse) {
    TempMachine machine;
    machine.Facts(
        "[Processes]\n10=C:\\Agent\\Bellhop.exe\n11=notepad.exe\n12=C:\\Other\\BELLHOP.EXE\n"
        "13=C:\\Locked\\bellhop.exe\n[ProtectedProcesses]\n13=1\n");
    ContextOn on(machine);
    EXPECT_EQ(session::fncTerminateProcessByName(on.ctx(), "BELLHOP.EXE"),
              "C:\\Other\\BELLHOP.EXE");
    std::vector<platform::ProcessEntry> left;
    on.ctx().platform.processes().SnapshotProcesses(&left);
    std::vector<platform::DWORD> ids;
    for (const auto& p : left) ids.push_back(p.processId);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 10u), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 12u), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 11u), 1);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 13u), 1)
        << "a process that cannot be opened is never ended";
}

TEST(Accounts, ANumberIsNoFileNameAndEndsNothing) {
    TempMachine machine;
    machine.Facts("[Processes]\n10=C:\\Agent\\Bellhop.exe\n");
    ContextOn on(machine);
    EXPECT_EQ(session::fncTerminateProcessByName(on.ctx(), "8192"), "");
}

// Which processes the walk opens, and with what: every process for its image name only
// (PROCESS_QUERY_LIMITED_INFORMATION), and for ending (PROCESS_TERMINATE) only those that match;
// a name that cannot be a file name opens nothing. Never PROCESS_ALL_ACCESS.
struct WalkCase {
    const char* name;
    const char* wanted;
    const char* ended;                  // what the walk returns
    std::vector<std::string> openings;  // the journal's OpenProcess lines, in order
};

class TerminateWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(TerminateWalk, OpensForQueryOnlyAndEndsOnlyMatches) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(
        "[Processes]\n600=C:\\Windows\\System32\\lsass.exe\n10=C:\\Agent\\Bellhop.exe\n"
        "13=C:\\Locked\\bellhop.exe\n[ProtectedProcesses]\n13=1\n");
    std::vector<std::string> openings;
    {
        ContextOn on(machine);
        EXPECT_EQ(session::fncTerminateProcessByName(on.ctx(), c.wanted), c.ended);
    }
    std::istringstream journal(testing_support::Journal(machine));
    for (std::string line; std::getline(journal, line);) {
        // The running program itself is listed too; its id differs from run to run.
        if (line.rfind("OpenProcess pid=", 0) == 0 && line.find("pid=600 ") == std::string::npos &&
            line.find("pid=10 ") == std::string::npos &&
            line.find("pid=13 ") == std::string::npos && line.find("pid=0 ") == std::string::npos) {
            EXPECT_NE(line.find("access=0x00001000"), std::string::npos) << line;
            continue;
        }
        if (line.rfind("OpenProcess ", 0) == 0) openings.push_back(line);
    }
    EXPECT_EQ(openings, c.openings);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TerminateWalk,
    ::testing::Values(
        WalkCase{"Match",
                 "BELLHOP.EXE",
                 "C:\\Agent\\Bellhop.exe",
                 {"OpenProcess pid=0 access=0x00001000 failed error=87",
                  "OpenProcess pid=600 access=0x00001000", "OpenProcess pid=10 access=0x00001000",
                  "OpenProcess pid=10 access=0x00000001",
                  "OpenProcess pid=13 access=0x00001000 failed error=5"}},
        WalkCase{"NoMatch",
                 "notepad.exe",
                 "",
                 {"OpenProcess pid=0 access=0x00001000 failed error=87",
                  "OpenProcess pid=600 access=0x00001000", "OpenProcess pid=10 access=0x00001000",
                  "OpenProcess pid=13 access=0x00001000 failed error=5"}},
        WalkCase{"HandleNumber", "8192", "", {}}, WalkCase{"Blank", "  ", "", {}},
        WalkCase{"ForbiddenCharacter", "a:b.exe", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Accounts, ANameThatCannotBeReadIsNeverEnded) {
    TempMachine machine;
    machine.Facts("[Processes]\n10=C:\\Agent\\Bellhop.exe\n");
    platform::FaultPlan survey;
    {
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
        platform::FaultInjectingPlatform faulty(*host, survey);
        run::RunContext ctx(faulty);
        session::fncTerminateProcessByName(ctx, "bellhop.exe");
    }
    platform::FaultPlan plan;
    // The first name read is Bellhop's: [System Process] cannot be opened.
    for (std::size_t i = 0; i < survey.trace.size() && plan.failAt == 0; ++i) {
        if (survey.trace[i] == "Processes.QueryFullProcessImageNameA")
            plan.failAt = static_cast<long>(i) + 1;
    }
    ASSERT_GT(plan.failAt, 0);
    std::filesystem::remove(machine.folder() / "journal.log");
    auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
    platform::FaultInjectingPlatform faulty(*host, plan);
    run::RunContext ctx(faulty);
    // The survey ended the process: it is listed again for the second walk.
    EXPECT_EQ(session::fncTerminateProcessByName(ctx, "bellhop.exe"), "");
    EXPECT_EQ(testing_support::Journal(machine).find("TerminateProcess"), std::string::npos);
}

TEST(Accounts, AccountNameComesFromTheSystem) {
    TempMachine machine;
    machine.Facts("[Account]\nUserName=alice\n");
    ContextOn on(machine);
    EXPECT_EQ(session::fncGetLoggedOnUserName(on.ctx()), "alice");
}

TEST(Accounts, AccountNameTooLongForTheBufferIsEmpty) {
    TempMachine machine;
    machine.Facts("[Account]\nUserName=" + std::string(150, 'x') + "\n");
    ContextOn on(machine);
    EXPECT_EQ(session::fncGetLoggedOnUserName(on.ctx()), "");
}

}  // namespace
