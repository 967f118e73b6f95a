// The program's environment variables as GetEnvironmentVariableA hands them over. Windows
// matches names without regard to case and tells a variable set to an empty text (found, empty)
// from one that is not set (ERROR_ENVVAR_NOT_FOUND, 203).
#include <gtest/gtest.h>

#include <string>

#include "platform_world_fixture.h"

namespace {

template <class World>
class EnvironmentContract : public ::testing::Test {
protected:
    World world;
};

TYPED_TEST_SUITE(EnvironmentContract, contract::ProcessWorlds, contract::WorldNames);

TYPED_TEST(EnvironmentContract, GetEnvironmentVariable) {
    const std::string longValue(5000, 'v');  // past any first buffer
    this->world.SetVariable("RS_CONTRACT_PLAIN", "C:\\Program Files\\VERUZE");
    this->world.SetVariable("RS_CONTRACT_EMPTY", "");
    this->world.SetVariable("RS_CONTRACT_LONG", longValue);
    const struct {
        const char* name;
        bool found;
        std::string value;
    } cases[] = {
        {"RS_CONTRACT_PLAIN", true, "C:\\Program Files\\VERUZE"},
        {"rs_contract_plain", true, "C:\\Program Files\\VERUZE"},
        {"RS_CONTRACT_EMPTY", true, ""},
        {"RS_CONTRACT_LONG", true, longValue},
        {"RS_CONTRACT_NOT_SET", false, "unchanged"},
    };
    auto& platform = this->world.platform();
    for (const auto& c : cases) {
        platform.system().SetLastError(0);
        std::string value = "unchanged";
        EXPECT_EQ(platform.environment().GetEnvironmentVariableA(c.name, &value), c.found)
            << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_EQ(platform.system().GetLastError(), c.found ? 0u : 203u) << c.name;
    }
}

}  // namespace
