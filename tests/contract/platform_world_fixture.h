// Whole-platform worlds for the suites of the COM-reached facets (XML DOM, the agent's
// components) and for procedures run against a real platform: natively the emulated host over a
// fresh machine folder, in the Windows test binary the real Win32 platform with the agent's
// stand-in COM servers (XmlEncryptor.dll, Postbird.dll beside the test binary) registered as
// regsvr32 registers them.
//
//     template <class World> class XmlContract : public ::testing::Test { protected: World world;
//     }; TYPED_TEST_SUITE(XmlContract, contract::PlatformWorlds, contract::WorldNames);
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "contract_fixture.h"
#include "platform/platform.h"

namespace contract {

class PlatformWorld {
public:
    PlatformWorld() = default;
    PlatformWorld(const PlatformWorld&) = delete;
    PlatformWorld& operator=(const PlatformWorld&) = delete;
    virtual ~PlatformWorld();

    platform::Platform& platform() { return *platform_; }
    virtual bool OnWine() const { return false; }

    // A log file for the procedures' lines (a Windows path of the world), and its lines as
    // written, each without its date-time column.
    const std::string& LogPath() const { return logPath_; }
    std::vector<std::string> LogLines() const;

protected:
    std::unique_ptr<platform::Platform> platform_;
    std::string logPath_;
    std::filesystem::path logHostPath_;
    std::filesystem::path cleanup_;
};

class EmulatedPlatformWorld final : public PlatformWorld {
public:
    static constexpr const char* kName = "Emulated";
    EmulatedPlatformWorld();
};

#ifdef RS_CONTRACT_WIN32
class Win32PlatformWorld final : public PlatformWorld {
public:
    static constexpr const char* kName = "Win32";
    Win32PlatformWorld();
    bool OnWine() const override;
};
using PlatformWorlds = ::testing::Types<Win32PlatformWorld>;
#else
using PlatformWorlds = ::testing::Types<EmulatedPlatformWorld>;
#endif

}  // namespace contract
