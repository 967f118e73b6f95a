// The HTTP facet of the emulation's Windows build, which serves the contract tests only and has
// no libcurl: every post fails with ERROR_CALL_NOT_IMPLEMENTED.
#include "platform/emulated/emulated_http.h"
#include "platform/tasks.h"

namespace platform::emulated {

bool EmulatedHttp::Post(const std::string& /*url*/,
                        const std::vector<std::pair<std::string, std::string>>& /*headers*/,
                        const std::string& /*body*/, const HttpTimeouts& /*timeouts*/,
                        HttpResponse* /*response*/, long* errorNumber, std::string* errorText) {
    if (errorNumber) *errorNumber = HresultFromWin32(kErrorCallNotImplemented);
    if (errorText) *errorText = "This function is not supported on this system.";
    machine_.lastError = kErrorCallNotImplemented;
    return false;
}

}  // namespace platform::emulated
