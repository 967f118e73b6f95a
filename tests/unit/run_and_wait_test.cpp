#include "reboot/run_and_wait.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/emulated/emulated_platform.h"
#include "program_support.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::InstallRecorder;
using testing_support::Journal;
using testing_support::TempMachine;

constexpr const char* kProgram = "C:\\Agent\\Tool.exe";

const std::string kDone = "ModReboot\tShellAndWait\tINFO\tExe Executed SuccessFully\t\t\t";
std::string Failed(const std::string& number) {
    return "ModReboot\tShellAndWait\tEREOR\tExe not able execute SuccessFully\t" + number + "\t\t";
}

struct RunCase {
    const char* name;
    const char* parameters;
    const char* recorded;  // what the program wrote
};

class ShellAndWaitRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(ShellAndWaitRuns, StartsWaitsAndClosesTheHandle) {
    TempMachine machine;
    InstallRecorder(machine, kProgram);
    {
        ContextOn on(machine);
        std::string number = "x";
        std::string description = "y";
        EXPECT_TRUE(
            reboot::ShellAndWait(on.ctx(), kProgram, GetParam().parameters, number, description));
        EXPECT_EQ(number, "");
        EXPECT_EQ(description, "");
        EXPECT_EQ(on.Log(), std::vector<std::string>{kDone});
    }
    EXPECT_EQ(machine.Read("C:\\Agent\\Tool.exe.ran"), GetParam().recorded);
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find(
                  std::string("ShellExecuteEx verb=Open file=C:\\Agent\\Tool.exe parameters=\"") +
                  GetParam().parameters + "\" show=1 account=SYSTEM pid="),
              std::string::npos)
        << journal;
    // No UI, no zone prompt, no return before the start is done, and the process handle kept.
    EXPECT_NE(journal.find(" mask=0x00800540\n"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("Handles open at exit"), std::string::npos) << journal;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellAndWaitRuns,
    ::testing::Values(RunCase{"NoParameters", "", "args=0 [] dir=Agent\n"},
                      RunCase{"LeadingSpace", " AUTOSRBT", "args=1 [AUTOSRBT] dir=Agent\n"},
                      RunCase{"Quoted", " \"a b\" c", "args=2 [a b c] dir=Agent\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NotStartedCase {
    const char* name;
    const char* path;
    bool makeFolder;  // a folder stands at the path
};

class ShellAndWaitNotStarted : public ::testing::TestWithParam<NotStartedCase> {};

TEST_P(ShellAndWaitNotStarted, WaitFailsWithMinusOne) {
    TempMachine machine;
    InstallRecorder(machine, kProgram);
    if (GetParam().makeFolder) machine.File("C:\\Agent\\Folder.exe\\inside.txt", "");
    ContextOn on(machine);
    std::string number;
    std::string description;
    EXPECT_FALSE(reboot::ShellAndWait(on.ctx(), GetParam().path, "", number, description));
    EXPECT_EQ(number, "-1");
    EXPECT_EQ(description, "");
    EXPECT_EQ(on.Log(), std::vector<std::string>{Failed("-1")});
    EXPECT_FALSE(machine.Exists("C:\\Agent\\Tool.exe.ran"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellAndWaitNotStarted,
    ::testing::Values(NotStartedCase{"Missing", "C:\\Agent\\Missing.exe", false},
                      NotStartedCase{"MissingFolder", "C:\\Nowhere\\Tool.exe", false},
                      NotStartedCase{"Folder", "C:\\Agent\\Folder.exe", true},
                      NotStartedCase{"Empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The shell start failing, or the wait failing after a start: the result is false with the
// wait's result, and the process handle is closed either way.
TEST(ShellAndWait, FailedCallsStillCloseTheHandle) {
    for (const char* failing : {"Processes.ShellExecuteExA", "Processes.WaitForSingleObject"}) {
        TempMachine machine;
        InstallRecorder(machine, kProgram);
        {
            platform::FaultPlan survey;
            auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
            platform::FaultInjectingPlatform faulty(*host, survey);
            run::RunContext ctx(faulty);
            ctx.logFilePath = testing_support::kAgentLog;
            std::string number;
            std::string description;
            reboot::ShellAndWait(ctx, kProgram, "", number, description);
            long at = 0;
            for (std::size_t i = 0; i < survey.trace.size(); ++i) {
                if (survey.trace[i] == failing) at = static_cast<long>(i) + 1;
            }
            ASSERT_GT(at, 0) << failing;
            platform::FaultPlan plan;
            plan.failAt = at;
            auto host2 = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
            platform::FaultInjectingPlatform faulty2(*host2, plan);
            run::RunContext ctx2(faulty2);
            ctx2.logFilePath = testing_support::kAgentLog;
            EXPECT_FALSE(reboot::ShellAndWait(ctx2, kProgram, "", number, description)) << failing;
            EXPECT_EQ(number, "-1") << failing;
        }
        EXPECT_EQ(Journal(machine).find("Handles open at exit"), std::string::npos) << failing;
    }
}

// A path the directory listing rejects outright is a trapped failure: its number and
// description come back, and the line is the same "EREOR" line.
TEST(ShellAndWait, RejectedPathIsATrappedFailure) {
    TempMachine machine;
    platform::FaultPlan plan;
    plan.failAt = 1;  // the listing
    plan.code = 123;  // ERROR_INVALID_NAME
    auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
    platform::FaultInjectingPlatform faulty(*host, plan);
    run::RunContext ctx(faulty);
    ctx.logFilePath = testing_support::kAgentLog;
    std::filesystem::create_directories(machine.HostPath(testing_support::kAgentLog).parent_path());
    std::string number;
    std::string description;
    EXPECT_FALSE(reboot::ShellAndWait(ctx, "C:\\Agent\\<bad>.exe", "", number, description));
    EXPECT_EQ(number, "52");
    EXPECT_EQ(description, "Bad file name or number");
    EXPECT_EQ(plan.trace.front(), "Files.FindFiles");
    EXPECT_EQ(testing_support::LogLines(machine, testing_support::kAgentLog),
              std::vector<std::string>{Failed("52")});
}

// A program file the shell cannot start, asked for directly with a given mask in a child
// process: with SEE_MASK_FLAG_NO_UI the call fails with the system's error; without it the error
// dialog (or, for a file marked as downloaded, the security prompt) waits on a desktop nobody
// sees, and the call never returns: the child is still in it after half a second.
enum class Obstacle { NotAnExecutable, BlockedByPolicy, DownloadZone };

struct ObstacleCase {
    const char* name;
    Obstacle obstacle;
    platform::DWORD mask;
    bool blocks;
    const char* journal;  // the ShellExecuteEx line's ending, after the account
    bool shellAndWait;    // what ShellAndWait, which asks with the full mask, returns
};

class ShellExecuteObstacles : public ::testing::TestWithParam<ObstacleCase> {};

void Prepare(TempMachine& machine, Obstacle obstacle) {
    switch (obstacle) {
        case Obstacle::NotAnExecutable:
            machine.File(kProgram, "MZ this is no program\n");
            std::filesystem::permissions(machine.HostPath(kProgram),
                                         std::filesystem::perms::owner_all);
            break;
        case Obstacle::BlockedByPolicy:
            InstallRecorder(machine, kProgram);
            machine.Facts("[BlockedPrograms]\nC:\\Agent\\Tool.exe=1\n");
            break;
        case Obstacle::DownloadZone:
            InstallRecorder(machine, kProgram);
            machine.Facts("[ZoneMarks]\nC:\\Agent\\Tool.exe=3\n");
            break;
    }
}

TEST_P(ShellExecuteObstacles, FailsWithNoUiAndHangsWithout) {
    const auto& c = GetParam();
    TempMachine machine;
    Prepare(machine, c.obstacle);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
        platform::ShellExecuteInfo info;
        info.fMask = c.mask;
        info.lpVerb = "Open";
        info.lpFile = kProgram;
        info.nShow = platform::kSwShowNormal;
        const bool ok = host->processes().ShellExecuteExA(&info);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(c.blocks ? 500 : 5000);
    while ((done = ::waitpid(child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (done == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    EXPECT_EQ(done == 0, c.blocks);
    if (!c.blocks) {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.obstacle == Obstacle::DownloadZone ? 0 : 1);
    }
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find(std::string("account=SYSTEM ") + c.journal), std::string::npos)
        << journal;

    std::filesystem::remove(machine.folder() / "journal.log");
    ContextOn on(machine);
    std::string number;
    std::string description;
    EXPECT_EQ(reboot::ShellAndWait(on.ctx(), kProgram, "", number, description), c.shellAndWait);
    EXPECT_EQ(number, c.shellAndWait ? "" : "-1");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellExecuteObstacles,
    ::testing::Values(
        ObstacleCase{"NotAnExecutableNoUi", Obstacle::NotAnExecutable, 0x440, false,
                     "failed error=193 mask=0x00000440", false},
        ObstacleCase{"NotAnExecutableWithUi", Obstacle::NotAnExecutable, 0x40, true,
                     "failed error=193 mask=0x00000040 (waits for an answer nobody can give)",
                     false},
        ObstacleCase{"BlockedByPolicyNoUi", Obstacle::BlockedByPolicy, 0x440, false,
                     "failed error=1260 mask=0x00000440", false},
        ObstacleCase{"BlockedByPolicyWithUi", Obstacle::BlockedByPolicy, 0x40, true,
                     "failed error=1260 mask=0x00000040 (waits for an answer nobody can give)",
                     false},
        ObstacleCase{"DownloadZoneChecked", Obstacle::DownloadZone, 0x440, true,
                     "zone prompt mask=0x00000440 (waits for an answer nobody can give)", true},
        ObstacleCase{"DownloadZoneNotChecked", Obstacle::DownloadZone, 0x00800440, false,
                     "pid=", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
