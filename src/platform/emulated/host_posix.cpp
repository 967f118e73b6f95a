// The emulated host's services of a POSIX system (the Linux build).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/emulated/host.h"

namespace platform::emulated::host {

bool LocalTime(std::time_t seconds, std::tm* tm) {
    return localtime_r(&seconds, tm) != nullptr;
}

bool UtcTime(std::time_t seconds, std::tm* tm) {
    return gmtime_r(&seconds, tm) != nullptr;
}

std::uint64_t TickCount64() {
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    return static_cast<std::uint64_t>(boot.tv_sec) * 1000 +
           static_cast<std::uint64_t>(boot.tv_nsec / 1000000);
}

DWORD OwnProcessId() {
    return static_cast<DWORD>(::getpid());
}

int TakeFileLock(const std::filesystem::path& path, bool* heldElsewhere) {
    const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    // An unusable lock cannot tell of another instance.
    *heldElsewhere = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    return fd;
}

void ReleaseFileLock(int descriptor) {
    if (descriptor >= 0) ::close(descriptor);
}

bool WriteNewFile(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const bool complete = written == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!complete) {
        std::error_code error;
        std::filesystem::remove(path, error);
        return false;
    }
    return true;
}

namespace {

bool FromStat(const struct stat& info, const std::string& name, FindData* data) {
    if (!(S_ISDIR(info.st_mode) || S_ISREG(info.st_mode))) return false;
    data->fileName = name;
    const bool directory = S_ISDIR(info.st_mode);
    data->attributes = directory ? kFileAttributeDirectory : kFileAttributeArchive;
    if ((info.st_mode & S_IWUSR) == 0) data->attributes |= kFileAttributeReadonly;
    data->size = directory ? 0 : static_cast<std::uint64_t>(info.st_size);
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    const std::int64_t nanoseconds =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    data->lastWriteTime = static_cast<std::uint64_t>(nanoseconds / 100 + k1601To1970);
    return true;
}

}  // namespace

// One stat answers for a folder or a plain file what Describe asks one call at a time; a large
// folder is listed with one system call a file instead of four.
bool QuickDescribe(const std::string& path, const std::string& name, FindData* data) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && FromStat(info, name, data);
}

Entry Look(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return Entry::Missing;
    if (S_ISLNK(info.st_mode)) return Entry::Link;
    return S_ISDIR(info.st_mode) ? Entry::Folder : Entry::Other;
}

std::string NameWithoutCase(const std::string& folder, const std::string& name) {
    struct CloseListing {
        void operator()(DIR* listing) const { ::closedir(listing); }
    };
    const std::unique_ptr<DIR, CloseListing> listing(::opendir(folder.c_str()));
    if (!listing) return {};
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    while (const dirent* entry = ::readdir(listing.get())) {
        const char* candidate = entry->d_name;
        std::size_t i = 0;
        while (i < name.size() && candidate[i] != '\0' && upper(candidate[i]) == upper(name[i]))
            ++i;
        if (i == name.size() && candidate[i] == '\0' && std::strcmp(candidate, ".") != 0 &&
            std::strcmp(candidate, "..") != 0) {
            return candidate;
        }
    }
    return {};
}

// The folder's names straight from the system: no path object is built for an entry, and an
// entry is described relative to the open folder.
void ForEachName(const std::filesystem::path& folder,
                 const std::function<void(const std::string& path, const std::string& name,
                                          const Describer& describe)>& each) {
    // Closed on every path, also when an entry's description fails.
    struct CloseListing {
        void operator()(DIR* listing) const { ::closedir(listing); }
    };
    const std::unique_ptr<DIR, CloseListing> listing(::opendir(folder.c_str()));
    if (!listing) return;
    std::string path = folder.string() + '/';
    const std::size_t stem = path.size();
    const int descriptor = ::dirfd(listing.get());
    std::string name;
    const Describer describe = [&](FindData* data) {
        struct stat info {};
        // A link is not followed here: the caller resolves it as the machine does.
        return ::fstatat(descriptor, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
               FromStat(info, name, data);
    };
    while (const dirent* entry = ::readdir(listing.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        name = entry->d_name;
        path.resize(stem);
        path += name;
        each(path, name, describe);
    }
}

}  // namespace platform::emulated::host
