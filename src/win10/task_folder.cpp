#include "win10/task_folder.h"

#include <vector>

#include "common/failure.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"
#include "run/file_system.h"

namespace win10 {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kForm = "ModComman";
constexpr platform::DWORD kSysDirBuffer = 255;

}  // namespace

std::string fncGetSysDir(run::RunContext& ctx) {
    try {
        std::vector<char> buffer(kSysDirBuffer, ' ');
        const platform::DWORD count =
            ctx.platform.files().GetSystemDirectoryA(buffer.data(), kSysDirBuffer);
        // The first `count` characters: all of the buffer when the call asks for a bigger one.
        const std::string whole(buffer.begin(), buffer.end());
        return whole.substr(0, count) + "\\";
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, kForm, "fncGetSysDir", "ERROR", "Retriving Windows Directory",
                     failure.number, failure.description, failure.lastError);
        return {};
    }
}

bool fncIs64Bit(run::RunContext& ctx) {
    bool wow64 = false;
    ctx.platform.files().IsWow64Process(&wow64);  // a failed call leaves the flag false
    return wow64;
}

void subRenameTaskFolderForRebootJob(run::RunContext& ctx, bool suppress) {
    constexpr const char* kModule = "subRenameTaskFolderForRebootJob";
    auto& files = ctx.platform.files();
    auto& fileSystem = ctx.fileSystem;
    const auto info = [&](const std::string& message) {
        WriteLogLine(ctx, kForm, kModule, "INFO", message);
    };
    platform::Wow64RedirectionOff redirection(files);
    try {
        info("Rename \"Reboot\" Folder");
        if (fncIs64Bit(ctx)) redirection.SwitchOff();
        const std::string folder =
            run::FileSystem::GetDriveName(fncGetSysDir(ctx)) + kTaskStoreFolder;
        const std::string task = folder + "Reboot";
        const std::string backup = folder + "Reboot.bak";
        if (suppress) {
            if (fileSystem.FileExists(task)) {
                fileSystem.MoveFile(task, backup);
                info("Reboot job renamed successfully");
            } else {
                info(" File path not found - " + task);
            }
            if (!fileSystem.FolderExists(task)) {
                // Not verified: the success line is written whatever the call returns.
                files.MakeSureDirectoryPathExists((task + "\\").c_str());
                info("Reboot folder created successfully");
            } else {
                info("Reboot folder already exists");
            }
        } else {
            if (fileSystem.FolderExists(task)) {
                fileSystem.DeleteFolder(task, false);
                info("Reboot folder deleted successfully");
            } else {
                info("Reboot folder doesn't exists");
            }
            if (!fileSystem.FileExists(backup)) {
                info(" File path not found - " + backup);
            } else {
                fileSystem.MoveFile(backup, task);
                info("Reboot job renamed successfully");
            }
        }
        // Restored whenever it was switched off, not only when a second WOW64 query agrees.
        redirection.Restore();
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        redirection.Restore();
        WriteLogLine(ctx, kForm, kModule, "ERROR", failure.number, failure.description,
                     failure.threadError);
    }
}

}  // namespace win10
