// Security descriptors the Win32 layer hands to the system: the process's COM access
// permissions and the instance mutex's rights, built from well-known SIDs (never from account
// names, which differ by the system's language).
#pragma once

#include <string>
#include <vector>

#include "platform/win32/windows_include.h"

namespace platform::win32 {

// A SID in a buffer of its own.
using SidBuffer = std::vector<::BYTE>;

// The well-known SID `type` of this machine; empty when the system cannot make it.
SidBuffer WellKnownSid(::WELL_KNOWN_SID_TYPE type);

// The process token's user (TokenUser) or default owner for new objects (TokenOwner); empty
// when the token cannot be read.
SidBuffer ProcessTokenSid(::TOKEN_INFORMATION_CLASS which);

// True for the local system account, the Administrators and, when given, either SID of
// `ownAccounts` (a copy run by the same account makes its objects with those owners).
bool IsTrustedOwner(::PSID owner, const std::vector<SidBuffer>& ownAccounts = {});

// A SID as its text (S-1-5-21-...); "?" when it cannot be converted. Never a name: looking a
// domain account up may wait on the network.
std::string SidText(::PSID sid);

// An absolute security descriptor with an owner, a group and a DACL of access-allowed entries,
// owning every buffer it points at. Invalid (get() null, the failing call's last error kept) when
// a SID is empty or the system refuses a part.
class SecurityDescriptor {
public:
    struct Grant {
        SidBuffer sid;
        ::DWORD access;
        ::DWORD inheritance = 0;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE
    };
    // An empty owner or group is left unset (the creator's token supplies it for a new object).
    // A protected DACL (SE_DACL_PROTECTED) takes nothing from the parent of the object it is set
    // on.
    SecurityDescriptor(SidBuffer owner, SidBuffer group, std::vector<Grant> grants,
                       bool protectedDacl = false);
    SecurityDescriptor(const SecurityDescriptor&) = delete;
    SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;

    ::PSECURITY_DESCRIPTOR get() { return valid_ ? &descriptor_ : nullptr; }
    ::PACL dacl() { return valid_ ? reinterpret_cast<::ACL*>(acl_.data()) : nullptr; }

private:
    SidBuffer owner_;
    SidBuffer group_;
    std::vector<Grant> grants_;
    std::vector<::BYTE> acl_;
    ::SECURITY_DESCRIPTOR descriptor_{};
    bool valid_ = false;
};

}  // namespace platform::win32
