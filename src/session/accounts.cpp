#include "session/accounts.h"

#include <algorithm>
#include <vector>

#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "run/guard.h"

namespace session {

using activity_log::WriteLogLine;

platform::DWORD GetCurrentUserToken(run::RunContext& ctx) {
    platform::DWORD shellProcessId = 0;
    try {
        std::vector<platform::ProcessEntry> processes;
        ctx.platform.processes().SnapshotProcesses(&processes);
        for (const auto& process : processes) {
            if (common::Upper(process.exeFile) != "EXPLORER.EXE") continue;
            WriteLogLine(ctx, "modCommon", "GetCurrentUserToken", "INFO", "EXPLORER.EXE Found");
            shellProcessId = process.processId;
        }
    } catch (const std::exception& e) {
        WriteLogLine(ctx, "modCommon", "GetCurrentUserToken", "ERROR",
                     "Failed to Get User Token, Err No :" + std::to_string(common::FailureNumber(e)) +
                         " Description :" + common::FailureDescription(e));
    }
    return shellProcessId;
}

std::string fncTerminateProcessByName(run::RunContext& ctx, const std::string& name) {
    constexpr platform::DWORD kAllAccess = 0x1F0FFF;
    constexpr platform::DWORD kPathBufferSize = 260;
    auto& processes = ctx.platform.processes();
    std::string result;
    std::vector<platform::ProcessEntry> entries;
    try {
        processes.SnapshotProcesses(&entries);
    } catch (const std::exception&) {
        return result;
    }
    const std::string wanted = common::Lower(name);
    for (const auto& entry : entries) {
        // Each failing step is passed over and the walk goes on.
        const platform::HANDLE handle = processes.OpenProcess(kAllAccess, false, entry.processId);
        platform::DWORD needed = 0;
        if (handle && processes.EnumProcessModules(handle, &needed)) {
            std::vector<char> buffer(kPathBufferSize, ' ');
            const platform::DWORD count =
                processes.GetModuleFileNameExA(handle, buffer.data(), kPathBufferSize);
            if (count > 0) {
                const std::string path(buffer.data(), count);
                const auto slash = path.find_last_of('\\');
                const std::string fileName = common::Lower(common::Trim(
                    common::RemoveAll(slash == std::string::npos ? path : path.substr(slash + 1), '\0')));
                if (fileName == wanted) {
                    result = processes.TerminateProcess(handle, 0) ? path : std::string();
                }
            }
        }
        if (handle) processes.CloseHandle(handle);
    }
    return result;
}

std::string fncGetLoggedOnUserName(run::RunContext& ctx) {
    try {
        constexpr platform::DWORD kBufferSize = 100;
        std::vector<char> buffer(kBufferSize, '\0');
        platform::DWORD size = kBufferSize;
        ctx.platform.session().GetUserNameA(buffer.data(), &size);
        // A failed call leaves the buffer all NUL: the name is then empty.
        return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
    } catch (const std::exception& e) {
        WriteLogLine(ctx, "ModComman", "fncGetLoggedOnUserName", "ERROR",
                     std::to_string(common::FailureNumber(e)), common::FailureDescription(e),
                     run::TrapLastError(ctx, e));
        return {};
    }
}

}  // namespace session
