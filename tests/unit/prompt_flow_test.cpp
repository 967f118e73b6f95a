#include <gtest/gtest.h>

#include <string>

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
