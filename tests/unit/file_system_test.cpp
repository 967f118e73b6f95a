#include "run/file_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/failure.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::TempMachine;

long FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const common::Failure& failure) {
        return failure.number();
    }
    return 0;
}

TEST(FileSystem, DeleteFolderTakesItsContentsAlong) {
    TempMachine machine;
    machine.File("C:\\T\\Reboot\\a.txt", "a");
    machine.File("C:\\T\\Reboot\\sub\\b.txt", "b");
    ContextOn on(machine);
    auto& fs = on.ctx().fileSystem;
    EXPECT_EQ(FailureOf([&] { fs.DeleteFolder("C:\\T\\Reboot", false); }), 0);
    EXPECT_FALSE(machine.Exists("C:\\T\\Reboot"));
    EXPECT_EQ(FailureOf([&] { fs.DeleteFolder("C:\\T\\Reboot", false); }), common::kPathNotFound);
}

TEST(FileSystem, DeleteFolderWithoutForceRefusesAReadOnlyFile) {
    TempMachine machine;
    machine.File("C:\\T\\Reboot\\locked.txt", "x");
    std::filesystem::permissions(machine.HostPath("C:\\T\\Reboot\\locked.txt"),
                                 std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    ContextOn on(machine);
    auto& fs = on.ctx().fileSystem;
    EXPECT_EQ(FailureOf([&] { fs.DeleteFolder("C:\\T\\Reboot", false); }),
              common::kPermissionDenied);
    EXPECT_TRUE(machine.Exists("C:\\T\\Reboot\\locked.txt"));
    EXPECT_EQ(FailureOf([&] { fs.DeleteFolder("C:\\T\\Reboot", true); }), 0);
    EXPECT_FALSE(machine.Exists("C:\\T\\Reboot"));
}

struct FailureCase {
    const char* name;
    std::function<void(run::FileSystem&)> call;
    long number;
};

TEST(FileSystem, OperationsRaiseTheRuntimeNumbers) {
    TempMachine machine;
    machine.File("C:\\T\\a.txt", "a");
    machine.File("C:\\T\\empty.txt", "");
    ContextOn on(machine);
    const FailureCase cases[] = {
        {"size of missing", [](run::FileSystem& fs) { fs.GetFileSize("C:\\T\\none"); }, 53},
        {"delete missing", [](run::FileSystem& fs) { fs.DeleteFile("C:\\T\\none", true); }, 53},
        {"list missing", [](run::FileSystem& fs) { fs.GetFolderFiles("C:\\None\\"); }, 76},
        {"copy missing", [](run::FileSystem& fs) { fs.CopyFile("C:\\T\\none", "C:\\T\\b", true); },
         53},
        {"move onto a name",
         [](run::FileSystem& fs) { fs.MoveFile("C:\\T\\a.txt", "C:\\T\\empty.txt"); }, 58},
        {"read empty", [](run::FileSystem& fs) { fs.ReadAllText("C:\\T\\empty.txt"); }, 62},
        {"read missing", [](run::FileSystem& fs) { fs.ReadAllText("C:\\T\\none"); }, 53},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FailureOf([&] { c.call(on.ctx().fileSystem); }), c.number) << c.name;
    }
    EXPECT_EQ(run::FileSystem::GetDriveName("C:\\Windows\\system32\\"), "C:");
    EXPECT_EQ(run::FileSystem::GetDriveName("\\Windows"), "");
}

// A folder is listed in the order of its upper-cased names, bytes compared: with the names
// alike for their first bytes and for eight bytes after that, and with none alike at all.
TEST(FileSystem, FolderFilesComeInTheOrderOfTheirUpperCasedNames) {
    const std::vector<std::vector<std::string>> folders = {
        {"A.ini", "a1.ini", "b.INI", "B2.ini", "bellhop_user1.ini", "Bellhop_user10.ini",
         "bellhop_USER100000.ini", "Bellhop_user9.ini", "_x.ini"},
        {"Report_2021_longtailz.ini", "Report_2021_longtail_a.ini", "report_2021_LONGTAIL_ab.ini",
         "Report_2021_longtail_b.ini", "REPORT_2021_x.ini"},
    };
    for (const auto& names : folders) {
        TempMachine machine;
        for (auto name = names.rbegin(); name != names.rend(); ++name) {
            machine.File("C:\\T\\" + *name, "x");
        }
        machine.File("C:\\T\\Sub\\inside.ini", "x");
        ContextOn on(machine);
        std::vector<std::string> listed;
        for (const auto& file : on.ctx().fileSystem.GetFolderFiles("C:\\T\\")) {
            listed.push_back(file.name);
        }
        EXPECT_EQ(listed, names);
    }
}

// The local time of a file is its zone's at that moment, also in a quarter hour in which the
// clocks go forward or back (on the quarter hour, or within it) and for many files of one
// quarter hour.
TEST(FileSystem, FolderFilesHaveTheirZonesLocalTimes) {
    const char* zone = std::getenv("TZ");
    const std::string saved = zone ? zone : "";
    // UTC: 28 March 2021 00:50 to 01:14:59 and 31 October 2021 00:50 to 01:14:59 (the first zone
    // changes at 01:00, the second at 01:07), and a quarter hour in June.
    const std::vector<std::time_t> moments = {1616892600, 1616893199, 1616893200, 1616893619,
                                              1616893620, 1616894099, 1635641400, 1635641999,
                                              1635642000, 1635642419, 1635642420, 1635642899,
                                              1624000000, 1624000100, 1624000200, 1624000299};
    for (const char* rule : {"CET-1CEST,M3.5.0,M10.5.0/3", "XST-1XDT,M3.5.0/2:07,M10.5.0/3:07"}) {
        setenv("TZ", rule, 1);
        tzset();
        TempMachine machine;
        for (std::size_t i = 0; i < moments.size(); ++i) {
            const std::string name = "C:\\T\\f" + std::to_string(10 + i) + ".txt";
            machine.File(name, "x");
            std::filesystem::last_write_time(
                machine.HostPath(name), std::chrono::file_clock::from_sys(
                                            std::chrono::system_clock::from_time_t(moments[i])));
        }
        ContextOn on(machine);
        const auto files = on.ctx().fileSystem.GetFolderFiles("C:\\T\\");
        ASSERT_EQ(files.size(), moments.size());
        for (std::size_t i = 0; i < moments.size(); ++i) {
            std::tm local{};
            localtime_r(&moments[i], &local);
            const platform::SystemTime& t = files[i].dateLastModified;
            EXPECT_EQ(
                (std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second, t.dayOfWeek}),
                (std::vector<int>{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min, local.tm_sec, local.tm_wday}))
                << rule << ' ' << moments[i];
        }
    }
    zone ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();
}

}  // namespace
