// Processes facet: the toolhelp process list and the end of the process.
#include <string>
#include <vector>

#include "platform/bounded_call.h"
#include "platform/win32/apartment_wait.h"
#include "platform/win32/com_support.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

class Win32Processes final : public Processes {
public:
    bool QueryOwnJob(bool* inJob, DWORD* limitFlags) override {
        BOOL in = FALSE;
        if (!::IsProcessInJob(::GetCurrentProcess(), nullptr, &in)) return false;
        *inJob = in != FALSE;
        *limitFlags = 0;
        if (!*inJob) return true;
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        if (!::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                         sizeof limits, nullptr)) {
            return false;
        }
        *limitFlags = limits.BasicLimitInformation.LimitFlags;
        return true;
    }

    bool SnapshotProcesses(std::vector<ProcessEntry>* entries) override {
        entries->clear();
        // A failed snapshot is INVALID_HANDLE_VALUE, which the owner treats as empty.
        UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) return false;
        // The ANSI entry: szExeFile in the active code page, as the program's other texts.
        PROCESSENTRY32 entry{};
        static_assert(sizeof(entry.szExeFile[0]) == 1, "ANSI PROCESSENTRY32 expected");
        entry.dwSize = sizeof(entry);
        if (!::Process32First(snapshot.get(), &entry)) return false;
        do {
            entries->push_back({entry.th32ProcessID, std::string(entry.szExeFile)});
        } while (::Process32Next(snapshot.get(), &entry));
        // The walk ends with ERROR_NO_MORE_FILES; anything else broke it off.
        return ::GetLastError() == ERROR_NO_MORE_FILES;
    }

    HANDLE OpenProcess(DWORD access, bool inheritHandle, DWORD processId) override {
        return reinterpret_cast<HANDLE>(
            ::OpenProcess(access, inheritHandle ? TRUE : FALSE, processId));
    }
    bool EnumProcessModules(HANDLE process, DWORD* bytesNeeded) override {
        HMODULE module = nullptr;
        ::DWORD needed = 0;
        const BOOL ok =
            ::K32EnumProcessModules(reinterpret_cast<::HANDLE>(process), &module, 0, &needed);
        if (bytesNeeded) *bytesNeeded = needed;
        return ok != FALSE;
    }
    DWORD GetModuleFileNameExA(HANDLE process, char* buffer, DWORD size) override {
        return ::K32GetModuleFileNameExA(reinterpret_cast<::HANDLE>(process), nullptr, buffer,
                                         size);
    }
    bool QueryFullProcessImageNameA(HANDLE process, char* buffer, DWORD* size) override {
        ::DWORD count = size ? *size : 0;
        const BOOL ok =
            ::QueryFullProcessImageNameA(reinterpret_cast<::HANDLE>(process), 0, buffer, &count);
        if (ok && size) *size = count;
        return ok != FALSE;
    }
    bool TerminateProcess(HANDLE process, unsigned exitCode) override {
        return ::TerminateProcess(reinterpret_cast<::HANDLE>(process), exitCode) != FALSE;
    }
    bool CloseHandle(HANDLE handle) override {
        return ::CloseHandle(reinterpret_cast<::HANDLE>(handle)) != FALSE;
    }

    bool ShellExecuteExA(ShellExecuteInfo* info) override {
        // The shell's association handlers are COM objects: the thread is in a single-threaded
        // apartment for the call (a nested join when it is in one already), and leaves it
        // before any wait that follows.
        ComApartment apartment;
        SHELLEXECUTEINFOA record{};
#if defined(__i386__)
        static_assert(sizeof(record) == 60, "the 32-bit record is 60 bytes");
#endif
        record.cbSize = sizeof(record);
        record.fMask = info->fMask;
        record.hwnd = reinterpret_cast<HWND>(info->hwnd);
        record.lpVerb = info->lpVerb.empty() ? nullptr : info->lpVerb.c_str();
        record.lpFile = info->lpFile.c_str();
        record.lpParameters = info->lpParameters.c_str();
        record.lpDirectory = info->lpDirectory.empty() ? nullptr : info->lpDirectory.c_str();
        record.nShow = info->nShow;
        // SHELL32 is bound at its first use, not imported: loading it (and the shell libraries it
        // brings) costs every run a measurable part of its start, and most runs start nothing.
        auto* execute =
            SystemFunction<decltype(::ShellExecuteExA)>("shell32.dll", "ShellExecuteExA");
        if (!execute) return false;
        const BOOL ok = execute(&record);
        info->hProcess = reinterpret_cast<HANDLE>(record.hProcess);
        return ok != FALSE;
    }
    // A wait on a thread in a single-threaded apartment pumps its messages, so that a program
    // that sends to every top-level window, or calls back into the apartment, is not deadlocked
    // by it (the prompt's wait, the patch program's). Any other thread waits plainly.
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
        return WaitInApartment(reinterpret_cast<::HANDLE>(handle), milliseconds);
    }
    bool GetExitCodeProcess(HANDLE process, DWORD* exitCode) override {
        ::DWORD code = 0;
        const BOOL ok = ::GetExitCodeProcess(reinterpret_cast<::HANDLE>(process), &code);
        if (ok && exitCode) *exitCode = code;
        return ok != FALSE;
    }

    // A call given up at its bound has left its worker inside it, perhaps inside a library's
    // initialisation (the cipher library's DllMain, an in-process server's), which holds the
    // loader lock: ExitProcess waits for that lock and would never end, keeping the instance
    // mutex from every later run. TerminateProcess waits for nothing. The log is closed by then
    // (every line is written and closed on its own).
    [[noreturn]] void ExitProcess(unsigned exitCode) override {
        if (CallsAbandoned()) EndWithoutWaiting(exitCode);
        ::ExitProcess(exitCode);
    }
};

}  // namespace

std::unique_ptr<Processes> MakeWin32Processes() {
    return std::make_unique<Win32Processes>();
}

}  // namespace platform::win32
