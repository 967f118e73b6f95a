// Processes facet: the process list (toolhelp snapshot) and the end of the process.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

struct ProcessEntry {
    DWORD processId = 0;
    std::string exeFile;  // szExeFile: the executable file name, such as EXPLORER.EXE
};

class Processes {
public:
    virtual ~Processes() = default;

    // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) walked with Process32First / Process32Next.
    virtual bool SnapshotProcesses(std::vector<ProcessEntry>* entries) = 0;
    // OpenProcess: 0 with the last error when the process cannot be opened.
    virtual HANDLE OpenProcess(DWORD access, bool inheritHandle, DWORD processId) = 0;
    // EnumProcessModules with a one-entry array given as size 0: a probe of whether the
    // process's modules can be listed; *bytesNeeded tells what a full list would take.
    virtual bool EnumProcessModules(HANDLE process, DWORD* bytesNeeded) = 0;
    // GetModuleFileNameExA for the main module: the count of characters copied, 0 on failure.
    virtual DWORD GetModuleFileNameExA(HANDLE process, char* buffer, DWORD size) = 0;
    virtual bool TerminateProcess(HANDLE process, unsigned exitCode) = 0;
    virtual bool CloseHandle(HANDLE handle) = 0;
    // ExitProcess: called once, by main, after the run has ended.
    virtual void ExitProcess(unsigned exitCode) = 0;
};

}  // namespace platform
