#include "flow/main_flow.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fault_injection.h"
#include "platform/self.h"
#include "program_support.h"
#include "run_support.h"

namespace {

using testing_support::AgentRegistry;
using testing_support::RunProgram;
using testing_support::TempMachine;

struct WordCase {
    const char* argumentText;
    bool accepted;
};

class CommandWords : public ::testing::TestWithParam<WordCase> {};

TEST_P(CommandWords, AcceptedWhenPartOfTheList) {
    const auto arg = run::CleanCommandArg(GetParam().argumentText);
    EXPECT_EQ(run::IsAcceptedArgument(arg), GetParam().accepted) << GetParam().argumentText;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandWords,
    ::testing::Values(WordCase{"", true}, WordCase{"RBT", true}, WordCase{"rbt", true},
                      WordCase{"\"RBT\"", true}, WordCase{"  \" rbtassess \"  ", true},
                      WordCase{"RBT,RBTASSESS", true}, WordCase{"ASSESS", true},
                      WordCase{"T,R", true}, WordCase{",", true}, WordCase{"RBTX", false},
                      WordCase{"REBOOT", false}, WordCase{"RBT RBTASSESS", false}));

TEST(MainFlow, QuotesAreRemovedAndSpacesTrimmed) {
    EXPECT_EQ(run::CleanCommandArg("  \"rbtassess\"  "), "rbtassess");
    EXPECT_EQ(run::CleanCommandArg("\"R\"B\"T\""), "RBT");
}

const std::vector<std::string> kHeader = {
    "#Software: VORN.AgentMonitoring.RebootScheduler", "#Version: 1.0.0",
    "#Date:", "#Fields: dtime\tform\tmodule\ttype\tval1\tval2\tval3"};

std::string MainLine(const std::string& message) {
    return "modMain\tMain\tINFO\t" + message + "\t\t\t";
}

TEST(MainFlow, InvalidWordWritesOnlyInvalidParameterAndEnd) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\keep.txt", "");
    const auto result = RunProgram(machine, "RBTX");
    auto expected = kHeader;
    expected.push_back(MainLine("Invalid Parameter"));
    expected.push_back("ModComman\tCloseAll\tINFO\tEND\t\t\t");
    EXPECT_EQ(result.log, expected);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(MainFlow, UnregisteredAgentEndsSilently) {
    TempMachine machine;
    machine.Registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n\"InstallationPath\"=\"C:\\\\Agent\"\r\n");
    machine.File("C:\\Agent\\keep.txt", "");
    const auto result = RunProgram(machine, "");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_FALSE(machine.Exists("C:\\Agent\\BaseComponents"));
}

// Another process whose name contains the program's is a second copy: the run stops after the
// guard's lines. The capture program runs beside the agent's runs (an operator's capture of the
// machine): its name does not contain the program's, so it holds no run back.
TEST(MainFlow, OnlyAProcessNamedAsTheProgramIsASecondCopy) {
    const struct {
        const char* process;
        bool secondCopy;
    } cases[] = {{"RebootScheduler.exe", true}, {"RsCapture.exe", false}};
    for (const auto& c : cases) {
        TempMachine machine;
        machine.Registry(AgentRegistry());
        machine.File("C:\\Agent\\keep.txt", "");
        machine.Facts(std::string("[Processes]\n77=") + c.process + "\n");
        const auto result = RunProgram(machine, "RBTX");
        auto expected = kHeader;
        if (c.secondCopy) {
            for (const char* line : {"*************************", "Previous Instance Running",
                                     "*************************"}) {
                expected.push_back(std::string("ModComman\tAlreadyRunning\tINFO\t") + line +
                                   "\t\t\t");
            }
        } else {
            expected.push_back(MainLine("Invalid Parameter"));
            expected.push_back("ModComman\tCloseAll\tINFO\tEND\t\t\t");
        }
        EXPECT_EQ(result.log, expected) << c.process;
        EXPECT_EQ(result.exitCode, c.secondCopy ? 3 : 0) << c.process;
    }
}

// A copy that cannot read its own name cannot tell another copy from itself: the check is
// reported as failed and the run goes on, as when the process list cannot be read.
TEST(MainFlow, OwnNameUnreadMakesNoSecondCopy) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\keep.txt", "");
    platform::FaultPlan survey;
    RunProgram(machine, "RBTX", &survey);
    // The first look is the log header's; the second is the guard's.
    long guardsLook = 0;
    int looks = 0;
    for (std::size_t i = 0; i < survey.trace.size() && !guardsLook; ++i) {
        if (survey.trace[i] == "Self.ExeName" && ++looks == 2)
            guardsLook = static_cast<long>(i) + 1;
    }
    ASSERT_GT(guardsLook, 0);
    TempMachine fresh;
    fresh.Registry(AgentRegistry());
    fresh.File("C:\\Agent\\keep.txt", "");
    platform::FaultPlan plan;
    plan.failAt = guardsLook;
    plan.code = platform::kErrorAccessDenied;
    const auto result = RunProgram(fresh, "RBTX", &plan);
    auto expected = kHeader;
    for (const char* line : {"*************************\t\t\t",
                             "Failed to Check Previous Instance\t5\tAccess is denied.\t",
                             "*************************\t\t\t"}) {
        expected.push_back(std::string("ModComman\tAlreadyRunning\tINFO\t") + line);
    }
    expected.push_back(MainLine("Invalid Parameter"));
    expected.push_back("ModComman\tCloseAll\tINFO\tEND\t\t\t");
    EXPECT_EQ(result.log, expected);
    EXPECT_EQ(result.exitCode, 0);
}

TEST(MainFlow, LoggedValuesKeepEveryRecordOnOneLine) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\keep.txt", "");
    const auto result = RunProgram(machine, "bad\tword\r\nhere");
    ASSERT_FALSE(result.log.empty());
    for (const auto& line : result.log) {
        if (line[0] == '#') continue;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6) << line;
    }
}

// The instance mutex: opened as an existing one, or refused with access denied (the system
// account's mutex seen by an administrator's copy), it tells of an earlier instance when its
// owner is trusted; an object of another owner or kind is reported and holds nothing back.
// Before, access denied read as "no earlier instance", and any account's object ended every run.
struct MutexCase {
    bool made;
    platform::DWORD error;
    platform::MutexOwner owner;
    platform::InstanceVerdict verdict;
};

TEST(MainFlow, InstanceMutexAnswers) {
    using platform::InstanceVerdict;
    using Owner = platform::MutexOwner;
    for (const MutexCase c : {
             MutexCase{true, 0, Owner::NotRead, InstanceVerdict::NoEarlierInstance},
             MutexCase{true, 183, Owner::Trusted, InstanceVerdict::EarlierInstance},
             MutexCase{true, 183, Owner::Foreign, InstanceVerdict::ForeignObject},
             MutexCase{true, 183, Owner::NotRead, InstanceVerdict::ForeignObject},
             MutexCase{false, 5, Owner::Trusted, InstanceVerdict::EarlierInstance},
             MutexCase{false, 5, Owner::Foreign, InstanceVerdict::ForeignObject},
             MutexCase{false, 5, Owner::NotRead, InstanceVerdict::ForeignObject},
             MutexCase{false, 6, Owner::NotRead, InstanceVerdict::ForeignObject},
             MutexCase{false, 87, Owner::NotRead, InstanceVerdict::NoEarlierInstance},
         }) {
        EXPECT_EQ(platform::JudgeInstanceMutex(c.made, c.error, c.owner), c.verdict)
            << c.made << " " << c.error << " " << static_cast<int>(c.owner);
    }
}

struct HeldByCase {
    const char* name;
    const char* facts;
    int exitCode;
    const char* journal;
    const char* logLine;  // the report of an object that is no instance; empty for none
};

class InstanceHeldBy : public ::testing::TestWithParam<HeldByCase> {};

TEST_P(InstanceHeldBy, OnlyAnEarlierInstanceStopsTheRun) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\keep.txt", "");
    machine.Facts(c.facts);
    const auto result = RunProgram(machine, "");
    EXPECT_EQ(result.exitCode, c.exitCode);
    if (c.exitCode == 1) {
        EXPECT_TRUE(result.log.empty());
    } else {
        const std::string report =
            "modMain\tMain\tERROR\tInstance mutex name taken by another "
            "account\tGlobal\\RebootScheduler.Instance\t";
        const auto found =
            std::find_if(result.log.begin(), result.log.end(),
                         [&](const std::string& line) { return line.rfind(report, 0) == 0; });
        if (*c.logLine == '\0') {
            EXPECT_EQ(found, result.log.end());
        } else {
            ASSERT_NE(found, result.log.end());
            EXPECT_EQ(*found, report + c.logLine + "\t");
            // Once, right after the log is opened, before the process count.
            EXPECT_EQ(found - result.log.begin(), static_cast<long>(kHeader.size()));
            EXPECT_EQ(std::count(result.log.begin(), result.log.end(), *found), 1);
        }
    }
    EXPECT_NE(testing_support::Journal(machine).find(c.journal), std::string::npos)
        << testing_support::Journal(machine);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstanceHeldBy,
    ::testing::Values(
        HeldByCase{
            "SystemSeesSystem", "[Instance]\nHeldBy=SYSTEM\n", 1,
            "CreateMutex Global\\RebootScheduler.Instance account=SYSTEM exists owner SYSTEM", ""},
        HeldByCase{"AdministratorSeesSystem",
                   "[Account]\nUserName=admin\n[Instance]\nHeldBy=SYSTEM\n", 1,
                   "CreateMutex Global\\RebootScheduler.Instance account=admin failed error=5 "
                   "owner SYSTEM",
                   ""},
        HeldByCase{"SystemSeesAdministratorsCopy", "[Instance]\nHeldBy=admin\n", 1,
                   "account=SYSTEM exists owner Administrators", ""},
        // An ordinary account's object of the name: before, exit code 1 and nothing logged.
        HeldByCase{"UserMutex", "[Instance]\nSquattedBy=mallory\n", 0,
                   "account=SYSTEM exists owner mallory", "owner mallory"},
        HeldByCase{"UserMutexThatRefusesReading",
                   "[Instance]\nSquattedBy=mallory\nSquatObject=sealed\n", 0,
                   "account=SYSTEM failed error=5 owner unreadable, error 5",
                   "owner unreadable, error 5"},
        HeldByCase{"UserEvent", "[Instance]\nSquattedBy=mallory\nSquatObject=event\n", 0,
                   "account=SYSTEM failed error=6 another kind of object, error 6",
                   "another kind of object, error 6"},
        HeldByCase{"OwnAccountsObject",
                   "[Account]\nUserName=mallory\n[Instance]\nSquattedBy=mallory\n", 1,
                   "account=mallory exists owner mallory", ""},
        HeldByCase{"NoEarlierInstance", "", 0, "CoInitializeSecurity", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// COM security is set once, before the first COM call of the run (WMI, the Task Scheduler, the
// agent's components, the XML DOM); a refusal does not change how the run ends.
TEST(MainFlow, ComSecurityOnceBeforeAnyComCall) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\keep.txt", "");
    platform::FaultPlan survey;
    const auto normal = RunProgram(machine, "RBTASSESS", &survey);
    const auto& trace = survey.trace;
    const auto security = std::find(trace.begin(), trace.end(), "System.InitializeComSecurity");
    ASSERT_NE(security, trace.end());
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "System.InitializeComSecurity"), 1);
    const auto firstCom = std::find_if(trace.begin(), trace.end(), [](const std::string& call) {
        return call.rfind("Wmi.", 0) == 0 || call.rfind("Tasks.", 0) == 0 ||
               call.rfind("Components.Create", 0) == 0 || call.rfind("Xml.", 0) == 0;
    });
    EXPECT_LT(security - trace.begin(), firstCom - trace.begin());
    const std::string journal = testing_support::Journal(machine);
    EXPECT_NE(journal.find("CoInitializeSecurity access=SYSTEM,Administrators "
                           "authentication=default impersonation=identify "
                           "capabilities=disable_aaa,no_custom_marshal\n"),
              std::string::npos)
        << journal;

    platform::FaultPlan plan;
    plan.failAt = static_cast<long>(security - trace.begin()) + 1;
    const auto refused = RunProgram(machine, "RBTASSESS", &plan);
    EXPECT_EQ(refused.exitCode, normal.exitCode);
}

}  // namespace
