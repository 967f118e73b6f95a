#pragma once

#include "platform/clock.h"
#include "platform/emulated/machine.h"
#include "platform/wmi.h"

namespace platform::emulated {

// The management service of the emulated host, namespace root\cimv2 on this computer only. It
// answers "SELECT * FROM <class>" for
//   Win32_OperatingSystem                   LastBootUpTime: [System] LastBootUpTime, else the
//                                           local time less the up-time, as CIM text
//   Win32_PerfFormattedData_PerfOS_System   SystemUpTime: [System] SystemUpTime, else the up-time
// The up-time is [System] TickCount64 (milliseconds), else the real host's. An empty fact makes
// its query fail (WBEM_E_FAILED), as a broken WMI would; "(null)" gives the property a null
// value, "(none)" makes the query return no object.
class EmulatedWmi final : public Wmi {
public:
    EmulatedWmi(Machine& machine, Clock& clock) : machine_(machine), clock_(clock) {}

    LONG BindMoniker(const std::string& server, const std::string& nameSpace,
                     int impersonationLevel, WmiService* service) override;
    LONG ConnectServer(const std::string& server, const std::string& nameSpace,
                       const std::string& user, const std::string& password, int impersonationLevel,
                       WmiService* service) override;
    LONG ExecQuery(WmiService service, const std::string& query,
                   const std::vector<std::string>& properties,
                   std::vector<WmiObject>* objects) override;
    void ReleaseService(WmiService service) override;

private:
    LONG Connect(const std::string& server, const std::string& nameSpace, WmiService* service);

    Machine& machine_;
    Clock& clock_;
    std::map<WmiService, bool> services_;
    WmiService next_ = 0x100;
};

}  // namespace platform::emulated
