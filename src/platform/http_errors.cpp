#include "platform/http_errors.h"

namespace platform {

std::string WinHttpErrorText(long error) {
    switch (error) {
        case kWinHttpTimeout:
            return "The operation timed out";
        case kWinHttpInvalidUrl:
            return "The URL is invalid";
        case kWinHttpUnrecognizedScheme:
            return "The URL does not use a recognized protocol";
        case kWinHttpNameNotResolved:
            return "The server name or address could not be resolved";
        case kWinHttpCannotConnect:
            return "A connection with the server could not be established";
        case kWinHttpConnectionError:
            return "The connection with the server was terminated abnormally";
        case kWinHttpInvalidServerResponse:
            return "The server returned an invalid or unrecognized response";
        case kWinHttpSecureFailure:
            return "A security error occurred";
        default:
            return {};
    }
}

}  // namespace platform
