// The entry procedure of a run.
#pragma once

#include <string>

#include "run/run_context.h"

namespace run {

// Runs the whole program once. Never returns normally: every path ends the process (EndOfRun).
[[noreturn]] void Main(RunContext& ctx);

// The mode word as the command line gives it: every double quote removed, spaces trimmed.
std::string CleanCommandArg(const std::string& argumentText);
// True when the upper-cased word occurs in the accepted list "RBT,RBTASSESS" (the empty word too).
bool IsAcceptedArgument(const std::string& commandArg);

}  // namespace run
