// Whole runs of the program in-process on a temporary machine folder.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fault_injection.h"
#include "run/run_context.h"

namespace testing_support {

// A machine folder in a fresh temporary directory, removed with the object.
class TempMachine {
public:
    TempMachine();
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    // registry/HKLM.reg from the lines after the header.
    void Registry(const std::string& body);
    void Facts(const std::string& machineIni);
    // A file at a Windows path on drive C (C:\A\b.txt).
    void File(const std::string& windowsPath, const std::string& content);
    std::filesystem::path HostPath(const std::string& windowsPath) const;
    std::string Read(const std::string& windowsPath) const;
    bool Exists(const std::string& windowsPath) const;

private:
    std::filesystem::path folder_;
};

// Puts the stand-in cipher library into C:\Agent and, unless clearXml is null, the agent's
// configuration enciphered with it.
void InstallCipher(TempMachine& machine, const char* clearXml = "<configuration/>");

// The registry body of an ordinary registered agent installed in C:\Agent.
std::string AgentRegistry(const std::string& extraValues = {});
inline constexpr const char* kAgentLog =
    "C:\\Agent\\BaseComponents\\PatchManagement\\ApplicationLog\\wppatchSch_1001_patchlog.log";

struct RunResult {
    int exitCode = -1;
    bool crashed = false;  // a failure escaped every trap
    std::string crash;
    std::vector<std::string> log;  // the log's lines without their date-time column
};

// The activity log of the machine as lines, the first column dropped from every record.
std::vector<std::string> LogLines(const TempMachine& machine, const std::string& windowsPath);

// A run context on an emulated machine for calling single procedures; its log goes to kAgentLog.
class ContextOn {
public:
    // With a plan, the procedures reach the machine through the fault-injecting platform.
    explicit ContextOn(const TempMachine& machine, platform::FaultPlan* plan = nullptr);
    ~ContextOn();
    run::RunContext& ctx() { return *ctx_; }
    std::vector<std::string> Log() const { return LogLines(machine_, kAgentLog); }

private:
    const TempMachine& machine_;
    std::unique_ptr<platform::Platform> platform_;
    std::unique_ptr<platform::Platform> faulty_;
    std::unique_ptr<run::RunContext> ctx_;
};

// The registry key whose presence marks a pending Windows Update reboot, as a .reg key line.
inline constexpr const char* kRebootRequiredKey =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto "
    "Update\\RebootRequired]\r\n";

RunResult RunProgram(const TempMachine& machine, const std::string& argumentText,
                     platform::FaultPlan* plan = nullptr);

}  // namespace testing_support
