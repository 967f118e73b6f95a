#include "run_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "flow/main_flow.h"
#include "platform/emulated/emulated_platform.h"
#include "platform/emulated/machine.h"
#include "run/end_of_run.h"

namespace testing_support {

namespace fs = std::filesystem;

TempMachine::TempMachine() {
    std::random_device random;
    folder_ = fs::temp_directory_path() /
              ("rs-machine-" + std::to_string(random()) + "-" + std::to_string(random()));
    fs::create_directories(folder_ / "registry");
    fs::create_directories(folder_ / "drives" / "c");
}

TempMachine::~TempMachine() {
    std::error_code error;
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(folder_, error);
}

void TempMachine::Registry(const std::string& body) {
    std::ofstream(folder_ / "registry" / "HKLM.reg", std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
        << body;
}

void TempMachine::Facts(const std::string& machineIni) {
    std::ofstream(folder_ / "machine.ini", std::ios::binary) << machineIni;
}

fs::path TempMachine::HostPath(const std::string& windowsPath) const {
    return platform::emulated::Machine(folder_).HostPath(windowsPath);
}

void TempMachine::File(const std::string& windowsPath, const std::string& content) {
    const fs::path path = HostPath(windowsPath);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string TempMachine::Read(const std::string& windowsPath) const {
    std::ifstream in(HostPath(windowsPath), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool TempMachine::Exists(const std::string& windowsPath) const {
    return fs::exists(HostPath(windowsPath));
}

extern "C" int EncryptData(char* buffer, std::int32_t length);

void InstallCipher(TempMachine& machine, const char* clearXml) {
    const fs::path library = machine.HostPath("C:\\Agent\\Cryptel.dll");
    fs::create_directories(library.parent_path());
    fs::copy_file(RS_CIPHER_LIBRARY, library, fs::copy_options::overwrite_existing);
    if (clearXml) {
        std::string content = clearXml;
        EncryptData(content.data(), static_cast<std::int32_t>(content.size()));
        machine.File("C:\\Agent\\Configuration\\wpConfig.xml", content);
    }
}

std::string AgentRegistry(const std::string& extraValues) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VERUZE]\r\n"
           "\"InstallationPath\"=\"C:\\\\Agent\"\r\n"
           "\"RegID\"=\"1001\"\r\n"
           "\"SiteID\"=\"20\"\r\n"
           "\"MemberID\"=\"30\"\r\n"
           "\"Type\"=\"TRLA\"\r\n" +
           extraValues + "\r\n";
}

std::vector<std::string> LogLines(const TempMachine& machine, const std::string& windowsPath) {
    std::vector<std::string> lines;
    if (!machine.Exists(windowsPath)) return lines;
    std::istringstream in(machine.Read(windowsPath));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("#Date: ", 0) == 0) line = "#Date:";
        if (!line.empty() && line[0] != '#') line = line.substr(line.find('\t') + 1);
        lines.push_back(line);
    }
    return lines;
}

ContextOn::ContextOn(const TempMachine& machine, platform::FaultPlan* plan) : machine_(machine) {
    platform_ = platform::emulated::MakeEmulatedPlatform(machine.folder(), "");
    if (plan) faulty_ = std::make_unique<platform::FaultInjectingPlatform>(*platform_, *plan);
    ctx_ = std::make_unique<run::RunContext>(faulty_ ? *faulty_ : *platform_);
    std::filesystem::create_directories(machine.HostPath(kAgentLog).parent_path());
    ctx_->logFilePath = kAgentLog;
    ctx_->installPath = "C:\\Agent\\";
}

ContextOn::~ContextOn() = default;

RunResult RunProgram(const TempMachine& machine, const std::string& argumentText,
                     platform::FaultPlan* plan) {
    RunResult result;
    try {
        auto host = platform::emulated::MakeEmulatedPlatform(machine.folder(), argumentText);
        std::unique_ptr<platform::Platform> faulty;
        platform::Platform* used = host.get();
        if (plan) {
            faulty = std::make_unique<platform::FaultInjectingPlatform>(*host, *plan);
            used = faulty.get();
        }
        run::RunContext ctx(*used);
        try {
            run::Main(ctx);
        } catch (const run::EndOfRun& end) {
            result.exitCode = end.exitCode();
        }
    } catch (const std::exception& e) {
        result.crashed = true;
        result.crash = e.what();
    }
    result.log = LogLines(machine, kAgentLog);
    return result;
}

}  // namespace testing_support
