// The HTTP facet on each host: what every request carries.
#include <gtest/gtest.h>

#include <fstream>

#include "loopback_server_fixture.h"
#include "platform_world_fixture.h"
#include "version.h"

namespace {

template <class World>
class HttpContract : public ::testing::Test {
protected:
    // One JSON post to the server, which must answer; the answer as the facet gives it.
    platform::HttpResponse PostTo(const contract::LoopbackServer& server) {
        platform::HttpResponse response;
        long number = 0;
        std::string text;
        EXPECT_TRUE(world.platform().http().Post(
            server.Url("/x"), {{"Content-Type", "application/json"}}, "[]",
            {15000, 15000, 30000, 30000}, &response, &number, &text))
            << number << " " << text;
        return response;
    }
    World world;
};

TYPED_TEST_SUITE(HttpContract, contract::PlatformWorlds, contract::WorldNames);

// The program names itself and its version; the answer without a charset is taken as UTF-8.
TYPED_TEST(HttpContract, RequestsNameTheProgram) {
    contract::LoopbackServer server({"200:1"});
    const platform::HttpResponse response = this->PostTo(server);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "1");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("User-Agent"), "RebootScheduler/" RS_VERSION_TEXT);
    EXPECT_EQ(server.Requests()[0].Header("Content-Type"), "application/json");
}

// An answer in another charset reads as its text: here UTF-16LE, which read as UTF-8 would keep
// its NUL bytes.
TYPED_TEST(HttpContract, AnswerDecodedByItsCharset) {
    const auto folder = contract::FreshTemporaryFolder("rs-http-charset-");
    const auto answer = folder / "answer.bin";
    std::ofstream(answer, std::ios::binary) << std::string(
        "2\0"
        "0\0",
        4);
    contract::LoopbackServer server(
        {"--content-type", "application/json; charset=utf-16le", "200@" + answer.string()});
    const platform::HttpResponse response = this->PostTo(server);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "20");
    std::filesystem::remove_all(folder);
}

}  // namespace
