#include "platform/emulated/emulated_profile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/emulated/host.h"
#include "platform/emulated/ini_text.h"

namespace platform::emulated {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kValueLengthModulus = 65536;

bool IsReadOnly(const fs::path& path) {
    std::error_code error;
    const auto perms = fs::status(path, error).permissions();
    return !error && (perms & fs::perms::owner_write) == fs::perms::none;
}

// How the profile file of a call turned out: read (bytes), missing (its folder exists), or not
// to be opened at all (error).
struct Opened {
    fs::path host;
    bool exists = false;
    DWORD error = 0;
    std::string bytes;
};

Opened Open(const Machine& machine, const char* fileName, bool forWriting) {
    Opened opened;
    const std::string name = fileName ? fileName : "win.ini";
    if (name.empty()) {
        // The name resolves to the Windows folder itself.
        opened.error = kErrorAccessDenied;
        return opened;
    }
    // A bare file name is looked for in the Windows folder.
    opened.host = machine.HostPath(
        name.find_first_of("\\/:") == std::string::npos ? "C:\\Windows\\" + name : name);
    std::error_code error;
    const auto status = fs::status(opened.host, error);
    if (fs::is_directory(status) || (forWriting && fs::exists(status) && IsReadOnly(opened.host))) {
        opened.error = kErrorAccessDenied;
    } else if (!fs::exists(status)) {
        if (!fs::is_directory(opened.host.parent_path(), error)) opened.error = kErrorPathNotFound;
    } else {
        std::ifstream in(opened.host, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        if (!in) {
            opened.error = kErrorAccessDenied;
        } else {
            opened.exists = true;
            opened.bytes = content.str();
        }
    }
    return opened;
}

DWORD CopyOut(std::string_view text, char* buffer, DWORD size) {
    const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

std::string TemporaryName(const fs::path& target) {
    std::random_device random;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x%08x.tmp", random(), random());
    return target.filename().string() + suffix;
}

// Writes bytes to a new file beside target and renames it over target, keeping target's
// permissions. A symbolic link is written through, as Windows writes through it, not replaced.
bool ReplaceFile(const fs::path& named, const std::string& bytes) {
    std::error_code error;
    const fs::path target = fs::is_symlink(fs::symlink_status(named, error))
                                ? fs::weakly_canonical(named, error)
                                : named;
    const fs::path temporary = target.parent_path() / TemporaryName(target);
    if (!host::WriteNewFile(temporary, bytes)) return false;
    const auto status = fs::status(target, error);
    if (fs::exists(status)) fs::permissions(temporary, status.permissions(), error);
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace

DWORD EmulatedProfile::GetPrivateProfileStringA(const char* section, const char* key,
                                                const char* defaultValue, char* buffer, DWORD size,
                                                const char* fileName) {
    if (size == 0) {
        // Nothing fits, not even the NUL: the buffer stays as it was.
        machine_.lastError = kErrorMoreData;
        return 0;
    }
    if (!buffer) return 0;
    if (!section || !key) {
        buffer[0] = '\0';
        machine_.lastError = kErrorInvalidParameter;
        return 0;
    }
    // Trailing spaces (spaces only) leave the default; of a default made of spaces one stays.
    std::string_view fallback = defaultValue ? defaultValue : "";
    while (fallback.size() > 1 && fallback.back() == ' ') fallback.remove_suffix(1);

    const Opened opened = Open(machine_, fileName, false);
    if (opened.error) {
        // A file that cannot be opened gives the default as it is, quotes and all.
        machine_.lastError = opened.error;
        return CopyOut(fallback, buffer, size);
    }
    std::optional<std::string> value;
    if (opened.exists) value = ini::Lookup(ini::Decode(opened.bytes).body, section, key);
    // A missing file, section or key leaves ERROR_FILE_NOT_FOUND, a value cut to the buffer
    // ERROR_MORE_DATA; a value read whole leaves the last error as it was.
    std::string_view text = ini::Unquote(value ? std::string_view(*value) : fallback);
    // A value's length is a 16-bit count: 65,535 characters come out whole, 65,536 as nothing,
    // and a longer one as its length modulo 65,536 (its first characters), without an error.
    if (value) text = text.substr(0, text.size() % kValueLengthModulus);
    if (!value) machine_.lastError = kErrorFileNotFound;
    if (text.size() >= size) machine_.lastError = kErrorMoreData;
    return CopyOut(text, buffer, size);
}

bool EmulatedProfile::WritePrivateProfileStringA(const char* section, const char* key,
                                                 const char* value, const char* fileName) {
    // No key: the section is removed. No value with a key (deleting one key) is not used.
    if (!section || (key && !value)) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    const Opened opened = Open(machine_, fileName, true);
    if (opened.error) {
        machine_.lastError = opened.error;
        return false;
    }
    ini::Text text = opened.exists ? ini::Decode(opened.bytes) : ini::Text{};
    if (!key && !opened.exists) return true;  // nothing to remove, and no file is made for it
    auto edited = key ? ini::Assign(text, section, key, value) : ini::RemoveSection(text, section);
    if (!edited) return true;  // the file already says so and is left alone
    text.body = std::move(*edited);
    if (machine_.WriteDenied(fileName) || !ReplaceFile(opened.host, ini::Encode(text))) {
        machine_.lastError = kErrorAccessDenied;
        return false;
    }
    machine_.DateWritten(opened.host);
    // Windows opens the file before it creates it: a new file leaves that first failure behind.
    if (!opened.exists) machine_.lastError = kErrorFileNotFound;
    return true;
}

}  // namespace platform::emulated
