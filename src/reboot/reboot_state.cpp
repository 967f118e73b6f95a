#include "reboot/reboot_state.h"

#include <string_view>
#include <vector>

#include "common/text.h"
#include "log/activity_log.h"
#include "platform/error_codes.h"
#include "run/failures.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

constexpr platform::DWORD kValueBufferSize = 5000;
constexpr const char* kStatus = "RebootStatus";

// Clears or writes the keys of the reboot state file one after another; a failing write is
// passed over and the next one made.
void WriteEach(run::RunContext& ctx,
               std::initializer_list<std::pair<const char*, const char*>> entries) {
    for (const auto& [key, value] : entries) {
        try {
            IniSetValue(ctx, kStatus, key, value, ctx.rebootIniPath);
        } catch (const std::exception&) {
        }
    }
}

std::string ReadOrEmpty(run::RunContext& ctx, const std::string& section, const char* key) {
    try {
        return IniGetValueEx(ctx, section, key, ctx.latestPromptFile);
    } catch (const std::exception&) {
        return {};
    }
}

// The owner check of one path, refusals remembered. A path that is missing or could not be
// read is not refused; a reparse point whose owner could not be read is.
bool RefusedPath(run::RunContext& ctx, const std::string& path, const char* procedure) {
    const std::string key = common::Upper(path);
    if (ctx.refusedReparsePoints.count(key) != 0) return true;
    if (!ctx.fileSystem.UntrustedReparsePoint(path)) return false;
    ctx.refusedReparsePoints.insert(key);
    WriteLogLine(ctx, "ModComman", procedure, "ERROR",
                 "Reparse point not made by an administrator, nothing written through it", path);
    return true;
}

}  // namespace

bool WriteRefusedAtReparsePoint(run::RunContext& ctx, const std::string& file,
                                const char* procedure) {
    std::string folder = ctx.dataFolder;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (folder.empty()) return false;
    const std::string upperFile = common::Upper(file);
    const std::string upperFolder = common::Upper(folder) + "\\";
    if (upperFile.compare(0, upperFolder.size(), upperFolder) != 0) return false;
    return RefusedPath(ctx, folder, procedure) || RefusedPath(ctx, file, procedure);
}

std::string IniGetValue(run::RunContext& ctx, const std::string& section, const std::string& key,
                        const std::string& file) {
    std::string result;
    try {
        std::vector<char> buffer(kValueBufferSize, '\0');
        const platform::DWORD count = ctx.platform.profile().GetPrivateProfileStringA(
            section.c_str(), key.c_str(), "", buffer.data(), kValueBufferSize, file.c_str());
        // A value of nothing but blanks and NULs reads as none.
        const std::string_view value(buffer.data(), std::min<std::size_t>(count, buffer.size()));
        if (value.find_first_not_of(std::string_view(" \0", 2)) == std::string_view::npos) {
            return {};
        }
        result = common::Trim(value);
    } catch (const std::exception&) {
        // Passed over: the result stays as far as it was formed.
    }
    return result;
}

std::string IniGetValueEx(run::RunContext& ctx, const std::string& section, const std::string& key,
                          const std::string& file) {
    return IniGetValue(ctx, section, key, file);
}

void IniSetValue(run::RunContext& ctx, const std::string& section, const std::string& key,
                 const std::string& value, const std::string& file) {
    if (WriteRefusedAtReparsePoint(ctx, file, "IniSetValue")) return;
    ctx.platform.profile().WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                                      file.c_str());
}

void IniRemoveSection(run::RunContext& ctx, const std::string& section, const std::string& file) {
    if (WriteRefusedAtReparsePoint(ctx, file, "IniSetValue")) return;
    ctx.platform.profile().WritePrivateProfileStringA(section.c_str(), nullptr, nullptr,
                                                      file.c_str());
}

SavedRebootState SaveRebootState(run::RunContext& ctx) {
    SavedRebootState saved;
    saved.existed = ctx.platform.files().ReadWholeFile(ctx.rebootIniPath.c_str(), &saved.bytes);
    if (saved.existed) return saved;
    saved.bytes.clear();
    const platform::DWORD error = ctx.platform.system().GetLastError();
    if (error != static_cast<platform::DWORD>(platform::kErrorFileNotFound) &&
        error != static_cast<platform::DWORD>(platform::kErrorPathNotFound)) {
        saved.readError = error;
    }
    return saved;
}

namespace {

template <class Failed>
void PutBack(run::RunContext& ctx, const SavedRebootState& saved, const char* procedure,
             const Failed& failed) {
    auto& files = ctx.platform.files();
    auto& system = ctx.platform.system();
    const std::string& path = ctx.rebootIniPath;
    if (saved.readError != 0) return failed(saved.readError);
    std::string now;
    const bool exists = files.ReadWholeFile(path.c_str(), &now);
    if (exists == saved.existed && now == saved.bytes) return;
    // Nothing was written through a link that is refused; one that is not was written through,
    // and renaming a file over it would not put its target back.
    if (WriteRefusedAtReparsePoint(ctx, path, procedure)) return;
    bool reparsePoint = false;
    bool adminOwned = false;
    files.GetReparsePointOwner(path.c_str(), &reparsePoint, &adminOwned);
    if (reparsePoint) return failed(static_cast<platform::DWORD>(platform::kErrorNotSupported));
    if (!saved.existed) {
        if (!files.DeleteFileA(path.c_str())) failed(system.GetLastError());
        return;
    }
    // The new file beside the state file, so that the rename stays on its volume. One left there
    // by a run stopped half-way is removed first.
    const std::string fresh = path + ".tmp";
    files.DeleteFileA(fresh.c_str());
    if (!files.WriteNewFile(fresh.c_str(), saved.bytes)) return failed(system.GetLastError());
    if (!files.MoveFileExA(fresh.c_str(), path.c_str(),
                           platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough)) {
        const platform::DWORD error = system.GetLastError();
        files.DeleteFileA(fresh.c_str());
        failed(error);
    }
}

}  // namespace

void RestoreRebootState(run::RunContext& ctx, const SavedRebootState& saved,
                        const char* procedure) {
    const std::string& path = ctx.rebootIniPath;
    try {
        PutBack(ctx, saved, procedure, [&](platform::DWORD error) {
            WriteLogLine(ctx, "ModReboot", procedure, "ERROR", "Reboot state file not restored.",
                         std::to_string(error), run::SystemMessage(ctx, error), path);
        });
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModReboot", procedure, "ERROR", "Reboot state file not restored.",
                     failure.number, failure.description, failure.lastError);
    }
}

void ReplaceForeignRebootState(run::RunContext& ctx, const char* procedure) {
    auto& files = ctx.platform.files();
    auto& system = ctx.platform.system();
    const std::string& path = ctx.rebootIniPath;
    if (files.GetFileAttributesA(path.c_str()) == platform::kInvalidFileAttributes) return;
    if (WriteRefusedAtReparsePoint(ctx, path, procedure)) return;
    bool reparsePoint = false;
    bool adminOwned = false;
    files.GetReparsePointOwner(path.c_str(), &reparsePoint, &adminOwned);
    if (reparsePoint) return;  // an administrator's link: the file it leads to is not ours
    // A security that cannot be read is no proof of the program's own: replaced too.
    platform::FileSecurity security;
    const platform::DWORD error = files.GetOwnerAndRights(path.c_str(), &security);
    std::string why;
    if (error != 0) {
        why = "security cannot be read, error " + std::to_string(error);
    } else if (!security.ownerTrusted) {
        why = "owned by " + security.ownerName;
    } else if (security.othersMayChange) {
        why = "others may change it";
    } else {
        return;
    }
    // What it says stays (the copy of a result file over it is the usual content anyway); an
    // unreadable one is replaced by an empty file.
    std::string bytes;
    if (!files.ReadWholeFile(path.c_str(), &bytes)) bytes.clear();
    const std::string fresh = path + ".tmp";
    files.DeleteFileA(fresh.c_str());
    // A read-only file is not replaced by a rename: its attributes go first.
    files.SetFileAttributesA(path.c_str(), platform::kFileAttributeNormal);
    bool replaced = files.WriteNewFile(fresh.c_str(), bytes);
    if (replaced) {
        replaced =
            files.MoveFileExA(fresh.c_str(), path.c_str(),
                              platform::kMovefileReplaceExisting | platform::kMovefileWriteThrough);
    }
    if (replaced) {
        WriteLogLine(ctx, "ModComman", procedure, "ERROR",
                     "Reboot state file not the program's own, replaced", path, why);
        return;
    }
    const platform::DWORD failed = system.GetLastError();
    files.DeleteFileA(fresh.c_str());
    WriteLogLine(ctx, "ModComman", procedure, "ERROR",
                 "Reboot state file not the program's own, not replaced", path,
                 why + "; error " + std::to_string(failed));
}

void CopyOverRebootState(run::RunContext& ctx, const std::string& resultFile) {
    // Before too: a state file left read-only, hidden or system by an earlier copy refuses the
    // copy itself.
    ctx.platform.files().SetFileAttributesA(ctx.rebootIniPath.c_str(),
                                            platform::kFileAttributeNormal);
    ctx.fileSystem.CopyFile(resultFile, ctx.rebootIniPath, true);
    ctx.platform.files().SetFileAttributesA(ctx.rebootIniPath.c_str(),
                                            platform::kFileAttributeNormal);
}

void FlushRBTINI(run::RunContext& ctx) {
    WriteLogLine(ctx, "ModComman", "FlushRBTINI", "INFO", "Clear Rbtini entries....");
    WriteEach(ctx, {{"PendingWPM", ""},
                    {"WPMRbtRequiredON", ""},
                    {"PendingWTPM", ""},
                    {"WTPMRbtRequiredON", ""},
                    {"POstponeDateTIme", ""},
                    {"PostponeAttempt", ""}});
}

void FlushWRBTINI(run::RunContext& ctx) {
    WriteLogLine(ctx, "ModComman", "FlushWRBTINI", "INFO", "Clean the reboot entries....");
    WriteEach(ctx, {{"PendingWPM", ""}, {"WPMRbtRequiredON", ""}, {"Pending", "0"}});
    if (!common::ReadsAsNumberOne(ctx.pendingWtpm)) {
        WriteEach(ctx, {{"POstponeDateTIme", "0"}, {"PostponeAttempt", ""}});
    }
}

void FlushWTPMRBTINI(run::RunContext& ctx) {
    WriteLogLine(ctx, "ModComman", "FlushWTPMRBTINI", "INFO", "Clean the reboot entries....");
    WriteEach(ctx, {{"PendingWTPM", ""}, {"WTPMRbtRequiredON", ""}, {"Pending", "0"}});
}

void ReadRbtINI(run::RunContext& ctx) {
    ctx.pendingWpm = ReadOrEmpty(ctx, kStatus, "PendingWPM");
    if (ctx.pendingWpm != "1") ctx.latestPromptFile = ctx.rebootIniPath;
    WriteLogLine(ctx, "ModComman", "ReadRbtINI", "INFO", "Reading INI for reboot Information.");
    ctx.pendingWpm = ReadOrEmpty(ctx, kStatus, "PendingWPM");
    ctx.wpmRbtRequiredOn = ReadOrEmpty(ctx, kStatus, "WPMRbtRequiredON");
    ctx.pendingWtpm = ReadOrEmpty(ctx, kStatus, "PendingWTPM");
    ctx.wtpmRbtRequiredOn = ReadOrEmpty(ctx, kStatus, "WTPMRbtRequiredON");
    // A value that is not a number leaves the postponement as it was.
    if (const auto number = common::ToNumber(ReadOrEmpty(ctx, kStatus, "POstponeDateTIme"))) {
        ctx.postponeDateTime = *number;
    }
    ctx.pendingFlag = ReadOrEmpty(ctx, kStatus, "Pending");
    ctx.postponeAttempt = ReadOrEmpty(ctx, kStatus, "PostponeAttempt");
    ctx.patchAssessRbt = ReadOrEmpty(ctx, "PatchAssess", "RBT");
}

}  // namespace reboot
