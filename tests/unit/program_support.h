// Programs on an emulated machine for the tests of starting programs: scripts at Windows paths
// that the emulated host really runs, and the machine's journal.
#pragma once

#include <string>

#include "run_support.h"

namespace testing_support {

// A shell script at a Windows path of the machine, executable; body follows "#!/bin/sh".
void InstallScript(TempMachine& machine, const std::string& windowsPath, const std::string& body);

// A program that appends "args=<count> [<args>] dir=<name of its working folder>" to the file
// <its path>.ran (a host file beside it), then runs extra.
void InstallRecorder(TempMachine& machine, const std::string& windowsPath,
                     const std::string& extra = {});

// The journal of the machine, empty when nothing was journaled.
std::string Journal(const TempMachine& machine);

}  // namespace testing_support
