// The assessment flow of an RBTASSESS run: when the machine has started since the patch agent's
// last assessment (or the reboot pending then has happened), the patch agent is started once to
// assess again.
#pragma once

#include "run/run_context.h"

namespace reboot {

// Always 0.
int CallRBTAssess(run::RunContext& ctx);

}  // namespace reboot
