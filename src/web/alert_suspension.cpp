#include "web/alert_suspension.h"

#include "common/dates.h"
#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"
#include "web/agent_components.h"
#include "web/web_config.h"

namespace web {

namespace {

constexpr const char* kService = "wpacpmsusddappextended";
constexpr int kAttemptsPerAddress = 3;
// Every attempt of one post, on both addresses, within one bound, so that a restart waits for
// them no longer than that whatever the services do; each web-post call within what is left,
// and within kWebPostTryMs of its own.
constexpr platform::DWORD kAlertPostTotalMs = 50000;
constexpr platform::DWORD kWebPostTryMs = 40000;

// The address of one attempt. The ids come from the registry: they are encoded so that a space
// or "&" in one cannot change the query (plain ids read the same).
std::string RequestAddress(const run::RunContext& ctx, const std::string& base) {
    return common::Trim(base) + "?" + "mmid=" + PercentEncoded(ctx.memberId) +
           "&sid=" + PercentEncoded(ctx.siteId) + "&rid=" + PercentEncoded(ctx.regId) +
           "&rty=" + PercentEncoded(ctx.agentType);
}

// One line, no declaration; the values escaped so that the document stays well-formed.
std::string PostBody(run::RunContext& ctx, const std::string& option) {
    const std::string now = common::PaddedDateText(ctx.platform.clock().GetLocalTime());
    return SuppressionBody(ctx.webPostTagName, ctx.regId, option, now);
}

}  // namespace

std::string SuppressionBody(std::string_view tagName, std::string_view regId,
                            std::string_view option, std::string_view now) {
    // The entry's name may have spaces around it; the element is named without them.
    const std::string tag = common::Trim(tagName);
    return "<" + tag + "><regid>" + XmlEscaped(regId) + "</regid><opt>" + XmlEscaped(option) +
           "</opt><mndtime>" + XmlEscaped(now) + "</mndtime></" + tag + ">";
}

std::string XmlEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string PercentEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

bool fncRebootSupressionWebPost(run::RunContext& ctx, const std::string& option) {
    const auto log = [&ctx](std::string_view type, std::string_view val1,
                            std::string_view val2 = {}, std::string_view val3 = {},
                            std::string_view val4 = {}) {
        activity_log::WriteLogLine(ctx, "ModReboot", "fncRebootSupressionWebPost", type, val1, val2,
                                   val3, val4);
    };
    platform::Components& components = ctx.platform.components();
    platform::OwnedComObject webPost(components);
    try {
        const platform::Deadline deadline(ctx.platform.clock(), kAlertPostTotalMs);
        const platform::LONG created =
            components.CreateObject(kWebPostProgId, webPost.put(),
                                    run::StepBound(ctx, deadline, platform::kComponentCallMs));
        if (created < 0 || !webPost.get()) throw run::CannotCreateObject(ctx, created);
        subReadXMLWebpost(ctx, kService);
        ctx.postPrimaryURL = ctx.webPostPrimaryURL;
        ctx.postSecondaryURL = ctx.webPostSecondaryURL;
        if (common::Trim(ctx.postPrimaryURL).empty() &&
            common::Trim(ctx.postSecondaryURL).empty()) {
            log("INFO",
                std::string(kService) + " dns url not found on Primary and Secondary not found.");
        }

        std::string address;  // the last one built
        for (const std::string* base : {&ctx.postPrimaryURL, &ctx.postSecondaryURL}) {
            if (common::Trim(*base).empty()) continue;
            address = RequestAddress(ctx, *base);
            for (int attempt = 0; attempt < kAttemptsPerAddress; ++attempt) {
                // An attempt with nothing left of the bound is not made.
                run::StepBound(ctx, deadline, kWebPostTryMs);
                ctx.postReturnValue.clear();
                ctx.postDetail1.clear();
                ctx.postDetail2.clear();
                ctx.postDetail3.clear();
                log("INFO", address + " Attempt", std::to_string(attempt));
                ctx.postXmlBody = PostBody(ctx, option);
                log("INFO", "XML String", ctx.postXmlBody);

                platform::PostXmlStringCall call;
                call.url = address;
                if (ctx.webPostEncryptFlag == "1") {
                    const bool hadBody = !ctx.postXmlBody.empty();
                    ctx.postXmlBody = fncXMLEncrypt(ctx, ctx.postXmlBody, deadline.Left());
                    // The encryptor logged its own failure and gave no text: an encryption
                    // failure ends the post, rather than sending an empty body as encrypted.
                    if (hadBody && ctx.postXmlBody.empty()) {
                        throw common::Failure(common::kInvalidCall,
                                              common::RuntimeErrorText(common::kInvalidCall));
                    }
                    call.url += "&ec=256";
                }
                call.body = ctx.postXmlBody;
                std::string errorText;
                const platform::LONG hr =
                    components.PostXMLString(webPost.get(), kWebPostMethod, &call, &errorText,
                                             run::StepBound(ctx, deadline, kWebPostTryMs));
                if (hr < 0) throw run::ComFailure(ctx, hr, errorText);
                ctx.postXmlBody = call.body;
                ctx.postReturnValue = call.returnValue;
                ctx.postDetail1 = call.detail1;
                ctx.postDetail2 = call.detail2;
                ctx.postDetail3 = call.detail3;

                log("INFO", "Return Value ", ctx.postReturnValue);
                const std::string answer = common::Trim(ctx.postReturnValue);
                if (answer == "1") {
                    log("INFO", "Webpost Successful with Return Value", ctx.postReturnValue);
                    return true;
                }
                if (answer == "0") {
                    log("INFO", "Webpost Successful with Return Value.", ctx.postReturnValue);
                    return true;
                }
                log("ERROR", "Webpost failed to " + address, ctx.postDetail1, ctx.postDetail2,
                    ctx.postDetail3);
            }
        }
        log("INFO", "Webpost URL .", address);
        return false;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        webPost.reset();
        log("ERROR", "fncRebootSupressionWebPost.", failure.number, failure.description,
            failure.lastError);
        return false;
    }
}

}  // namespace web
