#pragma once

#include "platform/emulated/machine.h"
#include "platform/files.h"

namespace platform::emulated {

// Files on the machine's drives. The read-only attribute is the owner's write permission; the
// checks are made here rather than left to the host, since the host may run as root.
class EmulatedFiles final : public Files {
public:
    explicit EmulatedFiles(Machine& machine) : machine_(machine) {}

    DWORD GetFileAttributesA(const char* path) override;
    bool SetFileAttributesA(const char* path, DWORD attributes) override;
    bool GetFileSizeEx(const char* path, std::uint64_t* size) override;
    bool DeleteFileA(const char* path) override;
    bool CreateDirectoryA(const char* path) override;
    bool CreateProtectedDirectoryA(const char* path, FolderDacl dacl) override;
    bool RemoveDirectoryA(const char* path) override;
    bool MakeSureDirectoryPathExists(const char* path) override;
    bool CopyFileA(const char* source, const char* destination, bool failIfExists) override;
    bool MoveFileA(const char* source, const char* destination) override;
    bool MoveFileExA(const char* source, const char* destination, DWORD flags) override;
    using Files::WriteNewFile;
    bool WriteNewFile(const char* path, const std::string& bytes,
                      std::uint64_t lastWriteTime) override;
    bool FindFiles(const char* pattern, std::vector<FindData>* found) override;
    bool AppendToFile(const char* path, const std::string& bytes) override;
    bool ReadWholeFile(const char* path, std::string* bytes) override;
    DWORD GetReparsePointOwner(const char* path, bool* reparsePoint, bool* adminOwned) override;
    DWORD GetOwnerAndRights(const char* path, FileSecurity* security) override;
    DWORD LookupAccountNameA(const char* name, Sid* sid) override;
    bool EqualSid(const Sid& a, const Sid& b) override;
    DWORD GetAdministratorsMembers(std::vector<Sid>* members) override;
    DWORD OpenFileToHold(const char* path, HANDLE* handle) override;
    DWORD GetSystemDirectoryA(char* buffer, DWORD size) override;
    bool GetFullPathNameA(const char* path, std::string* full) override;
    // The programs of a machine folder are host programs, which carry no version resource.
    bool GetFileVersion(const char* /*path*/, ProgramVersion* /*version*/) override {
        return Fail(kErrorResourceTypeNotFound);
    }
    bool IsWow64Process(bool* wow64) override;
    bool Wow64DisableWow64FsRedirection(void** oldValue) override;
    bool Wow64RevertWow64FsRedirection(void* oldValue) override;

private:
    bool Fail(DWORD error);
    std::string SystemDirectory() const;
    // The host path of a path the program names, after the WOW64 redirection of system folders
    // (empty when a link on the way cannot be followed: Machine::HostPath).
    std::filesystem::path Host(const std::string& path,
                               Machine::LastPart last = Machine::LastPart::kFollowed) const;
    // An entry of a folder listing (folder: the listed folder's Windows path, with its "\"),
    // described as what it leads to on its drive when it is a link; a link that leads nowhere
    // there is described as itself, a reparse point and nothing more.
    FindData DescribeEntry(const std::string& folder, const std::string& hostPath,
                           const std::string& name) const;

    Machine& machine_;
};

// FILETIME of a host file time, and back.
std::uint64_t ToFileTime(std::filesystem::file_time_type time);
std::filesystem::file_time_type FromFileTime(std::uint64_t fileTime);

}  // namespace platform::emulated
