// The Win32 world: only in the Windows test binary.
#ifdef RS_CONTRACT_WIN32

#include <atomic>

#include "contract_fixture.h"
#include "platform/emulated/reg_file.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace contract {

namespace fs = std::filesystem;

struct Win32World::Parts {
    std::unique_ptr<platform::Profile> profile = platform::win32::MakeWin32Profile();
    std::unique_ptr<platform::Registry> registry = platform::win32::MakeWin32Registry();
    std::unique_ptr<platform::Files> files = platform::win32::MakeWin32Files();
};

Win32World::Win32World() : parts_(std::make_unique<Parts>()) {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
    std::string base(temp);
    if (base.back() != '\\') base += '\\';
    for (;;) {
        const std::string folder = base + "rs-contract-" + std::to_string(::GetCurrentProcessId()) +
                                   "-" + std::to_string(counter++);
        if (::CreateDirectoryA(folder.c_str(), nullptr)) {
            scratch_ = folder + "\\";
            cleanup_ = fs::path(folder);
            break;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot make " + folder);
        }
    }
}

bool Win32World::SetRights(const std::string& windowsPath, const char* sddl, const char*) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    const bool ok =
        ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
        ::SetNamedSecurityInfoA(const_cast<char*>(windowsPath.c_str()), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    return ok;
}

std::string Win32World::RightsText(const std::string& windowsPath) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoA(windowsPath.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return "?";
    }
    char* text = nullptr;
    const bool ok = ::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
    ::LocalFree(descriptor);
    if (!ok) return "?";
    std::string sddl = text;
    ::LocalFree(text);
    if (sddl.rfind("D:PAI(", 0) == 0) sddl.erase(3, 2);
    return sddl;
}

Win32World::~Win32World() {
    parts_.reset();
    RemoveCleanupFolder();
}

platform::Profile& Win32World::profile() {
    return *parts_->profile;
}
platform::Registry& Win32World::registry() {
    return *parts_->registry;
}
platform::Files& Win32World::files() {
    return *parts_->files;
}
platform::DWORD Win32World::LastError() {
    return ::GetLastError();
}
bool Win32World::CloseFileHandle(platform::HANDLE handle) {
    return ::CloseHandle(reinterpret_cast<::HANDLE>(handle)) != FALSE;
}
void Win32World::SetLastError(platform::DWORD error) {
    ::SetLastError(error);
}

bool Win32World::OnWine() const {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Win32World::AnsiText(const std::string& utf8) const {
    const int length = static_cast<int>(utf8.size());
    const int wideLength =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, wide.data(),
                          wideLength);
    BOOL lossy = FALSE;
    const int ansiLength = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                                 wideLength, nullptr, 0, nullptr, &lossy);
    if (ansiLength <= 0 || lossy) return {};
    std::string ansi(static_cast<std::size_t>(ansiLength), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, ansi.data(),
                          ansiLength, nullptr, &lossy);
    return lossy ? std::string() : ansi;
}

namespace {

// The suites keep their keys below this name, in both views, and nowhere else.
constexpr const char* kSuiteKeys[] = {"SOFTWARE\\RSContract", "SOFTWARE\\WOW6432Node\\RSContract"};

void WriteKey(const std::string& path, const platform::emulated::RegKey& key) {
    HKEY handle = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                          KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &handle,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create HKLM\\" + path);
    }
    for (const auto& value : key.values) {
        // RegSetValueExA stores one byte more for text when a NUL follows the data in memory, so
        // the data is handed over with a non-NUL byte after it: text without its NUL stays so.
        std::string data = value.data + "X";
        ::RegSetValueExA(handle, value.name.c_str(), 0, value.type,
                         reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(value.data.size()));
    }
    ::RegCloseKey(handle);
    for (const auto& sub : key.subKeys) WriteKey(path + "\\" + sub->name, *sub);
}

}  // namespace

// Writes the export's keys into the real HKEY_LOCAL_MACHINE through the 64-bit view, so that
// SOFTWARE\WOW6432Node\... is the 32-bit view as on 64-bit Windows. Only keys below the suites'
// own names are accepted; they are removed first.
bool Win32World::SeedRegistry(const std::string& regExportText) {
    for (const char* key : kSuiteKeys) {
        HKEY parent = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) ==
            ERROR_SUCCESS) {
            ::RegDeleteTreeA(parent, key);
            ::RegCloseKey(parent);
        }
    }
    const auto hive = platform::emulated::RegHive::Parse(regExportText);
    for (const auto& top : hive.root().subKeys) {
        std::string path = top->name;
        if (path != "SOFTWARE") throw std::runtime_error("contract keys live below SOFTWARE");
        for (const auto& sub : top->subKeys) {
            const bool allowed = sub->name == "RSContract" || sub->name == "WOW6432Node";
            if (!allowed) throw std::runtime_error("contract keys live below SOFTWARE\\RSContract");
            WriteKey(path + "\\" + sub->name, *sub);
        }
    }
    return true;
}

fs::path Win32World::HostPath(const std::string& windowsPath) const {
    return fs::path(windowsPath);
}

}  // namespace contract

#endif  // RS_CONTRACT_WIN32
