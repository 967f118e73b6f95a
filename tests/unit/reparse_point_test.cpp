#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "run_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::AgentRegistry;
using testing_support::InstallCipher;
using testing_support::RunProgram;
using testing_support::TempMachine;

constexpr const char* kRefusal =
    "Reparse point not made by an administrator, nothing written through it";
constexpr const char* kResult = "[RebootStatus]\r\nTimerPM=1\r\n";
constexpr const char* kTargetState = "[RebootStatus]\r\nPending=0\r\n";

enum class Link { None, DataFolder, StateFile };

struct ReparseCase {
    const char* name;
    Link link;
    const char* owner;  // [ReparseOwners] value of the link; empty: none given
    bool refused;
    const char* refusedPath;
    const char* procedure;  // the one that first refused
};

class ReparsePoints : public ::testing::TestWithParam<ReparseCase> {};

// A configured agent whose data folder C:\ProgramData\VERUZE holds (directly or through the link)
// a user's result file, newer than the state file, so that a run both writes the state file and
// copies the result file over it.
TEST_P(ReparsePoints, UserLinksAreNotWrittenThroughAndAdministratorLinksAreFollowed) {
    const ReparseCase& c = GetParam();
    TempMachine machine;
    machine.Registry(AgentRegistry());
    InstallCipher(machine);
    std::string facts =
        "[Environment]\nALLUSERSPROFILE=C:\\ProgramData\n[Account]\nUserName=SYSTEM\n";
    const char* linkPath = c.link == Link::DataFolder
                               ? "C:\\ProgramData\\VERUZE"
                               : "C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini";
    if (*c.owner) facts += std::string("[ReparseOwners]\n") + linkPath + "=" + c.owner + "\n";
    machine.Facts(facts);
    machine.File("C:\\ProgramData\\.keep", "");

    // Where the writes land when they are made: the link's target, or the folder itself.
    std::string folder = "C:\\ProgramData\\VERUZE";
    std::string stateFile = "C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini";
    switch (c.link) {
        case Link::None:
            machine.File("C:\\ProgramData\\VERUZE\\Bellhop_alice.ini", kResult);
            break;
        case Link::DataFolder:
            folder = "C:\\Users\\alice\\Moved";
            stateFile = folder + "\\Bellhop_SYSTEM.ini";
            machine.File(folder + "\\Bellhop_alice.ini", kResult);
            fs::create_directory_symlink(machine.HostPath(folder),
                                         machine.HostPath("C:\\ProgramData\\VERUZE"));
            break;
        case Link::StateFile:
            stateFile = "C:\\Windows\\System32\\config\\precious.ini";
            machine.File(stateFile, kTargetState);
            machine.File("C:\\ProgramData\\VERUZE\\Bellhop_alice.ini", kResult);
            fs::create_symlink(machine.HostPath(stateFile), machine.HostPath(linkPath));
            break;
    }
    // The result file is the newest file of the folder (within the second that file times may
    // run ahead of the clock).
    fs::last_write_time(machine.HostPath(folder + "\\Bellhop_alice.ini"),
                        fs::file_time_type::clock::now() + std::chrono::seconds(1));

    const auto result = RunProgram(machine, "RBT");
    EXPECT_FALSE(result.crashed) << result.crash;

    std::vector<std::string> refusals;
    for (const auto& line : result.log) {
        if (line.find(kRefusal) != std::string::npos) refusals.push_back(line);
    }
    if (c.refused) {
        EXPECT_EQ(refusals,
                  (std::vector<std::string>{std::string("ModComman\t") + c.procedure + "\tERROR\t" +
                                            kRefusal + "\t" + c.refusedPath + "\t\t"}));
        if (c.link == Link::StateFile) {
            EXPECT_EQ(machine.Read(stateFile), kTargetState);
        } else {
            EXPECT_FALSE(machine.Exists(stateFile));
        }
    } else {
        EXPECT_TRUE(refusals.empty()) << refusals.front();
        // Written by the run: the copied result file, its timer cleared, and the run's own keys.
        EXPECT_NE(machine.Read(stateFile).find("[PatchAssess]\r\nRBT=1"), std::string::npos)
            << machine.Read(stateFile);
    }
    // The result file is still read, and the run goes on to its usual end.
    const std::string readLine =
        "modCommon\tInitializeEXE\tINFO\tRead File Patch\t"
        "C:\\ProgramData\\VERUZE\\Bellhop_alice.ini\t\t";
    EXPECT_NE(std::find(result.log.begin(), result.log.end(), readLine), result.log.end());
    EXPECT_EQ(result.exitCode, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReparsePoints,
    ::testing::Values(ReparseCase{"NoLink", Link::None, "", false, "", ""},
                      ReparseCase{"FolderOfAUser", Link::DataFolder, "", true,
                                  "C:\\ProgramData\\VERUZE", "IniSetValue"},
                      ReparseCase{"FolderOwnedByANamedUser", Link::DataFolder, "alice", true,
                                  "C:\\ProgramData\\VERUZE", "IniSetValue"},
                      ReparseCase{"FolderOwnedBySystem", Link::DataFolder, "SYSTEM", false, "", ""},
                      ReparseCase{"FolderOwnedByAdministrators", Link::DataFolder, "administrators",
                                  false, "", ""},
                      ReparseCase{"StateFileOfAUser", Link::StateFile, "", true,
                                  "C:\\ProgramData\\VERUZE\\Bellhop_SYSTEM.ini",
                                  "ReadLatestBellhopFile"},
                      ReparseCase{"StateFileOwnedByAdministrators", Link::StateFile,
                                  "Administrators", false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
