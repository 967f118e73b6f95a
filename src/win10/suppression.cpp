#include "win10/suppression.h"

#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "registry/registry_access.h"
#include "run/failures.h"
#include "web/rest_posts.h"
#include "win10/json_records.h"
#include "win10/reboot_task.h"
#include "win10/task_folder.h"

namespace win10 {

using activity_log::WriteLogLine;

void subSuppressRebootNotification(run::RunContext& ctx, bool suppress) {
    constexpr const char* kModule = "subSuppressRebootNotification";
    try {
        if (suppress) {
            WriteLogLine(ctx, "ModComman", kModule, "INFO",
                         "Intitiated for reboot suppression ... ");
            registry::SetRegDwordValue64(ctx, kPolicyValue, 1, kPolicyKey);
        } else {
            WriteLogLine(ctx, "ModComman", kModule, "INFO",
                         "Intitiated to revoke reboot suppression ... ");
            registry::SetRegDwordValue64(ctx, kPolicyValue, 0, kPolicyKey);
        }
        if (ctx.regValueChanged) ctx.auditJson = AuditRecord(ctx.regId, suppress, ctx.runStartTime);
        subRenameTaskFolderForRebootJob(ctx, suppress);
        subDisableRebootNotification(ctx, suppress);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", kModule, "ERROR", failure.number, failure.description,
                     failure.lastError);
    }
}

void Windows10Step(run::RunContext& ctx) {
    if (!common::Contains(common::Upper(ctx.osProductName), "WINDOWS 10") ||
        ctx.win10OptIn == "-1") {
        return;
    }
    const auto suppress = common::ToBoolean(ctx.win10OptIn);
    if (!suppress) {
        WriteLogLine(ctx, "modMain", "Main", "INFO",
                     "Windows 10 reboot settings left unchanged, Win10Optin not readable : ",
                     ctx.win10OptIn);
        return;
    }
    subSuppressRebootNotification(ctx, *suppress);
    web::fncWin10AudWebPost(ctx);
    web::fncWin10ErrorWebPost(ctx);
}

}  // namespace win10
