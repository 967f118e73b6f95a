#include "platform/emulated/reg_file.h"

#include <gtest/gtest.h>

namespace {

using platform::emulated::RegFormatError;
using platform::emulated::RegHive;

const std::string kHead =
    "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n";

// A file read and written again reads back to the same values, the second export equal to the
// first; a file whose values cannot be kept is refused instead.
TEST(RegFile, ReadWriteReadKeepsEveryValue) {
    const struct {
        const char* name;
        std::string line;
        bool refused;
    } cases[] = {
        {"plain text", "\"s\"=\"a\\\\b\\\"c\"", false},
        {"ANSI bytes in quotes",
         "\"s\"=\"\xFA"
         "C:\\\\x\xD6\"",
         false},
        {"text with its NULs in hex", "\"m\"=hex(7):61,00,00,00,00,00", false},
        {"dword and binary", "\"d\"=dword:0000000a\r\n\"b\"=hex:01,02", false},
        {"NUL inside quoted text", std::string("\"s\"=\"\xFA\0\xD6\"", 7), true},
        {"escaped NUL inside quoted text", std::string("\"s\"=\"a\\\0\"", 8), true},
        {"NUL inside a value name", std::string("\"n\0m\"=\"x\"", 9), true},
        {"lone CR inside quoted text", "\"s\"=\"a\rb\xFF\"", true},
        {"text with a line break in hex", "\"s\"=hex(1):61,00,0d,00,0a,00,62,00,00,00", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = kHead + c.line + "\r\n";
        if (c.refused) {
            EXPECT_THROW(RegHive::Parse(file), RegFormatError);
            continue;
        }
        RegHive hive = RegHive::Parse(file);
        const std::string first = hive.Serialize();
        RegHive again = RegHive::Parse(first);
        EXPECT_EQ(again.Serialize(), first);
        const auto* key = hive.Find("SOFTWARE\\A");
        const auto* keyAgain = again.Find("SOFTWARE\\A");
        ASSERT_TRUE(key && keyAgain);
        ASSERT_EQ(key->values.size(), keyAgain->values.size());
        for (std::size_t i = 0; i < key->values.size(); ++i) {
            EXPECT_EQ(key->values[i].type, keyAgain->values[i].type);
            EXPECT_EQ(key->values[i].data, keyAgain->values[i].data);
        }
    }
}

TEST(RegFile, ValuesOfTheHiveRootAreKept) {
    const RegHive hive = RegHive::Parse(
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\"r\"=\"v\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\A]\r\n\"a\"=dword:00000001\r\n");
    const RegHive again = RegHive::Parse(hive.Serialize());
    ASSERT_EQ(again.root().values.size(), 1u);
    EXPECT_EQ(again.root().values[0].name, "r");
    EXPECT_EQ(again.root().values[0].data, std::string("v\0", 2));
    EXPECT_EQ(again.Serialize(), hive.Serialize());
}

}  // namespace
