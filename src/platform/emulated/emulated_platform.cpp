#include "platform/emulated/emulated_platform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>

#include "common/dates.h"
#include "platform/emulated/emulated_components.h"
#include "platform/emulated/emulated_files.h"
#include "platform/emulated/emulated_http.h"
#include "platform/emulated/emulated_power.h"
#include "platform/emulated/emulated_profile.h"
#include "platform/emulated/emulated_programs.h"
#include "platform/emulated/emulated_registry.h"
#include "platform/emulated/emulated_session.h"
#include "platform/emulated/emulated_tasks.h"
#include "platform/emulated/emulated_wmi.h"
#include "platform/emulated/emulated_xml.h"
#include "platform/emulated/host.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/text_codec.h"
#include "platform/emulated/us_date_text.h"
#include "version.h"

namespace platform::emulated {

namespace {

namespace fs = std::filesystem;

constexpr DWORD kProcessVmRead = 0x0010;

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

SystemTime FromTm(const std::tm& tm, int milliseconds) {
    SystemTime time;
    time.year = tm.tm_year + 1900;
    time.month = tm.tm_mon + 1;
    time.dayOfWeek = tm.tm_wday;
    time.day = tm.tm_mday;
    time.hour = tm.tm_hour;
    time.minute = tm.tm_min;
    time.second = tm.tm_sec;
    time.milliseconds = milliseconds;
    return time;
}

// "2021-03-04 17:06:07" as a SYSTEMTIME, or nothing.
std::optional<SystemTime> ParseClockFact(const std::string& text) {
    SystemTime time;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &time.year, &time.month, &time.day,
                    &time.hour, &time.minute, &time.second, &extra) != 6) {
        return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = 12;
    std::mktime(&tm);
    time.dayOfWeek = tm.tm_wday;
    return time;
}

class EmulatedProcesses final : public Processes {
public:
    EmulatedProcesses(Machine& machine, const std::string& exeName) : machine_(machine) {
        // The running program is always in the list, as on Windows.
        machine_.processes.push_back({host::OwnProcessId(),
                                      exeName + ".exe",
                                      "C:\\Program Files\\VERUZE\\" + exeName + ".exe",
                                      nullptr,
                                      false,
                                      {}});
    }
    bool SnapshotProcesses(std::vector<ProcessEntry>* entries) override {
        if (!entries) return true;
        entries->clear();
        entries->push_back({0, "[System Process]"});
        for (auto& process : machine_.processes) {
            if (StillRunning(process)) entries->push_back({process.id, process.exeFile});
        }
        return true;
    }
    // [Job] of machine.ini: InJob, and the limits BreakawayOk, SilentBreakawayOk, KillOnClose.
    bool QueryOwnJob(bool* inJob, DWORD* limitFlags) override {
        *inJob = machine_.JobFact("InJob");
        *limitFlags = 0;
        if (!*inJob) return true;
        if (machine_.JobFact("BreakawayOk")) *limitFlags |= kJobLimitBreakawayOk;
        if (machine_.JobFact("SilentBreakawayOk")) *limitFlags |= kJobLimitSilentBreakawayOk;
        if (machine_.JobFact("KillOnClose")) *limitFlags |= kJobLimitKillOnJobClose;
        return true;
    }
    // Process ids listed under [ProtectedProcesses] refuse to be opened, as services of another
    // account would. Each opening is journaled with the access it asks for.
    HANDLE OpenProcess(DWORD access, bool /*inheritHandle*/, DWORD processId) override {
        const std::string line =
            "OpenProcess pid=" + std::to_string(processId) + " access=" + Hex(access);
        if (!Find(processId)) {
            machine_.Journal(line + " failed error=87");
            machine_.lastError = kErrorInvalidParameter;
            return 0;
        }
        if (processId == 4 ||
            machine_.facts().Get("ProtectedProcesses", std::to_string(processId))) {
            machine_.Journal(line + " failed error=5");
            machine_.lastError = kErrorAccessDenied;
            return 0;
        }
        machine_.Journal(line);
        Machine::Object object;
        object.kind = Machine::Object::Kind::Process;
        object.processId = processId;
        object.access = access;
        return machine_.NewHandle(object);
    }
    bool QueryFullProcessImageNameA(HANDLE process, char* buffer, DWORD* size) override {
        const Machine::Process* found = Opened(process, kProcessQueryLimitedInformation | 0x0400);
        if (!found) return false;
        if (!buffer || !size || *size <= found->modulePath.size()) {
            machine_.lastError = !buffer || !size ? kErrorInvalidParameter : 122;
            return false;
        }
        std::memcpy(buffer, found->modulePath.c_str(), found->modulePath.size() + 1);
        *size = static_cast<DWORD>(found->modulePath.size());
        return true;
    }
    // Both module calls read the process's memory: the handle needs PROCESS_VM_READ.
    bool EnumProcessModules(HANDLE process, DWORD* bytesNeeded) override {
        if (!Opened(process, kProcessVmRead)) return false;
        if (bytesNeeded) *bytesNeeded = sizeof(void*);
        return true;
    }
    DWORD GetModuleFileNameExA(HANDLE process, char* buffer, DWORD size) override {
        const Machine::Process* found = Opened(process, kProcessVmRead);
        if (!found || !buffer || size == 0) {
            if (found) machine_.lastError = kErrorInvalidParameter;
            return 0;
        }
        const auto count =
            static_cast<DWORD>(std::min<std::size_t>(found->modulePath.size(), size - 1));
        std::memcpy(buffer, found->modulePath.data(), count);
        buffer[count] = '\0';
        return count;
    }
    bool TerminateProcess(HANDLE process, unsigned exitCode) override {
        const Machine::Process* found = Opened(process, kProcessTerminate);
        if (!found) return false;
        machine_.Journal("TerminateProcess pid=" + std::to_string(found->id) +
                         " name=" + found->exeFile + " exitcode=" + std::to_string(exitCode));
        const DWORD id = found->id;
        if (found->program) found->program->Terminate(exitCode);
        std::erase_if(machine_.processes, [id](const Machine::Process& p) { return p.id == id; });
        return true;
    }
    bool CloseHandle(HANDLE handle) override {
        using Kind = Machine::Object::Kind;
        return machine_.Close(handle, {Kind::Process, Kind::Thread, Kind::Token, Kind::File});
    }
    bool ShellExecuteExA(ShellExecuteInfo* info) override {
        return EmulatedShellExecuteEx(
            machine_, machine_.facts().Get("Account", "UserName").value_or("SYSTEM"), info);
    }
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
        return EmulatedWaitForSingleObject(machine_, handle, milliseconds);
    }
    bool GetExitCodeProcess(HANDLE process, DWORD* exitCode) override {
        return EmulatedGetExitCodeProcess(machine_, process, exitCode);
    }
    // As on Windows: after a call given up at its bound the process ends by TerminateProcess
    // (journal: "TerminateProcess (current process) exit=<code>"), which waits for no worker.
    void ExitProcess(unsigned exitCode) override {
        machine_.CloseJob();
        machine_.JournalOpenHandles();
        if (machine_.callAbandoned()) {
            machine_.Journal("TerminateProcess (current process) exit=" + std::to_string(exitCode) +
                             ", a call was given up at its bound");
        }
        std::exit(static_cast<int>(exitCode));
    }

private:
    Machine::Process* Find(DWORD processId) {
        for (auto& process : machine_.processes) {
            if (process.id == processId) return &process;
        }
        return nullptr;
    }
    // The process behind an open handle; a handle whose process has ended opens nothing, nor
    // one that carries none of the rights the call needs (any of `rights`).
    const Machine::Process* Opened(HANDLE handle, DWORD rights = 0) {
        const Machine::Object* object = machine_.Find(handle, Machine::Object::Kind::Process);
        if (!object) return nullptr;
        if (rights && !(object->access & rights)) {
            machine_.lastError = kErrorAccessDenied;
            return nullptr;
        }
        const Machine::Process* process = Find(object->processId);
        if (!process) machine_.lastError = kErrorAccessDenied;
        return process;
    }

    Machine& machine_;
};

class EmulatedClock final : public Clock {
public:
    explicit EmulatedClock(Machine& machine) : machine_(machine) {
        if (auto now = machine.facts().Get("Clock", "Now")) pinned_ = ParseClockFact(*now);
    }
    SystemTime GetLocalTime() override {
        if (pinned_) return *pinned_;
        const auto now = std::chrono::system_clock::now();
        const auto milliseconds =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        std::tm tm{};
        host::LocalTime(std::chrono::system_clock::to_time_t(now), &tm);
        return FromTm(tm, static_cast<int>(milliseconds));
    }
    std::uint64_t GetTickCount64() override {
        if (auto fact = machine_.facts().Get("System", "TickCount64"); fact && !fact->empty()) {
            return std::strtoull(fact->c_str(), nullptr, 10);
        }
        // Else the real host's time since its start, as GetTickCount64 counts it.
        return host::TickCount64();
    }
    // The host's own clock, as the drives' file times are, unless the machine pins its system
    // clock too (Machine::PinnedSystemTime): files written during a run are then dated by it.
    std::uint64_t GetSystemTimeAsFileTime() override {
        if (machine_.PinnedSystemTime()) {
            machine_.SettleProgramWrites();  // the programs that have ended move it on
            return ToFileTime(*machine_.PinnedSystemTime());
        }
        return ToFileTime(std::filesystem::file_time_type::clock::now());
    }

    bool FileTimeToLocalSystemTime(std::uint64_t fileTime, SystemTime* local) override {
        constexpr std::uint64_t k1601To1970 = 116444736000000000ULL;
        if (fileTime < k1601To1970 || !local) {
            machine_.lastError = kErrorInvalidParameter;
            return false;
        }
        const auto seconds = static_cast<std::time_t>((fileTime - k1601To1970) / 10000000ULL);
        if (!LocalTimeOf(seconds, local)) {
            machine_.lastError = kErrorInvalidParameter;
            return false;
        }
        local->milliseconds = static_cast<int>((fileTime / 10000) % 1000);
        return true;
    }
    // United States settings: short date M/d/yyyy, long time h:mm:ss tt.
    bool GetShortDateText(const SystemTime& time, std::string* text) override {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%d/%d/%d", time.month, time.day, time.year);
        *text = buffer;
        return true;
    }
    bool GetLongTimeText(const SystemTime& time, std::string* text) override {
        const int hour12 = time.hour % 12 == 0 ? 12 : time.hour % 12;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour12, time.minute, time.second,
                      time.hour < 12 ? "AM" : "PM");
        *text = buffer;
        return true;
    }
    LONG VarDateFromStr(const std::string& text, double* date) override {
        const auto parsed = ParseUsDateText(text, GetLocalTime().year);
        if (!parsed) return kDispTypeMismatch;
        if (date) *date = *parsed;
        return 0;
    }

    // Real time, not the pinned clock or tick count: a bound is how long the program waits.
    // The end is kept in real milliseconds, what is left is told in the program's.
    std::uint64_t BoundEnd(DWORD milliseconds) override {
        return SteadyMilliseconds() + machine_.ScaleBound(milliseconds);
    }
    DWORD BoundLeft(std::uint64_t end) override {
        const std::uint64_t now = SteadyMilliseconds();
        if (now >= end) return 0;
        const std::uint64_t left = (end - now) * machine_.boundScale();
        return left > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(left);
    }

private:
    static std::uint64_t SteadyMilliseconds() {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

    // The local time of a moment. The offset from UTC is learned once a quarter hour and added
    // to the UTC time of the quarter's other moments, once the offsets at its two ends are seen
    // to be the same (no zone changes its offset twice within a quarter hour): a folder of
    // files of one time costs one time-zone look-up, not one a file.
    bool LocalTimeOf(std::time_t seconds, SystemTime* local) {
        constexpr std::time_t kQuarter = 900;
        const std::time_t start = seconds - ((seconds % kQuarter) + kQuarter) % kQuarter;
        if (quarter_.start == start && quarter_.even) {
            *local = common::TimeOfSeconds(k1970 + seconds + quarter_.offset);
            return true;
        }
        const bool seenBefore = quarter_.start == start;
        std::tm tm{};
        if (!host::LocalTime(seconds, &tm)) return false;
        *local = FromTm(tm, 0);
        const std::int64_t offset = OffsetOf(*local, seconds);
        quarter_ = {start, offset, false};
        if (seenBefore) {
            quarter_.even = OffsetAt(start) == offset && OffsetAt(start + kQuarter - 1) == offset;
        }
        return true;
    }
    static std::optional<std::int64_t> OffsetAt(std::time_t seconds) {
        std::tm tm{};
        if (!host::LocalTime(seconds, &tm)) return std::nullopt;
        return OffsetOf(FromTm(tm, 0), seconds);
    }
    static std::int64_t OffsetOf(const SystemTime& local, std::time_t seconds) {
        return common::SecondsOf(local) - (k1970 + seconds);
    }
    // 1 January 1970 in seconds since the calendar's day zero.
    static inline const std::int64_t k1970 = common::DaysFromCivil(1970, 1, 1) * 86400;

    Machine& machine_;
    std::optional<SystemTime> pinned_;
    struct Quarter {
        std::time_t start = -1;
        std::int64_t offset = 0;
        bool even = false;  // the offset holds for the whole quarter
    } quarter_;
};

class EmulatedEnvironment final : public Environment {
public:
    explicit EmulatedEnvironment(Machine& machine) : machine_(machine) {}
    // The machine's [Environment] first; a variable it does not name comes from the real host.
    bool GetEnvironmentVariableA(const char* name, std::string* value) override {
        if (auto fact = machine_.facts().Get("Environment", name)) {
            *value = *fact;
            return true;
        }
        if (const char* host = std::getenv(name)) {
            *value = host;
            return true;
        }
        machine_.lastError = 203;  // ERROR_ENVVAR_NOT_FOUND
        return false;
    }

private:
    Machine& machine_;
};

class EmulatedSelf final : public Self {
public:
    EmulatedSelf(Machine& machine, std::string argumentText, std::string exeName)
        : machine_(machine), argumentText_(std::move(argumentText)), exeName_(std::move(exeName)) {}
    ~EmulatedSelf() override { host::ReleaseFileLock(lockFd_); }
    std::string ExeName() override { return exeName_; }
    ProgramVersion Version() override {
        return {RS_VERSION_MAJOR, RS_VERSION_MINOR, RS_VERSION_PATCH};
    }
    std::string ArgumentText() override { return argumentText_; }
    // An exclusive lock on <machine>/instance.lock, held until the process ends. [Instance]
    // HeldBy=<account> stands for an earlier instance of that account holding the mutex: its
    // rights give the same account and the system account full access (ERROR_ALREADY_EXISTS),
    // any other account READ_CONTROL only (ERROR_ACCESS_DENIED), and its owner is the system
    // account or, for another account's copy, the Administrators. [Instance] SquattedBy=<account>
    // stands for an object of the mutex's name that an ordinary account made first, of the kind
    // [Instance] SquatObject names: "mutex" (the default: the account's default rights, full
    // access for it and the system account, nothing for others), "sealed" (a mutex that refuses
    // everyone but its owner) or "event" (ERROR_INVALID_HANDLE).
    InstanceTest PreviousInstanceRunning() override {
        if (answer_) return *answer_;
        const std::string account = machine_.facts().Get("Account", "UserName").value_or("SYSTEM");
        const auto fact = [&](const char* key) {
            return machine_.facts().Get("Instance", key).value_or("");
        };
        const std::string holder = fact("HeldBy");
        const std::string squatter = fact("SquattedBy");
        if (holder.empty() && squatter.empty()) {
            bool heldElsewhere = false;
            lockFd_ = host::TakeFileLock(machine_.folder() / "instance.lock", &heldElsewhere);
            answer_ = InstanceTest{heldElsewhere, {}};
            return *answer_;
        }
        const bool isSystem = EqualsNoCase(account, "SYSTEM");
        std::string owner;
        bool made = true;
        DWORD error = static_cast<DWORD>(kErrorAlreadyExists);
        bool ownerReadable = true;
        if (!holder.empty()) {
            owner = EqualsNoCase(holder, "SYSTEM") ? "SYSTEM" : "Administrators";
            if (!EqualsNoCase(account, holder) && !isSystem) {
                made = false;
                error = static_cast<DWORD>(kErrorAccessDenied);
            }
        } else {
            owner = squatter;
            const std::string kind = fact("SquatObject");
            const bool own = EqualsNoCase(account, squatter);
            if (EqualsNoCase(kind, "event")) {
                made = false;
                error = static_cast<DWORD>(kErrorInvalidHandle);
                ownerReadable = false;
            } else if (!own && (!isSystem || EqualsNoCase(kind, "sealed"))) {
                made = false;
                error = static_cast<DWORD>(kErrorAccessDenied);
                ownerReadable = false;
            }
        }
        MutexOwner judged = MutexOwner::NotRead;
        std::string found;
        if (error == static_cast<DWORD>(kErrorInvalidHandle)) {
            found = "another kind of object, error 6";
        } else if (!ownerReadable) {
            found = "owner unreadable, error 5";
        } else {
            found = "owner " + owner;
            const bool trusted = EqualsNoCase(owner, "SYSTEM") ||
                                 EqualsNoCase(owner, "Administrators") ||
                                 EqualsNoCase(owner, account);
            judged = trusted ? MutexOwner::Trusted : MutexOwner::Foreign;
        }
        machine_.Journal(std::string("CreateMutex ") + kInstanceMutexName + " account=" + account +
                         (made ? " exists" : " failed error=" + std::to_string(error)) + " " +
                         found);
        answer_ = InstanceTestOf(JudgeInstanceMutex(made, error, judged), found);
        return *answer_;
    }

private:
    Machine& machine_;
    std::string argumentText_;
    std::string exeName_;
    int lockFd_ = -1;
    std::optional<InstanceTest> answer_;
};

struct MessageText {
    DWORD id;
    const char* text;
};

// The English system texts of the errors the emulated host reports.
constexpr MessageText kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {32, "The process cannot access the file because it is being used by another process."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {120, "This function is not supported on this system."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {203, "The system could not find the environment option that was entered."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled "
     "devices associated with it."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1115, "A system shutdown is in progress."},
    {1190, "A system shutdown has already been scheduled."},
    {1300, "Not all privileges or groups referenced are assigned to the caller."},
    {1314, "A required privilege is not held by the client."},
    {1460, kTimeoutText},
    {1502, "The event log file is full."},
};

class EmulatedSystem final : public System {
public:
    explicit EmulatedSystem(Machine& machine) : machine_(machine) {}
    DWORD GetLastError() override { return machine_.lastError; }
    void SetLastError(DWORD error) override { machine_.lastError = error; }
    DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) override {
        // An HRESULT made from a system error (facility 7, 0x8007xxxx) has that error's text.
        if ((messageId & 0xFFFF0000u) == 0x80070000u) messageId &= 0xFFFFu;
        for (const MessageText& message : kMessages) {
            if (message.id != messageId) continue;
            const std::string text = std::string(message.text) + "\r\n";
            if (!buffer || text.size() + 1 > size) {
                machine_.lastError = 122;  // ERROR_INSUFFICIENT_BUFFER
                return 0;
            }
            std::memcpy(buffer, text.c_str(), text.size() + 1);
            return static_cast<DWORD>(text.size());
        }
        machine_.lastError = 317;  // ERROR_MR_MID_NOT_FOUND
        return 0;
    }
    // Journaled each time: a second call meets RPC_E_TOO_LATE, which counts as S_OK.
    LONG InitializeComSecurity() override {
        const bool again = comSecurity_;
        comSecurity_ = true;
        machine_.Journal(std::string("CoInitializeSecurity access=SYSTEM,Administrators "
                                     "authentication=default impersonation=identify "
                                     "capabilities=disable_aaa,no_custom_marshal") +
                         (again ? " too late" : ""));
        return 0;
    }

private:
    Machine& machine_;
    bool comSecurity_ = false;
};

class EmulatedPlatform final : public Platform {
public:
    EmulatedPlatform(const fs::path& folder, const std::string& argumentText,
                     const std::string& exeName)
        : machine_(folder),
          registry_(machine_),
          profile_(machine_),
          files_(machine_),
          processes_(machine_, exeName),
          clock_(machine_),
          environment_(machine_),
          self_(machine_, argumentText, exeName),
          session_(machine_),
          system_(machine_),
          tasks_(machine_),
          http_(machine_),
          // The web-post stand-in posts through the host's HTTP facet, made before it.
          components_(machine_, http_),
          wmi_(machine_, clock_),
          power_(machine_) {}

    RS_PLATFORM_FACETS(RS_PLATFORM_FACET_MEMBER)

private:
    Machine machine_;
    EmulatedRegistry registry_;
    EmulatedProfile profile_;
    EmulatedFiles files_;
    EmulatedProcesses processes_;
    EmulatedClock clock_;
    EmulatedEnvironment environment_;
    EmulatedSelf self_;
    EmulatedSession session_;
    EmulatedSystem system_;
    EmulatedTasks tasks_;
    EmulatedHttp http_;
    EmulatedComponents components_;
    EmulatedXml xml_;
    EmulatedWmi wmi_;
    EmulatedPower power_;
};

}  // namespace

std::unique_ptr<Platform> MakeEmulatedPlatform(const fs::path& machineFolder,
                                               const std::string& argumentText,
                                               const std::string& exeName) {
    return std::make_unique<EmulatedPlatform>(machineFolder, argumentText, exeName);
}

}  // namespace platform::emulated
