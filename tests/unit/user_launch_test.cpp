#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emulated/emulated_platform.h"
#include "program_support.h"
#include "run_support.h"
#include "session/user_launch.h"

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
                   "flags=0x08000400 environment=user folder=C:\\Agent "
                   "application=C:\\Agent\\Bellhop.exe cmdline=\" RBT\" pid=",
                   true},
        LaunchCase{"NobodyAndNoShell",
                   "[Console]\nSessionId=1\n",
                   false,
                   {kRunLine, Line("INFO", "lngSessID :1--- hToken : 0"),
                    Line("ERR", "Last error : 1008 - 1008-An attempt was made to reference a token "
                                "that does not exist.")},
                   "",
                   false},
        LaunchCase{"ShellOfAnotherSession",
                   "[Console]\nSessionId=1\n[Processes]\n2200=EXPLORER.EXE\n[ProcessOwners]\n2200=bob\n",
                   true,
                   {kRunLine, Line("INFO", "lngSessID :1--- hToken : 0"),
                    Line("ERR", "Last error : 1008 - 1008-An attempt was made to reference a token "
                                "that does not exist."),
                    "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t",
                    Line("INFO", "Explorer token found!!"), kStarted},
                   "CreateProcessAsUser session=1 user=bob desktop=winsta0\\default flags=0x08000400 "
                   "environment=user folder=C:\\Agent",
                   true},
        LaunchCase{"NotTheSystemAccount",
                   "[Account]\nUserName=admin\n[Console]\nSessionId=2\nUser=alice\n[Processes]\n"
                   "2200=EXPLORER.EXE\n",
                   true,
                   {kRunLine, Line("INFO", "lngSessID :2--- hToken : 0"),
                    Line("ERR", "Last error : 1314 - 1314-A required privilege is not held by the "
                                "client."),
                    "modCommon\tGetCurrentUserToken\tINFO\tEXPLORER.EXE Found\t\t\t",
                    Line("INFO", "Explorer token found!!"), kStarted},
                   "CreateProcessAsUser session=2 user=alice",
                   true},
        LaunchCase{"ShellCannotBeOpened",
                   "[Console]\nSessionId=1\n[Processes]\n2200=EXPLORER.EXE\n[ProtectedProcesses]\n2200=1\n",
                   false,
                   {kRunLine, Line("INFO", "lngSessID :1--- hToken : 0"),
                    Line("ERR", "Last error : 1008 - 1008-An attempt was made to reference a token "
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
        EXPECT_EQ(log.back(), Line("INFO", ".CreateProcessAsUser() failed with error"));
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
            if (survey.trace[i] == "Session.CreateEnvironmentBlock") plan.failAt = static_cast<long>(i) + 1;
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
        EXPECT_NE(std::find(log.begin(), log.end(),
                            Line("INFO ", "Failed to get the environmental variables, 87 ErrDesc ")),
                  log.end());
        EXPECT_NE(std::find(log.begin(), log.end(), Line("INFO ", "Calling without environmental variables")),
                  log.end());
    }
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find("flags=0x08000000 environment=none"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("Handles open at exit"), std::string::npos) << journal;
}

// A prompt program still running when the limit has passed: the wait ends, the program keeps
// running, and the result is true. [Clock] MaxWaitMs stands in for the 30 minutes.
TEST(Launch, WaitEndsAtTheLimit) {
    TempMachine machine;
    machine.Facts("[Console]\nSessionId=1\nUser=alice\n[Clock]\nMaxWaitMs=100\n");
    InstallRecorder(machine, kPrompt, "sleep 3\n");
    {
        ContextOn on(machine);
        EXPECT_TRUE(session::fncExecuteInUserAccount(on.ctx(), kPrompt, " RBT"));
    }
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find("timed out after 100 ms (asked 1800000 ms)"), std::string::npos) << journal;
}

TEST(Launch, PathWithoutAFolderIsATrappedFailure) {
    TempMachine machine;
    machine.Facts("[Console]\nSessionId=1\nUser=alice\n");
    ContextOn on(machine);
    EXPECT_FALSE(session::fncExecuteInUserAccount(on.ctx(), "Bellhop.exe", " RBT"));
    EXPECT_EQ(on.Log(), std::vector<std::string>{
                            "modUserAcc\tfncExecuteInUserAccount\tERRROR\t5\tInvalid procedure call "
                            "or argument\t0\t"});
}

}  // namespace
