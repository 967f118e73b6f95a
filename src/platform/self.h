// Program facts: what the runtime knows about the running program itself.
#pragma once

#include <string>

namespace platform {

struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

class Self {
public:
    virtual ~Self() = default;

    // The executable file name without folder and extension, as the process runtime reports it.
    virtual std::string ExeName() = 0;
    virtual ProgramVersion Version() = 0;
    // Everything of the command line after the program's own name.
    virtual std::string ArgumentText() = 0;
    // True when an earlier instance of this same program is still running. The first call takes
    // the instance token (a named mutex on Windows) and keeps it until the process ends.
    virtual bool PreviousInstanceRunning() = 0;
};

}  // namespace platform
