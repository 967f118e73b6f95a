// The alert-suspension post end to end on each host: the web configuration read through the XML
// DOM, the agent's web-post component (on Windows the registered stand-in, reached through COM)
// posting to a loopback service, and the procedure's log.
#include <gtest/gtest.h>

#include <regex>

#include "loopback_server_fixture.h"
#include "platform/emulated/emulated_components.h"
#include "platform_world_fixture.h"
#include "run/run_context.h"
#include "web/alert_suspension.h"

namespace {

constexpr const char* kTag = "wpacpmsusddappextended";

// The agent's configuration with the service's entry: plain HTTP, the first host pair.
std::string Configuration(const std::string& primaryHost, const std::string& secondaryHost,
                          const std::string& encryptFlag) {
    return "<configuration><fod t=\"NDATAPOST\"><PR4><svc a0=\"x\" a1=\"aspx\" a2=\"" +
           std::string(kTag) + "\" a3=\"\" a4=\"0\" a5=\"" + primaryHost + "\" a6=\"" +
           secondaryHost + "\" a7=\"0\" a8=\"\" a9=\"\" a10=\"" + encryptFlag +
           "\"/></PR4></fod></configuration>";
}

// A log line with the post's time replaced by "<time>".
std::string WithoutTime(const std::string& line) {
    static const std::regex time(
        "<mndtime>[0-9]{2}/[0-9]{2}/[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}</mndtime>");
    return std::regex_replace(line, time, "<mndtime><time></mndtime>");
}

template <class World>
class WebPostContract : public ::testing::Test {
protected:
    WebPostContract() : ctx(world.platform()) {
        ctx.logFilePath = world.LogPath();
        ctx.regId = "1001";
        ctx.siteId = "20";
        ctx.memberId = "30";
        ctx.agentType = "TRLA";
    }
    std::vector<std::string> Log() {
        std::vector<std::string> lines;
        for (const auto& line : world.LogLines()) lines.push_back(WithoutTime(line));
        return lines;
    }
    World world;
    run::RunContext ctx;
};

TYPED_TEST_SUITE(WebPostContract, contract::PlatformWorlds, contract::WorldNames);

std::string Line(const std::string& type, const std::string& val1, const std::string& val2 = {},
                 const std::string& val3 = {}, const std::string& val4 = {}) {
    return "ModReboot\tfncRebootSupressionWebPost\t" + type + "\t" + val1 + "\t" + val2 + "\t" +
           val3 + "\t" + val4;
}

TYPED_TEST(WebPostContract, ThreeFailuresOnThePrimaryThenSuccessOnTheSecondary) {
    contract::LoopbackServer primary({"200:2", "500:busy", "refuse"});
    contract::LoopbackServer secondary({"200:1"});
    this->ctx.wpConfigXml = Configuration(primary.HostAndPort(), secondary.HostAndPort(), "0");
    EXPECT_TRUE(web::fncRebootSupressionWebPost(this->ctx, "2"));

    const std::string query = "?mmid=30&sid=20&rid=1001&rty=TRLA";
    const std::string page = std::string("/tfr_") + kTag + ".aspx";
    const std::string first = primary.Url(page + query);
    const std::string second = secondary.Url(page + query);
    const std::string body = std::string("<") + kTag +
                             "><regid>1001</regid><opt>2</opt><mndtime><time></mndtime></" + kTag +
                             ">";
    const auto log = this->Log();
    ASSERT_EQ(log.size(), 16u) << ::testing::PrintToString(log);
    const std::vector<std::string> expectedStart = {
        Line("INFO", first + " Attempt", "0"),
        Line("INFO", "XML String", body),
        Line("INFO", "Return Value ", "2"),
        Line("ERROR", "Webpost failed to " + first),
        Line("INFO", first + " Attempt", "1"),
        Line("INFO", "XML String", body),
        Line("INFO", "Return Value ", ""),
        Line("ERROR", "Webpost failed to " + first, "HTTP status 500", "", "busy"),
        Line("INFO", first + " Attempt", "2"),
        Line("INFO", "XML String", body),
        Line("INFO", "Return Value ", "")};
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 11), expectedStart);
    // The refused attempt: no answer, with the system's number and text.
    const std::string refused = "ModReboot\tfncRebootSupressionWebPost\tERROR\tWebpost failed to " +
                                first + "\tNo answer from " + first + "\t";
    EXPECT_TRUE(log[11].starts_with(refused)) << log[11];
    const std::vector<std::string> expectedEnd = {
        Line("INFO", second + " Attempt", "0"), Line("INFO", "XML String", body),
        Line("INFO", "Return Value ", "1"),
        Line("INFO", "Webpost Successful with Return Value", "1")};
    EXPECT_EQ(std::vector<std::string>(log.begin() + 12, log.end()), expectedEnd);

    ASSERT_EQ(primary.Requests().size(), 3u);
    ASSERT_EQ(secondary.Requests().size(), 1u);
    EXPECT_EQ(WithoutTime(secondary.Requests()[0].body), body);
    EXPECT_EQ(secondary.Requests()[0].target, page + query);
}

// With the encryption flag every attempt goes to the address with "&ec=256"; the log shows the
// clear body, the service gets it encrypted inside CDATA.
TYPED_TEST(WebPostContract, EncryptedBodies) {
    contract::LoopbackServer primary({"200:", "200:", "200:"});
    contract::LoopbackServer secondary({"200:0"});
    this->ctx.wpConfigXml = Configuration(primary.HostAndPort(), secondary.HostAndPort(), "1");
    EXPECT_TRUE(web::fncRebootSupressionWebPost(this->ctx, "2"));

    std::vector<contract::RecordedRequest> requests = primary.Requests();
    requests.push_back(secondary.Requests().at(0));
    ASSERT_EQ(requests.size(), 4u);
    const std::string prefix = std::string("<") + kTag + "><![CDATA[";
    const std::string suffix = std::string("]]></") + kTag + ">";
    std::vector<std::string> clearBodies;
    const std::string bodyLine = Line("INFO", "XML String", "");
    for (const auto& line : this->Log()) {
        // form, module, type, "XML String", the body, and three empty values
        if (line.starts_with(bodyLine.substr(0, bodyLine.size() - 2))) {
            clearBodies.push_back(line.substr(bodyLine.size() - 2, line.size() - bodyLine.size()));
        }
    }
    ASSERT_EQ(clearBodies.size(), 4u);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_TRUE(requests[i].target.ends_with("&ec=256")) << requests[i].target;
        const std::string& sent = requests[i].body;
        ASSERT_TRUE(sent.starts_with(prefix) && sent.ends_with(suffix)) << sent;
        const std::string clear = platform::emulated::StandInDecrypt(
            sent.substr(prefix.size(), sent.size() - prefix.size() - suffix.size()));
        EXPECT_EQ(WithoutTime(clear), clearBodies[i]);
    }
    EXPECT_EQ(this->Log().back(), Line("INFO", "Webpost Successful with Return Value.", "0"));
}

}  // namespace
