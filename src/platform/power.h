// Power facet: the shutdown privilege of the program's own token, the restart request and the
// event-log record made before it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

// SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_HOTFIX | SHTDN_REASON_FLAG_PLANNED: a
// planned restart for an operating-system hotfix.
inline constexpr DWORD kShutdownReasonPlannedHotfix = 0x80020011;

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
inline constexpr std::uint16_t kEventlogWarningType = 2;
inline constexpr std::uint16_t kEventlogInformationType = 4;

// The bound of each call of the event log service (opening the event source, reporting the
// record) and of the restart request, which have no time-out of their own: past it the call
// fails with ERROR_TIMEOUT.
inline constexpr DWORD kPowerCallMs = 30000;

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
    // InitiateSystemShutdownExA: the reason is one of the SHTDN_REASON_ values, which Windows
    // records with the restart (a planned one, unlike the legacy call's unplanned record).
    virtual bool InitiateSystemShutdownExA(const char* machineName, const char* message,
                                           DWORD timeoutSeconds, bool forceAppsClosed,
                                           bool rebootAfterShutdown, DWORD reason) = 0;
    // RegisterEventSourceA: a handle for reporting under the source's name (in the Application
    // log); 0 with the last error when the source cannot be registered. Closed with
    // DeregisterEventSource.
    virtual HANDLE RegisterEventSourceA(const char* serverName, const char* sourceName) = 0;
    // ReportEventA with no user identifier and no raw data.
    virtual bool ReportEventA(HANDLE eventLog, std::uint16_t type, std::uint16_t category,
                              DWORD eventId, const std::vector<std::string>& strings) = 0;
    virtual bool DeregisterEventSource(HANDLE eventLog) = 0;
};

}  // namespace platform
