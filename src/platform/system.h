// System facet: the thread's last-error value, the system's message texts and the process's
// COM security.
#pragma once

#include "platform/types.h"

namespace platform {

class System {
public:
    virtual ~System() = default;

    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;
    // FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, no source,
    // messageId, language 0, buffer, size): the number of characters stored (the text ends with
    // CR LF, its inserts such as %1 left in place), 0 when there is no text or it does not fit.
    virtual DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) = 0;
    // The process's COM security, once, before any COM call: CoInitializeSecurity with access
    // for the local system account and the Administrators only, the authentication services COM
    // chooses, the default authentication level, the impersonation level "identify" (the WMI and
    // Task Scheduler proxies ask for "impersonate" themselves), no activation as the activator
    // and no custom marshaling (EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL), on the calling thread's
    // single-threaded apartment, which is then kept until the platform goes (so that the setting
    // holds for the run). S_OK, or the failing HRESULT; RPC_E_TOO_LATE (security already set by
    // an earlier COM call) counts as S_OK.
    virtual LONG InitializeComSecurity() = 0;
};

}  // namespace platform
