// Two facts of the operating system read from fixed keys in the 64-bit view: Windows Update's
// reboot-required flag and the product name.
#pragma once

#include <string>

#include "run/run_context.h"

namespace registry {

bool fncRebootPending(run::RunContext& ctx);
std::string ReadOSInfo(run::RunContext& ctx, const std::string& valueName);

}  // namespace registry
