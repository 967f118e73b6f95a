#pragma once

#include "platform/emulated/machine.h"
#include "platform/http.h"

namespace platform::emulated {

// HTTP over libcurl, the one file of the emulated host that uses it. Failures are reported as
// the HRESULTs of the WinHTTP errors Windows gives for them (a refused connection is
// 0x80072EFD, "A connection with the server could not be established"), so that logs read
// alike on both hosts. Each post is journaled. Time-outs: 15 s to connect, 60 s for the whole
// exchange. Proxies from the environment are not used: the posts go where they are addressed.
// In a Windows build of the emulated host there is no libcurl: every post fails with
// ERROR_CALL_NOT_IMPLEMENTED.
class EmulatedHttp final : public Http {
public:
    explicit EmulatedHttp(Machine& machine) : machine_(machine) {}

    bool Post(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& headers,
              const std::string& body, HttpResponse* response, long* errorNumber,
              std::string* errorText) override;

private:
    Machine& machine_;
};

}  // namespace platform::emulated
