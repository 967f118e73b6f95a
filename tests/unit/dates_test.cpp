#include "common/dates.h"

#include <gtest/gtest.h>

namespace {

TEST(Dates, DayArithmeticCountsFromTheOleDayZero) {
    EXPECT_EQ(common::DaysFromCivil(1899, 12, 30), 0);
    EXPECT_EQ(common::DaysFromCivil(1900, 1, 1), 2);
    EXPECT_EQ(common::DaysFromCivil(2021, 3, 4), 44259);
    EXPECT_EQ(common::DaysFromCivil(1899, 12, 29), -1);
}

// Back from seconds to the date and time, with the day of the week, on both sides of day zero,
// of a leap day and of a century that is no leap year.
TEST(Dates, SecondsGoBackToTheirDateAndTime) {
    struct Row {
        int year, month, day, hour, minute, second, dayOfWeek;
    };
    for (const Row& row :
         {Row{1899, 12, 30, 0, 0, 0, 6}, Row{1899, 12, 29, 23, 59, 59, 5},
          Row{1601, 1, 1, 0, 0, 0, 1}, Row{1900, 3, 1, 12, 0, 0, 4}, Row{2000, 2, 29, 8, 7, 6, 2},
          Row{2021, 3, 4, 17, 6, 7, 4}, Row{9999, 12, 31, 23, 59, 59, 5}}) {
        platform::SystemTime time;
        time.year = row.year, time.month = row.month, time.day = row.day;
        time.hour = row.hour, time.minute = row.minute, time.second = row.second;
        time.dayOfWeek = row.dayOfWeek;
        time.milliseconds = 0;
        EXPECT_EQ(common::TimeOfSeconds(common::SecondsOf(time)), time)
            << row.year << '-' << row.month;
    }
}

TEST(Dates, OleDatesBeforeDayZeroCountTheirTimeForward) {
    // -1.25 is 29 December 1899 at 06:00.
    EXPECT_EQ(common::SecondsOfOleDate(-1.25), -86400 + 6 * 3600);
    EXPECT_EQ(common::SecondsOfOleDate(common::OleDateOf(1899, 12, 29, 6, 0, 0)),
              -86400 + 6 * 3600);
    EXPECT_EQ(common::SecondsOfOleDate(common::OleDateOf(2021, 3, 4, 17, 6, 7)),
              44259LL * 86400 + 17 * 3600 + 6 * 60 + 7);
}

struct MdyCase {
    const char* text;
    bool valid;
};

class MdyHmsTexts : public ::testing::TestWithParam<MdyCase> {};

TEST_P(MdyHmsTexts, ReadMonthFirstOrRejected) {
    EXPECT_EQ(common::ReadMdyHmsText(GetParam().text).has_value(), GetParam().valid)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MdyHmsTexts,
    ::testing::Values(MdyCase{"03/04/2021 17:06:07", true}, MdyCase{"3/4/2021 17:6:7", true},
                      MdyCase{"12/31/9999 23:59:59", true}, MdyCase{"02/29/2020 00:00:00", true},
                      MdyCase{"02/29/2021 00:00:00", false}, MdyCase{"13/04/2021 17:06:07", false},
                      MdyCase{"03/04/2021 24:00:00", false}, MdyCase{"// ::", false},
                      MdyCase{"", false}, MdyCase{"03/04/2021", false},
                      MdyCase{"03/04/2021  17:06:07", false}, MdyCase{"3/ 4/2021 17:06:07", false},
                      MdyCase{"03/04/2021 17:06:07.5", false}));

TEST(Dates, MdyHmsTextKeepsTheFieldsInTheirOrder) {
    const auto time = common::ReadMdyHmsText("03/04/2021 17:06:07");
    ASSERT_TRUE(time);
    EXPECT_EQ(time->month, 3);
    EXPECT_EQ(time->day, 4);
    EXPECT_EQ(time->year, 2021);
    EXPECT_EQ(time->second, 7);
}

TEST(Dates, StampTextPadsEachFieldAndWidensPastIt) {
    // The newest result file is found by comparing these texts, so their widths must hold.
    EXPECT_EQ(common::StampText({2021, 3, 0, 4, 7, 6, 5, 0}), "20210304070605");
    EXPECT_EQ(common::StampText({1601, 1, 0, 1, 0, 0, 0, 0}), "16010101000000");
    EXPECT_EQ(common::StampText({12345, 12, 0, 31, 23, 59, 59, 0}), "123451231235959");
    EXPECT_EQ(common::StampText({7, 0, 0, 0, 0, 0, 0, 0}), "00070000000000");
    EXPECT_EQ(common::StampText({-5, -1, 0, 100, 0, 0, 0, 0}), "-005-1100000000");
    EXPECT_EQ(common::StampText({-2147483647 - 1, 1, 0, 1, 0, 0, 0, 0}), "-21474836480101000000");
}

}  // namespace
