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

struct HttpResponse {
    long status = 0;   // HTTP status code
    std::string body;  // the response text as received
};

class Http {
public:
    virtual ~Http() = default;

    // POSTs body to url with the given headers and waits for the answer (within the
    // implementation's time-out). False when no answer came (refused connection, bad address,
    // time-out): *errorNumber and *errorText then say why, in the platform's terms (an HRESULT or
    // system error number and its text).
    virtual bool Post(const std::string& url,
                      const std::vector<std::pair<std::string, std::string>>& headers,
                      const std::string& body, HttpResponse* response, long* errorNumber,
                      std::string* errorText) = 0;
};

}  // namespace platform
