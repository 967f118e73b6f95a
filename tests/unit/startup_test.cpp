#include "flow/startup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "config/config_protection.h"
#include "reboot/prompt_files.h"
#include "reboot/reboot_state.h"
#include "run/end_of_run.h"
#include "run_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AgentRegistry;
using testing_support::ContextOn;
using testing_support::InstallCipher;
using testing_support::RunProgram;
using testing_support::TempMachine;

struct FolderCase {
    const char* allUsersProfile;
    const char* dataFolder;
};

class DataFolders : public ::testing::TestWithParam<FolderCase> {};

TEST_P(DataFolders, FollowTheProfileShape) {
    EXPECT_EQ(run::DataFolderFor(GetParam().allUsersProfile, "C:\\Agent\\"), GetParam().dataFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DataFolders,
    ::testing::Values(FolderCase{"C:\\ProgramData", "C:\\ProgramData\\VERUZE\\"},
                      FolderCase{"c:\\programdata\\", "c:\\programdata\\VERUZE\\"},
                      FolderCase{
                          "C:\\Documents and Settings\\All Users",
                          "C:\\Documents and Settings\\All Users\\Application Data\\VERUZE\\"},
                      FolderCase{"", "C:\\Agent\\"}, FolderCase{"D:\\Shared", "C:\\Agent\\"}));

// A configured agent with its cipher library and configuration.
void ConfiguredAgent(TempMachine& machine, const std::string& extraFacts = {}) {
    machine.Registry(AgentRegistry());
    InstallCipher(machine);
    machine.Facts("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Account]\nUserName=SYSTEM\n" +
                  extraFacts);
}

void Touch(const TempMachine& machine, const std::string& path, const std::string& content,
           int secondsAgo) {
    const_cast<TempMachine&>(machine).File(path, content);
    fs::last_write_time(machine.HostPath(path),
                        fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

TEST(Startup, FillsTheRunContext) {
    TempMachine machine;
    ConfiguredAgent(machine);
    machine.File("C:\\Agent\\BaseComponents\\PatchManagement\\SchPatch.ini",
                 "[SchTime]\r\nWin10Optin= 1 \r\n");
    machine.Registry(AgentRegistry() +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n"
                     "\"ProductName\"=\"Windows 10 Pro\"\r\n");
    machine.Facts(
        "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Clock]\nNow=2021-03-04 17:06:07\n");
    ContextOn on(machine);
    auto& ctx = on.ctx();
    run::InitializeEXE(ctx);
    EXPECT_EQ(ctx.installPath, "C:\\Agent\\");
    EXPECT_EQ(ctx.regId, "1001");
    EXPECT_EQ(ctx.agentType, "TRLA");
    EXPECT_EQ(ctx.win10OptIn, "1");
    EXPECT_EQ(ctx.wpConfigXml, "<configuration/>");
    EXPECT_EQ(ctx.osProductName, "Windows 10 Pro");
    EXPECT_EQ(ctx.dataFolder, "C:\\ProgramData\\VERUZE\\");
    EXPECT_EQ(ctx.rebootIniPath, "C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini");
    EXPECT_EQ(ctx.latestPromptFile, ctx.rebootIniPath);
    EXPECT_EQ(ctx.runStartTime, "3/4/2021 17:6:7");
    EXPECT_TRUE(machine.Exists("C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini"));
}

TEST(Startup, MissingSiteIdEndsTheRunAfterClearingTheTimer) {
    TempMachine machine;
    machine.Registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
        "\"RegID\"=\"1001\"\r\n\"MemberID\"=\"30\"\r\n\"Type\"=\"TRLA\"\r\n");
    InstallCipher(machine);
    machine.Facts("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n");
    machine.File("C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini", "[RebootStatus]\r\nTimerPM=1\r\n");
    const auto result = RunProgram(machine, "RBT");
    EXPECT_EQ(result.exitCode, 4);
    ASSERT_GE(result.log.size(), 3u);
    const std::vector<std::string> tail(result.log.end() - 2, result.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "modCommon\tInitializeEXE\tINFO\tAgent not Configured properly\t\t\t",
                        "modCommon\tInitializeEXE\tINFO\tEND\t\t\t"}));
    EXPECT_EQ(machine.Read("C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini").find("TimerPM=1"),
              std::string::npos);
}

struct ConfigCase {
    const char* name;
    bool library;
    const char* config;  // null: no file
    const char* errorStart;
};

class ConfigFailures : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigFailures, EndTheRunWithOneErrorLine) {
    const ConfigCase& c = GetParam();
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.Facts("[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n");
    if (c.library) InstallCipher(machine, nullptr);
    if (c.config) machine.File("C:\\Agent\\Configuration\\wpConfig.xml", c.config);
    machine.File("C:\\Agent\\keep.txt", "");
    const auto result = RunProgram(machine, "RBT");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_GE(result.log.size(), 2u);
    EXPECT_EQ(result.log.back(), "ModComman\tCloseAll\tINFO\tEND\t\t\t");
    const std::string& error = result.log[result.log.size() - 2];
    EXPECT_EQ(error.rfind(c.errorStart, 0), 0u) << error;
    EXPECT_FALSE(machine.Exists("C:\\ProgramData\\VERUZE")) << "start-up went on after the error";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigFailures,
    ::testing::Values(ConfigCase{"missingFile", true, nullptr,
                                 "ModComman\tEncDecXML\tERROR\t53\tFile not found\t"},
                      ConfigCase{"emptyFile", true, "",
                                 "ModComman\tEncDecXML\tERROR\t62\tInput past end of file\t"},
                      ConfigCase{"missingLibrary", false, "x",
                                 "ModComman\tEncDecXML\tERROR\t53\tFile not found: Cryptel.dll\t"}),
    [](const auto& info) { return info.param.name; });

TEST(Startup, LibraryWithoutTheExportEndsTheRun) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\Configuration\\wpConfig.xml", "x");
    fs::copy_file(RS_NO_CIPHER_LIBRARY, machine.HostPath("C:\\Agent\\Cryptel.dll"));
    ContextOn on(machine);
    EXPECT_THROW(config::EncDecXML(on.ctx(), false, "C:\\Agent\\Configuration\\wpConfig.xml"),
                 run::EndOfRun);
    ASSERT_EQ(on.Log().size(), 2u);
    EXPECT_EQ(on.Log()[0].rfind("ModComman\tEncDecXML\tERROR\t453\tCan't find DLL entry point "
                                "DecryptData in Cryptel.dll\t",
                                0),
              0u)
        << on.Log()[0];
}

TEST(Config, DecipheringGivesTheClearTextAndLeavesTheFile) {
    TempMachine machine;
    InstallCipher(machine, "<a>\r\nclear</a>");
    const std::string before = machine.Read("C:\\Agent\\Configuration\\wpConfig.xml");
    ContextOn on(machine);
    EXPECT_EQ(config::EncDecXML(on.ctx(), false, "C:\\Agent\\Configuration\\wpConfig.xml"),
              "<a>\r\nclear</a>");
    EXPECT_EQ(config::EncDecXML(on.ctx(), true, "C:\\Agent\\Configuration\\wpConfig.xml").size(),
              before.size());
    EXPECT_EQ(machine.Read("C:\\Agent\\Configuration\\wpConfig.xml"), before);
}

class PromptFiles : public ::testing::Test {
protected:
    PromptFiles() {
        machine_.Registry(AgentRegistry());
        machine_.Facts("[Account]\nUserName=SYSTEM\n");
        machine_.File("C:\\Data\\.keep", "");
    }
    std::string Latest() {
        on_ = std::make_unique<ContextOn>(machine_);
        return reboot::ReadLatestBellhopFile(on_->ctx(), "C:\\Data\\", "Bellhop_");
    }
    TempMachine machine_;
    std::unique_ptr<ContextOn> on_;
};

TEST_F(PromptFiles, NewestResultFileIsChosenAndCopiedOverTheStateFile) {
    Touch(machine_, "C:\\Data\\Bellhop_alice.ini", "[RebootStatus]\r\nTimerPM=0\r\n", 20);
    Touch(machine_, "C:\\Data\\Bellhop_bob.ini", "[RebootStatus]\r\nTimerPM=1\r\n", 10);
    Touch(machine_, "C:\\Data\\Bellhop_carol.txt", "newer but not a result file", 1);
    Touch(machine_, "C:\\Data\\notes.ini", "newer but not a result file", 1);
    EXPECT_EQ(Latest(), "C:\\Data\\Bellhop_bob.ini");
    EXPECT_EQ(on_->ctx().rebootIniPath, "C:\\Data\\Bellhop_SYSTEM.ini");
    EXPECT_EQ(machine_.Read("C:\\Data\\Bellhop_SYSTEM.ini"), "[RebootStatus]\r\nTimerPM=1\r\n");
}

TEST_F(PromptFiles, UpperCaseNameQualifies) {
    Touch(machine_, "C:\\Data\\BELLHOP_ALICE.INI", "[RebootStatus]\r\nPending=1\r\n", 5);
    EXPECT_EQ(Latest(), "C:\\Data\\BELLHOP_ALICE.INI");
}

TEST_F(PromptFiles, EmptyFolderCreatesTheStateFileWithoutCopyingItOntoItself) {
    EXPECT_EQ(Latest(), "C:\\Data\\Bellhop_SYSTEM.ini");
    EXPECT_TRUE(machine_.Exists("C:\\Data\\Bellhop_SYSTEM.ini"));
    for (const auto& line : on_->Log()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
}

TEST_F(PromptFiles, StateFileNewestIsKeptAsItIs) {
    Touch(machine_, "C:\\Data\\Bellhop_alice.ini", "[RebootStatus]\r\nTimerPM=1\r\n", 20);
    Touch(machine_, "C:\\Data\\Bellhop_SYSTEM.ini", "[RebootStatus]\r\nTimerPM=\r\n", 5);
    EXPECT_EQ(Latest(), "C:\\Data\\Bellhop_SYSTEM.ini");
    EXPECT_EQ(machine_.Read("C:\\Data\\Bellhop_SYSTEM.ini"), "[RebootStatus]\r\nTimerPM=\r\n");
    EXPECT_TRUE(on_->Log().empty());
}

TEST_F(PromptFiles, MissingFolderLogsOneErrorAndStillNamesTheStateFile) {
    on_ = std::make_unique<ContextOn>(machine_);
    EXPECT_EQ(reboot::ReadLatestBellhopFile(on_->ctx(), "C:\\Nowhere\\", "Bellhop_"), "");
    EXPECT_EQ(on_->ctx().rebootIniPath, "C:\\Nowhere\\Bellhop_SYSTEM.ini");
    ASSERT_EQ(on_->Log().size(), 1u);
    EXPECT_EQ(
        on_->Log()[0].rfind("ModComman\tReadLatestBellhopFile\tERROR\t76\tPath not found\t", 0),
        0u);
}

TEST_F(PromptFiles, NamesWithSpacesAndNonAsciiLettersAreFound) {
    Touch(machine_, "C:\\Data\\Bellhop_Zoë Smith.ini", "[RebootStatus]\r\nTimerPM=1\r\n", 5);
    EXPECT_EQ(Latest(), "C:\\Data\\Bellhop_Zoë Smith.ini");
}

}  // namespace
