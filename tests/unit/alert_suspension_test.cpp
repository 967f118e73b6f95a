#include "web/alert_suspension.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "../contract/loopback_server_fixture.h"
#include "platform/emulated/emulated_platform.h"
#include "run_support.h"

namespace {

using contract::LoopbackServer;
using testing_support::TempMachine;

constexpr const char* kService = "wpacpmsusddappextended";
constexpr const char* kLog = "C:\\Logs\\web.log";
constexpr const char* kNow = "03/04/2021 17:06:07";

std::string Configuration(const std::string& primary, const std::string& secondary,
                          const std::string& flag = "0") {
    return "<c><fod t=\"NDATAPOST\"><PR4><svc a0=\"\" a1=\"aspx\" a2=\"" + std::string(kService) +
           "\" a3=\"\" a4=\"0\" a5=\"" + primary + "\" a6=\"" + secondary +
           "\" a7=\"0\" a8=\"\" a9=\"\" a10=\"" + flag + "\"/></PR4></fod></c>";
}

std::string Line(const std::string& type, const std::string& val1, const std::string& val2 = {},
                 const std::string& val3 = {}, const std::string& val4 = {}) {
    return "ModReboot\tfncRebootSupressionWebPost\t" + type + "\t" + val1 + "\t" + val2 + "\t" +
           val3 + "\t" + val4;
}

// A run context on an emulated machine with the clock pinned, optionally behind fault injection.
class PostRun {
public:
    explicit PostRun(const std::string& facts = {}) {
        machine.Facts("[Clock]\nNow=2021-03-04 17:06:07\n" + facts);
        std::filesystem::create_directories(machine.HostPath("C:\\Logs"));
        host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
        faulty = std::make_unique<platform::FaultInjectingPlatform>(*host, plan);
        ctx = std::make_unique<run::RunContext>(*faulty);
        ctx->logFilePath = kLog;
        ctx->regId = "1001";
        ctx->siteId = "20";
        ctx->memberId = "30";
        ctx->agentType = "TRLA";
    }
    bool Post(const std::string& option = "2") {
        return web::fncRebootSupressionWebPost(*ctx, option);
    }
    std::vector<std::string> Log() const { return testing_support::LogLines(machine, kLog); }
    long Count(const std::string& call) const {
        return std::count(plan.trace.begin(), plan.trace.end(), call);
    }

    TempMachine machine;
    platform::FaultPlan plan;
    std::unique_ptr<platform::Platform> host;
    std::unique_ptr<platform::Platform> faulty;
    std::unique_ptr<run::RunContext> ctx;
};

std::string Body(const std::string& regId = "1001", const std::string& option = "2") {
    return std::string("<") + kService + "><regid>" + regId + "</regid><opt>" + option +
           "</opt><mndtime>" + kNow + "</mndtime></" + kService + ">";
}

std::string Address(const LoopbackServer& server) {
    return server.Url(std::string("/tfr_") + kService + ".aspx?mmid=30&sid=20&rid=1001&rty=TRLA");
}

TEST(AlertSuspension, OnlyASecondaryAddressGetsThreeAttempts) {
    LoopbackServer secondary({"500:down"});
    PostRun run;
    run.ctx->wpConfigXml = Configuration("", secondary.HostAndPort());
    EXPECT_FALSE(run.Post());
    const std::string address = Address(secondary);
    std::vector<std::string> expected;
    for (int attempt = 0; attempt < 3; ++attempt) {
        expected.push_back(Line("INFO", address + " Attempt", std::to_string(attempt)));
        expected.push_back(Line("INFO", "XML String", Body()));
        expected.push_back(Line("INFO", "Return Value ", ""));
        expected.push_back(
            Line("ERROR", "Webpost failed to " + address, "HTTP status 500", "", "down"));
    }
    expected.push_back(Line("INFO", "Webpost URL .", address));
    EXPECT_EQ(run.Log(), expected);
    EXPECT_EQ(secondary.Requests().size(), 3u);
}

// All attempts share one bound (50 s; a twenty-fifth here, which a loaded machine still keeps):
// against services that never answer, the first attempt ends at the component's own time-out (30
// s), the second at what is left of the bound, which the trap reports; the other four are not made.
// A service that answers within an attempt's time-out is not affected.
TEST(AlertSuspension, TheAttemptsShareOneBound) {
    const std::string timeout =
        "-2147023436\tThis operation returned because the timeout period expired.\t1460";
    const struct {
        const char* answer;
        bool success;
        std::size_t attempts;  // attempt lines
        std::string last;      // the last line's beginning
    } cases[] = {
        {"hang", false, 2, "ERROR\tfncRebootSupressionWebPost.\t" + timeout},
        {"200:1", true, 1, "INFO\tWebpost Successful with Return Value\t1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        LoopbackServer primary({c.answer});
        LoopbackServer secondary({c.answer});
        PostRun run("BoundScale=25\n");
        run.ctx->wpConfigXml = Configuration(primary.HostAndPort(), secondary.HostAndPort());
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(run.Post(), c.success);
        const auto spent = std::chrono::steady_clock::now() - started;
        EXPECT_LT(spent, std::chrono::milliseconds(c.success ? 1200 : 2400));
        const auto log = run.Log();
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& line) {
                                    return line.find(" Attempt\t") != std::string::npos;
                                }),
                  static_cast<long>(c.attempts));
        const std::string procedure = "ModReboot\tfncRebootSupressionWebPost\t";
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind(procedure + c.last, 0), 0u) << log.back();
        if (c.success) continue;
        EXPECT_GE(spent, std::chrono::milliseconds(1920));
        ASSERT_EQ(log.size(), 7u);
        EXPECT_EQ(log[3].rfind(procedure + "ERROR\tWebpost failed to ", 0), 0u) << log[3];
        EXPECT_NE(log[3].find("\tNo answer from "), std::string::npos) << log[3];
        EXPECT_TRUE(secondary.Requests().empty());
    }
}

TEST(AlertSuspension, WithoutAnAddressTheComponentIsMadeButNeverCalled) {
    PostRun run;
    run.ctx->wpConfigXml = Configuration(" ", "");
    EXPECT_FALSE(run.Post());
    EXPECT_EQ(run.Log(),
              (std::vector<std::string>{
                  Line("INFO", std::string(kService) +
                                   " dns url not found on Primary and Secondary not found."),
                  Line("INFO", "Webpost URL .", "")}));
    EXPECT_EQ(run.Count("Components.CreateObject"), 1);
    EXPECT_EQ(run.Count("Components.PostXMLString"), 0);
}

struct AnswerCase {
    const char* answer;
    bool success;
    const char* successLine;  // the success line's text, when one
    std::size_t requests;
};

class AlertSuspensionAnswers : public ::testing::TestWithParam<AnswerCase> {};

// Only "1" and "0", spaces around them allowed, count as success; anything else is retried.
TEST_P(AlertSuspensionAnswers, ReturnValueDecides) {
    const AnswerCase& c = GetParam();
    LoopbackServer primary({c.answer});
    PostRun run;
    run.ctx->wpConfigXml = Configuration(primary.HostAndPort(), "");
    EXPECT_EQ(run.Post(), c.success);
    EXPECT_EQ(primary.Requests().size(), c.requests);
    const auto log = run.Log();
    const std::string value = std::string(c.answer).substr(4);
    if (c.success) {
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[2], Line("INFO", "Return Value ", value));
        EXPECT_EQ(log[3], Line("INFO", c.successLine, value));
    } else {
        ASSERT_EQ(log.size(), 13u);
        EXPECT_EQ(log[3], Line("ERROR", "Webpost failed to " + Address(primary)));
        EXPECT_EQ(log.back(), Line("INFO", "Webpost URL .", Address(primary)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AlertSuspensionAnswers,
    ::testing::Values(AnswerCase{"200:1", true, "Webpost Successful with Return Value", 1},
                      AnswerCase{"200: 1  ", true, "Webpost Successful with Return Value", 1},
                      AnswerCase{"200:0", true, "Webpost Successful with Return Value.", 1},
                      AnswerCase{"200: 0", true, "Webpost Successful with Return Value.", 1},
                      AnswerCase{"200:true", false, nullptr, 3},
                      AnswerCase{"200:2", false, nullptr, 3}, AnswerCase{"200:", false, nullptr, 3},
                      AnswerCase{"200:1\r\n", false, nullptr, 3},
                      AnswerCase{"200:01", false, nullptr, 3}));

// The option goes into the body as it is given; values that would break the document are
// escaped, and ids that would break the query are percent-encoded (plain ones read the same).
TEST(AlertSuspension, BodyAndQueryValues) {
    const struct {
        const char* regId;
        const char* siteId;
        const char* option;
        const char* query;
        const char* bodyRegId;
        const char* bodyOption;
    } cases[] = {
        {"1001", "20", "2", "?mmid=30&sid=20&rid=1001&rty=TRLA", "1001", "2"},
        {"A-1_b.c~", "20", "opt", "?mmid=30&sid=20&rid=A-1_b.c~&rty=TRLA", "A-1_b.c~", "opt"},
        {"10 01", "2&x=1", "a<b&c>", "?mmid=30&sid=2%26x%3D1&rid=10%2001&rty=TRLA", "10 01",
         "a&lt;b&amp;c&gt;"},
        {"r\xC3\xA9g", "20", "\"'", "?mmid=30&sid=20&rid=r%C3%A9g&rty=TRLA", "r\xC3\xA9g", "\"'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.regId);
        LoopbackServer primary({"200:1"});
        PostRun run;
        run.ctx->regId = c.regId;
        run.ctx->siteId = c.siteId;
        run.ctx->wpConfigXml = Configuration(primary.HostAndPort(), "");
        EXPECT_TRUE(run.Post(c.option));
        const auto requests = primary.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].target, std::string("/tfr_") + kService + ".aspx" + c.query);
        EXPECT_EQ(requests[0].body, Body(c.bodyRegId, c.bodyOption));
        EXPECT_EQ(run.Log()[1], Line("INFO", "XML String", Body(c.bodyRegId, c.bodyOption)));
    }
}

TEST(AlertSuspension, EscapingHelpers) {
    const struct {
        const char* in;
        const char* xml;
        const char* query;
    } cases[] = {
        {"", "", ""},
        {"1001", "1001", "1001"},
        {"aZ09-._~", "aZ09-._~", "aZ09-._~"},
        {"a b", "a b", "a%20b"},
        {"<&>", "&lt;&amp;&gt;", "%3C%26%3E"},
        {"\"'/?=#%+", "\"'/?=#%+", "%22%27%2F%3F%3D%23%25%2B"},
        {"\xE9", "\xE9", "%E9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(web::XmlEscaped(c.in), c.xml) << c.in;
        EXPECT_EQ(web::PercentEncoded(c.in), c.query) << c.in;
    }
}

// The entry's name is matched with spaces around it and kept so; the element is named without
// them, or the body would not be a document.
TEST(AlertSuspension, BodyElementNamedWithoutTheSpacesOfTheEntry) {
    const std::string expected =
        "<wpAcp><regid>1</regid><opt>2</opt><mndtime>03/04/2021 17:06:07</mndtime></wpAcp>";
    for (const char* tag : {"wpAcp", " wpAcp", "wpAcp  ", "  wpAcp "}) {
        EXPECT_EQ(web::SuppressionBody(tag, "1", "2", "03/04/2021 17:06:07"), expected) << tag;
    }
}

TEST(AlertSuspension, AComponentThatCannotBeCreatedIsTrapped) {
    PostRun run("[MissingComponents]\nPostbird.webpost=1\n");
    run.ctx->wpConfigXml = Configuration("p", "s");
    EXPECT_FALSE(run.Post());
    const auto log = run.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], Line("ERROR", "fncRebootSupressionWebPost.", "429",
                           "ActiveX component can't create object", "0"));
    // The configuration is not read.
    EXPECT_EQ(run.ctx->webPostPrimaryURL, "");
    EXPECT_EQ(run.Count("Xml.CreateDocument"), 0);
}

// A failing call into the component ends the attempts: the object is released, the failure
// logged, false returned.
TEST(AlertSuspension, AFailedCallEndsTheAttempts) {
    LoopbackServer primary({"200:9"});
    PostRun run;
    run.ctx->wpConfigXml = Configuration(primary.HostAndPort(), primary.HostAndPort());
    run.plan.failAt = -1;
    EXPECT_FALSE(run.Post());  // every attempt made, to learn the call numbers
    const auto trace = run.plan.trace;
    const auto second =
        std::find(std::find(trace.begin(), trace.end(), "Components.PostXMLString") + 1,
                  trace.end(), "Components.PostXMLString");
    ASSERT_NE(second, trace.end());

    LoopbackServer again({"200:9"});
    PostRun failing;
    failing.ctx->wpConfigXml = Configuration(again.HostAndPort(), again.HostAndPort());
    failing.plan.failAt = static_cast<long>(second - trace.begin()) + 1;
    EXPECT_FALSE(failing.Post());
    EXPECT_EQ(again.Requests().size(), 1u);
    const auto log = failing.Log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[6], Line("ERROR", "fncRebootSupressionWebPost.", "-2147024891",
                           "Access is denied.", "5"));
}

// With the encryption flag and no encryptor (before: an empty body went out with "&ec=256" and
// its answer "1" counted as success), the encryptor's failure ends the post at the first attempt:
// nothing is sent, the post's own ERROR line follows the encryptor's, false.
TEST(AlertSuspension, AnEncryptorThatGivesNoTextEndsThePost) {
    LoopbackServer primary({"200:1"});
    PostRun run("[MissingComponents]\nVERUZE.XmlEncryptor=1\n");
    run.ctx->wpConfigXml = Configuration(primary.HostAndPort(), primary.HostAndPort(), "1");
    EXPECT_FALSE(run.Post());
    EXPECT_EQ(primary.Requests().size(), 0u);
    const std::vector<std::string> expected = {
        Line("INFO", Address(primary) + " Attempt", "0"), Line("INFO", "XML String", Body()),
        "ModWebPost\tfncXMLEncrypt\tERROR\t429\tActiveX component can't create object\t0\t",
        Line("ERROR", "fncRebootSupressionWebPost.", "5", "Invalid procedure call or argument",
             "0")};
    EXPECT_EQ(run.Log(), expected);
}

}  // namespace
