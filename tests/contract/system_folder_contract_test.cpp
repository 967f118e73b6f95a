// The system folder and the WOW64 questions of the files facet, pinned against the emulation
// and, in the Windows test binaries, the test program itself: the x86_64 one is no WOW64
// process, the i686 one is (a 32-bit process on 64-bit Windows, with the emulated machine alike).
#include <cctype>
#include <string>

#include "contract_fixture.h"

namespace {

using platform::DWORD;

template <class World>
class SystemFolderContract : public ::testing::Test {
protected:
    World world;
};

TYPED_TEST_SUITE(SystemFolderContract, contract::ContractWorlds, contract::WorldNames);

TYPED_TEST(SystemFolderContract, SystemDirectoryAndItsBufferSize) {
    auto& files = this->world.files();
    char buffer[260] = {};
    const DWORD length = files.GetSystemDirectoryA(buffer, sizeof buffer);
    ASSERT_GT(length, 3u);
    const std::string folder(buffer, length);
    EXPECT_EQ(folder.size(), std::string(buffer).size()) << "the count leaves out the NUL";
    EXPECT_EQ(folder.substr(1, 2), ":\\") << folder;
    std::string tail = folder.substr(folder.size() - 9);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(tail, "\\system32") << folder;
    // Too small a buffer: the size needed, the NUL included, and nothing stored.
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(files.GetSystemDirectoryA(small, sizeof small), length + 1);
    EXPECT_EQ(files.GetSystemDirectoryA(buffer, length), length + 1);
}

// "?" stands for the current drive's letter, which the test program does not choose.
TYPED_TEST(SystemFolderContract, FullPathNames) {
    const struct {
        const char* path;
        const char* full;
    } cases[] = {
        {"C:\\a\\.\\b\\..\\c.ini", "C:\\a\\c.ini"},
        {"C:/a/b\\", "C:\\a\\b\\"},
        {"C:\\dir.\\log.txt. .", "C:\\dir\\log.txt"},
        {"\\Configuration\\wpConfig.xml", "?:\\Configuration\\wpConfig.xml"},
        {"\\", "?:\\"},
        {"\\\\server\\share\\x\\..\\y", "\\\\server\\share\\y"},
    };
    for (const auto& row : cases) {
        std::string full;
        ASSERT_TRUE(this->world.files().GetFullPathNameA(row.path, &full)) << row.path;
        if (row.full[0] == '?' && !full.empty() &&
            std::isalpha(static_cast<unsigned char>(full[0])))
            full[0] = '?';
        EXPECT_EQ(full, row.full) << row.path;
    }
}

TYPED_TEST(SystemFolderContract, Wow64ProcessSwitchesItsRedirection) {
    if (!contract::ContractWorld::kWow64Process) GTEST_SKIP() << "a 64-bit test program";
    auto& files = this->world.files();
    bool wow64 = false;
    ASSERT_TRUE(files.IsWow64Process(&wow64));
    EXPECT_TRUE(wow64);
    void* state = nullptr;
    ASSERT_TRUE(files.Wow64DisableWow64FsRedirection(&state));
    // Switched off twice, the second state says it was off already; reverting that keeps it off,
    // reverting the first puts it back.
    void* again = nullptr;
    ASSERT_TRUE(files.Wow64DisableWow64FsRedirection(&again));
    EXPECT_TRUE(files.Wow64RevertWow64FsRedirection(again));
    EXPECT_TRUE(files.Wow64RevertWow64FsRedirection(state));
}

TYPED_TEST(SystemFolderContract, NoWow64ProcessHasNoRedirectionToSwitch) {
    if (contract::ContractWorld::kWow64Process) GTEST_SKIP() << "a 32-bit test program";
    auto& files = this->world.files();
    bool wow64 = true;
    ASSERT_TRUE(files.IsWow64Process(&wow64));
    EXPECT_FALSE(wow64);
    void* state = nullptr;
    this->world.SetLastError(0);
    if (files.Wow64DisableWow64FsRedirection(&state)) {
        // A 64-bit program on 64-bit Windows may be let through; it must then be able to revert.
        EXPECT_TRUE(files.Wow64RevertWow64FsRedirection(state));
    } else {
        EXPECT_EQ(this->world.LastError(), static_cast<DWORD>(platform::kErrorInvalidFunction));
    }
}

}  // namespace
