// The restart of the machine, its event-log record, and the shutdown request.
#pragma once

#include <string>

#include "platform/power.h"
#include "platform/types.h"
#include "run/run_context.h"

namespace reboot {

// Records the reboot in the event log and the reboot state file, asks Windows for an immediate
// forced restart and ends the process: RunEnd::RebootRequested when the request was accepted;
// RunEnd::RestartNotAnswered, with the marks kept as for an accepted one, when it was not
// answered within its bound (it may still be carried out); otherwise the reboot state file is
// put back as it was before and the end is RunEnd::RestartRefused.
[[noreturn]] void RebootSystem(run::RunContext& ctx);

// One record (information unless told) with the message in the event log "MSP@VORN"; a failure
// is only logged.
void subRegisterRebootEvent(run::RunContext& ctx, const std::string& message,
                            std::uint16_t type = platform::kEventlogInformationType);

// Asks Windows to shut this machine down (the machine name is not used). Does nothing and
// returns false unless proceed is true. True when the request was accepted and the shutdown
// privilege was switched off again. *accepted tells whether the request was accepted, whatever
// became of the privilege afterwards: also when a shutdown was already in progress
// (ERROR_SHUTDOWN_IN_PROGRESS). A shutdown scheduled for later (ERROR_SHUTDOWN_IS_SCHEDULED)
// is a refusal: it may be a power-off, far off, or cancelled, and is not this restart.
// *unanswered tells that the request was given up at its bound (platform::kPowerCallMs): no
// answer is no refusal, the system may still restart the machine.
bool InitiateShutdownMachine(run::RunContext& ctx, const std::string& machineName,
                             bool forceAppsClosed = false, bool rebootAfterShutdown = true,
                             bool proceed = false, platform::DWORD timeoutSeconds = 0,
                             const std::string& comment = {}, bool* accepted = nullptr,
                             bool* unanswered = nullptr);

}  // namespace reboot
