// Owners of what a facet hands out: one template over the facet's own close operation, so that no
// procedure leaves a handle, key, event source, environment block, COM object or WMI service
// open on a path that leaves early, and scoped guards for the two thread states the program
// switches (the WOW64 file-system redirection and impersonation), so that each is switched back
// on every path.
#pragma once

#include <utility>

#include "platform/components.h"
#include "platform/files.h"
#include "platform/power.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/session.h"
#include "platform/wmi.h"

namespace platform {

// Holds one value that Facet::*Close gives back; 0 (the value's empty state) is "nothing held"
// and is never closed. A predefined registry root is never owned.
template <typename Facet, typename Value, auto Close>
class FacetOwner {
public:
    explicit FacetOwner(Facet& facet, Value value = Value{}) : facet_(facet), value_(value) {}
    FacetOwner(const FacetOwner&) = delete;
    FacetOwner& operator=(const FacetOwner&) = delete;
    ~FacetOwner() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return value_ != Value{}; }
    // Where a facet writes the value it gives out; one held already is closed first.
    Value* put() {
        reset();
        return &value_;
    }
    // Gives up ownership without closing.
    Value release() { return std::exchange(value_, Value{}); }
    // Closes the value held, if any, and takes `value`.
    void reset(Value value = Value{}) {
        const Value old = std::exchange(value_, value);
        if (old != Value{}) (facet_.*Close)(old);
    }

private:
    Facet& facet_;
    Value value_;
};

// A process, thread or token handle.
using OwnedHandle = FacetOwner<Processes, HANDLE, &Processes::CloseHandle>;
// An open registry key.
using OwnedKey = FacetOwner<Registry, HKEY, &Registry::RegCloseKey>;
// A registered event source.
using OwnedEventSource = FacetOwner<Power, HANDLE, &Power::DeregisterEventSource>;
// An environment block made for a user's token.
using OwnedEnvironmentBlock =
    FacetOwner<Session, EnvironmentBlock, &Session::DestroyEnvironmentBlock>;
// An agent COM object made by Components::CreateObject.
using OwnedComObject = FacetOwner<Components, ComObject, &Components::ReleaseObject>;
// A bound WMI service.
using OwnedWmiService = FacetOwner<Wmi, WmiService, &Wmi::ReleaseService>;

// The WOW64 file-system redirection of the calling thread, switched off by SwitchOff and back
// by Restore or when the guard goes, whichever comes first.
class Wow64RedirectionOff {
public:
    explicit Wow64RedirectionOff(Files& files) : files_(files) {}
    Wow64RedirectionOff(const Wow64RedirectionOff&) = delete;
    Wow64RedirectionOff& operator=(const Wow64RedirectionOff&) = delete;
    ~Wow64RedirectionOff() { Restore(); }

    // Wow64DisableWow64FsRedirection: whether the redirection is now off (it fails on 32-bit
    // Windows, where there is none).
    bool SwitchOff() {
        off_ = files_.Wow64DisableWow64FsRedirection(&oldValue_) || off_;
        return off_;
    }
    // Wow64RevertWow64FsRedirection, when it was switched off.
    void Restore() {
        if (!off_) return;
        off_ = false;
        files_.Wow64RevertWow64FsRedirection(oldValue_);
    }

private:
    Files& files_;
    void* oldValue_ = nullptr;
    bool off_ = false;
};

// Impersonation of a user by the calling thread, ended by End or, when it is still in force,
// when the guard goes.
class Impersonation {
public:
    explicit Impersonation(Session& session) : session_(session) {}
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;
    ~Impersonation() {
        if (active_) session_.RevertToSelf();
    }

    // ImpersonateLoggedOnUser.
    void Begin(HANDLE token) { active_ = session_.ImpersonateLoggedOnUser(token) || active_; }
    // RevertToSelf, whether or not an impersonation is in force (it then changes nothing).
    void End() {
        session_.RevertToSelf();
        active_ = false;
    }

private:
    Session& session_;
    bool active_ = false;
};

}  // namespace platform
