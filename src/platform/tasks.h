// Tasks facet: the Task Scheduler 2.0 service objects as the program uses them. Results are
// HRESULTs (S_OK, or the failing call's code such as ERROR_FILE_NOT_FOUND's HRESULT 0x80070002).
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// The bound of each Task Scheduler call (GetTask as a whole: the service object, Connect,
// GetFolder and GetTask; then each of the task's calls), which have no time-out of their own.
// A call past it fails with ERROR_TIMEOUT's HRESULT, and every later call of that task so at once.
inline constexpr DWORD kTaskSchedulerCallMs = 30000;

// Task states as IRegisteredTask::get_State reports them (TASK_STATE).
inline constexpr LONG kTaskStateUnknown = 0;
inline constexpr LONG kTaskStateDisabled = 1;
inline constexpr LONG kTaskStateQueued = 2;
inline constexpr LONG kTaskStateReady = 3;
inline constexpr LONG kTaskStateRunning = 4;

// IRegisteredTask: one registered task, released with the object.
class RegisteredTask {
public:
    virtual ~RegisteredTask() = default;

    virtual LONG get_State(LONG* state) = 0;
    // The task's own name, in the program's code page.
    virtual LONG get_Name(std::string* name) = 0;
    virtual LONG put_Enabled(bool enabled) = 0;
};

class Tasks {
public:
    virtual ~Tasks() = default;

    // A new service object (CLSID_TaskScheduler, ITaskService), Connect with all four arguments
    // empty (the local machine, the program's own identity), GetFolder(folderPath), then
    // ITaskFolder::GetTask(taskName). The service and folder objects are released before the
    // call returns. On failure *task stays empty and the failing step's HRESULT comes back.
    virtual LONG GetTask(const std::string& folderPath, const std::string& taskName,
                         std::unique_ptr<RegisteredTask>* task) = 0;
};

}  // namespace platform
