#include "platform/emulated/emulated_session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/emulated/emulated_programs.h"
#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace {

constexpr DWORD kNoSession = 0xFFFFFFFFu;

using Kind = Machine::Object::Kind;

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::string EmulatedSession::Account() const {
    return machine_.facts().Get("Account", "UserName").value_or("SYSTEM");
}

std::string EmulatedSession::ConsoleUser() const {
    return machine_.facts().Get("Console", "User").value_or("");
}

bool EmulatedSession::GetUserNameA(char* buffer, DWORD* size) {
    const std::string name = machine_.impersonating.empty() ? Account() : machine_.impersonating;
    const auto needed = static_cast<DWORD>(name.size() + 1);
    if (!size || !buffer || *size < needed) {
        if (size) *size = needed;
        machine_.lastError = kErrorInsufficientBuffer;
        return false;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return true;
}

DWORD EmulatedSession::WTSGetActiveConsoleSessionId() {
    const auto fact = machine_.facts().Get("Console", "SessionId");
    if (!fact) return 1;
    if (fact->empty()) return kNoSession;
    return static_cast<DWORD>(std::strtoul(fact->c_str(), nullptr, 10));
}

// [Sessions] <id>=<state>[,<user>] lists the sessions beside the console's; without it there
// are session 0 (the services', disconnected, nobody logged on) and the console session (active,
// its user [Console] User).
bool EmulatedSession::WTSEnumerateSessionsA(std::vector<SessionEntry>* sessions) {
    sessions->clear();
    const DWORD console = WTSGetActiveConsoleSessionId();
    sessions->push_back({0, kWtsDisconnected});
    if (console != kNoSession && console != 0) sessions->push_back({console, kWtsActive});
    for (const auto& [id, value] : machine_.facts().Section("Sessions")) {
        const auto number = static_cast<DWORD>(std::strtoul(id.c_str(), nullptr, 10));
        const auto state = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
        bool listed = false;
        for (auto& session : *sessions) {
            if (session.sessionId == number) {
                session.state = state;
                listed = true;
            }
        }
        if (!listed) sessions->push_back({number, state});
    }
    return true;
}

bool EmulatedSession::WTSQuerySessionUserName(DWORD sessionId, std::string* user) {
    if (const auto fact = machine_.facts().Get("Sessions", std::to_string(sessionId))) {
        const std::size_t comma = fact->find(',');
        if (user) *user = comma == std::string::npos ? "" : fact->substr(comma + 1);
        return true;
    }
    const DWORD console = WTSGetActiveConsoleSessionId();
    if (sessionId != 0 && (console == kNoSession || sessionId != console)) {
        machine_.lastError = kErrorCtxWinstationNotFound;
        return false;
    }
    if (user) *user = sessionId == 0 ? "" : ConsoleUser();
    return true;
}

bool EmulatedSession::WTSQueryUserToken(DWORD sessionId, HANDLE* token) {
    if (!token) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    if (!EqualsNoCase(Account(), "SYSTEM")) {
        machine_.lastError = kErrorPrivilegeNotHeld;
        return false;
    }
    if (ConsoleUser().empty() || sessionId == kNoSession ||
        sessionId != WTSGetActiveConsoleSessionId()) {
        machine_.lastError = kErrorNoToken;
        return false;
    }
    Machine::Object object;
    object.kind = Kind::Token;
    object.account = ConsoleUser();
    object.sessionId = sessionId;
    *token = machine_.NewHandle(object);
    return true;
}

bool EmulatedSession::DuplicateTokenEx(HANDLE token, DWORD /*desiredAccess*/,
                                       bool /*inheritHandle*/, int impersonationLevel,
                                       int tokenType, HANDLE* newToken) {
    const Machine::Object* source = machine_.Find(token, Kind::Token);
    if (!source) {
        if (newToken) *newToken = 0;
        return false;
    }
    if (!newToken || impersonationLevel < 0 || impersonationLevel > 3 || tokenType < 1 ||
        tokenType > 2) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    *newToken = machine_.NewHandle(*source);
    return true;
}

bool EmulatedSession::CreateEnvironmentBlock(EnvironmentBlock* environment, HANDLE token,
                                             bool /*inherit*/) {
    if (!environment) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    Machine::Object block;
    block.kind = Kind::Environment;
    if (token) {
        const Machine::Object* owner = machine_.Find(token, Kind::Token);
        if (!owner) return false;
        block.account = owner->account;
    }
    *environment = machine_.NewHandle(block);
    return true;
}

bool EmulatedSession::DestroyEnvironmentBlock(EnvironmentBlock environment) {
    return machine_.Close(environment, {Kind::Environment});
}

bool EmulatedSession::CreateProcessAsUserA(HANDLE token, const char* applicationName,
                                           const char* commandLine, bool /*inheritHandles*/,
                                           DWORD creationFlags, EnvironmentBlock environment,
                                           const char* currentDirectory, const StartupInfo& startup,
                                           ProcessInformation* information) {
    const Machine::Object* user = machine_.Find(token, Kind::Token);
    if (!user) return false;
    if (!information || !applicationName) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    // A block made by CreateEnvironmentBlock is Unicode: without CREATE_UNICODE_ENVIRONMENT the
    // creation refuses it.
    if (environment && (!machine_.Find(environment, Kind::Environment) ||
                        !(creationFlags & kCreateUnicodeEnvironment))) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    const std::string arguments = commandLine ? commandLine : "";
    const std::string folder = currentDirectory ? currentDirectory : "";
    DWORD error = 0;
    // The program runs in session 0 as the system account, else in the console's session.
    const DWORD console = WTSGetActiveConsoleSessionId();
    const DWORD ownSession =
        EqualsNoCase(Account(), "SYSTEM") || console == kNoSession ? 0 : console;
    bool inJob = false;
    Machine::Process* process = nullptr;
    if (machine_.JobAllowsCreation(creationFlags, user->sessionId != ownSession, &inJob, &error)) {
        process = StartProgram(machine_, applicationName, arguments, folder, user->account, &error);
        if (process) process->inJob = inJob;
    }
    machine_.Journal("CreateProcessAsUser session=" + std::to_string(user->sessionId) +
                     " user=" + user->account + " desktop=" + startup.lpDesktop +
                     " flags=" + Hex(creationFlags) +
                     " environment=" + (environment ? "user" : "none") + " folder=" + folder +
                     " application=" + applicationName + " cmdline=\"" + arguments + "\"" +
                     (process ? " pid=" + std::to_string(process->id) + (inJob ? " job=inside" : "")
                              : " failed error=" + std::to_string(error)));
    if (!process) {
        machine_.lastError = error;
        return false;
    }
    Machine::Object object;
    object.kind = Kind::Process;
    object.processId = process->id;
    information->hProcess = machine_.NewHandle(object);
    object.kind = Kind::Thread;
    information->hThread = machine_.NewHandle(object);
    information->dwProcessId = process->id;
    information->dwThreadId = process->id + 1;
    return true;
}

bool EmulatedSession::OpenProcessToken(HANDLE process, DWORD /*desiredAccess*/, HANDLE* token) {
    const Machine::Object* opened = machine_.Find(process, Kind::Process);
    if (!opened) return false;
    if (!token) {
        machine_.lastError = kErrorInvalidParameter;
        return false;
    }
    Machine::Object object;
    object.kind = Kind::Token;
    object.account = machine_.facts()
                         .Get("ProcessOwners", std::to_string(opened->processId))
                         .value_or(ConsoleUser().empty() ? "SYSTEM" : ConsoleUser());
    const DWORD session = WTSGetActiveConsoleSessionId();
    object.sessionId = session == kNoSession ? 0 : session;
    *token = machine_.NewHandle(object);
    return true;
}

bool EmulatedSession::GetTokenUserName(HANDLE token, std::string* user) {
    const Machine::Object* opened = machine_.Find(token, Kind::Token);
    if (!opened) return false;
    *user = opened->account;
    return true;
}

bool EmulatedSession::ImpersonateLoggedOnUser(HANDLE token) {
    const Machine::Object* user = machine_.Find(token, Kind::Token);
    if (!user) return false;
    machine_.impersonating = user->account;
    return true;
}

bool EmulatedSession::RevertToSelf() {
    machine_.impersonating.clear();
    return true;
}

}  // namespace platform::emulated
