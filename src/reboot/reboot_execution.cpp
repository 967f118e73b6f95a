#include "reboot/reboot_execution.h"

#include <optional>

#include "common/failure.h"
#include "ending/metrics.h"
#include "log/activity_log.h"
#include "platform/error_codes.h"
#include "platform/handle_owner.h"
#include "reboot/reboot_state.h"
#include "reboot/restart_guard.h"
#include "run/end_of_run.h"
#include "run/failures.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kEventLog = activity_log::kEventSource;
constexpr const char* kRebootMessage = "REBOOT BY MSP@VORN";
constexpr const char* kShutdownComment =
    "Microsoft Critical Updates have been Installed. Rebooting Computer.";

std::string LastError(run::RunContext& ctx) {
    return std::to_string(ctx.platform.system().GetLastError());
}

void LogTrap(run::RunContext& ctx, const char* form, const char* procedure, const char* message,
             const run::Trapped& failure) {
    WriteLogLine(ctx, form, procedure, "ERROR", message, failure.number, failure.description,
                 failure.lastError);
}

}  // namespace

void subRegisterRebootEvent(run::RunContext& ctx, const std::string& message, std::uint16_t type) {
    auto& power = ctx.platform.power();
    try {
        const platform::OwnedEventSource log(power, power.RegisterEventSourceA(nullptr, kEventLog));
        if (!power.ReportEventA(log.get(), type, 0, 0, {message})) {
            // The number and description of the failure in hand: none, as nothing was raised.
            WriteLogLine(
                ctx, "modReboot", "subRegisterRebootEvent", "ERROR",
                LastError(ctx) + " 0  Reboot or Shutdown not logged to EventViewer -- " + message);
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        LogTrap(ctx, "ModReboot", "subRegisterRebootEvent", "In Function subRegisterRebootEvent.",
                failure);
    }
}

bool InitiateShutdownMachine(run::RunContext& ctx, const std::string& /*machineName*/,
                             bool forceAppsClosed, bool rebootAfterShutdown, bool proceed,
                             platform::DWORD timeoutSeconds, const std::string& comment,
                             bool* accepted, bool* unanswered) {
    if (accepted) *accepted = false;
    if (unanswered) *unanswered = false;
    if (!proceed) return false;
    auto& power = ctx.platform.power();
    auto failed = [&ctx](const char* what) {
        WriteLogLine(ctx, "ModReboot", "InitiateShutdownMachine", "ERROR", what, LastError(ctx));
        return false;
    };
    try {
        platform::OwnedHandle token(ctx.platform.processes());
        if (!power.OpenCurrentProcessToken(platform::kTokenAdjustPrivileges | platform::kTokenQuery,
                                           token.put())) {
            return failed("OpenProcessToken Error.");
        }
        platform::Luid shutdown;
        if (!power.LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown)) {
            return failed("LookupPrivilegeValue Error.");
        }
        platform::TokenPrivileges2 privileges;
        privileges.privilegeCount = 1;
        privileges.privileges[0] = {shutdown, platform::kSePrivilegeEnabled};
        platform::TokenPrivileges2 previous;
        platform::DWORD length = 0;
        // Accepted without asking whether the privilege was granted: the request says so.
        if (!power.AdjustTokenPrivileges(token.get(), false, &privileges,
                                         platform::kTokenPrivileges2Size, &previous, &length)) {
            return failed("AdjustTokenPrivileges Error.");
        }
        if (!power.InitiateSystemShutdownExA(nullptr, comment.c_str(), timeoutSeconds,
                                             forceAppsClosed, rebootAfterShutdown,
                                             platform::kShutdownReasonPlannedHotfix)) {
            // A refused request is logged with the system's reason, so that a machine that did
            // not restart can be told from one that did.
            const platform::DWORD error = ctx.platform.system().GetLastError();
            if (error == static_cast<platform::DWORD>(platform::kErrorTimeout)) {
                // Given up at its bound, not refused: the service may still carry it out, so the
                // marks stay as for an accepted request.
                if (unanswered) *unanswered = true;
                WriteLogLine(ctx, "ModReboot", "InitiateShutdownMachine", "ERROR",
                             "InitiateSystemShutdown not answered within " +
                                 std::to_string(platform::kPowerCallMs) + " ms.",
                             std::to_string(error), run::SystemMessage(ctx, error));
                return false;
            }
            const bool inProgress =
                error == static_cast<platform::DWORD>(platform::kErrorShutdownInProgress);
            WriteLogLine(
                ctx, "ModReboot", "InitiateShutdownMachine", inProgress ? "INFO" : "ERROR",
                inProgress ? "Shutdown already in progress." : "InitiateSystemShutdown Error.",
                std::to_string(error), run::SystemMessage(ctx, error));
            if (!inProgress) return false;
        }
        if (accepted) *accepted = true;
        privileges.privileges[0].attributes = 0;
        length = platform::kTokenPrivileges2Size;
        return power.AdjustTokenPrivileges(token.get(), false, &privileges,
                                           platform::kTokenPrivileges2Size, &previous, &length);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        LogTrap(ctx, "ModReboot", "InitiateShutdownMachine", "In InitiateShutdownMachine.",
                failure);
        return false;
    }
}

void RebootSystem(run::RunContext& ctx) {
    auto info = [&ctx](const char* message) {
        WriteLogLine(ctx, "ModReboot", "RebootSystem", "INFO", message);
    };
    bool accepted = false;
    bool unanswered = false;
    std::optional<SavedRebootState> saved;
    try {
        info("Rebooting Machine.");
        info("Initiating System Shutdown.");
        subRegisterRebootEvent(ctx, kRebootMessage);
        // The mark and the cleared entries are written before the request: once it is accepted
        // the process may be ended at any moment. They are taken back when no restart comes.
        saved = SaveRebootState(ctx);
        RecordRestartRequest(ctx);
        IniSetValue(ctx, "PatchAssess", "RBT", "1", ctx.rebootIniPath);
        FlushRBTINI(ctx);
        InitiateShutdownMachine(ctx, ".", true, true, true, 0, kShutdownComment, &accepted,
                                &unanswered);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        LogTrap(ctx, "ModReboot", "RebootSystem", "In RebootSystem.", failure);
    }
    if (!accepted && !unanswered) {
        if (saved) RestoreRebootState(ctx, *saved, "RebootSystem");
        info("Restart refused, reboot state file left as it was.");
    }
    const run::RunEnd end = accepted     ? run::RunEnd::RebootRequested
                            : unanswered ? run::RunEnd::RestartNotAnswered
                                         : run::RunEnd::RestartRefused;
    run::WriteRunMetrics(ctx, end);
    info("Application stopped.");
    run::EndProcess(end);
}

}  // namespace reboot
