#include "run/file_system.h"

#include "common/failure.h"

namespace run {

using common::Raise;

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

}  // namespace

// The runtime's failure for a system error left by a file call on path.
void FileSystem::RaiseFor(const std::string& path) {
    (void)path;
    const platform::DWORD error = platform_.system().GetLastError();
    switch (error) {
        case platform::kErrorFileNotFound:
            Raise(common::kFileNotFound, error);
        case platform::kErrorPathNotFound:
            Raise(common::kPathNotFound, error);
        case platform::kErrorFileExists:
        case platform::kErrorAlreadyExists:
            Raise(common::kFileAlreadyExists, error);
        default:
            Raise(common::kPermissionDenied, error);
    }
}

void FileSystem::RaiseWithLastError(long number) {
    Raise(number, platform_.system().GetLastError());
}

bool FileSystem::FolderExists(const std::string& path) {
    const auto attributes =
        platform_.files().GetFileAttributesA(WithoutTrailingSlash(path).c_str());
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kFileAttributeDirectory) != 0;
}

bool FileSystem::FileExists(const std::string& path) {
    const auto attributes = platform_.files().GetFileAttributesA(path.c_str());
    return attributes != platform::kInvalidFileAttributes &&
           (attributes & platform::kFileAttributeDirectory) == 0;
}

std::uint64_t FileSystem::GetFileSize(const std::string& path) {
    if (!FileExists(path)) RaiseWithLastError(common::kFileNotFound);
    std::uint64_t size = 0;
    if (!platform_.files().GetFileSizeEx(path.c_str(), &size)) RaiseFor(path);
    return size;
}

void FileSystem::DeleteFile(const std::string& path, bool force) {
    const auto attributes = platform_.files().GetFileAttributesA(path.c_str());
    if (attributes == platform::kInvalidFileAttributes ||
        (attributes & platform::kFileAttributeDirectory)) {
        RaiseWithLastError(common::kFileNotFound);
    }
    if (force && (attributes & platform::kFileAttributeReadonly)) {
        platform_.files().SetFileAttributesA(path.c_str(), platform::kFileAttributeNormal);
    }
    if (!platform_.files().DeleteFileA(path.c_str())) RaiseWithLastError(common::kPermissionDenied);
}

std::vector<FolderFile> FileSystem::GetFolderFiles(const std::string& folder) {
    if (!FolderExists(folder)) RaiseWithLastError(common::kPathNotFound);
    std::string pattern = folder;
    if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
    pattern += '*';
    std::vector<platform::FindData> found;
    if (!platform_.files().FindFiles(pattern.c_str(), &found)) {
        if (platform_.system().GetLastError() == platform::kErrorFileNotFound) return {};
        RaiseFor(folder);
    }
    std::vector<FolderFile> files;
    files.reserve(found.size());
    for (auto& entry : found) {
        if (entry.attributes & platform::kFileAttributeDirectory) continue;
        FolderFile file{std::move(entry.fileName), {}, entry.lastWriteTime};
        if (!platform_.clock().FileTimeToLocalSystemTime(entry.lastWriteTime,
                                                         &file.dateLastModified)) {
            RaiseWithLastError(common::kInvalidCall);
        }
        files.push_back(std::move(file));
    }
    return files;
}

void FileSystem::CopyFile(const std::string& source, const std::string& destination,
                          bool overwrite) {
    if (!FileExists(source)) RaiseWithLastError(common::kFileNotFound);
    if (!platform_.files().CopyFileA(source.c_str(), destination.c_str(), !overwrite)) {
        RaiseFor(destination);
    }
}

void FileSystem::MoveFile(const std::string& source, const std::string& destination) {
    const auto attributes = platform_.files().GetFileAttributesA(source.c_str());
    if (attributes == platform::kInvalidFileAttributes) RaiseWithLastError(common::kFileNotFound);
    if (platform_.files().GetFileAttributesA(destination.c_str()) !=
        platform::kInvalidFileAttributes) {
        RaiseWithLastError(common::kFileAlreadyExists);
    }
    if (!platform_.files().MoveFileA(source.c_str(), destination.c_str())) RaiseFor(destination);
}

// The folder goes with everything in it; without force a read-only file inside is refused
// (and what was deleted before it stays deleted, as with the scripting object).
void FileSystem::DeleteFolder(const std::string& path, bool force) {
    const std::string folder = WithoutTrailingSlash(path);
    if (!FolderExists(folder)) RaiseWithLastError(common::kPathNotFound);
    std::vector<platform::FindData> entries;
    if (!platform_.files().FindFiles((folder + "\\*").c_str(), &entries) &&
        platform_.system().GetLastError() != platform::kErrorFileNotFound) {
        RaiseFor(folder);
    }
    for (const auto& entry : entries) {
        if (entry.fileName == "." || entry.fileName == "..") continue;
        const std::string inner = folder + "\\" + entry.fileName;
        if (entry.attributes & platform::kFileAttributeDirectory) {
            DeleteFolder(inner, force);
        } else {
            if ((entry.attributes & platform::kFileAttributeReadonly) && !force) {
                RaiseWithLastError(common::kPermissionDenied);
            }
            DeleteFile(inner, force);
        }
    }
    if (!platform_.files().RemoveDirectoryA(folder.c_str()))
        RaiseWithLastError(common::kPermissionDenied);
}

std::string FileSystem::GetDriveName(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    if (path.rfind("\\\\", 0) == 0) {
        const auto server = path.find('\\', 2);
        if (server == std::string::npos) return {};
        const auto share = path.find('\\', server + 1);
        return share == std::string::npos ? path : path.substr(0, share);
    }
    return {};
}

bool FileSystem::UntrustedReparsePoint(const std::string& path) {
    bool reparsePoint = false;
    bool adminOwned = false;
    platform_.files().GetReparsePointOwner(path.c_str(), &reparsePoint, &adminOwned);
    return reparsePoint && !adminOwned;
}

// The file, then each folder above it: "C:\A\B\f.exe" is f.exe, C:\A\B and C:\A. A file in the
// root has the root as its folder (its name keeps its backslash: C:\, or \ on the current drive).
std::vector<std::string> FileSystem::CheckedPaths(const std::string& filePath) {
    std::vector<std::string> paths{filePath};
    const std::string drive = GetDriveName(filePath);
    for (std::string path = filePath;;) {
        const std::size_t slash = path.find_last_of('\\');
        if (slash == std::string::npos) {
            if (paths.size() == 1) paths.push_back("\\");
            break;
        }
        path = path.substr(0, slash);
        if (path.empty() || path.back() == ':' || path.size() <= drive.size()) {
            if (paths.size() == 1) paths.push_back(path + '\\');
            break;
        }
        paths.push_back(path);
    }
    return paths;
}

std::optional<FileSystem::Exposure> FileSystem::ExposedToOtherAccounts(const std::string& filePath,
                                                                       HeldFile* hold) {
    if (hold) {
        hold->reset();
        const platform::DWORD error =
            platform_.files().OpenFileToHold(filePath.c_str(), hold->put());
        if (error != 0) {
            const bool missing =
                error == static_cast<platform::DWORD>(platform::kErrorFileNotFound) ||
                error == static_cast<platform::DWORD>(platform::kErrorPathNotFound);
            return Exposure{filePath, missing ? "security cannot be read" : "cannot be held",
                            std::to_string(error), error};
        }
    }
    for (const std::string& path : CheckedPaths(filePath)) {
        platform::FileSecurity security;
        const platform::DWORD error = platform_.files().GetOwnerAndRights(path.c_str(), &security);
        std::optional<Exposure> exposure;
        if (error != 0) {
            exposure = Exposure{path, "security cannot be read", std::to_string(error), error};
        } else if (!security.ownerTrusted) {
            exposure = Exposure{path, "owned by another account", security.ownerName};
        } else if (security.othersMayChange) {
            exposure = Exposure{path, "others may change it", ""};
        }
        if (exposure) {
            if (hold) hold->reset();
            return exposure;
        }
    }
    return std::nullopt;
}

std::string FileSystem::ReadAllText(const std::string& path) {
    if (!FileExists(path)) RaiseWithLastError(common::kFileNotFound);
    std::string content;
    if (!platform_.files().ReadWholeFile(path.c_str(), &content)) RaiseFor(path);
    if (content.empty()) RaiseWithLastError(common::kInputPastEnd);
    return content;
}

}  // namespace run
