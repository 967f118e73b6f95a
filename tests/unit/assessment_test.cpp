#include <gtest/gtest.h>

#include <string>

#include "program_support.h"
#include "run_support.h"

namespace {

using testing_support::AgentRegistry;
using testing_support::InstallCipher;
using testing_support::InstallRecorder;
using testing_support::RunProgram;
using testing_support::TempMachine;

constexpr const char* kPatchAgent = "C:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe";
constexpr const char* kPending = testing_support::kRebootRequiredKey;

// An agent whose last scan was two days before the pinned clock, on a machine up an hour with a
// reboot pending and nothing recorded.
void DueMachine(TempMachine& machine) {
    machine.Registry(AgentRegistry() + kPending);
    InstallCipher(machine);
    machine.Facts(
        "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Clock]\nNow=2021-03-10 12:00:00\n"
        "[System]\nLastBootUpTime=20210310110000.000000+000\n");
    machine.File("C:\\Agent\\BaseComponents\\PatchManagement\\ScanFld\\PatchScanDate.ini",
                 "[ScandateTime]\r\nLastScandate=3/8/2021 12:00:00 PM\r\n");
    InstallRecorder(machine, kPatchAgent);
}

TEST(Assessment, PatchProgramRunsOnceOverTwoRuns) {
    TempMachine machine;
    DueMachine(machine);
    EXPECT_EQ(RunProgram(machine, "RBTASSESS").exitCode, 0);
    EXPECT_EQ(machine.Read(std::string(kPatchAgent) + ".ran"), "args=0 [] dir=PatchManagement\n");
    EXPECT_EQ(RunProgram(machine, "RBTASSESS").exitCode, 0);
    EXPECT_EQ(machine.Read(std::string(kPatchAgent) + ".ran"), "args=0 [] dir=PatchManagement\n");
    const std::string state = machine.Read("C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini");
    EXPECT_NE(state.find("[Manual]\r\nRBTAssess=1"), std::string::npos) << state;
    EXPECT_NE(state.find("RBTPENDinRegistry=1"), std::string::npos) << state;
}

}  // namespace
