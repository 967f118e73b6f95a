#include "platform_world_fixture.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "contract_fixture.h"
#include "platform/emulated/emulated_platform.h"

#ifdef RS_CONTRACT_WIN32
#include "platform/win32/com_support.h"
#include "platform/win32/win32_platform.h"
#include "platform/win32/windows_include.h"

// The Windows headers come after windows_include.h, which they need first.
// clang-format off
#include <taskschd.h>
// clang-format on
#elif !defined(_WIN32)
#include <unistd.h>
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

namespace {

// A task that starts nothing on its own: no trigger, one action, enabled.
constexpr const char* kTaskXml =
    "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
    "<Settings><Enabled>true</Enabled></Settings>"
    "<Actions><Exec><Command>cmd.exe</Command></Exec></Actions></Task>";

}  // namespace

EmulatedPlatformWorld::EmulatedPlatformWorld() {
    cleanup_ = FreshTemporaryFolder("rs-platform-world-");
    fs::create_directories(cleanup_ / "registry");
    fs::create_directories(cleanup_ / "drives" / "c" / "Logs");
    logPath_ = "C:\\Logs\\world.log";
    logHostPath_ = cleanup_ / "drives" / "c" / "Logs" / "world.log";
    Reopen();
}

void EmulatedPlatformWorld::Reopen() {
    platform_.reset();
    std::string facts =
        "[Account]\r\nUserName=tester\r\n[Console]\r\nSessionId=1\r\nUser=tester\r\n";
    if (ContractWorld::kWow64Process) facts += "[System]\r\nWow64=1\r\n";
    if (!variables_.empty()) facts += "[Environment]\r\n";
    for (const auto& [name, value] : variables_) facts += name + "=" + value + "\r\n";
    if (instanceNameTaken_) facts += "[Instance]\r\nSquattedBy=mallory\r\nSquatObject=event\r\n";
    std::ofstream(cleanup_ / "machine.ini", std::ios::binary | std::ios::trunc) << facts;
    // The machine reads its folder when it is made.
    platform_ = platform::emulated::MakeEmulatedPlatform(cleanup_, "");
}

void EmulatedPlatformWorld::SetVariable(const std::string& name, const std::string& value) {
    variables_.emplace_back(name, value);
    Reopen();
}

// The emulated program is RebootScheduler.exe under the host's own process id (a fixed id in the
// emulation's Windows build, where the host's id is the test binary's).
platform::ProcessEntry EmulatedPlatformWorld::OwnProcess() const {
#ifdef _WIN32
    return {4242, "RebootScheduler.exe"};
#else
    return {static_cast<platform::DWORD>(::getpid()), "RebootScheduler.exe"};
#endif
}

void EmulatedPlatformWorld::TakeInstanceNameWithAnEvent() {
    instanceNameTaken_ = true;
    Reopen();
}

std::unique_ptr<platform::Platform> EmulatedPlatformWorld::AnotherPlatform() {
    return platform::emulated::MakeEmulatedPlatform(cleanup_, "");
}

// The task store of the emulated Task Scheduler: one definition file per task.
bool EmulatedPlatformWorld::MakeTask(const std::string& name) {
    const fs::path store = cleanup_ / "drives" / "c" / "Windows" / "system32" / "Tasks";
    fs::create_directories(store);
    std::ofstream out(store / name, std::ios::binary | std::ios::trunc);
    out << kTaskXml;
    return static_cast<bool>(out);
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

// The Task Scheduler's root folder, for the world's own tasks; empty when it cannot be had. The
// caller keeps a ComApartment for as long as it uses the folder.
platform::win32::UniqueCom<ITaskFolder> RootTaskFolder() {
    using platform::win32::UniqueCom;
    ITaskService* rawService = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ITaskService, reinterpret_cast<void**>(&rawService)))) {
        return UniqueCom<ITaskFolder>();
    }
    UniqueCom<ITaskService> service(rawService);
    VARIANT omitted;
    ::VariantInit(&omitted);
    if (FAILED(service.get()->Connect(omitted, omitted, omitted, omitted))) {
        return UniqueCom<ITaskFolder>();
    }
    platform::win32::UniqueBstr root(::SysAllocString(L"\\"));
    ITaskFolder* rawFolder = nullptr;
    if (FAILED(service.get()->GetFolder(root.get(), &rawFolder))) return UniqueCom<ITaskFolder>();
    return UniqueCom<ITaskFolder>(rawFolder);
}

}  // namespace

Win32PlatformWorld::Win32PlatformWorld() {
    RegisterStandIns();
    cleanup_ = FreshTemporaryFolder("rs-platform-world-");
    platform_ = platform::win32::MakeWin32Platform();
    logHostPath_ = cleanup_ / "world.log";
    logPath_ = logHostPath_.string();
}

Win32PlatformWorld::~Win32PlatformWorld() {
    platform_.reset();
    if (instanceNameEvent_) ::CloseHandle(instanceNameEvent_);
    for (const auto& name : variables_) ::SetEnvironmentVariableA(name.c_str(), nullptr);
    if (tasks_.empty()) return;
    platform::win32::ComApartment apartment;
    const auto folder = RootTaskFolder();
    if (!folder) return;
    for (const auto& name : tasks_) {
        platform::win32::UniqueBstr text(::SysAllocString(platform::win32::ToWide(name).c_str()));
        folder.get()->DeleteTask(text.get(), 0);
    }
}

bool Win32PlatformWorld::OnWine() const {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The test process's own environment; the variables go with the world.
void Win32PlatformWorld::SetVariable(const std::string& name, const std::string& value) {
    if (!::SetEnvironmentVariableA(name.c_str(), value.c_str())) {
        ADD_FAILURE() << "cannot set " << name;
    }
    variables_.push_back(name);
}

platform::ProcessEntry Win32PlatformWorld::OwnProcess() const {
    return {::GetCurrentProcessId(), "rs_contract_tests.exe"};
}

void Win32PlatformWorld::TakeInstanceNameWithAnEvent() {
    instanceNameEvent_ = ::CreateEventA(nullptr, TRUE, FALSE, platform::kInstanceMutexName);
    if (!instanceNameEvent_) ADD_FAILURE() << "no event, error " << ::GetLastError();
}

std::unique_ptr<platform::Platform> Win32PlatformWorld::AnotherPlatform() {
    return platform::win32::MakeWin32Platform();
}

// Registered for the test's own account with its interactive token, as a user may in the root
// folder.
bool Win32PlatformWorld::MakeTask(const std::string& name) {
    platform::win32::ComApartment apartment;
    const auto folder = RootTaskFolder();
    if (!folder) return false;
    platform::win32::UniqueBstr path(::SysAllocString(platform::win32::ToWide(name).c_str()));
    platform::win32::UniqueBstr xml(::SysAllocString(platform::win32::ToWide(kTaskXml).c_str()));
    VARIANT empty;
    ::VariantInit(&empty);
    VARIANT sddl;
    ::VariantInit(&sddl);
    IRegisteredTask* rawTask = nullptr;
    const HRESULT result =
        folder.get()->RegisterTask(path.get(), xml.get(), TASK_CREATE_OR_UPDATE, empty, empty,
                                   TASK_LOGON_INTERACTIVE_TOKEN, sddl, &rawTask);
    if (FAILED(result)) return false;
    platform::win32::UniqueCom<IRegisteredTask> task(rawTask);
    tasks_.push_back(name);
    return true;
}

#endif  // RS_CONTRACT_WIN32

std::int64_t HostUpTimeSeconds() {
#ifdef _WIN32
    return static_cast<std::int64_t>(::GetTickCount64() / 1000);
#else
    std::ifstream in("/proc/uptime");
    double seconds = 0;
    in >> seconds;
    return static_cast<std::int64_t>(seconds);
#endif
}

}  // namespace contract
