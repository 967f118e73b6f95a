// The date texts the assessment flow accepts for the last scan: the emulated host's United States
// conversion, and (in the Windows test binary) the system's own VarDateFromStr under the user's
// regional settings, which Wine gives as en-US. One table pins both.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "common/dates.h"
#include "platform/emulated/us_date_text.h"

#ifdef RS_CONTRACT_WIN32
#include "platform/win32/win32_facets.h"
#endif

namespace {

struct DateCase {
    const char* text;
    // Seconds since 30 December 1899 of the date read, or nothing when it is rejected.
    std::optional<std::int64_t> seconds;
};

std::int64_t At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return common::DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

const DateCase kCases[] = {
    {"3/4/2021", At(2021, 3, 4)},
    {"03/04/2021 17:06:07", At(2021, 3, 4, 17, 6, 7)},
    {"3/4/2021 17:06", At(2021, 3, 4, 17, 6)},
    {"3/4/2021 5:06:07 PM", At(2021, 3, 4, 17, 6, 7)},
    {"3/4/2021 5:06:07 am", At(2021, 3, 4, 5, 6, 7)},
    {"3/4/2021 12:00:00 AM", At(2021, 3, 4)},
    {"3/4/2021 12:30 PM", At(2021, 3, 4, 12, 30)},
    {"3/4/2021 5:06PM", At(2021, 3, 4, 17, 6)},
    {"  3/4/2021  ", At(2021, 3, 4)},
    {"2021-03-04", At(2021, 3, 4)},
    {"2021-03-04 17:06:07", At(2021, 3, 4, 17, 6, 7)},
    {"2/29/2020", At(2020, 2, 29)},
    // Two-digit years: 00 to 49 in this century, 50 to 99 in the last.
    {"3/4/21", At(2021, 3, 4)},
    {"3/4/30", At(2030, 3, 4)},
    {"3/4/49", At(2049, 3, 4)},
    {"3/4/50", At(1950, 3, 4)},
    {"3/4/99", At(1999, 3, 4)},
    {"3/4/0", At(2000, 3, 4)},
    // A first number that cannot be a month is the day.
    {"13/1/2021", At(2021, 1, 13)},
    {"1/1/100", At(100, 1, 1)},
    // A time alone is on day zero.
    {"17:06", At(1899, 12, 30, 17, 6)},
    // Rejected.
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"abc", std::nullopt},
    {"2/30/2021", std::nullopt},
    {"2/29/2021", std::nullopt},
    {"13/13/2021", std::nullopt},
    {"3/4/2021 25:00", std::nullopt},
    {"3/4/2021 17:06:60", std::nullopt},
    {"3/4/2021 17:60", std::nullopt},
    {"1/1/99999", std::nullopt},
    {"3.4.2021", std::nullopt},
    {"3/4/2021T17:06", std::nullopt},
    {"3/4/2021 17:06:07 XM", std::nullopt},
    // Month names, dashes, blanks and a year first: VarDateFromStr reads them all under United
    // States settings (oleaut32 vartype tests, test_VarDateFromStr: "2 January, 1970",
    // "2 Jan 1970", "2/Jan/1970", "2-Jan-1970", "1 2 1970", "1-2-1970", "13-1-1970",
    // "1970-1-13").
    {"March 4, 2021", At(2021, 3, 4)},
    {"march 4 2021", At(2021, 3, 4)},
    {"Mar 4, 2021 17:06", At(2021, 3, 4, 17, 6)},
    {"4 Mar 2021", At(2021, 3, 4)},
    {"1 Mar 2021 10:00", At(2021, 3, 1, 10)},
    {"2 January, 1970", At(1970, 1, 2)},
    {"2-Jan-1970", At(1970, 1, 2)},
    {"2/Jan/1970", At(1970, 1, 2)},
    {"September 9, 2021", At(2021, 9, 9)},
    {"Sep 9 2021", At(2021, 9, 9)},
    {"3-1-2021", At(2021, 3, 1)},
    {"3-1-2021 17:06:07", At(2021, 3, 1, 17, 6, 7)},
    {"13-1-1970", At(1970, 1, 13)},
    {"1 2 1970", At(1970, 1, 2)},
    {"2021/3/1", At(2021, 3, 1)},
    {"2021/3/1 5:06 PM", At(2021, 3, 1, 17, 6)},
    {"1970-1-13", At(1970, 1, 13)},
    // An hour with its mark is a time; a mark is AM, PM, A or P, and an hour above 12 keeps it
    // (test_VarDateFromStr: "1 am", "00:00 p", "12:59 A", "13:00 AM").
    {"3/4/2021 5 PM", At(2021, 3, 4, 17)},
    {"5 pm", At(1899, 12, 30, 17)},
    {"3/4/2021 00:00 p", At(2021, 3, 4, 12)},
    {"3/4/2021 12:59 A", At(2021, 3, 4, 0, 59)},
    {"3/4/2021 13:00 AM", At(2021, 3, 4, 13)},
    // Rejected (test_VarDateFromStr: "0:60", "24:00", "1 2 am", fractions of a second).
    {"Foo 4, 2021", std::nullopt},
    {"March 4, 2021, 2022", std::nullopt},
    {"0:60", std::nullopt},
    {"24:00", std::nullopt},
    {"1 2 am", std::nullopt},
    {"3/4/2021 5", std::nullopt},
    {"2013-05-14 02:04:12.017000000", std::nullopt},
};

std::optional<std::int64_t> Emulated(const std::string& text) {
    const auto date = platform::emulated::ParseUsDateText(text, 2021);
    if (!date) return std::nullopt;
    return common::SecondsOfOleDate(*date);
}

TEST(DateTextContract, EmulatedUnitedStatesConversion) {
    for (const auto& c : kCases) {
        EXPECT_EQ(Emulated(c.text), c.seconds) << "[" << c.text << "]";
    }
}

#ifdef RS_CONTRACT_WIN32
TEST(DateTextContract, SystemConversionAgrees) {
    auto clock = platform::win32::MakeWin32Clock();
    for (const auto& c : kCases) {
        double date = 0;
        const platform::LONG result = clock->VarDateFromStr(c.text, &date);
        const std::optional<std::int64_t> seconds =
            result >= 0 ? std::optional<std::int64_t>(common::SecondsOfOleDate(date))
                        : std::nullopt;
        EXPECT_EQ(seconds, c.seconds) << "[" << c.text << "] result " << result;
    }
}
#endif

}  // namespace
