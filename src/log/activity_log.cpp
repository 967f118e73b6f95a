#include "log/activity_log.h"

#include <iterator>
#include <vector>

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "platform/handle_owner.h"
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

// One warning in the event log: the log is not written, and why. A record that cannot be made
// is lost too: the log has no other place to say so.
void ReportUnwritableLog(run::RunContext& ctx, const std::string& folder, const std::string& why) {
    auto& power = ctx.platform.power();
    try {
        const platform::OwnedEventSource log(power,
                                             power.RegisterEventSourceA(nullptr, kEventSource));
        power.ReportEventA(log.get(), platform::kEventlogWarningType, 0, 0,
                           {"Activity log not written, its folder is not protected: " + folder +
                            " (" + why + ")"});
    } catch (...) {
    }
}

// Below the drive root any user may make or change folders, and a junction of theirs on a log
// folder (a folder's owner stays SYSTEM when a user who may write it turns it into one) would
// have SYSTEM create, append to and delete a file of the log's name wherever it points. The log
// is written only where nobody but SYSTEM, the Administrators and TrustedInstaller may change a
// folder, from the installation folder down, judged as a program started as SYSTEM is judged;
// the folders the run makes get a DACL of their own. Decided once: every line then opens the
// file by its name in folders nobody else may change.
bool PlaceLogFolders(run::RunContext& ctx, const std::string& path) {
    auto& fileSystem = ctx.fileSystem;
    // The installation folder without its backslash, unless it is a drive root.
    const std::string& install = ctx.installPath;
    const bool root = install == "\\" || (install.size() == 3 && install[1] == ':');
    const std::string chain[] = {root ? install : install.substr(0, install.size() - 1),
                                 ctx.installPath + "BaseComponents",
                                 ctx.installPath + "BaseComponents\\PatchManagement",
                                 path.substr(0, path.find_last_of('\\'))};
    std::size_t existing = 0;
    while (existing < std::size(chain) && fileSystem.FolderExists(chain[existing])) ++existing;
    for (std::size_t i = 0; i < existing; ++i) {
        if (fileSystem.UntrustedReparsePoint(chain[i])) {
            ReportUnwritableLog(ctx, chain[i], "a link not made by an administrator");
            return false;
        }
    }
    if (fileSystem.UntrustedReparsePoint(path)) {
        ReportUnwritableLog(ctx, path, "a link not made by an administrator");
        return false;
    }
    // The rights test judges a path with the folder that holds it: the folders go in pairs
    // from the top (BaseComponents with the installation folder, ApplicationLog with
    // PatchManagement), a last one alone with its parent, the installation folder alone (named
    // with its backslash, it is both) when nothing of the log is there yet. A drive root as the
    // installation folder is judged too: Windows lets every user make folders there.
    const auto judge = [&](const std::string& folder) {
        const auto exposure = fileSystem.ExposedToOtherAccounts(folder);
        if (!exposure) return true;
        ReportUnwritableLog(
            ctx, exposure->path,
            exposure->why + (exposure->detail.empty() ? "" : " " + exposure->detail));
        return false;
    };
    for (std::size_t i = 1; i < existing; i += 2) {
        if (!judge(chain[i])) return false;
    }
    if (existing % 2 == 1 && !judge(existing == 1 ? install : chain[existing - 1])) return false;
    // What is missing is made inside a folder nobody else may change, so no link can stand in
    // its way; a failure shows as the lines that cannot be written.
    for (std::size_t i = existing; i < std::size(chain); ++i) {
        if (!ctx.platform.files().CreateProtectedDirectoryA(
                chain[i].c_str(), platform::FolderDacl::kSystemAdministratorsUsersRead)) {
            break;
        }
    }
    return true;
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
    if (!PlaceLogFolders(ctx, path)) return;

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
