// The host of a Windows build: the real Win32 implementation of every facet.
#include "platform/host_platform.h"

#include "platform/win32/win32_platform.h"

namespace platform {

std::unique_ptr<Platform> MakeHostPlatform(int /*argc*/, char** /*argv*/) {
    return win32::MakeWin32Platform();
}

}  // namespace platform
