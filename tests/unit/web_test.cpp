#include <gtest/gtest.h>

#include "../contract/loopback_server_fixture.h"
#include "json_check_support.h"
#include "run_support.h"
#include "web/rest_posts.h"
#include "web/service_endpoints.h"
#include "win10/json_records.h"

namespace {

using contract::LoopbackServer;
using testing_support::AgentRegistry;
using testing_support::ContextOn;
using testing_support::ParseJson;
using testing_support::TempMachine;

constexpr const char* kTable = "C:\\Agent\\Configuration\\Hostbook.ini";
constexpr const char* kStart = "3/4/2021 17:6:7";

// --- endpoint table ------------------------------------------------------------------------------

struct UrlCase {
    const char* name;
    const char* registry;   // the agent key's lines (both views as needed)
    const char* tableFile;  // where the table is, or empty for none
    const char* table;      // its content
    const char* defaultUrl;
    const char* expected;
    const char* tableAfter;  // a line expected in the table afterwards, or empty
};

class EndpointTable : public ::testing::TestWithParam<UrlCase> {};

TEST_P(EndpointTable, BaseUrlEndsWithSlash) {
    const UrlCase& c = GetParam();
    TempMachine machine;
    machine.Registry(c.registry);
    machine.File("C:\\Agent\\Configuration\\keep", "");
    if (*c.tableFile) machine.File(c.tableFile, c.table);
    ContextOn on(machine);
    EXPECT_EQ(web::fncGetServiceURL(on.ctx(), "wprestapi", c.defaultUrl), c.expected);
    const std::string tableFile = *c.tableFile ? c.tableFile : kTable;
    if (*c.tableAfter) {
        EXPECT_NE(machine.Read(tableFile).find(c.tableAfter), std::string::npos)
            << machine.Read(tableFile);
    } else {
        EXPECT_EQ(machine.Read(tableFile), c.table) << "nothing written";
    }
}

const char* const kAgent =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n\"InstallationPath\"=\"C:\\\\Agent\\\\\"\r\n";
const char* const kAgentNoSlash =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n\"InstallationPath\"=\"C:\\\\Agent\"\r\n";
// Both views: the 64-bit one wins, even for the 32-bit program.
const char* const kBothViews =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\VERUZE]\r\n\"InstallationPath\"=\"C:"
    "\\\\Other\"\r\n";
const char* const kOnly32 =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\VERUZE]\r\n\"InstallationPath\"=\"C:"
    "\\\\Agent\"\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, EndpointTable,
    ::testing::Values(
        UrlCase{"SlashAppended", kAgent, kTable, "[wprestapi]\r\nURL=http://h/api\r\n", "",
                "http://h/api/", ""},
        UrlCase{"SlashKept", kAgent, kTable, "[wprestapi]\r\nURL=http://h/api/\r\n", "",
                "http://h/api/", ""},
        UrlCase{"Trimmed", kAgent, kTable, "[wprestapi]\r\nURL=  http://h/api  \r\n", "x",
                "http://h/api/", ""},
        UrlCase{"OtherSection", kAgent, kTable, "[other]\r\nURL=http://h/\r\n", "", "", ""},
        UrlCase{"SpacesOnlyTakesDefault", kAgent, kTable, "[wprestapi]\r\nURL=   \r\n",
                "http://d/x", "http://d/x/", "URL=http://d/x"},
        UrlCase{"MissingTableTakesDefault", kAgent, "", "", "http://d/x/", "http://d/x/",
                "[wprestapi]\r\nURL=http://d/x/"},
        UrlCase{"MissingWithoutDefault", kAgent, "", "", "", "", ""},
        UrlCase{"InstallPathWithoutSlash", kAgentNoSlash, kTable,
                "[wprestapi]\r\nURL=http://h/\r\n", "", "http://h/", ""},
        UrlCase{"SixtyFourBitViewFirst", kBothViews, kTable, "[wprestapi]\r\nURL=http://h/\r\n", "",
                "http://h/", ""},
        UrlCase{"ThirtyTwoBitViewNext", kOnly32, kTable, "[wprestapi]\r\nURL=http://h/\r\n", "",
                "http://h/", ""},
        // No installation folder: the table is looked for in \Configuration on the current drive.
        UrlCase{"NoInstallationPath", "", "C:\\Configuration\\Hostbook.ini",
                "[wprestapi]\r\nURL=http://root/\r\n", "", "http://root/", ""}),
    [](const auto& info) { return info.param.name; });

TEST(EndpointTable, RegistryNumbersAndMissingValues) {
    TempMachine machine;
    machine.Registry(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"N\"=dword:ffffffff\r\n\"S\"=\"abc\"\r\n\"E\"="
        "\"\"\r\n");
    ContextOn on(machine);
    auto& ctx = on.ctx();
    EXPECT_EQ(web::HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\T", "N", 4), "-1");
    EXPECT_EQ(web::HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\T", "S", 1),
              "abc");
    EXPECT_EQ(web::HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\T", "E", 1), "");
    EXPECT_EQ(web::HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\T", "X", 1), "");
    EXPECT_EQ(web::HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\T", "S", 3), "");
    EXPECT_EQ(web::HostbookRegValue(ctx, platform::kHkeyLocalMachine, "SOFTWARE\\None", "S", 1),
              "");
}

// --- REST posts ----------------------------------------------------------------------------------

TEST(RestPosts, AnswersThatCountAsStoredRecords) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true},  {"12", true}, {"00", true},  {"a", true},   {"[", true}, {"{", true},
        {"0", false}, {"", false},  {"-1", false}, {" 1", false}, {"/", false}};
    for (const auto& [answer, success] : cases) {
        EXPECT_EQ(web::AnswerCountsAsSuccess(answer), success) << '"' << answer << '"';
    }
}

// A machine whose endpoint table names the server, and a context on it.
struct PostFixture {
    explicit PostFixture(const std::string& baseUrl) {
        machine.Registry(AgentRegistry());
        machine.File(kTable, "[wprestapi]\r\nURL=" + baseUrl + "api\r\n");
        on = std::make_unique<ContextOn>(machine);
        on->ctx().regId = "1001";
        on->ctx().runStartTime = kStart;
    }
    TempMachine machine;
    std::unique_ptr<ContextOn> on;
};

std::string PostLine(const char* module, const char* type, const std::string& val1,
                     const std::string& val2 = "") {
    return std::string("ModWebPost\t") + module + "\t" + type + "\t" + val1 + "\t" + val2 + "\t\t";
}

TEST(RestPosts, ErrorRecordsGoAsOneParsedArray) {
    LoopbackServer server({"200:2"});
    PostFixture f(server.Url("/"));
    const std::string description = "Say \"no\" to C:\\Temp\r\nline two";
    f.on->ctx().errorLogJson =
        win10::ErrorRecord("1001", "RebootGetTask", "Err - 5 - " + description, kStart) +
        win10::ErrorRecord("1001", "RebootTask", "x", kStart);
    web::fncWin10ErrorWebPost(f.on->ctx());

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/api/v1/PthErrorLog/");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
    const auto array = ParseJson(requests[0].body).Array();
    ASSERT_EQ(array.size(), 2u);
    EXPECT_EQ(array[0]["Errorlog"].String(), "Err - 5 - " + description);
    EXPECT_EQ(array[0]["RegID"].Number(), "1001");
    const std::string address = server.Url("/") + "api/v1/PthErrorLog/";
    EXPECT_EQ(f.on->Log(), (std::vector<std::string>{
                               PostLine("fncWin10ErrorWebPost", "INFO", "Webpost URL", address),
                               PostLine("fncWin10ErrorWebPost", "INFO",
                                        "Success, number of records updated : ", "2")}));
}

struct BodyCase {
    const char* name;
    bool audit;
    const char* records;
    const char* body;  // sent; empty: nothing sent and nothing logged
};

class RestBodies : public ::testing::TestWithParam<BodyCase> {};

TEST_P(RestBodies, OneLeadingCommaRemovedNothingElse) {
    const BodyCase& c = GetParam();
    LoopbackServer server({"200:1"});
    PostFixture f(server.Url("/"));
    (c.audit ? f.on->ctx().auditJson : f.on->ctx().errorLogJson) = c.records;
    c.audit ? web::fncWin10AudWebPost(f.on->ctx()) : web::fncWin10ErrorWebPost(f.on->ctx());
    const auto requests = server.Requests();
    if (*c.body) {
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].body, c.body);
    } else {
        EXPECT_TRUE(requests.empty());
        EXPECT_TRUE(f.on->Log().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RestBodies,
    ::testing::Values(
        BodyCase{"CommaAndTwoRecords", false, ",{\"a\":1},{\"b\":2}", "[{\"a\":1},{\"b\":2}]"},
        BodyCase{"TwoCommas", false, ",,{\"a\":1}", "[,{\"a\":1}]"},
        BodyCase{"ErrorSpacesOnly", false, "   ", ""}, BodyCase{"ErrorLoneComma", false, ",", ""},
        BodyCase{"ErrorNone", false, "", ""}, BodyCase{"AuditSpacesOnly", true, "   ", "[   ]"},
        BodyCase{"AuditWithComma", true, ",{\"a\":1}", "[{\"a\":1}]"},
        BodyCase{"AuditNone", true, "", ""}),
    [](const auto& info) { return info.param.name; });

// An attempt's time-outs cut to what is left of its post's bound, and never to 0, which WinHTTP
// and libcurl read as no limit at all.
TEST(RestPosts, TimeOutsCutToWhatIsLeft) {
    const platform::HttpTimeouts steps{15000, 15000, 30000, 30000};
    const struct {
        platform::DWORD left;
        platform::HttpTimeouts cut;
    } cases[] = {
        {60000, {15000, 15000, 30000, 30000, 60000}},
        {20000, {15000, 15000, 20000, 20000, 20000}},
        {1, {1, 1, 1, 1, 1}},
        {0, {1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        const platform::HttpTimeouts got = platform::CutTo(steps, c.left);
        EXPECT_EQ((std::vector<int>{got.resolveMs, got.connectMs, got.sendMs, got.receiveMs,
                                    got.totalMs}),
                  (std::vector<int>{c.cut.resolveMs, c.cut.connectMs, c.cut.sendMs, c.cut.receiveMs,
                                    c.cut.totalMs}))
            << c.left;
    }
}

TEST(RestPosts, WithoutAnAddressOnlyPostsWithSomethingToSayLogIt) {
    TempMachine machine;
    machine.Registry(AgentRegistry());
    machine.File("C:\\Agent\\keep", "");
    ContextOn on(machine);
    web::fncWin10ErrorWebPost(on.ctx());  // nothing to post: silent
    web::fncWin10AudWebPost(on.ctx());    // says so whatever it holds
    on.ctx().errorLogJson = ",{}";
    web::fncWin10ErrorWebPost(on.ctx());
    EXPECT_EQ(on.Log(),
              (std::vector<std::string>{
                  PostLine("fncWin10AudWebPost", "INFO", "wprestapi dns url not found."),
                  PostLine("fncWin10ErrorWebPost", "INFO", "wprestapi dns url not found.")}));
}

}  // namespace

#include "platform/http_charset.h"

namespace {

TEST(HttpCharset, ContentTypeAndDecoding) {
    EXPECT_EQ(platform::CharsetOf("text/xml; charset=\"ISO-8859-1\""), "iso-8859-1");
    EXPECT_EQ(platform::CharsetOf("text/plain;Charset=UTF-8 ; q=1"), "utf-8");
    EXPECT_EQ(platform::CharsetOf("text/plain"), "");
    EXPECT_EQ(platform::CodePageOfCharset(""), 65001u);
    EXPECT_EQ(platform::CodePageOfCharset("windows-1252"), 1252u);
    EXPECT_EQ(platform::CodePageOfCharset("x-unknown"), 65001u);
    const struct {
        std::string bytes, charset, utf8;
    } cases[] = {
        {"caf\xE9", "iso-8859-1", "caf\xC3\xA9"},
        {"\x80", "windows-1252", "\xE2\x82\xAC"},
        {"caf\xC3\xA9", "", "caf\xC3\xA9"},
        {"caf\xC3\xA9", "x-unknown", "caf\xC3\xA9"},
        {std::string("1\0", 2), "utf-16le", "1"},
        {std::string("\0"
                     "1",
                     2),
         "utf-16", "1"},
        {std::string("\xFF\xFE"
                     "1\0",
                     4),
         "utf-16", "1"},
        {"\xE9", "us-ascii", "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::AnswerToUtf8(c.bytes, c.charset), c.utf8) << c.charset;
    }
}

}  // namespace
