// Start-up configuration: fills the run context once per run.
#pragma once

#include <string>

#include "run/run_context.h"

namespace run {

// Ends the process when the agent is not configured; returns normally on its own failures.
void InitializeEXE(RunContext& ctx);

// The per-machine data folder for an ALLUSERSPROFILE value and the installation folder.
std::string DataFolderFor(const std::string& allUsersProfile, const std::string& installPath);

}  // namespace run
