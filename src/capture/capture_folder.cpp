#include "capture/capture_folder.h"

#include <cctype>
#include <chrono>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

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

bool WriteFile(const fs::path& path, const std::string& bytes, std::string* error) {
    std::error_code code;
    fs::create_directories(path.parent_path(), code);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

// A FILETIME (100 ns ticks since 1601, UTC) as the file's own time.
void SetLastWriteTime(const fs::path& path, std::uint64_t fileTime) {
    if (fileTime == 0) return;
    using namespace std::chrono;
    constexpr std::int64_t k1601To1970 = 116444736000000000LL;
    const sys_time<nanoseconds> system{
        nanoseconds((static_cast<std::int64_t>(fileTime) - k1601To1970) * 100)};
    std::error_code code;
    fs::last_write_time(path, file_clock::from_sys(system), code);
}

}  // namespace

fs::path FolderPath(const fs::path& folder, const std::string& windowsPath) {
    std::string rest = windowsPath;
    fs::path base;
    if (rest.rfind("\\\\", 0) == 0) {
        base = folder / "network";
        rest = rest.substr(2);
    } else if (rest.size() >= 2 && rest[1] == ':' &&
               std::isalpha(static_cast<unsigned char>(rest[0]))) {
        base = folder / "drives" /
               std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0]))));
        rest = rest.substr(2);
    } else {
        base = folder / "drives" / "c";
    }
    fs::path path = base;
    std::size_t start = 0;
    while (start <= rest.size()) {
        const std::size_t end = std::min(rest.find('\\', start), rest.size());
        const std::string part = rest.substr(start, end - start);
        // "." and ".." name no file of a captured path; they would lead out of the folder.
        if (!part.empty() && part != "." && part != "..") path /= part;
        start = end + 1;
    }
    return path;
}

bool InsideFolder(const std::string& path, const std::string& folder) {
    if (folder.empty()) return false;
    const std::string p = Normal(path);
    const std::string f = Normal(folder);
    return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 &&
                      (f.back() == '/' || p[f.size()] == '/'));
}

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
        if (auto edited =
                platform::emulated::ini::Assign({platform::emulated::ini::Encoding::kAnsi, body},
                                                fact.section, fact.name, fact.value)) {
            body = *edited;
        }
    }
    return body;
}

bool WriteCaptureFolder(const MachineCapture& capture, const std::string& manifest,
                        const fs::path& folder, std::string* error) {
    if (!WriteFile(folder / "registry" / "HKLM.reg", capture.hive.Serialize(), error)) return false;
    for (const CapturedFile& file : capture.files) {
        const fs::path path = FolderPath(folder, file.path);
        if (!WriteFile(path, file.bytes, error)) return false;
        SetLastWriteTime(path, file.lastWriteTime);
    }
    for (const std::string& windowsPath : capture.folders) {
        std::error_code code;
        fs::create_directories(FolderPath(folder, windowsPath), code);
    }
    // Every drive exists, even one with nothing captured on it.
    std::error_code code;
    fs::create_directories(folder / "drives" / "c", code);
    if (!WriteFile(folder / "machine.ini", IniText(capture.facts, "Facts of the captured machine."),
                   error)) {
        return false;
    }
    std::vector<Fact> notes = capture.notes;
    notes.insert(notes.end(), capture.failed.begin(), capture.failed.end());
    if (!WriteFile(folder / "capture.ini", IniText(notes, "How this machine folder was captured."),
                   error)) {
        return false;
    }
    return manifest.empty() || WriteFile(folder / "redaction.ini", manifest, error);
}

}  // namespace capture
