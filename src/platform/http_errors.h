// The WinHTTP errors that a post can end with, and their system texts, shared by both hosts so
// that a failed post reads alike in either's log.
#pragma once

#include <string>

namespace platform {

inline constexpr long kWinHttpTimeout = 12002;
inline constexpr long kWinHttpInvalidUrl = 12005;
inline constexpr long kWinHttpUnrecognizedScheme = 12006;
inline constexpr long kWinHttpNameNotResolved = 12007;
inline constexpr long kWinHttpCannotConnect = 12029;
inline constexpr long kWinHttpConnectionError = 12030;
inline constexpr long kWinHttpInvalidServerResponse = 12152;
inline constexpr long kWinHttpSecureFailure = 12175;

// The English system text of a WinHTTP error (without a line end); empty for another number.
std::string WinHttpErrorText(long error);

}  // namespace platform
