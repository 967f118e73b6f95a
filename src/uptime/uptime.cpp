#include "uptime/uptime.h"

#include <cmath>
#include <limits>
#include <vector>

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"

namespace uptime {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kForm = "modUpTime";
constexpr const char* kComputer = ".";

void Info(run::RunContext& ctx, const char* procedure, const std::string& message) {
    WriteLogLine(ctx, kForm, procedure, "INFO", message);
}

void Error(run::RunContext& ctx, const char* procedure, const char* context,
           const run::Trapped& failure) {
    WriteLogLine(ctx, kForm, procedure, context, "ERROR", failure.number, failure.description);
}

std::string UpTimeLine(std::int32_t seconds) {
    return "System Up time is [ " + std::to_string(seconds) + " ]";
}

// The description the scripting layer gives a failed WMI call: the management service's own
// texts for its codes; none for the others, which get the system's text.
std::string WmiDescription(platform::LONG code) {
    switch (static_cast<std::uint32_t>(code)) {
        case 0x80041001u:
            return "Generic failure";
        case 0x80041002u:
            return "Not found";
        case 0x80041008u:
            return "Invalid parameter";
        case 0x8004100Eu:
            return "Invalid namespace";
        case 0x80041010u:
            return "Invalid class";
        case 0x80041017u:
            return "Invalid query";
        default:
            return {};
    }
}

void Check(run::RunContext& ctx, platform::LONG code) {
    if (code < 0) throw run::ComFailure(ctx, code, WmiDescription(code));
}

// A property of a returned object; one the class does not have fails as the property read does.
const std::optional<std::string>& Property(const platform::WmiObject& object, const char* name) {
    const auto found = object.properties.find(name);
    if (found == object.properties.end()) {
        throw common::Failure(platform::kWbemNotFound, "Not found");
    }
    return found->second;
}

std::int32_t ToLong(double value) {
    // Whole numbers kept; a fraction rounds to the nearest, halves to the even one.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min() &&
          rounded <= std::numeric_limits<std::int32_t>::max())) {
        common::Raise(common::kOverflow);
    }
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

std::optional<std::int32_t> TickSeconds(std::uint64_t milliseconds) {
    std::uint64_t seconds = milliseconds / 1000;
    const std::uint64_t rest = milliseconds % 1000;
    if (rest > 500 || (rest == 500 && seconds % 2 == 1)) ++seconds;
    if (seconds > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(seconds);
}

std::string WMIDateStringToDate(run::RunContext& ctx, const std::optional<std::string>& value) {
    try {
        if (!value) return "";
        const std::string& text = *value;
        auto part = [&text](std::size_t first, std::size_t count) {
            return first < text.size() ? text.substr(first, count) : std::string();
        };
        return part(4, 2) + "/" + part(6, 2) + "/" + part(0, 4) + " " + part(8, 2) + ":" +
               part(10, 2) + ":" + part(12, 2);
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        Error(ctx, "WMIDateStringToDate", "Error while getting date,", failure);
        return "";
    }
}

bool FN_CollectSysLastReboot(run::RunContext& ctx) {
    bool result = false;
    try {
        platform::OwnedWmiService service(ctx.platform.wmi());
        // winmgmts:{impersonationLevel=impersonate}!\\.\root\cimv2
        Check(ctx, ctx.platform.wmi().BindMoniker(kComputer, "root\\cimv2",
                                                  platform::kImpersonationLevelImpersonate,
                                                  service.put()));
        std::vector<platform::WmiObject> objects;
        Check(ctx,
              ctx.platform.wmi().ExecQuery(service.get(), "SELECT * FROM Win32_OperatingSystem",
                                           {"LastBootUpTime"}, &objects));
        for (const auto& object : objects) {
            const std::string lastBoot =
                WMIDateStringToDate(ctx, Property(object, "LastBootUpTime"));
            const std::string now = common::PaddedDateText(ctx.platform.clock().GetLocalTime());
            // Both texts are read back month first, whatever the regional settings.
            const auto from = common::ReadMdyHmsText(lastBoot);
            const auto to = common::ReadMdyHmsText(now);
            if (!from || !to) common::Raise(common::kTypeMismatch);
            ctx.upTimeSeconds =
                ToLong(static_cast<double>(common::SecondsOf(*to) - common::SecondsOf(*from)));
            Info(ctx, "FN_CollectSysLastReboot", UpTimeLine(ctx.upTimeSeconds));
            result = true;
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        Error(ctx, "FN_CollectSysLastReboot", "Error while getting date,", failure);
    }
    return result;
}

bool getSystemUPTimeByWMI(run::RunContext& ctx) {
    bool result = false;
    try {
        ctx.upTimeSeconds = 0;
        auto& wmi = ctx.platform.wmi();
        platform::OwnedWmiService service(wmi);
        // winmgmts:\\.\root\cimv2, at the scripting default's impersonation level
        Check(ctx, wmi.BindMoniker(kComputer, "root\\cimv2",
                                   platform::kImpersonationLevelImpersonate, service.put()));
        Info(ctx, "getSystemUPTimeByWMI", "WMI object created.");
        // The locator's connection replaces the service bound above.
        Check(ctx, wmi.ConnectServer(".", "root\\CIMV2", "", "",
                                     platform::kImpersonationLevelImpersonate, service.put()));
        Info(ctx, "getSystemUPTimeByWMI", "Execute Query to fetch Syste upTime.");
        std::vector<platform::WmiObject> objects;
        Check(ctx,
              wmi.ExecQuery(service.get(), "Select * From Win32_PerfFormattedData_PerfOS_System",
                            {"SystemUpTime"}, &objects));
        for (const auto& object : objects) {
            const auto& value = Property(object, "SystemUpTime");
            if (!value) common::Raise(common::kInvalidUseOfNull);
            const auto number = common::ToNumber(*value);
            if (!number) common::Raise(common::kTypeMismatch);
            ctx.upTimeSeconds = ToLong(*number);
            Info(ctx, "getSystemUPTimeByWMI", UpTimeLine(ctx.upTimeSeconds));
            result = true;
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        Error(ctx, "getSystemUPTimeByWMI", "GetString", failure);
    }
    return result;
}

bool getSystemUPTimeByAPI(run::RunContext& ctx) {
    try {
        const auto seconds = TickSeconds(ctx.platform.clock().GetTickCount64());
        if (!seconds) common::Raise(common::kOverflow);
        ctx.upTimeSeconds = *seconds;
        Info(ctx, "getSystemUPTimeByAPI", UpTimeLine(ctx.upTimeSeconds));
        return true;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        Error(ctx, "getSystemUPTimeByAPI", "GetString", failure);
        return false;
    }
}

bool FncSysUptime(run::RunContext& ctx) {
    Info(ctx, "FncSysUptime", "Check the System-up-Time");
    if (!FN_CollectSysLastReboot(ctx) && !getSystemUPTimeByWMI(ctx) && !getSystemUPTimeByAPI(ctx)) {
        Info(ctx, "FncSysUptime", "Unabled to Fetch System-up-Time ");
        return false;
    }
    Info(ctx, "FncSysUptime", "Check the System-up-Time completed");
    ctx.upTimeKnown = true;
    return true;
}

}  // namespace uptime
