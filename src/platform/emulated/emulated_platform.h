// The emulated Windows host kept in a machine folder (see README, "The emulated machine folder").
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform::emulated {

// Opens the machine folder. Throws MachineError (machine.h) when the folder or one of its files
// cannot be used (missing folder, malformed registry/HKLM.reg or machine.ini).
// argumentText is what follows the program's name on its command line; exeName is the program's
// file name without folder and extension.
std::unique_ptr<Platform> MakeEmulatedPlatform(const std::filesystem::path& machineFolder,
                                               const std::string& argumentText,
                                               const std::string& exeName = "RebootScheduler");

}  // namespace platform::emulated
