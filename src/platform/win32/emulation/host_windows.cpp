// The emulated host's services of Windows, for the Windows test binary that holds the emulation
// next to the real implementation.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "platform/emulated/host.h"
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

void ForEachName(
    const std::filesystem::path& folder,
    const std::function<void(const std::string& path, const std::string& name)>& each) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        each(entry.path().string(), entry.path().filename().string());
    }
}

}  // namespace platform::emulated::host
