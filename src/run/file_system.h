// The file-system object shared by the whole run: the folder and file operations the procedures
// use, each raising a common::Failure (53, 58, 62, 70, 76) when it cannot do what it is asked.
// The two existence tests never fail.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/handle_owner.h"
#include "platform/platform.h"

namespace run {

struct FolderFile {
    std::string name;                       // without folder
    platform::SystemTime dateLastModified;  // local time
    std::uint64_t lastWriteTime = 0;        // the same as a FILETIME (UTC)
};

class FileSystem {
public:
    explicit FileSystem(platform::Platform& platform) : platform_(platform) {}

    bool FolderExists(const std::string& path);
    bool FileExists(const std::string& path);
    std::uint64_t GetFileSize(const std::string& path);
    void DeleteFile(const std::string& path, bool force);
    // Every file of the folder (no folders), in the platform's listing order.
    std::vector<FolderFile> GetFolderFiles(const std::string& folder);
    void CopyFile(const std::string& source, const std::string& destination, bool overwrite);
    void MoveFile(const std::string& source, const std::string& destination);
    void DeleteFolder(const std::string& path, bool force);
    static std::string GetDriveName(const std::string& path);
    // Whether the path itself is a reparse point that neither SYSTEM nor the Administrators own
    // (one whose owner cannot be read counts as such); a missing path is none.
    bool UntrustedReparsePoint(const std::string& path);
    // The whole content of a text file; an empty file cannot be read (input past end of file).
    std::string ReadAllText(const std::string& path);

    // A file opened so that nobody may write, rename or delete it until this is gone.
    using HeldFile = platform::OwnedHandle;

    // What the system account runs or loads must be owned by a trusted account and changeable
    // by no other: the file and every folder above it up to the drive root's child (the
    // installation folder, the folders down to the file, and the installation folder's parents;
    // the root itself only for a file directly in it: every user may create folders there),
    // or anyone who could change one of them could put another file in its place. The first
    // of them that is not, with why ("security cannot be read", "owned by another account",
    // "others may change it", "cannot be held") and the error number or the owner; nothing
    // when all are protected. With `hold`, the file is opened first without write or delete
    // sharing and stays so in *hold (when nothing is exposed), so that what was checked is
    // what runs or loads.
    struct Exposure {
        std::string path;
        std::string why;
        std::string detail;
        platform::DWORD error = 0;  // the failure of reading the security, if that was why
    };
    std::optional<Exposure> ExposedToOtherAccounts(const std::string& filePath,
                                                   HeldFile* hold = nullptr);
    // The paths that test looks at, in its order.
    static std::vector<std::string> CheckedPaths(const std::string& filePath);

private:
    [[noreturn]] void RaiseFor(const std::string& path);
    // The failure, with the last-error value the failed call left.
    [[noreturn]] void RaiseWithLastError(long number);

    platform::Platform& platform_;
};

}  // namespace run
