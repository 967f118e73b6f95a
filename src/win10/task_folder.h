// The reboot task's definition file in the system's task store: set aside as "Reboot.bak" with a
// folder "Reboot" in its place while reboots are suppressed, and put back when that is revoked.
#pragma once

#include <string>

#include "run/run_context.h"

namespace win10 {

// The task store folder below the drive:
// "\Windows\system32\Tasks\Microsoft\Windows\UpdateOrchestrator\".
inline constexpr const char* kTaskStoreFolder =
    "\\Windows\\system32\\Tasks\\Microsoft\\Windows\\UpdateOrchestrator\\";

void subRenameTaskFolderForRebootJob(run::RunContext& ctx, bool suppress);
// The system directory with a trailing "\"; empty after a trapped failure.
std::string fncGetSysDir(run::RunContext& ctx);
// True for a 32-bit process on 64-bit Windows; false when the question cannot be answered.
bool fncIs64Bit(run::RunContext& ctx);

}  // namespace win10
