#include "ending/metrics.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>

#include "common/dates.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "platform/files.h"
#include "reboot/reboot_state.h"
#include "reboot/restart_guard.h"

namespace run {

namespace {

struct Family {
    const char* name;
    const char* help;
};

// In the order of the file. Times are Unix seconds, durations seconds.
constexpr std::array<Family, 10> kFamilies = {{
    {"rebootscheduler_last_run_timestamp_seconds", "When the last run of the mode started."},
    {"rebootscheduler_last_run_exit_code", "The exit code of the last run of the mode."},
    {"rebootscheduler_reboot_required",
     "Whether the Windows Update reboot-required flag was set (1) or clear (0) when last read."},
    {"rebootscheduler_reboot_pending_since_timestamp_seconds",
     "When the pending reboot was first seen (0: none recorded)."},
    {"rebootscheduler_restart_requests",
     "Restarts asked for while the reboot-required flag stayed set (the restart-loop guard)."},
    {"rebootscheduler_restarts_survived",
     "Of those restarts, how many the reboot-required flag survived."},
    {"rebootscheduler_restart_guard_holding",
     "Whether the restart-loop guard held back the last restart (1) or not (0)."},
    {"rebootscheduler_restart_refused",
     "Whether Windows refused the last restart request (1) or accepted it (0)."},
    {"rebootscheduler_uptime_seconds", "The system up-time the last run read."},
    {"rebootscheduler_last_assessment_start_timestamp_seconds",
     "When the patch program was last started to assess the machine."},
}};

bool Known(const std::string& name) {
    for (const Family& family : kFamilies) {
        if (name == family.name) return true;
    }
    return false;
}

// Seconds from day zero of the calendar module to the Unix epoch.
const std::int64_t kUnixEpoch = common::DaysFromCivil(1970, 1, 1) * 86400;

// Local time minus UTC, in seconds, as the system converts the current time.
std::int64_t LocalBias(RunContext& ctx) {
    auto& clock = ctx.platform.clock();
    constexpr std::uint64_t k1601To1970 = 116444736000000000ULL;
    const std::uint64_t now = clock.GetSystemTimeAsFileTime();
    platform::SystemTime local;
    if (now < k1601To1970 || !clock.FileTimeToLocalSystemTime(now, &local)) return 0;
    const auto utc = static_cast<std::int64_t>((now - k1601To1970) / 10'000'000ULL) + kUnixEpoch;
    return common::SecondsOf(local) - utc;
}

// The samples of a previous file that are ours: "name value" or name{mode="..."} value.
std::map<std::string, std::string> PreviousSamples(const std::string& text) {
    std::map<std::string, std::string> samples;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t space = line.rfind(' ');
        if (space == std::string::npos) continue;
        const std::string sample = line.substr(0, space);
        const std::string value = line.substr(space + 1);
        const std::string name = sample.substr(0, sample.find('{'));
        const std::string labels = sample.substr(name.size());
        if (!Known(name) || !common::ToNumber(value)) continue;
        if (!labels.empty() && labels != "{mode=\"RBT\"}" && labels != "{mode=\"RBTASSESS\"}")
            continue;
        samples[sample] = value;
    }
    return samples;
}

}  // namespace

std::string MetricsText(RunContext& ctx, RunEnd end, const std::string& previous) {
    std::map<std::string, std::string> samples = PreviousSamples(previous);
    const std::int64_t bias = LocalBias(ctx);
    auto unixTime = [&](const platform::SystemTime& local) {
        return std::to_string(common::SecondsOf(local) - bias - kUnixEpoch);
    };
    const std::string mode = common::Upper(ctx.commandArg);
    const std::string label = "{mode=\"" + mode + "\"}";
    const auto started = common::ReadMdyHmsText(ctx.runStartTime);
    samples[std::string(kFamilies[0].name) + label] =
        unixTime(started ? *started : ctx.platform.clock().GetLocalTime());
    samples[std::string(kFamilies[1].name) + label] = std::to_string(static_cast<int>(end));
    if (ctx.rebootFlagRead) samples[kFamilies[2].name] = ctx.rebootFlagSet ? "1" : "0";
    if (!ctx.rebootIniPath.empty()) {
        const std::string& state = ctx.rebootIniPath;
        const auto since = common::ReadMdyHmsText(
            reboot::IniGetValue(ctx, "RebootStatus", "WPMRbtRequiredON", state));
        const bool pending =
            reboot::IniGetValue(ctx, "RebootStatus", "PendingWPM", state) == "1" && since;
        samples[kFamilies[3].name] = pending ? unixTime(*since) : "0";
    }
    if (mode == "RBT" && ctx.rebootFlagRead) {
        // The guard's own flow: its counts as the state file holds them now.
        const reboot::RestartGuardTexts guard = reboot::ReadRestartGuardTexts(ctx);
        const auto count = [](const std::string& text) {
            return common::ToNumber(text) ? text : std::string("0");
        };
        samples[kFamilies[4].name] = count(guard.requests);
        samples[kFamilies[5].name] = count(guard.survived);
        samples[kFamilies[6].name] = end == RunEnd::RestartGuarded ? "1" : "0";
    }
    if (end == RunEnd::RebootRequested) samples[kFamilies[7].name] = "0";
    if (end == RunEnd::RestartRefused) samples[kFamilies[7].name] = "1";
    if (ctx.upTimeKnown) samples[kFamilies[8].name] = std::to_string(ctx.upTimeSeconds);
    if (ctx.assessmentStartedAt) samples[kFamilies[9].name] = unixTime(*ctx.assessmentStartedAt);

    std::string text;
    for (const Family& family : kFamilies) {
        text += std::string("# HELP ") + family.name + " " + family.help + "\n";
        text += std::string("# TYPE ") + family.name + " gauge\n";
        for (const auto& [sample, value] : samples) {
            if (sample.substr(0, sample.find('{')) == family.name) {
                text += sample + " " + value + "\n";
            }
        }
    }
    return text;
}

void WriteRunMetrics(RunContext& ctx, RunEnd end) {
    try {
        const std::string mode = common::Upper(ctx.commandArg);
        if (mode != "RBT" && mode != "RBTASSESS") return;
        if (!ctx.fileSystem.FolderExists(kMetricsFolder)) return;
        // Only where no other account may change what is there: a user's link or file in the
        // folder must not choose what SYSTEM writes.
        if (const auto exposed = ctx.fileSystem.ExposedToOtherAccounts(kMetricsFolder)) {
            activity_log::WriteLogLine(ctx, "ModComman", "WriteRunMetrics", "ERROR",
                                       "Metrics not written: " + exposed->why, exposed->path,
                                       exposed->detail);
            return;
        }
        auto& files = ctx.platform.files();
        const std::string target = std::string(kMetricsFolder) + "\\" + kMetricsFile;
        const std::string fresh = target + ".tmp";
        std::string previous;
        if (!files.ReadWholeFile(target.c_str(), &previous)) previous.clear();
        // A file left by a run that stopped half-way is removed (a link itself, not its target);
        // the new one is made afresh, never opened through anything already there.
        files.DeleteFileA(fresh.c_str());
        if (!files.WriteNewFile(fresh.c_str(), MetricsText(ctx, end, previous)) ||
            !files.MoveFileExA(
                fresh.c_str(), target.c_str(),
                platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough)) {
            const platform::DWORD error = ctx.platform.system().GetLastError();
            files.DeleteFileA(fresh.c_str());
            activity_log::WriteLogLine(ctx, "ModComman", "WriteRunMetrics", "ERROR",
                                       "Metrics not written", target, std::to_string(error));
        }
    } catch (const std::exception&) {
        // Metrics are a report of the run, never a reason for it to end otherwise.
    }
}

}  // namespace run
