// Program facts: what the runtime knows about the running program itself.
#pragma once

#include <string>

#include "platform/types.h"

namespace platform {

struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// What the creation of the instance mutex tells: an earlier instance runs when the mutex was
// opened as an existing one (ERROR_ALREADY_EXISTS), and also when the creation was refused with
// ERROR_ACCESS_DENIED: the mutex exists, made by an account (the system account the agent uses)
// whose object this caller may not open, as for an administrator's copy. Any other failure (the
// name taken by another kind of object) cannot tell of an instance.
inline bool InstanceMutexTellsOfEarlierInstance(bool made, DWORD error) {
    return made ? error == static_cast<DWORD>(kErrorAlreadyExists)
                : error == static_cast<DWORD>(kErrorAccessDenied);
}

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
