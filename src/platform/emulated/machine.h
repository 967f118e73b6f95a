// The machine folder behind the emulated host: its facts (machine.ini), its drives, its registry
// hive and its journal. Shared by the emulated facets.
#pragma once

#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/emulated/reg_file.h"
#include "platform/emulated/spawn.h"
#include "platform/types.h"

namespace platform::emulated {

// ERROR_TIMEOUT's system text.
inline constexpr char kTimeoutText[] =
    "This operation returned because the timeout period expired.";

class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// machine.ini: sections of name=value lines, names compared without regard to case, order kept.
// The host reads only the facts of its list (fact_list.h): a read of any other is a fault of the
// host's code, caught in debug builds.
class MachineFacts {
public:
    struct Entry {
        std::string section;
        std::string name;
        std::string value;
    };
    // Throws MachineError "<fileName> line N: <reason>" for a line that does not read.
    static MachineFacts Parse(const std::string& text, const std::string& fileName = "machine.ini");
    std::optional<std::string> Get(const std::string& section, const std::string& name) const;
    // Gives the fact this value, in place of the one of that name or after the last.
    void Set(const std::string& section, const std::string& name, const std::string& value);
    std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;
    const std::vector<Entry>& Entries() const { return entries_; }

private:
    std::vector<Entry> entries_;
};

// The parts of a Windows path as Windows resolves it: "/" as "\", "." and ".." folded, one
// trailing dot off each folder, the trailing dots and spaces off the last part. *drive is the
// drive's letter as written, 'C' for a path without one (the emulated process works on C:), 0
// for a network path \\server\share\... (whose first parts are the server and the share).
std::vector<std::string> ResolvedPathParts(const std::string& windowsPath, char* drive);

class Machine {
public:
    explicit Machine(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }
    const MachineFacts& facts() const { return facts_; }

    // How a link in the last part of a path is taken: followed, as a file is opened, or as the
    // link itself, as a name is renamed, deleted or asked whether it is a reparse point.
    enum class LastPart { kFollowed, kItself };
    // Windows follows at most this many reparse points in one path; past them, the path
    // does not resolve (a loop of links ends there).
    static constexpr int kMaxLinksFollowed = 63;

    // The host path of a Windows path: C:\A\b.ini is <machine>/drives/c/A/b.ini. Each existing
    // part is matched without regard to case; parts that do not exist yet keep their spelling.
    // A path without a drive is on drive C; a network path \\server\share\x is
    // <machine>/network/server/share/x.
    // A host link below the drive (or the share) is resolved as Windows resolves a link from
    // the drive's own root, whatever the host would make of it: an absolute target (\x, /x, C:\x,
    // \??\C:\x) is a path from the drive's root (a host path below the drive names that place),
    // a relative one is relative to the link's folder, and ".." stops at the root. So no path
    // leaves the drive through a link, whatever the drive is (a linked Windows volume too).
    // Empty when a link cannot be followed on the drive: its target is missing, on another drive
    // or the network, or more than kMaxLinksFollowed links lie on the way (a loop).
    std::filesystem::path HostPath(const std::string& windowsPath,
                                   LastPart last = LastPart::kFollowed) const;

    RegHive& hive() { return hive_; }
    // Writes the hive back to registry/HKLM.reg through a temporary file and a rename.
    bool SaveHive();

    // A 32-bit program on 64-bit Windows ([System] Wow64=1): its plain registry opens see the
    // 32-bit view.
    bool wow64() const { return wow64_; }

    void Journal(const std::string& line);

    // The running processes: [Processes] of machine.ini (pid=NAME.EXE, or pid=C:\path\NAME.EXE
    // to give the main module's path), then the running program itself.
    struct Process {
        DWORD id = 0;
        std::string exeFile;
        std::string modulePath;
        std::shared_ptr<StartedProgram> program;  // set for a program the host really started
        bool inJob = false;   // started inside the program's job ([Job]), so ended with it
        std::string account;  // the account a started program runs as
    };
    std::vector<Process> processes;

    // The kernel objects behind the handles the host gives out. CloseHandle closes processes,
    // threads and tokens; an event log is closed by DeregisterEventSource.
    struct Object {
        enum class Kind { Process, Thread, Token, EventLog, Environment, File };
        Kind kind = Kind::Process;
        DWORD processId = 0;      // Process, Thread
        DWORD access = 0x1F0FFF;  // Process: the rights the handle carries (PROCESS_ALL_ACCESS)
        std::string account;      // Token, Environment: the account it stands for
        DWORD sessionId = 0;      // Token
        bool shutdownPrivilegeEnabled = false;  // Token
        std::string hostPath;                   // File: held without write or delete sharing
    };
    HANDLE NewHandle(const Object& object);
    // The object behind an open handle of that kind, or null (the last error then
    // ERROR_INVALID_HANDLE).
    Object* Find(HANDLE handle, Object::Kind kind);
    bool Close(HANDLE handle, std::initializer_list<Object::Kind> kinds);
    // At the end of the program: a journal line counting the process and thread handles it left
    // open, when there are any. Once only; the destructor calls it too.
    void JournalOpenHandles();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;
    // The process with this id, started or listed; null when there is none.
    Process* FindProcess(DWORD id);

    // The longest a finite wait lasts on this machine: [Clock] MaxWaitMs, which lets tests stand
    // in for long waits; no limit when absent.
    DWORD CutWait(DWORD milliseconds) const;

    // [Clock] BoundScale=<n>: every bound the program sets (a call's time-out, a post's shared
    // deadline, WMI's waits) lasts 1/n as long on this machine, so that tests run a hung
    // machine's timeline in proportion; 1 when absent. A bound is never cut to nothing.
    DWORD boundScale() const { return boundScale_; }
    DWORD ScaleBound(DWORD milliseconds) const;

    // [Hang] <Facet>.<Call>=<ms>|forever: that call of a service that does not answer takes so
    // long (real milliseconds), or never returns, before the service's work is done; nothing
    // when the call does not hang. The calls: Wmi.ConnectServer (the moniker's binding too),
    // Wmi.ExecQuery (the enumeration's Next), Tasks.GetTask, Tasks.get_State, Tasks.get_Name,
    // Tasks.put_Enabled, Components.CallCipher, Components.CreateObject,
    // Components.EncryptText, Components.PostXMLString, Power.RegisterEventSourceA,
    // Power.ReportEventA, Power.InitiateSystemShutdownExA.
    std::optional<DWORD> HangOf(const std::string& call) const;
    static constexpr DWORD kHangsForever = 0xFFFFFFFFu;
    // A call held up by its [Hang] fact, waited for as the platform waits for it: at most its
    // bound (boundMs, as this machine scales it). True when it ran past the bound: the call then
    // fails with ERROR_TIMEOUT, and a journal line says which call it was. Without a fact, false
    // at once.
    bool HangsPast(const std::string& call, DWORD boundMs);
    // Whether a call ran past its bound (HangsPast): on Windows its worker is left inside it, and
    // the process then ends by TerminateProcess rather than ExitProcess.
    bool callAbandoned() const { return callAbandoned_; }

    // The program's job, [Job] of machine.ini: InJob=1 puts the program in a job object (as an
    // agent that starts it in one does); BreakawayOk=1 and SilentBreakawayOk=1 are the job's
    // JOB_OBJECT_LIMIT_BREAKAWAY_OK and _SILENT_BREAKAWAY_OK, KillOnClose=1 its
    // JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE.
    bool JobFact(const char* name) const;
    // Whether a program created with these creation flags would land in the program's job, or
    // the creation is refused (ERROR_ACCESS_DENIED in *error), as Windows answers: outside a job
    // nothing changes; CREATE_BREAKAWAY_FROM_JOB is refused unless the job allows breakaway;
    // without it the child stays in the job (unless the job breaks away silently), which a
    // child in another session cannot (jobs do not span sessions). True when it may be created.
    bool JobAllowsCreation(DWORD creationFlags, bool otherSession, bool* inJob, DWORD* error) const;
    // At the end of the program the agent closes its job: with KillOnClose, every started
    // program still running inside it is ended (a journal line each). Once only.
    void CloseJob();

    // The account whose token the calling thread impersonates (ImpersonateLoggedOnUser); empty
    // when it runs as the program's own account.
    std::string impersonating;
    // [FileAccess] <Windows folder>=<account>[,<account>...]: those accounts may not write
    // (create, append, replace, delete) in the folder or below it. True when the account the
    // thread acts as is denied writing at windowsPath.
    bool WriteDenied(const std::string& windowsPath) const;

    // The account a file or folder belongs to: [FileOwners] <Windows path>=<account>; else, for
    // a file a program that the host started has made, the account that program runs as; else
    // SYSTEM (what the drives hold when the run starts, and what the program itself makes).
    std::string FileOwner(const std::string& windowsPath);
    // The accounts that may change a file or folder: [FileRights] <Windows path>=<account>[,...]
    // of the path or of its nearest folder above that has one (rights are inherited, so what a
    // run creates below a folder gets that folder's rights); Administrators alone when none has.
    std::vector<std::string> ChangeRights(const std::string& windowsPath) const;
    // A folder made with a protected DACL: its [FileRights] fact becomes accounts, written back
    // to machine.ini (appended), as Windows keeps a folder's DACL from one run to the next.
    void ProtectFolder(const std::string& windowsPath, const std::string& accounts);
    // A file the program itself has just created at windowsPath (a new file, or one renamed to
    // that name from one it created): it belongs to the program's account whatever the facts say
    // of the path, and takes its rights from its folder, as a new file does on Windows.
    void MadeByProgram(const std::string& windowsPath);
    // The file renamed from one windowsPath to another: what it was made by goes with it.
    void Renamed(const std::string& fromWindowsPath, const std::string& toWindowsPath);
    // The SID of an account as LookupAccountNameA gives it: [Accounts] <name>=<SID> (an empty
    // value: no such account); else the well-known accounts' own (SYSTEM, Administrators,
    // TrustedInstaller, Users, Authenticated Users, Everyone); else one made from the name in
    // the machine's own domain. A SID text stands for itself. Empty for no account.
    std::vector<BYTE> AccountSid(const std::string& nameOrSid) const;
    // The account name of a SID (LookupAccountSidA): the [Accounts] name or well-known name that
    // gives it, or the name it was made from; empty for none (an account since deleted).
    std::string AccountName(const std::vector<BYTE>& sid) const;
    // Trusted owners: SYSTEM, the Administrators, TrustedInstaller, the program's own account
    // ([Account] UserName), and the direct members of the Administrators group:
    // [LocalGroups] Administrators=<account or SID>[,...].
    bool TrustedAccount(const std::vector<BYTE>& sid) const;
    std::vector<std::vector<BYTE>> AdministratorsMembers() const;
    // Whether a handle holds the file without write or delete sharing (OpenFileToHold).
    bool Held(const std::filesystem::path& host) const;
    // A program the host starts as account: what it creates on the drives until it has ended
    // belongs to that account. before: DriveFiles() taken right before its start, which tells
    // its files from those that were there.
    std::vector<std::string> DriveFiles() const;
    // Every host path below the drives with its last-write time, taken right before a start.
    std::map<std::string, std::filesystem::file_time_type> DriveTimes() const;
    void WatchProgramWrites(const std::shared_ptr<StartedProgram>& program,
                            const std::string& account,
                            std::map<std::string, std::filesystem::file_time_type> before);
    // Gives the files that watched programs created their owners (and, on a pinned system clock,
    // the clock's time); a program's watch ends once it has ended and its files are known.
    void SettleProgramWrites();

    // [Clock] Now with [Clock] SystemClock=pinned: the system clock (UTC, what file times are
    // compared with and what written files are dated by) is the pinned local time in the zone the
    // program runs in, one second later for each program the host started that has ended (time
    // passes while a prompt is answered), so that a machine whose clock ran ahead of the host's,
    // or a run --at a later time, is judged by its own clock. Nothing when the clock is the
    // host's (the default: a machine folder written by hand holds files dated by the host).
    std::optional<std::filesystem::file_time_type> PinnedSystemTime() const;
    // A file the program (or a program the host started) has written: dated by the pinned system
    // clock, when there is one.
    void DateWritten(const std::filesystem::path& host) const;

    DWORD lastError = 0;
    // Wow64DisableWow64FsRedirection is in force (a 32-bit program on 64-bit Windows only).
    bool fsRedirectionDisabled = false;

private:
    struct WriteWatch {
        std::weak_ptr<StartedProgram> program;
        std::string account;
        // host paths of the drives' files at its start, with their last-write times
        std::map<std::string, std::filesystem::file_time_type> before;
    };
    std::optional<std::time_t> pinnedSystemSeconds_;
    unsigned programsEnded_ = 0;
    std::vector<WriteWatch> watches_;
    std::map<std::string, std::string> learnedOwners_;  // host path -> account
    std::set<std::string> programFiles_;                // host paths the program made

    std::map<HANDLE, Object> objects_;
    HANDLE nextHandle_ = 0x2000;
    HANDLE nextFileHandle_ = 0x7000;
    bool handlesJournaled_ = false;
    bool jobClosed_ = false;
    std::filesystem::path folder_;
    std::string drivesText_;   // <machine>/drives/, to which the drive's letter is added
    std::string networkText_;  // <machine>/network
    MachineFacts facts_;
    RegHive hive_;
    bool wow64_ = false;
    DWORD boundScale_ = 1;
    bool callAbandoned_ = false;
};

}  // namespace platform::emulated
