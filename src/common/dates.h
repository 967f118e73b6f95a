// The date-time texts of the program.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/types.h"

namespace common {

// The system's general date-time text under the regional settings: short date, a space and the
// long time; a time of exactly midnight is left out. Used in the activity log.
std::string GeneralDateText(platform::Clock& clock, const platform::SystemTime& time);
// month/day/year hour:minute:second, decimal numbers without leading zeros, 24-hour clock
// (3/4/2021 17:6:7).
std::string MdyHmsText(const platform::SystemTime& time);
// yyyymmddhhmmss, so that text order is time order.
std::string StampText(const platform::SystemTime& time);
// MM/DD/YYYY HH:NN:SS with two-digit fields and a four-digit year.
std::string PaddedDateText(const platform::SystemTime& time);

}  // namespace common
