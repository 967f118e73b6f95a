// RsCapture OUT_FOLDER [--no-redact]: reads this machine as the program sees it and
// writes it out as a machine folder that the emulated host runs, redacted unless told otherwise.
// On the emulated host the machine read is the folder named by REBOOTSCHEDULER_MACHINE.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "capture/capture.h"
#include "capture/capture_folder.h"
#include "capture/redaction.h"
#include "platform/bounded_call.h"
#include "platform/host_platform.h"
#include "version.h"

namespace {

constexpr int kUsage = 2;
constexpr int kRefusedFolder = 3;     // OUT_FOLDER lies in the agent's folders, holds files, is
                                      // a link or is open to other accounts
constexpr int kWriteFailed = 4;       // a file of the capture could not be written
constexpr int kMachineUnusable = 64;  // emulated host only: no usable machine folder
constexpr int kInternalError = 70;

int Usage() {
    std::fprintf(stderr, "usage: RsCapture OUT_FOLDER [--no-redact]\n");
    return kUsage;
}

// Windows' build as the capture read it, for capture.ini.
std::string WindowsBuild(const capture::MachineCapture& machine) {
    for (const char* path : {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                             "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion"}) {
        auto& hive = const_cast<platform::emulated::RegHive&>(machine.hive);
        if (auto* key = hive.Find(path)) {
            if (auto* value = key->FindValue("CurrentBuild")) {
                return value->data.substr(0, value->data.find('\0'));
            }
        }
    }
    return {};
}

}  // namespace

static int Capture(int argc, char** argv) {
    if (argc < 2 || argc > 3) return Usage();
    const std::string out = argv[1];
    bool redact = true;
    if (argc == 3) {
        if (std::string(argv[2]) != "--no-redact") return Usage();
        redact = false;
    }
    if (out.empty() || out[0] == '-') return Usage();
    try {
        namespace fs = std::filesystem;
        std::error_code code;
        const fs::path folder = fs::absolute(out, code);
        if (code) return Usage();
        const std::string folderText = folder.string();
        // The machine folder of the emulated host is the machine itself: never written.
        if (const char* machine = std::getenv("REBOOTSCHEDULER_MACHINE");
            machine && *machine &&
            capture::InsideFolder(folderText, fs::absolute(machine).string())) {
            std::fprintf(stderr, "RsCapture: %s lies in the machine folder\n", folderText.c_str());
            return kRefusedFolder;
        }
        const std::unique_ptr<platform::Platform> host = platform::MakeHostPlatform(argc, argv);
        if (!host) return kMachineUnusable;
        // The folder is made (or taken, empty and closed to others) before anything is read, so
        // that nothing can be put into it while the machine is read; what is written below it is
        // made new, never through a link.
        // Windows names the folder in its own code page, as the facet takes it.
        std::string windowsFolder;
        if (platform::FilesNameTheComputer() &&
            !host->files().GetFullPathNameA(out.c_str(), &windowsFolder)) {
            return Usage();
        }
        const std::unique_ptr<capture::CaptureOutput> output =
            platform::FilesNameTheComputer() ? capture::FilesOutput(*host, windowsFolder)
                                             : capture::HostOutput(folder);
        std::string error;
        if (!output->Open(&error)) {
            std::fprintf(stderr, "RsCapture: %s\n", error.c_str());
            return kRefusedFolder;
        }
        capture::MachineCapture machine = capture::ReadMachine(*host);
        // An installation folder that is a drive root ("\\" for an empty "InstallationPath")
        // holds the whole drive: there only the agent's own folders below it are refused.
        std::vector<std::string> agentFolders;
        for (const std::string& folder : {machine.installPath, machine.dataFolder}) {
            const bool root = folder == "\\" || (folder.size() == 3 && folder.substr(1) == ":\\");
            if (!root) {
                agentFolders.push_back(folder);
                continue;
            }
            for (const char* below : {"BaseComponents\\", "Configuration\\"})
                agentFolders.push_back(folder + below);
        }
        for (const std::string& agentFolder : agentFolders) {
            if (capture::InsideFolder(folderText, agentFolder)) {
                std::fprintf(stderr, "RsCapture: %s lies in the agent's folder %s\n",
                             folderText.c_str(), agentFolder.c_str());
                output->Abandon();
                return kRefusedFolder;
            }
        }

        capture::Redaction redaction;
        if (redact) capture::RedactCapture(machine, redaction);
        machine.notes.insert(machine.notes.begin(),
                             {{"Capture", "Version", RS_VERSION_TEXT},
                              {"Capture", "WindowsBuild", WindowsBuild(machine)},
                              {"Capture", "Redaction", redact ? "pseudonyms" : "none"}});
        if (!capture::WriteCaptureFolder(machine, redact ? redaction.Manifest() : "", *output,
                                         &error)) {
            std::fprintf(stderr, "RsCapture: %s\n", error.c_str());
            return kWriteFailed;
        }
        std::printf("captured into %s (%zu files, %zu reads failed)\n", folderText.c_str(),
                    machine.files.size(), machine.failed.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "RsCapture: %s\n", e.what());
        return kInternalError;
    }
}

int main(int argc, char** argv) {
    const int code = Capture(argc, argv);
    // A call given up at its bound (the cipher library's, perhaps stuck in its initialisation,
    // which holds the loader's lock) would keep the end of the process waiting for ever.
    if (platform::CallsAbandoned()) platform::EndWithoutWaiting(static_cast<unsigned>(code));
    return code;
}
