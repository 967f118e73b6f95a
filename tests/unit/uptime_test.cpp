#include "uptime/uptime.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/emulated/emulated_platform.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::TempMachine;

TEST(UpTime, WmiDateTextDropsFractionAndOffset) {
    TempMachine machine;
    ContextOn on(machine);
    const struct {
        std::optional<std::string> value;
        const char* text;
    } cases[] = {
        {"20210304170607.500000+060", "03/04/2021 17:06:07"},
        {"20211231235959.000000-300", "12/31/2021 23:59:59"},
        {std::nullopt, ""},
        {"", "// ::"},
        {"2021", "//2021 ::"},
        {"2021030417", "03/04/2021 17::"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(uptime::WMIDateStringToDate(on.ctx(), c.value), c.text)
            << c.value.value_or("(null)");
    }
}

TEST(UpTime, TickCountRoundsHalvesToEven) {
    EXPECT_EQ(uptime::TickSeconds(0), 0);
    EXPECT_EQ(uptime::TickSeconds(499), 0);
    EXPECT_EQ(uptime::TickSeconds(1500), 2);
    EXPECT_EQ(uptime::TickSeconds(2500), 2);
    EXPECT_EQ(uptime::TickSeconds(2501), 3);
    // Past the 49.7 days of a 32-bit millisecond count.
    EXPECT_EQ(uptime::TickSeconds(5000000000ULL), 5000000);
    EXPECT_EQ(uptime::TickSeconds(2147483647499ULL), 2147483647);
    EXPECT_EQ(uptime::TickSeconds(2147483647500ULL), std::nullopt);
}

std::string Line(const char* procedure, const std::string& message) {
    return std::string("modUpTime\t") + procedure + "\tINFO\t" + message + "\t\t\t";
}

std::string ErrorLine(const char* procedure, const char* context, const std::string& number,
                      const std::string& description) {
    return std::string("modUpTime\t") + procedure + "\t" + context + "\tERROR\t" + number + "\t" +
           description + "\t";
}

const std::string kStart = Line("FncSysUptime", "Check the System-up-Time");
const std::string kDone = Line("FncSysUptime", "Check the System-up-Time completed");
const std::string kWmiCreated = Line("getSystemUPTimeByWMI", "WMI object created.");
const std::string kWmiQuery = Line("getSystemUPTimeByWMI", "Execute Query to fetch Syste upTime.");

struct FallThroughCase {
    const char* name;
    const char* systemFacts;  // the [System] section after Clock Now=2021-03-10 12:00:00
    bool result;
    std::int32_t seconds;
    std::vector<std::string> log;
};

class UpTimeFallThrough : public ::testing::TestWithParam<FallThroughCase> {};

TEST_P(UpTimeFallThrough, LaterMethodsRunOnlyWhenEarlierOnesFail) {
    const auto& c = GetParam();
    TempMachine machine;
    machine.Facts(std::string("[Clock]\nNow=2021-03-10 12:00:00\n[System]\n") + c.systemFacts);
    ContextOn on(machine);
    on.ctx().upTimeSeconds = 77;
    EXPECT_EQ(uptime::FncSysUptime(on.ctx()), c.result);
    EXPECT_EQ(on.ctx().upTimeSeconds, c.seconds);
    EXPECT_EQ(on.Log(), c.log);
}

const std::string kGeneric = "-2147217407";  // WBEM_E_FAILED

INSTANTIATE_TEST_SUITE_P(
    Table, UpTimeFallThrough,
    ::testing::Values(
        FallThroughCase{
            "LastBootWorks",
            "LastBootUpTime=20210310110000.250000+060\nSystemUpTime=5\nTickCount64=9000\n",
            true,
            3600,
            {kStart, Line("FN_CollectSysLastReboot", "System Up time is [ 3600 ]"), kDone}},
        FallThroughCase{"LastBootFailsCounterWorks",
                        "LastBootUpTime=\nSystemUpTime=7200\nTickCount64=9000\n",
                        true,
                        7200,
                        {kStart,
                         ErrorLine("FN_CollectSysLastReboot", "Error while getting date,", kGeneric,
                                   "Generic failure"),
                         kWmiCreated, kWmiQuery,
                         Line("getSystemUPTimeByWMI", "System Up time is [ 7200 ]"), kDone}},
        FallThroughCase{"NullLastBootIsNoDate",
                        "LastBootUpTime=(null)\nSystemUpTime=7200\n",
                        true,
                        7200,
                        {kStart,
                         ErrorLine("FN_CollectSysLastReboot", "Error while getting date,", "13",
                                   "Type mismatch"),
                         kWmiCreated, kWmiQuery,
                         Line("getSystemUPTimeByWMI", "System Up time is [ 7200 ]"), kDone}},
        FallThroughCase{"NoOperatingSystemObjectWritesNothing",
                        "LastBootUpTime=(none)\nSystemUpTime=7200\n",
                        true,
                        7200,
                        {kStart, kWmiCreated, kWmiQuery,
                         Line("getSystemUPTimeByWMI", "System Up time is [ 7200 ]"), kDone}},
        FallThroughCase{
            "BothWmiMethodsFailTickCountWorks",
            "LastBootUpTime=\nSystemUpTime=\nTickCount64=2500\n",
            true,
            2,
            {kStart,
             ErrorLine("FN_CollectSysLastReboot", "Error while getting date,", kGeneric,
                       "Generic failure"),
             kWmiCreated, kWmiQuery,
             ErrorLine("getSystemUPTimeByWMI", "GetString", kGeneric, "Generic failure"),
             Line("getSystemUPTimeByAPI", "System Up time is [ 2 ]"), kDone}},
        FallThroughCase{"CounterNotANumber",
                        "LastBootUpTime=\nSystemUpTime=abc\nTickCount64=4000\n",
                        true,
                        4,
                        {kStart,
                         ErrorLine("FN_CollectSysLastReboot", "Error while getting date,", kGeneric,
                                   "Generic failure"),
                         kWmiCreated, kWmiQuery,
                         ErrorLine("getSystemUPTimeByWMI", "GetString", "13", "Type mismatch"),
                         Line("getSystemUPTimeByAPI", "System Up time is [ 4 ]"), kDone}},
        FallThroughCase{
            "NothingFitsThirtyTwoBits",
            "LastBootUpTime=19000101000000.000000+000\nSystemUpTime=3000000000\n"
            "TickCount64=3000000000000\n",
            false,
            0,
            {kStart,
             ErrorLine("FN_CollectSysLastReboot", "Error while getting date,", "6", "Overflow"),
             kWmiCreated, kWmiQuery,
             ErrorLine("getSystemUPTimeByWMI", "GetString", "6", "Overflow"),
             ErrorLine("getSystemUPTimeByAPI", "GetString", "6", "Overflow"),
             Line("FncSysUptime", "Unabled to Fetch System-up-Time ")}}),
    [](const auto& info) { return std::string(info.param.name); });

// Method 1 with nothing given: the host's own boot time, read back through the CIM text, agrees
// with the host's own up-time.
TEST(UpTime, UnpinnedMachineUsesTheHostsBootTime) {
    TempMachine machine;
    ContextOn on(machine);
    ASSERT_TRUE(uptime::FN_CollectSysLastReboot(on.ctx()));
    const auto tick = uptime::TickSeconds(on.ctx().platform.clock().GetTickCount64());
    ASSERT_TRUE(tick);
    EXPECT_NEAR(on.ctx().upTimeSeconds, *tick, 2);
}

// Every platform call of the three methods failing in turn: a failed method reports false
// through its own line and the next one runs, so the tick count always gives an answer.
TEST(UpTime, EveryFailingCallFallsThroughToAnAnswer) {
    TempMachine machine;
    machine.Facts("[System]\nTickCount64=5000\n");
    auto run = [&](platform::FaultPlan& plan) {
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
        platform::FaultInjectingPlatform faulty(*host, plan);
        run::RunContext ctx(faulty);
        ctx.logFilePath = testing_support::kAgentLog;
        return uptime::FncSysUptime(ctx);
    };
    platform::FaultPlan survey;
    ASSERT_TRUE(run(survey));
    ASSERT_GT(survey.calls, 5);
    for (long call = 1; call <= survey.calls; ++call) {
        platform::FaultPlan plan;
        plan.failAt = call;
        EXPECT_TRUE(run(plan)) << "call " << call << " " << survey.trace[call - 1];
    }
}

}  // namespace
