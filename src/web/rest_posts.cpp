#include "web/rest_posts.h"

#include "common/failure.h"
#include "common/text.h"
#include "log/activity_log.h"
#include "run/failures.h"
#include "web/service_endpoints.h"

namespace web {

using activity_log::WriteLogLine;

namespace {

constexpr const char* kForm = "ModWebPost";
constexpr int kAttempts = 3;
// 15 s to resolve the service's name, 15 s to connect, 30 s to send and 30 s for each part of
// the answer; all attempts of one post, the proxy's discovery included, within kRestPostTotalMs,
// each attempt's time-outs cut to what is left of it.
constexpr platform::HttpTimeouts kTimeouts{15000, 15000, 30000, 30000};
constexpr platform::DWORD kRestPostTotalMs = 60000;

struct PostKind {
    const char* module;
    const char* path;
    const char* successText;
    const char* failureText;
    bool isAudit;
};

constexpr PostKind kErrorPost{
    "fncWin10ErrorWebPost", "v1/PthErrorLog/",
    "Success, number of records updated : ", "Failed, number of records updated : ", false};
constexpr PostKind kAuditPost{"fncWin10AudWebPost", "v1/Win10Audit/",
                              "Win10AudWebPost Success, number of records updated : ",
                              "Win10AudWebPost Failed, number of records updated : ", true};

void Post(run::RunContext& ctx, const PostKind& kind) {
    std::string& records = kind.isAudit ? ctx.auditJson : ctx.errorLogJson;
    try {
        ctx.postPrimaryURL = fncGetServiceURL(ctx, kRestService, "");
        if (!kind.isAudit && common::Trim(ctx.errorLogJson).empty()) return;
        if (common::Trim(ctx.postPrimaryURL).empty()) {
            WriteLogLine(ctx, kForm, kind.module, "INFO", "wprestapi dns url not found.");
            return;
        }
        const std::string address = common::Trim(ctx.postPrimaryURL) + kind.path;
        if (!records.empty() && records.front() == ',') records.erase(0, 1);
        if (kind.isAudit ? records.empty() : common::Trim(records).empty()) return;

        const platform::Deadline deadline(ctx.platform.clock(), kRestPostTotalMs);
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            // An attempt with nothing left of the bound is not made.
            const platform::DWORD left = run::StepBound(ctx, deadline, kRestPostTotalMs);
            ctx.postReturnValue.clear();
            ctx.postDetail1.clear();
            ctx.postDetail2.clear();
            ctx.postDetail3.clear();
            WriteLogLine(ctx, kForm, kind.module, "INFO", "Webpost URL", address);
            const std::string body = "[" + records + "]";
            if (kind.isAudit) ctx.auditPostBody = body;
            platform::HttpResponse response;
            long errorNumber = 0;
            std::string errorText;
            if (!ctx.platform.http().Post(address, {{"Content-Type", "application/json"}}, body,
                                          platform::CutTo(kTimeouts, left), &response, &errorNumber,
                                          &errorText)) {
                // With the failed post's own system error, taken before the failure unwinds.
                throw common::Failure(errorNumber, errorText, {},
                                      ctx.platform.system().GetLastError());
            }
            if (AnswerCountsAsSuccess(response.body)) {
                WriteLogLine(ctx, kForm, kind.module, "INFO", kind.successText, response.body);
                return;
            }
            WriteLogLine(ctx, kForm, kind.module, "ERROR", kind.failureText, response.body);
        }
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, kForm, kind.module, "ERROR", std::string(kind.module) + ".",
                     failure.number, failure.description, failure.lastError);
    }
}

}  // namespace

bool AnswerCountsAsSuccess(const std::string& answer) {
    // std::string compares by unsigned character code, a longer text after its own beginning.
    return common::Upper(answer).compare("0") > 0;
}

void fncWin10ErrorWebPost(run::RunContext& ctx) {
    Post(ctx, kErrorPost);
}

void fncWin10AudWebPost(run::RunContext& ctx) {
    Post(ctx, kAuditPost);
}

}  // namespace web
