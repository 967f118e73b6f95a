// Programs that the emulated host really starts: the executables (scripts or binaries) kept at
// Windows paths in the machine folder, run as host processes and waited for (spawn_posix.cpp; in
// the emulation's Windows build src/platform/win32/emulation/spawn_windows.cpp).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/types.h"

namespace platform::emulated {

// A command-line text split into arguments as the Windows C runtime splits it: blanks separate
// arguments, double quotes group, a backslash escapes a quote. " RBT" is {"RBT"}; "" is {}.
std::vector<std::string> SplitCommandLine(const std::string& text);

struct SpawnRequest {
    std::filesystem::path program;        // host path of the executable
    std::vector<std::string> arguments;   // after the program's own name
    std::filesystem::path workingFolder;  // host path; empty: the host's own
    std::filesystem::path machineFolder;  // given as REBOOTSCHEDULER_MACHINE
    std::vector<std::pair<std::string, std::string>> environment;  // set on top of the host's
};

class StartedProgram {
public:
    // Starts the program; nothing and a Win32 error code (ERROR_FILE_NOT_FOUND,
    // ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT, ...) in *error when it cannot be started.
    static std::unique_ptr<StartedProgram> Start(const SpawnRequest& request, DWORD* error);

    // Closes the process handle where the host hands one out (Windows).
    ~StartedProgram();  // NOLINT(performance-trivially-destructible)
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    // The host's process id, which is also the id the emulated host gives the program.
    DWORD id() const { return id_; }
    // Waits up to milliseconds (0xFFFFFFFF: no limit); true once the program has ended.
    bool Wait(DWORD milliseconds);
    bool Ended() { return Wait(0); }
    // 259 (STILL_ACTIVE) while it runs; its exit code afterwards (128 + signal when a signal
    // ended it).
    DWORD exitCode() const { return exitCode_; }
    // Ends the program at once (TerminateProcess); it then has the given exit code.
    void Terminate(unsigned exitCode);

private:
    StartedProgram() = default;

    DWORD id_ = 0;
    DWORD exitCode_ = 259;
    bool ended_ = false;
    // The process handle, where the host hands one out (Windows); unused elsewhere.
    [[maybe_unused]] void* process_ = nullptr;
};

}  // namespace platform::emulated
