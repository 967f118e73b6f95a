// The platform of the computer the program runs on, chosen by the build: the real Windows
// implementation in a Windows build (src/platform/win32/host_platform.cpp), the emulated host
// over a machine folder elsewhere (src/platform/emulated/host_platform.cpp).
#pragma once

#include <memory>

#include "platform/platform.h"

namespace platform {

// The platform for this run of the program, from its command line. Nothing, after one line on
// standard error, when the host cannot be used (the emulated host without a usable machine
// folder); the real Windows always can.
std::unique_ptr<Platform> MakeHostPlatform(int argc, char** argv);

// Whether the files facet of that platform is the computer's own file system, named by its own
// paths (the real Windows), rather than a machine folder's drives (the emulated host).
bool FilesNameTheComputer();

}  // namespace platform
