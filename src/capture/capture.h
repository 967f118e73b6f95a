// What the capture program reads of a machine: the registry keys, files and facts that replay
// every decision of both modes, read through the program's own platform facets, and every read
// that failed. Written out as a machine folder by capture_folder.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/emulated/reg_file.h"
#include "platform/platform.h"

namespace capture {

struct CapturedFile {
    std::string path;  // Windows path
    std::string bytes;
    std::uint64_t lastWriteTime = 0;  // FILETIME, UTC
};

// One line of machine.ini or capture.ini.
struct Fact {
    std::string section;
    std::string name;
    std::string value;
};

struct MachineCapture {
    platform::emulated::RegHive hive;
    std::vector<CapturedFile> files;
    std::vector<std::string> folders;  // Windows paths of folders that stand for a file
    std::vector<Fact> facts;           // machine.ini
    std::vector<Fact> notes;           // capture.ini: [Capture], [Programs]
    std::vector<Fact> failed;  // capture.ini [Failed]: what=absent | refused N | unresolved link N
                               // | failed N
    // Where the program keeps its files; a capture is never written below them.
    std::string installPath;  // with its trailing "\"
    std::string dataFolder;
};

// How a failed read is recorded: "absent" for a missing key, file, value or variable (errors 2, 3,
// 203), "refused 5" for access denied, "unresolved link 1921" for a link that cannot be followed
// (its target missing, off the drive, or links in a loop), "failed N" for any other error.
std::string FailureText(long error);

// Reads the machine through the platform. Never writes: every call is a query.
MachineCapture ReadMachine(platform::Platform& platform);

// The last `count` lines of a text (line ends kept).
std::string LastLines(const std::string& text, std::size_t count);

}  // namespace capture
