// The agent's COM components as the program reaches them: by ProgID, through IDispatch, methods
// called by name. On Windows the stand-in servers are registered as regsvr32 registers them;
// the emulated host has the same stand-ins built in. Both must answer alike.
#include <gtest/gtest.h>

#ifdef RS_CONTRACT_WIN32
#include <filesystem>

#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"
#endif

#include "loopback_server_fixture.h"
#include "platform/emulated/emulated_components.h"
#include "platform_world_fixture.h"
#include "web/agent_components.h"

namespace {

using platform::ComObject;
using platform::PostXmlStringCall;

constexpr platform::DWORD kBound = platform::kComponentCallMs;

template <class World>
class ComponentsContract : public ::testing::Test {
protected:
    platform::Components& components() { return world.platform().components(); }
    ComObject Create(const char* progId) {
        ComObject object = 0;
        EXPECT_EQ(components().CreateObject(progId, &object, platform::kComponentCallMs),
                  platform::kSOk)
            << progId;
        EXPECT_NE(object, 0u);
        return object;
    }
    World world;
};

TYPED_TEST_SUITE(ComponentsContract, contract::PlatformWorlds, contract::WorldNames);

TYPED_TEST(ComponentsContract, UnregisteredProgIdIsAnInvalidClassString) {
    ComObject object = 1;
    EXPECT_EQ(this->components().CreateObject("VERUZE.NoSuchClass", &object, kBound),
              platform::kCoEClassString);
    EXPECT_EQ(object, 0u);
}

// The same transform on both hosts: base64 of the UTF-8 bytes XORed with the stand-in's key,
// which the tests (and a curious reader of a captured post) can undo.
TYPED_TEST(ComponentsContract, EncryptorTransform) {
    const struct {
        const char* clear;
        const char* encrypted;
    } cases[] = {
        {"", ""},
        {"a", "Nw=="},
        {"<x><regid>1001</regid><opt>2</opt></x>",
         "aj1saSggSjEJUnReU0NFXwYKFUQXSl0BFFlXXGpqPSUuexF3FVI="},
        {"&<>\"]]>", "cHlsdwcYEw=="},
    };
    const ComObject encryptor = this->Create(web::kXmlEncryptorProgId);
    for (const auto& c : cases) {
        std::string encrypted = "unchanged";
        std::string errorText;
        EXPECT_EQ(this->components().EncryptText(encryptor, web::kXmlEncryptorMethod, c.clear,
                                                 &encrypted, &errorText, kBound),
                  platform::kSOk);
        EXPECT_EQ(encrypted, c.encrypted) << c.clear;
        EXPECT_EQ(platform::emulated::StandInDecrypt(encrypted), c.clear);
    }
    this->components().ReleaseObject(encryptor);
}

TYPED_TEST(ComponentsContract, AMethodTheObjectLacksIsAnUnknownName) {
    const ComObject encryptor = this->Create(web::kXmlEncryptorProgId);
    const ComObject webPost = this->Create(web::kWebPostProgId);
    std::string text;
    std::string errorText;
    EXPECT_EQ(this->components().EncryptText(webPost, web::kXmlEncryptorMethod, "x", &text,
                                             &errorText, kBound),
              platform::kDispEUnknownName);
    PostXmlStringCall call;
    call.url = "http://127.0.0.1:1/";
    EXPECT_EQ(
        this->components().PostXMLString(encryptor, web::kWebPostMethod, &call, &errorText, kBound),
        platform::kDispEUnknownName);
    this->components().ReleaseObject(encryptor);
    this->components().ReleaseObject(webPost);
}

// The body goes out as it is, by POST to the address with its query; the return value is the
// answer of a 2xx reply; any other reply or none leaves it empty and says why in the details.
TYPED_TEST(ComponentsContract, PostXMLStringSendsTheBodyAndReturnsTheAnswer) {
    const struct {
        const char* answer;
        const char* returnValue;
        const char* detail1;  // "<url>" stands for the address posted to
        bool detail2Set;
        const char* detail3;
    } cases[] = {
        {"200:1", "1", "", false, ""},
        {"200: 1 ", " 1 ", "", false, ""},
        {"200:0", "0", "", false, ""},
        {"200:", "", "", false, ""},
        {"200:true", "true", "", false, ""},
        {"500:oops", "", "HTTP status 500", false, "oops"},
        {"404", "", "HTTP status 404", false, ""},
        {"refuse", "", "No answer from <url>", true, nullptr},
    };
    const std::string body =
        "<wpacp><regid>1001</regid><opt>2</opt><mndtime>03/04/2021 17:06:07"
        "</mndtime></wpacp>";
    const ComObject webPost = this->Create(web::kWebPostProgId);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        contract::LoopbackServer server({c.answer});
        PostXmlStringCall call;
        call.body = body;
        call.url = server.Url("/tfr_wpacp.aspx?mmid=30&sid=20&rid=1001&rty=TRLA&ec=256");
        call.returnValue = "stale";
        std::string errorText;
        ASSERT_EQ(this->components().PostXMLString(webPost, web::kWebPostMethod, &call, &errorText,
                                                   kBound),
                  platform::kSOk)
            << errorText;
        EXPECT_EQ(call.body, body);
        EXPECT_EQ(call.returnValue, c.returnValue);
        std::string detail1 = c.detail1;
        if (const auto at = detail1.find("<url>"); at != std::string::npos) {
            detail1.replace(at, 5, call.url);
        }
        EXPECT_EQ(call.detail1, detail1);
        EXPECT_EQ(!call.detail2.empty(), c.detail2Set) << call.detail2;
        if (c.detail3) {
            EXPECT_EQ(call.detail3, c.detail3);
        }
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size(), 1u);
        if (requests[0].answer == "refuse") continue;
        EXPECT_EQ(requests[0].method, "POST");
        EXPECT_EQ(requests[0].target, "/tfr_wpacp.aspx?mmid=30&sid=20&rid=1001&rty=TRLA&ec=256");
        EXPECT_EQ(requests[0].Header("Content-Type"), "text/xml; charset=utf-8");
        EXPECT_EQ(requests[0].body, body);
    }
    this->components().ReleaseObject(webPost);
}

// Nothing listening: no answer, with the system's "cannot connect" number and its text.
TYPED_TEST(ComponentsContract, PostXMLStringToAClosedPort) {
    const ComObject webPost = this->Create(web::kWebPostProgId);
    PostXmlStringCall call;
    call.body = "<a/>";
    call.url = "http://127.0.0.1:" + std::to_string(contract::LoopbackServer::UnusedPort()) + "/x";
    std::string errorText;
    ASSERT_EQ(
        this->components().PostXMLString(webPost, web::kWebPostMethod, &call, &errorText, kBound),
        platform::kSOk);
    EXPECT_EQ(call.returnValue, "");
    EXPECT_EQ(call.detail1, "No answer from " + call.url);
    EXPECT_EQ(call.detail2, "12029");  // ERROR_WINHTTP_CANNOT_CONNECT
    EXPECT_FALSE(call.detail3.empty());
    this->components().ReleaseObject(webPost);
}

// A post that outlives its bound fails with ERROR_TIMEOUT's HRESULT, leaving the call's texts
// as they were; the object is lost with its thread (its next call fails at once), and an object
// made afterwards works.
TYPED_TEST(ComponentsContract, APostPastItsBoundTimesOutAndLosesTheObject) {
    contract::LoopbackServer hung({"hang"});
    contract::LoopbackServer answering({"200:1"});
    const ComObject webPost = this->Create(web::kWebPostProgId);
    PostXmlStringCall call;
    call.body = "<a/>";
    call.url = hung.Url("/x");
    call.returnValue = "stale";
    std::string errorText;
    EXPECT_EQ(
        this->components().PostXMLString(webPost, web::kWebPostMethod, &call, &errorText, 300),
        platform::kTimeoutHresult);
    EXPECT_EQ(errorText,
              contract::WineAnswer(this->world, "ERROR_TIMEOUT's text",
                                   std::string("This operation returned because the timeout "
                                               "period expired."),
                                   std::string("Timeout."), "Wine's message table says Timeout."));
    EXPECT_EQ(call.returnValue, "stale");
    call.url = answering.Url("/x");
    EXPECT_EQ(
        this->components().PostXMLString(webPost, web::kWebPostMethod, &call, &errorText, kBound),
        platform::kTimeoutHresult);
    this->components().ReleaseObject(webPost);
    const ComObject again = this->Create(web::kWebPostProgId);
    ASSERT_EQ(
        this->components().PostXMLString(again, web::kWebPostMethod, &call, &errorText, kBound),
        platform::kSOk)
        << errorText;
    EXPECT_EQ(call.returnValue, "1");
    this->components().ReleaseObject(again);
}

#ifdef RS_CONTRACT_WIN32
// A DLL planted beside the program under a name that something loads by name is found there
// first, until the program restricts the search at start-up; from then on only the system
// folder is searched (error 126). The search stays restricted for the rest of this process, as
// for the program; nothing else in this binary restricts it, so the first load sees the
// process's own search order.
TEST(Win32Components, ALibraryBesideTheProgramIsLoadedByNameOnlyBeforeTheSearchIsRestricted) {
    char self[MAX_PATH] = {};
    ASSERT_NE(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    const std::string planted = (folder / "rs_planted.dll").string();
    ASSERT_TRUE(
        ::CopyFileA((folder / "XmlEncryptor.dll").string().c_str(), planted.c_str(), FALSE));
    {
        const platform::win32::UniqueModule before(::LoadLibraryA("rs_planted.dll"));
        EXPECT_TRUE(before) << "the program's folder is searched first";
    }
    EXPECT_EQ(platform::win32::RestrictDllSearch(), platform::win32::DllSearch::SystemFolderOnly);
    {
        const platform::win32::UniqueModule after(::LoadLibraryA("rs_planted.dll"));
        EXPECT_FALSE(after);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    // A system DLL by name still loads.
    const platform::win32::UniqueModule system(::LoadLibraryA("msimg32.dll"));
    EXPECT_TRUE(system);
    ::DeleteFileA(planted.c_str());
}

// The cipher library is loaded by its full path so that its own dependencies come from its
// folder: the split stand-in (split\\Cryptel.dll importing split\\CipherKey.dll) lies in a folder
// that is neither the program's nor the current one nor on the path. With a plain load of the
// full path its dependency is not found (error 126) and the configuration could not be read;
// with the search restricted to the system folder, only the library's own folder serves it.
TEST(Win32Components, TheCipherLibrarysDependenciesComeFromItsFolder) {
    // As in the program, whose search is restricted before the library is loaded.
    platform::win32::RestrictDllSearch();
    std::string path = std::string("Z:") + RS_SPLIT_CIPHER_LIBRARY;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    auto components = platform::win32::MakeWin32Components();
    char buffer[] = "<a/>";
    ASSERT_TRUE(
        components->CallCipher(path.c_str(), "EncryptData", buffer, 4, platform::kCipherCallMs));
    EXPECT_NE(std::string(buffer, 4), "<a/>");
    ASSERT_TRUE(
        components->CallCipher(path.c_str(), "DecryptData", buffer, 4, platform::kCipherCallMs));
    EXPECT_EQ(std::string(buffer, 4), "<a/>");
}
#endif

}  // namespace
