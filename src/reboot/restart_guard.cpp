#include "reboot/restart_guard.h"

#include <chrono>
#include <optional>

#include "common/dates.h"
#include "common/text.h"
#include "ending/guard.h"
#include "log/activity_log.h"
#include "platform/power.h"
#include "reboot/reboot_execution.h"
#include "reboot/reboot_state.h"
#include "uptime/uptime.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kRequests = "Requests";
constexpr const char* kSurvived = "Survived";
constexpr const char* kFirstRequest = "FirstRequest";
constexpr const char* kLastRequest = "LastRequest";
// More requests than a week of hourly runs can make: anything larger is no count of ours.
constexpr int kCountLimit = 10000;

void Info(run::RunContext& ctx, const std::string& message) {
    WriteLogLine(ctx, "ModReboot", "RestartGuard", "INFO", message);
}

std::optional<int> ReadCount(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > kCountLimit) return std::nullopt;
    return value;
}

std::optional<long long> SecondsOfText(const std::string& text) {
    const auto time = common::ReadMdyHmsText(text);
    if (!time) return std::nullopt;
    return common::SecondsOf(*time);
}

long long Now(run::RunContext& ctx) {
    return common::SecondsOf(ctx.platform.clock().GetLocalTime());
}

// The date-time text seven days after a request's text (same time of day).
std::string WeekAfter(const std::string& text) {
    auto time = common::ReadMdyHmsText(text);
    if (!time) return text;
    namespace chr = std::chrono;
    const chr::year_month_day later{chr::sys_days{chr::year{time->year} / time->month / time->day} +
                                    chr::days{7}};
    time->year = static_cast<int>(later.year());
    time->month = static_cast<int>(static_cast<unsigned>(later.month()));
    time->day = static_cast<int>(static_cast<unsigned>(later.day()));
    return common::MdyHmsText(*time);
}

// The section as counts; nothing when it is missing or does not read as one of ours.
std::optional<run::RunContext::RestartGuard> Parse(const RestartGuardTexts& texts) {
    const auto requests = ReadCount(texts.requests);
    const auto survived = ReadCount(texts.survived);
    if (!requests || !survived || *survived > *requests || *requests == 0 ||
        !SecondsOfText(texts.firstRequest) || !SecondsOfText(texts.lastRequest)) {
        return std::nullopt;
    }
    run::RunContext::RestartGuard guard;
    guard.present = true;
    guard.requests = *requests;
    guard.survived = *survived;
    guard.firstRequest = texts.firstRequest;
    guard.lastRequest = texts.lastRequest;
    return guard;
}

void Write(run::RunContext& ctx, const run::RunContext::RestartGuard& guard) {
    const std::string& file = ctx.rebootIniPath;
    IniSetValue(ctx, kRestartGuardSection, kRequests, std::to_string(guard.requests), file);
    IniSetValue(ctx, kRestartGuardSection, kSurvived, std::to_string(guard.survived), file);
    IniSetValue(ctx, kRestartGuardSection, kFirstRequest, guard.firstRequest, file);
    IniSetValue(ctx, kRestartGuardSection, kLastRequest, guard.lastRequest, file);
}

void Remove(run::RunContext& ctx, const std::string& why) {
    IniRemoveSection(ctx, kRestartGuardSection, ctx.rebootIniPath);
    ctx.restartGuard = {};
    Info(ctx, "Restart guard removed: " + why);
}

}  // namespace

RestartGuardTexts ReadRestartGuardTexts(run::RunContext& ctx) {
    const std::string& file = ctx.rebootIniPath;
    return {IniGetValue(ctx, kRestartGuardSection, kRequests, file),
            IniGetValue(ctx, kRestartGuardSection, kSurvived, file),
            IniGetValue(ctx, kRestartGuardSection, kFirstRequest, file),
            IniGetValue(ctx, kRestartGuardSection, kLastRequest, file)};
}

void PutBackRestartGuardTexts(run::RunContext& ctx, const RestartGuardTexts& texts) {
    const std::string& file = ctx.rebootIniPath;
    IniRemoveSection(ctx, kRestartGuardSection, file);
    if (texts.empty()) return;
    IniSetValue(ctx, kRestartGuardSection, kRequests, texts.requests, file);
    IniSetValue(ctx, kRestartGuardSection, kSurvived, texts.survived, file);
    IniSetValue(ctx, kRestartGuardSection, kFirstRequest, texts.firstRequest, file);
    IniSetValue(ctx, kRestartGuardSection, kLastRequest, texts.lastRequest, file);
}

void UpdateRestartGuard(run::RunContext& ctx, bool rebootFlagSet) {
    ctx.restartGuard = {};
    const RestartGuardTexts texts = ReadRestartGuardTexts(ctx);
    if (texts.empty()) return;
    if (!rebootFlagSet) return Remove(ctx, "the reboot-required flag is clear");
    const auto parsed = Parse(texts);
    if (!parsed) return Remove(ctx, "its entries do not read as counts and times");
    run::RunContext::RestartGuard guard = *parsed;
    const long long now = Now(ctx);
    const long long first = *SecondsOfText(guard.firstRequest);
    const long long last = *SecondsOfText(guard.lastRequest);
    if (now < last || last < first) {
        return Remove(ctx, "the last request " + guard.lastRequest + " is after the current time");
    }
    if (now - first >= kRestartGuardWindowSeconds) {
        return Remove(ctx, "seven days have passed since the first request " + guard.firstRequest);
    }
    // The machine started after the last request and the flag is still set: the restart did not
    // clear it. Each request is counted at most once.
    if (guard.survived < guard.requests && uptime::FncSysUptime(ctx) &&
        ctx.upTimeSeconds < now - last) {
        ++guard.survived;
        IniSetValue(ctx, kRestartGuardSection, kSurvived, std::to_string(guard.survived),
                    ctx.rebootIniPath);
        Info(ctx, "The reboot-required flag survived the restart requested " + guard.lastRequest +
                      " (" + std::to_string(guard.survived) + " of " +
                      std::to_string(guard.requests) + " since " + guard.firstRequest + ")");
    }
    guard.holds = guard.survived >= kRestartGuardSurvivedLimit;
    ctx.restartGuard = guard;
}

void RecordRestartRequest(run::RunContext& ctx) {
    if (!ctx.rebootFlagSet) return;
    run::RunContext::RestartGuard guard = ctx.restartGuard;
    const std::string now = common::MdyHmsText(ctx.platform.clock().GetLocalTime());
    if (!guard.present) {
        guard = {};
        guard.present = true;
        guard.firstRequest = now;
    }
    ++guard.requests;
    guard.lastRequest = now;
    Write(ctx, guard);
    ctx.restartGuard = guard;
}

void RefuseRestartWhileGuarded(run::RunContext& ctx) {
    if (!ctx.restartGuard.holds) return;
    const std::string message = "Restart not requested: the reboot-required flag survived " +
                                std::to_string(ctx.restartGuard.survived) + " restarts since " +
                                ctx.restartGuard.firstRequest + "; next restart allowed after " +
                                WeekAfter(ctx.restartGuard.firstRequest) +
                                " or once the flag clears";
    WriteLogLine(ctx, "ModReboot", "CallRebootUI", "ERROR", message);
    subRegisterRebootEvent(ctx, message, platform::kEventlogWarningType);
    run::CloseAll(ctx, run::RunEnd::RestartGuarded);
}

}  // namespace reboot
