#include "reboot/run_and_wait.h"

#include <vector>

#include "common/failure.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

constexpr platform::DWORD kUnlistedAttributes = platform::kFileAttributeHidden |
                                                platform::kFileAttributeSystem |
                                                platform::kFileAttributeDirectory;

// The directory listing of exactly that path, as the runtime's file lookup makes it: normal,
// read-only and archive files are found; hidden and system files and folders are not. A path
// the listing cannot take at all is a failure of its own.
bool ListsAsPlainFile(run::RunContext& ctx, const std::string& path) {
    if (path.empty()) return false;
    std::vector<platform::FindData> found;
    if (!ctx.platform.files().FindFiles(path.c_str(), &found)) {
        const platform::DWORD error = ctx.platform.system().GetLastError();
        if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound ||
            error == platform::kErrorNoMoreFiles) {
            return false;
        }
        common::Raise(common::kBadFileName);
    }
    for (const auto& entry : found) {
        if (!(entry.attributes & kUnlistedAttributes)) return true;
    }
    return false;
}

// The program runs as the system account; one ERROR line names the path that would let
// another account choose what it runs, and why. When it may run, *hold keeps it from being
// changed, renamed or deleted until it has been started.
bool SafeToStartAsSystem(run::RunContext& ctx, const std::string& programPath,
                         run::FileSystem::HeldFile* hold) {
    const auto exposure = ctx.fileSystem.ExposedToOtherAccounts(programPath, hold);
    if (!exposure) return true;
    WriteLogLine(ctx, "ModReboot", "ShellAndWait", "ERROR",
                 "Program not started as SYSTEM, it or its folder is not protected", exposure->path,
                 exposure->why, exposure->detail);
    return false;
}

}  // namespace

bool ShellAndWait(run::RunContext& ctx, const std::string& programPath,
                  const std::string& parameters, std::string& errorNumber,
                  std::string& errorDescription) {
    auto& processes = ctx.platform.processes();
    // Closed on every path, the trapped one included.
    platform::OwnedHandle process(processes);
    try {
        errorNumber.clear();
        errorDescription.clear();
        platform::ShellExecuteInfo request;
        // In session 0 nobody can answer a dialog: no error UI, no download-zone prompt, and the
        // call returns only once the start is done.
        request.fMask = platform::kSeeMaskNoCloseProcess | platform::kSeeMaskNoAsync |
                        platform::kSeeMaskFlagNoUi | platform::kSeeMaskNoZoneChecks;
        request.hwnd = 0;
        request.lpVerb = "Open";
        request.lpFile = programPath;
        request.lpParameters = parameters;
        request.nShow = platform::kSwShowNormal;
        run::FileSystem::HeldFile hold(processes);
        if (ListsAsPlainFile(ctx, programPath) && SafeToStartAsSystem(ctx, programPath, &hold)) {
            processes.ShellExecuteExA(&request);  // judged by the wait below
            process.reset(request.hProcess);
        }
        // Started (or not): the file is left to others again before the wait.
        hold.reset();
        // With nothing started the handle is 0 and the wait fails at once.
        const platform::DWORD wait =
            processes.WaitForSingleObject(process.get(), platform::kInfinite);
        bool result = false;
        if (wait == platform::kWaitObject0) {
            result = true;
            WriteLogLine(ctx, "ModReboot", "ShellAndWait", "INFO", "Exe Executed SuccessFully");
        } else {
            errorNumber = std::to_string(static_cast<platform::LONG>(wait));
            WriteLogLine(ctx, "ModReboot", "ShellAndWait", "EREOR",
                         "Exe not able execute SuccessFully", errorNumber);
        }
        return result;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        errorNumber = failure.number;
        errorDescription = failure.description;
        WriteLogLine(ctx, "ModReboot", "ShellAndWait", "EREOR", "Exe not able execute SuccessFully",
                     errorNumber);
        return false;
    }
}

}  // namespace reboot
