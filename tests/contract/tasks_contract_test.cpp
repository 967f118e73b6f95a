// The Task Scheduler as the program reaches it: a task found by folder and name, its state, and
// switching it off and on. A task's state follows its Enabled setting at once: disabled is
// TASK_STATE_DISABLED (1), an enabled task that is not running is ready (3).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform_world_fixture.h"

namespace {

using platform::LONG;

template <class World>
class TasksContract : public ::testing::Test {
protected:
    platform::Tasks& tasks() { return world.platform().tasks(); }
    // The state of the task as a fresh look-up finds it, or -1 when the task is not found.
    LONG StateOf(const std::string& name) {
        std::unique_ptr<platform::RegisteredTask> task;
        if (tasks().GetTask("\\", name, &task) != 0 || !task) return -1;
        LONG state = -1;
        EXPECT_EQ(task->get_State(&state), 0);
        return state;
    }
    World world;
};

TYPED_TEST_SUITE(TasksContract, contract::ProcessWorlds, contract::WorldNames);

// A missing task is HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), a missing folder
// HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) (taskschd scheduler tests).
TYPED_TEST(TasksContract, GetTaskThatIsNotThere) {
    const struct {
        const char* folder;
        const char* name;
        LONG want;
    } cases[] = {
        {"\\", "RSContractNoSuchTask", platform::HresultFromWin32(2)},
        {"\\RSContractNoSuchFolder", "RSContractNoSuchTask", platform::HresultFromWin32(3)},
    };
    for (const auto& c : cases) {
        std::unique_ptr<platform::RegisteredTask> task;
        EXPECT_EQ(this->tasks().GetTask(c.folder, c.name, &task), c.want) << c.folder << c.name;
        EXPECT_EQ(task, nullptr);
    }
}

TYPED_TEST(TasksContract, DisableAndEnable) {
    const std::string name = "RSContractTask";
    ASSERT_TRUE(this->world.MakeTask(name));
    std::unique_ptr<platform::RegisteredTask> task;
    ASSERT_EQ(this->tasks().GetTask("\\", name, &task), 0);
    std::string taskName;
    EXPECT_EQ(task->get_Name(&taskName), 0);
    EXPECT_EQ(taskName, name);
    EXPECT_EQ(this->StateOf(name), platform::kTaskStateReady);

    const struct {
        const char* name;
        bool enabled;
        LONG want;
        LONG wineWant;
        const char* wineNote;
    } steps[] = {
        {"disabled", false, platform::kTaskStateDisabled, platform::kTaskStateReady,
         "setting Enabled succeeds without changing the task"},
        {"enabled again", true, platform::kTaskStateReady, 0, nullptr},
    };
    for (const auto& c : steps) {
        EXPECT_EQ(task->put_Enabled(c.enabled), 0) << c.name;
        EXPECT_EQ(this->StateOf(name),
                  contract::WineAnswer(this->world, c.name, c.want, c.wineWant, c.wineNote))
            << c.name;
    }
}

}  // namespace
