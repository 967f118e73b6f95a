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
    // False where Windows accepts a form the emulated host rejects on purpose.
    bool windowsAgrees = true;
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
    // Forms Windows reads and the emulated host does not.
    {"March 4, 2021", std::nullopt, false},
    {"4 Mar 2021", std::nullopt, false},
    {"3-4-2021", std::nullopt, false},
    {"3/4/2021 5 PM", std::nullopt, false},
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
        if (!c.windowsAgrees) continue;
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
