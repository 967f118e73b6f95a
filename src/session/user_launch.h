// Starting a program in the console user's session, under that user's identity and on that
// user's desktop, from the system account.
#pragma once

#include <cstdint>
#include <string>

#include "run/run_context.h"

namespace session {

// Starts exePath with arguments as its command line (the text as it is, " RBT") in the console
// user's session: with the session's user token, or else with the token of the user's shell
// process. Waits up to 30 minutes for it. True when a user was found and a start was attempted in
// that user's session (also when the start itself failed); false when nobody is logged on or a
// failure was trapped.
bool fncExecuteInUserAccount(run::RunContext& ctx, const std::string& exePath,
                             const std::string& arguments);

// The error number, a hyphen and the system's one-line text for it; the number alone when the
// system has no text (or none that fits 200 characters).
std::string fncFormatMessage(run::RunContext& ctx, std::int32_t errorNumber);

}  // namespace session
