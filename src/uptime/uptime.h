// The system's up-time in seconds, by three methods tried in turn: the last boot time from WMI,
// the performance counter class from WMI, the system tick count.
#pragma once

#include <optional>
#include <string>

#include "run/run_context.h"

namespace uptime {

// True when one of the methods set upTimeSeconds.
bool FncSysUptime(run::RunContext& ctx);

bool FN_CollectSysLastReboot(run::RunContext& ctx);
bool getSystemUPTimeByWMI(run::RunContext& ctx);
bool getSystemUPTimeByAPI(run::RunContext& ctx);

// A CIM DATETIME text (yyyymmddHHMMSS.ffffff+ooo) as MM/DD/YYYY HH:NN:SS, the fraction and the
// offset dropped; "" for a null value. Characters missing from a short text are left out, the
// separators stay.
std::string WMIDateStringToDate(run::RunContext& ctx, const std::optional<std::string>& value);

// The whole seconds of a tick count in milliseconds, a value halfway between two seconds going
// to the even one; nothing when it does not fit 32 bits.
std::optional<std::int32_t> TickSeconds(std::uint64_t milliseconds);

}  // namespace uptime
