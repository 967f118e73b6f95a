#include <gtest/gtest.h>

#include <algorithm>

#include "run_support.h"
#include "session/accounts.h"

namespace {

using testing_support::ContextOn;
using testing_support::TempMachine;

TEST(Accounts, LastShellProcessInTheListWins) {
    TempMachine machine;
    machine.Facts("[Processes]\n100=EXPLORER.EXE\n200=winlogon.exe\n300=explorer.exe\n");
    ContextOn on(machine);
    EXPECT_EQ(session::GetCurrentUserToken(on.ctx()), 300u);
    EXPECT_EQ(on.Log(), std::vector<std::string>(2, "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t"));
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
    machine.Facts("[Processes]\n10=C:\\Agent\\Bellhop.exe\n11=notepad.exe\n12=C:\\Other\\BELLHOP.EXE\n"
                  "13=C:\\Locked\\bellhop.exe\n[ProtectedProcesses]\n13=1\n");
    ContextOn on(machine);
    EXPECT_EQ(session::fncTerminateProcessByName(on.ctx(), "BELLHOP.EXE"), "C:\\Other\\BELLHOP.EXE");
    std::vector<platform::ProcessEntry> left;
    on.ctx().platform.processes().SnapshotProcesses(&left);
    std::vector<platform::DWORD> ids;
    for (const auto& p : left) ids.push_back(p.processId);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 10u), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 12u), 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 11u), 1);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), 13u), 1) << "a process that cannot be opened is never ended";
}

TEST(Accounts, ANumberIsNoFileNameAndEndsNothing) {
    TempMachine machine;
    machine.Facts("[Processes]\n10=C:\\Agent\\Bellhop.exe\n");
    ContextOn on(machine);
    EXPECT_EQ(session::fncTerminateProcessByName(on.ctx(), "8192"), "");
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
