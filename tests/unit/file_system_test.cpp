#include "run/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

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

}  // namespace
