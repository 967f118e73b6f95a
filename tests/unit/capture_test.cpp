#include "capture/capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "capture/capture_folder.h"
#include "capture/redaction.h"
#include "fault_injection.h"
#include "platform/emulated/emulated_platform.h"
#include "platform/emulated/text_codec.h"
#include "run_support.h"

namespace {

namespace fs = std::filesystem;
using capture::NameKind;
using testing_support::TempMachine;

TEST(CaptureRedaction, NamesBecomePseudonymsWhereTheyStandWhole) {
    capture::Redaction redaction;
    redaction.Add(NameKind::kComputer, "WS-ACME");
    redaction.Add(NameKind::kUser, "alice");
    redaction.Add(NameKind::kUser, "ALICE");  // the same name: one pseudonym
    redaction.Add(NameKind::kUser, "SYSTEM");
    redaction.Add(NameKind::kDomain, "ACME");
    redaction.Add(NameKind::kHost, "rest.acme.example");
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"C:\\Users\\alice\\x.ini", "C:\\Users\\user-1\\x.ini"},
        {"Bellhop_ALICE.ini", "Bellhop_user-1.ini"},
        {"malice alicex", "malice alicex"},
        {"ACME\\alice on WS-ACME", "domain-1\\user-1 on host-1"},
        {"https://rest.acme.example/v1/", "https://host-2/v1/"},
        {"SYSTEM", "SYSTEM"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(redaction.Apply(c.text, "here"), c.expected) << c.text;
    }
    const std::string manifest = redaction.Manifest();
    EXPECT_NE(manifest.find("user-1=user name"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("here=computer name, domain name, user name, web host"),
              std::string::npos)
        << manifest;
    EXPECT_EQ(manifest.find("alice"), std::string::npos) << manifest;
}

TEST(CaptureRedaction, SecretsOfTheConfigurationAreDropped) {
    const struct {
        const char* text;
        const char* expected;
        int dropped;
    } xml[] = {
        {R"(<service id="1" password="hunter2" primary="a:1"/>)",
         R"(<service id="1" password="" primary="a:1"/>)", 1},
        {R"(<add key="ApiKey" value="abc"/><add key="Mode" value="x"/>)",
         R"(<add key="ApiKey" value=""/><add key="Mode" value="x"/>)", 1},
        {"<Token>xyz</Token><Name>n</Name>", "<Token></Token><Name>n</Name>", 1},
        {R"(<key name="k" Secret='s'/>)", R"(<key name="k" Secret=''/>)", 1},
        {R"(<service id="1" encrypt="0"/>)", R"(<service id="1" encrypt="0"/>)", 0},
    };
    for (const auto& c : xml) {
        int dropped = 0;
        EXPECT_EQ(capture::DropXmlSecrets(c.text, &dropped), c.expected) << c.text;
        EXPECT_EQ(dropped, c.dropped) << c.text;
    }
    int dropped = 0;
    EXPECT_EQ(
        capture::DropIniSecrets("[a]\r\nURL=x\r\nAuthToken = t\r\n;pwd=p\r\nPwd=\r\n", &dropped),
        "[a]\r\nURL=x\r\nAuthToken =\r\n;pwd=p\r\nPwd=\r\n");
    EXPECT_EQ(dropped, 1);
}

TEST(CaptureRedaction, WebHostsOfAddressesAndEndpoints) {
    const struct {
        const char* text;
        std::vector<std::string> hosts;
    } cases[] = {
        {"URL=https://rest.acme.example:8443/api/", {"rest.acme.example"}},
        {R"(primary="gw.acme.example:8088" secondary2='10.1.2.3')",
         {"gw.acme.example", "10.1.2.3"}},
        {"http://127.0.0.1:80/ http://localhost/ primary=\"127.0.0.5:1\"", {}},
        {"no address here", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(capture::WebHosts(c.text), c.hosts) << c.text;
}

TEST(CaptureFolder, PathsAndLines) {
    const fs::path out = "/cap";
    const struct {
        const char* windows;
        const char* host;
    } paths[] = {
        {"C:\\Agent\\a.ini", "/cap/drives/c/Agent/a.ini"},
        {"d:\\x\\..\\y", "/cap/drives/d/x/y"},
        {"\\BaseComponents\\l.log", "/cap/drives/c/BaseComponents/l.log"},
        {"\\\\server\\share\\f", "/cap/network/server/share/f"},
    };
    for (const auto& p : paths) EXPECT_EQ(capture::FolderPath(out, p.windows), p.host) << p.windows;

    const struct {
        const char* path;
        const char* folder;
        bool inside;
    } folders[] = {
        {"C:\\ProgramData\\VERUZE\\out", "C:\\ProgramData\\VERUZE\\", true},
        {"c:/programdata/veruze", "C:\\ProgramData\\VERUZE\\", true},
        {"C:\\ProgramData\\VERUZE2", "C:\\ProgramData\\VERUZE\\", false},
        {"/tmp/m/out", "/tmp/m", true},
        {"/tmp/mx", "/tmp/m", false},
        {"/tmp/m", "", false},
    };
    for (const auto& f : folders) {
        EXPECT_EQ(capture::InsideFolder(f.path, f.folder), f.inside)
            << f.path << " in " << f.folder;
    }

    const struct {
        const char* text;
        std::size_t count;
        const char* last;
    } lines[] = {
        {"a\r\nb\r\nc\r\n", 2, "b\r\nc\r\n"},
        {"a\nb\nc", 2, "b\nc"},
        {"a\nb\n", 5, "a\nb\n"},
        {"", 3, ""},
    };
    for (const auto& l : lines) EXPECT_EQ(capture::LastLines(l.text, l.count), l.last) << l.text;

    const struct {
        long error;
        const char* text;
    } failures[] = {{2, "absent"},           {3, "absent"},    {203, "absent"},
                    {-2147024894, "absent"}, {5, "refused 5"}, {-2147024891, "refused -2147024891"},
                    {87, "failed 87"}};
    for (const auto& f : failures) EXPECT_EQ(capture::FailureText(f.error), f.text) << f.error;
}

// Every file below a folder, its path relative to the folder and its bytes.
std::string EverythingIn(const fs::path& folder) {
    std::string all;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        all += fs::relative(entry.path(), folder).string() + "\n";
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        const std::string content = bytes.str();
        all += content;
        // Texts in UTF-16LE are searched as text too.
        if (content.rfind("\xFF\xFE", 0) == 0) {
            all += platform::emulated::Utf16LeToUtf8(content.substr(2));
        }
    }
    return platform::emulated::UpperAscii(all);
}

// How the capture recorded the failed read of `what`; empty when it did not fail.
std::string FailureOf(const capture::MachineCapture& taken, const std::string& what) {
    for (const auto& failed : taken.failed) {
        if (failed.name == what) return failed.value;
    }
    return {};
}

class CaptureOfAMachine : public ::testing::Test {
protected:
    CaptureOfAMachine() {
        machine.Registry(testing_support::AgentRegistry(
            "\"Password\"=\"hunter22\"\r\n"
            "\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\"
            "ComputerName]\r\n\"ComputerName\"=\"QUUXHOST\"\r\n"));
        machine.Facts(
            "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\nCOMPUTERNAME=QUUXHOST\n"
            "USERDOMAIN=FROBCORP\n[Console]\nSessionId=2\nUser=zorblax\n"
            "[Clock]\nNow=2021-03-04 17:06:07\n[System]\nSystemDirectory=C:\\Windows\\system32\n"
            "[Processes]\n2200=EXPLORER.EXE\n2300=notepad.exe\n[ProcessOwners]\n2200=zorblax\n"
            "[Job]\nInJob=1\nKillOnClose=1\n[Sessions]\n3=4,blurfle\n"
            "[FileOwners]\nC:\\ProgramData\\VERUZE\\Bellhop_zorblax.ini=wizzle\n"
            "[FileRights]\nC:\\Agent\\BaseComponents=Administrators,Everyone\n");
        testing_support::InstallCipher(
            machine,
            "<configuration><service name=\"wpacpmsusddappextended\" "
            "primary=\"gw.frobcorp.example:8088\" password=\"hunter22\"/></configuration>");
        machine.File("C:\\Agent\\Configuration\\Hostbook.ini",
                     "[wprestapi]\r\nURL=https://rest.frobcorp.example/rest/\r\n");
        machine.File("C:\\Agent\\BaseComponents\\PatchManagement\\SchPatch.ini",
                     "[SchTime]\r\nWin10Optin=1\r\n");
        machine.File("C:\\ProgramData\\VERUZE\\Bellhop_zorblax.ini",
                     "[RebootStatus]\r\nTimerPM=1\r\nUser=FROBCORP\\zorblax on QUUXHOST\r\n");
        machine.File("C:\\Windows\\system32\\Tasks\\Microsoft\\Windows\\UpdateOrchestrator\\Reboot",
                     "\xFF\xFE" + platform::emulated::Utf8ToUtf16Le(
                                      "<Task><Author>QUUXHOST\\zorblax</Author></Task>"));
    }
    ~CaptureOfAMachine() override { fs::remove_all(out); }

    // The capture of the machine, redacted or not, through `plan` when given.
    capture::MachineCapture Capture(bool redact, platform::FaultPlan* plan = nullptr) {
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "", "RsCapture");
        std::unique_ptr<platform::Platform> faulty;
        if (plan) faulty = std::make_unique<platform::FaultInjectingPlatform>(*host, *plan);
        capture::MachineCapture result = capture::ReadMachine(faulty ? *faulty : *host);
        capture::Redaction redaction;
        if (redact) capture::RedactCapture(result, redaction);
        std::string error;
        EXPECT_TRUE(
            capture::WriteCaptureFolder(result, redact ? redaction.Manifest() : "", out, &error))
            << error;
        return result;
    }

    TempMachine machine;
    fs::path out = machine.folder().string() + ".capture";
};

TEST_F(CaptureOfAMachine, RedactedHoldsNoNameInAnyByteOrFileName) {
    const char* names[] = {"zorblax", "QUUXHOST", "FROBCORP", "hunter22", "blurfle", "wizzle"};
    Capture(false);
    const std::string clear = EverythingIn(out);
    for (const char* name : names) {
        EXPECT_NE(clear.find(platform::emulated::UpperAscii(name)), std::string::npos) << name;
    }
    fs::remove_all(out);

    Capture(true);
    const std::string redacted = EverythingIn(out);
    for (const char* name : names) {
        EXPECT_EQ(redacted.find(platform::emulated::UpperAscii(name)), std::string::npos) << name;
    }
    EXPECT_TRUE(fs::exists(out / "drives/c/ProgramData/VERUZE/Bellhop_user-1.ini"));
    EXPECT_NE(redacted.find("USER=DOMAIN-1\\USER-1 ON HOST-1"), std::string::npos);
    EXPECT_NE(redacted.find("[CONSOLE]\r\nSESSIONID=2\r\nUSER=USER-1"), std::string::npos);
    EXPECT_NE(redacted.find("C:\\AGENT\\CONFIGURATION\\WPCONFIG.XML=1"), std::string::npos)
        << "the manifest counts the dropped secret";
}

TEST_F(CaptureOfAMachine, KeepsLastWriteTimesAndClearConfiguration) {
    const auto source = machine.HostPath("C:\\ProgramData\\VERUZE\\Bellhop_zorblax.ini");
    const auto stamp = fs::file_time_type(std::chrono::seconds(1600000000));
    fs::last_write_time(source, stamp);
    const capture::MachineCapture taken = Capture(false);
    EXPECT_EQ(fs::last_write_time(out / "drives/c/ProgramData/VERUZE/Bellhop_zorblax.ini"),
              fs::last_write_time(source));
    std::ifstream config(out / "drives/c/Agent/Configuration/wpConfig.xml");
    std::string text((std::istreambuf_iterator<char>(config)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.rfind("<configuration>", 0), 0u) << text;
    EXPECT_EQ(FailureOf(taken, "C:\\Agent\\Configuration\\wpConfig.xml"), "");
}

TEST_F(CaptureOfAMachine, AReadThatFailsIsNamedAndTheRestGoesOn) {
    platform::FaultPlan probe;
    Capture(false, &probe);
    fs::remove_all(out);
    const struct {
        const char* call;
        platform::DWORD code;
        const char* what;
        const char* text;
    } cases[] = {
        {"Registry.RegOpenKeyExA", 5, "HKLM\\SOFTWARE\\VERUZE", "refused 5"},
        {"Files.ReadWholeFile", 87, "C:\\Agent\\Configuration\\Hostbook.ini", "failed 87"},
    };
    for (const auto& c : cases) {
        platform::FaultPlan plan;
        const auto first = std::find(probe.trace.begin(), probe.trace.end(), c.call);
        ASSERT_NE(first, probe.trace.end()) << c.call;
        plan.failAt = static_cast<long>(first - probe.trace.begin()) + 1;
        plan.code = c.code;
        const capture::MachineCapture taken = Capture(false, &plan);
        fs::remove_all(out);
        EXPECT_EQ(FailureOf(taken, c.what), c.text) << c.call;
        EXPECT_FALSE(taken.files.empty()) << "the files are read all the same";
    }
}

// A file of the capture as text.
std::string Text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(CaptureOfAMachine, FactsAsTheHostStatesThemAndTheZoneBias) {
    // Two hours east of UTC (POSIX counts the other way); the clock is pinned to local time.
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    setenv("TZ", "UTC-2", 1);
    tzset();
    Capture(false);
    zone ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
    const std::string facts = Text(out / "machine.ini");
    const std::string notes = Text(out / "capture.ini");
    const char* lines[] = {
        "[Console]\r\nSessionId=2\r\nUser=zorblax\r\n",
        "[Processes]\r\n2200=EXPLORER.EXE\r\n2300=notepad.exe\r\n",
        "[ProcessOwners]\r\n2200=zorblax\r\n",
        "[Sessions]\r\n0=4\r\n2=0,zorblax\r\n3=4,blurfle\r\n",
        "[Job]\r\nInJob=1\r\nBreakawayOk=0\r\nSilentBreakawayOk=0\r\nKillOnClose=1\r\n",
        "[Clock]\r\nNow=2021-03-04 17:06:07\r\n",
        "[Account]\r\nUserName=SYSTEM\r\n",
        // What the program checks before it takes a result file or starts a program as SYSTEM.
        "[FileOwners]\r\nC:\\ProgramData\\VERUZE\\Bellhop_zorblax.ini=wizzle\r\n",
        "[FileRights]\r\nC:\\Agent\\=Administrators\r\nC:\\Agent\\BaseComponents\\="
        "Administrators,Users\r\nC:\\Agent\\BaseComponents\\PatchManagement\\="
        "Administrators,Users\r\nC:\\Agent\\Cryptel.dll=Administrators\r\n",
        // The accounts compared by SID, and the Administrators' members (none here).
        "[Accounts]\r\n",
        "\r\nSYSTEM=S-1-5-18\r\n",
        "\r\nzorblax=S-1-5-21-1004336348-1177238915-682003330-",
        "[LocalGroups]\r\nAdministrators=\r\n",
    };
    for (const char* line : lines) EXPECT_NE(facts.find(line), std::string::npos) << line << facts;
    // The emulated host's UTC clock is the host's own ([Clock] Now pins the local time only), so
    // only the local time and the zone's bias are pinned here.
    EXPECT_NE(notes.find("LocalTime=2021-03-04 17:06:07\r\nUtcTime="), std::string::npos) << notes;
    EXPECT_NE(notes.find("\r\nBias=-120\r\n"), std::string::npos) << notes;
}

}  // namespace
