// The emulated host's date-text conversion: what VarDateFromStr accepts under United States
// regional settings, as OLE dates.
#pragma once

#include <optional>
#include <string>

namespace platform::emulated {

// Accepted, with blanks around the whole:
//   dates of two or three parts apart by "/", "-" or blanks: M/D/Y, M-D-Y, M D Y, Y/M/D and
//   Y-M-D (a year first has three digits or more), M/D (the current year); with a month name
//   (full or its first three letters, any case), a comma may stand between the parts too:
//   "March 1, 2021", "1 Mar 2021", "1-Mar-2021", "Mar 1"; each optionally followed by a time;
//   a time alone (on day zero, 30 December 1899);
//   times H:MM or H:MM:SS on a 24-hour clock, or with AM, PM, A or P (any case) on a 12-hour
//   clock, where an hour alone with its mark ("5 PM") is a time too.
// Years of one or two digits are 2000 to 2049 for 0 to 49 and 1950 to 1999 for 50 to 99, as
// Windows reads them with its default two-digit year limit of 2049. A first number above 12 that
// fits as a day is taken as the day (13/1/2021 is 13 January), as Windows does; with a month
// name, the number that fits as a day is the day. Dates that do not exist (2/30/2021), years
// outside 100 to 9999, and every other form are rejected; among them are a few that Windows
// reads otherwise: two numbers that cannot be a month and a day ("30 2", a year and a month to
// Windows), a time before the date, and the dots of other regional settings.
std::optional<double> ParseUsDateText(const std::string& text, int currentYear);

}  // namespace platform::emulated
