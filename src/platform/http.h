// HTTP facet: one synchronous POST and its answer. Used for the agent's REST service, and by the
// emulated host's stand-in of the agent's web-post component.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/types.h"
#include "version.h"

namespace platform {

// The User-Agent of every request: the program and its version.
inline constexpr char kHttpUserAgent[] = "RebootScheduler/" RS_VERSION_TEXT;

// How long each step of a post may take, in milliseconds, as WinHttpSetTimeouts takes them (0:
// no limit): the caller's choice.
struct HttpTimeouts {
    int resolveMs = 0;
    int connectMs = 0;
    int sendMs = 0;
    int receiveMs = 0;
    // The whole post, the discovery of its proxy included (0: only the steps' own limits).
    int totalMs = 0;
};

// Each step's time-out, and the whole post's, cut to what is left of a bound that several posts
// share. Never 0, which would mean no limit: a bound with nothing left is not posted under.
constexpr HttpTimeouts CutTo(HttpTimeouts timeouts, DWORD leftMs) {
    const int left = leftMs > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(leftMs > 0 ? leftMs : 1);
    const auto cut = [left](int step) { return step > 0 && step < left ? step : left; };
    return {cut(timeouts.resolveMs), cut(timeouts.connectMs), cut(timeouts.sendMs),
            cut(timeouts.receiveMs), cut(timeouts.totalMs)};
}

struct HttpResponse {
    long status = 0;   // HTTP status code
    std::string body;  // the response text as received
};

class Http {
public:
    virtual ~Http() = default;

    // POSTs body to url with the given headers and waits for the answer within the time-outs.
    // False when no answer came (refused connection, bad address, time-out): *errorNumber and
    // *errorText then say why, in the platform's terms (an HRESULT or system error number and
    // its text).
    virtual bool Post(const std::string& url,
                      const std::vector<std::pair<std::string, std::string>>& headers,
                      const std::string& body, const HttpTimeouts& timeouts, HttpResponse* response,
                      long* errorNumber, std::string* errorText) = 0;
};

}  // namespace platform
