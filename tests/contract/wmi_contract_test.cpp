// The management service as the program binds and queries it: monikers and ConnectServer on
// this computer, the classes it reads, and the boot time, which is CIM text in local time with
// the local offset from UTC in minutes ("20210304170607.500000+060") and agrees with the tick
// count.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "common/dates.h"
#include "platform_world_fixture.h"

namespace {

using platform::LONG;
using platform::WmiService;

template <class World>
class WmiContract : public ::testing::Test {
protected:
    platform::Wmi& wmi() { return world.platform().wmi(); }
    // The property of the one object of "SELECT * FROM <className>"; nothing when it is null or
    // missing.
    std::optional<std::string> Single(const std::string& className, const std::string& property) {
        WmiService service = 0;
        EXPECT_EQ(wmi().BindMoniker(".", "root\\cimv2", platform::kImpersonationLevelImpersonate,
                                    &service),
                  0);
        std::vector<platform::WmiObject> objects;
        const LONG result =
            wmi().ExecQuery(service, "SELECT * FROM " + className, {property}, &objects);
        wmi().ReleaseService(service);
        EXPECT_EQ(result, 0) << className;
        EXPECT_EQ(objects.size(), 1u) << className;
        if (objects.size() != 1 || !objects[0].properties.count(property)) return std::nullopt;
        return objects[0].properties[property];
    }
    World world;
};

TYPED_TEST_SUITE(WmiContract, contract::ProcessWorlds, contract::WorldNames);

// The default namespace is root\cimv2; a namespace that does not exist is
// WBEM_E_INVALID_NAMESPACE (wbemprox services tests).
TYPED_TEST(WmiContract, BindAndConnect) {
    // The monikers by their parts: winmgmts:{impersonationLevel=impersonate}!\\.\root\cimv2,
    // the same at the identify level, winmgmts:root\cimv2, winmgmts: and one of a missing
    // namespace.
    const struct {
        const char* server;
        const char* nameSpace;
        int impersonationLevel;
        LONG want;
    } monikers[] = {
        {".", "root\\cimv2", platform::kImpersonationLevelImpersonate, 0},
        {".", "root\\cimv2", platform::kImpersonationLevelIdentify, 0},
        {"", "root\\cimv2", platform::kImpersonationLevelImpersonate, 0},
        {"", "", platform::kImpersonationLevelImpersonate, 0},
        {".", "root\\RSContractNoSuchNamespace", platform::kImpersonationLevelImpersonate,
         platform::kWbemInvalidNamespace},
    };
    for (const auto& c : monikers) {
        WmiService service = 0;
        EXPECT_EQ(this->wmi().BindMoniker(c.server, c.nameSpace, c.impersonationLevel, &service),
                  c.want)
            << c.server << " " << c.nameSpace;
        if (c.want == 0) {
            EXPECT_NE(service, 0u) << c.server << " " << c.nameSpace;
            this->wmi().ReleaseService(service);
        }
    }
    const struct {
        const char* nameSpace;
        LONG want;
    } namespaces[] = {
        {"root\\cimv2", 0},
        {"ROOT\\CIMV2", 0},
        {"root\\RSContractNoSuchNamespace", platform::kWbemInvalidNamespace},
    };
    for (const auto& c : namespaces) {
        WmiService service = 0;
        EXPECT_EQ(this->wmi().ConnectServer("", c.nameSpace, "", "",
                                            platform::kImpersonationLevelImpersonate, &service),
                  c.want)
            << c.nameSpace;
        if (c.want == 0) this->wmi().ReleaseService(service);
    }
}

// The seconds since 1 January 1970 (UTC) of a CIM DATETIME text, or nothing when the text is
// not yyyymmddHHMMSS.mmmmmmsUUU.
std::optional<std::int64_t> CimSeconds(const std::string& text, int* offsetMinutes) {
    int year, month, day, hour, minute, second, micro, offset;
    char sign = 0;
    char tail = 0;
    if (text.size() != 25 ||
        std::sscanf(text.c_str(), "%4d%2d%2d%2d%2d%2d.%6d%c%3d%c", &year, &month, &day, &hour,
                    &minute, &second, &micro, &sign, &offset, &tail) != 9 ||
        (sign != '+' && sign != '-')) {
        return std::nullopt;
    }
    *offsetMinutes = sign == '-' ? -offset : offset;
    const std::int64_t local =
        (common::DaysFromCivil(year, month, day) - common::DaysFromCivil(1970, 1, 1)) * 86400 +
        hour * 3600 + minute * 60 + second;
    return local - *offsetMinutes * 60;
}

// The boot time and the tick count tell the same moment, and the offset is the one the local
// clock has from UTC now. The emulated host is held to a time zone east of Greenwich with a half
// hour (India's, +330) for the case, so that an offset left at 0 shows.
TYPED_TEST(WmiContract, BootTimeAgreesWithTheTickCountAndTheLocalOffset) {
    const bool emulated = std::string(TypeParam::kName) == "Emulated";
    const char* oldZone = std::getenv("TZ");
    const std::string savedZone = oldZone ? oldZone : "";
    if (emulated) {
#ifdef _WIN32
        _putenv_s("TZ", "IST-5:30");
        _tzset();
#else
        setenv("TZ", "IST-5:30", 1);
        tzset();
#endif
    }
    auto& clock = this->world.platform().clock();
    const std::int64_t utcNow = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
    const std::int64_t localNow =
        common::SecondsOf(clock.GetLocalTime()) - (common::DaysFromCivil(1970, 1, 1) * 86400);
    const std::int64_t upTime = static_cast<std::int64_t>(clock.GetTickCount64() / 1000);
    const auto text = this->Single("Win32_OperatingSystem", "LastBootUpTime");
    if (emulated) {
#ifdef _WIN32
        _putenv_s("TZ", savedZone.c_str());
        _tzset();
#else
        if (oldZone) {
            setenv("TZ", savedZone.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
#endif
    }
    ASSERT_TRUE(text.has_value()) << "no LastBootUpTime";
    int offset = 0;
    const auto boot = CimSeconds(*text, &offset);
    ASSERT_TRUE(boot) << *text;
    // The local clock's offset, to the quarter hour that every time zone keeps.
    const auto clockOffset =
        static_cast<int>((localNow - utcNow + 450 + 86400) / 900 * 900 - 86400) / 60;
    EXPECT_EQ(offset, clockOffset) << *text;
    if (emulated) {
        EXPECT_EQ(offset, 330) << *text;
    }
    const std::int64_t drift = *boot + upTime - utcNow;
    const bool agrees = drift >= -5 && drift <= 5;
    EXPECT_EQ(agrees, contract::WineAnswer(this->world, "LastBootUpTime", true, false,
                                           "the start of the prefix's wineserver"))
        << *text << " up " << upTime << " s, drift " << drift << " s";
}

// The up-time counter counts from the same start as the tick count.
TYPED_TEST(WmiContract, SystemUpTimeAgreesWithTheTickCount) {
    const std::int64_t before =
        static_cast<std::int64_t>(this->world.platform().clock().GetTickCount64() / 1000);
    WmiService service = 0;
    ASSERT_EQ(this->wmi().BindMoniker(".", "root\\cimv2", platform::kImpersonationLevelImpersonate,
                                      &service),
              0);
    std::vector<platform::WmiObject> objects;
    EXPECT_EQ(this->wmi().ExecQuery(service, "SELECT * FROM Win32_PerfFormattedData_PerfOS_System",
                                    {"SystemUpTime"}, &objects),
              0);
    this->wmi().ReleaseService(service);
    EXPECT_EQ(objects.size(),
              contract::WineAnswer(this->world, "Win32_PerfFormattedData_PerfOS_System",
                                   std::size_t{1}, std::size_t{0}, "a class without objects"));
    if (objects.size() != 1) return;
    const auto& text = objects[0].properties["SystemUpTime"];
    ASSERT_TRUE(text.has_value());
    const std::int64_t upTime = std::strtoll(text->c_str(), nullptr, 10);
    EXPECT_GE(upTime, before - 5) << *text;
    EXPECT_LE(upTime, before + 5) << *text;
}

// The tick count is the time since the system started, not since the program did: the host's
// own count, read past the facets.
TYPED_TEST(WmiContract, TickCountIsTheSystemsUpTime) {
    const std::int64_t ticks =
        static_cast<std::int64_t>(this->world.platform().clock().GetTickCount64() / 1000);
    const std::int64_t host = contract::HostUpTimeSeconds();
    EXPECT_GE(ticks, host - 2);
    EXPECT_LE(ticks, host + 2);
}

// A class the service does not have: the enumeration's first Next fails with
// WBEM_E_INVALID_CLASS (wbemprox query tests: todo_wine).
TYPED_TEST(WmiContract, UnknownClass) {
    WmiService service = 0;
    ASSERT_EQ(this->wmi().BindMoniker(".", "root\\cimv2", platform::kImpersonationLevelImpersonate,
                                      &service),
              0);
    std::vector<platform::WmiObject> objects;
    const LONG got = this->wmi().ExecQuery(service, "SELECT * FROM Win32_RSContractNoSuchClass",
                                           {"Name"}, &objects);
    EXPECT_EQ(got,
              contract::WineAnswer(this->world, "unknown class", static_cast<LONG>(0x80041010u),
                                   LONG{0}, "an empty result"));
    EXPECT_TRUE(objects.empty());
    this->wmi().ReleaseService(service);
}

}  // namespace
