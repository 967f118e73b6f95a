#include "reboot/assessment.h"

#include <limits>

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "reboot/reboot_state.h"
#include "reboot/run_and_wait.h"
#include "registry/os_facts.h"
#include "run/failures.h"
#include "uptime/uptime.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kScanDateFile = "BaseComponents\\PatchManagement\\ScanFld\\PatchScanDate.ini";
constexpr const char* kPatchAgent = "BaseComponents\\PatchManagement\\Quillon.exe";

void Log(run::RunContext& ctx, const char* type, const std::string& message) {
    WriteLogLine(ctx, "ModReboot", "CallRBTAssess", type, message);
}

// Whole seconds from the last scan to now; now is taken to the second, as its
// month/day/year hour:minute:second text reads back. A last scan in the future gives a negative
// age; one that does not fit 32 bits is an overflow.
std::int32_t AgeOfScan(run::RunContext& ctx, double lastScan) {
    const std::int64_t age =
        common::SecondsOf(ctx.platform.clock().GetLocalTime()) - common::SecondsOfOleDate(lastScan);
    if (age < std::numeric_limits<std::int32_t>::min() ||
        age > std::numeric_limits<std::int32_t>::max()) {
        common::Raise(common::kOverflow);
    }
    return static_cast<std::int32_t>(age);
}

}  // namespace

int CallRBTAssess(run::RunContext& ctx) {
    try {
        const std::string lastScan = common::Trim(
            IniGetValue(ctx, "ScandateTime", "LastScandate", ctx.installPath + kScanDateFile));
        double lastScanDate = 0;
        if (lastScan.empty() || ctx.platform.clock().VarDateFromStr(lastScan, &lastScanDate) < 0) {
            Log(ctx, "INFO ", "Last Assess Scan date is not in Valid Date Format. - " + lastScan);
            return 0;
        }
        Log(ctx, "INFO ", "Last Assess Scan date : " + lastScan);

        const std::string pending = registry::fncRebootPending(ctx) ? "1" : "0";
        const std::string recorded =
            IniGetValue(ctx, "RebootStatus", "RBTPENDinRegistry", ctx.latestPromptFile);
        if (common::LeadingNumber(pending) == common::LeadingNumber(recorded)) {
            IniSetValue(ctx, "RebootStatus", "RBTPENDinRegistry", pending, ctx.rebootIniPath);
        }

        if (uptime::FncSysUptime(ctx)) {
            // The machine has started after the last scan.
            const bool due = ctx.upTimeSeconds < AgeOfScan(ctx, lastScanDate);
            Log(ctx, "INFO",
                "Comparing Last Scandate with SystemUpTime.|  | SystemUpTime in Seconds  : " +
                    std::to_string(ctx.upTimeSeconds) + " | Last Scandate in Seconds : " +
                    std::to_string(AgeOfScan(ctx, lastScanDate)));
            if (due) {
                ReadRbtINI(ctx);
                const std::string recordedNow =
                    IniGetValue(ctx, "RebootStatus", "RBTPENDinRegistry", ctx.latestPromptFile);
                Log(ctx, "INFO",
                    "StrRbtPendingInRegistry : " + recordedNow + " | RebootPendingInRegistry : " +
                        pending + " | StrRBTINIPatchAssess : " + ctx.patchAssessRbt);
                // The scheduler restarted the machine itself, the reboot pending at the last
                // check has happened, or no check is recorded at all.
                const bool reason = common::ReadsAsNumberOne(ctx.patchAssessRbt) ||
                                    (pending == "0" && recordedNow == "1") || recordedNow.empty();
                if (reason) {
                    const std::string started =
                        common::Trim(IniGetValue(ctx, "Manual", "RBTAssess", ctx.latestPromptFile));
                    if (started == "1") {
                        Log(ctx, "INFO", "Already executed on the System, sent assessment/failure");
                    } else {
                        Log(ctx, "INFO",
                            "SystemUpTime less than LastScandateTime, Performing Assessment");
                        // Written before the start, so that a later run does not start it again.
                        IniSetValue(ctx, "Manual", "RBTAssess", "1", ctx.rebootIniPath);
                        const std::string patchAgent = ctx.installPath + kPatchAgent;
                        if (ctx.fileSystem.FileExists(patchAgent)) {
                            std::string errorNumber;
                            std::string errorDescription;
                            ctx.assessmentStartedAt = ctx.platform.clock().GetLocalTime();
                            ShellAndWait(ctx, patchAgent, "", errorNumber, errorDescription);
                        } else {
                            Log(ctx, "INFO", "File Not Exist on Path - " + patchAgent);
                        }
                    }
                }
            } else {
                Log(ctx, "INFO",
                    "SystemUpTime more than LastScandateTime, assessment not required.");
                IniSetValue(ctx, "Manual", "RBTAssess", "0", ctx.rebootIniPath);
            }
        }

        IniSetValue(ctx, "RebootStatus", "RBTPENDinRegistry", pending, ctx.rebootIniPath);
        Log(ctx, "INFO", "Writing on INI Reboot Pending IN Registry : " + pending);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModReboot", "CallRBTAssess", "ERROR", "CallRBTAssess", failure.number,
                     failure.description, failure.lastError);
    }
    return 0;
}

}  // namespace reboot
