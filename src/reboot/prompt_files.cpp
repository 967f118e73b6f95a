#include "reboot/prompt_files.h"

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "reboot/reboot_state.h"
#include "run/failures.h"
#include "session/accounts.h"

namespace reboot {

using activity_log::WriteLogLine;

std::string ReadLatestBellhopFile(run::RunContext& ctx, const std::string& folder,
                                  const std::string& prefix) {
    std::string result;
    try {
        auto& fileSystem = ctx.fileSystem;
        const std::string userName = session::fncGetLoggedOnUserName(ctx);
        if (prefix == "Bellhop_") ctx.rebootIniPath = folder + prefix + userName + ".ini";

        std::string candidate = prefix + userName + ".ini";
        std::string newestStamp = "0";
        const std::string upperPrefix = common::Upper(prefix);
        for (const auto& file : fileSystem.GetFolderFiles(folder)) {
            const std::string upperName = common::Upper(file.name);
            if (!common::EndsWith(upperName, ".INI") || !common::Contains(upperName, upperPrefix)) {
                continue;
            }
            const std::string stamp = common::StampText(file.dateLastModified);
            if (stamp > newestStamp) {
                newestStamp = stamp;
                candidate = file.name;
            }
        }
        result = folder + candidate;

        if (!fileSystem.FileExists(ctx.rebootIniPath)) {
            IniSetValue(ctx, "RebootStatus", "TimerPM", "", ctx.rebootIniPath);
        }
        // The reboot state file is itself a result file; when it is the newest there is nothing
        // to copy, and a copy onto itself would only be refused.
        if (fileSystem.FileExists(result) &&
            common::Upper(result) != common::Upper(ctx.rebootIniPath) &&
            !WriteRefusedAtReparsePoint(ctx, ctx.rebootIniPath, "ReadLatestBellhopFile")) {
            fileSystem.CopyFile(result, ctx.rebootIniPath, true);
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", "ReadLatestBellhopFile", "ERROR", failure.number,
                     failure.description, failure.lastError);
    }
    return result;
}

}  // namespace reboot
