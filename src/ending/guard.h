// The single-instance guard and the one normal end of a run.
#pragma once

#include "common/failure.h"
#include "run/end_of_run.h"
#include "run/run_context.h"

namespace run {

// True when at least two running processes carry the program's own name (this one and another).
bool AlreadyRunning(RunContext& ctx);

// Writes "END" and ends the process, ignoring every failure on the way.
[[noreturn]] void CloseAll(RunContext& ctx, RunEnd end = RunEnd::Normal);

}  // namespace run
