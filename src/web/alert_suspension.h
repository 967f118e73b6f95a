// The alert-suspension web post made before the program restarts a machine itself.
#pragma once

#include <string>

#include "run/run_context.h"

namespace web {

// Asks the agent's web service "wpacpmsusddappextended" to suspend device and service alerts;
// true when an attempt was answered with "1" or "0".
bool fncRebootSupressionWebPost(run::RunContext& ctx, const std::string& option);

}  // namespace web
