#include "log/activity_log.h"

#include <vector>

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "registry/registry_access.h"
#include "run/end_of_run.h"

namespace activity_log {

namespace {

constexpr std::uint64_t kSizeLimit = 5000000;  // bytes; a larger file is started afresh

std::string CleanValue(std::string_view value) {
    std::string out(value);
    for (char& c : out) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return out;
}

}  // namespace

std::string VersionText(platform::Platform& platform) {
    const auto version = platform.self().Version();
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.revision);
}

std::string FormatLogLine(std::string_view dtime, std::string_view form, std::string_view module,
                          std::string_view type, std::string_view val1, std::string_view val2,
                          std::string_view val3, std::string_view val4) {
    std::string line = CleanValue(dtime);
    for (std::string_view value : {form, module, type, val1, val2, val3, val4}) {
        line += '\t';
        line += CleanValue(value);
    }
    return line;
}

void WriteLogLine(run::RunContext& ctx, std::string_view form, std::string_view module,
                  std::string_view type, std::string_view val1, std::string_view val2,
                  std::string_view val3, std::string_view val4) {
    try {
        if (ctx.logFilePath.empty()) return;
        auto& platform = ctx.platform;
        const std::string dtime =
            common::GeneralDateText(platform.clock(), platform.clock().GetLocalTime());
        const std::string line =
            FormatLogLine(dtime, form, module, type, val1, val2, val3, val4) + "\r\n";
        platform.files().AppendToFile(ctx.logFilePath.c_str(), line);
    } catch (...) {
        // A line that cannot be written is dropped; the caller goes on.
    }
}

void InitLogFile(run::RunContext& ctx) {
    auto& platform = ctx.platform;
    auto& fileSystem = ctx.fileSystem;
    const std::string regId =
        common::Trim(registry::GetString(ctx, platform::kHkeyLocalMachine, kAgentKey, "RegID"));
    ctx.installPath = common::Trim(
        registry::GetString(ctx, platform::kHkeyLocalMachine, kAgentKey, "InstallationPath"));
    if (!common::EndsWith(ctx.installPath, "\\")) ctx.installPath += '\\';

    if (!fileSystem.FolderExists(ctx.installPath) || regId.empty()) {
        run::EndProcess(run::RunEnd::AgentNotRegistered);
    }

    const std::string folder =
        ctx.installPath + "BaseComponents\\PatchManagement\\ApplicationLog\\";
    const std::string path = folder + "wppatchSch_" + regId + "_patchlog.log";
    // Below the drive root any user may make these folders, and a junction of theirs there
    // would have SYSTEM create, append to and delete a file of the log's name wherever it
    // points: the log's folders and the file are trusted only when no such link is among them.
    // Otherwise nothing is written and the run's lines are lost.
    for (const std::string& part : {ctx.installPath, ctx.installPath + "BaseComponents",
                                    ctx.installPath + "BaseComponents\\PatchManagement",
                                    folder.substr(0, folder.size() - 1), path}) {
        if (fileSystem.UntrustedReparsePoint(part)) return;
    }
    platform.files().MakeSureDirectoryPathExists(folder.c_str());  // a failure shows below

    // The file-system steps are not trapped by the procedure; a step that fails leaves the file
    // as it is and the run goes on with the log placed, so that its lines still have a home.
    try {
        if (fileSystem.FileExists(path) && fileSystem.GetFileSize(path) > kSizeLimit) {
            fileSystem.DeleteFile(path, true);
        }
    } catch (const common::Failure&) {
    }

    std::vector<platform::FindData> found;
    if (!platform.files().FindFiles(path.c_str(), &found)) {
        // The four header lines go out in one write, so a new file never holds half a header.
        const std::string header =
            "#Software: VORN.AgentMonitoring." + platform.self().ExeName() + "\r\n" +
            "#Version: " + VersionText(platform) + "\r\n" +
            "#Date: " + common::GeneralDateText(platform.clock(), platform.clock().GetLocalTime()) +
            "\r\n" + "#Fields: dtime\tform\tmodule\ttype\tval1\tval2\tval3\r\n";
        platform.files().AppendToFile(path.c_str(), header);
    }
    ctx.logFilePath = path;
}

}  // namespace activity_log
