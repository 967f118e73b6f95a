// The host of a Windows build: the real Win32 implementation of every facet.
#include "platform/host_platform.h"

#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

namespace platform {

std::unique_ptr<Platform> MakeHostPlatform(int /*argc*/, char** /*argv*/) {
    // First of all, before COM, the shell, MSXML or WinHTTP load anything by name: a DLL of such
    // a name beside the program (a folder others may write) would otherwise run as SYSTEM.
    win32::RestrictDllSearch();
    return win32::MakeWin32Platform();
}

bool FilesNameTheComputer() {
    return true;
}

}  // namespace platform
