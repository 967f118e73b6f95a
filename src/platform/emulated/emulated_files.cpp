#include "platform/emulated/emulated_files.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/emulated/host.h"
#include "platform/emulated/text_codec.h"
#include "platform/sid_text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// How many names the file has. The C library of a Windows build says 1 for every file, so there
// the file system itself is asked (outside the platform's namespace, whose HANDLE is its own).
std::uintmax_t HardLinkCount(const std::filesystem::path& path) {
#ifdef _WIN32
    const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool read = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    return read ? information.nNumberOfLinks : 0;
#else
    std::error_code error;
    return std::filesystem::hard_link_count(path, error);
#endif
}

}  // namespace

namespace platform::emulated {

namespace fs = std::filesystem;

namespace {

bool IsReadOnly(const fs::path& path) {
    std::error_code error;
    const auto perms = fs::status(path, error).permissions();
    return !error && (perms & fs::perms::owner_write) == fs::perms::none;
}

// The error Windows gives for a missing file: "path not found" when its folder is missing too.
DWORD MissingError(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path.parent_path(), error) ? kErrorFileNotFound : kErrorPathNotFound;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    const std::string p = UpperAscii(pattern);
    const std::string n = UpperAscii(name);
    std::size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star != std::string::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

FindData Describe(const fs::path& path, const std::string& name) {
    FindData data;
    if (host::QuickDescribe(path.string(), name, &data)) return data;
    data.fileName = name;
    std::error_code error;
    const bool directory = fs::is_directory(path, error);
    data.attributes = directory ? kFileAttributeDirectory : kFileAttributeArchive;
    if (IsReadOnly(path)) data.attributes |= kFileAttributeReadonly;
    if (!directory) data.size = fs::file_size(path, error);
    data.lastWriteTime = ToFileTime(fs::last_write_time(path, error));
    return data;
}

// ERROR_INVALID_NAME for a path holding a character that no Windows file name may hold: control
// characters, the wildcards * and ?, the DOS wildcards < > " and |. A drive's colon and the
// folder separators are no part of a name. With wildcardsInLast, the last part is a search
// pattern and may hold wildcards.
DWORD NameError(const char* path, bool wildcardsInLast = false) {
    const std::string text = path ? path : "";
    const std::size_t last = text.find_last_of("\\/");
    const std::size_t end = wildcardsInLast ? (last == std::string::npos ? 0 : last) : text.size();
    for (std::size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || std::strchr("*?<>|\"", c) != nullptr) return kErrorInvalidName;
    }
    return 0;
}

// The NUL device: every folder holds it, writes to it vanish and it reads as empty. (Windows
// takes the name with trailing dots and spaces, and in any case.)
bool IsNulDevice(const char* path) {
    std::string text = path ? path : "";
    const std::size_t last = text.find_last_of("\\/:");
    std::string name = last == std::string::npos ? text : text.substr(last + 1);
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    return UpperAscii(name) == "NUL";
}

}  // namespace

std::uint64_t ToFileTime(fs::file_time_type time) {
    using namespace std::chrono;
    const auto system = file_clock::to_sys(time);
    const auto since1970 = duration_cast<nanoseconds>(system.time_since_epoch()).count() / 100;
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    return static_cast<std::uint64_t>(since1970 + k1601To1970);
}

fs::file_time_type FromFileTime(std::uint64_t fileTime) {
    using namespace std::chrono;
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    const sys_time<nanoseconds> system{
        nanoseconds((static_cast<std::int64_t>(fileTime) - k1601To1970) * 100)};
    return file_clock::from_sys(system);
}

bool EmulatedFiles::Fail(DWORD error) {
    machine_.lastError = error;
    return false;
}

std::string EmulatedFiles::SystemDirectory() const {
    return machine_.facts().Get("System", "SystemDirectory").value_or("C:\\Windows\\system32");
}

// A 32-bit program on 64-bit Windows sees the system folder's 32-bit twin, SysWOW64, unless it
// has switched the redirection off. The few folders Windows leaves alone stay where they are.
fs::path EmulatedFiles::Host(const std::string& path, Machine::LastPart last) const {
    if (!machine_.wow64() || machine_.fsRedirectionDisabled) return machine_.HostPath(path, last);
    std::string system = SystemDirectory();
    std::string text = path;
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    // A path without a drive is on drive C, as the machine's paths are.
    if (text.size() < 2 || text[1] != ':') text = "C:" + text;
    if (system.size() < 2 || system[1] != ':') system = "C:" + system;
    while (!system.empty() && system.back() == '\\') system.pop_back();
    const std::string upper = UpperAscii(text);
    const std::string upperSystem = UpperAscii(system);
    if (upper.compare(0, upperSystem.size(), upperSystem) != 0 ||
        (upper.size() > upperSystem.size() && upper[upperSystem.size()] != '\\')) {
        return machine_.HostPath(path, last);
    }
    const std::string rest = upper.substr(upperSystem.size());
    for (const char* exempt :
         {"\\CATROOT", "\\CATROOT2", "\\DRIVERSTORE", "\\DRIVERS\\ETC", "\\LOGFILES", "\\SPOOL"}) {
        const std::string name = exempt;
        if (rest.compare(0, name.size(), name) == 0 &&
            (rest.size() == name.size() || rest[name.size()] == '\\')) {
            return machine_.HostPath(path, last);
        }
    }
    const auto folder = system.find_last_of('\\');
    return machine_.HostPath(
        system.substr(0, folder + 1) + "SysWOW64" + text.substr(upperSystem.size()), last);
}

DWORD EmulatedFiles::GetFileAttributesA(const char* path) {
    if (const DWORD refused = NameError(path)) {
        machine_.lastError = refused;
        return kInvalidFileAttributes;
    }
    const fs::path host = Host(path);
    std::error_code error;
    if (host.empty() || !fs::exists(host, error)) {
        machine_.lastError = host.empty() ? kErrorCantResolveFilename : MissingError(host);
        return kInvalidFileAttributes;
    }
    return Describe(host, host.filename().string()).attributes;
}

bool EmulatedFiles::SetFileAttributesA(const char* path, DWORD attributes) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    const fs::path host = Host(path);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(host, error)) return Fail(MissingError(host));
    const auto option =
        (attributes & kFileAttributeReadonly) ? fs::perm_options::remove : fs::perm_options::add;
    fs::permissions(host, fs::perms::owner_write, option, error);
    return error ? Fail(kErrorAccessDenied) : true;
}

bool EmulatedFiles::GetFileSizeEx(const char* path, std::uint64_t* size) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    const fs::path host = Host(path);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(host, error)) return Fail(MissingError(host));
    if (fs::is_directory(host, error)) return Fail(kErrorAccessDenied);
    const auto bytes = fs::file_size(host, error);
    if (error) return Fail(kErrorAccessDenied);
    if (size) *size = bytes;
    return true;
}

bool EmulatedFiles::DeleteFileA(const char* path) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    const fs::path host = Host(path, Machine::LastPart::kItself);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(host, error)) return Fail(MissingError(host));
    if (machine_.Held(host)) return Fail(kErrorSharingViolation);
    if (fs::is_directory(host, error) || IsReadOnly(host) || machine_.WriteDenied(path)) {
        return Fail(kErrorAccessDenied);
    }
    fs::remove(host, error);
    return error ? Fail(kErrorAccessDenied) : true;
}

bool EmulatedFiles::CreateDirectoryA(const char* path) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    const fs::path host = Host(path, Machine::LastPart::kItself);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (fs::exists(host, error)) return Fail(kErrorAlreadyExists);
    if (!fs::is_directory(host.parent_path(), error)) return Fail(kErrorPathNotFound);
    if (machine_.WriteDenied(path)) return Fail(kErrorAccessDenied);
    fs::create_directory(host, error);
    return error ? Fail(kErrorAccessDenied) : true;
}

// The protected DACL is kept as a [FileRights] fact of the new folder, which what lies below it
// inherits and which no fact above it reaches (Machine::ProtectFolder); the Users' read right
// changes nothing and is not listed.
bool EmulatedFiles::CreateProtectedDirectoryA(const char* path, FolderDacl dacl) {
    if (!CreateDirectoryA(path)) return false;
    const std::string self = machine_.facts().Get("Account", "UserName").value_or("SYSTEM");
    machine_.ProtectFolder(path, dacl == FolderDacl::kOwnAccountAndAdministrators
                                     ? self + ",Administrators"
                                     : "SYSTEM,Administrators");
    return true;
}

bool EmulatedFiles::RemoveDirectoryA(const char* path) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    const fs::path host = Host(path, Machine::LastPart::kItself);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(host, error)) return Fail(MissingError(host));
    if (!fs::is_directory(host, error)) return Fail(267 /*ERROR_DIRECTORY*/);
    if (!fs::is_empty(host, error)) return Fail(kErrorDirNotEmpty);
    fs::remove(host, error);
    return error ? Fail(kErrorAccessDenied) : true;
}

bool EmulatedFiles::MakeSureDirectoryPathExists(const char* path) {
    std::string text = path ? path : "";
    const auto last = text.find_last_of("\\/");
    if (last == std::string::npos) return true;
    if (const DWORD refused = NameError(text.substr(0, last + 1).c_str())) return Fail(refused);
    const fs::path host = Host(text.substr(0, last + 1));
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (fs::is_directory(host, error)) return true;
    fs::create_directories(host, error);
    return error ? Fail(kErrorPathNotFound) : true;
}

bool EmulatedFiles::CopyFileA(const char* source, const char* destination, bool failIfExists) {
    if (const DWORD refused = NameError(source) | NameError(destination)) return Fail(refused);
    // CopyFile opens both without FILE_FLAG_OPEN_REPARSE_POINT: a link as the target is
    // written through, not replaced.
    const fs::path from = Host(source);
    const fs::path to = Host(destination);
    if (from.empty() || to.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(from, error)) return Fail(MissingError(from));
    if (fs::is_directory(from, error)) return Fail(kErrorAccessDenied);
    if (!fs::is_directory(to.parent_path(), error)) return Fail(kErrorPathNotFound);
    if (machine_.WriteDenied(destination)) return Fail(kErrorAccessDenied);
    if (fs::exists(to, error)) {
        if (failIfExists) return Fail(kErrorFileExists);
        if (machine_.Held(to)) return Fail(kErrorSharingViolation);
        // Windows opens the source before it replaces the target, so a copy onto itself is
        // refused as a sharing violation.
        if (fs::equivalent(from, to, error)) return Fail(kErrorSharingViolation);
        if (fs::is_directory(to, error) || IsReadOnly(to)) return Fail(kErrorAccessDenied);
    }
    const fs::path& written = to;
    // Replace by removing first: some standard libraries refuse to overwrite in copy_file.
    fs::remove(written, error);
    fs::copy_file(from, written, error);
    if (error) return Fail(kErrorAccessDenied);
    // CopyFile keeps the source's last-write time and attributes.
    fs::last_write_time(written, fs::last_write_time(from, error), error);
    fs::permissions(written, fs::status(from, error).permissions(), error);
    return true;
}

bool EmulatedFiles::MoveFileA(const char* source, const char* destination) {
    return MoveFileExA(source, destination, 0);
}

bool EmulatedFiles::MoveFileExA(const char* source, const char* destination, DWORD flags) {
    if (const DWORD refused = NameError(source) | NameError(destination)) return Fail(refused);
    const fs::path from = Host(source, Machine::LastPart::kItself);
    const fs::path to = Host(destination, Machine::LastPart::kItself);
    if (from.empty() || to.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(from, error)) return Fail(MissingError(from));
    if (machine_.Held(from)) return Fail(kErrorSharingViolation);
    const fs::file_status target = fs::symlink_status(to, error);
    if (fs::exists(target) || fs::is_symlink(target)) {
        if (!(flags & kMovefileReplaceExisting)) return Fail(kErrorAlreadyExists);
        // A folder is never replaced, nor a read-only file, nor one that is open (the rename
        // is refused for its access, not for sharing).
        if (fs::is_directory(target) || fs::is_directory(from, error) ||
            (!fs::is_symlink(target) && IsReadOnly(to)) || machine_.Held(to)) {
            return Fail(kErrorAccessDenied);
        }
    }
    if (!fs::is_directory(to.parent_path(), error)) return Fail(kErrorPathNotFound);
    if (machine_.WriteDenied(source) || machine_.WriteDenied(destination)) {
        return Fail(kErrorAccessDenied);
    }
    // A rename on the host replaces the name itself, a link included, as Windows does.
    fs::rename(from, to, error);
    if (error) return Fail(kErrorAccessDenied);
    machine_.Renamed(source, destination);
    return true;
}

bool EmulatedFiles::WriteNewFile(const char* path, const std::string& bytes,
                                 std::uint64_t lastWriteTime) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    const fs::path host = Host(path, Machine::LastPart::kItself);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(host, error);
    if (fs::exists(status) || fs::is_symlink(status)) return Fail(kErrorFileExists);
    if (!fs::is_directory(host.parent_path(), error)) return Fail(MissingError(host));
    if (machine_.WriteDenied(path)) return Fail(kErrorAccessDenied);
    if (!host::WriteNewFile(host, bytes)) return Fail(kErrorAccessDenied);
    // A time given is the file's own (a capture keeps the captured file's); otherwise the file
    // is dated by the machine's clock.
    if (lastWriteTime != 0) {
        fs::last_write_time(host, FromFileTime(lastWriteTime), error);
    } else {
        machine_.DateWritten(host);
    }
    machine_.MadeByProgram(path);
    return true;
}

FindData EmulatedFiles::DescribeEntry(const std::string& folder, const std::string& hostPath,
                                      const std::string& name) const {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(hostPath, error))) return Describe(hostPath, name);
    const fs::path target = Host(folder + name);
    if (!target.empty()) return Describe(target, name);
    FindData data;
    data.fileName = name;
    data.attributes = kFileAttributeReparsePoint;
    return data;
}

namespace {

// NTFS lists a folder in the order of its upper-cased names; of names alike but for case (a
// case-sensitive host's), the one the host listed first comes first. The entries from the
// given one on are put in that order where they are, through sort keys: the upper-cased names,
// kept in one text, each with the eight bytes after what all of them begin with as one number
// (a large folder holds one program's files, named alike up to a number), so that nearly
// every comparison is one of numbers and no entry is moved about while they are sorted.
void PutInListingOrder(std::vector<FindData>& entries, std::size_t from) {
    struct SortKey {
        std::uint64_t head = 0;
        std::size_t at = 0;
        std::size_t size = 0;
        std::size_t index = 0;  // the entry's place before the sort
    };
    std::string keyText;
    std::vector<SortKey> keys;
    keys.reserve(entries.size() - from);
    for (std::size_t i = from; i < entries.size(); ++i) {
        const std::string& name = entries[i].fileName;
        keys.push_back({0, keyText.size(), name.size(), i});
        keyText += name;
    }
    keyText = UpperAscii(std::move(keyText));
    const std::string_view text = keyText;
    const auto key = [text](const SortKey& k) { return text.substr(k.at, k.size); };
    std::size_t shared = keys.empty() ? 0 : keys.front().size;
    const std::string_view first = keys.empty() ? std::string_view() : key(keys.front());
    for (const SortKey& k : keys) {
        const std::string_view other = key(k);
        std::size_t same = 0;
        while (same < shared && same < other.size() && first[same] == other[same]) ++same;
        shared = same;
    }
    // A name holds no NUL: a shorter key, filled up with zeros, orders before a longer one.
    for (SortKey& k : keys) {
        for (std::size_t i = shared; i < shared + 8; ++i) {
            k.head = k.head << 8 | (i < k.size ? static_cast<unsigned char>(text[k.at + i]) : 0U);
        }
    }
    const std::size_t past = shared + 8;
    std::sort(keys.begin(), keys.end(), [&key, past](const SortKey& a, const SortKey& b) {
        if (a.head != b.head) return a.head < b.head;
        const int order =
            key(a).substr(std::min(past, a.size)).compare(key(b).substr(std::min(past, b.size)));
        return order != 0 ? order < 0 : a.index < b.index;
    });
    // Place from + i takes the entry keys[i] names: each cycle of the order is followed once,
    // a key marked done by naming its own place.
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].index == from + i) continue;
        FindData held = std::move(entries[from + i]);
        std::size_t place = i;
        while (true) {
            const std::size_t taken = keys[place].index;
            keys[place].index = from + place;
            if (taken == from + i) {
                entries[from + place] = std::move(held);
                break;
            }
            entries[from + place] = std::move(entries[taken]);
            place = taken - from;
        }
    }
}

}  // namespace

bool EmulatedFiles::FindFiles(const char* pattern, std::vector<FindData>* found) {
    // What a started program wrote is dated by a pinned system clock before it is listed.
    if (machine_.PinnedSystemTime()) machine_.SettleProgramWrites();
    if (const DWORD refused = NameError(pattern, true)) {
        if (found) found->clear();
        return Fail(refused);
    }
    std::string text = pattern ? pattern : "";
    const auto last = text.find_last_of("\\/");
    const std::string folderPart = last == std::string::npos ? "" : text.substr(0, last + 1);
    const std::string namePart = last == std::string::npos ? text : text.substr(last + 1);
    const std::string folderText = folderPart.empty() ? "C:\\" : folderPart;
    const fs::path folder = Host(folderText);
    if (folder.empty()) {
        if (found) found->clear();
        return Fail(kErrorCantResolveFilename);
    }
    std::vector<FindData> result;
    std::error_code error;
    // The folder is opened before the name is looked at: a missing one fails with
    // ERROR_PATH_NOT_FOUND, a file in its place with ERROR_DIRECTORY, and an empty name in a
    // folder that is there with ERROR_FILE_NOT_FOUND.
    if (namePart.empty() || !fs::is_directory(folder, error)) {
        if (found) found->clear();
        // The host sees nothing at all behind a file's name with a separator after it.
        const fs::path itself = folder.has_filename() ? folder : folder.parent_path();
        if (fs::is_directory(itself, error)) return Fail(kErrorFileNotFound);
        return Fail(fs::exists(itself, error) ? kErrorDirectory : kErrorPathNotFound);
    }
    // NUL is the null device in every folder, listed as an empty file.
    if (IsNulDevice(pattern)) {
        FindData device;
        device.fileName = namePart;
        device.attributes = kFileAttributeArchive;
        if (found) *found = {device};
        machine_.lastError = kErrorNoMoreFiles;
        return true;
    }
    const bool isRoot = folder == Host(folderPart.substr(0, 2) + "\\");
    if (!isRoot) {
        for (const char* dots : {".", ".."}) {
            if (WildcardMatch(namePart, dots)) result.push_back(Describe(folder, dots));
        }
    }
    const std::size_t listedFrom = result.size();
    const bool all = namePart == "*";
    // The folder's names as the host lists them: no path object is built for an entry that the
    // pattern leaves out, and none is taken apart for one that it takes.
    host::ForEachName(folder, [&](const std::string& path, const std::string& name,
                                  const host::Describer& describe) {
        if (all || WildcardMatch(namePart, name)) {
            FindData data;
            if (!describe(&data)) data = DescribeEntry(folderText, path, name);
            result.push_back(std::move(data));
        }
    });
    PutInListingOrder(result, listedFrom);
    const bool none = result.empty();
    if (found) *found = std::move(result);
    if (none) return Fail(kErrorFileNotFound);
    // The walk ends when FindNextFileA has nothing more: the caller sees ERROR_NO_MORE_FILES.
    machine_.lastError = kErrorNoMoreFiles;
    return true;
}

bool EmulatedFiles::AppendToFile(const char* path, const std::string& bytes) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    if (IsNulDevice(path)) return true;
    const fs::path host = Host(path, Machine::LastPart::kItself);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::is_directory(host.parent_path(), error)) return Fail(kErrorPathNotFound);
    if (machine_.Held(host)) return Fail(kErrorSharingViolation);
    // The name itself, not what a link there points to: a link to a folder is a folder that
    // cannot be opened as a file, any other link is not written through, nor a file that has
    // another name too.
    const fs::file_status status = fs::symlink_status(host, error);
    if (fs::is_symlink(status)) {
        return Fail(fs::is_directory(host, error) ? kErrorAccessDenied : kErrorCantAccessFile);
    }
    if (fs::is_directory(status) ||
        (fs::exists(status) &&
         (status.permissions() & fs::perms::owner_write) == fs::perms::none) ||
        machine_.WriteDenied(path)) {
        return Fail(kErrorAccessDenied);
    }
    if (fs::is_regular_file(status) && HardLinkCount(host) != 1) {
        return Fail(kErrorCantAccessFile);
    }
    std::ofstream out(host, std::ios::binary | std::ios::app);
    if (!out) return Fail(kErrorAccessDenied);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) return Fail(39 /*ERROR_HANDLE_DISK_FULL*/);
    out.close();
    machine_.DateWritten(host);
    return true;
}

bool EmulatedFiles::ReadWholeFile(const char* path, std::string* bytes) {
    if (const DWORD refused = NameError(path)) return Fail(refused);
    if (IsNulDevice(path)) {
        if (bytes) bytes->clear();
        return true;
    }
    const fs::path host = Host(path);
    if (host.empty()) return Fail(kErrorCantResolveFilename);
    std::error_code error;
    if (!fs::exists(host, error)) return Fail(MissingError(host));
    if (fs::is_directory(host, error)) return Fail(kErrorAccessDenied);
    std::ifstream in(host, std::ios::binary);
    if (!in) return Fail(kErrorAccessDenied);
    std::ostringstream content;
    content << in.rdbuf();
    if (bytes) *bytes = content.str();
    return true;
}

// A symbolic link on the host is a reparse point. Its owner is [ReparseOwners] <Windows path>
// of machine.ini: SYSTEM or Administrators for a link an administrator made, anything else (or
// nothing) for a standard user's. Only the path itself counts, as GetFileAttributesA answers for
// the last part of a path.
DWORD EmulatedFiles::GetReparsePointOwner(const char* path, bool* reparsePoint, bool* adminOwned) {
    *reparsePoint = false;
    *adminOwned = false;
    if (const DWORD refused = NameError(path)) return refused;
    const fs::path host = Host(path, Machine::LastPart::kItself);
    if (host.empty()) return kErrorCantResolveFilename;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(host, error);
    if (error || !fs::exists(status)) return MissingError(host);
    if (!fs::is_symlink(status)) return 0;
    *reparsePoint = true;
    std::string name = path;
    while (name.size() > 3 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
    const std::string owner = UpperAscii(machine_.facts().Get("ReparseOwners", name).value_or(""));
    *adminOwned = owner == "SYSTEM" || owner == "ADMINISTRATORS";
    return 0;
}

// The owner is Machine::FileOwner (an account or a SID), the accounts that may change the path
// Machine::ChangeRights; each is trusted or not by its SID (Machine::TrustedAccount). An owner
// "unreadable" makes the call fail with ERROR_ACCESS_DENIED, as a descriptor the program may
// not read does.
DWORD EmulatedFiles::GetOwnerAndRights(const char* path, FileSecurity* security) {
    *security = FileSecurity{};
    if (const DWORD refused = NameError(path)) return refused;
    const fs::path host = Host(path);
    if (host.empty()) return kErrorCantResolveFilename;
    std::error_code error;
    if (!fs::exists(host, error)) return MissingError(host);
    const std::string owner = machine_.FileOwner(path);
    if (EqualsNoCase(owner, "unreadable")) return kErrorAccessDenied;
    security->owner = machine_.AccountSid(owner);
    security->ownerTrusted = machine_.TrustedAccount(security->owner);
    if (!security->ownerTrusted) security->ownerName = machine_.AccountName(security->owner);
    const auto accounts = machine_.ChangeRights(path);
    security->othersMayChange =
        !std::all_of(accounts.begin(), accounts.end(), [this](const std::string& account) {
            return machine_.TrustedAccount(machine_.AccountSid(account));
        });
    return 0;
}

DWORD EmulatedFiles::LookupAccountNameA(const char* name, Sid* sid) {
    sid->clear();
    if (!name || !*name) return kErrorNoneMapped;
    *sid = machine_.AccountSid(name);
    return sid->empty() ? kErrorNoneMapped : 0;
}

DWORD EmulatedFiles::GetAdministratorsMembers(std::vector<Sid>* members) {
    *members = machine_.AdministratorsMembers();
    return 0;
}

bool EmulatedFiles::EqualSid(const Sid& a, const Sid& b) {
    return !SidText(a).empty() && a == b;
}

// The file is held in the machine: until the handle is closed, deleting, moving, replacing or
// writing it fails with ERROR_SHARING_VIOLATION.
DWORD EmulatedFiles::OpenFileToHold(const char* path, HANDLE* handle) {
    *handle = 0;
    if (const DWORD refused = NameError(path)) return refused;
    const fs::path host = Host(path);
    if (host.empty()) return kErrorCantResolveFilename;
    std::error_code error;
    if (!fs::exists(host, error)) return MissingError(host);
    if (fs::is_directory(host, error)) return kErrorAccessDenied;
    Machine::Object object;
    object.kind = Machine::Object::Kind::File;
    object.hostPath = host.string();
    *handle = machine_.NewHandle(object);
    return 0;
}

// [System] SystemDirectory (C:\\Windows\\system32 when absent); an empty value makes the call
// fail, as nothing on a working Windows does.
DWORD EmulatedFiles::GetSystemDirectoryA(char* buffer, DWORD size) {
    const std::string folder = SystemDirectory();
    if (folder.empty()) {
        machine_.lastError = kErrorInvalidFunction;
        return 0;
    }
    const auto length = static_cast<DWORD>(folder.size());
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return length;
}

// The emulated process works in C:\ (a machine folder's path without a drive lies on C:), so a
// relative path is relative to the root of its drive.
bool EmulatedFiles::GetFullPathNameA(const char* path, std::string* full) {
    if (!path || !*path || !full) return Fail(kErrorInvalidParameter);
    char drive = 0;
    const std::vector<std::string> parts = ResolvedPathParts(path, &drive);
    std::string result = drive ? std::string(1, drive) + ":" : "\\";
    for (const std::string& part : parts) result += "\\" + part;
    const char last = path[std::strlen(path) - 1];
    if (parts.empty() || last == '\\' || last == '/') result += '\\';
    *full = result;
    return true;
}

bool EmulatedFiles::IsWow64Process(bool* wow64) {
    if (!wow64) return Fail(kErrorInvalidParameter);
    *wow64 = machine_.wow64();
    // The answer decides where the program looks for the system folder's files: journalled, so
    // that a run shows which kind of process it took itself for.
    machine_.Journal(*wow64 ? "IsWow64Process TRUE" : "IsWow64Process FALSE");
    return true;
}

// The state handed out: the address of one of two markers, for redirection on before the call or
// off already.
namespace {
char redirectionWasOn;
char redirectionWasOff;
}  // namespace

bool EmulatedFiles::Wow64DisableWow64FsRedirection(void** oldValue) {
    if (!machine_.wow64()) return Fail(kErrorInvalidFunction);
    if (!oldValue) return Fail(kErrorInvalidParameter);
    *oldValue = machine_.fsRedirectionDisabled ? &redirectionWasOff : &redirectionWasOn;
    machine_.fsRedirectionDisabled = true;
    machine_.Journal("Wow64DisableWow64FsRedirection");
    return true;
}

bool EmulatedFiles::Wow64RevertWow64FsRedirection(void* oldValue) {
    if (!machine_.wow64()) return Fail(kErrorInvalidFunction);
    if (oldValue != &redirectionWasOn && oldValue != &redirectionWasOff) {
        return Fail(kErrorInvalidParameter);
    }
    machine_.fsRedirectionDisabled = oldValue == &redirectionWasOff;
    machine_.Journal("Wow64RevertWow64FsRedirection");
    return true;
}

}  // namespace platform::emulated
