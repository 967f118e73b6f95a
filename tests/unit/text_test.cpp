#include "common/text.h"

#include <gtest/gtest.h>

namespace {

struct LooseCase {
    const char* text;
    bool readsAsOne;
    double leading;
    int boolean;  // -1 none, 0 false, 1 true
};

class LooseValues : public ::testing::TestWithParam<LooseCase> {};

TEST_P(LooseValues, ReadTheWayTheProgramReadsThem) {
    const LooseCase& c = GetParam();
    EXPECT_EQ(common::ReadsAsNumberOne(c.text), c.readsAsOne) << c.text;
    EXPECT_DOUBLE_EQ(common::LeadingNumber(c.text), c.leading) << c.text;
    const auto boolean = common::ToBoolean(c.text);
    EXPECT_EQ(boolean ? (*boolean ? 1 : 0) : -1, c.boolean) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LooseValues,
    ::testing::Values(LooseCase{"1", true, 1, 1}, LooseCase{" 1 ", true, 1, 1},
                      LooseCase{"01", true, 1, 1}, LooseCase{"1.0", true, 1, 1},
                      LooseCase{"0", false, 0, 0}, LooseCase{"", false, 0, -1},
                      LooseCase{"   ", false, 0, -1}, LooseCase{"abc", false, 0, -1},
                      LooseCase{"12abc", false, 12, -1}, LooseCase{"-1", false, -1, 1},
                      LooseCase{"True", false, 0, 1}, LooseCase{"FALSE", false, 0, 0},
                      LooseCase{"0x1", false, 0, -1}, LooseCase{"1e0", true, 1, 1}));

TEST(Text, TrimRemovesSpacesOnly) {
    EXPECT_EQ(common::Trim("  a b  "), "a b");
    EXPECT_EQ(common::Trim("\ta\t"), "\ta\t");
    EXPECT_EQ(common::Trim("    "), "");
}

TEST(Text, EmptyPartIsAlwaysContained) {
    EXPECT_TRUE(common::Contains("RBT,RBTASSESS", ""));
    EXPECT_TRUE(common::Contains("RBT,RBTASSESS", "T,R"));
    EXPECT_FALSE(common::Contains("RBT,RBTASSESS", "RBTX"));
}

}  // namespace
