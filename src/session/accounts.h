// The program's account and the machine's processes around the launch of the prompt program.
#pragma once

#include <string>

#include "platform/types.h"
#include "run/run_context.h"

namespace session {

// The name of the account the program runs under, or the empty text.
std::string fncGetLoggedOnUserName(run::RunContext& ctx);

}  // namespace session
