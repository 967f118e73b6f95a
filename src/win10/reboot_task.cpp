#include "win10/reboot_task.h"

#include "common/failure.h"
#include "log/activity_log.h"
#include "platform/com_types.h"
#include "run/failures.h"
#include "win10/json_records.h"

namespace win10 {

using activity_log::WriteLogLine;
using platform::LONG;

namespace {

constexpr const char* kForm = "ModComman";
// A failed Task Scheduler call as the failure a trap reports: the HRESULT in signed decimal and
// the system's text for it.
void Check(run::RunContext& ctx, LONG result) {
    if (result < 0) throw run::ComFailure(ctx, result);
}

// The runtime's failure for a call on a task that is not there.
platform::RegisteredTask& Use(std::unique_ptr<platform::RegisteredTask>& task) {
    if (!task) throw run::ObjectNotSet();
    return *task;
}

LONG State(run::RunContext& ctx, std::unique_ptr<platform::RegisteredTask>& task) {
    LONG state = 0;
    Check(ctx, Use(task).get_State(&state));
    return state;
}

std::string Name(run::RunContext& ctx, std::unique_ptr<platform::RegisteredTask>& task) {
    std::string name;
    Check(ctx, Use(task).get_Name(&name));
    return name;
}

void Info(run::RunContext& ctx, const char* module, const std::string& message) {
    WriteLogLine(ctx, kForm, module, "INFO", message);
}

}  // namespace

std::string TaskStateName(LONG state) {
    switch (state) {
        case platform::kTaskStateUnknown:
            return "TASK_STATE_UNKNOWN";
        case platform::kTaskStateDisabled:
            return "TASK_STATE_DISABLED";
        case platform::kTaskStateQueued:
            return "TASK_STATE_QUEUED";
        case platform::kTaskStateReady:
            return "TASK_STATE_READY";
        case platform::kTaskStateRunning:
            return "TASK_STATE_RUNNING";
        default:
            return {};
    }
}

std::unique_ptr<platform::RegisteredTask> GetTask(run::RunContext& ctx,
                                                  const std::string& folderPath,
                                                  const std::string& taskName) {
    try {
        std::unique_ptr<platform::RegisteredTask> task;
        const LONG result = ctx.platform.tasks().GetTask(folderPath, taskName, &task);
        Check(ctx, result);
        if (!task) throw run::ComFailure(ctx, platform::kEFail);
        return task;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        const std::string number = failure.number;
        const std::string description = failure.description;
        WriteLogLine(ctx, kForm, "GetTask", "ERROR", number, description, failure.lastError);
        ctx.errorLogJson += ErrorRecord(ctx.regId, "RebootGetTask",
                                        "Err - " + number + " - " + description, ctx.runStartTime);
        return nullptr;
    }
}

void subDisableRebootNotification(run::RunContext& ctx, bool disable) {
    constexpr const char* kModule = "subDisableRebootNotification";
    try {
        Info(ctx, kModule, "Check for Windows 10 Reboot task");
        auto task = GetTask(ctx, kRebootTaskFolder, kRebootTaskName);
        Info(ctx, kModule, "Current Reboot Task state : " + TaskStateName(State(ctx, task)));
        const bool disabled = State(ctx, task) == platform::kTaskStateDisabled;
        if (disable) {
            if (disabled) {
                Info(ctx, kModule, Name(ctx, task) + " task already disabled .");
            } else {
                Check(ctx, Use(task).put_Enabled(false));
                Info(ctx, kModule, Name(ctx, task) + " task disable successfully.");
            }
        } else {
            if (disabled) {
                Check(ctx, Use(task).put_Enabled(true));
                Info(ctx, kModule, Name(ctx, task) + " task enabled successfully.");
            } else {
                Info(ctx, kModule, Name(ctx, task) + " task already enabled .");
            }
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        const std::string number = failure.number;
        const std::string description = failure.description;
        WriteLogLine(ctx, kForm, kModule, "ERROR", number, description, failure.lastError);
        ctx.errorLogJson += ErrorRecord(ctx.regId, "RebootTask",
                                        std::string(kModule) + " - " + number + " - " + description,
                                        ctx.runStartTime);
    }
}

}  // namespace win10
