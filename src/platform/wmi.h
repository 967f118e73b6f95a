// WMI facet: the management service's queries, reached the way the program binds it (a
// "winmgmts:" moniker given by its parts, or the scripting locator's ConnectServer), each
// object's properties read as text. Results are HRESULTs (0 success; WBEM_E_* and RPC/COM codes
// otherwise).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

using WmiService = std::uintptr_t;  // 0 is "no service"

// One object of a query's result: the properties asked for, each as the text its value converts
// to (VariantChangeType to VT_BSTR); a null value is nullopt, a property the class does not have
// is left out.
struct WmiObject {
    std::map<std::string, std::optional<std::string>> properties;
};

inline constexpr LONG kWbemFailed = static_cast<LONG>(0x80041001u);    // WBEM_E_FAILED
inline constexpr LONG kWbemNotFound = static_cast<LONG>(0x80041002u);  // WBEM_E_NOT_FOUND
inline constexpr LONG kWbemInvalidQuery = static_cast<LONG>(0x80041017u);
inline constexpr LONG kWbemInvalidNamespace = static_cast<LONG>(0x8004100Eu);
// RPC_C_IMP_LEVEL_IDENTIFY and RPC_C_IMP_LEVEL_IMPERSONATE.
inline constexpr int kImpersonationLevelIdentify = 2;
inline constexpr int kImpersonationLevelImpersonate = 3;

// WMI's own bounds: ConnectServer (and the moniker's binding) with WBEM_FLAG_CONNECT_USE_MAX_WAIT
// returns within two minutes, answered or not; each IEnumWbemClassObject::Next of a query (made
// forward-only and returning at once) waits at most kWmiNextTimeoutMs, and one that runs out
// (WBEM_S_TIMEDOUT) fails the query with ERROR_TIMEOUT's HRESULT.
inline constexpr DWORD kWmiConnectMaxWaitMs = 120000;
inline constexpr DWORD kWmiNextTimeoutMs = 30000;

class Wmi {
public:
    virtual ~Wmi() = default;

    // GetObject("winmgmts:{impersonationLevel=<level>}!\\<server>\<nameSpace>"): the service
    // of the namespace on the named computer ("." or empty is this one; an empty namespace is the
    // moniker's default, root\cimv2), at that impersonation level (a moniker without settings
    // binds at the scripting default, impersonate).
    virtual LONG BindMoniker(const std::string& server, const std::string& nameSpace,
                             int impersonationLevel, WmiService* service) = 0;
    // CreateObject("WbemScripting.SWbemLocator"), Security_.ImpersonationLevel, ConnectServer.
    virtual LONG ConnectServer(const std::string& server, const std::string& nameSpace,
                               const std::string& user, const std::string& password,
                               int impersonationLevel, WmiService* service) = 0;
    // ExecQuery (WQL), then every object of the enumeration with the named properties read.
    virtual LONG ExecQuery(WmiService service, const std::string& query,
                           const std::vector<std::string>& properties,
                           std::vector<WmiObject>* objects) = 0;
    virtual void ReleaseService(WmiService service) = 0;
};

}  // namespace platform
