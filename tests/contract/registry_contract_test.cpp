// The registry facet as the program calls it, pinned against the emulation and (in the Windows
// test binary) the real registry functions. Keys live below SOFTWARE\RSContract.
#include <cstring>
#include <string>
#include <vector>

#include "contract_fixture.h"

namespace {

using platform::BYTE;
using platform::DWORD;
using platform::HKEY;
using platform::kHkeyLocalMachine;
using platform::LONG;

// The suite's values, in both views of SOFTWARE: a program opens them in its own view (the 32-bit
// one in the i686 test binary, as for the shipping program on 64-bit Windows).
std::string ValuesIn(const char* software) {
    return std::string("[HKEY_LOCAL_MACHINE\\") + software + "\\RSContract\\Values]\r\n" +
           "\"Text\"=\"hello\"\r\n"
           "\"Empty\"=\"\"\r\n"
           "\"NoNul\"=hex(1):68,00,69,00\r\n"
           "\"Number\"=dword:00011170\r\n"
           "\"Bytes\"=hex:01,02,03,04,05,06,07,08\r\n"
           "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
           "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
           "\r\n";
}

const std::string kSeed = "Windows Registry Editor Version 5.00\r\n\r\n" + ValuesIn("SOFTWARE") +
                          ValuesIn("SOFTWARE\\WOW6432Node") +
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RSContract\\View]\r\n"
                          "\"Which\"=\"64\"\r\n"
                          "\r\n"
                          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\RSContract\\View]\r\n"
                          "\"Which\"=\"32\"\r\n";

template <class World>
class RegistryContract : public ::testing::Test {
protected:
    void SetUp() override {
        if (!world.SeedRegistry(kSeed)) GTEST_SKIP() << "this world cannot seed its registry";
    }
    platform::Registry& reg() { return world.registry(); }

    HKEY Open(const char* path, DWORD access = platform::kKeyRead) {
        HKEY key = 0;
        EXPECT_EQ(reg().RegOpenKeyExA(kHkeyLocalMachine, path, 0, access, &key), 0) << path;
        return key;
    }
    // The value as text, whatever its type, read with a roomy buffer.
    std::string Read(HKEY key, const char* name, DWORD* type = nullptr) {
        std::vector<BYTE> buffer(256, 0xCC);
        DWORD size = static_cast<DWORD>(buffer.size());
        DWORD t = 0;
        EXPECT_EQ(reg().RegQueryValueExA(key, name, &t, buffer.data(), &size), 0) << name;
        if (type) *type = t;
        return std::string(reinterpret_cast<char*>(buffer.data()), size);
    }
    World world;
};

TYPED_TEST_SUITE(RegistryContract, contract::ContractWorlds, contract::WorldNames);

TYPED_TEST(RegistryContract, OpenFollowsTheRequestedView) {
    struct Case {
        bool legacy;
        DWORD access;
        const char* expected;
    };
    // Plain opens see the process's own view: the 32-bit one for a 32-bit process on 64-bit
    // Windows, the 64-bit one for a 64-bit program.
    const char* own = contract::ContractWorld::kWow64Process ? "32\0" : "64\0";
    const Case cases[] = {{true, 0, own},
                          {false, platform::kKeyRead, own},
                          {false, platform::kKeyRead | platform::kKeyWow64_64Key, "64\0"},
                          {false, platform::kKeyRead | platform::kKeyWow64_32Key, "32\0"}};
    for (const Case& c : cases) {
        HKEY key = 0;
        const LONG result =
            c.legacy
                ? this->reg().RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\RSContract\\View", &key)
                : this->reg().RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\RSContract\\View", 0,
                                            c.access, &key);
        ASSERT_EQ(result, 0) << c.access;
        EXPECT_EQ(this->Read(key, "Which"), std::string(c.expected, 3)) << c.access;
        EXPECT_EQ(this->reg().RegCloseKey(key), 0);
    }
}

TYPED_TEST(RegistryContract, MissingKeysAndValues) {
    HKEY key = 123;
    EXPECT_EQ(this->reg().RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\RSContract\\Nope", 0,
                                        platform::kKeyRead, &key),
              2);
    EXPECT_EQ(this->reg().RegOpenKeyA(kHkeyLocalMachine, "SOFTWARE\\RSContract\\Nope", &key), 2);
    key = this->Open("SOFTWARE\\RSContract\\Values");
    DWORD type = 99, size = 0;
    EXPECT_EQ(this->reg().RegQueryValueExA(key, "Missing", &type, nullptr, &size), 2);
    EXPECT_EQ(this->reg().RegQueryValueExA(0, "Text", &type, nullptr, &size), 6) << "no key";
    EXPECT_EQ(this->reg().RegCloseKey(key), 0);
    EXPECT_EQ(this->reg().RegCloseKey(0), 6);
}

TYPED_TEST(RegistryContract, TypeAndSizeQueries) {
    struct Case {
        const char* name;
        DWORD type;
        DWORD size;
    };
    const Case cases[] = {{"Text", platform::kRegSz, 6},      {"Empty", platform::kRegSz, 1},
                          {"NoNul", platform::kRegSz, 2},     {"Number", platform::kRegDword, 4},
                          {"Bytes", platform::kRegBinary, 8}, {"Expand", platform::kRegExpandSz, 4},
                          {"Multi", platform::kRegMultiSz, 5}};
    const HKEY key = this->Open("SOFTWARE\\RSContract\\Values");
    for (const Case& c : cases) {
        DWORD type = 0, size = 0;
        EXPECT_EQ(this->reg().RegQueryValueExA(key, c.name, &type, nullptr, &size), 0) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(size, c.size) << c.name;
    }
    this->reg().RegCloseKey(key);
}

TYPED_TEST(RegistryContract, DataAsTheAnsiFunctionsHandItOut) {
    const HKEY key = this->Open("SOFTWARE\\RSContract\\Values");
    EXPECT_EQ(this->Read(key, "Text"), std::string("hello\0", 6));
    EXPECT_EQ(this->Read(key, "Expand"), std::string("%A%\0", 4));
    EXPECT_EQ(this->Read(key, "Multi"), std::string("a\0b\0\0", 5));
    EXPECT_EQ(this->Read(key, "Bytes"), std::string("\1\2\3\4\5\6\7\x08", 8));
    EXPECT_EQ(this->Read(key, "Number"), std::string("\x70\x11\x01\x00", 4));
    // Text stored without its NUL: the size stays the data's own.
    EXPECT_EQ(this->Read(key, "NoNul").size(), 2u);
    this->reg().RegCloseKey(key);
}

TYPED_TEST(RegistryContract, BufferTooSmallGivesMoreDataAndTheNeededSize) {
    const HKEY key = this->Open("SOFTWARE\\RSContract\\Values");
    for (const char* name : {"Text", "Bytes", "Number"}) {
        BYTE buffer[2] = {0xAA, 0xAA};
        DWORD size = 2, type = 0;
        EXPECT_EQ(this->reg().RegQueryValueExA(key, name, &type, buffer, &size), 234) << name;
        DWORD needed = 0;
        this->reg().RegQueryValueExA(key, name, nullptr, nullptr, &needed);
        EXPECT_EQ(size, needed) << name;
    }
    DWORD type = 0;
    BYTE buffer[8];
    EXPECT_EQ(this->reg().RegQueryValueExA(key, "Text", &type, buffer, nullptr), 87);
    this->reg().RegCloseKey(key);
}

TYPED_TEST(RegistryContract, SetDwordAndReadItBack) {
    const HKEY key = this->Open("SOFTWARE\\RSContract\\Values", platform::kKeyAllAccess);
    const BYTE one[4] = {1, 0, 0, 0};
    EXPECT_EQ(this->reg().RegSetValueExA(key, "NewDword", platform::kRegDword, one, 4), 0);
    EXPECT_EQ(this->reg().RegSetValueExA(key, "Text", platform::kRegDword, one, 4), 0)
        << "a value changes its type when written";
    DWORD type = 0;
    EXPECT_EQ(this->Read(key, "NewDword", &type), std::string("\1\0\0\0", 4));
    EXPECT_EQ(type, platform::kRegDword);
    this->Read(key, "Text", &type);
    EXPECT_EQ(type, platform::kRegDword);
    this->reg().RegCloseKey(key);

    const HKEY readOnly = this->Open("SOFTWARE\\RSContract\\Values", platform::kKeyQueryValue);
    EXPECT_EQ(this->reg().RegSetValueExA(readOnly, "Other", platform::kRegDword, one, 4), 5);
    this->reg().RegCloseKey(readOnly);
}

}  // namespace
