// Program facts: the running program's own file name, version resource, command line and the
// instance mutex.
#include <string>
#include <vector>

#include "platform/win32/system_library.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"
#include "version.h"

namespace platform::win32 {
namespace {

// Shared by every instance of the program, in whichever session it runs (the agent starts it as
// the local system account; an administrator may start it from a desktop).
constexpr char kInstanceMutexName[] = "Global\\RebootScheduler.Instance";

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

    bool PreviousInstanceRunning() override {
        if (!instanceChecked_) {
            instanceChecked_ = true;
            const ::HANDLE mutex = ::CreateMutexA(nullptr, FALSE, kInstanceMutexName);
            const ::DWORD error = ::GetLastError();
            previousInstance_ = InstanceMutexTellsOfEarlierInstance(mutex != nullptr, error);
            // Left open on purpose: the mutex marks this instance until the process ends.
            instanceMutex_.reset(mutex);
        }
        return previousInstance_;
    }

private:
    bool instanceChecked_ = false;
    bool previousInstance_ = false;
    UniqueKernelHandle instanceMutex_;
};

}  // namespace

std::unique_ptr<Self> MakeWin32Self() {
    return std::make_unique<Win32Self>();
}

}  // namespace platform::win32
