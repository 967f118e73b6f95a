// The account and session functions, called as they are.
#include <string>
#include <vector>

#include "platform/session.h"
#include "platform/win32/system_library.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

::HANDLE Native(HANDLE handle) {
    return reinterpret_cast<::HANDLE>(handle);
}

class Win32Session final : public Session {
public:
    bool GetUserNameA(char* buffer, DWORD* size) override {
        ::DWORD count = size ? *size : 0;
        const BOOL ok = ::GetUserNameA(buffer, &count);
        if (size) *size = count;
        return ok != FALSE;
    }

    DWORD WTSGetActiveConsoleSessionId() override { return ::WTSGetActiveConsoleSessionId(); }

    bool WTSQueryUserToken(DWORD sessionId, HANDLE* token) override {
        // WTSAPI32 and USERENV are no KnownDLLs: bound from the system folder.
        auto* query =
            SystemFunction<decltype(::WTSQueryUserToken)>("wtsapi32.dll", "WTSQueryUserToken");
        if (!query) return false;
        ::HANDLE user = nullptr;
        const BOOL ok = query(sessionId, &user);
        if (ok && token) *token = reinterpret_cast<HANDLE>(user);
        return ok != FALSE;
    }

    bool WTSQuerySessionUserName(DWORD sessionId, std::string* user) override {
        auto* query = SystemFunction<decltype(::WTSQuerySessionInformationA)>(
            "wtsapi32.dll", "WTSQuerySessionInformationA");
        auto* release = SystemFunction<decltype(::WTSFreeMemory)>("wtsapi32.dll", "WTSFreeMemory");
        if (!query || !release) return false;
        char* name = nullptr;
        ::DWORD bytes = 0;
        if (!query(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName, &name, &bytes)) return false;
        if (user) *user = name ? name : "";
        release(name);
        return true;
    }

    bool WTSEnumerateSessionsA(std::vector<SessionEntry>* sessions) override {
        auto* enumerate = SystemFunction<decltype(::WTSEnumerateSessionsA)>(
            "wtsapi32.dll", "WTSEnumerateSessionsA");
        auto* release = SystemFunction<decltype(::WTSFreeMemory)>("wtsapi32.dll", "WTSFreeMemory");
        if (!enumerate || !release) return false;
        WTS_SESSION_INFOA* list = nullptr;
        ::DWORD count = 0;
        if (!enumerate(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) return false;
        sessions->clear();
        for (::DWORD i = 0; i < count; ++i) {
            sessions->push_back({list[i].SessionId, static_cast<DWORD>(list[i].State)});
        }
        release(list);
        return true;
    }

    bool DuplicateTokenEx(HANDLE token, DWORD desiredAccess, bool inheritHandle,
                          int impersonationLevel, int tokenType, HANDLE* newToken) override {
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = nullptr;
        attributes.bInheritHandle = inheritHandle ? TRUE : FALSE;
        ::HANDLE duplicate = nullptr;
        const BOOL ok =
            ::DuplicateTokenEx(Native(token), desiredAccess, &attributes,
                               static_cast<SECURITY_IMPERSONATION_LEVEL>(impersonationLevel),
                               static_cast<TOKEN_TYPE>(tokenType), &duplicate);
        if (newToken) *newToken = reinterpret_cast<HANDLE>(duplicate);
        return ok != FALSE;
    }

    bool CreateEnvironmentBlock(EnvironmentBlock* environment, HANDLE token,
                                bool inherit) override {
        auto* create = SystemFunction<decltype(::CreateEnvironmentBlock)>("userenv.dll",
                                                                          "CreateEnvironmentBlock");
        if (!create) {
            if (environment) *environment = 0;
            return false;
        }
        void* block = nullptr;
        const BOOL ok = create(&block, Native(token), inherit ? TRUE : FALSE);
        if (environment) *environment = ok ? reinterpret_cast<EnvironmentBlock>(block) : 0;
        return ok != FALSE;
    }

    bool DestroyEnvironmentBlock(EnvironmentBlock environment) override {
        auto* destroy = SystemFunction<decltype(::DestroyEnvironmentBlock)>(
            "userenv.dll", "DestroyEnvironmentBlock");
        return destroy && destroy(reinterpret_cast<void*>(environment)) != FALSE;
    }

    bool CreateProcessAsUserA(HANDLE token, const char* applicationName, const char* commandLine,
                              bool inheritHandles, DWORD creationFlags,
                              EnvironmentBlock environment, const char* currentDirectory,
                              const StartupInfo& startup,
                              ProcessInformation* information) override {
        STARTUPINFOA record{};
#if defined(__i386__)
        static_assert(sizeof(record) == 68, "the 32-bit record is 68 bytes");
#endif
        record.cb = sizeof(record);
        // The creation may write into the command line and the desktop name: hand it copies.
        std::vector<char> desktop(startup.lpDesktop.begin(), startup.lpDesktop.end());
        desktop.push_back('\0');
        record.lpDesktop = startup.lpDesktop.empty() ? nullptr : desktop.data();
        std::vector<char> line;
        if (commandLine) {
            line.assign(commandLine, commandLine + std::char_traits<char>::length(commandLine));
            line.push_back('\0');
        }
        PROCESS_INFORMATION created{};
        const BOOL ok = ::CreateProcessAsUserA(
            Native(token), applicationName, commandLine ? line.data() : nullptr, nullptr, nullptr,
            inheritHandles ? TRUE : FALSE, creationFlags, reinterpret_cast<void*>(environment),
            currentDirectory, &record, &created);
        if (information) {
            information->hProcess = reinterpret_cast<HANDLE>(created.hProcess);
            information->hThread = reinterpret_cast<HANDLE>(created.hThread);
            information->dwProcessId = created.dwProcessId;
            information->dwThreadId = created.dwThreadId;
        }
        return ok != FALSE;
    }

    bool GetTokenUserName(HANDLE token, std::string* user) override {
        ::DWORD size = 0;
        ::GetTokenInformation(Native(token), TokenUser, nullptr, 0, &size);
        if (size == 0) return false;
        std::vector<BYTE> buffer(size);
        if (!::GetTokenInformation(Native(token), TokenUser, buffer.data(), size, &size)) {
            return false;
        }
        const auto* owner = reinterpret_cast<const TOKEN_USER*>(buffer.data());
        char name[257] = {};
        char domain[257] = {};
        ::DWORD nameSize = sizeof name;
        ::DWORD domainSize = sizeof domain;
        SID_NAME_USE use{};
        if (!::LookupAccountSidA(nullptr, owner->User.Sid, name, &nameSize, domain, &domainSize,
                                 &use)) {
            return false;
        }
        *user = name;
        return true;
    }

    bool OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token) override {
        ::HANDLE opened = nullptr;
        const BOOL ok = ::OpenProcessToken(Native(process), desiredAccess, &opened);
        if (token) *token = ok ? reinterpret_cast<HANDLE>(opened) : 0;
        return ok != FALSE;
    }

    bool ImpersonateLoggedOnUser(HANDLE token) override {
        return ::ImpersonateLoggedOnUser(Native(token)) != FALSE;
    }

    bool RevertToSelf() override {
        return ::RevertToSelf() != FALSE;
    }
};

}  // namespace

std::unique_ptr<Session> MakeWin32Session() {
    return std::make_unique<Win32Session>();
}

}  // namespace platform::win32
