#include "session/accounts.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"

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
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "modCommon", "GetCurrentUserToken", "ERROR",
                     "Failed to Get User Token, Err No :" + failure.number +
                         " Description :" + failure.description);
    }
    return shellProcessId;
}

namespace {

// Whether name could be an image's file name: not blank, none of the characters Windows refuses
// in file names, and not a bare number (what a handle's value gives).
bool CanBeFileName(const std::string& name) {
    const std::string trimmed = common::Trim(name);
    if (trimmed.empty()) return false;
    bool digitsOnly = true;
    for (const char c : trimmed) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
            return false;
        }
        digitsOnly = digitsOnly && c >= '0' && c <= '9';
    }
    return !digitsOnly;
}

}  // namespace

std::string fncTerminateProcessByName(run::RunContext& ctx, const std::string& name) {
    constexpr platform::DWORD kPathBufferSize = 260;
    auto& processes = ctx.platform.processes();
    std::string result;
    // A name no image file can have (a handle's number, as the prompt's wait passes) matches no
    // process: nothing is opened at all.
    if (!CanBeFileName(name)) return result;
    std::vector<platform::ProcessEntry> entries;
    try {
        processes.SnapshotProcesses(&entries);
    } catch (const std::exception&) {
        return result;
    }
    const std::string wanted = common::Lower(name);
    for (const auto& entry : entries) {
        // Each failing step is passed over and the walk goes on. The image name needs only the
        // right to query; the right to end is asked for only from a process whose name matches,
        // so that no other process (lsass among them) is ever opened for more.
        platform::OwnedHandle query(
            processes, processes.OpenProcess(platform::kProcessQueryLimitedInformation, false,
                                             entry.processId));
        if (!query) continue;
        std::vector<char> buffer(kPathBufferSize + 1, '\0');
        platform::DWORD count = kPathBufferSize;
        const bool named = processes.QueryFullProcessImageNameA(query.get(), buffer.data(), &count);
        query.reset();  // before any other process is opened
        if (!named || count == 0) continue;
        const std::string path(buffer.data(), std::min<platform::DWORD>(count, kPathBufferSize));
        const auto slash = path.find_last_of('\\');
        const std::string fileName = common::Lower(common::Trim(
            common::RemoveAll(slash == std::string::npos ? path : path.substr(slash + 1), '\0')));
        if (fileName != wanted) continue;
        const platform::OwnedHandle handle(
            processes, processes.OpenProcess(platform::kProcessTerminate, false, entry.processId));
        if (!handle) continue;
        result = processes.TerminateProcess(handle.get(), 0) ? path : std::string();
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
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", "fncGetLoggedOnUserName", "ERROR", failure.number,
                     failure.description, failure.lastError);
        return {};
    }
}

std::string ConsoleUserName(run::RunContext& ctx) {
    auto& session = ctx.platform.session();
    const platform::DWORD sessionId = session.WTSGetActiveConsoleSessionId();
    std::string user;
    if (sessionId == 0xFFFFFFFFu || !session.WTSQuerySessionUserName(sessionId, &user)) return {};
    return user;
}

}  // namespace session
