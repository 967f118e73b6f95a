#include "platform_world_fixture.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "contract_fixture.h"
#include "platform/emulated/emulated_platform.h"

#ifdef RS_CONTRACT_WIN32
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_include.h"
#endif

namespace contract {

namespace fs = std::filesystem;

PlatformWorld::~PlatformWorld() {
    platform_.reset();
    std::error_code error;
    if (!cleanup_.empty()) fs::remove_all(cleanup_, error);
}

std::vector<std::string> PlatformWorld::LogLines() const {
    std::ifstream in(logHostPath_, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line.substr(line.find('\t') + 1));
    }
    return lines;
}

EmulatedPlatformWorld::EmulatedPlatformWorld() {
    cleanup_ = FreshTemporaryFolder("rs-platform-world-");
    fs::create_directories(cleanup_ / "registry");
    fs::create_directories(cleanup_ / "drives" / "c" / "Logs");
    platform_ = platform::emulated::MakeEmulatedPlatform(cleanup_, "");
    logPath_ = "C:\\Logs\\world.log";
    logHostPath_ = cleanup_ / "drives" / "c" / "Logs" / "world.log";
}

#ifdef RS_CONTRACT_WIN32

namespace {

// What regsvr32 does: the server's own DllRegisterServer, for each stand-in beside the test
// binary. Once per test process, so that the classes point at this build's servers.
void RegisterStandIns() {
    static const bool registered = [] {
        char path[MAX_PATH + 1] = {};
        ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        const fs::path folder = fs::path(path).parent_path();
        for (const char* name : {"XmlEncryptor.dll", "Postbird.dll"}) {
            const std::string dll = (folder / name).string();
            HMODULE module = ::LoadLibraryA(dll.c_str());
            if (!module) throw std::runtime_error("cannot load " + dll);
            using Register = HRESULT(WINAPI*)();
            const auto function = reinterpret_cast<Register>(
                reinterpret_cast<void*>(::GetProcAddress(module, "DllRegisterServer")));
            const HRESULT hr = function ? function() : E_FAIL;
            ::FreeLibrary(module);
            if (FAILED(hr)) throw std::runtime_error("cannot register " + dll);
        }
        return true;
    }();
    (void)registered;
}

}  // namespace

Win32PlatformWorld::Win32PlatformWorld() {
    RegisterStandIns();
    cleanup_ = FreshTemporaryFolder("rs-platform-world-");
    platform_ = platform::win32::MakeWin32Platform();
    logHostPath_ = cleanup_ / "world.log";
    logPath_ = logHostPath_.string();
}

bool Win32PlatformWorld::OnWine() const {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#endif  // RS_CONTRACT_WIN32

}  // namespace contract
