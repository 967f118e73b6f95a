// Programs that the emulated host starts on a POSIX system (the Linux build): host processes
// spawned and waited for.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/emulated/spawn.h"

extern char** environ;

namespace platform::emulated {

namespace {

DWORD ErrorFromErrno(int number) {
    switch (number) {
        case ENOENT:
            return 2;  // ERROR_FILE_NOT_FOUND
        case ENOTDIR:
            return 3;  // ERROR_PATH_NOT_FOUND
        case EACCES:
        case EPERM:
            return 5;  // ERROR_ACCESS_DENIED
        case ENOMEM:
            return 8;  // ERROR_NOT_ENOUGH_MEMORY
        case ENOEXEC:
            return 193;  // ERROR_BAD_EXE_FORMAT
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

// The host environment with REBOOTSCHEDULER_MACHINE and the request's values set.
std::vector<std::string> EnvironmentFor(const SpawnRequest& request) {
    std::vector<std::pair<std::string, std::string>> overrides = request.environment;
    overrides.emplace_back("REBOOTSCHEDULER_MACHINE", request.machineFolder.string());
    std::vector<std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& item : overrides) replaced = replaced || item.first == name;
        if (!replaced) result.push_back(text);
    }
    for (const auto& [name, value] : overrides) result.push_back(name + "=" + value);
    return result;
}

}  // namespace

std::unique_ptr<StartedProgram> StartedProgram::Start(const SpawnRequest& request, DWORD* error) {
    const std::string program = request.program.string();
    std::vector<std::string> argumentTexts;
    argumentTexts.push_back(program);
    for (const auto& argument : request.arguments) argumentTexts.push_back(argument);
    std::vector<char*> argv;
    for (auto& text : argumentTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentTexts = EnvironmentFor(request);
    std::vector<char*> envp;
    for (auto& text : environmentTexts) envp.push_back(text.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A started program reads nothing from the scheduler's input.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!request.workingFolder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, request.workingFolder.c_str());
    }
    pid_t pid = 0;
    const int result =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        if (error) *error = ErrorFromErrno(result);
        return nullptr;
    }
    std::unique_ptr<StartedProgram> started(new StartedProgram);
    started->id_ = static_cast<DWORD>(pid);
    return started;
}

// A program still running when its owner goes keeps running, as on Windows; its exit is then
// collected by whoever inherits it.
StartedProgram::~StartedProgram() = default;

void StartedProgram::Terminate(unsigned exitCode) {
    if (ended_) return;
    ::kill(static_cast<pid_t>(id_), SIGKILL);
    Wait(0xFFFFFFFFu);
    exitCode_ = exitCode;
}

bool StartedProgram::Wait(DWORD milliseconds) {
    if (ended_) return true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    // Woken by the program's end itself where the system can hand out a descriptor for it, so
    // that a short program is not waited for longer than it runs; else looked at ever less often.
    int ending = -1;
#ifdef SYS_pidfd_open
    ending = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(id_), 0));
#endif
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{ending};
    auto pause = std::chrono::milliseconds(1);
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(id_), &status, WNOHANG);
        if (done == static_cast<pid_t>(id_)) {
            exitCode_ = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                          : 128u + static_cast<DWORD>(WTERMSIG(status));
            ended_ = true;
            return true;
        }
        if (done < 0 && errno != EINTR) {
            // Collected elsewhere: it has ended, with an exit code nobody can tell.
            exitCode_ = 0;
            ended_ = true;
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (milliseconds != 0xFFFFFFFFu && now >= deadline) return false;
        if (ending >= 0) {
            int timeout = -1;
            if (milliseconds != 0xFFFFFFFFu) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
                timeout = static_cast<int>(std::min<long long>(left, 60000));
            }
            pollfd wanted{ending, POLLIN, 0};
            if (::poll(&wanted, 1, timeout) < 0 && errno != EINTR) ending = -1;
            continue;
        }
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(50)) pause *= 2;
    }
}

}  // namespace platform::emulated
