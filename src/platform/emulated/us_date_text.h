// The emulated host's date-text conversion: what VarDateFromStr accepts under United States
// regional settings, as OLE dates.
#pragma once

#include <optional>
#include <string>

namespace platform::emulated {

// Accepted, with blanks around the whole:
//   M/D/Y, M/D (the current year), YYYY-M-D, each optionally followed by a time;
//   a time alone (on day zero, 30 December 1899);
//   times H:MM or H:MM:SS on a 24-hour clock, or with AM or PM (any case) on a 12-hour clock.
// Years of one or two digits are 2000 to 2049 for 0 to 49 and 1950 to 1999 for 50 to 99, as
// Windows reads them with its default two-digit year limit of 2049. A first number above 12 that
// fits as a day is taken as the day (13/1/2021 is 13 January), as Windows does. Dates that do not
// exist (2/30/2021), years outside 100 to 9999, and every other form (month names among them) are
// rejected.
std::optional<double> ParseUsDateText(const std::string& text, int currentYear);

}  // namespace platform::emulated
