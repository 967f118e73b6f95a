#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "program_support.h"
#include "run_support.h"

namespace {

using testing_support::AgentRegistry;
using testing_support::InstallCipher;
using testing_support::InstallScript;
using testing_support::Journal;
using testing_support::RunProgram;
using testing_support::TempMachine;

// A machine with a reboot pending, a user at the console, and a prompt program that answers
// "TimerPM" = "1" in the user's result file, written after the scheduler's own files.
void RestartingMachine(TempMachine& machine, const std::string& agentType = "MSP") {
    std::string registry = AgentRegistry();
    registry.replace(registry.find("\"TRLA\""), 6, "\"" + agentType + "\"");
    machine.Registry(
        registry +
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\"
        "Auto Update\\RebootRequired]\r\n");
    InstallCipher(machine);
    machine.Facts(
        "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\nSessionId=1\nUser=alice\n");
    InstallScript(
        machine, "C:\\Agent\\Bellhop.exe",
        "result=\"$REBOOTSCHEDULER_MACHINE/drives/c/ProgramData/VERUZE/Bellhop_alice.ini\"\n"
        "mkdir -p \"${result%/*}\"\n"
        "printf '[RebootStatus]\\r\\nTimerPM=1\\r\\n' > \"$result\"\n"
        "touch -d \"@$(($(date +%s) + 2))\" \"$result\"\n");
}

TEST(PromptFlow, AnswerToRestartEndsTheRunWithTheRequest) {
    TempMachine machine;
    RestartingMachine(machine);
    const auto result = RunProgram(machine, "RBT");
    EXPECT_EQ(result.exitCode, 5);
    ASSERT_FALSE(result.log.empty());
    EXPECT_EQ(result.log.back(), "ModReboot\tRebootSystem\tINFO\tApplication stopped.\t\t\t");
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find("cmdline=\" RBT\""), std::string::npos) << journal;
    EXPECT_NE(journal.find("InitiateSystemShutdown machine=(local)"), std::string::npos) << journal;
    EXPECT_EQ(journal.find("Handles open at exit"), std::string::npos) << journal;
}

}  // namespace

namespace {

// The restart-loop guard, driven as the agent drives the program: RBT every hour for two weeks on
// a machine whose prompt answers "restart now" whenever a reboot is pending. After each accepted
// request the emulated machine restarts (its boot time five minutes later); the Windows Update
// flag survives every restart, or clears after the first or the second.
struct LoopCase {
    const char* name;
    int clearsAfterRestart;  // 0: never
    int hours;
    int requests;                     // restart requests over the whole drive
    std::vector<int> requestedAt;     // hours of the requests
    std::vector<int> firstGuardedAt;  // hours of the first exit 8 after each window's requests
};

std::string TimeText(std::int64_t hour, int minute) {
    // 2030-01-01 00:00 plus whole hours, as machine.ini's two forms.
    const std::int64_t days = hour / 24;
    const int h = static_cast<int>(hour % 24);
    const int day = 1 + static_cast<int>(days % 31);
    const int month = 1 + static_cast<int>(days / 31);
    char clock[40];
    std::snprintf(clock, sizeof clock, "2030-%02d-%02d %02d:%02d:00", month, day, h, minute);
    return clock;
}

std::string CimText(const std::string& clock) {
    // "2030-01-02 03:04:05" -> "20300102030405.000000+000"
    std::string digits;
    for (const char c : clock) {
        if (c >= '0' && c <= '9') digits += c;
    }
    return digits + ".000000+000";
}

std::string MdyText(std::int64_t hour) {
    const std::int64_t days = hour / 24;
    return std::to_string(1 + days / 31) + "/" + std::to_string(1 + days % 31) + "/2030 " +
           std::to_string(hour % 24) + ":0:0";
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(RestartGuard, HourlyRunsForTwoWeeks) {
    const LoopCase cases[] = {
        {"flag never clears", 0, 14 * 24, 6, {0, 1, 2, 168, 169, 170}, {3, 171}},
        {"flag clears after the first restart", 1, 12, 1, {0}, {}},
        {"flag clears after the second restart", 2, 12, 2, {0, 1}, {}},
    };
    const std::string state = "C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini";
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempMachine machine;
        InstallCipher(machine);
        // The prompt asks while a reboot is pending and the user always answers "restart now".
        InstallScript(machine, "C:\\Agent\\Bellhop.exe",
                      "dir=\"$REBOOTSCHEDULER_MACHINE/drives/c/ProgramData/VERUZE\"\n"
                      "answer=\n"
                      "grep -q '^PendingWPM=1' \"$dir/Bellhop_SYSTEM.ini\" && answer=1\n"
                      "printf '[RebootStatus]\\r\\nTimerPM=%s\\r\\n' \"$answer\" > "
                      "\"$dir/Bellhop_alice.ini\"\n"
                      "touch -d \"@$(($(date +%s) + 2))\" \"$dir/Bellhop_alice.ini\"\n");
        std::string boot = TimeText(0, 0);
        boot.replace(0, 4, "2029");  // up a year before the drive starts
        int restarts = 0;
        std::vector<int> requestedAt;
        std::vector<int> guardedAt;
        bool lastGuarded = false;
        for (int hour = 0; hour < c.hours; ++hour) {
            const bool flag = c.clearsAfterRestart == 0 || restarts < c.clearsAfterRestart;
            machine.Registry(AgentRegistry() + (flag ? testing_support::kRebootRequiredKey : ""));
            machine.Facts(
                "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\nSessionId=1\n"
                "User=alice\n[Clock]\nNow=" +
                TimeText(hour, 0) + "\n[System]\nLastBootUpTime=" + CimText(boot) + "\n");
            const auto result = RunProgram(machine, "RBT");
            ASSERT_FALSE(result.crashed) << result.crash;
            if (result.exitCode == 5) {
                requestedAt.push_back(hour);
                ++restarts;
                boot = TimeText(hour, 5);
            } else if (result.exitCode == 8) {
                if (!lastGuarded) guardedAt.push_back(hour);
                if (!lastGuarded) {
                    // The first window's first request, and seven days after it.
                    const int first = requestedAt[requestedAt.size() - 3];
                    const std::string line =
                        "ModReboot\tCallRebootUI\tERROR\tRestart not requested: the "
                        "reboot-required flag survived 3 restarts since " +
                        MdyText(first) + "; next restart allowed after " + MdyText(first + 168) +
                        " or once the flag clears\t\t\t";
                    EXPECT_NE(std::find(result.log.begin(), result.log.end(), line),
                              result.log.end())
                        << "hour " << hour;
                    EXPECT_EQ(result.log.back(), "ModComman\tCloseAll\tINFO\tEND\t\t\t");
                }
            } else {
                ASSERT_EQ(result.exitCode, 0) << "hour " << hour;
            }
            lastGuarded = result.exitCode == 8;
        }
        EXPECT_EQ(static_cast<int>(requestedAt.size()), c.requests);
        EXPECT_EQ(requestedAt, c.requestedAt);
        EXPECT_EQ(guardedAt, c.firstGuardedAt);
        const std::string journal = Journal(machine);
        EXPECT_EQ(Count(journal, "InitiateSystemShutdown machine="), requestedAt.size());
        // Every guarded run made one warning record, and no other run did.
        const int guardedRuns =
            c.clearsAfterRestart == 0 ? (168 - 3) * 2 : 0;  // two windows of 165 hours each
        EXPECT_EQ(Count(journal, "ReportEvent log=MSP@VORN type=2 "),
                  static_cast<std::size_t>(guardedRuns));
        EXPECT_EQ(Count(journal, "strings=\"Restart not requested: "),
                  static_cast<std::size_t>(guardedRuns));
        const std::string after = machine.Read(state);
        if (c.clearsAfterRestart == 0) {
            EXPECT_NE(after.find("[RestartGuard]\r\nRequests=3\r\nSurvived=3\r\nFirstRequest=" +
                                 MdyText(168) + "\r\nLastRequest=" + MdyText(170) + "\r\n"),
                      std::string::npos)
                << after;
        } else {
            EXPECT_EQ(after.find("RestartGuard"), std::string::npos) << after;
        }
    }
}

}  // namespace

namespace {

// rebootscheduler.prom at the end of an RBT run that asks for the restart: written only into an
// existing folder that no other account may change, with the other mode's samples of the old file
// kept and anything not ours dropped.
TEST(RunMetrics, WrittenOnlyIntoAProtectedFolder) {
    const std::string folder = "C:\\Program Files\\windows_exporter\\textfile_inputs";
    const std::string file = folder + "\\rebootscheduler.prom";
    struct Case {
        const char* name;
        bool folderExists;
        const char* rights;  // [FileRights] of the folder, or none
        bool written;
    };
    const Case cases[] = {
        {"no folder", false, nullptr, false},
        {"protected folder", true, nullptr, true},
        {"users may change the folder", true, "Administrators,Users", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempMachine machine;
        RestartingMachine(machine);
        std::string facts =
            "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\nSessionId=1\nUser=alice\n"
            "[System]\nLastBootUpTime=20300101000000.000000+000\n[Clock]\nNow=2030-01-01 "
            "01:00:00\n";
        if (c.rights) facts += "[FileRights]\n" + folder + "=" + c.rights + "\n";
        machine.Facts(facts);
        if (c.folderExists) {
            machine.File(file,
                         "rebootscheduler_last_run_exit_code{mode=\"RBTASSESS\"} 0\n"
                         "rebootscheduler_last_run_exit_code{mode=\"RBT\"} 6\n"
                         "rebootscheduler_uptime_seconds{mode=\"x\"} 5\n"
                         "other_metric 1\nrebootscheduler_restart_refused yes\n");
        }
        const auto result = RunProgram(machine, "RBT");
        EXPECT_EQ(result.exitCode, 5);
        const bool refusedLine =
            std::find(result.log.begin(), result.log.end(),
                      "ModComman\tWriteRunMetrics\tERROR\tMetrics not written: others may change "
                      "it\t" +
                          folder + "\t\t") != result.log.end();
        EXPECT_EQ(refusedLine, c.rights != nullptr);
        if (!c.folderExists) {
            EXPECT_FALSE(machine.Exists(file));
            continue;
        }
        const std::string text = machine.Read(file);
        if (!c.written) {
            EXPECT_EQ(text.find("# HELP"), std::string::npos) << text;
            continue;
        }
        for (const char* line : {
                 "# TYPE rebootscheduler_last_run_exit_code gauge\n"
                 "rebootscheduler_last_run_exit_code{mode=\"RBT\"} 5\n"
                 "rebootscheduler_last_run_exit_code{mode=\"RBTASSESS\"} 0\n",
                 "\nrebootscheduler_reboot_required 1\n",
                 "\nrebootscheduler_reboot_pending_since_timestamp_seconds 0\n",
                 "\nrebootscheduler_restart_requests 1\n",
                 "\nrebootscheduler_restarts_survived 0\n",
                 "\nrebootscheduler_restart_guard_holding 0\n",
                 "\nrebootscheduler_restart_refused 0\n",
             }) {
            EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
        }
        EXPECT_NE(text.find("\nrebootscheduler_last_run_timestamp_seconds{mode=\"RBT\"} 18934"),
                  std::string::npos)
            << text;
        for (const char* dropped : {"other_metric", "mode=\"x\"", "yes", ".tmp"}) {
            EXPECT_EQ(text.find(dropped), std::string::npos) << dropped << "\n" << text;
        }
        EXPECT_FALSE(machine.Exists(file + ".tmp"));
    }
}

}  // namespace
