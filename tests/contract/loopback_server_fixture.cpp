#include "loopback_server_fixture.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "contract_fixture.h"

#ifdef RS_CONTRACT_WIN32
#include "platform/win32/windows_include.h"
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace contract {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

#ifdef RS_CONTRACT_WIN32
// testserver.exe beside the test binary.
std::string ServerProgram() {
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return (fs::path(path).parent_path() / "testserver.exe").string();
}

std::string Quoted(const std::string& argument) {
    std::string out = "\"";
    for (const char c : argument) {
        if (c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::uintptr_t Start(const std::vector<std::string>& arguments) {
    std::string commandLine = Quoted(ServerProgram());
    for (const auto& argument : arguments) {
        commandLine += ' ';
        commandLine += Quoted(argument);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process)) {
        throw std::runtime_error("cannot start the loopback server");
    }
    ::CloseHandle(process.hThread);
    return reinterpret_cast<std::uintptr_t>(process.hProcess);
}

// Waits up to graceMs for the server to end on its own, then ends it.
void Stop(std::uintptr_t process, int graceMs) {
    const auto handle = reinterpret_cast<HANDLE>(process);
    if (::WaitForSingleObject(handle, static_cast<DWORD>(graceMs)) != WAIT_OBJECT_0) {
        ::TerminateProcess(handle, 0);
        ::WaitForSingleObject(handle, 10000);
    }
    ::CloseHandle(handle);
}
#else
std::uintptr_t Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {RS_TESTSERVER};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, RS_TESTSERVER, nullptr, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error(std::string("cannot start ") + RS_TESTSERVER);
    }
    return static_cast<std::uintptr_t>(pid);
}

// Waits up to graceMs for the server to end on its own, then ends it.
void Stop(std::uintptr_t process, int graceMs) {
    const auto pid = static_cast<pid_t>(process);
    int status = 0;
    for (int waited = 0; waited < graceMs; waited += 10) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
}
#endif

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (Lower(key) == Lower(name)) return value;
    }
    return {};
}

LoopbackServer::LoopbackServer(const std::vector<std::string>& answers)
    : folder_(FreshTemporaryFolder("rs-testserver-")) {
    const fs::path portFile = folder_ / "port";
    std::vector<std::string> arguments = {"--port-file",    portFile.string(),
                                          "--log",          (folder_ / "requests.log").string(),
                                          "--stop-file",    (folder_ / "stop").string(),
                                          "--idle-seconds", "300",
                                          "--hang-seconds", "60"};
    arguments.insert(arguments.end(), answers.begin(), answers.end());
    process_ = Start(arguments);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (port_ == 0) {
        std::error_code error;
        if (fs::exists(portFile, error)) port_ = std::atoi(ReadAll(portFile).c_str());
        if (port_ != 0) break;
        if (std::chrono::steady_clock::now() > deadline) {
            Stop(process_, 0);
            process_ = 0;
            throw std::runtime_error("the loopback server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The server is asked to end, and killed only when it does not: a process killed while it waits
// on its socket can leave Wine's server holding that socket.
LoopbackServer::~LoopbackServer() {
    if (process_) {
        std::ofstream(folder_ / "stop") << "stop\n";
        Stop(process_, 3000);
    }
    std::error_code error;
    fs::remove_all(folder_, error);
}

std::string LoopbackServer::HostAndPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::string LoopbackServer::Url(const std::string& pathAndQuery) const {
    return "http://" + HostAndPort() + pathAndQuery;
}

// The log's records (see tools/testserver/testserver.cpp).
std::vector<RecordedRequest> LoopbackServer::Requests() const {
    std::vector<RecordedRequest> requests;
    const std::string log = ReadAll(folder_ / "requests.log");
    std::size_t at = 0;
    const auto line = [&]() {
        const std::size_t end = log.find('\n', at);
        std::string text = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? log.size() : end + 1;
        return text;
    };
    while (at < log.size()) {
        const std::string title = line();
        if (title.rfind("REQUEST ", 0) != 0) break;
        RecordedRequest request;
        request.answer = title.substr(title.find(' ', 8) + 1);
        std::string first = line();
        if (first == "INCOMPLETE") first = line();
        if (first == "END") {
            requests.push_back(request);
            continue;
        }
        std::istringstream words(first);
        words >> request.method >> request.target;
        for (std::string header = line(); !header.empty(); header = line()) {
            const auto colon = header.find(':');
            std::string value = header.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.erase(0, 1);
            request.headers.emplace_back(header.substr(0, colon), value);
        }
        const std::string size = line();  // BODY <n>
        const std::size_t length = std::strtoul(size.c_str() + 5, nullptr, 10);
        request.body = log.substr(at, length);
        at += length + 1;
        line();  // END
        requests.push_back(std::move(request));
    }
    return requests;
}

int LoopbackServer::UnusedPort() {
    LoopbackServer probe({});
    return probe.port();
}

}  // namespace contract
