// The prompt program's result files in the data folder, and the reboot state file beside them.
#pragma once

#include <string>

#include "run/run_context.h"

namespace reboot {

// The newest result file (prefix anywhere in the name, ".ini" at its end, both without regard to
// case) of folder; names rebootIniPath, creates it when missing and refreshes it from the newest
// file. Returns folder & file name, or folder & prefix & user name & ".ini" when there is none.
std::string ReadLatestBellhopFile(run::RunContext& ctx, const std::string& folder,
                                  const std::string& prefix);

}  // namespace reboot
