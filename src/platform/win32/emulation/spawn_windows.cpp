// Programs that the emulated host starts in its Windows build (the Windows test binary): Windows
// processes created and waited for.
#include "platform/emulated/spawn.h"
#include "platform/win32/windows_include.h"

namespace platform::emulated {

namespace {

std::string Quote(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        quoted.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        quoted += c;
    }
    quoted.append(slashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

}  // namespace

std::unique_ptr<StartedProgram> StartedProgram::Start(const SpawnRequest& request, DWORD* error) {
    std::string commandLine = Quote(request.program.string());
    for (const auto& argument : request.arguments) {
        commandLine.push_back(' ');
        commandLine.append(Quote(argument));
    }
    ::SetEnvironmentVariableA("REBOOTSCHEDULER_MACHINE", request.machineFolder.string().c_str());
    for (const auto& [name, value] : request.environment) {
        ::SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information{};
    const std::string folder = request.workingFolder.string();
    const BOOL ok = ::CreateProcessA(
        request.program.string().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
        folder.empty() ? nullptr : folder.c_str(), &startup, &information);
    ::SetEnvironmentVariableA("REBOOTSCHEDULER_MACHINE", nullptr);
    for (const auto& entry : request.environment)
        ::SetEnvironmentVariableA(entry.first.c_str(), nullptr);
    if (!ok) {
        if (error) *error = ::GetLastError();
        return nullptr;
    }
    ::CloseHandle(information.hThread);
    std::unique_ptr<StartedProgram> program(new StartedProgram);
    program->id_ = information.dwProcessId;
    program->process_ = information.hProcess;
    return program;
}

StartedProgram::~StartedProgram() {
    if (process_) ::CloseHandle(static_cast<::HANDLE>(process_));
}

void StartedProgram::Terminate(unsigned exitCode) {
    if (ended_) return;
    ::TerminateProcess(static_cast<::HANDLE>(process_), exitCode);
    Wait(0xFFFFFFFFu);
}

bool StartedProgram::Wait(DWORD milliseconds) {
    if (ended_) return true;
    if (::WaitForSingleObject(static_cast<::HANDLE>(process_), milliseconds) != WAIT_OBJECT_0) {
        return false;
    }
    ::DWORD code = 0;
    ::GetExitCodeProcess(static_cast<::HANDLE>(process_), &code);
    exitCode_ = code;
    ended_ = true;
    return true;
}

}  // namespace platform::emulated
