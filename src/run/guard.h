// The single-instance guard and the one normal end of a run.
#pragma once

#include "common/failure.h"
#include "run/run_context.h"

namespace run {

// True when at least two running processes carry the program's own name (this one and another).
bool AlreadyRunning(RunContext& ctx);

// Writes "END" and ends the process, ignoring every failure on the way.
[[noreturn]] void CloseAll(RunContext& ctx);

// A failure made of the thread's last system error: its number and the system's text for it.
common::Failure SystemFailure(RunContext& ctx);

// The system's last-error value that a trap logs for a caught failure, as decimal text: the one
// the failure carries when it was raised after a system call, else the thread's current one.
std::string TrapLastError(RunContext& ctx, const std::exception& e);

}  // namespace run
