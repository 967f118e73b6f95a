// The process list and the handles the program opens on processes: what each right allows, and
// how Windows refuses what a handle does not allow. The running program itself is the process
// every world has.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/text.h"
#include "platform_world_fixture.h"

namespace {

using platform::DWORD;
using platform::HANDLE;

constexpr DWORD kSynchronize = 0x00100000;

template <class World>
class ProcessesContract : public ::testing::Test {
protected:
    platform::Processes& processes() { return world.platform().processes(); }
    platform::System& system() { return world.platform().system(); }
    HANDLE OpenOwn(DWORD access) {
        const HANDLE handle = processes().OpenProcess(access, false, world.OwnProcess().processId);
        EXPECT_NE(handle, 0u) << "error " << system().GetLastError();
        return handle;
    }
    World world;
};

TYPED_TEST_SUITE(ProcessesContract, contract::ProcessWorlds, contract::WorldNames);

// The toolhelp walk starts with the idle process, id 0, named "[System Process]", and lists the
// running program under its executable's file name.
TYPED_TEST(ProcessesContract, SnapshotListsTheIdleProcessAndTheProgram) {
    std::vector<platform::ProcessEntry> entries;
    ASSERT_TRUE(this->processes().SnapshotProcesses(&entries));
    ASSERT_FALSE(entries.empty());
    const bool idleFirst =
        entries.front().processId == 0 && entries.front().exeFile == "[System Process]";
    EXPECT_EQ(idleFirst, contract::WineAnswer(this->world, "idle process listed", true, false,
                                              "the list holds only Wine's own processes"));
    const platform::ProcessEntry own = this->world.OwnProcess();
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& entry) {
        return entry.processId == own.processId;
    });
    ASSERT_NE(found, entries.end());
    EXPECT_EQ(common::Upper(found->exeFile), common::Upper(own.exeFile));
}

// OpenProcess documents ERROR_INVALID_PARAMETER for the idle process (id 0) and for an id no
// process has.
TYPED_TEST(ProcessesContract, OpenProcessRefusals) {
    const struct {
        const char* name;
        DWORD processId;
    } cases[] = {
        {"idle process", 0},
        {"no such process", 0x7FFFFFF0u},
    };
    for (const auto& c : cases) {
        this->system().SetLastError(0);
        EXPECT_EQ(this->processes().OpenProcess(platform::kProcessQueryLimitedInformation, false,
                                                c.processId),
                  0u)
            << c.name;
        EXPECT_EQ(this->system().GetLastError(), 87u) << c.name;
    }
}

// A handle with PROCESS_QUERY_LIMITED_INFORMATION only: the image name and the exit code, but
// neither the end of the process nor a wait (ERROR_ACCESS_DENIED), nor the module list (which
// reads the process's memory).
TYPED_TEST(ProcessesContract, WhatALimitedHandleAllows) {
    auto& processes = this->processes();
    const HANDLE handle = this->OpenOwn(platform::kProcessQueryLimitedInformation);

    char path[600] = {};
    DWORD size = sizeof path;
    ASSERT_TRUE(processes.QueryFullProcessImageNameA(handle, path, &size));
    const std::string image(path);
    EXPECT_EQ(size, image.size());
    const std::string exe = this->world.OwnProcess().exeFile;
    ASSERT_GT(image.size(), exe.size());
    EXPECT_EQ(common::Upper(image.substr(image.size() - exe.size() - 1)),
              common::Upper("\\" + exe));
    EXPECT_EQ(image[1], ':');

    // One character short of the path and its NUL (kernel32 QueryFullProcessImageName tests).
    char shortBuffer[600] = {};
    DWORD shortSize = static_cast<DWORD>(image.size());
    this->system().SetLastError(0);
    EXPECT_FALSE(processes.QueryFullProcessImageNameA(handle, shortBuffer, &shortSize));
    EXPECT_EQ(this->system().GetLastError(), 122u);

    DWORD exitCode = 0;
    ASSERT_TRUE(processes.GetExitCodeProcess(handle, &exitCode));
    EXPECT_EQ(exitCode, platform::kStillActive);

    const struct {
        const char* name;
        bool (*call)(platform::Processes&, HANDLE);
    } refused[] = {
        {"TerminateProcess",
         [](platform::Processes& p, HANDLE h) { return p.TerminateProcess(h, 99); }},
        {"WaitForSingleObject",
         [](platform::Processes& p, HANDLE h) {
             return p.WaitForSingleObject(h, 0) != platform::kWaitFailed;
         }},
        {"GetModuleFileNameEx",
         [](platform::Processes& p, HANDLE h) {
             char buffer[600];
             return p.GetModuleFileNameExA(h, buffer, sizeof buffer) != 0;
         }},
    };
    for (const auto& c : refused) {
        this->system().SetLastError(0);
        EXPECT_FALSE(c.call(processes, handle)) << c.name;
        EXPECT_EQ(this->system().GetLastError(), 5u) << c.name;
    }
    EXPECT_TRUE(processes.CloseHandle(handle));
}

// With SYNCHRONIZE a wait on the running program runs out; a closed handle is no handle.
TYPED_TEST(ProcessesContract, WaitAndClose) {
    auto& processes = this->processes();
    const HANDLE handle = this->OpenOwn(platform::kProcessQueryLimitedInformation | kSynchronize);
    EXPECT_EQ(processes.WaitForSingleObject(handle, 0), platform::kWaitTimeout);
    EXPECT_TRUE(processes.CloseHandle(handle));
    this->system().SetLastError(0);
    EXPECT_FALSE(processes.CloseHandle(handle));
    EXPECT_EQ(this->system().GetLastError(), 6u);  // ERROR_INVALID_HANDLE
}

// A program that is not there: with SEE_MASK_FLAG_NO_UI the shell fails with
// ERROR_FILE_NOT_FOUND and hands out no process (shell32 ShellExecute tests).
TYPED_TEST(ProcessesContract, ShellExecuteOfAMissingProgram) {
    std::string folder = this->world.LogPath();
    folder.erase(folder.find_last_of('\\') + 1);
    platform::ShellExecuteInfo info;
    info.fMask = platform::kSeeMaskNoCloseProcess | platform::kSeeMaskNoAsync |
                 platform::kSeeMaskFlagNoUi | platform::kSeeMaskNoZoneChecks;
    info.lpVerb = "open";
    info.lpFile = folder + "NoSuchProgram.exe";
    info.nShow = platform::kSwShowNormal;
    this->system().SetLastError(0);
    EXPECT_FALSE(this->processes().ShellExecuteExA(&info));
    EXPECT_EQ(this->system().GetLastError(), 2u);
    EXPECT_EQ(info.hProcess, 0u);
}

}  // namespace
