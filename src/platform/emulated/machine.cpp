#include "platform/emulated/machine.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/emulated/fact_list.h"
#include "platform/emulated/host.h"
#include "platform/emulated/ini_text.h"
#include "platform/emulated/text_codec.h"
#include "platform/sid_text.h"

namespace platform::emulated {

namespace fs = std::filesystem;

namespace {

// Blanks as the profile reader takes them (the capture's writer uses it), and the line's end.
std::string Trim(std::string_view text) {
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return std::string(ini::Trim(text));
}

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

}  // namespace

MachineFacts MachineFacts::Parse(const std::string& text, const std::string& fileName) {
    MachineFacts facts;
    std::istringstream in(text);
    std::string line;
    std::string section;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        // A line that holds another line's end, or a NUL, reads differently for every reader of
        // the file (the capture's writer ends a line at a carriage return).
        if (line.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) {
            throw MachineError(fileName + " line " + std::to_string(number) +
                               ": a carriage return or NUL inside the line");
        }
        if (line[0] == '[') {
            if (line.back() != ']') {
                throw MachineError(fileName + " line " + std::to_string(number) +
                                   ": section line without closing ']'");
            }
            section = Trim(line.substr(1, line.size() - 2));
            if (section.find_first_of("[]") != std::string::npos) {
                throw MachineError(fileName + " line " + std::to_string(number) +
                                   ": a section name holding '[' or ']'");
            }
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos || section.empty()) {
            throw MachineError(fileName + " line " + std::to_string(number) +
                               ": expected name=value inside a [section]");
        }
        facts.entries_.push_back(
            {section, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))});
    }
    return facts;
}

std::optional<std::string> MachineFacts::Get(const std::string& section,
                                             const std::string& name) const {
    assert(FindKnownFact(section, name) && "a fact the host reads is in fact_list.cpp");
    for (const Entry& entry : entries_) {
        if (EqualsNoCase(entry.section, section) && EqualsNoCase(entry.name, name)) {
            return entry.value;
        }
    }
    return std::nullopt;
}

void MachineFacts::Set(const std::string& section, const std::string& name,
                       const std::string& value) {
    for (Entry& entry : entries_) {
        if (EqualsNoCase(entry.section, section) && EqualsNoCase(entry.name, name)) {
            entry.value = value;
            return;
        }
    }
    entries_.push_back({section, name, value});
}

std::vector<std::pair<std::string, std::string>> MachineFacts::Section(
    const std::string& section) const {
    assert(IsKnownSection(section) && "a section the host reads is in fact_list.cpp");
    std::vector<std::pair<std::string, std::string>> result;
    for (const Entry& entry : entries_) {
        if (EqualsNoCase(entry.section, section)) result.emplace_back(entry.name, entry.value);
    }
    return result;
}

Machine::Machine(fs::path folder)
    : folder_(std::move(folder)),
      drivesText_((folder_ / "drives").string() + '/'),
      networkText_((folder_ / "network").string()) {
    std::error_code error;
    if (!fs::is_directory(folder_, error)) {
        throw MachineError("machine folder '" + folder_.string() + "' is not a folder");
    }
    if (auto text = ReadFile(folder_ / "machine.ini")) facts_ = MachineFacts::Parse(*text);
    const fs::path regFile = folder_ / "registry" / "HKLM.reg";
    if (auto text = ReadFile(regFile)) {
        try {
            hive_ = RegHive::Parse(*text);
        } catch (const RegFormatError& e) {
            throw MachineError(regFile.string() + ": " + e.what());
        }
    }
    wow64_ = facts_.Get("System", "Wow64").value_or("0") == "1";
    if (const auto scale = facts_.Get("Clock", "BoundScale"); scale && !scale->empty()) {
        boundScale_ =
            std::max<DWORD>(1, static_cast<DWORD>(std::strtoul(scale->c_str(), nullptr, 10)));
    }
    const auto now = facts_.Get("Clock", "Now");
    if (now && IsLocalTimeText(*now) &&
        EqualsNoCase(facts_.Get("Clock", "SystemClock").value_or(""), "pinned")) {
        std::tm local{};
        std::sscanf(now->c_str(), "%d-%d-%d %d:%d:%d", &local.tm_year, &local.tm_mon,
                    &local.tm_mday, &local.tm_hour, &local.tm_min, &local.tm_sec);
        local.tm_year -= 1900;
        local.tm_mon -= 1;
        local.tm_isdst = -1;
        const std::time_t seconds = std::mktime(&local);
        if (seconds != static_cast<std::time_t>(-1)) pinnedSystemSeconds_ = seconds;
    }
    for (const auto& [pid, value] : facts_.Section("Processes")) {
        Process process;
        process.id = static_cast<DWORD>(std::strtoul(pid.c_str(), nullptr, 10));
        const auto slash = value.find_last_of('\\');
        process.exeFile = slash == std::string::npos ? value : value.substr(slash + 1);
        process.modulePath = slash == std::string::npos ? "C:\\Windows\\" + value : value;
        processes.push_back(process);
    }
}

std::vector<std::string> ResolvedPathParts(const std::string& windowsPath, char* drive) {
    const std::string_view path = windowsPath;
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    *drive = 'C';
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
        *drive = path[0];
        start = 2;
    } else if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
        start = 2;
        *drive = 0;
    }
    std::vector<std::string> parts;
    for (std::size_t i = start; i <= path.size();) {
        std::size_t end = i;
        while (end < path.size() && !separator(path[end])) ++end;
        const std::string_view current = path.substr(i, end - i);
        if (current == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!current.empty() && current != ".") {
            parts.emplace_back(current);
        }
        i = end + 1;
    }
    // Windows drops the trailing dots and spaces of the last part and one trailing dot of each
    // part before it: C:\dir.\log.txt. is C:\dir\log.txt, while C:\dir..\x stays apart.
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i].size() > 1 && parts[i].back() == '.') parts[i].pop_back();
    }
    if (!parts.empty()) {
        std::string& last = parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
        if (last.empty()) parts.pop_back();
    }
    return parts;
}

namespace {

// The parts of a link's target as a path from the root of the link's drive (or share), as
// Windows resolves it there; nothing for a target elsewhere (another drive, the network) or
// none at all. above: the parts of the folder holding the link; letter: the drive's (0 on a
// share); root: the drive's host folder.
std::optional<std::vector<std::string>> LinkTargetParts(std::string target,
                                                        const std::vector<std::string>& above,
                                                        char letter, const std::string& root) {
    // A junction's target as the NT namespace names it.
    for (const char* prefix : {"\\??\\", "\\\\?\\", "//?/"}) {
        if (target.rfind(prefix, 0) == 0) {
            target.erase(0, 4);
            break;
        }
    }
    if (target.empty() || target.rfind("\\\\", 0) == 0 || target.rfind("//", 0) == 0) {
        return std::nullopt;
    }
    std::string fromRoot;
    if (target.size() >= 2 && target[1] == ':' &&
        ((target[0] >= 'A' && target[0] <= 'Z') || (target[0] >= 'a' && target[0] <= 'z'))) {
        if (letter == 0 || (target[0] | 0x20) != letter) return std::nullopt;
        fromRoot = target.substr(2);
    } else if (target[0] == '\\') {
        fromRoot = target;
    } else if (target[0] == '/') {
        // A link made on this host (or shown so by the volume's mount) may name a place below
        // the drive by its host path; any other is a path from the drive's root.
        fromRoot = target;
        std::error_code error;
        for (const fs::path& drive :
             {fs::absolute(root, error).lexically_normal(), fs::weakly_canonical(root, error)}) {
            const std::string prefix = drive.string();
            if (!prefix.empty() && target.compare(0, prefix.size(), prefix) == 0 &&
                (target.size() == prefix.size() || target[prefix.size()] == '/')) {
                fromRoot = target.substr(prefix.size());
                break;
            }
        }
    } else {
        for (const std::string& part : above) fromRoot += "\\" + part;
        fromRoot += "\\" + target;
    }
    char drive = 0;
    return ResolvedPathParts("C:\\" + fromRoot, &drive);
}

}  // namespace

fs::path Machine::HostPath(const std::string& windowsPath, LastPart last) const {
    char drive = 0;
    std::vector<std::string> parts = ResolvedPathParts(windowsPath, &drive);
    const char letter = drive ? static_cast<char>(drive | 0x20) : 0;
    // Built as text, one look at the host for each part: a path object costs more than the look.
    std::string host = drive ? drivesText_ + letter : networkText_;
    // Links are resolved below the root: the drive, or a share's server and share.
    std::size_t rootParts = drive ? 0 : std::min<std::size_t>(2, parts.size());
    std::size_t rootEnd = host.size();
    std::size_t mustExist = 0;  // the leading parts that a followed link's target is
    int links = 0;
    bool exists = true;
    // Whether the folder that holds the next part is one; the root (a linked volume itself)
    // is looked at through its link, once and only when a name must be matched in it.
    enum class Kind { Unknown, Folder, Other } folderKind = Kind::Unknown;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t folderEnd = host.size();
        host += '/';
        host += parts[i];
        host::Entry entry = exists ? host::Look(host) : host::Entry::Missing;
        // A name is looked for as written first: it is there for nearly every path, and then the
        // folder holding it needs no look of its own.
        if (exists && entry == host::Entry::Missing) {
            if (folderKind == Kind::Unknown) {
                std::error_code error;
                folderKind =
                    fs::is_directory(host.substr(0, folderEnd), error) ? Kind::Folder : Kind::Other;
            }
            std::string match;
            if (folderKind == Kind::Folder) {
                match = host::NameWithoutCase(host.substr(0, folderEnd), parts[i]);
            }
            if (match.empty()) {
                exists = false;
            } else {
                host.resize(folderEnd + 1);
                host += match;
                entry = host::Look(host);
            }
        }
        if (!exists && i < mustExist) return {};
        const bool below = i >= rootParts;
        if (entry == host::Entry::Link && below &&
            (i + 1 < parts.size() || last == LastPart::kFollowed)) {
            if (++links > kMaxLinksFollowed) return {};
            std::error_code error;
            const fs::path target = fs::read_symlink(host, error);
            if (error) return {};
            // The parts between the root and the link, as the host spells them.
            std::vector<std::string> above;
            for (std::size_t at = rootEnd; at < folderEnd;) {
                const std::size_t next = std::min(host.find('/', at + 1), folderEnd);
                above.push_back(host.substr(at + 1, next - at - 1));
                at = next;
            }
            auto resolved =
                LinkTargetParts(target.string(), above, letter, host.substr(0, rootEnd));
            if (!resolved) return {};
            // The walk starts again at the root, along the target and what follows the link.
            mustExist = resolved->size();
            resolved->insert(resolved->end(), parts.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                             parts.end());
            parts = std::move(*resolved);
            host.resize(rootEnd);
            rootParts = 0;
            folderKind = Kind::Unknown;
            i = static_cast<std::size_t>(-1);
            continue;
        }
        folderKind = entry == host::Entry::Folder ? Kind::Folder : Kind::Other;
        if (!below) {
            // A share's own folders are the host's: looked at through a link, as before.
            folderKind = Kind::Unknown;
            if (i + 1 == rootParts) rootEnd = host.size();
        }
    }
    return host;
}

bool Machine::SaveHive() {
    const fs::path regFile = folder_ / "registry" / "HKLM.reg";
    std::error_code error;
    fs::create_directories(regFile.parent_path(), error);
    const fs::path temporary = regFile.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << hive_.Serialize();
        out.flush();
        if (!out) return false;
    }
    fs::rename(temporary, regFile, error);
    return !error;
}

HANDLE Machine::NewHandle(const Object& object) {
    // Files held for a check are numbered apart, so that the process and token handles a run
    // logs stay the numbers they were.
    HANDLE& next = object.kind == Object::Kind::File ? nextFileHandle_ : nextHandle_;
    const HANDLE handle = next;
    next += 4;
    objects_[handle] = object;
    return handle;
}

Machine::Object* Machine::Find(HANDLE handle, Object::Kind kind) {
    const auto found = objects_.find(handle);
    if (found == objects_.end() || found->second.kind != kind) {
        lastError = 6;  // ERROR_INVALID_HANDLE
        return nullptr;
    }
    return &found->second;
}

bool Machine::Close(HANDLE handle, std::initializer_list<Object::Kind> kinds) {
    const auto found = objects_.find(handle);
    if (found != objects_.end()) {
        for (const Object::Kind kind : kinds) {
            if (found->second.kind != kind) continue;
            objects_.erase(found);
            return true;
        }
    }
    lastError = 6;  // ERROR_INVALID_HANDLE
    return false;
}

void Machine::JournalOpenHandles() {
    if (handlesJournaled_) return;
    handlesJournaled_ = true;
    std::size_t processes = 0;
    std::size_t threads = 0;
    for (const auto& [handle, object] : objects_) {
        if (object.kind == Object::Kind::Process) ++processes;
        if (object.kind == Object::Kind::Thread) ++threads;
    }
    if (processes + threads == 0) return;
    Journal("Handles open at exit: process=" + std::to_string(processes) +
            " thread=" + std::to_string(threads));
}

Machine::~Machine() {
    CloseJob();
    JournalOpenHandles();
}

bool Machine::JobFact(const char* name) const {
    return facts_.Get("Job", name).value_or("0") == "1";
}

bool Machine::JobAllowsCreation(DWORD creationFlags, bool otherSession, bool* inJob,
                                DWORD* error) const {
    constexpr DWORD kCreateBreakawayFromJob = 0x01000000;
    *inJob = false;
    if (!JobFact("InJob")) return true;
    if (creationFlags & kCreateBreakawayFromJob) {
        if (JobFact("BreakawayOk")) return true;
        *error = kErrorAccessDenied;
        return false;
    }
    if (JobFact("SilentBreakawayOk")) return true;
    if (otherSession) {
        *error = kErrorAccessDenied;
        return false;
    }
    *inJob = true;
    return true;
}

void Machine::CloseJob() {
    if (jobClosed_) return;
    jobClosed_ = true;
    if (!JobFact("InJob") || !JobFact("KillOnClose")) return;
    for (auto& process : processes) {
        if (!process.inJob || !process.program || process.program->Ended()) continue;
        process.program->Terminate(1);
        Journal("Job closed: pid=" + std::to_string(process.id) + " name=" + process.exeFile +
                " ended (kill on close)");
    }
}

bool Machine::WriteDenied(const std::string& windowsPath) const {
    const std::string account = impersonating.empty()
                                    ? facts_.Get("Account", "UserName").value_or("SYSTEM")
                                    : impersonating;
    auto normal = [](std::string path) {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        while (!path.empty() && path.back() == '\\') path.pop_back();
        return path;
    };
    const std::string path = normal(windowsPath);
    for (const auto& [folder, accounts] : facts_.Section("FileAccess")) {
        const std::string root = normal(folder);
        if (path.size() < root.size() || !EqualsNoCase(path.substr(0, root.size()), root)) continue;
        if (path.size() > root.size() && path[root.size()] != '\\') continue;
        std::stringstream list(accounts);
        std::string entry;
        while (std::getline(list, entry, ',')) {
            while (!entry.empty() && entry.front() == ' ') entry.erase(0, 1);
            while (!entry.empty() && entry.back() == ' ') entry.pop_back();
            if (EqualsNoCase(entry, account)) return true;
        }
    }
    return false;
}

// Every host path below the drives, sorted.
std::vector<std::string> Machine::DriveFiles() const {
    const fs::path drives = folder_ / "drives";
    std::vector<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(drives, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

// The facts of section, each with the host path that its Windows path names: resolved once for
// a walk that asks about every folder above a file.
using HostFacts = std::vector<std::pair<fs::path, std::string>>;
HostFacts PathFacts(const Machine& machine, const char* section) {
    HostFacts facts;
    for (auto& [path, value] : machine.facts().Section(section)) {
        fs::path host = machine.HostPath(path, Machine::LastPart::kItself);
        if (!host.empty()) facts.emplace_back(std::move(host), std::move(value));
    }
    return facts;
}

// The value of the first of the facts whose Windows path names the same host path.
std::optional<std::string> PathFact(const HostFacts& facts, const fs::path& host) {
    if (host.empty()) return std::nullopt;
    for (const auto& [factHost, value] : facts) {
        if (factHost == host) return value;
    }
    return std::nullopt;
}

}  // namespace

std::map<std::string, fs::file_time_type> Machine::DriveTimes() const {
    std::map<std::string, fs::file_time_type> times;
    for (const std::string& file : DriveFiles()) {
        std::error_code error;
        // The times only serve the pinned clock: without it, a name is all a watch needs.
        times.emplace(
            file, pinnedSystemSeconds_ ? fs::last_write_time(file, error) : fs::file_time_type{});
    }
    return times;
}

void Machine::WatchProgramWrites(const std::shared_ptr<StartedProgram>& program,
                                 const std::string& account,
                                 std::map<std::string, fs::file_time_type> before) {
    SettleProgramWrites();
    watches_.push_back({program, account, std::move(before)});
}

void Machine::SettleProgramWrites() {
    for (auto watch = watches_.begin(); watch != watches_.end();) {
        const auto program = watch->program.lock();
        const bool ended = !program || program->Ended();
        if (ended && pinnedSystemSeconds_) ++programsEnded_;
        for (const std::string& file : DriveFiles()) {
            const auto was = watch->before.find(file);
            if (was == watch->before.end()) learnedOwners_.emplace(file, watch->account);
            if (!ended || !pinnedSystemSeconds_) continue;
            std::error_code error;
            if (was == watch->before.end() || fs::last_write_time(file, error) != was->second) {
                DateWritten(file);
            }
        }
        watch = ended ? watches_.erase(watch) : watch + 1;
    }
}

void Machine::MadeByProgram(const std::string& windowsPath) {
    programFiles_.insert(HostPath(windowsPath, LastPart::kItself).string());
}

void Machine::Renamed(const std::string& fromWindowsPath, const std::string& toWindowsPath) {
    const std::string to = HostPath(toWindowsPath, LastPart::kItself).string();
    learnedOwners_.erase(to);
    if (programFiles_.erase(HostPath(fromWindowsPath, LastPart::kItself).string()) != 0) {
        programFiles_.insert(to);
    } else {
        programFiles_.erase(to);
    }
}

std::optional<fs::file_time_type> Machine::PinnedSystemTime() const {
    if (!pinnedSystemSeconds_) return std::nullopt;
    const auto system = std::chrono::system_clock::from_time_t(*pinnedSystemSeconds_ +
                                                               static_cast<long>(programsEnded_));
    return std::chrono::file_clock::from_sys(system);
}

void Machine::DateWritten(const fs::path& host) const {
    const auto now = PinnedSystemTime();
    if (!now) return;
    std::error_code error;
    if (fs::is_regular_file(host, error)) fs::last_write_time(host, *now, error);
}

// Owners and rights are those of the name itself (a link's own), as the facts name them.
std::string Machine::FileOwner(const std::string& windowsPath) {
    const fs::path host = HostPath(windowsPath, LastPart::kItself);
    if (programFiles_.count(host.string()) != 0) {
        return facts_.Get("Account", "UserName").value_or("SYSTEM");
    }
    if (auto fact = PathFact(PathFacts(*this, "FileOwners"), host)) return *fact;
    SettleProgramWrites();
    const auto learned = learnedOwners_.find(host.string());
    return learned == learnedOwners_.end() ? "SYSTEM" : learned->second;
}

std::vector<std::string> Machine::ChangeRights(const std::string& windowsPath) const {
    const fs::path drives = folder_ / "drives";
    fs::path from = HostPath(windowsPath, LastPart::kItself);
    if (programFiles_.count(from.string()) != 0) from = from.parent_path();
    const HostFacts facts = PathFacts(*this, "FileRights");
    for (fs::path host = from; !facts.empty() && host.has_relative_path() && host != drives;
         host = host.parent_path()) {
        if (auto fact = PathFact(facts, host)) {
            std::vector<std::string> accounts;
            std::stringstream list(*fact);
            std::string entry;
            while (std::getline(list, entry, ',')) {
                entry = Trim(entry);
                if (!entry.empty()) accounts.push_back(entry);
            }
            return accounts;
        }
    }
    return {"Administrators"};
}

void Machine::ProtectFolder(const std::string& windowsPath, const std::string& accounts) {
    facts_.Set("FileRights", windowsPath, accounts);
    std::ofstream out(folder_ / "machine.ini", std::ios::binary | std::ios::app);
    out << "\r\n[FileRights]\r\n" << windowsPath << '=' << accounts << "\r\n";
}

namespace {

struct WellKnownAccount {
    const char* name;
    const char* sid;
};
constexpr WellKnownAccount kWellKnownAccounts[] = {
    {"SYSTEM", "S-1-5-18"},
    {"Administrators", "S-1-5-32-544"},
    {"TrustedInstaller", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
    {"Users", "S-1-5-32-545"},
    {"Authenticated Users", "S-1-5-11"},
    {"Everyone", "S-1-1-0"},
};
// The machine's own domain, of the accounts [Accounts] does not list.
constexpr const char* kMachineDomain = "S-1-5-21-1004336348-1177238915-682003330-";

// The name's part after its domain ("PC\alice" is alice).
std::string WithoutDomain(const std::string& name) {
    const auto slash = name.find_last_of('\\');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// A relative id made from the upper-cased name (FNV-1a), above the built-in ones.
std::string MadeSidText(const std::string& name) {
    std::uint32_t hash = 2166136261u;
    for (const char c : UpperAscii(name)) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return kMachineDomain + std::to_string(1000 + hash % 1000000u);
}

// The SID an [Accounts] value gives: a SID text, or a redacted capture's pseudonym of one
// ("sid-1"), which stands for a SID made from it; empty: no such account.
std::vector<BYTE> ListedSid(const std::string& value) {
    const std::string text = Trim(value);
    if (text.empty()) return {};
    if (auto sid = SidFromText(text); !sid.empty()) return sid;
    return SidFromText(MadeSidText(text));
}

// The account names the facts use (without domain): the console's and the program's own user,
// the sessions' users, the shells' owners, the owners and holders of rights of files, and the
// Administrators' members.
std::vector<std::string> FactNames(const MachineFacts& facts) {
    std::vector<std::string> names;
    const auto add = [&names](const std::string& list) {
        std::stringstream entries(list);
        std::string entry;
        while (std::getline(entries, entry, ',')) {
            entry = WithoutDomain(Trim(entry));
            if (!entry.empty() && SidFromText(entry).empty()) names.push_back(entry);
        }
    };
    if (auto user = facts.Get("Console", "User")) add(*user);
    if (auto user = facts.Get("Account", "UserName")) add(*user);
    for (const auto& [session, value] : facts.Section("Sessions")) {
        if (const auto comma = value.find(','); comma != std::string::npos)
            add(value.substr(comma + 1));
    }
    for (const char* section : {"ProcessOwners", "FileOwners", "FileRights", "LocalGroups"}) {
        for (const auto& [key, value] : facts.Section(section)) add(value);
    }
    return names;
}

}  // namespace

std::vector<BYTE> Machine::AccountSid(const std::string& nameOrSid) const {
    const std::string name = Trim(nameOrSid);
    if (name.empty()) return {};
    if (auto sid = SidFromText(name); !sid.empty()) return sid;
    const std::string bare = WithoutDomain(name);
    // The name as given first (DOMAIN\\name), then without its domain.
    const auto accounts = facts_.Section("Accounts");
    for (const std::string& wanted : {name, bare}) {
        for (const auto& [account, sid] : accounts) {
            if (EqualsNoCase(account, wanted)) return ListedSid(sid);
        }
    }
    for (const WellKnownAccount& known : kWellKnownAccounts) {
        if (EqualsNoCase(known.name, bare)) return SidFromText(known.sid);
    }
    // The machine's other accounts are those its facts name; any other name is no account.
    for (const std::string& known : FactNames(facts_)) {
        if (EqualsNoCase(known, bare)) return SidFromText(MadeSidText(bare));
    }
    return {};
}

std::string Machine::AccountName(const std::vector<BYTE>& sid) const {
    if (sid.empty()) return {};
    for (const auto& [account, text] : facts_.Section("Accounts")) {
        if (ListedSid(text) == sid) return account;
    }
    for (const WellKnownAccount& known : kWellKnownAccounts) {
        if (SidFromText(known.sid) == sid) return known.name;
    }
    // A made SID names the account it was made from: one of the names the facts use.
    const std::string text = SidText(sid);
    for (const std::string& name : FactNames(facts_)) {
        if (MadeSidText(name) == text) return name;
    }
    return {};
}

bool Machine::TrustedAccount(const std::vector<BYTE>& sid) const {
    if (sid.empty()) return false;
    const std::string self = facts_.Get("Account", "UserName").value_or("SYSTEM");
    for (const char* trusted : {"SYSTEM", "Administrators", "TrustedInstaller"}) {
        if (AccountSid(trusted) == sid) return true;
    }
    if (AccountSid(self) == sid) return true;
    const auto members = AdministratorsMembers();
    return std::find(members.begin(), members.end(), sid) != members.end();
}

std::vector<std::vector<BYTE>> Machine::AdministratorsMembers() const {
    std::vector<std::vector<BYTE>> sids;
    std::stringstream members(facts_.Get("LocalGroups", "Administrators").value_or(""));
    std::string member;
    while (std::getline(members, member, ',')) {
        if (auto sid = AccountSid(member); !sid.empty()) sids.push_back(std::move(sid));
    }
    return sids;
}

bool Machine::Held(const fs::path& host) const {
    return std::any_of(objects_.begin(), objects_.end(), [&host](const auto& entry) {
        return entry.second.kind == Object::Kind::File && entry.second.hostPath == host.string();
    });
}

Machine::Process* Machine::FindProcess(DWORD id) {
    for (auto& process : processes) {
        if (process.id == id) return &process;
    }
    return nullptr;
}

DWORD Machine::CutWait(DWORD milliseconds) const {
    if (milliseconds == 0xFFFFFFFFu) return milliseconds;
    const auto fact = facts_.Get("Clock", "MaxWaitMs");
    if (!fact || fact->empty()) return milliseconds;
    const auto limit = static_cast<DWORD>(std::strtoul(fact->c_str(), nullptr, 10));
    return milliseconds < limit ? milliseconds : limit;
}

DWORD Machine::ScaleBound(DWORD milliseconds) const {
    if (milliseconds == 0xFFFFFFFFu || boundScale_ <= 1) return milliseconds;
    const DWORD scaled = milliseconds / boundScale_;
    return scaled == 0 && milliseconds > 0 ? 1 : scaled;
}

std::optional<DWORD> Machine::HangOf(const std::string& call) const {
    const auto fact = facts_.Get("Hang", call);
    if (!fact || fact->empty()) return std::nullopt;
    if (EqualsNoCase(*fact, "forever")) return kHangsForever;
    return static_cast<DWORD>(std::strtoul(fact->c_str(), nullptr, 10));
}

bool Machine::HangsPast(const std::string& call, DWORD boundMs) {
    const auto hang = HangOf(call);
    if (!hang) return false;
    const DWORD bound = ScaleBound(boundMs);
    const bool past = *hang >= bound;
    std::this_thread::sleep_for(std::chrono::milliseconds(past ? bound : *hang));
    if (past) {
        callAbandoned_ = true;
        Journal(call + " not answered within " + std::to_string(boundMs) + " ms");
    }
    return past;
}

void Machine::Journal(const std::string& line) {
    std::ofstream out(folder_ / "journal.log", std::ios::binary | std::ios::app);
    out << line << '\n';
}

}  // namespace platform::emulated
