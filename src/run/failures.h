// How the program's procedures fail and trap failures: the system's texts for its numbers, the
// failures the runtime raises for system and COM calls, and what a trap writes of a caught one.
#pragma once

#include <exception>
#include <string>

#include "common/failure.h"
#include "platform/clock.h"
#include "platform/types.h"
#include "run/run_context.h"

namespace run {

// The system's message text for a number (FormatMessageA, size characters at most with the
// NUL), without its line end; empty when the system has none.
std::string SystemMessage(RunContext& ctx, platform::DWORD id, platform::DWORD size = 512);
std::string SystemMessage(platform::System& system, platform::DWORD id, platform::DWORD size = 512);

// A failure made of the thread's last system error: its number and the system's text for it.
common::Failure SystemFailure(RunContext& ctx);

inline constexpr long kObjectNotSet = 91;  // "Object variable or With block variable not set"
inline constexpr long kCannotCreateObject = 429;  // "ActiveX component can't create object"
inline constexpr long kNoSuchMember = 438;  // "Object doesn't support this property or method"

// A missing object: a node without attributes, an attribute past the last one, a task that
// was not found.
common::Failure ObjectNotSet();
// A class that cannot be created, whatever the HRESULT; but a creation that outlived its bound
// fails as any call past its bound does (the call's failure, kTimeoutHresult).
common::Failure CannotCreateObject();
common::Failure CannotCreateObject(RunContext& ctx, platform::LONG hr);
// A failed call on a COM object (the agent's components, the XML DOM, the Task Scheduler, WMI):
// DISP_E_UNKNOWNNAME as 438; an error raised by the object in the runtime's own facility as its
// number; any other HRESULT in signed decimal with the object's description, or else the
// system's text for it, or "Automation error".
common::Failure ComFailure(RunContext& ctx, platform::LONG hr, const std::string& description = {});

// The bound of one step of a procedure whose steps share a deadline: the step's own bound cut to
// what is left. Once the deadline has passed, the step fails as a call past its bound does.
platform::DWORD StepBound(RunContext& ctx, const platform::Deadline& deadline,
                          platform::DWORD stepMs);

// What every trap writes of the failure it caught, as text: its number, description and source,
// and the system's last error: the one the failure carries when it was raised right after a
// system call (throwing may itself change the thread's value), else the thread's value when the
// trap began. Taken first in the trap, before anything else calls the system.
struct Trapped {
    std::string number;
    std::string description;
    std::string source;
    std::string lastError;
    // The thread's own value when the trap began, whatever the failure carries: what the one
    // trap that does not follow the rule above logs (subRenameTaskFolderForRebootJob). On
    // Windows it can differ from lastError (unwinding may have reset it).
    std::string threadError;
};
Trapped Trap(RunContext& ctx, const std::exception& e);

}  // namespace run
