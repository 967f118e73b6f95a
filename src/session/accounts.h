// The program's account and the machine's processes around the launch of the prompt program.
#pragma once

#include <string>

#include "platform/types.h"
#include "run/run_context.h"

namespace session {

// The process id of the interactive shell (EXPLORER.EXE, the last one listed), 0 when none runs.
platform::DWORD GetCurrentUserToken(run::RunContext& ctx);

// Ends every process whose executable file name equals name (without regard to case); returns
// the image path of the last one ended, or the empty text. Each process is opened only to query
// its image name, and opened to be ended only when the name matches; a name that cannot be a
// file name (blank, a bare number) ends nothing and opens no process.
std::string fncTerminateProcessByName(run::RunContext& ctx, const std::string& name);

// The name of the account the program runs under, or the empty text.
std::string fncGetLoggedOnUserName(run::RunContext& ctx);

// The name of the user logged on at the console (WTSGetActiveConsoleSessionId, then
// WTSQuerySessionInformationA), or the empty text when nobody is or it cannot be read.
std::string ConsoleUserName(run::RunContext& ctx);

}  // namespace session
