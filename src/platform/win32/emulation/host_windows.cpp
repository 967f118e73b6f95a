// The emulated host's services of Windows, for the Windows test binary that holds the emulation
// next to the real implementation.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "platform/emulated/host.h"
#include "platform/emulated/text_codec.h"
#include "platform/win32/windows_include.h"

namespace platform::emulated::host {

bool LocalTime(std::time_t seconds, std::tm* tm) {
    return localtime_s(tm, &seconds) == 0;
}

bool UtcTime(std::time_t seconds, std::tm* tm) {
    return gmtime_s(tm, &seconds) == 0;
}

std::uint64_t TickCount64() {
    return ::GetTickCount64();
}

DWORD OwnProcessId() {
    return 4242;
}

int TakeFileLock(const std::filesystem::path& path, bool* heldElsewhere) {
    int fd = -1;
    if (_sopen_s(&fd, path.string().c_str(), _O_CREAT | _O_RDWR, _SH_DENYRW,
                 _S_IREAD | _S_IWRITE) != 0) {
        *heldElsewhere = errno == EACCES;
        return -1;
    }
    *heldElsewhere = false;
    return fd;
}

void ReleaseFileLock(int descriptor) {
    if (descriptor >= 0) _close(descriptor);
}

bool WriteNewFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
        out.close();
        std::error_code error;
        std::filesystem::remove(path, error);
        return false;
    }
    return true;
}

bool QuickDescribe(const std::string& /*path*/, const std::string& /*name*/, FindData* /*data*/) {
    return false;
}

Entry Look(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (std::filesystem::is_symlink(status)) return Entry::Link;
    if (!std::filesystem::exists(status)) return Entry::Missing;
    return std::filesystem::is_directory(status) ? Entry::Folder : Entry::Other;
}

std::string NameWithoutCase(const std::string& folder, const std::string& name) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string candidate = entry.path().filename().string();
        if (EqualsNoCase(candidate, name)) return candidate;
    }
    return {};
}

void ForEachName(const std::filesystem::path& folder,
                 const std::function<void(const std::string& path, const std::string& name,
                                          const Describer& describe)>& each) {
    const Describer none = [](FindData* /*data*/) { return false; };
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        each(entry.path().string(), entry.path().filename().string(), none);
    }
}

}  // namespace platform::emulated::host
