// The machine folder behind the emulated host: its facts (machine.ini), its drives, its registry
// hive and its journal. Shared by the emulated facets.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/emulated/reg_file.h"
#include "platform/types.h"

namespace platform::emulated {

class MachineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// machine.ini: sections of name=value lines, names compared without regard to case, order kept.
class MachineFacts {
public:
    static MachineFacts Parse(const std::string& text);
    std::optional<std::string> Get(const std::string& section, const std::string& name) const;
    std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;

private:
    struct Entry {
        std::string section;
        std::string name;
        std::string value;
    };
    std::vector<Entry> entries_;
};

class Machine {
public:
    explicit Machine(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }
    const MachineFacts& facts() const { return facts_; }

    // The host path of a Windows path: C:\A\b.ini is <machine>/drives/c/A/b.ini. Each existing
    // part is matched without regard to case; parts that do not exist yet keep their spelling.
    // A path without a drive is on drive C; a network path \\server\share\x is
    // <machine>/network/server/share/x.
    std::filesystem::path HostPath(const std::string& windowsPath) const;

    RegHive& hive() { return hive_; }
    // Writes the hive back to registry/HKLM.reg through a temporary file and a rename.
    bool SaveHive();

    // A 32-bit program on 64-bit Windows ([System] Wow64=1): its plain registry opens see the
    // 32-bit view.
    bool wow64() const { return wow64_; }

    void Journal(const std::string& line);

    // The running processes: [Processes] of machine.ini (pid=NAME.EXE, or pid=C:\path\NAME.EXE
    // to give the main module's path), then the running program itself.
    struct Process {
        DWORD id = 0;
        std::string exeFile;
        std::string modulePath;
    };
    std::vector<Process> processes;

    DWORD lastError = 0;

private:
    std::filesystem::path folder_;
    MachineFacts facts_;
    RegHive hive_;
    bool wow64_ = false;
};

}  // namespace platform::emulated
