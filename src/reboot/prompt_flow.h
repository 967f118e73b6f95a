// The prompt flow of an RBT run: the pending reboot is recorded, the prompt program runs in the
// user's session (or in the system account), and its answer may restart the machine.
#pragma once

#include "run/run_context.h"

namespace reboot {

// Always 0; on the restart path it does not return (RebootSystem ends the process).
int CallRebootUI(run::RunContext& ctx);

}  // namespace reboot
