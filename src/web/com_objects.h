// The agent's COM objects as the web modules hold them, and the failures the runtime raises for
// calls on them, as the modules' traps log them.
#pragma once

#include <string>

#include "common/failure.h"
#include "platform/components.h"
#include "platform/types.h"
#include "run/run_context.h"

namespace web {

inline constexpr long kObjectNotSet = 91;  // "Object variable or With block variable not set"
inline constexpr long kCannotCreateObject = 429;  // "ActiveX component can't create object"
inline constexpr long kNoSuchMember = 438;  // "Object doesn't support this property or method"

// A missing object: a node without attributes, an attribute past the last one.
common::Failure ObjectNotSet();
// A class that cannot be created, whatever the HRESULT.
common::Failure CannotCreateObject();
// A failed call on an object: DISP_E_UNKNOWNNAME as 438; an error raised by the object in the
// runtime's own facility as its number; any other HRESULT in signed decimal with the object's
// description, or else the system's text for it, or "Automation error".
common::Failure AutomationFailure(run::RunContext& ctx, platform::LONG hr,
                                  const std::string& description);

}  // namespace web
