#include "run/guard.h"

#include <vector>

#include "common/text.h"
#include "log/activity_log.h"
#include "run/end_of_run.h"

namespace run {

using activity_log::WriteLogLine;

common::Failure SystemFailure(RunContext& ctx) {
    auto& system = ctx.platform.system();
    const platform::DWORD code = system.GetLastError();
    char buffer[512] = {};
    const platform::DWORD count = system.FormatMessageA(code, buffer, sizeof buffer);
    std::string text(buffer, count);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return common::Failure(static_cast<long>(code), text, {}, code);
}

std::string TrapLastError(RunContext& ctx, const std::exception& e) {
    if (const auto* failure = dynamic_cast<const common::Failure*>(&e);
        failure && failure->systemError()) {
        return std::to_string(failure->systemError());
    }
    return std::to_string(ctx.platform.system().GetLastError());
}

bool AlreadyRunning(RunContext& ctx) {
    constexpr const char* kStars = "*************************";
    try {
        std::vector<platform::ProcessEntry> processes;
        if (!ctx.platform.processes().SnapshotProcesses(&processes)) throw SystemFailure(ctx);
        const std::string ownName = common::Upper(ctx.platform.self().ExeName());
        int count = 0;
        for (const auto& process : processes) {
            if (common::Contains(common::Upper(common::Trim(process.exeFile)), ownName)) ++count;
        }
        if (count < 2) return false;
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", kStars);
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", "Previous Instance Running");
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", kStars);
        return true;
    } catch (const std::exception& e) {
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", kStars);
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO",
                     "Failed to Check Previous Instance", std::to_string(common::FailureNumber(e)),
                     common::FailureDescription(e));
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", kStars);
        return false;
    }
}

void CloseAll(RunContext& ctx) {
    try {
        WriteLogLine(ctx, "ModComman", "CloseAll", "INFO", "END");
    } catch (...) {
    }
    EndProcess(RunEnd::Normal);
}

}  // namespace run
