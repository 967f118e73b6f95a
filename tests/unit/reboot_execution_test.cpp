#include "reboot/reboot_execution.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emulated/emulated_platform.h"
#include "program_support.h"
#include "run/end_of_run.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::Journal;
using testing_support::TempMachine;

constexpr const char* kState = "C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini";

std::string Line(const char* form, const char* procedure, const char* type,
                 const std::string& message, const std::string& val2 = {},
                 const std::string& val3 = {}) {
    return std::string(form) + "\t" + procedure + "\t" + type + "\t" + message + "\t" + val2 +
           "\t" + val3 + "\t";
}

const std::string kRebooting = Line("ModReboot", "RebootSystem", "INFO", "Rebooting Machine.");
const std::string kInitiating =
    Line("ModReboot", "RebootSystem", "INFO", "Initiating System Shutdown.");
const std::string kFlush = Line("ModComman", "FlushRBTINI", "INFO", "Clear Rbtini entries....");
const std::string kRefused =
    Line("ModReboot", "RebootSystem", "INFO", "Restart refused, reboot state file left as it was.");
const std::string kStopped = Line("ModReboot", "RebootSystem", "INFO", "Application stopped.");
const char* kBefore =
    "[RebootStatus]\r\nPendingWPM=1\r\nWPMRbtRequiredON=3/9/2024 14:5:7\r\n"
    "PendingWTPM=1\r\nPostponeAttempt=2\r\nTimerPM=1\r\n\r\n[PatchAssess]\r\nRBT=0\r\n";

struct RebootCase {
    const char* name;
    const char* facts;
    std::vector<std::string> log;
    const char* shutdownJournal;
    int exitCode;
    const char* stateBefore = kBefore;  // null: no state file
};

class Reboot : public ::testing::TestWithParam<RebootCase> {};

// Accepted (exit 5), or not answered within its bound (exit 7): the mark and the cleared entries
// stay for the assessment after the restart. Refused (exit 6): the state file is byte for byte what
// it was, or still absent.
TEST_P(Reboot, RecordsMarksAsksAndEndsTheProcess) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(c.facts);
    if (c.stateBefore) machine.File(kState, c.stateBefore);
    {
        ContextOn on(machine);
        on.ctx().rebootIniPath = kState;
        int exitCode = -1;
        try {
            reboot::RebootSystem(on.ctx());
        } catch (const run::EndOfRun& end) {
            exitCode = end.exitCode();
        }
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(on.Log(), c.log);
    }
    const std::string journal = Journal(machine);
    EXPECT_NE(journal.find(c.shutdownJournal), std::string::npos) << journal;
    EXPECT_FALSE(machine.Exists(std::string(kState) + ".tmp"));
    if (c.exitCode == 6) {
        if (c.stateBefore) {
            EXPECT_EQ(machine.Read(kState), c.stateBefore);
        } else {
            EXPECT_FALSE(machine.Exists(kState));
        }
        return;
    }
    const std::string state = machine.Read(kState);
    EXPECT_NE(state.find("[PatchAssess]\r\nRBT=1"), std::string::npos) << state;
    for (const char* cleared :
         {"PendingWPM=\r\n", "WPMRbtRequiredON=\r\n", "PendingWTPM=\r\n", "PostponeAttempt=\r\n"}) {
        EXPECT_NE(state.find(cleared), std::string::npos) << cleared << " in " << state;
    }
}

const char* kAccepted =
    "InitiateSystemShutdown machine=(local) message=\"Microsoft Critical Updates have been "
    "Installed. Rebooting Computer.\" timeout=0 force=1 reboot=1 reason=0x80020011 accepted";
const std::string kNoPrivilege =
    Line("ModReboot", "InitiateShutdownMachine", "ERROR", "InitiateSystemShutdown Error.", "1314",
         "A required privilege is not held by the client.");

INSTANTIATE_TEST_SUITE_P(
    Table, Reboot,
    ::testing::Values(
        RebootCase{"Accepted", "", {kRebooting, kInitiating, kFlush, kStopped}, kAccepted, 5},
        RebootCase{
            "EventLogFull",
            "[EventLog]\nReportError=1502\n",
            {kRebooting, kInitiating,
             Line("modReboot", "subRegisterRebootEvent", "ERROR",
                  "1502 0  Reboot or Shutdown not logged to EventViewer -- REBOOT BY MSP@VORN"),
             kFlush, kStopped},
            kAccepted,
            5},
        RebootCase{"EventLogCannotBeOpened",
                   "[EventLog]\nOpenError=5\n",
                   {kRebooting, kInitiating,
                    Line("modReboot", "subRegisterRebootEvent", "ERROR",
                         "6 0  Reboot or Shutdown not logged to EventViewer -- REBOOT BY MSP@VORN"),
                    kFlush, kStopped},
                   kAccepted,
                   5},
        // The privilege is not granted: enabling it still "succeeds", the request is refused and
        // the refusal is logged with the system's reason.
        RebootCase{"NoShutdownPrivilege",
                   "[Account]\nShutdownPrivilege=0\n",
                   {kRebooting, kInitiating, kFlush, kNoPrivilege, kRefused, kStopped},
                   "reboot=1 reason=0x80020011 refused error=1314",
                   6},
        RebootCase{"RefusedWithoutStateFile",
                   "[Account]\nShutdownPrivilege=0\n",
                   {kRebooting, kInitiating, kFlush, kNoPrivilege, kRefused, kStopped},
                   "refused error=1314",
                   6,
                   nullptr},
        // A shutdown scheduled for later is not this restart.
        RebootCase{
            "ShutdownScheduled",
            "[Power]\nShutdownError=1190\n",
            {kRebooting, kInitiating, kFlush,
             Line("ModReboot", "InitiateShutdownMachine", "ERROR", "InitiateSystemShutdown Error.",
                  "1190", "A system shutdown has already been scheduled."),
             kRefused, kStopped},
            "refused error=1190",
            6},
        // A shutdown under way restarts the machine all the same.
        RebootCase{
            "ShutdownInProgress",
            "[Power]\nShutdownError=1115\n",
            {kRebooting, kInitiating, kFlush,
             Line("ModReboot", "InitiateShutdownMachine", "INFO", "Shutdown already in progress.",
                  "1115", "A system shutdown is in progress."),
             kStopped},
            "refused error=1115",
            5},
        // The request given up at its bound may still be carried out: no refusal, the marks
        // stay, and the end says that no answer came.
        RebootCase{"NotAnswered",
                   "[Clock]\nBoundScale=1000\n[Hang]\nPower.InitiateSystemShutdownExA=forever\n",
                   {kRebooting, kInitiating, kFlush,
                    Line("ModReboot", "InitiateShutdownMachine", "ERROR",
                         "InitiateSystemShutdown not answered within 30000 ms.", "1460",
                         "This operation returned because the timeout period expired."),
                    kStopped},
                   "Power.InitiateSystemShutdownExA not answered within 30000 ms",
                   7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Reboot, EventRecordCarriesTheMessage) {
    TempMachine machine;
    {
        ContextOn on(machine);
        reboot::subRegisterRebootEvent(on.ctx(), "REBOOT BY MSP@VORN");
        EXPECT_TRUE(on.Log().empty());
    }
    EXPECT_EQ(Journal(machine),
              "ReportEvent log=MSP@VORN type=4 category=0 id=0 strings=\"REBOOT BY MSP@VORN\"\n");
}

TEST(Reboot, NoProceedFlagMakesNoCall) {
    TempMachine machine;
    platform::FaultPlan plan;
    auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
    platform::FaultInjectingPlatform faulty(*host, plan);
    run::RunContext ctx(faulty);
    EXPECT_FALSE(reboot::InitiateShutdownMachine(ctx, ".", true, true, false, 0, "x"));
    EXPECT_FALSE(reboot::InitiateShutdownMachine(ctx, "."));
    EXPECT_TRUE(plan.trace.empty());
}

// Each privilege step failing: its own ERROR line with the system's error, no request made.
TEST(Reboot, PrivilegeStepsFailWithTheirOwnLines) {
    const struct {
        const char* call;
        const char* line;
    } steps[] = {{"Power.OpenCurrentProcessToken", "OpenProcessToken Error."},
                 {"Power.LookupPrivilegeValueA", "LookupPrivilegeValue Error."},
                 {"Power.AdjustTokenPrivileges", "AdjustTokenPrivileges Error."}};
    for (const auto& step : steps) {
        TempMachine machine;
        platform::FaultPlan survey;
        {
            auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
            platform::FaultInjectingPlatform faulty(*host, survey);
            run::RunContext ctx(faulty);
            EXPECT_TRUE(reboot::InitiateShutdownMachine(ctx, ".", true, true, true, 0, "x"));
        }
        std::filesystem::remove(machine.folder() / "journal.log");
        platform::FaultPlan plan;
        for (std::size_t i = 0; i < survey.trace.size() && !plan.failAt; ++i) {
            if (survey.trace[i] == step.call) plan.failAt = static_cast<long>(i) + 1;
        }
        plan.code = 1300;
        ContextOn on(machine);
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
        platform::FaultInjectingPlatform faulty(*host, plan);
        run::RunContext ctx(faulty);
        ctx.logFilePath = testing_support::kAgentLog;
        EXPECT_FALSE(reboot::InitiateShutdownMachine(ctx, ".", true, true, true, 0, "x"))
            << step.call;
        EXPECT_EQ(on.Log(), std::vector<std::string>{Line("ModReboot", "InitiateShutdownMachine",
                                                          "ERROR", step.line, "1300")})
            << step.call;
        EXPECT_EQ(Journal(machine).find("InitiateSystemShutdown"), std::string::npos) << step.call;
    }
}

}  // namespace
