#include "ending/guard.h"

#include <vector>

#include "common/text.h"
#include "ending/metrics.h"
#include "log/activity_log.h"
#include "run/end_of_run.h"
#include "run/failures.h"

namespace run {

using activity_log::WriteLogLine;

bool AlreadyRunning(RunContext& ctx) {
    constexpr const char* kStars = "*************************";
    try {
        std::vector<platform::ProcessEntry> processes;
        if (!ctx.platform.processes().SnapshotProcesses(&processes)) throw SystemFailure(ctx);
        const std::string ownName = common::Upper(ctx.platform.self().ExeName());
        // Without its own name the check cannot be made: an empty name is part of every name,
        // and every run would count as a second copy.
        if (ownName.empty()) throw SystemFailure(ctx);
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
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", kStars);
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO",
                     "Failed to Check Previous Instance", failure.number, failure.description);
        WriteLogLine(ctx, "ModComman", "AlreadyRunning", "INFO", kStars);
        return false;
    }
}

void CloseAll(RunContext& ctx, RunEnd end) {
    WriteRunMetrics(ctx, end);
    try {
        WriteLogLine(ctx, "ModComman", "CloseAll", "INFO", "END");
    } catch (...) {
    }
    EndProcess(end);
}

}  // namespace run
