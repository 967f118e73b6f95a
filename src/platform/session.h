// Session facet: the account the program runs under, and starting a program in the console
// user's session with that user's token.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

using EnvironmentBlock = std::uintptr_t;  // 0 is "no block"

// STARTUPINFOA as the program fills it: the desktop; every other field zero. The record's size
// is each implementation's own.
struct StartupInfo {
    std::string lpDesktop;
};

// One session of the list: its id and state (WTS_CONNECTSTATE_CLASS: 0 active, 1 connected,
// 4 disconnected, 6 listening, ...).
struct SessionEntry {
    DWORD sessionId = 0;
    DWORD state = 0;
};
inline constexpr DWORD kWtsActive = 0;
inline constexpr DWORD kWtsDisconnected = 4;

struct ProcessInformation {
    HANDLE hProcess = 0;
    HANDLE hThread = 0;
    DWORD dwProcessId = 0;
    DWORD dwThreadId = 0;
};

inline constexpr DWORD kCreateNoWindow = 0x08000000;
// The child leaves the creator's job object; refused with ERROR_ACCESS_DENIED by a job that does
// not allow breakaway.
inline constexpr DWORD kCreateBreakawayFromJob = 0x01000000;
inline constexpr DWORD kCreateUnicodeEnvironment = 0x00000400;
inline constexpr int kSecurityImpersonation = 2;
inline constexpr int kTokenPrimary = 1;

class Session {
public:
    virtual ~Session() = default;

    // GetUserNameA: the account name with its NUL into buffer; *size is the buffer size in and the
    // count with the NUL out. FALSE (ERROR_INSUFFICIENT_BUFFER, *size the size needed) when it
    // does not fit.
    virtual bool GetUserNameA(char* buffer, DWORD* size) = 0;

    // 0xFFFFFFFF when no session is attached to the console.
    virtual DWORD WTSGetActiveConsoleSessionId() = 0;
    // FALSE (ERROR_NO_TOKEN 1008 when nobody is logged on in the session; ERROR_PRIVILEGE_NOT_HELD
    // 1314 for a caller other than the system account) with *token left alone.
    virtual bool WTSQueryUserToken(DWORD sessionId, HANDLE* token) = 0;
    // WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName), the buffer
    // freed with WTSFreeMemory: the name of the user logged on in the session (empty when nobody
    // is). FALSE with the last error (ERROR_CTX_WINSTATION_NOT_FOUND for no such session).
    virtual bool WTSQuerySessionUserName(DWORD sessionId, std::string* user) = 0;
    // WTSEnumerateSessionsA(WTS_CURRENT_SERVER_HANDLE, 0, 1), the list freed with WTSFreeMemory:
    // every session's id and connection state. FALSE with the last error.
    virtual bool WTSEnumerateSessionsA(std::vector<SessionEntry>* sessions) = 0;
    // DuplicateTokenEx with no security descriptor; inheritHandle as the attributes say.
    virtual bool DuplicateTokenEx(HANDLE token, DWORD desiredAccess, bool inheritHandle,
                                  int impersonationLevel, int tokenType, HANDLE* newToken) = 0;
    virtual bool CreateEnvironmentBlock(EnvironmentBlock* environment, HANDLE token,
                                        bool inherit) = 0;
    virtual bool DestroyEnvironmentBlock(EnvironmentBlock environment) = 0;
    // CreateProcessAsUserA with no process or thread attributes. The process and thread handles
    // of *information belong to the caller.
    virtual bool CreateProcessAsUserA(HANDLE token, const char* applicationName,
                                      const char* commandLine, bool inheritHandles,
                                      DWORD creationFlags, EnvironmentBlock environment,
                                      const char* currentDirectory, const StartupInfo& startup,
                                      ProcessInformation* information) = 0;
    virtual bool OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) = 0;
    // GetTokenInformation(TokenUser) and LookupAccountSidA on this computer: the account name
    // of a token opened with TOKEN_QUERY. FALSE with the last error.
    virtual bool GetTokenUserName(HANDLE token, std::string* user) = 0;
    virtual bool ImpersonateLoggedOnUser(HANDLE token) = 0;
    virtual bool RevertToSelf() = 0;
};

}  // namespace platform
