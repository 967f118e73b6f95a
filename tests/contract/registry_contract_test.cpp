// The registry facet as the program calls it, pinned against the emulation and (in the Windows
// test binary) the real registry functions. Keys live below SOFTWARE\RSContract.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
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
    // A size query of a missing value answers size 0; a read leaves the size as it was
    // (advapi32 registry tests, test_query_value_ex).
    DWORD type = 99, size = 0xDEADBEEF;
    EXPECT_EQ(this->reg().RegQueryValueExA(key, "Missing", &type, nullptr, &size), 2);
    EXPECT_EQ(size, 0u);
    BYTE buffer[8];
    size = sizeof buffer;
    EXPECT_EQ(this->reg().RegQueryValueExA(key, "Missing", &type, buffer, &size), 2);
    EXPECT_EQ(size, sizeof buffer);
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
    // The type and the size may be one variable (advapi32 registry tests, test_query_value_ex).
    DWORD both = 4;
    BYTE number[4] = {};
    EXPECT_EQ(this->reg().RegQueryValueExA(key, "Number", &both, number, &both), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(number), 4), std::string("\x70\x11\x01\x00", 4));
    this->reg().RegCloseKey(key);
}

// The open calls' edges (advapi32 registry tests, test_reg_open_key): RegOpenKeyA without a
// sub-key hands back the key it was given, even no key at all; a sub-key that starts with a
// backslash is a bad path name; a handle that is no key fails before the caller's variable is
// touched, while a key that is missing sets it to NULL.
TYPED_TEST(RegistryContract, OpenArgumentEdges) {
    enum class Handle { kRoot, kNull, kAsItWas, kAny };
    constexpr HKEY kBefore = 0x4321;
    struct Case {
        const char* name;
        bool legacy;
        HKEY root;
        const char* subKey;
        LONG result;
        Handle handle;
        Handle wineHandle = Handle::kAny;
        const char* wineNote = nullptr;
    };
    constexpr const char* kWineClears = "Wine sets the caller's variable to NULL";
    const Case cases[] = {
        {"no sub-key", true, kHkeyLocalMachine, nullptr, 0, Handle::kRoot},
        {"empty sub-key", true, kHkeyLocalMachine, "", 0, Handle::kRoot},
        {"no key and no sub-key", true, 0, nullptr, 0, Handle::kNull},
        {"no key", true, 0, "SOFTWARE\\RSContract\\Values", 6, Handle::kAsItWas, Handle::kNull,
         kWineClears},
        {"no key, RegOpenKeyExA", false, 0, "", 6, Handle::kAsItWas, Handle::kNull, kWineClears},
        {"missing key", true, kHkeyLocalMachine, "SOFTWARE\\RSContract\\Nope", 2, Handle::kNull},
        {"sub-key from a backslash", true, kHkeyLocalMachine, "\\SOFTWARE\\RSContract\\Values", 161,
         Handle::kAny},
    };
    for (const Case& c : cases) {
        HKEY key = kBefore;
        const LONG result =
            c.legacy ? this->reg().RegOpenKeyA(c.root, c.subKey, &key)
                     : this->reg().RegOpenKeyExA(c.root, c.subKey, 0, platform::kKeyRead, &key);
        EXPECT_EQ(result, c.result) << c.name;
        const Handle handle =
            contract::WineAnswer(this->world, c.name, c.handle, c.wineHandle, c.wineNote);
        const HKEY want[] = {c.root, 0, kBefore, key};
        EXPECT_EQ(key, want[static_cast<int>(handle)]) << c.name;
        if (result == 0 && key != c.root) this->reg().RegCloseKey(key);
    }
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
    // The key written is dated by the write: its last-write time is the clock's, in UTC.
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    std::uint64_t written = 0;
    EXPECT_EQ(this->reg().RegQueryInfoKeyA(key, &written), 0);
    EXPECT_LE(std::llabs((static_cast<std::int64_t>(written) - k1601To1970) / 10000000 - now), 5)
        << "last-write time " << written;
    this->reg().RegCloseKey(key);

    const HKEY readOnly = this->Open("SOFTWARE\\RSContract\\Values", platform::kKeyQueryValue);
    EXPECT_EQ(this->reg().RegSetValueExA(readOnly, "Other", platform::kRegDword, one, 4), 5);
    this->reg().RegCloseKey(readOnly);
}

// Text set without its NUL and read back. A size that leaves out the NUL right after the text
// is taken with it; text that really has no NUL is stored so, and the ANSI read hands a NUL
// after it when the buffer has room, with the size still the data's own; empty text leaves the
// buffer alone. (advapi32 registry tests, test_set_value: "off-by-one size", "zero-byte"
// string; RegQueryValueExA's conversion appends the NUL as NT does.)
TYPED_TEST(RegistryContract, TextSetWithoutItsNul) {
    struct Case {
        const char* name;
        const char* data;  // what lies in memory
        DWORD size;        // the size handed over
        DWORD type;
        std::string want;  // the bytes read back, as many as the size handed back
        BYTE after;        // the buffer's byte after them
    };
    const Case cases[] = {
        {"OffByOne", "abc\0", 3, platform::kRegSz, std::string("abc\0", 4), 0xCC},
        {"Counted", "abc\0", 4, platform::kRegSz, std::string("abc\0", 4), 0xCC},
        {"Unterminated", "abcX", 3, platform::kRegSz, "abc", 0},
        {"ExpandOffByOne", "%A%\0", 3, platform::kRegExpandSz, std::string("%A%\0", 4), 0xCC},
        {"ZeroBytes", "", 0, platform::kRegSz, "", 0xCC},
    };
    const HKEY key = this->Open("SOFTWARE\\RSContract\\Values", platform::kKeyAllAccess);
    for (const Case& c : cases) {
        EXPECT_EQ(this->reg().RegSetValueExA(key, c.name, c.type,
                                             reinterpret_cast<const BYTE*>(c.data), c.size),
                  0)
            << c.name;
        DWORD type = 0, size = 0;
        EXPECT_EQ(this->reg().RegQueryValueExA(key, c.name, &type, nullptr, &size), 0) << c.name;
        EXPECT_EQ(size, c.want.size()) << c.name << ": size asked alone";
        std::vector<BYTE> buffer(16, 0xCC);
        size = static_cast<DWORD>(buffer.size());
        EXPECT_EQ(this->reg().RegQueryValueExA(key, c.name, &type, buffer.data(), &size), 0)
            << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        ASSERT_EQ(size, c.want.size()) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), size), c.want) << c.name;
        EXPECT_EQ(buffer[size], c.after) << c.name << ": the byte after the data";
    }
    this->reg().RegCloseKey(key);
}

// An open relative to an open key stays in that key's view: from the 64-bit view,
// KEY_WOW64_32KEY leads to the 32-bit twin of the whole path; from the 32-bit view,
// KEY_WOW64_64KEY does not lead out, and its WOW6432Node has none below it. (advapi32 registry
// tests, test_redirection, the Windows 7 and later answers.)
TYPED_TEST(RegistryContract, OpensRelativeToAKeyOfAView) {
    constexpr DWORD k64 = platform::kKeyWow64_64Key;
    constexpr DWORD k32 = platform::kKeyWow64_32Key;
    struct Case {
        const char* name;
        const char* parent;
        DWORD parentView;
        const char* child;
        DWORD childView;
        std::string want;  // "Which" of the key reached, "" when it is not found
        std::string wineWant = {};
        const char* wineNote = nullptr;
    };
    // A 64-bit program on Wine 8 stays in the parent's 64-bit view (advapi32 registry tests,
    // test_redirection: todo_wine on 64-bit); a 32-bit one gets Windows' answer.
    const char* wine64 = contract::kWindowsTestBinary && sizeof(void*) == 8
                             ? "a 64-bit program on Wine keeps the parent's 64-bit view"
                             : nullptr;
    const Case cases[] = {
        {"64 parent, plain", "SOFTWARE", k64, "RSContract\\View", 0, "64"},
        {"64 parent, 64", "SOFTWARE", k64, "RSContract\\View", k64, "64"},
        {"64 parent, 32", "SOFTWARE", k64, "RSContract\\View", k32, "32", "64", wine64},
        {"64 parent, WOW6432Node named", "SOFTWARE", k64, "WOW6432Node\\RSContract\\View", 0, "32"},
        {"32 parent, plain", "SOFTWARE", k32, "RSContract\\View", 0, "32"},
        {"32 parent, 64", "SOFTWARE", k32, "RSContract\\View", k64, "32"},
        {"32 parent, WOW6432Node named", "SOFTWARE", k32, "WOW6432Node\\RSContract\\View", 0, ""},
        {"64 subkey parent, plain", "SOFTWARE\\RSContract", k64, "View", 0, "64"},
        {"64 subkey parent, 32", "SOFTWARE\\RSContract", k64, "View", k32, "32", "64", wine64},
        {"32 subkey parent, 64", "SOFTWARE\\RSContract", k32, "View", k64, "32"},
    };
    for (const Case& c : cases) {
        const HKEY parent = this->Open(c.parent, platform::kKeyRead | c.parentView);
        HKEY child = 0;
        const LONG result =
            this->reg().RegOpenKeyExA(parent, c.child, 0, platform::kKeyRead | c.childView, &child);
        std::string which;
        if (result == 0) {
            const std::string text = this->Read(child, "Which");
            which = text.substr(0, text.find('\0'));
            this->reg().RegCloseKey(child);
        } else {
            EXPECT_EQ(result, 2) << c.name;
        }
        EXPECT_EQ(which, contract::WineAnswer(this->world, c.name, c.want, c.wineWant, c.wineNote))
            << c.name;
        this->reg().RegCloseKey(parent);
    }
}

// A key opened for setting values only refuses to be read, with ERROR_ACCESS_DENIED, the size
// query included; one opened with a generic right reads as the key rights it stands for.
// (RegQueryValueEx: "The key must have been opened with the KEY_QUERY_VALUE access right.")
TYPED_TEST(RegistryContract, WhatAHandleMayDoFollowsItsAccess) {
    struct Case {
        const char* name;
        DWORD access;
        LONG query;
        LONG set;
    };
    const Case cases[] = {
        {"KEY_SET_VALUE", platform::kKeySetValue, 5, 0},
        {"KEY_QUERY_VALUE", platform::kKeyQueryValue, 0, 5},
        {"KEY_READ", platform::kKeyRead, 0, 5},
        {"GENERIC_READ", 0x80000000u, 0, 5},
        {"GENERIC_WRITE", 0x40000000u, 5, 0},
        {"KEY_ALL_ACCESS", platform::kKeyAllAccess, 0, 0},
    };
    const BYTE one[4] = {1, 0, 0, 0};
    for (const Case& c : cases) {
        const HKEY key = this->Open("SOFTWARE\\RSContract\\Values", c.access);
        DWORD type = 0, size = 0;
        EXPECT_EQ(this->reg().RegQueryValueExA(key, "Text", &type, nullptr, &size), c.query)
            << c.name;
        BYTE buffer[16] = {};
        size = sizeof buffer;
        EXPECT_EQ(this->reg().RegQueryValueExA(key, "Text", &type, buffer, &size), c.query)
            << c.name;
        EXPECT_EQ(this->reg().RegSetValueExA(key, "Set", platform::kRegDword, one, 4), c.set)
            << c.name;
        this->reg().RegCloseKey(key);
    }
}

// Windows documents no order for either list (Wine keeps values sorted by name, Windows in the
// order they were made): the lists are compared as sets.
TYPED_TEST(RegistryContract, EnumerationListsEverySubkeyAndValue) {
    struct Case {
        const char* path;
        bool subKeys;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"SOFTWARE\\RSContract", true, {"Values", "View"}},
        {"SOFTWARE\\RSContract\\Values",
         false,
         {"Bytes", "Empty", "Expand", "Multi", "NoNul", "Number", "Text"}},
        {"SOFTWARE\\RSContract\\View", true, {}},
    };
    for (const Case& c : cases) {
        const HKEY key = this->Open(c.path, platform::kKeyRead | platform::kKeyWow64_64Key);
        std::vector<std::string> names;
        std::string name;
        LONG status = 0;
        for (DWORD i = 0; i < 20; ++i) {
            status = c.subKeys ? this->reg().RegEnumKeyExA(key, i, &name)
                               : this->reg().RegEnumValueA(key, i, &name);
            if (status != 0) break;
            names.push_back(name);
        }
        EXPECT_EQ(status, platform::kErrorNoMoreItems) << c.path;
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.names) << c.path;
        this->reg().RegCloseKey(key);
    }
    const HKEY setOnly = this->Open("SOFTWARE\\RSContract", platform::kKeySetValue);
    std::string name;
    EXPECT_EQ(this->reg().RegEnumKeyExA(setOnly, 0, &name), 5);
    EXPECT_EQ(this->reg().RegEnumValueA(setOnly, 0, &name), 5);
    this->reg().RegCloseKey(setOnly);
}

}  // namespace
