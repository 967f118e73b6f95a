#include "platform/win32/system_library.h"

#include <map>
#include <mutex>
#include <string>

namespace platform::win32 {
namespace {

// Windows 7 without its loader update (KB2533623) refuses the LOAD_LIBRARY_SEARCH_ flags with
// ERROR_INVALID_PARAMETER; there the DLL is named by its full path in the system folder, its own
// dependencies then found from that folder too.
HMODULE LoadFromSystemFolder(const char* library) {
    if (HMODULE module = ::LoadLibraryExA(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return module;
    if (::GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
    char folder[MAX_PATH] = {};
    const ::UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        if (length != 0) ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const std::string path = std::string(folder, length) + "\\" + library;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

DllSearch RestrictDllSearch() {
    static const DllSearch answer = [] {
        using SetDefaults = BOOL(WINAPI*)(::DWORD);
        const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
        const auto setDefaults = reinterpret_cast<SetDefaults>(reinterpret_cast<void*>(
            kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
        if (setDefaults && setDefaults(LOAD_LIBRARY_SEARCH_SYSTEM32))
            return DllSearch::SystemFolderOnly;
        if (::SetDllDirectoryA("")) return DllSearch::CurrentFolderRemoved;
        return DllSearch::Unchanged;
    }();
    return answer;
}

HMODULE SystemLibrary(const char* library) {
    static std::mutex guard;
    static std::map<std::string, HMODULE> loaded;
    const std::lock_guard<std::mutex> lock(guard);
    const auto found = loaded.find(library);
    if (found != loaded.end()) return found->second;
    // A failed load is tried again at the next use: the cause may have passed.
    HMODULE module = LoadFromSystemFolder(library);
    if (module) loaded.emplace(library, module);
    return module;
}

FARPROC SystemProcedure(const char* library, const char* name) {
    HMODULE module = SystemLibrary(library);
    if (!module) return nullptr;
    return ::GetProcAddress(module, name);
}

}  // namespace platform::win32
