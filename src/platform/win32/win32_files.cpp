// Files facet: the ANSI file and folder functions, and the composite operations built on
// CreateFileA. Each composite owns its handles, so every early return closes them and keeps the
// failing call's last error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/bounded_call.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

// clang-format off
#include <lm.h>
// clang-format on

namespace platform::win32 {
namespace {

std::uint64_t Join(::DWORD high, ::DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// ReadFile and WriteFile count in DWORDs; larger texts go in pieces of this size.
constexpr std::size_t kMaxTransfer = 0x40000000;
constexpr std::size_t kReadPiece = 64 * 1024;

bool WriteAll(::HANDLE file, const std::string& bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const auto piece = static_cast<::DWORD>(std::min(bytes.size() - offset, kMaxTransfer));
        ::DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + offset, piece, &written, nullptr)) return false;
        if (written != piece) {
            // A synchronous write to a disk file that stores less than asked without failing
            // leaves no error of its own: report it as the device's write fault.
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        offset += piece;
    }
    return true;
}

// A SID in a buffer of its own.
struct SidBuffer {
    alignas(::DWORD)::BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
    ::PSID sid() { return bytes; }
};

bool WellKnown(::WELL_KNOWN_SID_TYPE type, SidBuffer* out) {
    ::DWORD size = sizeof out->bytes;
    return ::CreateWellKnownSid(type, nullptr, out->sid(), &size) != FALSE;
}

// NT SERVICE\TrustedInstaller: a service SID, S-1-5-80 and the hash of the service's name,
// the same on every Windows (there is no well-known type for it).
bool TrustedInstaller(SidBuffer* out) {
    static constexpr ::DWORD kParts[] = {80,          956008885u,  3418522649u,
                                         1831038044u, 1853292631u, 2271478464u};
    ::SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!::InitializeSid(out->sid(), &nt, static_cast<::BYTE>(std::size(kParts)))) return false;
    for (::DWORD i = 0; i < std::size(kParts); ++i)
        *::GetSidSubAuthority(out->sid(), i) = kParts[i];
    return true;
}

// The user of the process's own token.
bool OwnAccount(SidBuffer* out) {
    ::HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    const UniqueKernelHandle token(raw);
    alignas(::TOKEN_USER)::BYTE buffer[sizeof(::TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    ::DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return false;
    const auto* user = reinterpret_cast<const ::TOKEN_USER*>(buffer);
    return ::CopySid(sizeof out->bytes, out->sid(), user->User.Sid) != FALSE;
}

// LocalSystem, the Administrators, TrustedInstaller and the program's own account, made once
// per call (a few microseconds; the owner checks are few), and the Administrators' direct
// members, read once per run.
class TrustedAccounts {
public:
    explicit TrustedAccounts(const std::vector<std::vector<::BYTE>>& members) : members_(members) {
        ok_ = WellKnown(WinLocalSystemSid, &sids_[0]) &&
              WellKnown(WinBuiltinAdministratorsSid, &sids_[1]) && TrustedInstaller(&sids_[2]) &&
              OwnAccount(&sids_[3]) && WellKnown(WinCreatorOwnerSid, &owner_[0]) &&
              WellKnown(WinCreatorOwnerRightsSid, &owner_[1]);
    }
    bool ok() const { return ok_; }
    bool Trusted(::PSID sid) {
        return std::any_of(std::begin(sids_), std::end(sids_),
                           [sid](SidBuffer& known) { return ::EqualSid(sid, known.sid()); }) ||
               std::any_of(members_.begin(), members_.end(), [sid](const auto& member) {
                   return ::EqualSid(sid, const_cast<::BYTE*>(member.data())) != FALSE;
               });
    }
    // CREATOR OWNER and OWNER RIGHTS: what such an ACE grants goes to the owner.
    bool StandsForOwner(::PSID sid) {
        return std::any_of(std::begin(owner_), std::end(owner_),
                           [sid](SidBuffer& known) { return ::EqualSid(sid, known.sid()); });
    }

private:
    SidBuffer sids_[4];
    SidBuffer owner_[2];
    const std::vector<std::vector<::BYTE>>& members_;
    bool ok_ = false;
};

std::vector<::BYTE> SidBytes(::PSID sid) {
    if (sid == nullptr || !::IsValidSid(sid)) return {};
    const auto* bytes = static_cast<const ::BYTE*>(sid);
    return std::vector<::BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

// The direct members of the local Administrators group, as SIDs: NetLocalGroupGetMembers at
// level 0 names no member (no domain controller is asked), under the group's name on this
// system (its language's), looked up by the group's well-known SID. A Win32 or NERR error code;
// the members are then left empty.
struct Members {
    ::DWORD error = 0;
    std::vector<std::vector<::BYTE>> sids;
};
Members AdministratorsMembers() {
    SidBuffer group;
    if (!WellKnown(WinBuiltinAdministratorsSid, &group)) return {::GetLastError(), {}};
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    ::DWORD nameSize = 256;
    ::DWORD domainSize = 256;
    ::SID_NAME_USE use{};
    if (!::LookupAccountSidW(nullptr, group.sid(), name, &nameSize, domain, &domainSize, &use))
        return {::GetLastError(), {}};
    auto* members = SystemFunction<decltype(::NetLocalGroupGetMembers)>("netapi32.dll",
                                                                        "NetLocalGroupGetMembers");
    auto* release =
        SystemFunction<decltype(::NetApiBufferFree)>("netapi32.dll", "NetApiBufferFree");
    if (!members || !release) return {::GetLastError(), {}};
    std::vector<std::vector<::BYTE>> found;
    ::DWORD_PTR resume = 0;
    for (;;) {
        ::BYTE* buffer = nullptr;
        ::DWORD read = 0;
        ::DWORD total = 0;
        const ::NET_API_STATUS status =
            members(nullptr, name, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
        if (status != NERR_Success && status != ERROR_MORE_DATA) {
            if (buffer) release(buffer);
            return {status, {}};
        }
        const auto* entries = reinterpret_cast<const ::LOCALGROUP_MEMBERS_INFO_0*>(buffer);
        for (::DWORD i = 0; i < read; ++i) {
            const ::PSID sid = entries[i].lgrmi0_sid;
            if (sid == nullptr || !::IsValidSid(sid)) continue;
            const auto* bytes = static_cast<const ::BYTE*>(sid);
            found.emplace_back(bytes, bytes + ::GetLengthSid(sid));
        }
        if (buffer) release(buffer);
        if (status == NERR_Success) return {0, std::move(found)};
    }
}

// The rights that let a holder replace what the path holds or let someone else do so.
constexpr ::ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                        DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                        GENERIC_ALL;

// Whether an ACE of the DACL that applies to the object itself gives an untrusted SID a right
// to change it. Object ACEs (not used on files) carry their SID behind optional GUIDs: any that
// allows a change counts, whoever it names.
bool OthersMayChange(const ::ACL* dacl, TrustedAccounts& trusted) {
    if (dacl == nullptr) return true;  // a NULL DACL grants everybody everything
    for (::DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(const_cast<::ACL*>(dacl), i, &raw)) return true;
        const auto* header = static_cast<const ::ACE_HEADER*>(raw);
        if (header->AceFlags & INHERIT_ONLY_ACE) continue;
        switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
                const auto* ace = static_cast<const ::ACCESS_ALLOWED_ACE*>(raw);
                if ((ace->Mask & kChangeRights) == 0) break;
                auto* sid = const_cast<::DWORD*>(&ace->SidStart);
                if (!trusted.Trusted(sid) && !trusted.StandsForOwner(sid)) return true;
                break;
            }
            case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
                if (static_cast<const ::ACCESS_ALLOWED_OBJECT_ACE*>(raw)->Mask & kChangeRights) {
                    return true;
                }
                break;
            default:
                break;  // denials and audits take nothing away from what others are allowed
        }
    }
    return false;
}

class Win32Files final : public Files {
public:
    DWORD GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }

    bool SetFileAttributesA(const char* path, DWORD attributes) override {
        return ::SetFileAttributesA(path, attributes) != FALSE;
    }

    bool GetFileSizeEx(const char* path, std::uint64_t* size) override {
        // Sharing everything: the size of a file another program holds open (the log, a result
        // file being written) is still readable.
        UniqueKernelHandle file(::CreateFileA(
            path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        LARGE_INTEGER winSize{};
        if (!::GetFileSizeEx(file.get(), &winSize)) return false;
        *size = static_cast<std::uint64_t>(winSize.QuadPart);
        return true;
    }

    bool DeleteFileA(const char* path) override { return ::DeleteFileA(path) != FALSE; }

    bool CreateDirectoryA(const char* path) override {
        return ::CreateDirectoryA(path, nullptr) != FALSE;
    }

    bool CreateProtectedDirectoryA(const char* path, FolderDacl dacl) override {
        return CreateProtectedDirectory(path, dacl);
    }

    bool RemoveDirectoryA(const char* path) override { return ::RemoveDirectoryA(path) != FALSE; }

    bool MakeSureDirectoryPathExists(const char* path) override {
        return ::MakeSureDirectoryPathExists(path) != FALSE;
    }

    bool CopyFileA(const char* source, const char* destination, bool failIfExists) override {
        return ::CopyFileA(source, destination, failIfExists ? TRUE : FALSE) != FALSE;
    }

    bool MoveFileA(const char* source, const char* destination) override {
        return ::MoveFileA(source, destination) != FALSE;
    }

    bool MoveFileExA(const char* source, const char* destination, DWORD flags) override {
        return ::MoveFileExA(source, destination, flags) != FALSE;
    }

    using Files::WriteNewFile;
    bool WriteNewFile(const char* path, const std::string& bytes,
                      std::uint64_t lastWriteTime) override {
        // No sharing while it is written: nobody reads a half-written file.
        UniqueKernelHandle file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        if (!WriteAll(file.get(), bytes)) return false;
        if (lastWriteTime != 0) {
            const ::FILETIME time{static_cast<::DWORD>(lastWriteTime),
                                  static_cast<::DWORD>(lastWriteTime >> 32)};
            if (!::SetFileTime(file.get(), nullptr, nullptr, &time)) return false;
        }
        return ::FlushFileBuffers(file.get()) != FALSE;
    }

    bool FindFiles(const char* pattern, std::vector<FindData>* found) override {
        found->clear();
        WIN32_FIND_DATAA data{};
        UniqueFindHandle find(::FindFirstFileA(pattern, &data));
        if (!find) return false;
        do {
            // Every entry as Windows lists it, "." and ".." included: the callers filter.
            FindData entry;
            entry.fileName = data.cFileName;
            entry.attributes = data.dwFileAttributes;
            entry.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
            entry.lastWriteTime =
                Join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
            found->push_back(std::move(entry));
        } while (::FindNextFileA(find.get(), &data));
        // The walk ends with ERROR_NO_MORE_FILES; anything else broke it off.
        return ::GetLastError() == ERROR_NO_MORE_FILES;
    }

    bool AppendToFile(const char* path, const std::string& bytes) override {
        // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file,
        // even when another writer has extended it since the open. The name itself is opened: a
        // link there is the link, which is then not written, as a file that has another name
        // too (a hard link to some other file) is not; a link to a folder does not open at all.
        UniqueKernelHandle file(::CreateFileA(
            path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return false;
        // A device (NUL) has no links to count: only a file on a disk is checked.
        if (::GetFileType(file.get()) != FILE_TYPE_DISK) return WriteAll(file.get(), bytes);
        ::BY_HANDLE_FILE_INFORMATION information{};
        if (!::GetFileInformationByHandle(file.get(), &information)) return false;
        if ((information.dwFileAttributes &
             (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
            information.nNumberOfLinks != 1) {
            ::SetLastError(ERROR_CANT_ACCESS_FILE);
            return false;
        }
        return WriteAll(file.get(), bytes);
    }

    bool ReadWholeFile(const char* path, std::string* bytes) override {
        UniqueKernelHandle file(::CreateFileA(path, GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        // Read to the end rather than to a size taken first: a file that another program is
        // still writing is read as far as it goes.
        std::string content;
        for (;;) {
            const std::size_t used = content.size();
            content.resize(used + kReadPiece);
            ::DWORD got = 0;
            if (!::ReadFile(file.get(), content.data() + used, static_cast<::DWORD>(kReadPiece),
                            &got, nullptr)) {
                return false;
            }
            content.resize(used + got);
            if (got == 0) break;
        }
        *bytes = std::move(content);
        return true;
    }

    DWORD GetReparsePointOwner(const char* path, bool* reparsePoint, bool* adminOwned) override {
        *reparsePoint = false;
        *adminOwned = false;
        const ::DWORD attributes = ::GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return ERROR_SUCCESS;
        *reparsePoint = true;
        // The link or junction itself, not its target; BACKUP_SEMANTICS opens a folder too.
        // READ_CONTROL alone reads the owner and leaves the object to others as it is.
        UniqueKernelHandle object(::CreateFileA(
            path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!object) return ::GetLastError();
        ::PSID owner = nullptr;
        ::PSECURITY_DESCRIPTOR descriptor = nullptr;
        const ::DWORD error =
            ::GetSecurityInfo(object.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                              nullptr, nullptr, nullptr, &descriptor);
        if (error != ERROR_SUCCESS) return error;
        const UniqueLocalMemory ownedDescriptor(descriptor);
        *adminOwned = owner != nullptr && (::IsWellKnownSid(owner, WinLocalSystemSid) ||
                                           ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
        return ERROR_SUCCESS;
    }

    DWORD GetOwnerAndRights(const char* path, FileSecurity* security) override {
        *security = FileSecurity{};
        // The path must exist: GetNamedSecurityInfoA gives its own errors for a missing one.
        if (::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
        ::PSID owner = nullptr;
        ::PACL dacl = nullptr;
        ::PSECURITY_DESCRIPTOR descriptor = nullptr;
        const ::DWORD error = ::GetNamedSecurityInfoA(
            path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
            nullptr, &dacl, nullptr, &descriptor);
        if (error != ERROR_SUCCESS) return error;
        const UniqueLocalMemory ownedDescriptor(descriptor);
        TrustedAccounts trusted(Administrators());
        if (!trusted.ok()) return ::GetLastError();
        security->owner = SidBytes(owner);
        security->ownerTrusted = owner != nullptr && trusted.Trusted(owner);
        if (owner != nullptr && !security->ownerTrusted) {
            security->ownerName = AccountNameOf(owner);
        }
        security->othersMayChange = OthersMayChange(dacl, trusted);
        return ERROR_SUCCESS;
    }

    DWORD LookupAccountNameA(const char* name, Sid* sid) override {
        sid->clear();
        // An empty name would give the computer's own domain.
        if (name == nullptr || *name == '\0') return ERROR_NONE_MAPPED;
        if (!lookup_) lookup_ = std::make_unique<BoundedCaller>();
        struct Answer {
            ::DWORD error = 0;
            Sid sid;
        };
        const auto answer =
            lookup_->Call<Answer>(kAccountLookupMs, [account = std::string(name)]() {
                Answer result;
                alignas(::DWORD)::BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
                ::DWORD sidSize = sizeof buffer;
                char domain[256] = {};
                ::DWORD domainSize = sizeof domain;
                ::SID_NAME_USE use{};
                if (!::LookupAccountNameA(nullptr, account.c_str(), buffer, &sidSize, domain,
                                          &domainSize, &use)) {
                    result.error = ::GetLastError();
                } else {
                    result.sid = SidBytes(buffer);
                }
                return result;
            });
        if (!answer) return ERROR_TIMEOUT;
        *sid = answer->sid;
        return answer->error != 0 ? answer->error : (sid->empty() ? ERROR_NONE_MAPPED : 0);
    }

    DWORD GetAdministratorsMembers(std::vector<Sid>* members) override {
        *members = Administrators();
        return membersError_;
    }

    bool EqualSid(const Sid& a, const Sid& b) override {
        if (a.empty() || b.empty()) return false;
        auto* first = const_cast<::BYTE*>(a.data());
        auto* second = const_cast<::BYTE*>(b.data());
        return ::IsValidSid(first) && ::IsValidSid(second) && ::EqualSid(first, second);
    }

    DWORD OpenFileToHold(const char* path, HANDLE* handle) override {
        // Read and execute are shared, so the shell may start it and the loader map it; write
        // and delete are not, so nobody may change, rename or delete it while it is held.
        UniqueKernelHandle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        *handle = 0;
        if (!file) return ::GetLastError();
        // The caller's now: closed with Processes::CloseHandle.
        *handle = reinterpret_cast<HANDLE>(file.release());
        return ERROR_SUCCESS;
    }

    bool GetFileVersion(const char* path, ProgramVersion* version) override {
        return ResourceVersion(path ? path : "", version);
    }

    DWORD GetSystemDirectoryA(char* buffer, DWORD size) override {
        return ::GetSystemDirectoryA(buffer, size);
    }

    bool GetFullPathNameA(const char* path, std::string* full) override {
        // The size asked first; a current folder changed in between asks again, a few times.
        for (int attempt = 0; attempt < 4; ++attempt) {
            const DWORD needed = ::GetFullPathNameA(path, 0, nullptr, nullptr);
            if (needed == 0) return false;
            std::string buffer(needed, '\0');
            const DWORD length = ::GetFullPathNameA(path, needed, buffer.data(), nullptr);
            if (length == 0) return false;
            if (length < needed) {
                buffer.resize(length);
                *full = std::move(buffer);
                return true;
            }
        }
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }

    bool IsWow64Process(bool* wow64) override {
        BOOL flag = FALSE;
        if (!::IsWow64Process(::GetCurrentProcess(), &flag)) return false;
        *wow64 = flag != FALSE;
        return true;
    }

    bool Wow64DisableWow64FsRedirection(void** oldValue) override {
        return ::Wow64DisableWow64FsRedirection(oldValue) != FALSE;
    }

    bool Wow64RevertWow64FsRedirection(void* oldValue) override {
        return ::Wow64RevertWow64FsRedirection(oldValue) != FALSE;
    }

private:
    // The owner's account name, or empty when the SID maps to no account (a deleted user) or the
    // look-up, which may ask a domain controller, is not answered within kAccountLookupMs. The
    // worker takes a copy of the SID: the descriptor it points into is freed on return.
    std::string AccountNameOf(::PSID owner) {
        const ::DWORD length = ::GetLengthSid(owner);
        std::vector<::BYTE> sid(static_cast<const ::BYTE*>(owner),
                                static_cast<const ::BYTE*>(owner) + length);
        // One worker for the run: once a look-up was given up, the later ones fail at once, so
        // that files of many foreign owners cost the bound only once.
        if (!lookup_) lookup_ = std::make_unique<BoundedCaller>();
        const auto name = lookup_->Call<std::string>(kAccountLookupMs, [sid]() mutable {
            char text[256] = {};
            char domain[256] = {};
            ::DWORD textSize = sizeof text;
            ::DWORD domainSize = sizeof domain;
            ::SID_NAME_USE use{};
            if (!::LookupAccountSidA(nullptr, sid.data(), text, &textSize, domain, &domainSize,
                                     &use)) {
                return std::string();
            }
            return std::string(text);
        });
        return name ? *name : std::string();
    }

    // The Administrators' members, read once for the run on a worker of its own, given up after
    // kAdministratorsLookupMs (then none counts).
    const std::vector<std::vector<::BYTE>>& Administrators() {
        if (!membersRead_) {
            membersRead_ = true;
            BoundedCaller worker;
            if (auto found = worker.Call<Members>(kAdministratorsLookupMs,
                                                  [] { return AdministratorsMembers(); })) {
                membersError_ = found->error;
                members_ = std::move(found->sids);
            } else {
                membersError_ = ERROR_TIMEOUT;
            }
        }
        return members_;
    }

    std::unique_ptr<BoundedCaller> lookup_;
    std::vector<std::vector<::BYTE>> members_;
    ::DWORD membersError_ = 0;
    bool membersRead_ = false;
};

}  // namespace

std::unique_ptr<Files> MakeWin32Files() {
    return std::make_unique<Win32Files>();
}

}  // namespace platform::win32
