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

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
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

    // What the suites of the process-level facets set up and compare with. The emulated machine
    // stands for the Windows the Windows test binary runs on: an ordinary account ("tester")
    // with its own session at the console, not the system account.
    //
    // Gives the world's program an environment variable (before the case calls its facets).
    virtual void SetVariable(const std::string& name, const std::string& value) = 0;
    // The running program's own entry in the process list.
    virtual platform::ProcessEntry OwnProcess() const = 0;
    // A platform over the same Windows, as a second copy of the program has it.
    virtual std::unique_ptr<platform::Platform> AnotherPlatform() = 0;
    // An enabled task of that name in the Task Scheduler's root folder, removed with the world.
    // False when the world cannot register one.
    virtual bool MakeTask(const std::string& name) = 0;
    // An event of the instance mutex's name, made before the program asks, as any account may
    // make one; it goes with the world.
    virtual void TakeInstanceNameWithAnEvent() = 0;

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

    void SetVariable(const std::string& name, const std::string& value) override;
    platform::ProcessEntry OwnProcess() const override;
    std::unique_ptr<platform::Platform> AnotherPlatform() override;
    bool MakeTask(const std::string& name) override;
    void TakeInstanceNameWithAnEvent() override;

private:
    // Writes machine.ini from the world's facts and opens the machine again.
    void Reopen();
    std::vector<std::pair<std::string, std::string>> variables_;
    bool instanceNameTaken_ = false;
};

#ifdef RS_CONTRACT_WIN32
class Win32PlatformWorld final : public PlatformWorld {
public:
    static constexpr const char* kName = "Win32";
    Win32PlatformWorld();
    ~Win32PlatformWorld() override;
    bool OnWine() const override;

    void SetVariable(const std::string& name, const std::string& value) override;
    platform::ProcessEntry OwnProcess() const override;
    std::unique_ptr<platform::Platform> AnotherPlatform() override;
    bool MakeTask(const std::string& name) override;
    void TakeInstanceNameWithAnEvent() override;

private:
    std::vector<std::string> variables_;
    std::vector<std::string> tasks_;
    void* instanceNameEvent_ = nullptr;
};
// The suites of the COM-reached facets run on the real platform only: the Windows build of the
// emulation binds no COM class.
using PlatformWorlds = ::testing::Types<Win32PlatformWorld>;
// The suites of the process-level facets hold both to the same cases.
using ProcessWorlds = ::testing::Types<EmulatedPlatformWorld, Win32PlatformWorld>;
#else
using PlatformWorlds = ::testing::Types<EmulatedPlatformWorld>;
using ProcessWorlds = ::testing::Types<EmulatedPlatformWorld>;
#endif

// The time since the host system started, in seconds, as the host itself counts it (past the
// facets: /proc/uptime on Linux, GetTickCount64 on Windows).
std::int64_t HostUpTimeSeconds();

}  // namespace contract
