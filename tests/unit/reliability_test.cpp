// Whole runs of every branch of every mode, with one platform call failing or the process
// stopped before one call: each run ends through one of the program's ends (exit codes 0 to 5),
// no failure escapes, and every profile file and the registry hive still read.
//
// The fault sweep fails a sample of the calls by default (the first call of each kind in each
// branch, and every seventh call); RS_FULL_SWEEP=1 in the environment fails every call, with
// every code. RS_SWEEP_REPORT=1 prints the figures.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../contract/loopback_server_fixture.h"
#include "platform/emulated/ini_text.h"
#include "platform/emulated/reg_file.h"
#include "platform/emulated/text_codec.h"
#include "program_support.h"
#include "run_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AgentRegistry;
using testing_support::InstallCipher;
using testing_support::InstallRecorder;
using testing_support::InstallScript;
using testing_support::RunProgram;
using testing_support::TempMachine;

constexpr const char* kPending = testing_support::kRebootRequiredKey;
constexpr const char* kUserFacts =
    "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\nSessionId=1\nUser=alice\n"
    "[Clock]\nNow=2021-03-10 12:00:00\n[System]\nLastBootUpTime=20210310110000.000000+000\n";
constexpr const char* kPatchAgent = "C:\\Agent\\BaseComponents\\PatchManagement\\Quillon.exe";
constexpr const char* kScanDate =
    "C:\\Agent\\BaseComponents\\PatchManagement\\ScanFld\\PatchScanDate.ini";

// The registry of an agent of the given type, with or without the reboot flag.
std::string Registry(const std::string& agentType, bool rebootFlag, const std::string& more = {}) {
    std::string registry = AgentRegistry();
    registry.replace(registry.find("\"TRLA\""), 6, "\"" + agentType + "\"");
    return registry + (rebootFlag ? kPending : "") + more;
}

// A prompt program that answers TimerPM with the value in alice's result file.
void Prompt(TempMachine& machine, const std::string& timerPm) {
    InstallScript(
        machine, "C:\\Agent\\Bellhop.exe",
        "result=\"$REBOOTSCHEDULER_MACHINE/drives/c/ProgramData/VERUZE/Bellhop_alice.ini\"\n"
        "mkdir -p \"${result%/*}\"\n"
        "printf '[RebootStatus]\\r\\nTimerPM=" +
            timerPm +
            "\\r\\n' > \"$result\"\n"
            "touch -d \"@$(($(date +%s) + 2))\" \"$result\"\n");
}

std::string TaskXml() {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Task version=\"1.4\" "
        "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n  <Settings>\r\n"
        "    <Enabled>true</Enabled>\r\n  </Settings>\r\n</Task>\r\n";
    return "\xFF\xFE" + platform::emulated::Utf8ToUtf16Le(xml);
}

struct Branch {
    const char* name;
    const char* argument;
    int exitCode;  // how the branch ends without faults
    // Failed at every call with two codes in every run of the sweep (the flows' own sweeps),
    // not only a sample.
    bool everyCall;
    std::function<void(TempMachine&)> prepare;
};

const std::vector<Branch>& Branches() {
    static const std::vector<Branch> branches = {
        {"no argument", "", 0, true,
         [](TempMachine& m) {
             m.Registry(AgentRegistry());
             InstallCipher(m);
         }},
        {"RBT flag set, TimerPM 1, restart", "RBT", 5, true,
         [](TempMachine& m) {
             m.Registry(Registry("MSP", true));
             InstallCipher(m);
             m.Facts(kUserFacts);
             Prompt(m, "1");
         }},
        {"RBT flag set, TimerPM 0", "RBT", 0, false,
         [](TempMachine& m) {
             m.Registry(Registry("MSP", true));
             InstallCipher(m);
             m.Facts(kUserFacts);
             Prompt(m, "0");
         }},
        {"RBT flag set, prompt missing", "RBT", 0, false,
         [](TempMachine& m) {
             m.Registry(Registry("MSP", true));
             InstallCipher(m);
             m.Facts(kUserFacts);
         }},
        {"RBT flag clear", "RBT", 5, false,
         [](TempMachine& m) {
             m.Registry(Registry("MSP", false));
             InstallCipher(m);
             m.Facts(kUserFacts);
             Prompt(m, "1");
         }},
        {"RBT TRLA, TimerPM 1, alert post refused", "RBT", 5, false,
         [](TempMachine& m) {
             m.Registry(Registry("TRLA", true));
             InstallCipher(m,
                           "<c><fod t=\"NDATAPOST\"><PR4><svc a0=\"\" a1=\"aspx\" "
                           "a2=\"wpacpmsusddappextended\" a3=\"\" a4=\"0\" a5=\"127.0.0.1:9\" "
                           "a6=\"\" a7=\"0\" a8=\"\" a9=\"\" a10=\"0\"/></PR4></fod></c>");
             m.Facts(kUserFacts);
             Prompt(m, "1");
         }},
        {"RBT Windows 10, opt-in 1", "RBT", 0, false,
         [](TempMachine& m) {
             // A 32-bit program on 64-bit Windows finds the agent's key in the 32-bit view.
             std::string wow = AgentRegistry();
             wow.replace(wow.find("SOFTWARE\\"), 9, "SOFTWARE\\WOW6432Node\\");
             m.Registry(
                 wow +
                 Registry(
                     "MSP", false,
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                     "\"ProductName\"=\"Windows 10 Pro\"\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Windows\\"
                     "WindowsUpdate\\AU]\r\n"));
             InstallCipher(m);
             m.Facts(std::string(kUserFacts) + "Wow64=1\n");
             m.File("C:\\Agent\\BaseComponents\\PatchManagement\\SchPatch.ini",
                    "[SchTime]\r\nWin10Optin=1\r\n");
             m.File("C:\\Agent\\Configuration\\Hostbook.ini",
                    "[wprestapi]\r\nURL=http://127.0.0.1:9/rest\r\n");
             m.File("C:\\Windows\\system32\\Tasks\\Microsoft\\Windows\\UpdateOrchestrator\\Reboot",
                    TaskXml());
         }},
        {"RBTASSESS due", "RBTASSESS", 0, true,
         [](TempMachine& m) {
             m.Registry(Registry("MSP", true));
             InstallCipher(m);
             m.Facts(kUserFacts);
             m.File(kScanDate, "[ScandateTime]\r\nLastScandate=3/8/2021 12:00:00 PM\r\n");
             InstallRecorder(m, kPatchAgent);
         }},
        {"RBTASSESS not due", "RBTASSESS", 0, false,
         [](TempMachine& m) {
             m.Registry(Registry("MSP", false));
             InstallCipher(m);
             m.Facts(kUserFacts);
             m.File(kScanDate, "[ScandateTime]\r\nLastScandate=3/10/2021 11:30:00 AM\r\n");
             InstallRecorder(m, kPatchAgent);
         }},
    };
    return branches;
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every profile file reads as whole lines of sections, keys and comments, and the hive parses;
// the problems found, one per line.
std::string UnreadableStateFiles(const TempMachine& machine, bool profilesToo = true) {
    namespace ini = platform::emulated::ini;
    std::string problems;
    try {
        platform::emulated::RegHive::Parse(FileText(machine.folder() / "registry" / "HKLM.reg"));
    } catch (const std::exception& e) {
        problems += std::string("HKLM.reg: ") + e.what() + "\n";
    }
    std::error_code error;
    for (fs::recursive_directory_iterator it(machine.folder() / "drives", error), end; it != end;
         it.increment(error)) {
        if (error) break;
        std::string extension = it->path().extension().string();
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".tmp") problems += it->path().string() + ": temporary file left\n";
        if (!profilesToo || extension != ".ini" || !it->is_regular_file()) continue;
        std::istringstream lines(ini::Decode(FileText(it->path())).body);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const std::string_view text = ini::Trim(line);
            if (text.empty() || text[0] == ';' || text.find('=') != std::string_view::npos ||
                (text[0] == '[' && text.back() == ']')) {
                continue;
            }
            problems += it->path().string() + ": line '" + std::string(text) + "'\n";
        }
    }
    return problems;
}

struct Survey {
    int exitCode = -1;
    std::vector<std::string> trace;
    std::vector<std::string> log;
    // For each call, the procedure of the last record logged before it ("" before the log,
    // "#" after its header): the procedure at work when the call is made.
    std::vector<std::string> atWork;
    std::vector<int> nth;  // and how many calls of its kind were made since that record, plus one
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}

Survey Normal(const Branch& branch) {
    TempMachine machine;
    branch.prepare(machine);
    platform::FaultPlan plan;
    Survey survey;
    const auto result = RunProgram(machine, branch.argument, &plan);
    survey.exitCode = result.exitCode;
    survey.trace = plan.trace;
    survey.log = result.log;
    EXPECT_EQ(UnreadableStateFiles(machine), "") << branch.name;
    // Each log write is one Files.AppendToFile: the header of a new file (its "#" lines at once),
    // then one record each.
    std::vector<std::string> records;
    bool header = false;
    for (const auto& line : result.log) {
        if (line.empty() || line[0] != '#') records.push_back(line);
        header = header || (!line.empty() && line[0] == '#');
    }
    std::size_t appended = header ? 0 : 1;  // 0: the header's write comes first
    std::string procedure;
    std::map<std::string, int> since;
    for (const auto& call : survey.trace) {
        survey.atWork.push_back(procedure);
        survey.nth.push_back(++since[call]);
        if (call != "Files.AppendToFile") continue;
        since.clear();
        if (appended == 0) {
            procedure = "#";  // after the header, before the first record
        } else if (appended <= records.size()) {
            const auto fields = Fields(records[appended - 1]);
            procedure = fields.size() > 1 ? fields[1] : "";
        }
        ++appended;
    }
    return survey;
}

// The procedures of the trap lines (ERROR records) that the run logged and the normal run did
// not.
std::set<std::string> NewTraps(const std::vector<std::string>& normal,
                               const std::vector<std::string>& failed) {
    std::multiset<std::string> before(normal.begin(), normal.end());
    std::set<std::string> traps;
    for (const auto& line : failed) {
        const auto seen = before.find(line);
        if (seen != before.end()) {
            before.erase(seen);
            continue;
        }
        const auto fields = Fields(line);
        // The level is the fourth field, or the fifth where the third names a step; ShellAndWait
        // writes its own as "EREOR".
        for (std::size_t i = 2; i < 4 && i < fields.size(); ++i) {
            if (fields[i] == "ERROR" || fields[i] == "EREOR") traps.insert(fields[1]);
        }
    }
    return traps;
}

// What a failed call shows. By default the trap line of the procedure at work, and the branch's
// own end; the rules below declare where a failure rightly ends the run otherwise, where another
// procedure's trap reports it, and which calls the program passes over (no trap line of their
// own: their result is read as Windows gives it, or the failure is not reported by design).
struct Rule {
    const char* call;
    const char* atWork;    // the procedure at work; "*" any
    int nth;               // the call's number among its kind since that procedure logged; 0 any
    platform::DWORD code;  // the injected code; 0 any
    const char* trap;      // the procedure whose trap line shows the failure; nullptr: passed over
    int exitCode;          // -1: the branch's own end
    const char* why;
};

constexpr const char* kAtWork = "=";  // trap: the procedure at work itself
// The run's end depends on how fast the prompt program writes its answer: the branch's own or 0.
constexpr int kRace = -2;

const std::vector<Rule>& Rules() {
    static const std::vector<Rule> rules = {
#include "reliability_rules.inc"
    };
    return rules;
}

Rule Expected(const std::string& call, const std::string& atWork, int nth, platform::DWORD code) {
    for (const auto& rule : Rules()) {
        if (call == rule.call && (std::string(rule.atWork) == "*" || atWork == rule.atWork) &&
            (rule.nth == 0 || rule.nth == nth) && (rule.code == 0 || rule.code == code)) {
            return rule;
        }
    }
    return Rule{call.c_str(), "*", 0, 0, kAtWork, -1, "default"};
}

bool Full() {
    const char* full = std::getenv("RS_FULL_SWEEP");
    return full && std::string(full) == "1";
}

bool Report() {
    const char* report = std::getenv("RS_SWEEP_REPORT");
    return report && std::string(report) == "1";
}

// The calls to fail or stop at: all of them, or the first of each kind and every seventh.
std::vector<long> Chosen(const std::vector<std::string>& trace, bool everyCall = false) {
    std::vector<long> chosen;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (Full() || everyCall || seen.insert(trace[i]).second || i % 7 == 0)
            chosen.push_back(static_cast<long>(i + 1));
    }
    return chosen;
}

// Every branch runs as it should without faults; the figures of the sweeps depend on that.
TEST(Reliability, EveryBranchEndsAsExpectedWithoutFaults) {
    // Nothing listens at the web posts' addresses of these two.
    const std::map<std::string, std::set<std::string>> traps = {
        {"RBT TRLA, TimerPM 1, alert post refused", {"fncRebootSupressionWebPost"}},
        {"RBT Windows 10, opt-in 1", {"fncWin10AudWebPost"}}};
    for (const auto& branch : Branches()) {
        const Survey survey = Normal(branch);
        EXPECT_EQ(survey.exitCode, branch.exitCode) << branch.name;
        EXPECT_GT(survey.trace.size(), 10u) << branch.name << " ended with " << survey.exitCode;
        const auto want = traps.find(branch.name);
        EXPECT_EQ(NewTraps({}, survey.log),
                  want == traps.end() ? std::set<std::string>{} : want->second)
            << branch.name;
    }
}

// Every branch with one call failing (all of them, or a sample): the run ends as the branch does
// or as the rules say, no failure escapes a trap, the failure shows in the trap line the rules
// expect, and every state file still reads.
TEST(Reliability, EveryFailingCallOfEveryBranchEndsCleanly) {
    const std::vector<platform::DWORD> codes = {
        platform::kErrorAccessDenied, platform::kErrorFileNotFound, platform::kErrorMoreData};
    long failedSites = 0, allSites = 0, runs = 0;
    std::set<std::string> kindsFailed, allKinds;
    for (const auto& branch : Branches()) {
        const Survey survey = Normal(branch);
        allSites += static_cast<long>(survey.trace.size());
        allKinds.insert(survey.trace.begin(), survey.trace.end());
        const auto chosen = Chosen(survey.trace, branch.everyCall);
        failedSites += static_cast<long>(chosen.size());
        for (const long call : chosen) {
            const std::string& what = survey.trace[call - 1];
            const std::string& atWork = survey.atWork[call - 1];
            kindsFailed.insert(what);
            for (const platform::DWORD code : codes) {
                const bool first = std::find(survey.trace.begin(), survey.trace.end(), what) -
                                       survey.trace.begin() + 1 ==
                                   call;
                // The sample fails later calls of a kind with one code each; the flows' sweeps
                // take access denied and file not found at every call.
                if (!Full() && !first &&
                    (branch.everyCall ? code == platform::kErrorMoreData
                                      : code != codes[call % codes.size()])) {
                    continue;
                }
                TempMachine machine;
                branch.prepare(machine);
                platform::FaultPlan plan;
                plan.failOperation = what;
                plan.failOccurrence =
                    std::count(survey.trace.begin(), survey.trace.begin() + call, what);
                plan.code = code;
                const auto result = RunProgram(machine, branch.argument, &plan);
                ++runs;
                const Rule rule = Expected(what, atWork, survey.nth[call - 1], code);
                const int exitCode = rule.exitCode >= 0 ? rule.exitCode : branch.exitCode;
                const std::string trap =
                    !rule.trap ? "" : (std::string(rule.trap) == kAtWork ? atWork : rule.trap);
                const auto traps = NewTraps(survey.log, result.log);
                const std::string where = std::string(branch.name) + ", call " +
                                          std::to_string(call) + " " + what + " in '" + atWork +
                                          "', code " + std::to_string(code);
                std::string shown;
                for (const auto& t : traps) shown += " " + t;
                EXPECT_FALSE(result.crashed) << where << ": " << result.crash;
                if (rule.exitCode == kRace) {
                    EXPECT_TRUE(result.exitCode == branch.exitCode || result.exitCode == 0)
                        << where << " ended " << result.exitCode << " (" << rule.why << ")";
                } else {
                    EXPECT_EQ(result.exitCode, exitCode) << where << " (" << rule.why << ")";
                }
                if (rule.trap) {
                    EXPECT_EQ(traps.count(trap), 1u)
                        << where << ": no trap line of " << trap << "; new ones:" << shown;
                }
                EXPECT_EQ(UnreadableStateFiles(machine), "") << where;
                if (std::getenv("RS_SWEEP_OBSERVE"))
                    std::printf("OBS|%s|%s|%u|%d|%d|%s|%s|%d\n", what.c_str(), atWork.c_str(), code,
                                result.exitCode, branch.exitCode, shown.c_str(), branch.name,
                                survey.nth[call - 1]);
            }
        }
    }
    if (Report()) {
        std::printf(
            "fault sweep: %ld of %ld call sites failed (%zu of %zu kinds of call), %ld runs\n",
            failedSites, allSites, kindsFailed.size(), allKinds.size(), runs);
    }
}

// The process stopped before each call of the RBT and RBTASSESS branches: the next run on the
// same machine ends through one of its ends and every state file reads.
TEST(Reliability, ARunStoppedAtAnyCallLeavesAMachineTheNextRunHandles) {
    long stops = 0;
    for (const auto& branch : Branches()) {
        if (std::string(branch.argument).empty()) continue;
        const Survey survey = Normal(branch);
        for (const long call : Chosen(survey.trace)) {
            TempMachine machine;
            branch.prepare(machine);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                platform::FaultPlan plan;
                plan.stopAt = call;
                RunProgram(machine, branch.argument, &plan);
                std::_Exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            const std::string where = std::string(branch.name) + ", stopped at call " +
                                      std::to_string(call) + " " + survey.trace[call - 1];
            ASSERT_TRUE(WIFEXITED(status)) << where;
            EXPECT_EQ(WEXITSTATUS(status), platform::FaultPlan::kStoppedExitCode) << where;
            ++stops;
            EXPECT_EQ(UnreadableStateFiles(machine), "") << where << " (after the stop)";
            const auto next = RunProgram(machine, branch.argument);
            EXPECT_FALSE(next.crashed) << where << ": " << next.crash;
            EXPECT_GE(next.exitCode, 0) << where;
            EXPECT_LE(next.exitCode, 5) << where;
            EXPECT_NE(next.exitCode, 1) << where << ": the stopped run still counts as running";
            EXPECT_NE(next.exitCode, 3) << where << ": the stopped run still counts as running";
            EXPECT_EQ(UnreadableStateFiles(machine), "") << where;
        }
    }
    if (Report()) std::printf("crash test: %ld stop points\n", stops);
}

// --- hostile input -------------------------------------------------------------------------------

const Branch& BranchNamed(const std::string& name) {
    for (const auto& branch : Branches()) {
        if (branch.name == name) return branch;
    }
    throw std::logic_error("no branch " + name);
}

std::string Garbage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// A branch's machine made hostile in one way: the run still ends through one of its ends, within
// a bounded time, and leaves every state file readable.
TEST(Reliability, HostileInputEndsCleanly) {
    const std::string megabyte(1 << 20, '7');
    const struct {
        const char* name;
        const char* branch;
        std::function<void(TempMachine&)> spoil;
    } cases[] = {
        {"megabyte registration id", "RBT flag set, TimerPM 1, restart",
         [&](TempMachine& m) {
             m.Registry(AgentRegistry().replace(AgentRegistry().find("\"1001\""), 6,
                                                "\"" + megabyte + "\"") +
                        kPending);
         }},
        {"megabyte scan date", "RBTASSESS due",
         [&](TempMachine& m) {
             m.File(kScanDate, "[ScandateTime]\r\nLastScandate=" + megabyte + "\r\n");
         }},
        {"megabyte opt-in", "RBT Windows 10, opt-in 1",
         [&](TempMachine& m) {
             m.File("C:\\Agent\\BaseComponents\\PatchManagement\\SchPatch.ini",
                    "[SchTime]\r\nWin10Optin=" + megabyte + "\r\n");
         }},
        {"binary scan date file", "RBTASSESS due",
         [&](TempMachine& m) { m.File(kScanDate, Garbage(65536, 1)); }},
        {"binary reboot state file", "RBTASSESS due",
         [&](TempMachine& m) {
             m.File("C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini", Garbage(65536, 2));
         }},
        {"binary prompt result file", "RBT flag set, TimerPM 1, restart",
         [&](TempMachine& m) {
             InstallScript(
                 m, "C:\\Agent\\Bellhop.exe",
                 "head -c 65536 /dev/urandom > "
                 "\"$REBOOTSCHEDULER_MACHINE/drives/c/ProgramData/VERUZE/Bellhop_alice.ini\"\n");
         }},
        {"binary configuration", "RBT TRLA, TimerPM 1, alert post refused",
         [&](TempMachine& m) {
             m.File("C:\\Agent\\Configuration\\wpConfig.xml", Garbage(65536, 3));
         }},
        {"configuration nested 100000 deep", "RBT TRLA, TimerPM 1, alert post refused",
         [&](TempMachine& m) {
             std::string xml;
             for (int i = 0; i < 100000; ++i) xml += "<fod t=\"NDATAPOST\">";
             for (int i = 0; i < 100000; ++i) xml += "</fod>";
             InstallCipher(m, xml.c_str());
         }},
        {"configuration with doctype and entities", "RBT TRLA, TimerPM 1, alert post refused",
         [&](TempMachine& m) {
             std::string xml = "<!DOCTYPE c [<!ENTITY a \"aaaaaaaaaa\">";
             for (int i = 1; i < 10; ++i) {
                 // Appended piece by piece: "text" + std::string(...) trips GCC 12's -Wrestrict
                 // at -O2 (a false positive in its inlined std::string).
                 xml += "<!ENTITY ";
                 xml += static_cast<char>('a' + i);
                 xml += " \"";
                 for (int k = 0; k < 10; ++k) {
                     xml += '&';
                     xml += static_cast<char>('a' + i - 1);
                     xml += ';';
                 }
                 xml += "\">";
             }
             xml +=
                 "<!ENTITY x SYSTEM \"file:///etc/passwd\">]><c><fod t=\"NDATAPOST\"><PR4>"
                 "<svc a0=\"&j;\" a1=\"&x;\" a2=\"wpacpmsusddappextended\" a3=\"\" a4=\"0\" "
                 "a5=\"127.0.0.1:9\" a6=\"&j;\" a7=\"0\" a8=\"\" a9=\"\" "
                 "a10=\"0\"/></PR4></fod></c>";
             InstallCipher(m, xml.c_str());
         }},
        {"prompt program that never exits (wait bounded to 0.3 s here, 30 minutes for real)",
         "RBT flag set, TimerPM 1, restart",
         [&](TempMachine& m) {
             m.Facts(
                 "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Console]\nSessionId=1\n"
                 "User=alice\n[Clock]\nNow=2021-03-10 12:00:00\nMaxWaitMs=300\n");
             InstallScript(m, "C:\\Agent\\Bellhop.exe", "exec sleep 5\n");
         }},
        {"100000 files in the data folder", "RBT flag set, TimerPM 1, restart",
         [&](TempMachine& m) {
             const fs::path folder = m.HostPath("C:\\ProgramData\\VERUZE");
             fs::create_directories(folder);
             for (int i = 0; i < 100000; ++i) {
                 std::ofstream(folder /
                               ("Bellhop_u" + std::to_string(i) + (i % 2 ? ".ini" : ".txt")));
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempMachine machine;
        BranchNamed(c.branch).prepare(machine);
        c.spoil(machine);
        const auto started = std::chrono::steady_clock::now();
        const auto result = RunProgram(machine, BranchNamed(c.branch).argument);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::steady_clock::now() - started)
                                 .count();
        EXPECT_FALSE(result.crashed) << result.crash;
        EXPECT_GE(result.exitCode, 0);
        EXPECT_LE(result.exitCode, 5);
        EXPECT_LT(seconds, 60);
        // Profile files may hold the garbage they were given; the hive must read, and no
        // temporary file may be left.
        EXPECT_EQ(UnreadableStateFiles(machine, false), "");
        if (Report())
            std::printf("%s: exit code %d in %llds\n", c.name, result.exitCode,
                        static_cast<long long>(seconds));
    }
}

}  // namespace

namespace {

// A service that never answers one call: the call ends at its bound (ERROR_TIMEOUT, as its
// HRESULT where the call is COM's), the procedure at work reports it in its trap, and the run
// goes on to the next method or its documented end, where without the bound it would block.
// Every bound runs a thousandth as long here ([Clock] BoundScale).
TEST(Reliability, ACallThatNeverReturnsEndsAtItsBound) {
    const std::string timeout =
        "-2147023436\tThis operation returned because the timeout period expired.";
    const std::string kAuditPost = "ModWebPost\tfncWin10AudWebPost\tINFO\tWebpost URL";
    const std::string kNoSuspension =
        "ModReboot\tCallRebootUI\tINFO\tFailed to send Webpost for Device and Service Down Alert "
        "Suspension";
    const struct {
        const char* call;
        const char* branch;
        int exitCode;
        std::string trap;   // the beginning of the trap line that reports it
        std::string next;   // the beginning of the line after it
        const char* bound;  // the call's bound, as the journal gives it
    } cases[] = {
        {"Components.CallCipher", "no argument", 0,
         "ModComman\tEncDecXML\tERROR\t1460\tThis operation returned because the timeout period "
         "expired.\t1460",
         "ModComman\tCloseAll\tINFO\tEND", "15000"},
        {"Wmi.ConnectServer", "RBTASSESS not due", 0,
         "modUpTime\tFN_CollectSysLastReboot\tError while getting date,\tERROR\t" + timeout,
         "modUpTime\tgetSystemUPTimeByWMI\tGetString\tERROR\t" + timeout, "120000"},
        {"Wmi.ExecQuery", "RBTASSESS not due", 0,
         "modUpTime\tFN_CollectSysLastReboot\tError while getting date,\tERROR\t" + timeout,
         "modUpTime\tgetSystemUPTimeByWMI\tINFO\tWMI object created.", "30000"},
        {"Tasks.GetTask", "RBT Windows 10, opt-in 1", 0, "ModComman\tGetTask\tERROR\t" + timeout,
         "ModComman\tsubDisableRebootNotification\tERROR\t91", "30000"},
        {"Tasks.get_State", "RBT Windows 10, opt-in 1", 0,
         "ModComman\tsubDisableRebootNotification\tERROR\t" + timeout, kAuditPost, "30000"},
        {"Tasks.put_Enabled", "RBT Windows 10, opt-in 1", 0,
         "ModComman\tsubDisableRebootNotification\tERROR\t" + timeout, kAuditPost, "30000"},
        {"Tasks.get_Name", "RBT Windows 10, opt-in 1", 0,
         "ModComman\tsubDisableRebootNotification\tERROR\t" + timeout, kAuditPost, "30000"},
        {"Power.ReportEventA", "RBT flag set, TimerPM 1, restart", 5,
         "modReboot\tsubRegisterRebootEvent\tERROR\t1460 0  Reboot or Shutdown not logged", "",
         "30000"},
        // A restart request not answered is no refusal: the marks stay, exit 7.
        {"Power.InitiateSystemShutdownExA", "RBT flag set, TimerPM 1, restart", 7,
         "ModReboot\tInitiateShutdownMachine\tERROR\tInitiateSystemShutdown not answered within "
         "30000 ms.\t1460\tThis operation returned because the timeout period expired.",
         "ModReboot\tRebootSystem\tINFO\tApplication stopped.", "30000"},
        // The post's encrypted body: the encryptor's trap, then the post's for the missing text.
        {"Components.EncryptText", "RBT TRLA, TimerPM 1, alert post refused", 5,
         "ModWebPost\tfncXMLEncrypt\tERROR\t" + timeout,
         "ModReboot\tfncRebootSupressionWebPost\tERROR\tfncRebootSupressionWebPost.\t5", "15000"},
        {"Components.CreateObject", "RBT TRLA, TimerPM 1, alert post refused", 5,
         "ModReboot\tfncRebootSupressionWebPost\tERROR\tfncRebootSupressionWebPost.\t" + timeout,
         kNoSuspension, "15000"},
        {"Components.PostXMLString", "RBT TRLA, TimerPM 1, alert post refused", 5,
         "ModReboot\tfncRebootSupressionWebPost\tERROR\tfncRebootSupressionWebPost.\t" + timeout,
         kNoSuspension, "40000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        TempMachine machine;
        BranchNamed(c.branch).prepare(machine);
        if (std::string(c.call) == "Components.EncryptText") {
            InstallCipher(machine,
                          "<c><fod t=\"NDATAPOST\"><PR4><svc a0=\"\" a1=\"aspx\" "
                          "a2=\"wpacpmsusddappextended\" a3=\"\" a4=\"0\" a5=\"127.0.0.1:9\" "
                          "a6=\"\" a7=\"0\" a8=\"\" a9=\"\" a10=\"1\"/></PR4></fod></c>");
        }
        const fs::path facts = machine.folder() / "machine.ini";
        machine.Facts(FileText(facts) + "\n[Clock]\nBoundScale=1000\n[Hang]\n" + c.call +
                      "=forever\n");
        const auto started = std::chrono::steady_clock::now();
        const auto result = RunProgram(machine, BranchNamed(c.branch).argument);
        const auto spent = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_LT(spent, std::chrono::seconds(5));
        const auto trap = std::find_if(result.log.begin(), result.log.end(), [&](const auto& line) {
            return line.rfind(c.trap, 0) == 0;
        });
        ASSERT_NE(trap, result.log.end()) << ::testing::PrintToString(result.log);
        ASSERT_NE(trap + 1, result.log.end());
        EXPECT_EQ(trap[1].substr(0, c.next.size()), c.next) << trap[1];
        EXPECT_NE(FileText(machine.folder() / "journal.log")
                      .find(std::string(c.call) + " not answered within " + c.bound + " ms"),
                  std::string::npos);
    }
}

// The longest run of each mode with every service hung (the README's figures, a hundredth as
// long here): the Task Scheduler, the REST service, both alert-suspension addresses (loopback
// services that read the request and never answer), the event log and WMI. RBT: the Windows
// 10 step's task call 30 s, the audit and error posts 60 s each at most (a hung service ends each
// at its 30 s answer time-out), the alert-suspension post 50 s, the event record 30 s, the
// restart request 30 s (answered here). RBTASSESS: WMI's two connections of 120 s each, then the
// tick count.
TEST(Reliability, EveryServiceHungTheRunEndsWithinItsStatedBound) {
    contract::LoopbackServer rest({"hang"});
    contract::LoopbackServer primary({"hang"});
    contract::LoopbackServer secondary({"hang"});
    const struct {
        const char* branch;
        const char* hangs;
        int exitCode;
        int boundMs;  // the README's figure for the waits, scaled
        std::vector<std::string> traps;
    } cases[] = {
        {"RBT Windows 10, opt-in 1",
         "Tasks.GetTask=forever\nPower.RegisterEventSourceA=forever\n",
         5,
         2600,
         {"ModComman\tGetTask\tERROR\t-2147023436",
          "ModWebPost\tfncWin10AudWebPost\tERROR\tfncWin10AudWebPost.\t-2147012894",
          "ModWebPost\tfncWin10ErrorWebPost\tERROR\tfncWin10ErrorWebPost.\t-2147012894",
          "ModReboot\tfncRebootSupressionWebPost\tERROR\tfncRebootSupressionWebPost.\t"
          "-2147023436",
          "modReboot\tsubRegisterRebootEvent\tERROR\t6 0  Reboot or Shutdown not logged",
          "ModReboot\tRebootSystem\tINFO\tApplication stopped."}},
        {"RBTASSESS not due",
         "Wmi.ConnectServer=forever\nWmi.ExecQuery=forever\n",
         0,
         2400,
         {"modUpTime\tFN_CollectSysLastReboot\tError while getting date,\tERROR\t-2147023436",
          "modUpTime\tgetSystemUPTimeByWMI\tGetString\tERROR\t-2147023436",
          "modUpTime\tgetSystemUPTimeByAPI\tINFO\tSystem Up time is"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.branch);
        TempMachine machine;
        BranchNamed(c.branch).prepare(machine);
        if (std::string(c.branch).rfind("RBT ", 0) == 0) {
            // A "TRLA" agent whose user answered "restart now", with the REST service and both
            // alert-suspension addresses hung.
            std::string registry = FileText(machine.folder() / "registry" / "HKLM.reg");
            for (std::size_t at = registry.find("\"MSP\""); at != std::string::npos;
                 at = registry.find("\"MSP\"", at)) {
                registry.replace(at, 5, "\"TRLA\"");
            }
            machine.Registry(registry.substr(registry.find('\n') + 1) + kPending);
            InstallCipher(machine, ("<c><fod t=\"NDATAPOST\"><PR4><svc a0=\"\" a1=\"aspx\" "
                                    "a2=\"wpacpmsusddappextended\" a3=\"\" a4=\"0\" a5=\"" +
                                    primary.HostAndPort() + "\" a6=\"" + secondary.HostAndPort() +
                                    "\" a7=\"0\" a8=\"\" a9=\"\" a10=\"0\"/></PR4></fod></c>")
                                       .c_str());
            machine.File("C:\\Agent\\Configuration\\Hostbook.ini",
                         "[wprestapi]\r\nURL=" + rest.Url("/rest/") + "\r\n");
            Prompt(machine, "1");
        }
        const fs::path facts = machine.folder() / "machine.ini";
        machine.Facts(FileText(facts) + "\n[Clock]\nBoundScale=100\n[Hang]\n" + c.hangs);
        const auto started = std::chrono::steady_clock::now();
        const auto result = RunProgram(machine, BranchNamed(c.branch).argument);
        const auto spent = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.exitCode, c.exitCode);
        // The figure, and the run's own work beside its waits.
        EXPECT_LT(spent, std::chrono::milliseconds(c.boundMs + 500));
        if (Report())
            std::printf("%s, every service hung: %lld ms (scaled figure %d ms)\n", c.branch,
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::milliseconds>(spent).count()),
                        c.boundMs);
        auto at = result.log.begin();
        for (const auto& trap : c.traps) {
            at = std::find_if(at, result.log.end(),
                              [&](const std::string& line) { return line.rfind(trap, 0) == 0; });
            EXPECT_NE(at, result.log.end()) << trap << "\n" << ::testing::PrintToString(result.log);
        }
    }
}

}  // namespace
