// Processes facet: the process list (toolhelp snapshot), starting a program through the shell,
// waiting for a process and the end of the process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

struct ProcessEntry {
    DWORD processId = 0;
    std::string exeFile;  // szExeFile: the executable file name, such as EXPLORER.EXE
};

// SHELLEXECUTEINFOA as the program fills it; the fields it leaves zero are not carried, nor the
// record's size, which each implementation gives as its own.
struct ShellExecuteInfo {
    DWORD fMask = 0;
    std::uintptr_t hwnd = 0;
    std::string lpVerb;
    std::string lpFile;
    std::string lpParameters;
    std::string lpDirectory;  // empty: none
    int nShow = 0;
    HANDLE hProcess = 0;  // out: with SEE_MASK_NOCLOSEPROCESS, the started process
};

inline constexpr DWORD kSeeMaskNoCloseProcess = 0x40;
inline constexpr DWORD kSeeMaskNoAsync = 0x100;            // return only once the start is done
inline constexpr DWORD kSeeMaskFlagNoUi = 0x400;           // no error dialog: fail with the error
inline constexpr DWORD kSeeMaskNoZoneChecks = 0x00800000;  // no download-zone security prompt
inline constexpr int kSwShowNormal = 1;
inline constexpr DWORD kProcessTerminate = 0x0001;
inline constexpr DWORD kProcessQueryLimitedInformation = 0x1000;
inline constexpr DWORD kProcessAllAccess = 0x1F0FFF;
inline constexpr DWORD kInfinite = 0xFFFFFFFFu;
inline constexpr DWORD kWaitObject0 = 0;
inline constexpr DWORD kWaitTimeout = 258;
inline constexpr DWORD kWaitFailed = 0xFFFFFFFFu;
inline constexpr DWORD kStillActive = 259;
inline constexpr DWORD kJobLimitBreakawayOk = 0x00000800;
inline constexpr DWORD kJobLimitSilentBreakawayOk = 0x00001000;
inline constexpr DWORD kJobLimitKillOnJobClose = 0x00002000;

class Processes {
public:
    virtual ~Processes() = default;

    // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) walked with Process32First / Process32Next.
    virtual bool SnapshotProcesses(std::vector<ProcessEntry>* entries) = 0;
    // IsProcessInJob(GetCurrentProcess(), NULL) and, inside a job, QueryInformationJobObject(NULL,
    // JobObjectExtendedLimitInformation): whether this process runs in a job object and the
    // job's limit flags (JOB_OBJECT_LIMIT_*; 0 outside a job). False with the last error.
    virtual bool QueryOwnJob(bool* inJob, DWORD* limitFlags) = 0;
    // OpenProcess: 0 with the last error when the process cannot be opened.
    virtual HANDLE OpenProcess(DWORD access, bool inheritHandle, DWORD processId) = 0;
    // EnumProcessModules with a one-entry array given as size 0: a probe of whether the
    // process's modules can be listed; *bytesNeeded tells what a full list would take.
    virtual bool EnumProcessModules(HANDLE process, DWORD* bytesNeeded) = 0;
    // GetModuleFileNameExA for the main module: the count of characters copied, 0 on failure.
    virtual DWORD GetModuleFileNameExA(HANDLE process, char* buffer, DWORD size) = 0;
    // QueryFullProcessImageNameA (flags 0: the Win32 path form): the image's full path with its
    // NUL into buffer, *size the buffer size in and the count without the NUL out. Needs only
    // PROCESS_QUERY_LIMITED_INFORMATION on the handle.
    virtual bool QueryFullProcessImageNameA(HANDLE process, char* buffer, DWORD* size) = 0;
    // TerminateProcess: the handle must carry PROCESS_TERMINATE.
    virtual bool TerminateProcess(HANDLE process, unsigned exitCode) = 0;
    virtual bool CloseHandle(HANDLE handle) = 0;
    // ShellExecuteExA: false with the last error when nothing was started (info->hProcess 0).
    // Without SEE_MASK_FLAG_NO_UI a failure shows an error dialog first, and a file carrying a
    // download-zone mark raises a security prompt unless SEE_MASK_NOZONECHECKS is set: in
    // session 0 nobody answers either, and the call does not return.
    virtual bool ShellExecuteExA(ShellExecuteInfo* info) = 0;
    // WaitForSingleObject: WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the last error.
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
    // GetExitCodeProcess: STILL_ACTIVE (259) while the process runs.
    virtual bool GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
    // ExitProcess: called once, by main, after the run has ended. When a call was given up at
    // its bound (CallsAbandoned), TerminateProcess(GetCurrentProcess(), exitCode) instead: its
    // worker may be inside a library's initialisation, which ExitProcess would wait for forever
    // while the instance mutex stays held.
    virtual void ExitProcess(unsigned exitCode) = 0;
};

}  // namespace platform
