#pragma once

#include "platform/emulated/machine.h"
#include "platform/session.h"

namespace platform::emulated {

// The program's account and the console session of the emulated host:
//   [Account] UserName     the program's account (SYSTEM when absent)
//   [Console] SessionId    the session at the console (1 when absent; empty: none attached)
//   [Console] User         the user logged on there (absent or empty: nobody)
//   [ProcessOwners] <pid>=<user>   the account of a listed process (else the console user, else
//                          SYSTEM), whose token OpenProcessToken gives
// Only the system account gets a session's user token, as on Windows. Programs created for a user
// are really started (emulated_programs.h) and the journal records session, user, desktop, flags,
// working folder and command line. The creation answers the program's job as Windows does
// (Machine::JobAllowsCreation, [Job] of machine.ini); impersonation sets the account whose rights
// the file operations use (Machine::impersonating).
class EmulatedSession final : public Session {
public:
    explicit EmulatedSession(Machine& machine) : machine_(machine) {}

    bool GetUserNameA(char* buffer, DWORD* size) override;
    DWORD WTSGetActiveConsoleSessionId() override;
    bool WTSQueryUserToken(DWORD sessionId, HANDLE* token) override;
    bool WTSQuerySessionUserName(DWORD sessionId, std::string* user) override;
    bool WTSEnumerateSessionsA(std::vector<SessionEntry>* sessions) override;
    bool DuplicateTokenEx(HANDLE token, DWORD desiredAccess, bool inheritHandle,
                          int impersonationLevel, int tokenType, HANDLE* newToken) override;
    bool CreateEnvironmentBlock(EnvironmentBlock* environment, HANDLE token, bool inherit) override;
    bool DestroyEnvironmentBlock(EnvironmentBlock environment) override;
    bool CreateProcessAsUserA(HANDLE token, const char* applicationName, const char* commandLine,
                              bool inheritHandles, DWORD creationFlags,
                              EnvironmentBlock environment, const char* currentDirectory,
                              const StartupInfo& startup, ProcessInformation* information) override;
    bool OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) override;
    bool GetTokenUserName(HANDLE token, std::string* user) override;
    bool ImpersonateLoggedOnUser(HANDLE token) override;
    bool RevertToSelf() override;

private:
    std::string Account() const;
    std::string ConsoleUser() const;

    Machine& machine_;
};

}  // namespace platform::emulated
