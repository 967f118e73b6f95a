// Files facet: the ANSI file and folder functions that the program's file-system operations
// are built on. Every bool result is a Win32 BOOL: on false the failure is in GetLastError.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/self.h"
#include "platform/types.h"

namespace platform {

// One entry of a FindFirstFileA / FindNextFileA walk.
struct FindData {
    std::string fileName;  // name without folder
    DWORD attributes = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWriteTime = 0;  // FILETIME: 100 ns ticks since 1601-01-01 UTC
};

inline constexpr DWORD kMovefileReplaceExisting = 0x1;

// The DACLs a folder the program makes for itself is given, protected (nothing inherited from the
// folder above it), each entry inherited by what is made inside:
// - kSystemAdministratorsUsersRead: LocalSystem and the Administrators full control, the Users
//   read and execute (the log's folders);
// - kOwnAccountAndAdministrators: the account the program runs as and the Administrators full
//   control, nobody else anything (the capture's folder).
enum class FolderDacl { kSystemAdministratorsUsersRead, kOwnAccountAndAdministrators };
inline constexpr DWORD kMovefileWriteThrough = 0x8;

// A security identifier as Windows lays it out (revision, count, authority, sub-authorities:
// GetLengthSid bytes); empty for none. Compared only through Files::EqualSid.
using Sid = std::vector<BYTE>;

// Who owns a file or folder, and whether accounts other than the trusted ones may change it.
// Trusted: LocalSystem, the Administrators group, TrustedInstaller, the account the program
// itself runs as (LocalSystem on an agent's machine; whoever runs it by hand could change its
// files anyway), and every account or group that is a direct member of the local Administrators
// group (an elevated administrator's files are owned by that administrator's own account on
// client editions). The members are read once per run (NetLocalGroupGetMembers, by the group's
// SID), on a worker given up after kAdministratorsLookupMs: then no member counts.
// LookupAccountSidA of an owner that is not trusted, and LookupAccountNameA, may ask a domain
// controller: each is made on a worker and given up after this long (the name then stays empty,
// as for an unknown SID; the SID is not found).
inline constexpr DWORD kAccountLookupMs = 15000;
inline constexpr DWORD kAdministratorsLookupMs = 15000;

struct FileSecurity {
    std::string ownerName;         // an untrusted owner's account name (LookupAccountSidA, no
                                   // domain); left empty for a trusted one, which needs no look-up
    bool ownerTrusted = false;     // the owner is one of the trusted accounts
    bool othersMayChange = false;  // a right to write, append, delete, or change the DACL or
                                   // owner is granted to an account that is not trusted
    Sid owner;                     // the owner's SID (empty when the descriptor has none)
};

class Files {
public:
    virtual ~Files() = default;

    virtual DWORD GetFileAttributesA(const char* path) = 0;
    virtual bool SetFileAttributesA(const char* path, DWORD attributes) = 0;
    // CreateFileA for reading, then GetFileSizeEx.
    virtual bool GetFileSizeEx(const char* path, std::uint64_t* size) = 0;
    virtual bool DeleteFileA(const char* path) = 0;
    virtual bool CreateDirectoryA(const char* path) = 0;
    // CreateDirectoryA with a SECURITY_ATTRIBUTES whose descriptor holds the protected DACL
    // (never a moment with the inherited one), then SetSecurityInfo with
    // PROTECTED_DACL_SECURITY_INFORMATION on the new folder itself (opened with
    // FILE_FLAG_OPEN_REPARSE_POINT), so that rights given to the folder above later do not flow
    // into it. ERROR_ALREADY_EXISTS when anything has the name, a link included.
    virtual bool CreateProtectedDirectoryA(const char* path, FolderDacl dacl) = 0;
    virtual bool RemoveDirectoryA(const char* path) = 0;
    // MakeSureDirectoryPathExists (image-help library): every folder of the path up to its
    // last "\" is created; the part after the last "\" is taken as a file name.
    virtual bool MakeSureDirectoryPathExists(const char* path) = 0;
    virtual bool CopyFileA(const char* source, const char* destination, bool failIfExists) = 0;
    virtual bool MoveFileA(const char* source, const char* destination) = 0;
    // MoveFileExA: with kMovefileReplaceExisting a file takes the place of an existing one in one
    // step (a link there is replaced, not written through); without it, ERROR_ALREADY_EXISTS.
    virtual bool MoveFileExA(const char* source, const char* destination, DWORD flags) = 0;
    // CreateFileA (CREATE_NEW: ERROR_FILE_EXISTS when anything has the name, a link included),
    // WriteFile of the bytes, SetFileTime of lastWriteTime (a FILETIME; 0 keeps the time of the
    // write), FlushFileBuffers, CloseHandle.
    virtual bool WriteNewFile(const char* path, const std::string& bytes,
                              std::uint64_t lastWriteTime) = 0;
    bool WriteNewFile(const char* path, const std::string& bytes) {
        return WriteNewFile(path, bytes, 0);
    }
    // FindFirstFileA, FindNextFileA until ERROR_NO_MORE_FILES, FindClose. The pattern is a path
    // whose last part may hold * and ?. False with ERROR_FILE_NOT_FOUND when nothing matches.
    virtual bool FindFiles(const char* pattern, std::vector<FindData>* found) = 0;
    // CreateFileA (OPEN_ALWAYS, append, sharing read and write, FILE_FLAG_OPEN_REPARSE_POINT),
    // GetFileInformationByHandle, WriteFile, CloseHandle. Written only when what the handle
    // holds is a plain file with one link (nNumberOfLinks = 1): a reparse point (a link to
    // elsewhere) or a hard link to a file of another name fails with ERROR_CANT_ACCESS_FILE,
    // nothing written.
    virtual bool AppendToFile(const char* path, const std::string& bytes) = 0;
    // CreateFileA (OPEN_EXISTING), ReadFile of the whole content, CloseHandle.
    virtual bool ReadWholeFile(const char* path, std::string* bytes) = 0;
    // Whether the path itself (not what it points to) is a reparse point (junction or symbolic
    // link: GetFileAttributesA & FILE_ATTRIBUTE_REPARSE_POINT) and, when it is, whether its owner
    // is LocalSystem or the Administrators group (the owner of the reparse point, opened with
    // FILE_FLAG_OPEN_REPARSE_POINT, through GetSecurityInfo). A Win32 error code: 0 on success,
    // ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when the path is missing. On failure
    // *reparsePoint tells whether the path was found to be a reparse point before the failure;
    // *adminOwned is then false.
    virtual DWORD GetReparsePointOwner(const char* path, bool* reparsePoint, bool* adminOwned) = 0;
    // The owner and the DACL of the path (GetNamedSecurityInfoA, the owner's name through
    // LookupAccountSidA). Only ACEs that apply to the object itself count (inherit-only ones do
    // not); CREATOR OWNER and OWNER RIGHTS stand for the owner, judged as such; a NULL DACL lets
    // everybody change it. A Win32 error code: 0 on success, ERROR_FILE_NOT_FOUND /
    // ERROR_PATH_NOT_FOUND when the path is missing.
    virtual DWORD GetOwnerAndRights(const char* path, FileSecurity* security) = 0;
    // LookupAccountNameA on this computer: the SID of the account `name`, on a worker given up
    // after kAccountLookupMs (ERROR_TIMEOUT). A Win32 error code: 0 on success,
    // ERROR_NONE_MAPPED when no account has the name (an empty name included).
    virtual DWORD LookupAccountNameA(const char* name, Sid* sid) = 0;
    // The direct members of the local Administrators group, as the trust of owners takes them
    // (see FileSecurity), read once a run. A Win32 (NERR) error code, ERROR_TIMEOUT past
    // kAdministratorsLookupMs; *members is then empty.
    virtual DWORD GetAdministratorsMembers(std::vector<Sid>* members) = 0;
    // EqualSid: both valid and the same SID.
    virtual bool EqualSid(const Sid& a, const Sid& b) = 0;
    // CreateFileA(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING): the file may be read, run and
    // loaded while *handle is open, but nobody may write, rename or delete it (a sharing
    // violation), so that what was checked is what is used. The handle is closed with
    // Processes::CloseHandle. A Win32 error code; *handle is 0 on failure.
    virtual DWORD OpenFileToHold(const char* path, HANDLE* handle) = 0;

    // GetSystemDirectoryA: the number of characters stored (without the NUL), the size needed
    // (with the NUL) when the buffer is too small, 0 on failure.
    virtual DWORD GetSystemDirectoryA(char* buffer, DWORD size) = 0;
    // GetFullPathNameA, with a buffer that fits: the path with its drive, "." and ".." folded,
    // against the current drive and folder. False with the last error.
    virtual bool GetFullPathNameA(const char* path, std::string* full) = 0;
    // GetFileVersionInfoA and VerQueryValueA("\\"): major.minor.revision of the file version of
    // a file's version resource. False with the last error (ERROR_RESOURCE_TYPE_NOT_FOUND for a
    // file without one).
    virtual bool GetFileVersion(const char* path, ProgramVersion* version) = 0;
    // IsWow64Process(GetCurrentProcess(), &flag): *wow64 is true for a 32-bit process on 64-bit
    // Windows. False when the call failed (*wow64 is then left as it was).
    virtual bool IsWow64Process(bool* wow64) = 0;
    // The WOW64 file-system redirection of the calling thread: switched off, with the state to
    // hand back kept in *oldValue, and restored from it. Both fail on 32-bit Windows.
    virtual bool Wow64DisableWow64FsRedirection(void** oldValue) = 0;
    virtual bool Wow64RevertWow64FsRedirection(void* oldValue) = 0;
};

}  // namespace platform
