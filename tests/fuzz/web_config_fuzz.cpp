// The web-configuration reader over any XML text: no crash, nothing escapes the procedure, the
// values it sets are those of an entry of the wanted service, and the alert-suspension body made
// with the tag it found parses as XML.
#include <pugixml.hpp>
#include <string>

#include "common/text.h"
#include "fuzz_support.h"
#include "web/alert_suspension.h"
#include "web/web_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr const char* kService = "wpacpmsusddappextended";
    run::RunContext& ctx = fuzzing::Context();
    fuzzing::KeepLogSmall();
    ctx.wpConfigXml.assign(reinterpret_cast<const char*>(data), size);
    try {
        web::subReadXMLWebpost(ctx, kService);
    } catch (...) {
        fuzzing::Fail("a failure escaped subReadXMLWebpost");
    }
    if (ctx.webPostTagName.empty()) return 0;
    if (common::Upper(common::Trim(ctx.webPostTagName)) != common::Upper(kService)) {
        fuzzing::Fail("entry of another service taken", ctx.webPostTagName);
    }
    for (const std::string* url : {&ctx.webPostPrimaryURL, &ctx.webPostSecondaryURL}) {
        if (!url->empty() && url->rfind("http://", 0) != 0 && url->rfind("https://", 0) != 0) {
            fuzzing::Fail("address without its scheme", *url);
        }
    }
    const std::string body =
        web::SuppressionBody(ctx.webPostTagName, "1001", "1", "03/04/2021 17:06:07");
    pugi::xml_document document;
    if (!document.load_string(body.c_str())) fuzzing::Fail("body does not parse", body);
    return 0;
}
