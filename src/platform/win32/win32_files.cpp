// Files facet: the ANSI file and folder functions, and the three composite operations built on
// CreateFileA. Each composite owns its handles, so every early return closes them and keeps the
// failing call's last error.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

std::uint64_t Join(::DWORD high, ::DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// ReadFile and WriteFile count in DWORDs; larger texts go in pieces of this size.
constexpr std::size_t kMaxTransfer = 0x40000000;
constexpr std::size_t kReadPiece = 64 * 1024;

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
        // FILE_APPEND_DATA alone: every write goes to the end of the file, even when another
        // writer has extended it since the open.
        UniqueKernelHandle file(::CreateFileA(path, FILE_APPEND_DATA,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        std::size_t offset = 0;
        while (offset < bytes.size()) {
            const auto piece = static_cast<::DWORD>(std::min(bytes.size() - offset, kMaxTransfer));
            ::DWORD written = 0;
            if (!::WriteFile(file.get(), bytes.data() + offset, piece, &written, nullptr)) {
                return false;
            }
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

    bool GetFileVersion(const char* path, ProgramVersion* version) override {
        return ResourceVersion(path ? path : "", version);
    }

    DWORD GetSystemDirectoryA(char* buffer, DWORD size) override {
        return ::GetSystemDirectoryA(buffer, size);
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
};

}  // namespace

std::unique_ptr<Files> MakeWin32Files() {
    return std::make_unique<Win32Files>();
}

}  // namespace platform::win32
