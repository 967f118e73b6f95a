// Functions of the system's own DLLs that are not KnownDLLs (VERSION, WTSAPI32, USERENV,
// WINHTTP). Windows looks for an imported DLL in the program's folder first, so whoever can write
// beside the program could have a DLL of that name run as the local system account. The program
// therefore imports only KnownDLLs and binds these few functions at their first use, from the
// system folder only.
#pragma once

#include "platform/win32/windows_include.h"

namespace platform::win32 {

// The system DLL `library` (a bare file name such as "winhttp.dll"), loaded once from the system
// folder and kept for the life of the process; nullptr with the loader's last error when it
// cannot be loaded.
HMODULE SystemLibrary(const char* library);

// How the process's DLL search was restricted at start-up.
enum class DllSearch {
    // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32): every library loaded by name, by
    // the program, COM, the shell, MSXML or WinHTTP, comes from the system folder.
    SystemFolderOnly,
    // SetDllDirectoryA(""), where the loader predates default directories (Windows 7 without its
    // loader update): the current folder leaves the search order; the program's own stays.
    CurrentFolderRemoved,
    // Neither call was taken.
    Unchanged,
};

// Restricts the process's DLL search; once, before anything is loaded by name (later calls
// give the first answer). SetDefaultDllDirectories is bound at run time from kernel32.
DllSearch RestrictDllSearch();

// The function `name` of the system DLL `library`; nullptr with the last error set when the DLL
// or the function is missing.
FARPROC SystemProcedure(const char* library, const char* name);

// The same, typed: SystemFunction<decltype(::WinHttpOpen)>("winhttp.dll", "WinHttpOpen").
// decltype names the declared function's type without importing it.
template <typename Function>
Function* SystemFunction(const char* library, const char* name) {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(SystemProcedure(library, name)));
}

}  // namespace platform::win32
