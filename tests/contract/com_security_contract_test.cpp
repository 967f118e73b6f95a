// The System facet: the system's message texts (both worlds), and the process's COM security,
// set once at start-up, with the WMI queries made after it: natively against the emulation, in
// the Windows test binary against the real COM.
#include <optional>
#include <string>
#include <vector>

#include "platform_world_fixture.h"

namespace {

template <class World>
class ComSecurityContract : public ::testing::Test {
protected:
    World world;
};

TYPED_TEST_SUITE(ComSecurityContract, contract::PlatformWorlds, contract::WorldNames);

TYPED_TEST(ComSecurityContract, SetOnceThenTheQueriesStillAnswer) {
    auto& platform = this->world.platform();
    EXPECT_EQ(platform.system().InitializeComSecurity(), 0);
    // A second call is too late for COM, which the operation takes as done.
    EXPECT_EQ(platform.system().InitializeComSecurity(), 0);

    auto& wmi = platform.wmi();
    platform::WmiService service = 0;
    ASSERT_EQ(
        wmi.BindMoniker(".", "root\\cimv2", platform::kImpersonationLevelImpersonate, &service), 0);
    std::vector<platform::WmiObject> objects;
    EXPECT_EQ(
        wmi.ExecQuery(service, "SELECT * FROM Win32_OperatingSystem", {"LastBootUpTime"}, &objects),
        0);
    ASSERT_EQ(objects.size(), 1u);
    const auto found = objects[0].properties.find("LastBootUpTime");
    ASSERT_NE(found, objects[0].properties.end());
    ASSERT_TRUE(found->second.has_value());
    // CIM date text: yyyymmddHHMMSS.mmmmmmsUUU
    EXPECT_EQ(found->second->size(), 25u) << *found->second;
    wmi.ReleaseService(service);
}

template <class World>
class SystemContract : public ::testing::Test {
protected:
    World world;
};

TYPED_TEST_SUITE(SystemContract, contract::ProcessWorlds, contract::WorldNames);

// A text with an insert comes as it stands: no argument is ever passed, and without
// FORMAT_MESSAGE_IGNORE_INSERTS the call would fail or read arguments that were never given.
TYPED_TEST(SystemContract, MessageTextsKeepTheirInserts) {
    auto& system = this->world.platform().system();
    char buffer[512] = {};
    const platform::DWORD length = system.FormatMessageA(193, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, length),
              contract::WineAnswer(this->world, "error 193's text",
                                   std::string("%1 is not a valid Win32 application.\r\n"),
                                   std::string("Bad EXE format for %1.\r\n"),
                                   "its own English wording, the insert kept"));
}

}  // namespace
