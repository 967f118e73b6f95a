#include "program_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace testing_support {

void InstallScript(TempMachine& machine, const std::string& windowsPath, const std::string& body) {
    machine.File(windowsPath, "#!/bin/sh\n" + body);
    std::filesystem::permissions(machine.HostPath(windowsPath), std::filesystem::perms::owner_all);
}

void InstallRecorder(TempMachine& machine, const std::string& windowsPath,
                     const std::string& extra) {
    InstallScript(machine, windowsPath,
                  "echo \"args=$# [$*] dir=$(basename \"$PWD\")\" >> \"$0.ran\"\n" + extra);
}

std::string Journal(const TempMachine& machine) {
    std::ifstream in(machine.folder() / "journal.log", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace testing_support
