#include "web/web_config.h"

#include <gtest/gtest.h>

#include "platform/emulated/emulated_components.h"
#include "platform/emulated/emulated_platform.h"
#include "run_support.h"

namespace {

using testing_support::ContextOn;
using testing_support::TempMachine;

// One service entry: eleven attributes, the values at positions 0 to 10.
std::string Entry(const std::vector<std::string>& values, const std::string& element = "svc") {
    std::string entry = "<" + element;
    for (std::size_t i = 0; i < values.size(); ++i) {
        entry += " a" + std::to_string(i) + "=\"" + values[i] + "\"";
    }
    return entry + "/>";
}

std::string Config(const std::string& pr4Content, const std::string& fodAttribute = "NDATAPOST") {
    return "<configuration><fod kind=\"" + fodAttribute + "\"><PR4>" + pr4Content +
           "</PR4></fod></configuration>";
}

const std::string kPlain = Entry({"x", "aspx", "wpAcp", "", "0", "p.example:8080", "s.example/base",
                                  "0", "p2.example", "s2.example", "1"});

struct ReadCase {
    const char* name;
    std::string xml;
    const char* service;
    const char* primary;
    const char* secondary;
    const char* flag;
    const char* page;
    const char* tag;
    bool errorLine;  // the trap's line for a missing object (91)
};

const ReadCase kReadCases[] = {
    {"scheme 0, first pair", Config(kPlain), "wpAcp", "http://p.example:8080/tfr_wpAcp.aspx",
     "http://s.example/base/tfr_wpAcp.aspx", "1", "tfr_wpAcp.aspx", "wpAcp", false},
    {"selector 1 takes positions 8 and 9, scheme 1 is https",
     Config(Entry({"x", "asp", "wpAcp", "", "1", "p", "s", "1", "p2.example", "s2.example", "0"})),
     "wpAcp", "https://p2.example/tfr_wpAcp.asp", "https://s2.example/tfr_wpAcp.asp", "0",
     "tfr_wpAcp.asp", "wpAcp", false},
    {"any selector but 0 is the second pair",
     Config(Entry({"x", "asp", "wpAcp", "", "2", "p", "s", "01", "p2", "s2", ""})), "wpAcp",
     "https://p2/tfr_wpAcp.asp", "https://s2/tfr_wpAcp.asp", "", "tfr_wpAcp.asp", "wpAcp", false},
    {"blank primary host",
     Config(Entry({"x", "aspx", "wpAcp", "", "0", "  ", "s", "0", "", "", "1"})), "wpAcp", "",
     "http://s/tfr_wpAcp.aspx", "1", "tfr_wpAcp.aspx", "wpAcp", false},
    {"blank secondary host",
     Config(Entry({"x", "aspx", "wpAcp", "", "0", "p", " ", "0", "", "", "1"})), "wpAcp",
     "http://p/tfr_wpAcp.aspx", "", "1", "tfr_wpAcp.aspx", "wpAcp", false},
    {"name matched without regard to case and spaces; the entry's spelling kept",
     Config(Entry({"x", "aspx", " wpAcp ", "", "0", "p", "s", "0", "", "", "1"})), "  WPACP",
     "http://p/tfr_ wpAcp .aspx", "http://s/tfr_ wpAcp .aspx", "1", "tfr_ wpAcp .aspx", " wpAcp ",
     false},
    {"a fod element that is not NDATAPOST is skipped, a later one searched",
     "<c><fod k=\"other\"><PR4>" +
         Entry({"x", "aspx", "wpAcp", "", "0", "wrong", "", "0", "", "", ""}) +
         "</PR4></fod><sub><fod k=\"ndatapost\"><PR4>" + kPlain + "</PR4></fod></sub></c>",
     "wpAcp", "http://p.example:8080/tfr_wpAcp.aspx", "http://s.example/base/tfr_wpAcp.aspx", "1",
     "tfr_wpAcp.aspx", "wpAcp", false},
    {"PR4 by its local name in any case, other children of fod passed over",
     "<c xmlns:x=\"urn:x\"><fod k=\"NDATAPOST\"><!-- c --><other/><x:pr4>" + kPlain +
         "</x:pr4></fod></c>",
     "wpAcp", "http://p.example:8080/tfr_wpAcp.aspx", "http://s.example/base/tfr_wpAcp.aspx", "1",
     "tfr_wpAcp.aspx", "wpAcp", false},
    {"the first matching entry wins",
     Config(kPlain + Entry({"x", "htm", "WPACP", "", "0", "later", "", "0", "", "", ""})), "wpacp",
     "http://p.example:8080/tfr_wpAcp.aspx", "http://s.example/base/tfr_wpAcp.aspx", "1",
     "tfr_wpAcp.aspx", "wpAcp", false},
    {"no such service", Config(kPlain), "other", "", "", "", "", "", false},
    {"text that does not parse", "<configuration><fod>", "wpAcp", "", "", "", "", "", false},
    {"empty configuration", "", "wpAcp", "", "", "", "", "", false},
    {"a comment inside PR4 before the entry", Config("<!-- entries -->" + kPlain), "wpAcp", "", "",
     "", "", "", true},
    {"an entry reached before the match with fewer than 3 attributes",
     Config(Entry({"x", "aspx"}) + kPlain), "wpAcp", "", "", "", "", "", true},
    {"the matched entry with 10 attributes",
     Config(Entry({"x", "aspx", "wpAcp", "", "0", "p", "s", "0", "", ""})), "wpAcp", "", "", "", "",
     "", true},
    {"a fod element without attributes", "<c><fod><PR4>" + kPlain + "</PR4></fod></c>", "wpAcp", "",
     "", "", "", "", true},
};

class ReadXmlWebpost : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadXmlWebpost, SetsTheFiveValues) {
    const ReadCase& c = GetParam();
    TempMachine machine;
    ContextOn on(machine);
    auto& ctx = on.ctx();
    // Values of an earlier call go first.
    ctx.webPostPrimaryURL = ctx.webPostSecondaryURL = ctx.webPostEncryptFlag = ctx.webPostPage =
        ctx.webPostTagName = "earlier";
    ctx.wpConfigXml = c.xml;
    web::subReadXMLWebpost(ctx, c.service);
    EXPECT_EQ(ctx.webPostPrimaryURL, c.primary);
    EXPECT_EQ(ctx.webPostSecondaryURL, c.secondary);
    EXPECT_EQ(ctx.webPostEncryptFlag, c.flag);
    EXPECT_EQ(ctx.webPostPage, c.page);
    EXPECT_EQ(ctx.webPostTagName, c.tag);
    const auto log = on.Log();
    if (c.errorLine) {
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRUE(
            log[0].starts_with("ModXML\tsubReadXMLWebpost\tERROR\t91\tObject variable or With "
                               "block variable not set\t"))
            << log[0];
    } else {
        EXPECT_TRUE(log.empty()) << log[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadXmlWebpost, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// A DOM that cannot be created is trapped like any other failure.
TEST(ReadXmlWebpost, DomThatCannotBeCreated) {
    TempMachine machine;
    auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
    platform::FaultPlan plan;
    plan.failAt = 1;
    platform::FaultInjectingPlatform faulty(*host, plan);
    run::RunContext ctx(faulty);
    std::filesystem::create_directories(machine.HostPath("C:\\Logs"));
    ctx.logFilePath = "C:\\Logs\\a.log";
    ctx.wpConfigXml = Config(kPlain);
    web::subReadXMLWebpost(ctx, "wpAcp");
    EXPECT_EQ(plan.trace.at(0), "Xml.CreateDocument");
    EXPECT_EQ(ctx.webPostPrimaryURL, "");
    const auto log = testing_support::LogLines(machine, "C:\\Logs\\a.log");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(
        log[0].starts_with("ModXML\tsubReadXMLWebpost\tERROR\t429\tActiveX component can't "
                           "create object\t5\t"))
        << log[0];
}

TEST(XmlEncrypt, WrapsTheEncryptedTextInCdataNamedAfterTheTag) {
    TempMachine machine;
    ContextOn on(machine);
    on.ctx().webPostTagName = "wpAcp";
    const std::string xml = "<wpAcp><regid>1001</regid></wpAcp>";
    const std::string wrapped = web::fncXMLEncrypt(on.ctx(), xml);
    EXPECT_EQ(wrapped,
              "<wpAcp><![CDATA[" + platform::emulated::StandInEncrypt(xml) + "]]></wpAcp>");
    EXPECT_TRUE(on.Log().empty());
}

TEST(XmlEncrypt, TheElementIsNamedWithoutTheSpacesAroundTheTag) {
    TempMachine machine;
    ContextOn on(machine);
    on.ctx().webPostTagName = " wpAcp  ";
    const std::string wrapped = web::fncXMLEncrypt(on.ctx(), "<a/>");
    EXPECT_EQ(wrapped,
              "<wpAcp><![CDATA[" + platform::emulated::StandInEncrypt("<a/>") + "]]></wpAcp>");
}

TEST(XmlEncrypt, AnEncryptorThatCannotBeCreatedGivesTheEmptyText) {
    TempMachine machine;
    machine.Facts("[MissingComponents]\nVERUZE.XmlEncryptor=1\n");
    ContextOn on(machine);
    on.ctx().webPostTagName = "wpAcp";
    EXPECT_EQ(web::fncXMLEncrypt(on.ctx(), "<a/>"), "");
    const auto log = on.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with(
        "ModWebPost\tfncXMLEncrypt\tERROR\t429\tActiveX component can't create object\t"))
        << log[0];
}

}  // namespace
