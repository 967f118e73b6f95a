#include "reboot/prompt_files.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "platform/sid_text.h"
#include "reboot/reboot_state.h"
#include "reboot/restart_guard.h"
#include "run/failures.h"
#include "run/file_system.h"
#include "session/accounts.h"

namespace reboot {

using activity_log::WriteLogLine;

namespace {

// File times on FAT are kept to two seconds, rounded up: a file just written may be dated that
// much ahead of the clock.
constexpr std::uint64_t kFutureTolerance = 2 * 10'000'000ULL;  // FILETIME ticks

void Skipped(run::RunContext& ctx, const char* why, const std::string& path,
             const std::string& detail = {}) {
    WriteLogLine(ctx, "ModComman", "ReadLatestBellhopFile", "ERROR", why, path, detail);
}

// The account a result file is named after: what follows the prefix, up to ".ini".
std::string NamedAccount(const std::string& name, const std::string& prefix) {
    const std::size_t at = common::Upper(name).find(common::Upper(prefix));
    const std::size_t from = at + prefix.size();
    const std::size_t end = name.size() - 4;
    return from < end ? name.substr(from, end - from) : std::string();
}

// The SID of the account, looked up once a run by name; empty when it cannot be.
const platform::Sid& AccountSid(run::RunContext& ctx, const std::string& account) {
    const std::string key = common::Upper(account);
    auto known = ctx.accountSids.find(key);
    if (known == ctx.accountSids.end()) {
        platform::Sid sid;
        if (ctx.platform.files().LookupAccountNameA(account.c_str(), &sid) != 0) sid.clear();
        known = ctx.accountSids.emplace(key, std::move(sid)).first;
    }
    return known->second;
}

// Whose answer may decide a restart: the reboot state file's own; that of a file SYSTEM, the
// Administrators (or another trusted account) wrote; and the prompted account's file, named
// after it and owned by it (the SIDs compared, never the names). Any other account's answer,
// or one whose owner cannot be read, is passed over with a line.
bool MayDecide(run::RunContext& ctx, const std::string& folder, const std::string& prefix,
               const std::string& name) {
    const std::string path = folder + name;
    if (common::Upper(path) == common::Upper(ctx.rebootIniPath)) return true;
    platform::FileSecurity security;
    const platform::DWORD error = ctx.platform.files().GetOwnerAndRights(path.c_str(), &security);
    if (error != 0) {
        Skipped(ctx, "Result file whose owner cannot be read, not taken", path,
                std::to_string(error));
        return false;
    }
    if (security.ownerTrusted) return true;
    const std::string& account = ctx.promptAccount;
    if (!account.empty() && !security.owner.empty() &&
        common::Upper(NamedAccount(name, prefix)) == common::Upper(account)) {
        const platform::Sid& prompted = AccountSid(ctx, account);
        if (!prompted.empty() && ctx.platform.files().EqualSid(security.owner, prompted))
            return true;
    }
    Skipped(ctx, "Result file owned by another account, not taken", path,
            security.ownerName.empty() ? platform::SidText(security.owner) : security.ownerName);
    return false;
}

// A local time to the second as one number that orders as the times do.
std::uint64_t OrderedSecond(const platform::SystemTime& t) {
    const auto u = [](int field) { return static_cast<std::uint64_t>(field); };
    return ((((u(t.year) * 16 + u(t.month)) * 32 + u(t.day)) * 32 + u(t.hour)) * 64 + u(t.minute)) *
               64 +
           u(t.second);
}

// The newest result file of the folder by last-write second (of the same second, the one listed
// first) among those that are believable: none dated after the current time, and the newest of
// them one that may decide. Those passed over get a line each; empty when none is
// left.
std::optional<std::string> NewestBelievable(run::RunContext& ctx, const std::string& folder,
                                            const std::string& prefix) {
    std::vector<run::FolderFile> files = ctx.fileSystem.GetFolderFiles(folder);
    // Each believable file with its local second as one number, newest first; a stable sort
    // keeps the listing order within one second.
    std::vector<std::pair<std::uint64_t, const run::FolderFile*>> found;
    const std::string upperPrefix = common::Upper(prefix);
    const std::uint64_t latest = ctx.platform.clock().GetSystemTimeAsFileTime() + kFutureTolerance;
    std::string upperName;  // one buffer for every name
    for (const auto& file : files) {
        upperName = file.name;
        common::UpperInPlace(upperName);
        if (!common::EndsWith(upperName, ".INI") || !common::Contains(upperName, upperPrefix)) {
            continue;
        }
        if (file.lastWriteTime > latest) {
            Skipped(ctx, "Result file dated after the current time, not taken", folder + file.name);
            continue;
        }
        found.emplace_back(OrderedSecond(file.dateLastModified), &file);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& entry : found) {
        if (MayDecide(ctx, folder, prefix, entry.second->name)) return entry.second->name;
    }
    return std::nullopt;
}

}  // namespace

std::string ReadLatestBellhopFile(run::RunContext& ctx, const std::string& folder,
                                  const std::string& prefix) {
    std::string result;
    try {
        auto& fileSystem = ctx.fileSystem;
        const std::string userName = session::fncGetLoggedOnUserName(ctx);
        if (prefix == "Bellhop_") ctx.rebootIniPath = folder + prefix + userName + ".ini";

        std::string candidate = prefix + userName + ".ini";
        if (auto newest = NewestBelievable(ctx, folder, prefix)) candidate = *newest;
        result = folder + candidate;

        if (prefix == "Bellhop_") ReplaceForeignRebootState(ctx, "ReadLatestBellhopFile");
        if (!fileSystem.FileExists(ctx.rebootIniPath)) {
            IniSetValue(ctx, "RebootStatus", "TimerPM", "", ctx.rebootIniPath);
        }
        // The reboot state file is itself a result file; when it is the newest there is nothing
        // to copy, and a copy onto itself would only be refused.
        if (fileSystem.FileExists(result) &&
            common::Upper(result) != common::Upper(ctx.rebootIniPath) &&
            !WriteRefusedAtReparsePoint(ctx, ctx.rebootIniPath, "ReadLatestBellhopFile")) {
            // The restart guard is the state file's own: the copy neither loses nor brings one.
            const RestartGuardTexts guard = ReadRestartGuardTexts(ctx);
            CopyOverRebootState(ctx, result);
            PutBackRestartGuardTexts(ctx, guard);
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModComman", "ReadLatestBellhopFile", "ERROR", failure.number,
                     failure.description, failure.lastError);
    }
    return result;
}

}  // namespace reboot
