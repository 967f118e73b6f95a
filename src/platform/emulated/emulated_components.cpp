#include "platform/emulated/emulated_components.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace platform::emulated {

namespace {
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;
}  // namespace

bool EmulatedComponents::CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                                    std::int32_t length) {
#ifdef _WIN32
    // The Windows build of the emulation serves the contract tests only; it binds nothing.
    (void)libraryPath;
    (void)exportName;
    (void)buffer;
    (void)length;
    machine_.lastError = kErrorModNotFound;
    return false;
#else
    machine_.Journal(std::string("LoadLibrary ") + libraryPath);
    const std::string host = machine_.HostPath(libraryPath).string();
    void* library = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        machine_.lastError = kErrorModNotFound;
        return false;
    }
    using CipherFunction = int (*)(char*, std::int32_t);
    auto function = reinterpret_cast<CipherFunction>(::dlsym(library, exportName));
    if (!function) {
        ::dlclose(library);
        machine_.lastError = kErrorProcNotFound;
        return false;
    }
    function(buffer, length);
    ::dlclose(library);
    return true;
#endif
}

}  // namespace platform::emulated
