// Power facet: the shutdown privilege of the program's own token, the restart request and the
// event-log record made before it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

struct Luid {
    DWORD lowPart = 0;
    LONG highPart = 0;
    friend bool operator==(const Luid&, const Luid&) = default;
};

struct LuidAndAttributes {
    Luid luid;
    DWORD attributes = 0;
};

// TOKEN_PRIVILEGES with room for two entries: a count and two LUID_AND_ATTRIBUTES, 28 bytes.
struct TokenPrivileges2 {
    DWORD privilegeCount = 0;
    LuidAndAttributes privileges[2];
};
inline constexpr DWORD kTokenPrivileges2Size = 28;

inline constexpr DWORD kTokenAdjustPrivileges = 0x20;
inline constexpr DWORD kTokenQuery = 0x08;
inline constexpr DWORD kSePrivilegeEnabled = 2;
inline constexpr std::uint16_t kEventlogInformationType = 4;

class Power {
public:
    virtual ~Power() = default;

    // OpenProcessToken(GetCurrentProcess(), access, token).
    virtual bool OpenCurrentProcessToken(DWORD access, HANDLE* token) = 0;
    virtual bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) = 0;
    // AdjustTokenPrivileges: TRUE also when not every privilege was granted (the last error is
    // then ERROR_NOT_ALL_ASSIGNED, 1300). bufferLength is the size of *previousState.
    virtual bool AdjustTokenPrivileges(HANDLE token, bool disableAll,
                                       const TokenPrivileges2* newState, DWORD bufferLength,
                                       TokenPrivileges2* previousState, DWORD* returnLength) = 0;
    virtual bool InitiateSystemShutdownA(const char* machineName, const char* message,
                                         DWORD timeoutSeconds, bool forceAppsClosed,
                                         bool rebootAfterShutdown) = 0;
    // OpenEventLogA: 0 with the last error when the log cannot be opened.
    virtual HANDLE OpenEventLogA(const char* serverName, const char* sourceName) = 0;
    // ReportEventA with no user identifier and no raw data.
    virtual bool ReportEventA(HANDLE eventLog, std::uint16_t type, std::uint16_t category,
                              DWORD eventId, const std::vector<std::string>& strings) = 0;
    virtual bool CloseEventLog(HANDLE eventLog) = 0;
};

}  // namespace platform
