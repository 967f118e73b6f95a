#include "platform/emulated/emulated_programs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kZoneInternet = 3;  // URLZONE_INTERNET; 4 is URLZONE_UNTRUSTED

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string FileNameOf(const std::string& windowsPath) {
    const auto slash = windowsPath.find_last_of("\\/");
    return slash == std::string::npos ? windowsPath : windowsPath.substr(slash + 1);
}

std::string FolderOf(const std::string& windowsPath) {
    const auto slash = windowsPath.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : windowsPath.substr(0, slash);
}

}  // namespace

Machine::Process* StartProgram(Machine& machine, const std::string& windowsPath,
                               const std::string& commandLine, const std::string& workingFolder,
                               const std::string& account, DWORD* error) {
    const fs::path program = machine.HostPath(windowsPath);
    std::error_code code;
    if (!fs::exists(program, code)) {
        *error = kErrorFileNotFound;
        return nullptr;
    }
    if (fs::is_directory(program, code)) {
        *error = kErrorAccessDenied;
        return nullptr;
    }
    const std::string folder = workingFolder.empty() ? FolderOf(windowsPath) : workingFolder;
    const fs::path hostFolder = machine.HostPath(folder);
    if (!fs::is_directory(hostFolder, code)) {
        *error = kErrorDirectory;
        return nullptr;
    }
    SpawnRequest request;
    request.program = program;
    request.arguments = SplitCommandLine(commandLine);
    request.workingFolder = hostFolder;
    request.machineFolder = machine.folder();
    auto before = machine.DriveTimes();
    std::shared_ptr<StartedProgram> started = StartedProgram::Start(request, error);
    if (!started) return nullptr;
    machine.WatchProgramWrites(started, account, std::move(before));
    Machine::Process process;
    process.id = started->id();
    process.exeFile = FileNameOf(windowsPath);
    process.modulePath = windowsPath;
    process.account = account;
    process.program = std::move(started);
    machine.processes.push_back(std::move(process));
    return &machine.processes.back();
}

bool StillRunning(Machine::Process& process) {
    return !process.program || !process.program->Ended();
}

bool EmulatedShellExecuteEx(Machine& machine, const std::string& account, ShellExecuteInfo* info) {
    if (!info) {
        machine.lastError = kErrorInvalidParameter;
        return false;
    }
    info->hProcess = 0;
    if (!info->lpVerb.empty() && !EqualsNoCase(info->lpVerb, "open")) {
        machine.lastError = kErrorNoAssociation;
        return false;
    }
    DWORD error = 0;
    Machine::Process* process = nullptr;
    const auto zone = machine.facts().Get("ZoneMarks", info->lpFile);
    const bool zonePrompt = zone && std::strtoul(zone->c_str(), nullptr, 10) >= kZoneInternet &&
                            !(info->fMask & kSeeMaskNoZoneChecks);
    if (machine.facts().Get("BlockedPrograms", info->lpFile).value_or("0") == "1") {
        error = kErrorAccessDisabledByPolicy;
    } else if (!zonePrompt) {
        process = StartProgram(machine, info->lpFile, info->lpParameters, info->lpDirectory,
                               account, &error);
        // Started in session 0, the child stays in the program's job.
        if (process)
            process->inJob = machine.JobFact("InJob") && !machine.JobFact("SilentBreakawayOk");
    }
    const bool dialog = zonePrompt || (!process && !(info->fMask & kSeeMaskFlagNoUi));
    machine.Journal(
        "ShellExecuteEx verb=" + info->lpVerb + " file=" + info->lpFile + " parameters=\"" +
        info->lpParameters + "\" show=" + std::to_string(info->nShow) + " account=" + account +
        (process      ? " pid=" + std::to_string(process->id)
         : zonePrompt ? std::string(" zone prompt")
                      : " failed error=" + std::to_string(error)) +
        " mask=" + Hex(info->fMask) + (dialog ? " (waits for an answer nobody can give)" : ""));
    if (dialog) {
        // The error dialog or the security prompt on a desktop nobody sees: the call never
        // returns, as on Windows in session 0.
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (!process) {
        machine.lastError = error;
        return false;
    }
    if (info->fMask & kSeeMaskNoCloseProcess) {
        Machine::Object object;
        object.kind = Machine::Object::Kind::Process;
        object.processId = process->id;
        info->hProcess = machine.NewHandle(object);
    }
    return true;
}

DWORD EmulatedWaitForSingleObject(Machine& machine, HANDLE handle, DWORD milliseconds) {
    Machine::Object* object = machine.Find(handle, Machine::Object::Kind::Process);
    if (!object) return kWaitFailed;
    // A wait needs SYNCHRONIZE on the handle, as any wait on a kernel object does.
    constexpr DWORD kSynchronize = 0x00100000;
    if (!(object->access & kSynchronize)) {
        machine.lastError = kErrorAccessDenied;
        return kWaitFailed;
    }
    Machine::Process* process = machine.FindProcess(object->processId);
    if (!process) return kWaitObject0;  // gone from the list: it has ended
    if (!process->program) {
        // A listed process is only a name: it never ends. An endless wait on it would hang the
        // run, so it is refused.
        if (milliseconds == kInfinite) {
            machine.lastError = kErrorInvalidParameter;
            return kWaitFailed;
        }
        return kWaitTimeout;
    }
    const DWORD limit = machine.CutWait(milliseconds);
    if (process->program->Wait(limit)) return kWaitObject0;
    machine.Journal("WaitForSingleObject pid=" + std::to_string(process->id) + " timed out after " +
                    std::to_string(limit) + " ms (asked " + std::to_string(milliseconds) + " ms)");
    return kWaitTimeout;
}

bool EmulatedGetExitCodeProcess(Machine& machine, HANDLE handle, DWORD* exitCode) {
    Machine::Object* object = machine.Find(handle, Machine::Object::Kind::Process);
    if (!object || !exitCode) {
        if (object) machine.lastError = kErrorInvalidParameter;
        return false;
    }
    Machine::Process* process = machine.FindProcess(object->processId);
    if (!process || !process->program) {
        *exitCode = kStillActive;
        return true;
    }
    *exitCode = process->program->Ended() ? process->program->exitCode() : kStillActive;
    return true;
}

}  // namespace platform::emulated
