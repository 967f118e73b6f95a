#include <gtest/gtest.h>

#include <algorithm>

#include "fault_injection.h"
#include "program_support.h"
#include "registry/os_facts.h"
#include "registry/registry_access.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::Journal;
using testing_support::TempMachine;

constexpr const char* kKey = "SOFTWARE\\Test";

struct ReadCase {
    const char* name;
    const char* regLine;  // the value as the export file writes it
    const char* expected;
    bool logsError;
};

class RegistryReads : public ::testing::TestWithParam<ReadCase> {};

TEST_P(RegistryReads, ValueAsText) {
    const ReadCase& c = GetParam();
    TempMachine machine;
    machine.Registry(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n") + c.regLine + "\r\n");
    ContextOn on(machine);
    EXPECT_EQ(registry::GetString(on.ctx(), platform::kHkeyLocalMachine, kKey, "V"), c.expected);
    const auto log = on.Log();
    EXPECT_EQ(!log.empty(), c.logsError) << (log.empty() ? "" : log[0]);
    if (c.logsError) {
        EXPECT_EQ(log[0].substr(0, 40),
                  std::string("ModRegistry\tRegQueryStringValue\tERROR\tV\t5\t").substr(0, 40));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryReads,
    ::testing::Values(ReadCase{"sz", "\"V\"=\"C:\\\\Agent\"", "C:\\Agent", false},
                      ReadCase{"spaces", "\"V\"=\"  x  \"", "  x  ", false},
                      ReadCase{"dword", "\"V\"=dword:00011170", "70000", false},
                      ReadCase{"negative", "\"V\"=dword:ffffffff", "-1", false},
                      ReadCase{"binary4", "\"V\"=hex:01,00,00,00", "1", false},
                      // Longer binary data: the first four bytes give the number, nothing more.
                      ReadCase{"binary8", "\"V\"=hex:02,01,00,00,ff,ff,ff,ff", "258", false},
                      ReadCase{"binary2", "\"V\"=hex:05,01", "261", false},
                      ReadCase{"expand", "\"V\"=hex(2):41,00,00,00", "", false},
                      ReadCase{"multi", "\"V\"=hex(7):41,00,00,00,00,00", "", false},
                      ReadCase{"missingValue", "\"Other\"=\"x\"", "", false},
                      // Text without its terminating NUL cannot be cut: the read's own trap.
                      ReadCase{"noNul", "\"V\"=hex(1):41,00,42,00", "", true}),
    [](const auto& info) { return info.param.name; });

TEST(Registry, MissingKeyGivesEmptyTextWithoutLogLine) {
    TempMachine machine;
    machine.Registry("");
    ContextOn on(machine);
    EXPECT_EQ(registry::GetString(on.ctx(), platform::kHkeyLocalMachine, "SOFTWARE\\Nope", "V"),
              "");
    EXPECT_TRUE(on.Log().empty());
}

TEST(Registry, PlainOpenOfA32BitProgramSeesTheWow6432NodeView) {
    TempMachine machine;
    machine.Registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Test]\r\n\"V\"=\"32\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test]\r\n\"V\"=\"64\"\r\n");
    machine.Facts("[System]\nWow64=1\n");
    ContextOn on(machine);
    EXPECT_EQ(registry::GetString(on.ctx(), platform::kHkeyLocalMachine, kKey, "V"), "32");
}

struct DwordCase {
    const char* name;
    const char* existing;  // value line, or "" for a missing value
    bool keyExists;
    std::vector<std::string> messages;
    bool changed;
};

class DwordWrites : public ::testing::TestWithParam<DwordCase> {};

TEST_P(DwordWrites, WritesOnlyWhenDifferent) {
    const DwordCase& c = GetParam();
    TempMachine machine;
    machine.Registry(c.keyExists ? std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policy]\r\n") +
                                       c.existing + "\r\n"
                                 : "");
    ContextOn on(machine);
    on.ctx().regValueChanged = true;
    registry::SetRegDwordValue64(on.ctx(), "NoAuto", 1, "SOFTWARE\\Policy");
    std::vector<std::string> messages;
    for (const auto& line : on.Log()) {
        auto fields = line.substr(line.find('\t', line.find('\t') + 1) + 1);
        messages.push_back(fields.substr(0, fields.find('\t', fields.find('\t') + 1)));
    }
    EXPECT_EQ(messages, c.messages);
    EXPECT_EQ(on.ctx().regValueChanged, c.changed);
    if (c.keyExists) {
        EXPECT_EQ(registry::RegQueryStringValue(on.ctx(), 0, "NoAuto"), "");
        EXPECT_EQ(registry::GetString(on.ctx(), platform::kHkeyLocalMachine, "SOFTWARE\\Policy",
                                      "NoAuto"),
                  "1");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DwordWrites,
    ::testing::Values(
        DwordCase{"same",
                  "\"NoAuto\"=dword:00000001",
                  true,
                  {"INFO\tModifying Registry Values", "INFO\tREGISTRY VALUE ALREADY UPDATED ",
                   "INFO\tSuccessfully modified Registry Values"},
                  false},
        DwordCase{"different",
                  "\"NoAuto\"=dword:00000000",
                  true,
                  {"INFO\tModifying Registry Values", "INFO\tUPDATED REGISTRY VALUE",
                   "INFO\tSuccessfully modified Registry Values"},
                  true},
        DwordCase{
            "missing",
            "",
            true,
            {"INFO\tModifying Registry Values", "INFO\tREGISTRY VALUE IS NOT AVAILABLE",
             "INFO\tREGISTRY VALUE TURNED OFF ", "INFO\tSuccessfully modified Registry Values"},
            true},
        DwordCase{
            "string",
            "\"NoAuto\"=\"1\"",
            true,
            {"INFO\tModifying Registry Values", "INFO\tREGISTRY VALUE IS NOT AVAILABLE",
             "INFO\tREGISTRY VALUE TURNED OFF ", "INFO\tSuccessfully modified Registry Values"},
            true},
        DwordCase{"noKey",
                  "",
                  false,
                  {"INFO\tModifying Registry Values", "ERROR\tModifying Registry - NoAuto"},
                  false}),
    [](const auto& info) { return info.param.name; });

// A write the registry refuses (a policy key a security product guards, say) is reported by
// the trap and leaves the flag false: the run must not tell the service the policy is set.
TEST(Registry, ARefusedDwordWriteIsReportedAndNotCounted) {
    const struct {
        const char* existing;
        std::vector<std::string> messages;
    } cases[] = {
        {"\"NoAuto\"=dword:00000000",
         {"INFO\tModifying Registry Values", "ERROR\tModifying Registry - NoAuto\tlResult"}},
        {"",
         {"INFO\tModifying Registry Values", "INFO\tREGISTRY VALUE IS NOT AVAILABLE\t",
          "ERROR\tModifying Registry - NoAuto\tlResult"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.existing);
        TempMachine machine;
        machine.Registry(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policy]\r\n") + c.existing +
                         "\r\n");
        platform::FaultPlan survey;
        {
            ContextOn on(machine, &survey);
            registry::SetRegDwordValue64(on.ctx(), "NoAuto", 1, "SOFTWARE\\Policy");
        }
        const auto write =
            std::find(survey.trace.begin(), survey.trace.end(), "Registry.RegSetValueExA");
        ASSERT_NE(write, survey.trace.end());
        TempMachine fresh;
        fresh.Registry(std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policy]\r\n") + c.existing +
                       "\r\n");
        platform::FaultPlan plan;
        plan.failAt = write - survey.trace.begin() + 1;
        plan.code = platform::kErrorAccessDenied;
        ContextOn on(fresh, &plan);
        on.ctx().regValueChanged = true;
        registry::SetRegDwordValue64(on.ctx(), "NoAuto", 1, "SOFTWARE\\Policy");
        const auto log = on.Log();
        ASSERT_EQ(log.size(), c.messages.size());
        for (std::size_t i = 0; i < log.size(); ++i) {
            EXPECT_NE(log[i].find(c.messages[i]), std::string::npos) << log[i];
        }
        EXPECT_EQ(log.back(),
                  "ModRegistry\tSetRegDwordValue64\tERROR\tModifying Registry - NoAuto\tlResult\t"
                  "SetRegDwordValue64: Value Not Written, SOFTWARE\\Policy : NoAuto\t5");
        EXPECT_FALSE(on.ctx().regValueChanged);
    }
}

TEST(OsFacts, RebootPendingFollowsTheKeyAndLogsTheOpenResult) {
    for (const bool present : {true, false}) {
        TempMachine machine;
        machine.Registry(present
                             ? "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                               "WindowsUpdate\\Auto Update\\RebootRequired]\r\n"
                             : "");
        ContextOn on(machine);
        EXPECT_EQ(registry::fncRebootPending(on.ctx()), present);
        ASSERT_EQ(on.Log().size(), 1u);
        EXPECT_EQ(on.Log()[0], std::string("ModRegistry\tfncRebootPending\tINFO\t"
                                           "Reboot registry return status - ") +
                                   (present ? "0" : "2") + "\t\t\t");
    }
}

const char kRebootKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";

// The flag's check on a machine whose reboot-required key is listed in machine.ini's `section`:
// its answer, its log line's status and the host's journal.
struct FlagCheck {
    bool pending = false;
    std::string line;
    std::string journal;
};
FlagCheck CheckFlagWithKeyListedIn(const std::string& section) {
    TempMachine machine;
    machine.Registry(std::string("[HKEY_LOCAL_MACHINE\\") + kRebootKey + "]\r\n");
    machine.Facts("[" + section + "]\n" + kRebootKey + "=1\n");
    ContextOn on(machine);
    FlagCheck check;
    check.pending = registry::fncRebootPending(on.ctx());
    check.line = on.Log()[0];
    check.journal = Journal(machine);
    return check;
}

// The key is opened for reading: one that refuses writing still marks a pending reboot. Opened
// with full access, as before, it read as "no reboot pending" (status 5).
TEST(OsFacts, RebootKeyThatRefusesWritingStillCountsAsPending) {
    const FlagCheck check = CheckFlagWithKeyListedIn("RegistryReadOnly");
    EXPECT_TRUE(check.pending);
    EXPECT_EQ(check.line,
              "ModRegistry\tfncRebootPending\tINFO\tReboot registry return status - 0\t\t\t");
}

// A key that refuses every open reads as absent to the flag's check, with the refusal in its
// status line; the host notes the refusal.
TEST(OsFacts, RebootKeyThatRefusesEveryOpenIsNoPendingReboot) {
    const FlagCheck check = CheckFlagWithKeyListedIn("RegistryUnreadable");
    EXPECT_FALSE(check.pending);
    EXPECT_EQ(check.line,
              "ModRegistry\tfncRebootPending\tINFO\tReboot registry return status - 5\t\t\t");
    EXPECT_NE(check.journal.find(std::string("RegOpenKey HKLM\\") + kRebootKey + " refused 5"),
              std::string::npos);
}

TEST(OsFacts, ProductNameFromThe64BitView) {
    TempMachine machine;
    machine.Registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
        "\"ProductName\"=\"Windows 10 Pro\"\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
        "\"ProductName\"=\"other view\"\r\n");
    machine.Facts("[System]\nWow64=1\n");
    ContextOn on(machine);
    EXPECT_EQ(registry::ReadOSInfo(on.ctx(), "ProductName"), "Windows 10 Pro");
    EXPECT_EQ(registry::ReadOSInfo(on.ctx(), "Missing"), "");
    EXPECT_TRUE(on.Log().empty());
}

}  // namespace
