#include "contract_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/emulated/emulated_files.h"
#include "platform/emulated/emulated_profile.h"
#include "platform/emulated/emulated_registry.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/reg_file.h"

namespace contract {

namespace fs = std::filesystem;

std::string ContractWorld::WindowsPath(const std::string& relative) const {
    return scratch_ + relative;
}

void ContractWorld::WriteRaw(const std::string& windowsPath, const std::string& bytes) {
    std::ofstream out(HostPath(windowsPath), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << windowsPath;
}

std::optional<std::string> ContractWorld::ReadRaw(const std::string& windowsPath) const {
    const fs::path host = HostPath(windowsPath);
    std::error_code error;
    if (!fs::is_regular_file(host, error)) return std::nullopt;
    std::ifstream in(host, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void ContractWorld::MakeFolder(const std::string& windowsPath) {
    std::error_code error;
    fs::create_directories(HostPath(windowsPath), error);
    if (error) ADD_FAILURE() << "cannot make folder " << windowsPath << ": " << error.message();
}

std::vector<std::string> ContractWorld::ListRaw(const std::string& windowsPath) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(HostPath(windowsPath), error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ContractWorld::MakeHardLink(const std::string& existing, const std::string& link) {
    std::error_code error;
    fs::create_hard_link(HostPath(existing), HostPath(link), error);
    return !error;
}

bool ContractWorld::MakeReadOnly(const std::string& windowsPath) {
    const fs::path host = HostPath(windowsPath);
    std::error_code error;
    fs::permissions(host, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
    if (error) ADD_FAILURE() << "cannot make " << windowsPath << " read-only: " << error.message();
    return EnforcesReadOnly(host);
}

bool ContractWorld::EnforcesReadOnly(const fs::path& hostFile) const {
    std::ofstream probe(hostFile, std::ios::binary | std::ios::app);
    return !probe.is_open();
}

void ContractWorld::RemoveCleanupFolder() {
    if (cleanup_.empty()) return;
    std::error_code error;
    // Read-only files are made writable again, or the host refuses to delete them.
    for (auto it = fs::recursive_directory_iterator(cleanup_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(cleanup_, error);
}

// A new, empty folder in the host's temporary folder.
fs::path FreshTemporaryFolder(const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path folder = fs::temp_directory_path() / (prefix + std::to_string(stamp % 1000000007) +
                                                       "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(folder, error)) return folder;
        if (error)
            throw std::runtime_error("cannot make " + folder.string() + ": " + error.message());
    }
}

// ---------------------------------------------------------------------------------------------
// The emulated world.

struct EmulatedWorld::Parts {
    std::unique_ptr<platform::emulated::Machine> machine;
    std::unique_ptr<platform::emulated::EmulatedProfile> profile;
    std::unique_ptr<platform::emulated::EmulatedRegistry> registry;
    std::unique_ptr<platform::emulated::EmulatedFiles> files;
};

EmulatedWorld::EmulatedWorld() : parts_(std::make_unique<Parts>()) {
    cleanup_ = FreshTemporaryFolder("rs-contract-machine-");
    fs::create_directories(cleanup_ / "drives" / "c" / "Contract");
    fs::create_directories(cleanup_ / "registry");
    if (kWow64Process) {
        std::ofstream(cleanup_ / "machine.ini") << "[System]\r\nWow64=1\r\n";
    }
    // The machine reads its folder when it is made: the folder is complete by now.
    MakeFacets();
    scratch_ = "C:\\Contract\\";
}

void EmulatedWorld::MakeFacets() {
    parts_->files.reset();
    parts_->registry.reset();
    parts_->profile.reset();
    parts_->machine = std::make_unique<platform::emulated::Machine>(cleanup_);
    parts_->profile = std::make_unique<platform::emulated::EmulatedProfile>(*parts_->machine);
    parts_->registry = std::make_unique<platform::emulated::EmulatedRegistry>(*parts_->machine);
    parts_->files = std::make_unique<platform::emulated::EmulatedFiles>(*parts_->machine);
}

// The machine's facts are read when it is made: the fact is added and the machine made again.
bool EmulatedWorld::SetRights(const std::string& windowsPath, const char*,
                              const char* emulatedAccounts) {
    std::ofstream(cleanup_ / "machine.ini", std::ios::app)
        << "\r\n[FileRights]\r\n"
        << windowsPath << "=" << emulatedAccounts << "\r\n";
    MakeFacets();
    return true;
}

std::string EmulatedWorld::RightsText(const std::string& windowsPath) {
    const auto fact = parts_->machine->facts().Get("FileRights", windowsPath);
    return fact ? *fact : std::string();
}

EmulatedWorld::~EmulatedWorld() {
    parts_.reset();
    RemoveCleanupFolder();
}

platform::Profile& EmulatedWorld::profile() {
    return *parts_->profile;
}
platform::Registry& EmulatedWorld::registry() {
    return *parts_->registry;
}
platform::Files& EmulatedWorld::files() {
    return *parts_->files;
}
platform::DWORD EmulatedWorld::LastError() {
    return parts_->machine->lastError;
}
bool EmulatedWorld::CloseFileHandle(platform::HANDLE handle) {
    return parts_->machine->Close(handle, {platform::emulated::Machine::Object::Kind::File});
}
void EmulatedWorld::SetLastError(platform::DWORD error) {
    parts_->machine->lastError = error;
}

bool EmulatedWorld::SeedRegistry(const std::string& regExportText) {
    parts_->machine->hive() = platform::emulated::RegHive::Parse(regExportText);
    return true;
}

fs::path EmulatedWorld::HostPath(const std::string& windowsPath) const {
    return parts_->machine->HostPath(windowsPath);
}

// The emulation itself refuses writes to files without the owner's write permission, whoever
// the host user is.
bool EmulatedWorld::EnforcesReadOnly(const fs::path&) const {
    return true;
}

// ---------------------------------------------------------------------------------------------

bool ExpectsWineAnswer(bool onWine, const char* caseName, const char* wineNote) {
    if (!wineNote || !onWine) return false;
    std::printf("[ WINE     ] %s: expecting Wine's recorded answer: %s\n", caseName, wineNote);
    return true;
}

std::string Escaped(const std::string& bytes) {
    constexpr std::size_t kShown = 400;
    std::string out;
    for (const unsigned char c : bytes.substr(0, kShown)) {
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    if (bytes.size() > kShown) out += "...(" + std::to_string(bytes.size()) + " bytes)";
    return "\"" + out + "\"";
}

}  // namespace contract
