// The date-time texts of the program.
#pragma once

#include <cstdint>
#include <optional>
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

// Calendar arithmetic on the proleptic Gregorian calendar, counted from the OLE date's day zero,
// 30 December 1899.
std::int64_t DaysFromCivil(int year, int month, int day);
bool IsValidDate(int year, int month, int day);
// Whole seconds of a date and time since that day zero (milliseconds dropped), and back (with
// the day of the week, no milliseconds).
std::int64_t SecondsOf(const platform::SystemTime& time);
platform::SystemTime TimeOfSeconds(std::int64_t seconds);
// The same for an OLE date (whole days, the time of day as the fraction, its sign ignored as
// OLE dates before day zero have it), rounded to the nearest second.
std::int64_t SecondsOfOleDate(double date);
// An OLE date of a calendar date and time.
double OleDateOf(int year, int month, int day, int hour, int minute, int second);
// A text of six numbers in the order month/day/year hour:minute:second (single spaces and the
// separators as shown, fields with or without leading zeros), read in that order whatever the
// regional settings; nothing when a field is missing or the date or time does not exist.
std::optional<platform::SystemTime> ReadMdyHmsText(const std::string& text);

}  // namespace common
