#pragma once

#include "platform/emulated/machine.h"
#include "platform/tasks.h"

namespace platform::emulated {

// The Task Scheduler over the machine's task store, the folder Tasks in the system folder
// (C:\Windows\system32\Tasks unless [System] SystemDirectory says otherwise). A task is its
// definition file there: \Microsoft\Windows\UpdateOrchestrator\Reboot is the file
// C:\Windows\system32\Tasks\Microsoft\Windows\UpdateOrchestrator\Reboot, task XML in UTF-16LE
// (with its byte-order mark) or UTF-8.
//
// - Enabled state: the <Enabled> element of the definition's <Settings>; false is state 1
//   (disabled). An enabled task reports the state given in machine.ini, [Tasks] <task path>=<n>
//   (so that queued, running, unknown and unlisted states can be set up), or else 3 (ready).
//   put_Enabled rewrites that element in the file, in its own encoding, and journals the change.
// - Windows keeps a task registered when its definition file is renamed; the emulation follows
//   the one rename the agent makes: while no file stands under the task's own name, the file
//   "<name>.bak" beside it is the task's definition.
// - [Tasks] Service=0 makes Connect fail as with the service disabled.
// The service runs as a 64-bit system service: WOW64 file-system redirection never applies.
class EmulatedTasks final : public Tasks {
public:
    explicit EmulatedTasks(Machine& machine) : machine_(machine) {}

    LONG GetTask(const std::string& folderPath, const std::string& taskName,
                 std::unique_ptr<RegisteredTask>* task) override;

private:
    Machine& machine_;
};

// The enabled state a task XML text gives (true when it has no <Enabled> setting), and the text
// with that setting made `enabled`. Exposed for the tests.
bool TaskXmlEnabled(const std::string& xml);
std::string TaskXmlWithEnabled(const std::string& xml, bool enabled);

}  // namespace platform::emulated
