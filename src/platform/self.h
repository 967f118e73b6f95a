// Program facts: what the runtime knows about the running program itself.
#pragma once

#include <string>
#include <utility>

#include "platform/types.h"

namespace platform {

struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// The instance mutex, shared by every instance of the program in whichever session it runs (the
// agent starts it as the local system account; an administrator may start it from a desktop).
inline constexpr char kInstanceMutexName[] = "Global\\RebootScheduler.Instance";

// What the previous-instance test found.
struct InstanceTest {
    // An earlier instance of the program runs: the process ends at once.
    bool earlierInstance = false;
    // Set when an object of the instance mutex's name is no instance of the program: one made
    // by another account than the local system account, the Administrators or this program's
    // own (its owner), or an object of another kind. It does not stop the run; the run reports
    // it once its log is open. What it says: "owner <account>", "owner unreadable, error <n>" or
    // "another kind of object, error <n>".
    std::string foreignObject;
};

// The owner of an existing object of the instance mutex's name, as far as the test could read it.
enum class MutexOwner { NotRead, Trusted, Foreign };

enum class InstanceVerdict { NoEarlierInstance, EarlierInstance, ForeignObject };

// What the creation of the instance mutex tells. Opened as an existing one (ERROR_ALREADY_EXISTS),
// or refused with ERROR_ACCESS_DENIED (the mutex exists and grants this caller less than full
// access, as the system account's grants an administrator's copy), the object is an earlier
// instance only when its owner is trusted: anybody may create an object of that name first, and
// one made by another account would otherwise end every run. ERROR_INVALID_HANDLE (the name
// taken by an object of another kind) is never an instance. Any other failure cannot tell.
inline InstanceVerdict JudgeInstanceMutex(bool made, DWORD error, MutexOwner owner) {
    const bool exists = made ? error == static_cast<DWORD>(kErrorAlreadyExists)
                             : error == static_cast<DWORD>(kErrorAccessDenied);
    if (exists) {
        return owner == MutexOwner::Trusted ? InstanceVerdict::EarlierInstance
                                            : InstanceVerdict::ForeignObject;
    }
    if (!made && error == static_cast<DWORD>(kErrorInvalidHandle))
        return InstanceVerdict::ForeignObject;
    return InstanceVerdict::NoEarlierInstance;
}

// The test's answer for a verdict; `found` tells what holds the name of a foreign object.
inline InstanceTest InstanceTestOf(InstanceVerdict verdict, std::string found) {
    return {verdict == InstanceVerdict::EarlierInstance,
            verdict == InstanceVerdict::ForeignObject ? std::move(found) : std::string()};
}

class Self {
public:
    virtual ~Self() = default;

    // The executable file name without folder and extension, as the process runtime reports it.
    virtual std::string ExeName() = 0;
    virtual ProgramVersion Version() = 0;
    // Everything of the command line after the program's own name.
    virtual std::string ArgumentText() = 0;
    // Whether an earlier instance of this same program is still running. The first call takes
    // the instance token (a named mutex on Windows) and keeps it until the process ends; later
    // calls give the same answer.
    virtual InstanceTest PreviousInstanceRunning() = 0;
};

}  // namespace platform
