#pragma once

#include "platform/emulated/machine.h"
#include "platform/http.h"

namespace platform::emulated {

// HTTP over libcurl, the one file of the emulated host that uses it. Failures are reported as
// the HRESULTs of the WinHTTP errors Windows gives for them (a refused connection is
// 0x80072EFD, "A connection with the server could not be established"), so that logs read
// alike on both hosts. Each post is journaled. Time-outs: the connect time-out (the name's
// resolution included) to connect, the send and receive time-outs together for the whole
// exchange. Proxies from the environment are not used: the posts go where they are addressed.
// The emulation's Windows build has no libcurl: every post fails with ERROR_CALL_NOT_IMPLEMENTED
// there (src/platform/win32/emulation/emulated_http_windows.cpp).
class EmulatedHttp final : public Http {
public:
    explicit EmulatedHttp(Machine& machine) : machine_(machine) {}

    bool Post(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& headers,
              const std::string& body, const HttpTimeouts& timeouts, HttpResponse* response,
              long* errorNumber, std::string* errorText) override;

private:
    Machine& machine_;
};

}  // namespace platform::emulated
