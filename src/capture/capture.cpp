// The capture: what both modes read of a machine (the registry keys below the agent's and the
// system's keys they use, the agent's files and folders, the facts of the clock, the session, the
// accounts and the processes), read through the program's own platform facets so that a read
// fails where the program's would, with every failed read named beside what was read.
#include "capture/capture.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "common/dates.h"
#include "common/text.h"
#include "config/config_protection.h"
#include "flow/startup.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "platform/sid_text.h"
#include "registry/registry_access.h"
#include "run/end_of_run.h"
#include "run/run_context.h"
#include "win10/reboot_task.h"
#include "win10/suppression.h"

namespace capture {

namespace {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;
using platform::emulated::RegKey;
using platform::emulated::RegValue;

// Below the agent key the agent keeps a few levels at most; deeper keys are not the program's.
constexpr int kMaxKeyDepth = 4;
constexpr std::size_t kLogLines = 200;
// The update stack's state variables (Windows 10 and 11).
constexpr const char* kUpdateStateKey = "SOFTWARE\\Microsoft\\WindowsUpdate\\UX\\StateVariables";
// The reboot task as the Task Scheduler names it.
const std::string kRebootTaskPath =
    std::string(win10::kRebootTaskFolder) + "\\" + win10::kRebootTaskName;

// The whole seconds since 1970 of a FILETIME.
std::int64_t UnixSeconds(std::uint64_t fileTime) {
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    return (static_cast<std::int64_t>(fileTime) - k1601To1970) / 10000000LL;
}

// yyyy-mm-dd hh:mm:ss of seconds since 1970.
std::string DateTimeText(std::int64_t seconds) {
    const platform::SystemTime t =
        common::TimeOfSeconds(seconds + common::DaysFromCivil(1970, 1, 1) * 86400);
    char text[80];  // room for any int in each field, as the compiler counts
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

class Reader {
public:
    explicit Reader(platform::Platform& platform) : platform_(platform), ctx_(platform) {}

    MachineCapture Read() {
        // COM as the program sets it up, for the WMI and Task Scheduler queries.
        if (const LONG result = platform_.system().InitializeComSecurity(); result != 0) {
            Fail("COM security", result);
        }
        Registry();
        Facts();
        AgentFiles();
        Accounts();
        TaskFiles();
        return std::move(capture_);
    }

private:
    // A read through a link that the system could not follow names the link, once.
    void Fail(const std::string& what, long error) {
        const std::string name =
            error == platform::kErrorCantResolveFilename ? UnresolvedLink(what) : what;
        const std::string text = FailureText(error);
        for (const auto& line : capture_.failed) {
            if (line.name == name && line.value == text) return;
        }
        capture_.failed.push_back({"Failed", name, text});
    }
    // The first part of a path, from its drive down, that is a reparse point the system cannot
    // follow; the path itself when there is none to be found.
    std::string UnresolvedLink(const std::string& path) {
        if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return path;
        auto& files = platform_.files();
        for (std::size_t end = path.find('\\', 3);; end = path.find('\\', end + 1)) {
            std::string part = path.substr(0, end);
            bool reparsePoint = false;
            bool adminOwned = false;
            if (files.GetReparsePointOwner(part.c_str(), &reparsePoint, &adminOwned) == 0 &&
                reparsePoint &&
                files.GetFileAttributesA(part.c_str()) == platform::kInvalidFileAttributes &&
                platform_.system().GetLastError() == platform::kErrorCantResolveFilename) {
                return part;
            }
            if (end == std::string::npos) return path;
        }
    }
    void Fact(const char* section, const std::string& name, const std::string& value) {
        capture_.facts.push_back({section, name, value});
    }
    void Note(const char* section, const std::string& name, const std::string& value) {
        capture_.notes.push_back({section, name, value});
    }

    // --- registry --------------------------------------------------------------------------

    // The key at `path` of one view, stored where that view keeps it in the hive (the 32-bit
    // view of SOFTWARE below SOFTWARE\WOW6432Node). With `names` only those values are read,
    // else every value and, to kMaxKeyDepth, every subkey.
    void Key(const std::string& path, DWORD view, const std::vector<std::string>& names = {},
             bool optional = false) {
        const bool view32 = view == platform::kKeyWow64_32Key;
        std::string stored = path;
        if (view32) stored.insert(std::string_view("SOFTWARE").size(), "\\WOW6432Node");
        const std::string label = "HKLM\\" + stored;
        auto& reg = platform_.registry();
        platform::OwnedKey key(reg);
        const LONG status = reg.RegOpenKeyExA(platform::kHkeyLocalMachine, path.c_str(), 0,
                                              platform::kKeyRead | view, key.put());
        if (status != platform::kErrorSuccess) {
            if (!optional || status != platform::kErrorFileNotFound) Fail(label, status);
            return;
        }
        RegKey& into = capture_.hive.Create(stored);
        if (names.empty()) {
            Tree(key.get(), label, into, 0);
        } else {
            for (const std::string& name : names) Value(key.get(), label, name, into);
        }
    }

    void Tree(HKEY key, const std::string& label, RegKey& into, int depth) {
        auto& reg = platform_.registry();
        std::string name;
        for (DWORD i = 0; reg.RegEnumValueA(key, i, &name) == platform::kErrorSuccess; ++i) {
            Value(key, label, name, into);
        }
        if (depth >= kMaxKeyDepth) return;
        for (DWORD i = 0; reg.RegEnumKeyExA(key, i, &name) == platform::kErrorSuccess; ++i) {
            platform::OwnedKey sub(reg);
            const LONG status =
                reg.RegOpenKeyExA(key, name.c_str(), 0, platform::kKeyRead, sub.put());
            if (status != platform::kErrorSuccess) {
                Fail(label + "\\" + name, status);
                continue;
            }
            Tree(sub.get(), label + "\\" + name, into.SubKey(name), depth + 1);
        }
    }

    void Value(HKEY key, const std::string& label, const std::string& name, RegKey& into) {
        auto& reg = platform_.registry();
        DWORD type = 0, size = 0;
        LONG status = reg.RegQueryValueExA(key, name.c_str(), &type, nullptr, &size);
        std::string data(size, '\0');
        if (status == platform::kErrorSuccess && size > 0) {
            status = reg.RegQueryValueExA(key, name.c_str(), &type,
                                          reinterpret_cast<platform::BYTE*>(data.data()), &size);
            data.resize(size);
        }
        if (status != platform::kErrorSuccess) {
            Fail(label + "|" + name, status);
            return;
        }
        RegValue value{name, type, std::move(data)};
        if (RegValue* existing = into.FindValue(name)) {
            *existing = std::move(value);
        } else {
            into.values.push_back(std::move(value));
        }
    }

    void Registry() {
        const std::string updates =
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update";
        const std::string policy = win10::kPolicyKey;
        for (const DWORD view : {platform::kKeyWow64_64Key, platform::kKeyWow64_32Key}) {
            Key(activity_log::kAgentKey, view);
            Key("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", view,
                {"ProductName", "CurrentBuild", "DisplayVersion"});
            Key(updates, view, {}, view == platform::kKeyWow64_32Key);
            Key(policy.substr(0, policy.rfind('\\')), view, {}, true);
        }
        // Signals of a pending restart that only the report reads.
        const DWORD native = platform::kKeyWow64_64Key;
        const std::string servicing =
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based "
            "Servicing\\RebootPending";
        const std::string session = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
        const std::string names = "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\";
        Key(servicing, native, {}, true);
        Key(session, native, {"PendingFileRenameOperations"});
        Key("SOFTWARE\\Microsoft\\Updates", native, {"UpdateExeVolatile"});
        Key(names + "ActiveComputerName", native, {"ComputerName"});
        Key(names + "ComputerName", native, {"ComputerName"});
        // The update stack's own record of a pending restart ("RebootRequired" = 1), which
        // stays when a plain restart has removed the Windows Update flag's key.
        Key(kUpdateStateKey, native, {"RebootRequired"}, true);
        // Since when each signal has been set: its key's last-write time.
        for (const std::string& path : {updates + "\\RebootRequired", servicing, session,
                                        std::string("SOFTWARE\\Microsoft\\Updates"),
                                        names + "ComputerName", std::string(kUpdateStateKey)}) {
            KeyTime(path);
        }
    }

    // [KeyTimes] <key path below HKLM>=<UTC time> of a key of the native view, when the key is
    // there and its time is known (the emulated host may not know it: then no fact, never a
    // made-up time).
    void KeyTime(const std::string& path) {
        auto& reg = platform_.registry();
        platform::OwnedKey key(reg);
        if (reg.RegOpenKeyExA(platform::kHkeyLocalMachine, path.c_str(), 0,
                              platform::kKeyQueryValue | platform::kKeyWow64_64Key,
                              key.put()) != platform::kErrorSuccess) {
            return;  // absent, or its refusal noted with the key's own read
        }
        std::uint64_t written = 0;
        if (const LONG status = reg.RegQueryInfoKeyA(key.get(), &written);
            status != platform::kErrorSuccess) {
            Fail("KeyTimes.HKLM\\" + path, status);
        } else if (written != 0) {
            Fact("KeyTimes", path, DateTimeText(UnixSeconds(written)));
        }
    }

    // --- facts -----------------------------------------------------------------------------

    void Facts() {
        auto& clock = platform_.clock();
        const platform::SystemTime now = clock.GetLocalTime();
        char text[80];  // room for any int in each field, as the compiler counts
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month,
                      now.day, now.hour, now.minute, now.second);
        Fact("Clock", "Now", text);
        Note("Capture", "LocalTime", text);
        // UTC, and the zone's bias as Windows states it: minutes to add to local time for UTC.
        // The bias comes from the zone's own conversion of that instant, so that a pinned local
        // clock (the emulated host's [Clock] Now) does not enter it.
        const std::uint64_t fileTime = clock.GetSystemTimeAsFileTime();
        const std::int64_t utc = UnixSeconds(fileTime);
        Note("Capture", "UtcTime", DateTimeText(utc));
        platform::SystemTime localOfUtc{};
        if (clock.FileTimeToLocalSystemTime(fileTime, &localOfUtc)) {
            const std::int64_t local =
                common::SecondsOf(localOfUtc) - common::DaysFromCivil(1970, 1, 1) * 86400;
            const std::int64_t bias = utc - local;
            Note("Capture", "Bias", std::to_string((bias + (bias >= 0 ? 30 : -30)) / 60));
        } else {
            Fail("Clock.Bias", platform_.system().GetLastError());
        }

        for (const char* name : {"ALLUSERSPROFILE", "COMPUTERNAME", "USERDOMAIN"}) {
            std::string value;
            if (platform_.environment().GetEnvironmentVariableA(name, &value)) {
                Fact("Environment", name, value);
            } else {
                Fail(std::string("Environment.") + name, platform_.system().GetLastError());
            }
        }

        auto& files = platform_.files();
        bool wow64 = false;
        if (files.IsWow64Process(&wow64)) {
            Fact("System", "Wow64", wow64 ? "1" : "0");
        } else {
            Fail("System.Wow64", platform_.system().GetLastError());
        }
        Fact("System", "TickCount64", std::to_string(clock.GetTickCount64()));
        char folder[260] = {};
        const DWORD length = files.GetSystemDirectoryA(folder, sizeof folder);
        systemFolder_ = length > 0 && length < sizeof folder ? folder : "";
        Fact("System", "SystemDirectory", systemFolder_);
        Wmi("SELECT * FROM Win32_OperatingSystem", "LastBootUpTime");
        Wmi("Select * From Win32_PerfFormattedData_PerfOS_System", "SystemUpTime");

        char account[257] = {};
        DWORD size = sizeof account;
        if (platform_.session().GetUserNameA(account, &size)) {
            Fact("Account", "UserName", account);
        } else {
            Fail("Account.UserName", platform_.system().GetLastError());
        }

        const DWORD console = platform_.session().WTSGetActiveConsoleSessionId();
        constexpr DWORD kNoSession = 0xFFFFFFFFu;
        Fact("Console", "SessionId", console == kNoSession ? "" : std::to_string(console));
        std::string user;
        if (console == kNoSession) {
        } else if (platform_.session().WTSQuerySessionUserName(console, &user)) {
            if (!user.empty()) Fact("Console", "User", user);
        } else {
            Fail("Console.User", platform_.system().GetLastError());
        }

        std::vector<platform::SessionEntry> sessions;
        if (!platform_.session().WTSEnumerateSessionsA(&sessions)) {
            Fail("Sessions", platform_.system().GetLastError());
        } else if (sessions.empty()) {
            // Windows always lists session 0; a list without any session says nothing, and the
            // replay takes the console's session from [Console].
            Fail("Sessions", platform::kErrorFileNotFound);
        } else {
            for (const auto& session : sessions) {
                std::string name;
                if (!platform_.session().WTSQuerySessionUserName(session.sessionId, &name)) {
                    Fail("Sessions." + std::to_string(session.sessionId),
                         platform_.system().GetLastError());
                }
                Fact("Sessions", std::to_string(session.sessionId),
                     std::to_string(session.state) + (name.empty() ? "" : "," + name));
            }
        }

        std::vector<platform::ProcessEntry> processes;
        if (platform_.processes().SnapshotProcesses(&processes)) {
            const std::string self = common::Upper(platform_.self().ExeName());
            for (const auto& process : processes) {
                // The capture itself is no process of the machine it reads.
                const std::string upper = common::Upper(process.exeFile);
                if (upper == self || upper == self + ".EXE") continue;
                // The idle process, pid 0, is in every list; the host adds it itself.
                if (process.processId == 0) continue;
                Fact("Processes", std::to_string(process.processId), process.exeFile);
                if (upper == "EXPLORER.EXE") Owner(process.processId);
            }
        } else {
            Fail("Processes", platform_.system().GetLastError());
        }

        bool inJob = false;
        DWORD limits = 0;
        if (platform_.processes().QueryOwnJob(&inJob, &limits)) {
            if (inJob) {
                Fact("Job", "InJob", "1");
                Fact("Job", "BreakawayOk", limits & platform::kJobLimitBreakawayOk ? "1" : "0");
                Fact("Job", "SilentBreakawayOk",
                     limits & platform::kJobLimitSilentBreakawayOk ? "1" : "0");
                Fact("Job", "KillOnClose", limits & platform::kJobLimitKillOnJobClose ? "1" : "0");
            }
        } else {
            Fail("Job", platform_.system().GetLastError());
        }

        std::unique_ptr<platform::RegisteredTask> task;
        const LONG result =
            platform_.tasks().GetTask(win10::kRebootTaskFolder, win10::kRebootTaskName, &task);
        LONG state = 0;
        if (result != 0) {
            Fail("Tasks." + kRebootTaskPath, result);
        } else if (const LONG read = task->get_State(&state); read != 0) {
            Fail("Tasks." + kRebootTaskPath, read);
        } else if (state != platform::kTaskStateDisabled) {
            // A disabled task says so in its definition file; any other state is a fact.
            Fact("Tasks", kRebootTaskPath, std::to_string(state));
        }
    }

    // The account a shell process runs as: opened for querying only, as the program opens
    // processes, so that a security product sees no more than that.
    void Owner(DWORD processId) {
        auto& processes = platform_.processes();
        const std::string what = "ProcessOwners." + std::to_string(processId);
        platform::OwnedHandle process(
            processes,
            processes.OpenProcess(platform::kProcessQueryLimitedInformation, false, processId));
        platform::OwnedHandle token(processes);
        std::string user;
        if (!process ||
            !platform_.session().OpenProcessToken(process.get(), platform::kTokenQuery,
                                                  token.put()) ||
            !platform_.session().GetTokenUserName(token.get(), &user)) {
            Fail(what, platform_.system().GetLastError());
            return;
        }
        Fact("ProcessOwners", std::to_string(processId), user);
    }

    // What WMI answers for one property, in the form machine.ini gives it: the text, "(null)"
    // for a null value, "(none)" for no object, and empty for a query that fails.
    void Wmi(const std::string& query, const std::string& property) {
        auto& wmi = platform_.wmi();
        platform::OwnedWmiService service(wmi);
        LONG result = wmi.BindMoniker(".", "root\\cimv2", platform::kImpersonationLevelImpersonate,
                                      service.put());
        std::vector<platform::WmiObject> objects;
        if (result == 0) result = wmi.ExecQuery(service.get(), query, {property}, &objects);
        std::string value;
        if (result != 0) {
            Fail("System." + property, result);
        } else if (objects.empty()) {
            value = "(none)";
        } else {
            const auto found = objects.front().properties.find(property);
            value = found == objects.front().properties.end() || !found->second ? "(null)"
                                                                                : *found->second;
        }
        Fact("System", property, value);
    }

    // --- files -----------------------------------------------------------------------------

    // The path spelt as the file system spells each of its parts (a part that cannot be found
    // keeps the spelling given), so that the capture's folder holds the names the machine does.
    std::string TrueCase(const std::string& path) {
        std::string result;
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('\\', start), path.size());
            std::string part = path.substr(start, end - start);
            std::vector<platform::FindData> found;
            const bool named = !part.empty() && part.find(':') == std::string::npos &&
                               part.find_first_of("*?") == std::string::npos;
            if (named && platform_.files().FindFiles((result + part).c_str(), &found) &&
                found.size() == 1) {
                part = found.front().fileName;
            }
            result += part;
            if (end < path.size()) result += '\\';
            start = end + 1;
        }
        return result;
    }

    // Where the capture's folder keeps a path that was read: with its drive (an installation
    // folder at the drive root has none: "\Configuration\..." is on the current drive) and
    // spelt as the machine spells it.
    std::string Stored(const std::string& path) {
        std::string full;
        if (!platform_.files().GetFullPathNameA(path.c_str(), &full)) {
            Fail("FullPath." + path, platform_.system().GetLastError());
            full = path;
        }
        return TrueCase(full);
    }

    // A folder that exists (a folder of the agent, or the task store): kept even when empty.
    void Folder(std::string path) {
        while (common::EndsWith(path, "\\")) path.pop_back();
        std::vector<platform::FindData> found;
        if (platform_.files().FindFiles(path.c_str(), &found) && found.size() == 1 &&
            (found.front().attributes & platform::kFileAttributeDirectory)) {
            capture_.folders.push_back(Stored(path));
        }
    }

    // One file with its last-write time; `optional` files that are absent are no failure.
    bool File(const std::string& path, bool optional = false, std::size_t lastLines = 0) {
        auto& files = platform_.files();
        std::vector<platform::FindData> found;
        if (!files.FindFiles(path.c_str(), &found) || found.empty()) {
            const DWORD error = platform_.system().GetLastError();
            if (!optional || (error != 2 && error != 3)) Fail(Stored(path), error);
            return false;
        }
        if (found.front().attributes & platform::kFileAttributeDirectory) {
            capture_.folders.push_back(Stored(path));
            return true;
        }
        CapturedFile file{Stored(path), {}, found.front().lastWriteTime};
        if (!files.ReadWholeFile(path.c_str(), &file.bytes)) {
            Fail(path, platform_.system().GetLastError());
            return false;
        }
        if (lastLines) file.bytes = LastLines(file.bytes, lastLines);
        capture_.files.push_back(std::move(file));
        return true;
    }

    // Only whether it exists, its size and its version ("size" alone without a resource).
    void Program(const std::string& path) {
        std::vector<platform::FindData> found;
        if (platform_.files().FindFiles(path.c_str(), &found) && !found.empty()) {
            std::string text = std::to_string(found.front().size);
            platform::ProgramVersion version;
            if (platform_.files().GetFileVersion(path.c_str(), &version)) {
                text += "," + std::to_string(version.major) + "." + std::to_string(version.minor) +
                        "." + std::to_string(version.revision);
            }
            Note("Programs", Stored(path), text);
        } else {
            const DWORD error = platform_.system().GetLastError();
            Note("Programs", Stored(path), FailureText(error));
        }
    }

    // The owner and the rights the program checks before it takes a result file or starts a
    // program as SYSTEM, as facts: the owner only when it is no trusted account (SYSTEM, the
    // Administrators and their members, TrustedInstaller, the capture's own account: the facts'
    // default owner stands for them), by name with its SID under [Accounts], or by its SID alone
    // when no account has it; with `rights`, who may change it ("Users" standing for any account
    // that is not trusted).
    void Security(const std::string& path, bool rights) {
        platform::FileSecurity security;
        if (const DWORD error = platform_.files().GetOwnerAndRights(path.c_str(), &security)) {
            if (error != 2 && error != 3) Fail("Security." + path, error);
            return;
        }
        const std::string stored = Stored(path);
        if (!security.ownerTrusted) {
            const std::string sid = platform::SidText(security.owner);
            if (!security.ownerName.empty()) {
                Fact("FileOwners", stored, security.ownerName);
                if (!sid.empty())
                    ownerSids_[common::Upper(security.ownerName)] = {security.ownerName, sid};
            } else {
                Fact("FileOwners", stored, sid.empty() ? "unknown-account" : sid);
            }
        }
        if (rights)
            Fact("FileRights", stored,
                 security.othersMayChange ? "Administrators,Users" : "Administrators");
    }

    // The accounts the program compares by SID: each user named in the facts (the console's,
    // the sessions', the shells' owners, the program's own) and each owner noted, with the SID
    // its name gives (empty for a name no account has); and the direct members of the
    // Administrators group, whose files are trusted.
    void Accounts() {
        std::map<std::string, std::string> names;  // upper case -> as written
        for (const auto& fact : capture_.facts) {
            const std::string section = common::Upper(fact.section);
            std::string name;
            if (section == "CONSOLE" && common::Upper(fact.name) == "USER") name = fact.value;
            if (section == "ACCOUNT" && common::Upper(fact.name) == "USERNAME") name = fact.value;
            if (section == "PROCESSOWNERS") name = fact.value;
            if (section == "SESSIONS" && fact.value.find(',') != std::string::npos)
                name = fact.value.substr(fact.value.find(',') + 1);
            if (!name.empty()) names.emplace(common::Upper(name), name);
        }
        for (const auto& [upper, owner] : ownerSids_) names.erase(upper);
        for (const auto& [upper, name] : names) {
            platform::Sid sid;
            const DWORD error = platform_.files().LookupAccountNameA(name.c_str(), &sid);
            if (error == 0 || error == static_cast<DWORD>(platform::kErrorNoneMapped)) {
                Fact("Accounts", name, platform::SidText(sid));
            } else {
                Fail("Accounts." + name, error);
            }
        }
        for (const auto& [upper, owner] : ownerSids_) Fact("Accounts", owner.first, owner.second);
        std::vector<platform::Sid> members;
        if (const DWORD error = platform_.files().GetAdministratorsMembers(&members)) {
            Fail("LocalGroups.Administrators", error);
        } else {
            std::string list;
            for (const platform::Sid& member : members) {
                const std::string text = platform::SidText(member);
                if (text.empty()) continue;
                if (!list.empty()) list += ',';
                list += text;
            }
            Fact("LocalGroups", "Administrators", list);
        }
    }

    void AgentFiles() {
        const std::string key = activity_log::kAgentKey;
        std::string install = common::Trim(
            registry::GetString(ctx_, platform::kHkeyLocalMachine, key, "InstallationPath"));
        if (!common::EndsWith(install, "\\")) install += '\\';
        const std::string regId =
            common::Trim(registry::GetString(ctx_, platform::kHkeyLocalMachine, key, "RegID"));
        ctx_.installPath = install;
        capture_.installPath = install;
        Note("Capture", "InstallationPath", install);

        const std::string management = install + "BaseComponents\\PatchManagement\\";
        Folder(install);
        // The endpoint table is looked for in the installation folder of either view's agent key.
        std::vector<std::string> tables{install};
        for (const char* path : {"SOFTWARE\\VERUZE", "SOFTWARE\\WOW6432Node\\VERUZE"}) {
            const RegKey* agent = capture_.hive.Find(path);
            const RegValue* value =
                agent ? const_cast<RegKey*>(agent)->FindValue("InstallationPath") : nullptr;
            if (!value) continue;
            std::string folder = common::Trim(value->data.substr(0, value->data.find('\0')));
            if (!common::EndsWith(folder, "\\")) folder += '\\';
            if (std::find(tables.begin(), tables.end(), folder) == tables.end())
                tables.push_back(folder);
        }
        for (const std::string& folder : tables) File(folder + "Configuration\\Hostbook.ini", true);
        File(management + "SchPatch.ini");
        File(management + "ScanFld\\PatchScanDate.ini", true);
        File(management + "ApplicationLog\\wppatchSch_" + regId + "_patchlog.log", true, kLogLines);
        const std::string config = install + "Configuration\\wpConfig.xml";
        try {
            // Deciphered by the agent's own library, as the program reads it; stored clear.
            std::string clear = config::EncDecXML(ctx_, false, config);
            const std::string stored = Stored(config);
            capture_.files.push_back({stored, std::move(clear), 0});
            Note("Capture", "ClearConfiguration", stored);
        } catch (const run::EndOfRun&) {
            Fail(config, platform_.system().GetLastError());
        }
        Program(install + "Bellhop.exe");
        Program(management + "Quillon.exe");
        // What the program checks before it starts or loads one as SYSTEM: the file and each
        // folder above it up to the drive root's child, from the top down, each once.
        std::set<std::string> checked;
        for (const std::string& file : {install + "Bellhop.exe", management + "Quillon.exe",
                                        install + config::kCipherLibrary}) {
            const auto paths = run::FileSystem::CheckedPaths(file);
            for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
                // Folders as the program names them, with their backslash.
                const std::string named =
                    *path == file || common::EndsWith(*path, "\\") ? *path : *path + "\\";
                if (checked.insert(common::Upper(named)).second) Security(named, true);
            }
        }
        Program(install + config::kCipherLibrary);

        std::string allUsers;
        platform_.environment().GetEnvironmentVariableA("ALLUSERSPROFILE", &allUsers);
        capture_.dataFolder = run::DataFolderFor(allUsers, install);
        Note("Capture", "DataFolder", capture_.dataFolder);
        Folder(capture_.dataFolder);
        std::vector<platform::FindData> found;
        if (platform_.files().FindFiles((capture_.dataFolder + "*.ini").c_str(), &found)) {
            for (const auto& entry : found) {
                const std::string upper = common::Upper(entry.fileName);
                if (upper.find("BELLHOP_") == std::string::npos) continue;
                if (entry.attributes & platform::kFileAttributeDirectory) continue;
                if (File(capture_.dataFolder + entry.fileName))
                    Security(capture_.dataFolder + entry.fileName, false);
            }
        } else if (const DWORD error = platform_.system().GetLastError(); error != 2) {
            Fail(capture_.dataFolder, error);
        }
    }

    // The reboot task's definition files in the system folder itself, with the redirection
    // of a 32-bit process switched off, and in its 32-bit twin (SysWOW64) on 64-bit Windows.
    void TaskFiles() {
        if (systemFolder_.empty()) return;
        platform::Wow64RedirectionOff redirection(platform_.files());
        const bool wow64 = redirection.SwitchOff();
        std::vector<std::string> folders{systemFolder_};
        if (wow64)
            folders.push_back(systemFolder_.substr(0, systemFolder_.rfind('\\')) + "\\SysWOW64");
        for (const std::string& folder : folders) {
            const std::string store = folder + "\\Tasks" + win10::kRebootTaskFolder + "\\";
            Folder(store);
            File(store + win10::kRebootTaskName, true);
            File(store + win10::kRebootTaskName + ".bak", true);
        }
    }

    // Owners noted by name: upper-cased name -> name, SID text.
    std::map<std::string, std::pair<std::string, std::string>> ownerSids_;
    platform::Platform& platform_;
    run::RunContext ctx_;  // no log: the program's readers write nothing through it
    MachineCapture capture_;
    std::string systemFolder_;
};

}  // namespace

std::string FailureText(long error) {
    if (error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound ||
        error == platform::HresultFromWin32(platform::kErrorFileNotFound) ||
        error == platform::HresultFromWin32(platform::kErrorPathNotFound) ||
        error == platform::kErrorEnvvarNotFound) {
        return "absent";
    }
    if (error == platform::kErrorCantResolveFilename)
        return "unresolved link " + std::to_string(error);
    if (error == platform::kErrorAccessDenied ||
        error == platform::HresultFromWin32(platform::kErrorAccessDenied)) {
        return "refused " + std::to_string(error);
    }
    return "failed " + std::to_string(error);
}

std::string LastLines(const std::string& text, std::size_t count) {
    std::size_t start = text.size();
    // A final line break ends the last line; it does not begin another.
    std::size_t end = text.size();
    if (end > 0 && text[end - 1] == '\n') --end;
    std::size_t lines = 0;
    while (end > 0) {
        const std::size_t pos = text.rfind('\n', end - 1);
        start = pos == std::string::npos ? 0 : pos + 1;
        if (++lines == count || pos == std::string::npos) break;
        end = pos;
    }
    return text.substr(start);
}

MachineCapture ReadMachine(platform::Platform& platform) {
    return Reader(platform).Read();
}

}  // namespace capture
