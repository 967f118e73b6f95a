#include "platform/win32/security_descriptor.h"

#include <string>

#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"

// clang-format off
#include <sddl.h>
// clang-format on

namespace platform::win32 {

SidBuffer WellKnownSid(::WELL_KNOWN_SID_TYPE type) {
    SidBuffer sid(SECURITY_MAX_SID_SIZE);
    ::DWORD size = static_cast<::DWORD>(sid.size());
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
    sid.resize(size);
    return sid;
}

SidBuffer ProcessTokenSid(::TOKEN_INFORMATION_CLASS which) {
    ::HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
    const UniqueKernelHandle token(raw);
    ::DWORD size = 0;
    ::GetTokenInformation(token.get(), which, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<::BYTE> information(size);
    if (!::GetTokenInformation(token.get(), which, information.data(), size, &size)) return {};
    // TOKEN_USER and TOKEN_OWNER both begin with the SID's address.
    ::PSID sid = which == TokenUser ? reinterpret_cast<::TOKEN_USER*>(information.data())->User.Sid
                                    : reinterpret_cast<::TOKEN_OWNER*>(information.data())->Owner;
    if (sid == nullptr || !::IsValidSid(sid)) return {};
    const auto* bytes = static_cast<const ::BYTE*>(sid);
    return SidBuffer(bytes, bytes + ::GetLengthSid(sid));
}

bool IsTrustedOwner(::PSID owner, const std::vector<SidBuffer>& ownAccounts) {
    if (owner == nullptr || !::IsValidSid(owner)) return false;
    if (::IsWellKnownSid(owner, WinLocalSystemSid) ||
        ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return true;
    for (const SidBuffer& own : ownAccounts) {
        if (!own.empty() && ::EqualSid(owner, const_cast<::BYTE*>(own.data()))) return true;
    }
    return false;
}

std::string SidText(::PSID sid) {
    char* text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidA(sid, &text)) return "?";
    const UniqueLocalMemory owned(text);
    return text;
}

SecurityDescriptor::SecurityDescriptor(SidBuffer owner, SidBuffer group, std::vector<Grant> grants,
                                       bool protectedDacl)
    : owner_(std::move(owner)), group_(std::move(group)), grants_(std::move(grants)) {
    ::DWORD aclSize = sizeof(::ACL);
    for (const Grant& grant : grants_) {
        if (grant.sid.empty()) {
            ::SetLastError(ERROR_INVALID_SID);
            return;
        }
        aclSize +=
            static_cast<::DWORD>(sizeof(::ACCESS_ALLOWED_ACE) - sizeof(::DWORD) + grant.sid.size());
    }
    acl_.resize(aclSize);
    auto* acl = reinterpret_cast<::ACL*>(acl_.data());
    if (!::InitializeAcl(acl, aclSize, ACL_REVISION)) return;
    for (Grant& grant : grants_) {
        if (!::AddAccessAllowedAceEx(acl, ACL_REVISION, grant.inheritance, grant.access,
                                     grant.sid.data())) {
            return;
        }
    }
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) return;
    if (!owner_.empty() && !::SetSecurityDescriptorOwner(&descriptor_, owner_.data(), FALSE))
        return;
    if (!group_.empty() && !::SetSecurityDescriptorGroup(&descriptor_, group_.data(), FALSE))
        return;
    if (!::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) return;
    if (protectedDacl &&
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return;
    }
    valid_ = ::IsValidSecurityDescriptor(&descriptor_) != FALSE;
}

bool CreateProtectedDirectory(const char* path, FolderDacl dacl) {
    // Each entry inherited by the files and folders made inside.
    constexpr ::DWORD kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    std::vector<SecurityDescriptor::Grant> grants{
        {WellKnownSid(WinBuiltinAdministratorsSid), FILE_ALL_ACCESS, kInherited}};
    if (dacl == FolderDacl::kOwnAccountAndAdministrators) {
        grants.push_back({ProcessTokenSid(TokenUser), FILE_ALL_ACCESS, kInherited});
    } else {
        grants.push_back({WellKnownSid(WinLocalSystemSid), FILE_ALL_ACCESS, kInherited});
        grants.push_back({WellKnownSid(WinBuiltinUsersSid),
                          FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kInherited});
    }
    SecurityDescriptor descriptor({}, {}, std::move(grants), true);
    if (!descriptor.get()) return false;
    ::SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    if (!::CreateDirectoryA(path, &attributes)) return false;
    // The DACL given at the creation is the folder's own; it is set once more as protected, so
    // that no later change of the folder above flows into it. The folder itself is opened, never
    // what a link put in its place would point to.
    const UniqueKernelHandle folder(::CreateFileA(
        path, WRITE_DAC | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    if (!folder) return false;
    const ::DWORD error =
        ::SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, descriptor.dacl(), nullptr);
    if (error != ERROR_SUCCESS) {
        ::SetLastError(error);
        return false;
    }
    return true;
}

}  // namespace platform::win32
