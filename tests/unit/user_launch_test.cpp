#include "session/user_launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/activity_log.h"
#include "platform/emulated/emulated_platform.h"
#include "platform/handle_owner.h"
#include "program_support.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::InstallRecorder;
using testing_support::Journal;
using testing_support::TempMachine;

constexpr const char* kPrompt = "C:\\Agent\\Bellhop.exe";

std::string Line(const char* type, const std::string& message) {
    return std::string("modUserAcc\tfncExecuteInUserAccount\t") + type + "\t" + message + "\t\t\t";
}

const std::string kRunLine = Line("INFO ", "Run Bellhop.exe in User Account");
const std::string kStarted = Line("INFO", "Successfully Started the process");
const std::string kEnded = Line("INFO", "Bellhop.exe still running after the wait, ended");
// The creation failure line; the system's error number follows in the next field.
const std::string kCreationFailed =
    "modUserAcc\tfncExecuteInUserAccount\tINFO\t.CreateProcessAsUser() failed with error\t";

TEST(FormatMessage, NumberHyphenAndTheSystemTextOnOneLine) {
    TempMachine machine;
    ContextOn on(machine);
    EXPECT_EQ(session::fncFormatMessage(on.ctx(), 5), "5-Access is denied.");
    EXPECT_EQ(session::fncFormatMessage(on.ctx(), 1008),
              "1008-An attempt was made to reference a token that does not exist.");
    EXPECT_EQ(session::fncFormatMessage(on.ctx(), 424242), "424242");
    EXPECT_EQ(session::fncFormatMessage(on.ctx(), -1), "-1");
    EXPECT_TRUE(on.Log().empty());
}

struct LaunchCase {
    const char* name;
    const char* facts;
    bool result;
    std::vector<std::string> log;
    const char* journal;  // the start's journal line up to the process id; "" when none
    bool ran;
};

class Launch : public ::testing::TestWithParam<LaunchCase> {};

TEST_P(Launch, PathTakenAndWhatItLeaves) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(c.facts);
    InstallRecorder(machine, kPrompt);
    {
        ContextOn on(machine);
        EXPECT_EQ(session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT"), c.result);
        EXPECT_EQ(on.Log(), c.log);
    }
    const std::string journal = Journal(machine);
    if (*c.journal) {
        EXPECT_NE(journal.find(c.journal), std::string::npos) << journal;
    } else {
        EXPECT_EQ(journal.find("CreateProcessAsUser"), std::string::npos) << journal;
    }
    EXPECT_EQ(machine.Read("C:\\Agent\\Bellhop.exe.ran"), c.ran ? "args=1 [RBT] dir=Agent\n" : "");
    EXPECT_EQ(journal.find("Handles open at exit"), std::string::npos) << journal;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Launch,
    ::testing::Values(
        LaunchCase{"ConsoleUser",
                   "[Console]\nSessionId=1\nUser=alice\n",
                   true,
                   {kRunLine, Line("INFO", "lngSessID :1--- hToken : 8192"),
                    Line("INFO ", "found DupedToken : 8196"),
                    Line("INFO ", "Getting the environment variables"),
                    Line("INFO ", "Environment Created Value : 1"), kStarted},
                   "CreateProcessAsUser session=1 user=alice desktop=winsta0\\default "
                   "flags=0x09000400 environment=user folder=C:\\Agent "
                   "application=C:\\Agent\\Bellhop.exe cmdline=\" RBT\" pid=",
                   true},
        LaunchCase{"NobodyAndNoShell",
                   "[Console]\nSessionId=1\n",
                   false,
                   {kRunLine, Line("INFO", "lngSessID :1--- hToken : 0"),
                    Line("ERR",
                         "Last error : 1008 - 1008-An attempt was made to reference a token "
                         "that does not exist.")},
                   "",
                   false},
        LaunchCase{
            "ShellOfAnotherSession",
            "[Console]\nSessionId=1\n[Processes]\n2200=EXPLORER.EXE\n[ProcessOwners]\n2200=bob\n",
            true,
            {kRunLine, Line("INFO", "lngSessID :1--- hToken : 0"),
             Line("ERR",
                  "Last error : 1008 - 1008-An attempt was made to reference a token "
                  "that does not exist."),
             "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t",
             Line("INFO", "Explorer token found!!"), kStarted},
            "CreateProcessAsUser session=1 user=bob desktop=winsta0\\default flags=0x09000400 "
            "environment=user folder=C:\\Agent",
            true},
        LaunchCase{"NotTheSystemAccount",
                   "[Account]\nUserName=admin\n[Console]\nSessionId=2\nUser=alice\n[Processes]\n"
                   "2200=EXPLORER.EXE\n",
                   true,
                   {kRunLine, Line("INFO", "lngSessID :2--- hToken : 0"),
                    Line("ERR",
                         "Last error : 1314 - 1314-A required privilege is not held by the "
                         "client."),
                    "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t",
                    Line("INFO", "Explorer token found!!"), kStarted},
                   "CreateProcessAsUser session=2 user=alice",
                   true},
        LaunchCase{"ShellCannotBeOpened",
                   "[Console]\nSessionId=1\n[Processes]\n2200=EXPLORER.EXE\n[ProtectedProcesses]"
                   "\n2200=1\n",
                   false,
                   {kRunLine, Line("INFO", "lngSessID :1--- hToken : 0"),
                    Line("ERR",
                         "Last error : 1008 - 1008-An attempt was made to reference a token "
                         "that does not exist."),
                    "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t",
                    Line("INFO", "No Logged in User found")},
                   "",
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

// The creation failing: an ERROR and an INFO line on the token path (INFO and INFO on the shell
// path), no wait, and still true: a user was found.
TEST(Launch, FailedCreationStillFindsTheUser) {
    TempMachine machine;
    machine.Facts("[Console]\nSessionId=1\nUser=alice\n");
    {
        ContextOn on(machine);
        EXPECT_TRUE(session::fncExecuteInUserAccount(on.ctx(), "C:\\Agent\\Missing.exe", " RBT"));
        const auto log = on.Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], Line("ERROR", "Failed to execute in the user mode, "));
        EXPECT_EQ(log.back(), kCreationFailed + "2\t\t");
    }
    EXPECT_NE(Journal(machine).find("CreateProcessAsUser session=1 user=alice"), std::string::npos);
}

// Without an environment block the creation goes without one: the two INFO lines, and the
// flags without CREATE_UNICODE_ENVIRONMENT.
TEST(Launch, NoEnvironmentBlock) {
    TempMachine machine;
    machine.Facts("[Console]\nSessionId=1\nUser=alice\n");
    InstallRecorder(machine, kPrompt);
    {
        ContextOn on(machine);
        platform::FaultPlan survey;
        {
            auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
            platform::FaultInjectingPlatform faulty(*host, survey);
            run::RunContext ctx(faulty);
            ctx.logFilePath = testing_support::kAgentLog;
            session::fncExecuteInUserAccount(ctx, kPrompt, " RBT");
        }
        std::filesystem::remove(machine.HostPath(testing_support::kAgentLog));
        platform::FaultPlan plan;
        for (std::size_t i = 0; i < survey.trace.size(); ++i) {
            if (survey.trace[i] == "Session.CreateEnvironmentBlock")
                plan.failAt = static_cast<long>(i) + 1;
        }
        plan.code = 87;
        ASSERT_GT(plan.failAt, 0);
        std::filesystem::remove(machine.folder() / "journal.log");
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
        platform::FaultInjectingPlatform faulty(*host, plan);
        run::RunContext ctx(faulty);
        ctx.logFilePath = testing_support::kAgentLog;
        EXPECT_TRUE(session::fncExecuteInUserAccount(ctx, kPrompt, " RBT"));
        const auto log = on.Log();
        EXPECT_NE(
            std::find(log.begin(), log.end(),
                      Line("INFO ", "Failed to get the environmental variables, 87 ErrDesc ")),
            log.end());
        EXPECT_NE(std::find(log.begin(), log.end(),
                            Line("INFO ", "Calling without environmental variables")),
                  log.end());
    }
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find("flags=0x09000000 environment=none"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("Handles open at exit"), std::string::npos) << journal;
}

// A prompt program still running when the limit has passed is ended, once, through the handle
// waited on (token and shell paths); one that ended in time is left alone. [Clock] MaxWaitMs
// stands in for the 30 minutes.
struct OutlivedCase {
    const char* name;
    const char* facts;
    const char* script;  // after the recorder's line
    bool ended;
};

class LaunchOutlived : public ::testing::TestWithParam<OutlivedCase> {};

TEST_P(LaunchOutlived, EndedOnceAfterTheWait) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(c.facts);
    InstallRecorder(machine, kPrompt, c.script);
    {
        ContextOn on(machine);
        EXPECT_TRUE(session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT"));
        EXPECT_EQ(
            on.Log().back(),
            c.ended ? Line("INFO", "Bellhop.exe still running after the wait, ended") : kStarted);
    }
    const std::string journal = Journal(machine);
    const auto timedOut = journal.find("timed out after 100 ms (asked 1800000 ms)");
    const auto terminated = journal.find("TerminateProcess pid=");
    EXPECT_EQ(terminated != std::string::npos, c.ended) << journal;
    if (c.ended) {
        EXPECT_LT(timedOut, terminated) << journal;
        EXPECT_NE(journal.find("name=Bellhop.exe exitcode=1460\n", terminated), std::string::npos)
            << journal;
        EXPECT_EQ(journal.find("TerminateProcess", terminated + 1), std::string::npos) << journal;
        // Ended, it never writes the line its script has after the sleep.
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        EXPECT_EQ(machine.Read("C:\\Agent\\Bellhop.exe.ran"), "args=1 [RBT] dir=Agent\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchOutlived,
    ::testing::Values(
        OutlivedCase{"TokenPath", "[Console]\nSessionId=1\nUser=alice\n[Clock]\nMaxWaitMs=100\n",
                     "sleep 1\necho late >> \"$0.ran\"\n", true},
        OutlivedCase{"ShellPath",
                     "[Console]\nSessionId=1\n[Processes]\n2200=EXPLORER.EXE\n[ProcessOwners]\n"
                     "2200=bob\n[Clock]\nMaxWaitMs=100\n",
                     "sleep 1\necho late >> \"$0.ran\"\n", true},
        OutlivedCase{"EndedInTime", "[Console]\nSessionId=1\nUser=alice\n[Clock]\nMaxWaitMs=5000\n",
                     "", false}),
    [](const auto& info) { return std::string(info.param.name); });

// The agent's job object: the creation asks to break away first and, refused with 5, is made
// again without it. The journal shows each attempt; the plain attempt alone (what the program
// made before) is what a job that does not break away answers.
struct JobCase {
    const char* name;
    const char* job;                    // the [Job] facts
    const char* sessionId;              // the console's session (0: the program's own)
    std::vector<std::string> attempts;  // each creation's journal ending, in order
    bool ran;
    bool endedWithTheJob;  // the agent closing the job ended the prompt program
};

class LaunchInJob : public ::testing::TestWithParam<JobCase> {};

TEST_P(LaunchInJob, BreaksAwayWhereTheJobAllowsIt) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(std::string("[Console]\nSessionId=") + c.sessionId +
                  "\nUser=alice\n[Clock]\nMaxWaitMs=50\n[Job]\n" + c.job);
    InstallRecorder(machine, kPrompt, "sleep 2\n");
    {
        ContextOn on(machine);
        EXPECT_TRUE(session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT"));
        const auto log = on.Log();
        ASSERT_GE(log.size(), 2u);
        if (c.ran) {
            EXPECT_EQ(log[log.size() - 2], kStarted);
            EXPECT_EQ(log.back(), kEnded);
        } else {
            EXPECT_EQ(log[log.size() - 2], Line("ERROR", "Failed to execute in the user mode, "));
            EXPECT_EQ(log.back(), kCreationFailed + "5\t\t");
        }
    }  // the run ends: the agent closes its job
    std::vector<std::string> attempts;
    std::istringstream journal(Journal(machine));
    bool ended = false;
    for (std::string line; std::getline(journal, line);) {
        if (line.rfind("CreateProcessAsUser ", 0) == 0) {
            const auto flags = line.find("flags=");
            const auto outcome =
                line.find(line.find(" pid=") != std::string::npos ? " pid=" : " failed");
            std::string tail = line.substr(outcome + 1);
            if (tail.rfind("pid=", 0) == 0) {
                const auto space = tail.find(' ');
                tail = "pid" + (space == std::string::npos ? std::string() : tail.substr(space));
            }
            attempts.push_back(line.substr(flags, 16) + " " + tail);
        }
        ended = ended || line.find("ended (kill on close)") != std::string::npos;
    }
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(ended, c.endedWithTheJob);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchInJob,
    ::testing::Values(
        JobCase{"NoJob", "", "1", {"flags=0x09000400 pid"}, true, false},
        JobCase{"BreakawayAllowed",
                "InJob=1\nBreakawayOk=1\n",
                "1",
                {"flags=0x09000400 pid"},
                true,
                false},
        // Without breakaway the child cannot be created in another session: refused both ways.
        JobCase{"BreakawayRefusedOtherSession",
                "InJob=1\n",
                "1",
                {"flags=0x09000400 failed error=5", "flags=0x08000400 failed error=5"},
                false,
                false},
        JobCase{"SilentBreakaway",
                "InJob=1\nSilentBreakawayOk=1\n",
                "1",
                {"flags=0x09000400 failed error=5", "flags=0x08000400 pid"},
                true,
                false},
        // In the program's own session the plain creation puts the child in the job. A
        // kill-on-close job would end it when the agent closes the job, but the program has
        // ended the prompt that outlived its wait before.
        JobCase{"KillOnCloseSameSession",
                "InJob=1\nKillOnClose=1\n",
                "0",
                {"flags=0x09000400 failed error=5", "flags=0x08000400 pid job=inside"},
                true,
                false},
        JobCase{"KillOnCloseBreakawayAllowed",
                "InJob=1\nKillOnClose=1\nBreakawayOk=1\n",
                "0",
                {"flags=0x09000400 pid"},
                true,
                false}),
    [](const auto& info) { return std::string(info.param.name); });

// The last error is cleared before the session's token is asked for: a healthy launch logs no
// "Last error" line whatever an earlier call left (183 from the log's opening on Windows); a
// failed query still logs its own error.
struct LastErrorCase {
    const char* name;
    const char* facts;
    platform::DWORD leftBefore;
    const char* errLine;  // "" when none
};

class LaunchLastError : public ::testing::TestWithParam<LastErrorCase> {};

TEST_P(LaunchLastError, OnlyTheQuerysOwnFailureIsLogged) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(c.facts);
    InstallRecorder(machine, kPrompt);
    ContextOn on(machine);
    on.ctx().platform.system().SetLastError(c.leftBefore);
    session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT");
    std::vector<std::string> errLines;
    for (const auto& line : on.Log()) {
        if (line.find("\tERR\tLast error") != std::string::npos) errLines.push_back(line);
    }
    EXPECT_EQ(errLines, *c.errLine ? std::vector<std::string>{Line("ERR", c.errLine)}
                                   : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchLastError,
    ::testing::Values(
        LastErrorCase{"HealthyAfterExistingLog", "[Console]\nSessionId=1\nUser=alice\n", 183, ""},
        LastErrorCase{"HealthyAfterMissingFile", "[Console]\nSessionId=1\nUser=alice\n", 2, ""},
        LastErrorCase{"NobodyLoggedOn", "[Console]\nSessionId=1\n", 183,
                      "Last error : 1008 - 1008-An attempt was made to reference a token that does "
                      "not exist."}),
    [](const auto& info) { return std::string(info.param.name); });

// On the shell path the user's rights apply while the thread impersonates: a user who may not
// write the log's folder loses every line written meanwhile. The impersonation ends right after
// the creation, so the lines after it are all there.
TEST(Launch, ImpersonationLosesLogLinesTheLaunchKeeps) {
    TempMachine machine;
    machine.Facts(
        "[Console]\nSessionId=1\n[Processes]\n2200=EXPLORER.EXE\n[ProcessOwners]\n2200=bob\n"
        "[FileAccess]\nC:\\Agent\\BaseComponents=bob\n");
    InstallRecorder(machine, kPrompt);
    {
        // The emulated host's rule: written as bob, the line is lost; as the program, it is kept.
        ContextOn on(machine);
        auto& session = on.ctx().platform.session();
        auto& processes = on.ctx().platform.processes();
        platform::OwnedHandle shell(processes, processes.OpenProcess(0x1F0FFF, false, 2200));
        platform::OwnedHandle token(processes);
        ASSERT_TRUE(session.OpenProcessToken(shell.get(), 0xF00FF, token.put()));
        activity_log::WriteLogLine(on.ctx(), "t", "t", "INFO", "before");
        ASSERT_TRUE(session.ImpersonateLoggedOnUser(token.get()));
        activity_log::WriteLogLine(on.ctx(), "t", "t", "INFO", "as bob");
        session.RevertToSelf();
        activity_log::WriteLogLine(on.ctx(), "t", "t", "INFO", "after");
        EXPECT_EQ(on.Log(), (std::vector<std::string>{"t\tt\tINFO\tbefore\t\t\t",
                                                      "t\tt\tINFO\tafter\t\t\t"}));
    }
    std::filesystem::remove(machine.HostPath(testing_support::kAgentLog));
    ContextOn on(machine);
    EXPECT_TRUE(session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT"));
    const auto log = on.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), kStarted);
    EXPECT_EQ(machine.Read("C:\\Agent\\Bellhop.exe.ran"), "args=1 [RBT] dir=Agent\n");
}

// The walk after the prompt's wait is given the handle's number: no process is opened for it.
TEST(Launch, NoProcessWalkAfterThePrompt) {
    TempMachine machine;
    machine.Facts("[Console]\nSessionId=1\nUser=alice\n[Processes]\n600=lsass.exe\n");
    InstallRecorder(machine, kPrompt);
    {
        ContextOn on(machine);
        EXPECT_TRUE(session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT"));
    }
    const std::string journal = Journal(machine);
    EXPECT_EQ(journal.find("OpenProcess pid=600"), std::string::npos) << journal;
}

TEST(Launch, PathWithoutAFolderIsATrappedFailure) {
    TempMachine machine;
    machine.Facts("[Console]\nSessionId=1\nUser=alice\n");
    ContextOn on(machine);
    EXPECT_FALSE(session::fncExecuteInUserAccount(on.ctx(), "Bellhop.exe", " RBT"));
    EXPECT_EQ(on.Log(),
              std::vector<std::string>{
                  "modUserAcc\tfncExecuteInUserAccount\tERRROR\t5\tInvalid procedure call "
                  "or argument\t0\t"});
}

}  // namespace
