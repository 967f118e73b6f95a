// What the program knows of itself: its file name, its version, and whether an earlier instance
// of it still runs (the instance mutex, kept by the first copy until it ends).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform_world_fixture.h"
#include "version.h"

namespace {

template <class World>
class SelfContract : public ::testing::Test {
protected:
    World world;
};

TYPED_TEST_SUITE(SelfContract, contract::ProcessWorlds, contract::WorldNames);

TYPED_TEST(SelfContract, NameAndVersion) {
    auto& self = this->world.platform().self();
    std::string exe = this->world.OwnProcess().exeFile;
    exe.erase(exe.rfind('.'));
    EXPECT_EQ(self.ExeName(), exe);
    // The test programs carry no version resource: they report the project version.
    const platform::ProgramVersion version = self.Version();
    EXPECT_EQ(version.major, RS_VERSION_MAJOR);
    EXPECT_EQ(version.minor, RS_VERSION_MINOR);
    EXPECT_EQ(version.revision, RS_VERSION_PATCH);
}

// Copies of the program, one after the other, as the agent starts them: each asks once, and the
// answer holds for the copy's life.
TYPED_TEST(SelfContract, PreviousInstance) {
    auto& first = this->world.platform().self();
    EXPECT_FALSE(first.PreviousInstanceRunning().earlierInstance) << "the first copy";
    EXPECT_FALSE(first.PreviousInstanceRunning().earlierInstance) << "the first copy, asked again";
    {
        const auto second = this->world.AnotherPlatform();
        EXPECT_TRUE(second->self().PreviousInstanceRunning().earlierInstance)
            << "a copy while the first runs";
        EXPECT_TRUE(second->self().PreviousInstanceRunning().earlierInstance)
            << "the same copy, asked again";
    }
    EXPECT_FALSE(first.PreviousInstanceRunning().earlierInstance)
        << "the first copy, after the second";
}

TYPED_TEST(SelfContract, NoPreviousInstanceOnceTheFirstHasEnded) {
    {
        const auto first = this->world.AnotherPlatform();
        ASSERT_FALSE(first->self().PreviousInstanceRunning().earlierInstance);
    }
    EXPECT_FALSE(this->world.platform().self().PreviousInstanceRunning().earlierInstance);
}

// Anybody may make an object of the mutex's name first; one of another kind is no instance: the
// copy goes on and says what it found. Before, such an object gave "no instance" silently, and
// a mutex another account made ended every run.
TYPED_TEST(SelfContract, AnEventOfTheNameIsNoInstance) {
    this->world.TakeInstanceNameWithAnEvent();
    const platform::InstanceTest test = this->world.platform().self().PreviousInstanceRunning();
    EXPECT_FALSE(test.earlierInstance);
    EXPECT_EQ(test.foreignObject, "another kind of object, error 6");
}

}  // namespace
