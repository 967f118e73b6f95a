// Starting, waiting for and asking after the programs the emulated host really runs: the
// process facet's ShellExecuteExA, WaitForSingleObject and GetExitCodeProcess, and the program
// start shared with the session facet's CreateProcessAsUserA.
#pragma once

#include <string>

#include "platform/emulated/machine.h"
#include "platform/process.h"

namespace platform::emulated {

// Starts the executable at windowsPath with the arguments split from commandLine, in
// workingFolder (a Windows path; empty: the program's own folder), and lists it among the
// machine's processes, running as account (what it creates belongs to that account). Null with
// the Win32 error in *error when it cannot be started.
Machine::Process* StartProgram(Machine& machine, const std::string& windowsPath,
                               const std::string& commandLine, const std::string& workingFolder,
                               const std::string& account, DWORD* error);

bool EmulatedShellExecuteEx(Machine& machine, const std::string& account, ShellExecuteInfo* info);
DWORD EmulatedWaitForSingleObject(Machine& machine, HANDLE handle, DWORD milliseconds);
bool EmulatedGetExitCodeProcess(Machine& machine, HANDLE process, DWORD* exitCode);
// Whether a listed process still runs: a started program until it has ended, the others always.
bool StillRunning(Machine::Process& process);

}  // namespace platform::emulated
