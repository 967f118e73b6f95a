#include "capture/capture_folder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/emulated/emulated_files.h"
#include "platform/emulated/host.h"
#include "platform/emulated/ini_text.h"
#include "platform/emulated/text_codec.h"

namespace capture {

namespace fs = std::filesystem;

namespace {

// One path as the comparison sees it: "/" for every separator, upper case, no trailing "/".
std::string Normal(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    path = platform::emulated::UpperAscii(path);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// The output through the files facet, named by Windows paths.
class FacetOutput final : public CaptureOutput {
public:
    FacetOutput(platform::Platform& platform, std::string folder)
        : platform_(platform), folder_(std::move(folder)) {
        while (folder_.size() > 3 && (folder_.back() == '\\' || folder_.back() == '/'))
            folder_.pop_back();
    }

    bool Open(std::string* error) override {
        auto& files = platform_.files();
        bool reparsePoint = false;
        bool adminOwned = false;
        const platform::DWORD found =
            files.GetReparsePointOwner(folder_.c_str(), &reparsePoint, &adminOwned);
        if (reparsePoint) return Refuse(error, "is a link");
        if (found == platform::kErrorFileNotFound || found == platform::kErrorPathNotFound) {
            files.MakeSureDirectoryPathExists(folder_.c_str());  // its parents; a failure shows
            if (!files.CreateProtectedDirectoryA(
                    folder_.c_str(), platform::FolderDacl::kOwnAccountAndAdministrators)) {
                return Refuse(error, "cannot be made: error " +
                                         std::to_string(platform_.system().GetLastError()));
            }
            made_ = true;
            return true;
        }
        const platform::DWORD attributes = files.GetFileAttributesA(folder_.c_str());
        if (found != 0 || attributes == platform::kInvalidFileAttributes ||
            (attributes & platform::kFileAttributeDirectory) == 0) {
            return Refuse(error, "is no folder");
        }
        std::vector<platform::FindData> entries;
        files.FindFiles((folder_ + "\\*").c_str(), &entries);
        for (const auto& entry : entries) {
            if (entry.fileName != "." && entry.fileName != "..")
                return Refuse(error, "is not empty");
        }
        platform::FileSecurity security;
        if (files.GetOwnerAndRights(folder_.c_str(), &security) != 0 || !security.ownerTrusted ||
            security.othersMayChange) {
            return Refuse(error, "may be changed by other accounts");
        }
        return true;
    }

    void Abandon() override {
        if (made_) platform_.files().RemoveDirectoryA(folder_.c_str());
    }

    bool MakeFolder(const std::string& relative) override {
        // Windows' names are one in any case.
        if (!made_folders_.insert(platform::emulated::UpperAscii(relative)).second) return true;
        return platform_.files().CreateDirectoryA(Full(relative).c_str());
    }

    bool WriteNewFile(const std::string& relative, const std::string& bytes,
                      std::uint64_t lastWriteTime) override {
        return platform_.files().WriteNewFile(Full(relative).c_str(), bytes, lastWriteTime);
    }

private:
    std::string Full(const std::string& relative) const {
        std::string path = folder_ + "\\" + relative;
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    bool Refuse(std::string* error, const std::string& why) const {
        *error = folder_ + " " + why;
        return false;
    }

    platform::Platform& platform_;
    std::string folder_;
    bool made_ = false;
    std::set<std::string> made_folders_;
};

// The output on a POSIX host's own files.
class PosixOutput final : public CaptureOutput {
public:
    explicit PosixOutput(fs::path folder) : folder_(std::move(folder)) {}

    bool Open(std::string* error) override {
        std::error_code code;
        const fs::file_status status = fs::symlink_status(folder_, code);
        if (fs::is_symlink(status)) return Refuse(error, "is a link");
        if (!fs::exists(status)) {
            fs::create_directories(folder_.parent_path(), code);
            if (!fs::create_directory(folder_, code)) return Refuse(error, "cannot be made");
            fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace, code);
            made_ = true;
            return !code || Refuse(error, "cannot be made its account's alone");
        }
        if (!fs::is_directory(status)) return Refuse(error, "is no folder");
        if (!fs::is_empty(folder_, code)) return Refuse(error, "is not empty");
        if ((status.permissions() & (fs::perms::group_write | fs::perms::others_write)) !=
            fs::perms::none) {
            return Refuse(error, "may be changed by other accounts");
        }
        return true;
    }

    void Abandon() override {
        std::error_code code;
        if (made_) fs::remove(folder_, code);
    }

    bool MakeFolder(const std::string& relative) override {
        if (!made_folders_.insert(relative).second) return true;
        std::error_code code;
        // False for a name that is there already, a link included.
        return fs::create_directory(folder_ / relative, code);
    }

    bool WriteNewFile(const std::string& relative, const std::string& bytes,
                      std::uint64_t lastWriteTime) override {
        const fs::path path = folder_ / relative;
        if (!platform::emulated::host::WriteNewFile(path, bytes)) return false;
        std::error_code code;
        if (lastWriteTime != 0) {
            fs::last_write_time(path, platform::emulated::FromFileTime(lastWriteTime), code);
        }
        return true;
    }

private:
    bool Refuse(std::string* error, const std::string& why) const {
        *error = folder_.string() + " " + why;
        return false;
    }

    fs::path folder_;
    bool made_ = false;
    std::set<std::string> made_folders_;
};

}  // namespace

std::unique_ptr<CaptureOutput> FilesOutput(platform::Platform& platform,
                                           const std::string& folder) {
    return std::make_unique<FacetOutput>(platform, folder);
}

std::unique_ptr<CaptureOutput> HostOutput(const fs::path& folder) {
    return std::make_unique<PosixOutput>(folder);
}

std::string RelativePath(const std::string& windowsPath) {
    std::string rest = windowsPath;
    std::string path;
    if (rest.rfind("\\\\", 0) == 0) {
        path = "network";
        rest = rest.substr(2);
    } else if (rest.size() >= 2 && rest[1] == ':' &&
               std::isalpha(static_cast<unsigned char>(rest[0]))) {
        path = std::string("drives/") +
               static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
        rest = rest.substr(2);
    } else {
        path = "drives/c";
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        const std::size_t end = std::min(rest.find('\\', start), rest.size());
        const std::string part = rest.substr(start, end - start);
        // "." and ".." name no file of a captured path; they would lead out of the folder.
        if (!part.empty() && part != "." && part != "..") path += "/" + part;
        start = end + 1;
    }
    return path;
}

fs::path FolderPath(const fs::path& folder, const std::string& windowsPath) {
    return folder / fs::path(RelativePath(windowsPath));
}

bool InsideFolder(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    const std::string p = Normal(path);
    const std::string f = Normal(folder);
    return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 &&
                      (f.back() == '/' || p[f.size()] == '/'));
}

namespace {

// A line break or NUL in a name or value (a registry key's name may hold one) would end the line
// or be read differently by each reader of the file: it is written as '?'.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\0') c = '?';
    }
    return text;
}

}  // namespace

std::string IniText(const std::vector<Fact>& facts, const std::string& comment) {
    std::string body = comment.empty() ? "" : "; " + comment + "\r\n";
    // A name given twice keeps its first value, the one the emulated host reads.
    std::set<std::pair<std::string, std::string>> written;
    for (const Fact& fact : facts) {
        namespace emulated = platform::emulated;
        if (!written
                 .emplace(emulated::UpperAscii(std::string(emulated::ini::Trim(fact.section))),
                          emulated::UpperAscii(std::string(emulated::ini::Trim(fact.name))))
                 .second) {
            continue;
        }
        if (auto edited = platform::emulated::ini::Assign(
                {platform::emulated::ini::Encoding::kAnsi, body}, OneLine(fact.section),
                OneLine(fact.name), OneLine(fact.value))) {
            body = *edited;
        }
    }
    return body;
}

bool WriteCaptureFolder(const MachineCapture& capture, const std::string& manifest,
                        CaptureOutput& output, std::string* error) {
    // Every file once (the last of a name wins, as when each replaced the one before), every
    // folder before what it holds.
    std::map<std::string, std::pair<std::string, std::uint64_t>> files;
    files["registry/HKLM.reg"] = {capture.hive.Serialize(), 0};
    for (const CapturedFile& file : capture.files) {
        files[RelativePath(file.path)] = {file.bytes, file.lastWriteTime};
    }
    files["machine.ini"] = {IniText(capture.facts, "Facts of the captured machine."), 0};
    std::vector<Fact> notes = capture.notes;
    notes.insert(notes.end(), capture.failed.begin(), capture.failed.end());
    files["capture.ini"] = {IniText(notes, "How this machine folder was captured."), 0};
    if (!manifest.empty()) files["redaction.ini"] = {manifest, 0};

    std::set<std::string> folders{"drives/c"};  // every drive exists, even an empty one
    for (const std::string& windowsPath : capture.folders)
        folders.insert(RelativePath(windowsPath));
    for (const auto& [relative, content] : files) {
        const std::size_t slash = relative.rfind('/');
        if (slash != std::string::npos) folders.insert(relative.substr(0, slash));
    }
    std::set<std::string> all;
    for (const std::string& folder : folders) {
        for (std::size_t slash = folder.find('/'); slash != std::string::npos;
             slash = folder.find('/', slash + 1)) {
            all.insert(folder.substr(0, slash));
        }
        all.insert(folder);
    }
    // Sorted, a folder comes before every path below it.
    for (const std::string& folder : all) {
        if (!output.MakeFolder(folder)) {
            *error = "cannot make the folder " + folder + " (made new, never through a link)";
            return false;
        }
    }
    for (const auto& [relative, content] : files) {
        if (!output.WriteNewFile(relative, content.first, content.second)) {
            *error = "cannot write " + relative + " (made new, never through a link)";
            return false;
        }
    }
    return true;
}

bool WriteCaptureFolder(const MachineCapture& capture, const std::string& manifest,
                        const fs::path& folder, std::string* error) {
    const auto output = HostOutput(folder);
    return output->Open(error) && WriteCaptureFolder(capture, manifest, *output, error);
}

}  // namespace capture
