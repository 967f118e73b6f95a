// Program facts: the running program's own file name, version resource, command line and the
// instance mutex.
#include <string>
#include <vector>

#include "platform/win32/security_descriptor.h"
#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"
#include "version.h"

namespace platform::win32 {
namespace {

// The instance mutex's rights: full access for the local system account and for the account
// the program runs as (an earlier copy of the same account opens it as existing), SYNCHRONIZE
// and READ_CONTROL for the Administrators and READ_CONTROL for everyone, so that any later copy
// can read its owner. The owner is the creator's default (the system account, or the
// Administrators for an administrator's copy).
SecurityDescriptor InstanceMutexRights(const SidBuffer& ownUser) {
    std::vector<SecurityDescriptor::Grant> grants{
        {WellKnownSid(WinLocalSystemSid), MUTEX_ALL_ACCESS},
        {WellKnownSid(WinBuiltinAdministratorsSid), SYNCHRONIZE | READ_CONTROL},
        {WellKnownSid(WinWorldSid), READ_CONTROL}};
    if (!ownUser.empty()) grants.push_back({ownUser, MUTEX_ALL_ACCESS});
    return SecurityDescriptor({}, {}, std::move(grants));
}

// The owner of the object of the mutex's name that `mutex` holds (opened with READ_CONTROL at
// least), against the trusted owners.
MutexOwner OwnerOf(::HANDLE mutex, const std::vector<SidBuffer>& ownAccounts, std::string* text) {
    ::PSID owner = nullptr;
    ::PSECURITY_DESCRIPTOR descriptor = nullptr;
    const ::DWORD error = ::GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                            &owner, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) {
        *text = "owner unreadable, error " + std::to_string(error);
        return MutexOwner::NotRead;
    }
    const UniqueLocalMemory ownedDescriptor(descriptor);
    *text = "owner " + SidText(owner);
    return IsTrustedOwner(owner, ownAccounts) ? MutexOwner::Trusted : MutexOwner::Foreign;
}

// The full path of the running executable; empty when even a long buffer cannot hold it.
std::string ModulePath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const ::DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<::DWORD>(buffer.size()));
        if (length == 0) return {};
        // A truncated path fills the whole buffer (Windows 7 and later also set
        // ERROR_INSUFFICIENT_BUFFER; XP did not, so the length is what is checked).
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

// The version block of a file's VERSIONINFO resource, major.minor.revision from the file
// version's three leading words. False when the file carries no resource.
bool ResourceVersion(const std::string& path, ProgramVersion* version) {
    if (path.empty()) return false;
    // VERSION.dll is no KnownDLL: bound from the system folder (system_library.h).
    auto* infoSize = SystemFunction<decltype(::GetFileVersionInfoSizeA)>("version.dll",
                                                                         "GetFileVersionInfoSizeA");
    auto* info =
        SystemFunction<decltype(::GetFileVersionInfoA)>("version.dll", "GetFileVersionInfoA");
    auto* query = SystemFunction<decltype(::VerQueryValueA)>("version.dll", "VerQueryValueA");
    if (!infoSize || !info || !query) return false;
    ::DWORD ignored = 0;
    const ::DWORD size = infoSize(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<char> block(size);
    if (!info(path.c_str(), 0, size, block.data())) return false;
    void* fixed = nullptr;
    ::UINT fixedSize = 0;
    if (!query(block.data(), "\\", &fixed, &fixedSize)) return false;
    if (fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO)) return false;
    const auto* fixedInfo = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    if (fixedInfo->dwSignature != 0xFEEF04BDu) return false;
    version->major = HIWORD(fixedInfo->dwFileVersionMS);
    version->minor = LOWORD(fixedInfo->dwFileVersionMS);
    version->revision = HIWORD(fixedInfo->dwFileVersionLS);
    return true;
}

namespace {

// What follows the program's own name on a command line, split as the Windows C runtime splits
// it for WinMain: a name that opens with a quote runs to the next quote (or the end), any other
// name to the first character at or below the space; then the blanks before the arguments are
// skipped. The arguments themselves are left as they are.
std::string SkipProgramName(const char* commandLine) {
    if (commandLine == nullptr) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(commandLine);
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > ' ') ++p;
    }
    while (*p != '\0' && *p <= ' ') ++p;
    return std::string(reinterpret_cast<const char*>(p));
}

class Win32Self final : public Self {
public:
    std::string ExeName() override {
        std::string name = ModulePath();
        const std::size_t slash = name.find_last_of("\\/");
        if (slash != std::string::npos) name.erase(0, slash + 1);
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos) name.erase(dot);
        return name;
    }

    ProgramVersion Version() override {
        ProgramVersion version;
        if (ResourceVersion(ModulePath(), &version)) return version;
        // Binaries built without the resource (the test programs) report the project version.
        return ProgramVersion{RS_VERSION_MAJOR, RS_VERSION_MINOR, RS_VERSION_PATCH};
    }

    std::string ArgumentText() override { return SkipProgramName(::GetCommandLineA()); }

    InstanceTest PreviousInstanceRunning() override {
        if (instanceChecked_) return answer_;
        instanceChecked_ = true;
        const std::vector<SidBuffer> ownAccounts{ProcessTokenSid(TokenUser),
                                                 ProcessTokenSid(TokenOwner)};
        SecurityDescriptor rights = InstanceMutexRights(ownAccounts[0]);
        // Rights that cannot be built leave the creator's default ones (for the system account:
        // itself and the Administrators); the owner test below still applies.
        ::SECURITY_ATTRIBUTES attributes{sizeof attributes, rights.get(), FALSE};
        const ::HANDLE mutex =
            ::CreateMutexA(rights.get() ? &attributes : nullptr, FALSE, kInstanceMutexName);
        const ::DWORD error = ::GetLastError();
        // Left open on purpose: the mutex marks this instance until the process ends.
        instanceMutex_.reset(mutex);
        MutexOwner owner = MutexOwner::NotRead;
        std::string found;
        if (mutex != nullptr && error == ERROR_ALREADY_EXISTS) {
            owner = OwnerOf(mutex, ownAccounts, &found);
        } else if (mutex == nullptr && error == ERROR_ACCESS_DENIED) {
            // Refused full access: the owner is read through a handle with READ_CONTROL alone,
            // which every instance's mutex grants; an object that refuses even that is none.
            const UniqueKernelHandle existing(
                ::OpenMutexA(READ_CONTROL, FALSE, kInstanceMutexName));
            if (existing) {
                owner = OwnerOf(existing.get(), ownAccounts, &found);
            } else {
                found = "owner unreadable, error " + std::to_string(::GetLastError());
            }
        } else if (mutex == nullptr) {
            found = "another kind of object, error " + std::to_string(error);
        }
        answer_ = InstanceTestOf(JudgeInstanceMutex(mutex != nullptr, error, owner), found);
        return answer_;
    }

private:
    bool instanceChecked_ = false;
    InstanceTest answer_;
    UniqueKernelHandle instanceMutex_;
};

}  // namespace

std::unique_ptr<Self> MakeWin32Self() {
    return std::make_unique<Win32Self>();
}

}  // namespace platform::win32
