// Worlds for the contract suites: each one is a Windows to call through the platform facets, with
// a scratch folder whose files the suites set up and inspect byte for byte behind the facets'
// backs. Natively there is one world, the emulated machine; the Windows test binary
// (RS_CONTRACT_WIN32) holds the real Win32 implementation next to it, so that the same cases
// pin both.
//
// A suite is a typed test over ContractWorlds:
//
//     template <class World> class FilesContract : public ::testing::Test { protected: World world;
//     }; TYPED_TEST_SUITE(FilesContract, contract::ContractWorlds, contract::WorldNames);
//     TYPED_TEST(FilesContract, DeleteFile) { for (const auto& c : kCases) { ... } }
//
// Cases where Wine is known to answer otherwise than Windows carry Windows' answer, Wine's answer
// and a note. They run in every world: the emulation and Windows itself must give Windows' answer,
// Wine must give exactly the answer recorded for it (see WineAnswer), so a Wine that starts to
// agree with Windows, or gives a third answer, fails the case loudly.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/types.h"

namespace contract {

#ifdef RS_CONTRACT_WIN32
inline constexpr bool kWindowsTestBinary = true;
#else
inline constexpr bool kWindowsTestBinary = false;
#endif

class ContractWorld {
public:
    ContractWorld() = default;
    ContractWorld(const ContractWorld&) = delete;
    ContractWorld& operator=(const ContractWorld&) = delete;
    virtual ~ContractWorld() = default;

    virtual platform::Profile& profile() = 0;
    virtual platform::Registry& registry() = 0;
    virtual platform::Files& files() = 0;

    // The thread's last-error value as the world's facets leave it.
    virtual platform::DWORD LastError() = 0;
    virtual void SetLastError(platform::DWORD error) = 0;
    // CloseHandle of a file handle the files facet gave out (OpenFileToHold).
    virtual bool CloseFileHandle(platform::HANDLE handle) = 0;

    // True for the real Win32 implementation when the Windows below it is Wine.
    virtual bool OnWine() const { return false; }

    // A UTF-8 text in the code page the world's A functions take: as it is on the emulated host,
    // whose ANSI code page is UTF-8; empty when the world's code page lacks one of its characters.
    virtual std::string AnsiText(const std::string& utf8) const { return utf8; }

    // Whether the world's program is a 32-bit process on 64-bit Windows, as the shipping program
    // is on agents' machines: true in the i686 Windows test binary (run on 64-bit Windows only,
    // with the emulated machine made alike), false natively and in the x86_64 one.
    static constexpr bool kWow64Process = kWindowsTestBinary && sizeof(void*) == 4;

    // Replaces HKEY_LOCAL_MACHINE content with the keys of a regedit export text.
    // False when the world cannot do it (yet).
    virtual bool SeedRegistry(const std::string& regExportText) = 0;

    // The Windows path of a file or folder in the scratch folder ("C:\...\relative"); relative
    // uses '\'. The scratch folder exists and is empty when the world is made.
    std::string WindowsPath(const std::string& relative) const;

    // Raw access to the scratch files, past the facets.
    void WriteRaw(const std::string& windowsPath, const std::string& bytes);
    std::optional<std::string> ReadRaw(const std::string& windowsPath) const;
    void MakeFolder(const std::string& windowsPath);
    // Names in a folder, sorted.
    std::vector<std::string> ListRaw(const std::string& windowsPath) const;
    // Replaces the DACL of a file or folder: sddl (a protected DACL in the security descriptor
    // language) in the Win32 world; in the emulated one, the accounts of a [FileRights] fact
    // that stands for it. False when the world cannot do it.
    virtual bool SetRights(const std::string& windowsPath, const char* sddl,
                           const char* emulatedAccounts) = 0;
    // The DACL of a file or folder as read back: in the Win32 world its text in the security
    // descriptor language (without "AI", which tells only how its entries came); in the
    // emulated one, the accounts of the [FileRights] fact that stands for it, empty for none.
    virtual std::string RightsText(const std::string& windowsPath) = 0;
    // A second name for an existing file (a hard link). False when the world cannot make one.
    bool MakeHardLink(const std::string& existing, const std::string& link);
    // Gives the file the read-only attribute. False when this world's host ignores it for
    // writing (Wine running as root): cases that need it are then left out.
    bool MakeReadOnly(const std::string& windowsPath);

protected:
    // Where a Windows path of the world lies on the machine running the test.
    virtual std::filesystem::path HostPath(const std::string& windowsPath) const = 0;
    // Whether writes to a file without the owner's write permission fail in this world.
    virtual bool EnforcesReadOnly(const std::filesystem::path& hostFile) const;

    // Set by the concrete world: the scratch folder as Windows names it (ends with '\').
    std::string scratch_;
    // Removed (with everything in it) when the world goes.
    std::filesystem::path cleanup_;

    void RemoveCleanupFolder();
};

// A machine folder in the host's temporary folder, with the emulated facets over it.
class EmulatedWorld final : public ContractWorld {
public:
    static constexpr const char* kName = "Emulated";
    EmulatedWorld();
    ~EmulatedWorld() override;

    platform::Profile& profile() override;
    platform::Registry& registry() override;
    platform::Files& files() override;
    platform::DWORD LastError() override;
    void SetLastError(platform::DWORD error) override;
    bool CloseFileHandle(platform::HANDLE handle) override;
    bool SeedRegistry(const std::string& regExportText) override;
    bool SetRights(const std::string& windowsPath, const char* sddl,
                   const char* emulatedAccounts) override;
    std::string RightsText(const std::string& windowsPath) override;

protected:
    std::filesystem::path HostPath(const std::string& windowsPath) const override;
    bool EnforcesReadOnly(const std::filesystem::path& hostFile) const override;

private:
    void MakeFacets();

    struct Parts;
    std::unique_ptr<Parts> parts_;
};

#ifdef RS_CONTRACT_WIN32
// The real Win32 facets over a folder in the user's temporary folder.
class Win32World final : public ContractWorld {
public:
    static constexpr const char* kName = "Win32";
    Win32World();
    ~Win32World() override;

    platform::Profile& profile() override;
    platform::Registry& registry() override;
    platform::Files& files() override;
    platform::DWORD LastError() override;
    void SetLastError(platform::DWORD error) override;
    bool CloseFileHandle(platform::HANDLE handle) override;
    bool OnWine() const override;
    std::string AnsiText(const std::string& utf8) const override;
    bool SeedRegistry(const std::string& regExportText) override;
    bool SetRights(const std::string& windowsPath, const char* sddl,
                   const char* emulatedAccounts) override;
    std::string RightsText(const std::string& windowsPath) override;

protected:
    std::filesystem::path HostPath(const std::string& windowsPath) const override;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

using ContractWorlds = ::testing::Types<EmulatedWorld, Win32World>;
#else
using ContractWorlds = ::testing::Types<EmulatedWorld>;
#endif

struct WorldNames {
    template <class World>
    static std::string GetName(int) {
        return World::kName;
    }
};

// A new, empty folder in the host's temporary folder, its name starting with prefix.
std::filesystem::path FreshTemporaryFolder(const std::string& prefix);

// Whether this world must give the answer recorded as Wine's rather than Windows' answer: true on
// Wine for a case with a note (printed as an expected difference in the test's output).
bool ExpectsWineAnswer(bool onWine, const char* caseName, const char* wineNote);

// The answer a case pins in this world: windows, or wine where the world runs on Wine and the case
// records that Wine answers otherwise (wineNote set). A recorded Wine answer equal to Windows' is a
// fault of the case itself.
//
//     EXPECT_EQ(got, contract::WineAnswer(world, c.name, c.want, c.wineWant, c.wineNote));
template <class World, class T>
const T& WineAnswer(const World& world, const char* caseName, const T& windows, const T& wine,
                    const char* wineNote) {
    if (wineNote) {
        EXPECT_NE(windows, wine) << caseName << ": Wine's recorded answer is Windows' own";
    }
    return ExpectsWineAnswer(world.OnWine(), caseName, wineNote) ? wine : windows;
}

// Bytes as C-style escapes (the first few hundred), for readable failure messages.
std::string Escaped(const std::string& bytes);

}  // namespace contract
