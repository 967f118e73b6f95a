#include "reboot/prompt_flow.h"

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "reboot/prompt_files.h"
#include "reboot/reboot_execution.h"
#include "reboot/reboot_state.h"
#include "reboot/restart_guard.h"
#include "reboot/run_and_wait.h"
#include "registry/os_facts.h"
#include "run/failures.h"
#include "session/accounts.h"
#include "session/user_launch.h"
#include "web/alert_suspension.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kStatus = "RebootStatus";

void MainInfo(run::RunContext& ctx, const char* message) {
    WriteLogLine(ctx, "ModMain", "Main", "INFO", message);
}

void FlowLog(run::RunContext& ctx, const char* type, const char* message) {
    WriteLogLine(ctx, "ModReboot", "CallRebootUI", type, message);
}

// Brings the reboot state file up to date with the operating system's reboot-required flag.
void RecordPendingReboot(run::RunContext& ctx) {
    if (registry::fncRebootPending(ctx)) {
        MainInfo(ctx, "Reboot key found. Reboot is required for the System.");
        UpdateRestartGuard(ctx, true);
        ctx.pendingWpm = IniGetValue(ctx, kStatus, "PendingWPM", ctx.latestPromptFile);
        // A reboot recorded by an earlier run keeps its first-seen time.
        if (!common::ReadsAsNumberOne(ctx.pendingWpm)) {
            FlushWRBTINI(ctx);
            IniSetValue(ctx, kStatus, "PendingWPM", "1", ctx.rebootIniPath);
            IniSetValue(ctx, kStatus, "Pending", "1", ctx.rebootIniPath);
            IniSetValue(ctx, kStatus, "WPMRbtRequiredON",
                        common::MdyHmsText(ctx.platform.clock().GetLocalTime()), ctx.rebootIniPath);
        }
        return;
    }
    MainInfo(ctx, "Reboot key not found . ");
    UpdateRestartGuard(ctx, false);
    ctx.pendingWtpm = IniGetValue(ctx, kStatus, "PendingWTPM", ctx.latestPromptFile);
    if (ctx.pendingWtpm != "1") FlushWTPMRBTINI(ctx);
    FlushWRBTINI(ctx);
    MainInfo(ctx, "Reboot is not required by windows patch agent");
}

}  // namespace

int CallRebootUI(run::RunContext& ctx) {
    try {
        RecordPendingReboot(ctx);

        const std::string prompt = ctx.installPath + "Bellhop.exe";
        if (ctx.fileSystem.FileExists(prompt)) {
            FlowLog(ctx, "INFO ", "Run Bellhop.exe in User Account");
            if (!session::fncExecuteInUserAccount(ctx, prompt, " RBT")) {
                // Nobody is logged on: the prompt program runs in the system account.
                ctx.promptAccount = session::fncGetLoggedOnUserName(ctx);
                std::string errorNumber;
                std::string errorDescription;
                ShellAndWait(ctx, prompt, " AUTOSRBT", errorNumber, errorDescription);
            }
            ctx.latestPromptFile = ReadLatestBellhopFile(ctx, ctx.dataFolder, "Bellhop_");
        } else {
            FlowLog(ctx, "INFO ", "Bellhop.exe File not found. ");
            FlowLog(ctx, "INFO ", "Unable to perform reboot activity");
        }

        if (common::Trim(IniGetValue(ctx, kStatus, "TimerPM", ctx.latestPromptFile)) != "1")
            return 0;
        // The answer is "restart now"; a restart the flag keeps surviving is not asked for again.
        RefuseRestartWhileGuarded(ctx);
        FlowLog(ctx, "INFO ", "Rebooting system through Bellhop in SYSTEM Account");
        if (ctx.agentType == "TRLA") {
            if (web::fncRebootSupressionWebPost(ctx, "2")) {
                FlowLog(ctx, "INFO", "Sent Webpost for Device and Service down Alert Suspension.");
                RebootSystem(ctx);
            }
            FlowLog(ctx, "INFO",
                    "Failed to send Webpost for Device and Service Down Alert Suspension ");
        }
        // The machine restarts whether or not the alerts were suspended.
        RebootSystem(ctx);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModReboot", "CallRebootUI", "ERROR", "CallRebootUI.", failure.number,
                     failure.description, failure.lastError);
    }
    return 0;
}

}  // namespace reboot
