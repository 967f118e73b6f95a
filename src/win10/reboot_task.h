// The update orchestrator's "Reboot" task: looked up, and disabled or enabled again, through the
// Task Scheduler. Every failure adds an error record to errorLogJson.
#pragma once

#include <memory>
#include <string>

#include "platform/tasks.h"
#include "run/run_context.h"

namespace win10 {

inline constexpr const char* kRebootTaskFolder = "\\Microsoft\\Windows\\UpdateOrchestrator";
inline constexpr const char* kRebootTaskName = "Reboot";

// The registered task, or nothing when the lookup failed (logged, and a "RebootGetTask" record
// added).
std::unique_ptr<platform::RegisteredTask> GetTask(run::RunContext& ctx,
                                                  const std::string& folderPath,
                                                  const std::string& taskName);

// True disables the task, false enables it; only state 1 counts as disabled. A failure is
// logged and adds a "RebootTask" record; the task is then left as it was.
void subDisableRebootNotification(run::RunContext& ctx, bool disable);

// The name logged for a task state: "TASK_STATE_UNKNOWN" ... "TASK_STATE_RUNNING", or empty.
std::string TaskStateName(platform::LONG state);

}  // namespace win10
