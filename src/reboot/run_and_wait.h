// Starting a program through the shell under the program's own account and waiting for it.
#pragma once

#include <string>

#include "run/run_context.h"

namespace reboot {

// Starts programPath with parameters (passed as they are, leading space and all) when a plain
// file lists at that path, and waits without limit until it has ended. True when the wait ended
// normally; errorNumber then empty, otherwise the wait's result or the failure's number as signed
// decimal. The program's exit code is not looked at.
bool ShellAndWait(run::RunContext& ctx, const std::string& programPath,
                  const std::string& parameters, std::string& errorNumber,
                  std::string& errorDescription);

}  // namespace reboot
