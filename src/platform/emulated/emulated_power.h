#pragma once

#include "platform/emulated/machine.h"
#include "platform/power.h"

namespace platform::emulated {

// The emulated host's shutdown and event log. Nothing is ever shut down: an accepted restart
// request and each event record are journal lines. Facts:
//   [Account] ShutdownPrivilege=0   the account does not hold the shutdown privilege, so enabling
//                                   it is not assigned and the request is refused (1314)
//   [Power] ShutdownError=<code>    the request is refused with that system error
//   [EventLog] OpenError=<code>, ReportError=<code>   the log cannot be opened, or written
class EmulatedPower final : public Power {
public:
    explicit EmulatedPower(Machine& machine) : machine_(machine) {}

    bool OpenCurrentProcessToken(DWORD access, HANDLE* token) override;
    bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid) override;
    bool AdjustTokenPrivileges(HANDLE token, bool disableAll, const TokenPrivileges2* newState,
                               DWORD bufferLength, TokenPrivileges2* previousState,
                               DWORD* returnLength) override;
    bool InitiateSystemShutdownExA(const char* machineName, const char* message,
                                   DWORD timeoutSeconds, bool forceAppsClosed,
                                   bool rebootAfterShutdown, DWORD reason) override;
    HANDLE RegisterEventSourceA(const char* serverName, const char* sourceName) override;
    bool ReportEventA(HANDLE eventLog, std::uint16_t type, std::uint16_t category, DWORD eventId,
                      const std::vector<std::string>& strings) override;
    bool DeregisterEventSource(HANDLE eventLog) override;

private:
    bool HoldsShutdownPrivilege() const;
    DWORD FactCode(const char* section, const char* name) const;

    Machine& machine_;
    // The privilege's state in the program's own token, which every handle to it shares.
    bool shutdownEnabled_ = false;
    std::map<HANDLE, std::string> logs_;
};

}  // namespace platform::emulated
