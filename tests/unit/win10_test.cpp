#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "json_check_support.h"
#include "platform/emulated/emulated_platform.h"
#include "platform/emulated/emulated_tasks.h"
#include "platform/emulated/text_codec.h"
#include "run_support.h"
#include "win10/json_records.h"
#include "win10/reboot_task.h"
#include "win10/suppression.h"
#include "win10/task_folder.h"

namespace {

using testing_support::AgentRegistry;
using testing_support::ContextOn;
using testing_support::ParseJson;
using testing_support::TempMachine;

constexpr const char* kStore =
    "C:\\Windows\\system32\\Tasks\\Microsoft\\Windows\\UpdateOrchestrator\\";
constexpr const char* kTaskPath = "\\Microsoft\\Windows\\UpdateOrchestrator\\Reboot";
constexpr const char* kStart = "3/4/2021 17:6:7";
constexpr const char* kPolicyKeyLine =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Windows\\WindowsUpdate\\AU]\r\n";

// A task definition as Windows stores it: UTF-16LE with its byte-order mark. The trigger's own
// <Enabled> must never be taken for the task's.
std::string TaskXml(bool enabled) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.4\" "
        "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n  <Triggers>"
        "<TimeTrigger><StartBoundary>2021-01-01T00:00:00</StartBoundary><Enabled>true</Enabled>"
        "</TimeTrigger></Triggers>\r\n  <Settings>\r\n    "
        "<StartWhenAvailable>true</StartWhenAvailable>"
        "\r\n    <Enabled>" +
        std::string(enabled ? "true" : "false") + "</Enabled>\r\n  </Settings>\r\n</Task>\r\n";
    return "\xFF\xFE" + platform::emulated::Utf8ToUtf16Le(xml);
}

bool FileEnabled(const TempMachine& machine, const std::string& path) {
    const std::string bytes = machine.Read(path);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "encoding kept";
    const std::string xml = platform::emulated::Utf16LeToUtf8(bytes.substr(2));
    EXPECT_NE(xml.find("<Enabled>true</Enabled></TimeTrigger>"), std::string::npos)
        << "trigger kept";
    return platform::emulated::TaskXmlEnabled(xml);
}

std::string HostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Journal(const TempMachine& machine) {
    return HostFile(machine.folder() / "journal.log");
}
std::string Hive(const TempMachine& machine) {
    return HostFile(machine.folder() / "registry" / "HKLM.reg");
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::string Line(const char* module, const char* type, const std::string& val1,
                 const std::string& val2 = "", const std::string& val3 = "") {
    return std::string("ModComman\t") + module + "\t" + type + "\t" + val1 + "\t" + val2 + "\t" +
           val3 + "\t";
}

void Prepare(ContextOn& on) {
    on.ctx().regId = "12345";
    on.ctx().runStartTime = kStart;
}

// --- JSON records --------------------------------------------------------------------------------

TEST(JsonRecords, OrdinaryValuesGiveTheRecordsByteForByte) {
    EXPECT_EQ(
        win10::ErrorRecord("12345", "RebootGetTask", "Err - 5 - D", kStart),
        ",{\"RegID\" : 12345,\"FunctionName\" : \"RebootGetTask\",\"Errorlog\" : \"Err - 5 - D\","
        "\"ScanDatetime\" : \"3/4/2021 17:6:7\"}");
    EXPECT_EQ(
        win10::AuditRecord("12345", true, kStart),
        "{\"WA_RegId\" : 12345,\"WA_AUEnabled\" : false,\"WA_ScanDtime\" : \"3/4/2021 17:6:7\","
        "\"WA_Function\" : \"Reboot\"}");
    EXPECT_NE(win10::AuditRecord("12345", false, kStart).find("\"WA_AUEnabled\" : true,"),
              std::string::npos);
}

struct RegIdCase {
    const char* regId;
    bool bareNumber;
};

class RegIds : public ::testing::TestWithParam<RegIdCase> {};

// Every id gives a record that parses, and reads back as the same id.
TEST_P(RegIds, RecordParsesAndKeepsTheId) {
    const RegIdCase& c = GetParam();
    const auto record = ParseJson(win10::AuditRecord(c.regId, true, kStart));
    const auto& id = record["WA_RegId"];
    ASSERT_EQ(id.IsNumber(), c.bareNumber) << c.regId;
    EXPECT_EQ(c.bareNumber ? id.Number() : id.String(), c.regId);
}

INSTANTIATE_TEST_SUITE_P(Table, RegIds,
                         ::testing::Values(RegIdCase{"12345", true}, RegIdCase{"0", true},
                                           RegIdCase{"98765432109876543210", true},
                                           RegIdCase{"0123", false}, RegIdCase{"12a", false},
                                           RegIdCase{"-5", false}, RegIdCase{"", false},
                                           RegIdCase{"1\" : 2, \"x", false},
                                           RegIdCase{"a\\b", false}));

TEST(JsonRecords, DescriptionWithQuotesBackslashesAndLineBreakParses) {
    const std::string description = "Say \"no\" to C:\\Temp\\x.\r\nNext line\twith tab \x01 end";
    std::string list =
        win10::ErrorRecord("1001", "RebootGetTask", "Err - 5 - " + description, kStart);
    list += win10::ErrorRecord("1001", "RebootTask", description, kStart);
    const auto array = ParseJson("[" + list.substr(1) + "]").Array();
    ASSERT_EQ(array.size(), 2u);
    EXPECT_EQ(array[0]["Errorlog"].String(), "Err - 5 - " + description);
    EXPECT_EQ(array[1]["Errorlog"].String(), description);
    EXPECT_EQ(array[1]["FunctionName"].String(), "RebootTask");
}

// --- the emulated task definition ----------------------------------------------------------------

TEST(EmulatedTaskXml, EnabledSettingIsReadAndWrittenInSettingsOnly) {
    const std::string trigger =
        "<Triggers><BootTrigger><Enabled>true</Enabled></BootTrigger></Triggers>";
    const std::string cases[] = {
        "<Task>" + trigger + "<Settings><Enabled>true</Enabled></Settings></Task>",
        "<Task>" + trigger + "<Settings><Hidden>true</Hidden></Settings></Task>",
        "<Task>" + trigger + "<Settings/></Task>",
        "<Task>" + trigger + "</Task>",
        "<Task><Settings>\n  <Enabled> false </Enabled></Settings>" + trigger + "</Task>",
    };
    for (const auto& xml : cases) {
        const std::string off = platform::emulated::TaskXmlWithEnabled(xml, false);
        const std::string on = platform::emulated::TaskXmlWithEnabled(off, true);
        EXPECT_FALSE(platform::emulated::TaskXmlEnabled(off)) << off;
        EXPECT_TRUE(platform::emulated::TaskXmlEnabled(on)) << on;
        EXPECT_NE(on.find(trigger), std::string::npos) << on;
    }
    EXPECT_TRUE(platform::emulated::TaskXmlEnabled(cases[0]));
    EXPECT_FALSE(platform::emulated::TaskXmlEnabled(cases[4]));
}

// --- the reboot task -----------------------------------------------------------------------------

struct TaskCase {
    const char* name;
    bool fileEnabled;
    const char* stateFact;  // [Tasks] state of an enabled task; empty: none (ready)
    bool disable;
    const char* stateName;
    const char* outcome;
    bool enabledAfter;
};

class RebootTask : public ::testing::TestWithParam<TaskCase> {};

TEST_P(RebootTask, SwitchedByItsStateOnly) {
    const TaskCase& c = GetParam();
    TempMachine machine;
    machine.Registry(AgentRegistry());
    if (*c.stateFact)
        machine.Facts(std::string("[Tasks]\n") + kTaskPath + "=" + c.stateFact + "\n");
    machine.File(std::string(kStore) + "Reboot", TaskXml(c.fileEnabled));
    ContextOn on(machine);
    Prepare(on);
    win10::subDisableRebootNotification(on.ctx(), c.disable);

    const char* kModule = "subDisableRebootNotification";
    EXPECT_EQ(on.Log(),
              (std::vector<std::string>{
                  Line(kModule, "INFO", "Check for Windows 10 Reboot task"),
                  Line(kModule, "INFO", std::string("Current Reboot Task state : ") + c.stateName),
                  Line(kModule, "INFO", c.outcome)}));
    EXPECT_EQ(on.ctx().errorLogJson, "");
    EXPECT_EQ(FileEnabled(machine, std::string(kStore) + "Reboot"), c.enabledAfter);
    const bool changed = c.enabledAfter != c.fileEnabled;
    EXPECT_EQ(Count(Journal(machine), std::string("Task ") + kTaskPath + " Enabled="),
              changed ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RebootTask,
    ::testing::Values(TaskCase{"ReadyDisable", true, "", true, "TASK_STATE_READY",
                               "Reboot task disable successfully.", false},
                      TaskCase{"DisabledDisable", false, "", true, "TASK_STATE_DISABLED",
                               "Reboot task already disabled .", false},
                      TaskCase{"DisabledEnable", false, "", false, "TASK_STATE_DISABLED",
                               "Reboot task enabled successfully.", true},
                      TaskCase{"ReadyEnable", true, "", false, "TASK_STATE_READY",
                               "Reboot task already enabled .", true},
                      TaskCase{"RunningDisable", true, "4", true, "TASK_STATE_RUNNING",
                               "Reboot task disable successfully.", false},
                      TaskCase{"QueuedEnable", true, "2", false, "TASK_STATE_QUEUED",
                               "Reboot task already enabled .", true},
                      TaskCase{"UnknownDisable", true, "0", true, "TASK_STATE_UNKNOWN",
                               "Reboot task disable successfully.", false},
                      TaskCase{"UnlistedDisable", true, "7", true, "",
                               "Reboot task disable successfully.", false}),
    [](const auto& info) { return info.param.name; });

// A missing task: the lookup's record, then the switch's, each with its own leading comma.
TEST(RebootTask, MissingTaskGivesTwoRecordsInOrder) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File(std::string(kStore) + "Other", "x");
    ContextOn on(machine);
    Prepare(on);
    win10::subDisableRebootNotification(on.ctx(), true);

    const auto log = on.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(
        log[1].rfind(
            "ModComman\tGetTask\tERROR\t-2147024894\tThe system cannot find the file specified.\t",
            0),
        0u)
        << log[1];
    EXPECT_EQ(log[2].rfind("ModComman\tsubDisableRebootNotification\tERROR\t91\t"
                           "Object variable or With block variable not set\t",
                           0),
              0u)
        << log[2];
    const std::string& list = on.ctx().errorLogJson;
    ASSERT_EQ(list.substr(0, 2), ",{");
    const auto records = ParseJson("[" + list.substr(1) + "]").Array();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["FunctionName"].String(), "RebootGetTask");
    EXPECT_EQ(records[0]["Errorlog"].String(),
              "Err - -2147024894 - The system cannot find the file specified.");
    EXPECT_EQ(records[1]["FunctionName"].String(), "RebootTask");
    EXPECT_EQ(records[1]["Errorlog"].String(),
              "subDisableRebootNotification - 91 - Object variable or With block variable not set");
    EXPECT_EQ(records[1]["RegID"].Number(), "12345");
    EXPECT_EQ(records[1]["ScanDatetime"].String(), kStart);
}

TEST(RebootTask, RefusedSwitchLeavesTheTaskAndAddsOneRecord) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    const std::string file = std::string(kStore) + "Reboot";
    machine.File(file, TaskXml(true));
    std::filesystem::permissions(machine.HostPath(file), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    ContextOn on(machine);
    Prepare(on);
    win10::subDisableRebootNotification(on.ctx(), true);
    EXPECT_TRUE(FileEnabled(machine, file));
    const auto records = ParseJson("[" + on.ctx().errorLogJson.substr(1) + "]").Array();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["Errorlog"].String(),
              "subDisableRebootNotification - -2147024891 - Access is denied.");
}

// --- the task folder -----------------------------------------------------------------------------

// A 32-bit program on 64-bit Windows sees SysWOW64 in place of the system folder until it
// switches the redirection off: the emulation holds the program to that.
TEST(TaskFolder, RedirectionHidesTheTaskStoreUntilSwitchedOff) {
    TempMachine machine;
    machine.Facts("[System]\nWow64=1\n");
    machine.File(std::string(kStore) + "Reboot", "x");
    auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
    auto& files = host->files();
    const std::string task = std::string(kStore) + "Reboot";
    EXPECT_EQ(files.GetFileAttributesA(task.c_str()), platform::kInvalidFileAttributes);
    void* state = nullptr;
    ASSERT_TRUE(files.Wow64DisableWow64FsRedirection(&state));
    EXPECT_NE(files.GetFileAttributesA(task.c_str()), platform::kInvalidFileAttributes);
    ASSERT_TRUE(files.Wow64RevertWow64FsRedirection(state));
    EXPECT_EQ(files.GetFileAttributesA(task.c_str()), platform::kInvalidFileAttributes);
}

TEST(TaskFolder, SystemDirectoryGivesTheDrive) {
    TempMachine machine;
    machine.Facts("[System]\nSystemDirectory=D:\\WINDOWS\\system32\n");
    ContextOn on(machine);
    EXPECT_EQ(win10::fncGetSysDir(on.ctx()), "D:\\WINDOWS\\system32\\");
    win10::subRenameTaskFolderForRebootJob(on.ctx(), true);
    EXPECT_TRUE(std::filesystem::is_directory(machine.HostPath(
        "D:\\Windows\\system32\\Tasks\\Microsoft\\Windows\\UpdateOrchestrator\\Reboot")));
}

// --- the Windows 10 step of Main -----------------------------------------------------------------

struct StepCase {
    const char* name;
    const char* product;
    const char* optIn;
    const char* outcome;  // "suppress", "revoke", "skip" (the INFO line) or "none"
};

class Windows10Step : public ::testing::TestWithParam<StepCase> {};

TEST_P(Windows10Step, RunsOnWindows10WithAReadableOptIn) {
    const StepCase& c = GetParam();
    TempMachine machine;
    machine.Registry(AgentRegistry() + kPolicyKeyLine +
                     "\"NoAutoRebootWithLoggedOnUsers\"=dword:00000005\r\n");
    ContextOn on(machine);
    Prepare(on);
    on.ctx().osProductName = c.product;
    on.ctx().win10OptIn = c.optIn;
    win10::Windows10Step(on.ctx());

    const auto log = on.Log();
    const std::string outcome = c.outcome;
    if (outcome == "none") {
        EXPECT_TRUE(log.empty());
    } else if (outcome == "skip") {
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0],
                  std::string("modMain\tMain\tINFO\tWindows 10 reboot settings left unchanged, "
                              "Win10Optin not readable : \t") +
                      c.optIn + "\t\t");
    } else {
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log[0].find(outcome == "suppress" ? "Intitiated for reboot suppression"
                                                    : "Intitiated to revoke reboot suppression"),
                  log[0].find("\tINFO\t") + 6);
        // Both posts follow, audit first; with no endpoint table each reports the missing address
        // (the error post because the missing task left records).
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2],
                  "ModWebPost\tfncWin10AudWebPost\tINFO\twprestapi dns url not found.\t\t\t");
        EXPECT_EQ(log.back(),
                  "ModWebPost\tfncWin10ErrorWebPost\tINFO\twprestapi dns url not found.\t\t\t");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Windows10Step,
    ::testing::Values(StepCase{"One", "Windows 10 Pro", "1", "suppress"},
                      StepCase{"Zero", "Windows 10 Enterprise", "0", "revoke"},
                      StepCase{"TrueWord", "Windows 10 Pro", "True", "suppress"},
                      StepCase{"FalseWord", "Windows 10 Pro", "false", "revoke"},
                      StepCase{"LowerCaseProduct", "windows 10 home", "2", "suppress"},
                      StepCase{"MinusOne", "Windows 10 Pro", "-1", "none"},
                      StepCase{"Server", "Windows Server 2016", "1", "none"},
                      StepCase{"Empty", "Windows 10 Pro", "", "skip"},
                      StepCase{"Word", "Windows 10 Pro", "yes", "skip"}),
    [](const auto& info) { return info.param.name; });

TEST(Windows10Step, UnreadableOptInLeavesThePolicyAlone) {
    TempMachine machine;
    machine.Registry(AgentRegistry() + kPolicyKeyLine +
                     "\"NoAutoRebootWithLoggedOnUsers\"=dword:00000005\r\n");
    const std::string before = Hive(machine);
    ContextOn on(machine);
    on.ctx().osProductName = "Windows 10 Pro";
    on.ctx().win10OptIn = "maybe";
    win10::Windows10Step(on.ctx());
    EXPECT_EQ(Hive(machine), before);
    EXPECT_EQ(Journal(machine), "");
}

// Every platform call of a first suppression on 64-bit Windows fails in turn: nothing escapes,
// and the file-system redirection is never left switched off.
TEST(Windows10Step, EveryFailingCallLeavesRedirectionRestored) {
    const auto run = [](platform::FaultPlan& plan, long* disables, long* reverts) {
        TempMachine machine;
        machine.Registry(AgentRegistry() + kPolicyKeyLine);
        machine.Facts("[System]\nWow64=1\n");
        machine.File(std::string(kStore) + "Reboot", TaskXml(true));
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "RBT");
        platform::FaultInjectingPlatform faulty(*host, plan);
        run::RunContext ctx(faulty);
        ctx.logFilePath = testing_support::kAgentLog;
        ctx.osProductName = "Windows 10 Pro";
        ctx.win10OptIn = "1";
        ctx.regId = "1001";
        win10::Windows10Step(ctx);
        const std::string journal = Journal(machine);
        *disables = static_cast<long>(Count(journal, "Wow64DisableWow64FsRedirection"));
        *reverts = static_cast<long>(Count(journal, "Wow64RevertWow64FsRedirection"));
    };
    platform::FaultPlan survey;
    long disables = 0, reverts = 0;
    run(survey, &disables, &reverts);
    ASSERT_EQ(disables, 1);
    ASSERT_GT(survey.calls, 20);
    for (long call = 1; call <= survey.calls; ++call) {
        platform::FaultPlan plan;
        plan.failAt = call;
        EXPECT_NO_THROW(run(plan, &disables, &reverts)) << survey.trace[call - 1];
        if (survey.trace[call - 1] != "Files.Wow64RevertWow64FsRedirection") {
            EXPECT_EQ(disables, reverts) << "call " << call << " " << survey.trace[call - 1];
        }
    }
}

}  // namespace
