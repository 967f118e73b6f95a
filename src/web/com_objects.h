// The agent's COM objects as the web modules hold them, and the failures the runtime raises for
// calls on them, as the modules' traps log them.
#pragma once

#include <string>

#include "common/failure.h"
#include "platform/components.h"
#include "platform/types.h"
#include "run/run_context.h"

namespace web {

// Owns one object made by Components::CreateObject for the length of a procedure call.
class ComObjectOwner {
public:
    explicit ComObjectOwner(platform::Components& components) : components_(components) {}
    ~ComObjectOwner() { Release(); }
    ComObjectOwner(const ComObjectOwner&) = delete;
    ComObjectOwner& operator=(const ComObjectOwner&) = delete;

    platform::ComObject* out() { return &object_; }
    platform::ComObject get() const { return object_; }
    void Release() {
        if (object_) components_.ReleaseObject(object_);
        object_ = 0;
    }

private:
    platform::Components& components_;
    platform::ComObject object_ = 0;
};

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
