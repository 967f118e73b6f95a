// What a standard user can put where the program reads or writes as SYSTEM: result files that
// may not decide a restart, programs that may not be started, log folders that may not be
// written through.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "program_support.h"
#include "run_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AgentRegistry;
using testing_support::InstallCipher;
using testing_support::InstallRecorder;
using testing_support::InstallScript;
using testing_support::Journal;
using testing_support::kAgentLog;
using testing_support::RunProgram;
using testing_support::TempMachine;

constexpr const char* kData = "C:\\ProgramData\\VERUZE\\";
constexpr const char* kPending = testing_support::kRebootRequiredKey;

std::string MspAgent(const std::string& installPath = "C:\\\\Agent") {
    std::string registry = AgentRegistry() + kPending;
    registry.replace(registry.find("\"TRLA\""), 6, "\"MSP\"");
    registry.replace(registry.find("C:\\\\Agent"), 9, installPath);
    return registry;
}

std::vector<std::string> LinesWith(const std::vector<std::string>& log, const std::string& text) {
    std::vector<std::string> found;
    std::copy_if(log.begin(), log.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.find(text) != std::string::npos; });
    return found;
}

// ---------------------------------------------------------------------------------------------
// Result files: an RBT run with a reboot pending, alice at the console and no prompt program, so
// that the newest believable result file of the data folder decides the restart on its own.

struct ResultFile {
    const char* name;
    const char* timer;
    int ageSeconds;     // negative: dated after the current time
    const char* owner;  // [FileOwners]; empty: none (SYSTEM)
};

struct TrustCase {
    const char* name;
    std::vector<ResultFile> files;
    int exitCode;
    std::vector<std::string> skipped;  // the lines of the files passed over
    const char* facts = "";            // more of machine.ini
};

class ResultFileTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(ResultFileTrust, OnlyABelievableNewestFileDecides) {
    const TrustCase& c = GetParam();
    TempMachine machine;
    machine.Registry(MspAgent());
    InstallCipher(machine);
    std::string owners;
    const auto now = fs::file_time_type::clock::now();
    for (const ResultFile& file : c.files) {
        const std::string path = std::string(kData) + file.name;
        machine.File(path, std::string("[RebootStatus]\r\nTimerPM=") + file.timer +
                               "\r\nWrittenAs=" + file.name + "\r\n");
        fs::last_write_time(machine.HostPath(path), now - std::chrono::seconds(file.ageSeconds));
        if (*file.owner) owners += path + "=" + file.owner + "\n";
    }
    machine.Facts(std::string("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\n"
                              "SessionId=1\nUser=alice\n") +
                  c.facts + "\n[FileOwners]\n" + owners);
    const auto result = RunProgram(machine, "RBT");
    EXPECT_EQ(result.exitCode, c.exitCode);
    const auto skipped = LinesWith(result.log, "ReadLatestBellhopFile\tERROR\tResult file");
    EXPECT_EQ(skipped, c.skipped);
    // Nothing of a file passed over reaches the reboot state file.
    const std::string state = machine.Read(std::string(kData) + "Bellhop_SYSTEM.ini");
    for (const ResultFile& file : c.files) {
        if (state.find(std::string("WrittenAs=") + file.name) == std::string::npos) continue;
        for (const std::string& line : skipped)
            EXPECT_EQ(line.find(file.name), std::string::npos) << file.name << " was copied";
    }
}

std::string Skip(const char* why, const char* file, const char* detail = "") {
    return std::string("ModComman\tReadLatestBellhopFile\tERROR\t") + why + "\t" + kData + file +
           "\t" + detail + "\t";
}
constexpr const char* kFuture = "Result file dated after the current time, not taken";
constexpr const char* kForeign = "Result file owned by another account, not taken";

INSTANTIATE_TEST_SUITE_P(
    Table, ResultFileTrust,
    ::testing::Values(
        TrustCase{"BelievableNewestDecides",
                  {{"Bellhop_alice.ini", "1", 10, ""}, {"Bellhop_bob.ini", "0", 20, ""}},
                  5,
                  {}},
        TrustCase{"FutureDatedPassedOver",
                  {{"Bellhop_x.ini", "1", -3600, ""}, {"Bellhop_alice.ini", "0", 10, ""}},
                  0,
                  {Skip(kFuture, "Bellhop_x.ini")}},
        TrustCase{"AheadWithinTwoSecondsCounts", {{"Bellhop_x.ini", "1", -1, ""}}, 5, {}},
        TrustCase{"ThreeSecondsAheadPassedOver",
                  {{"Bellhop_x.ini", "1", -3, ""}},
                  0,
                  {Skip(kFuture, "Bellhop_x.ini")}},
        TrustCase{"OwnedByAnotherAccountPassedOver",
                  {{"Bellhop_x.ini", "1", 5, "bob"}, {"Bellhop_alice.ini", "0", 10, "alice"}},
                  0,
                  {Skip(kForeign, "Bellhop_x.ini", "bob")}},
        TrustCase{"SuppressionByAnotherAccountPassedOver",
                  {{"Bellhop_alice.ini", "0", 5, "bob"}, {"Bellhop_carol.ini", "1", 10, ""}},
                  5,
                  {Skip(kForeign, "Bellhop_alice.ini", "bob")}},
        // Only the prompted account's own file decides: bob's, in his own name, does not while
        // alice is at the console (any local account could otherwise force or stop restarts).
        TrustCase{"OwnedByTheAccountItNamesButNotPromptedPassedOver",
                  {{"BELLHOP_Bob.INI", "1", 5, "bob"}},
                  0,
                  {Skip(kForeign, "BELLHOP_Bob.INI", "bob")}},
        TrustCase{
            "OwnedByThePromptedAccountCounts", {{"BELLHOP_Alice.INI", "1", 5, "alice"}}, 5, {}},
        TrustCase{
            "NewestAnswerOfAnotherUserNeitherDecidesNorIsCopied",
            {{"Bellhop_mallory.ini", "1", 5, "mallory"}, {"Bellhop_alice.ini", "0", 10, "alice"}},
            0,
            {Skip(kForeign, "Bellhop_mallory.ini", "mallory")}},
        // By SID, never by name: another domain's alice is not the alice at the console.
        TrustCase{"SameNameOfAnotherDomainPassedOver",
                  {{"Bellhop_alice.ini", "1", 5, "CORP\\alice"}},
                  0,
                  {Skip(kForeign, "Bellhop_alice.ini", "CORP\\alice")},
                  "[Accounts]\nalice=S-1-5-21-1-1-1-1001\nCORP\\alice=S-1-5-21-2-2-2-1001\n"},
        // An owner that is no account (deleted; the empty name of a failed look-up) matches none.
        TrustCase{"OwnerWithoutAnAccountPassedOver",
                  {{"Bellhop_.ini", "1", 5, "S-1-5-21-7-7-7-1099"}},
                  0,
                  {Skip(kForeign, "Bellhop_.ini", "S-1-5-21-7-7-7-1099")}},
        TrustCase{"PromptedAccountThatCannotBeLookedUpDecidesNothing",
                  {{"Bellhop_alice.ini", "1", 5, "S-1-5-21-7-7-7-1001"}},
                  0,
                  {Skip(kForeign, "Bellhop_alice.ini", "S-1-5-21-7-7-7-1001")},
                  "[Accounts]\nalice=\n"},
        TrustCase{
            "UnreadableOwnerPassedOver",
            {{"Bellhop_alice.ini", "1", 5, "unreadable"}},
            0,
            {Skip("Result file whose owner cannot be read, not taken", "Bellhop_alice.ini", "5")}},
        TrustCase{
            "OwnedByTheAdministratorsCounts", {{"Bellhop_x.ini", "1", 5, "Administrators"}}, 5, {}},
        TrustCase{"OwnedByAMemberOfTheAdministratorsCounts",
                  {{"Bellhop_x.ini", "1", 5, "admin"}},
                  5,
                  {},
                  "[LocalGroups]\nAdministrators=admin\n"},
        TrustCase{"ForeignFileOlderThanTheChosenOneIsNotLookedAt",
                  {{"Bellhop_x.ini", "1", 20, "bob"}, {"Bellhop_alice.ini", "0", 10, ""}},
                  0,
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The owner of what a started program writes is the account it runs as: bob's prompt program
// that answers in alice's name decides nothing; in his own name it does.
TEST(ResultFileTrust, AnswerOfAPromptProgramCountsOnlyInItsOwnAccountsName) {
    for (const char* file : {"Bellhop_alice.ini", "Bellhop_bob.ini"}) {
        TempMachine machine;
        machine.Registry(MspAgent());
        InstallCipher(machine);
        machine.Facts(
            "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\nSessionId=1\nUser=bob\n");
        InstallScript(
            machine, "C:\\Agent\\Bellhop.exe",
            std::string("result=\"$REBOOTSCHEDULER_MACHINE/drives/c/ProgramData/VERUZE/") + file +
                "\"\n"
                "printf '[RebootStatus]\\r\\nTimerPM=1\\r\\n' > \"$result\"\n"
                "touch -d \"@$(($(date +%s) + 1))\" \"$result\"\n");
        const auto result = RunProgram(machine, "RBT");
        const bool own = std::string(file) == "Bellhop_bob.ini";
        EXPECT_EQ(result.exitCode, own ? 5 : 0) << file;
        EXPECT_EQ(LinesWith(result.log, kForeign),
                  own ? std::vector<std::string>{}
                      : std::vector<std::string>{Skip(kForeign, file, "bob")})
            << file;
    }
}

// ---------------------------------------------------------------------------------------------
// Programs started as SYSTEM: the patch program of a due assessment, and the prompt program
// when nobody is logged on.

struct StartCase {
    const char* name;
    const char* installPath;  // as the registry gives it
    const char* facts;        // [FileRights] and [FileOwners] lines
    bool prompt;              // RBT's prompt program (else RBTASSESS's patch program)
    const char* refusedPath;  // empty: started
    const char* why;
    const char* owner;
    bool library = false;  // the cipher library is refused first: no program is reached
    // The log's folder that others may change, which the event-log warning names: the run then
    // writes no line, its refusal included. Empty: the log is written.
    const char* logRefused = "";
};

class SystemStarts : public ::testing::TestWithParam<StartCase> {};

TEST_P(SystemStarts, OnlyProgramsNoOtherAccountMayChangeAreStarted) {
    const StartCase& c = GetParam();
    TempMachine machine;
    machine.Registry(MspAgent(c.installPath));
    std::string install = c.installPath;
    for (std::size_t at; (at = install.find("\\\\")) != std::string::npos;) install.erase(at, 1);
    if (install.empty() || install.back() != '\\') install += '\\';
    // The agent's cipher and configuration where the run looks for them.
    InstallCipher(machine);
    if (install != "C:\\Agent\\") {
        const std::string drive = install[0] == '\\' ? "C:" + install : install;
        fs::create_directories(machine.HostPath(drive + "Configuration"));
        fs::copy_file(machine.HostPath("C:\\Agent\\Cryptel.dll"),
                      machine.HostPath(drive + "Cryptel.dll"));
        fs::copy_file(machine.HostPath("C:\\Agent\\Configuration\\wpConfig.xml"),
                      machine.HostPath(drive + "Configuration\\wpConfig.xml"));
    }
    const std::string drive = install[0] == '\\' ? "C:" + install : install;
    const std::string program =
        c.prompt ? drive + "Bellhop.exe" : drive + "BaseComponents\\PatchManagement\\Quillon.exe";
    InstallRecorder(machine, program);
    machine.File(drive + "BaseComponents\\PatchManagement\\ScanFld\\PatchScanDate.ini",
                 "[ScandateTime]\r\nLastScandate=3/8/2021 12:00:00 PM\r\n");
    machine.Facts(std::string("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Clock]\n"
                              "Now=2021-03-10 12:00:00\n[System]\n"
                              "LastBootUpTime=20210310110000.000000+000\n") +
                  c.facts);
    const auto result = RunProgram(machine, c.prompt ? "RBT" : "RBTASSESS");
    const std::string logPath =
        drive + "BaseComponents\\PatchManagement\\ApplicationLog\\wppatchSch_1001_patchlog.log";
    const auto log = testing_support::LogLines(machine, logPath);
    const auto refusals = LinesWith(log, "it or its folder is not protected");
    const std::string journal = Journal(machine);
    if (*c.logRefused) {
        EXPECT_EQ(log, std::vector<std::string>{});
        EXPECT_NE(journal.find("strings=\"Activity log not written, its folder is not protected: " +
                               std::string(c.logRefused) + " ("),
                  std::string::npos)
            << journal;
    }
    if (*c.refusedPath && !*c.logRefused) {
        const std::string refused =
            c.refusedPath[0] == '+' ? install + (c.refusedPath + 1) : std::string(c.refusedPath);
        EXPECT_EQ(
            refusals,
            (std::vector<std::string>{
                (c.library ? "ModComman\tEncDecXML\tERROR\tLibrary not loaded as SYSTEM, "
                           : "ModReboot\tShellAndWait\tERROR\tProgram not started as SYSTEM, ") +
                std::string("it or its folder is not protected\t") + refused + "\t" + c.why + "\t" +
                c.owner}));
        // The run goes on as when the program (the library) is missing.
        EXPECT_EQ(
            LinesWith(log, c.library ? "EncDecXML\tERROR\t53\tFile not found: Cryptel.dll"
                                     : "ShellAndWait\tEREOR\tExe not able execute SuccessFully\t-1")
                .size(),
            1u);
    }
    if (*c.refusedPath) {
        EXPECT_FALSE(machine.Exists(program + ".ran"));
        EXPECT_EQ(journal.find("ShellExecuteEx"), std::string::npos);
        if (c.library) {
            EXPECT_EQ(journal.find("LoadLibrary "), std::string::npos);
        }
    } else {
        EXPECT_EQ(refusals, std::vector<std::string>{});
        EXPECT_TRUE(machine.Exists(program + ".ran")) << program;
    }
    EXPECT_EQ(result.exitCode, 0);
}

constexpr const char* kRootRights = "[FileRights]\nC:\\=Administrators,Authenticated Users\n";

INSTANTIATE_TEST_SUITE_P(
    Table, SystemStarts,
    ::testing::Values(
        StartCase{"AdministratorsOnly", "C:\\\\Agent", "", false, "", "", ""},
        // An empty installation path is the drive root: what the run and any user make below it
        // inherits the root's rights, the cipher library's place included, which the program
        // then does not load: the configuration is not read and no program is reached.
        StartCase{"PatchProgramBelowTheRoot", "", kRootRights, false, "+Cryptel.dll",
                  "others may change it", "", true, "\\BaseComponents"},
        StartCase{"PromptProgramAtTheRoot", "", kRootRights, true, "+Cryptel.dll",
                  "others may change it", "", true, "\\BaseComponents"},
        StartCase{"AgentFolderMadeUnderTheRoot", "C:\\\\Agent", kRootRights, false,
                  "C:\\Agent\\Cryptel.dll", "others may change it", "", true,
                  "C:\\Agent\\BaseComponents"},
        StartCase{"LibraryPlantedByAUser", "C:\\\\Agent",
                  "[FileOwners]\nC:\\Agent\\Cryptel.dll=bob\n", false, "C:\\Agent\\Cryptel.dll",
                  "owned by another account", "bob", true},
        StartCase{
            "PatchFolderUnderTheRootsRights", "C:\\\\Agent",
            "[FileRights]\nC:\\=Administrators,Authenticated Users\nC:\\Agent=Administrators\n"
            "C:\\Agent\\BaseComponents=Administrators,Authenticated Users\n",
            false, "C:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe",
            "others may change it", "", false, "C:\\Agent\\BaseComponents"},
        StartCase{"AgentFolderProtected", "C:\\\\Agent",
                  "[FileRights]\nC:\\=Authenticated Users\nC:\\Agent=Administrators,SYSTEM\n",
                  false, "", "", ""},
        StartCase{"ProgramPlantedByAUser", "C:\\\\Agent",
                  "[FileOwners]\nC:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe=bob\n",
                  false, "C:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe",
                  "owned by another account", "bob"},
        StartCase{"ProgramOfTrustedInstaller", "C:\\\\Agent",
                  "[FileOwners]\nC:\\Agent\\Bellhop.exe=TrustedInstaller\n", true, "", "", ""},
        // Every folder down to the program counts, and the agent folder's parents up to the
        // root's child: one users may change lets them put another program in its place.
        StartCase{"BaseComponentsUsersMayChange", "C:\\\\Agent",
                  "[FileRights]\nC:\\Agent\\BaseComponents=Administrators,Users\n"
                  "C:\\Agent\\BaseComponents\\PatchManagement=Administrators\n",
                  false, "C:\\Agent\\BaseComponents", "others may change it", "", false,
                  "C:\\Agent\\BaseComponents"},
        StartCase{"ParentOfTheAgentFolderUsersMayChange", "C:\\\\Tools\\\\Agent",
                  "[FileRights]\nC:\\Tools=Administrators,Users\nC:\\Tools\\Agent=Administrators\n",
                  false, "C:\\Tools", "others may change it", "", true, "C:\\Tools"},
        StartCase{"ParentOfTheAgentFolderOfAUser", "C:\\\\Tools\\\\Agent",
                  "[FileOwners]\nC:\\Tools=bob\n", false, "C:\\Tools", "owned by another account",
                  "bob", true, "C:\\Tools"},
        // An elevated administrator's files belong to that administrator's own account.
        StartCase{"AgentOfAnAdministratorsOwnAccount", "C:\\\\Agent",
                  "[LocalGroups]\nAdministrators=admin\n[FileOwners]\nC:\\Agent=admin\n"
                  "C:\\Agent\\Cryptel.dll=admin\n"
                  "C:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe=admin\n"
                  "[FileRights]\nC:\\Agent=Administrators,admin\n",
                  false, "", "", ""},
        StartCase{"AgentOfAStandardUsersAccount", "C:\\\\Agent", "[FileOwners]\nC:\\Agent=admin\n",
                  false, "C:\\Agent", "owned by another account", "admin", true, "C:\\Agent"},
        StartCase{"FolderUsersMayChange", "C:\\\\Agent",
                  "[FileRights]\nC:\\Agent\\BaseComponents\\PatchManagement=Users\n"
                  "C:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe=Administrators\n",
                  false, "C:\\Agent\\BaseComponents\\PatchManagement", "others may change it", "",
                  false, "C:\\Agent\\BaseComponents\\PatchManagement"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The log's folders: a link a user made there is never written through, nor is the old log
// deleted through it; a folder from the installation folder down that other accounts may change
// gets nothing written at all (one event-log warning says why), whoever owns a link in it; the
// log file is appended only as a plain file with one link.

enum class LogLink { kSymbolic, kHard };

struct LogLinkCase {
    const char* name;
    const char* link;   // below C:\Agent, made a link to C:\Users\bob\Elsewhere
    const char* owner;  // [ReparseOwners]; empty: a standard user's
    bool written;
    LogLink kind = LogLink::kSymbolic;
    const char* rights = "";   // [FileRights] lines
    const char* warning = "";  // the event-log warning's text; empty: none
};

class LogLinks : public ::testing::TestWithParam<LogLinkCase> {};

TEST_P(LogLinks, TheLogIsWrittenThroughAdministratorsLinksOnly) {
    const LogLinkCase& c = GetParam();
    TempMachine machine;
    machine.Registry(MspAgent());
    InstallCipher(machine);
    const std::string link = std::string("C:\\Agent\\") + c.link;
    const std::string target = "C:\\Users\\bob\\Elsewhere";
    // Where the log lands through the link: a file of the log's name over the size limit, which
    // the rotation would delete, or (a link to the file itself, which the rotation would only
    // remove) a small file that the lines would be appended to.
    std::string below = std::string(kAgentLog).substr(link.size());
    const std::string landed = target + below;
    const std::string original =
        below.empty() ? std::string("precious\r\n") : std::string(5001000, 'x');
    machine.File(landed, original);
    fs::create_directories(machine.HostPath(link).parent_path());
    if (c.kind == LogLink::kHard) {
        fs::create_hard_link(machine.HostPath(landed), machine.HostPath(link));
    } else {
        fs::create_directory_symlink(machine.HostPath(target), machine.HostPath(link));
    }
    machine.Facts(std::string("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n") +
                  (*c.owner ? "[ReparseOwners]\n" + link + "=" + c.owner + "\n" : "") +
                  (*c.rights ? std::string("[FileRights]\n") + c.rights : ""));
    const auto result = RunProgram(machine, "");
    EXPECT_EQ(result.exitCode, 0);
    const std::string content = machine.Read(landed);
    if (c.written) {
        EXPECT_EQ(content.rfind("#Software: VORN.AgentMonitoring.", 0), 0u) << c.link;
    } else {
        EXPECT_EQ(content, original) << c.link;
    }
    // One warning in the event log, when nothing is written.
    const std::string journal = Journal(machine);
    std::vector<std::string> warnings;
    for (std::size_t at = 0;
         (at = journal.find("ReportEvent log=MSP@VORN type=2", at)) != std::string::npos; ++at) {
        warnings.push_back(journal.substr(at, journal.find('\n', at) - at));
    }
    EXPECT_EQ(warnings, *c.warning ? std::vector<std::string>{"ReportEvent log=MSP@VORN type=2 "
                                                              "category=0 id=0 strings=\"" +
                                                              std::string(c.warning) + "\""}
                                   : std::vector<std::string>{});
}

// C:\Agent made below the drive root keeps the root's rights: every user may change it.
constexpr const char* kAgentOpen = "C:\\Agent=Administrators,Authenticated Users\n";

INSTANTIATE_TEST_SUITE_P(
    Table, LogLinks,
    ::testing::Values(
        LogLinkCase{"LogFolderOfAUser", "BaseComponents\\PatchManagement\\ApplicationLog", "",
                    false, LogLink::kSymbolic, "",
                    "Activity log not written, its folder is not protected: "
                    "C:\\Agent\\BaseComponents\\PatchManagement\\ApplicationLog (a link not "
                    "made by an administrator)"},
        LogLinkCase{"FolderAboveOfAUser", "BaseComponents", "", false, LogLink::kSymbolic, "",
                    "Activity log not written, its folder is not protected: "
                    "C:\\Agent\\BaseComponents (a link not made by an administrator)"},
        LogLinkCase{"LogFileOfAUser",
                    "BaseComponents\\PatchManagement\\ApplicationLog\\wppatchSch_1001_patchlog.log",
                    "", false, LogLink::kSymbolic, "",
                    "Activity log not written, its folder is not protected: "
                    "C:\\Agent\\BaseComponents\\PatchManagement\\ApplicationLog\\"
                    "wppatchSch_1001_patchlog.log (a link not made by an administrator)"},
        LogLinkCase{"LogFolderOfTheAdministrators",
                    "BaseComponents\\PatchManagement\\ApplicationLog", "Administrators", true},
        // A user who may write the SYSTEM-made ApplicationLog turns it into a junction: its
        // owner stays SYSTEM, but the folder it lies in is open to every user.
        LogLinkCase{"SystemOwnedLinkInAFolderUsersMayChange",
                    "BaseComponents\\PatchManagement\\ApplicationLog", "SYSTEM", false,
                    LogLink::kSymbolic, kAgentOpen,
                    "Activity log not written, its folder is not protected: "
                    "C:\\Agent\\BaseComponents (others may change it)"},
        LogLinkCase{"LogFolderUsersMayChange", "BaseComponents\\PatchManagement\\ApplicationLog",
                    "SYSTEM", false, LogLink::kSymbolic,
                    "C:\\Agent\\BaseComponents\\PatchManagement=Administrators,Users\n",
                    "Activity log not written, its folder is not protected: "
                    "C:\\Agent\\BaseComponents\\PatchManagement\\ApplicationLog (others may "
                    "change it)"},
        // A hard link of the log's name to a file elsewhere: appended to, it would change that
        // file; the rotation only removes the one name.
        LogLinkCase{"LogFileHardLinked",
                    "BaseComponents\\PatchManagement\\ApplicationLog\\wppatchSch_1001_patchlog.log",
                    "", false, LogLink::kHard}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The reboot state file is the program's own: a user's answer file copied over it leaves it
// writable, and one that a user made or may change is replaced by the program's (its bytes
// kept). Two RBT runs, each with a newer answer "restart now", each keep their "RBT" mark.

struct StateFileCase {
    const char* name;
    bool answerReadOnly;           // the user's answer file is read-only
    const char* stateFacts;        // facts on the state file existing before the first run
    std::vector<std::string> log;  // the lines of the first run about the state file
};

class StateFileOwn : public ::testing::TestWithParam<StateFileCase> {};

TEST_P(StateFileOwn, TheStateFileStaysWritableAndTheProgramsOwn) {
    const StateFileCase& c = GetParam();
    const std::string state = std::string(kData) + "Bellhop_SYSTEM.ini";
    const std::string answer = std::string(kData) + "Bellhop_alice.ini";
    TempMachine machine;
    machine.Registry(MspAgent());
    InstallCipher(machine);
    machine.Facts(std::string("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n") + c.stateFacts);
    if (*c.stateFacts) {
        machine.File(state, "[RebootStatus]\r\nTimerPM=0\r\n");
        fs::permissions(machine.HostPath(state), fs::perms::owner_write, fs::perm_options::remove);
        fs::last_write_time(machine.HostPath(state),
                            fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        machine.File(answer, "[RebootStatus]\r\nTimerPM=1\r\n");
        if (c.answerReadOnly) {
            fs::permissions(machine.HostPath(answer), fs::perms::owner_write,
                            fs::perm_options::remove);
        }
        // Newer than the state file the earlier run wrote.
        fs::last_write_time(machine.HostPath(answer),
                            fs::file_time_type::clock::now() + std::chrono::seconds(run));
        const auto result = RunProgram(machine, "RBT");
        EXPECT_EQ(result.exitCode, 5);
        EXPECT_NE(machine.Read(state).find("[PatchAssess]\r\nRBT=1"), std::string::npos)
            << machine.Read(state);
        EXPECT_NE(fs::status(machine.HostPath(state)).permissions() & fs::perms::owner_write,
                  fs::perms::none);
        if (run == 1) {
            EXPECT_EQ(LinesWith(result.log, "Reboot state file"), c.log);
        }
        if (c.answerReadOnly) {
            fs::permissions(machine.HostPath(answer), fs::perms::owner_write,
                            fs::perm_options::add);
        }
    }
}

std::string Replaced(const char* why) {
    return std::string(
               "ModComman\tReadLatestBellhopFile\tERROR\tReboot state file not the "
               "program's own, replaced\t") +
           kData + "Bellhop_SYSTEM.ini\t" + why + "\t";
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateFileOwn,
    ::testing::Values(
        StateFileCase{"ReadOnlyAnswerFile", true, "", {}},
        StateFileCase{"StateFileMadeByAUser",
                      false,
                      "[FileOwners]\nC:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini=mallory\n",
                      {Replaced("owned by mallory")}},
        StateFileCase{
            "StateFileOthersMayChange",
            true,
            "[FileRights]\nC:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini=Administrators,Users\n",
            {Replaced("others may change it")}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
