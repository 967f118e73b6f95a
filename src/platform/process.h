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
    // ExitProcess: called once, by main, after the run has ended.
    virtual void ExitProcess(unsigned exitCode) = 0;
};

}  // namespace platform
