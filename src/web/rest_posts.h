// The REST posts of the Windows 10 work: the audit record and the error records, each sent as
// one JSON array to the agent's REST service "wprestapi". Fire-and-forget: nothing is returned
// and no failure reaches the caller.
#pragma once

#include <string>

#include "run/run_context.h"

namespace web {

inline constexpr const char* kRestService = "wprestapi";

// errorLogJson to "v1/PthErrorLog/".
void fncWin10ErrorWebPost(run::RunContext& ctx);
// auditJson to "v1/Win10Audit/"; the body sent is kept in auditPostBody.
void fncWin10AudWebPost(run::RunContext& ctx);

// Whether the service's answer counts as stored records: upper-cased, it orders after "0" by
// character code ("1", "12", "a", "[" do; "", "0", "-1" do not).
bool AnswerCountsAsSuccess(const std::string& answer);

}  // namespace web
