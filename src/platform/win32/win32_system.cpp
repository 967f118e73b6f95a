// System facet: the thread's last-error value and the system's message texts.
#include <optional>

#include "platform/win32/com_support.h"
#include "platform/win32/security_descriptor.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

constexpr ::DWORD kComRightsLocal = COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL;

class Win32System final : public System {
public:
    DWORD GetLastError() override { return ::GetLastError(); }

    void SetLastError(DWORD error) override { ::SetLastError(error); }

    DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) override {
        // No arguments are ever passed: the inserts of a text (%1 of error 193 and many others)
        // stay as they are. Without FORMAT_MESSAGE_IGNORE_INSERTS such a text fails, or reads
        // arguments that were never given.
        return ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                messageId, 0, buffer, size, nullptr);
    }

    LONG InitializeComSecurity() override {
        // The apartment is joined first (CoInitializeSecurity needs one) and kept until the
        // platform goes: the first single-threaded apartment of the process is the last to leave,
        // and the process's security stays set while COM is in use.
        if (!apartment_) apartment_.emplace();
        // Who may call into the process's COM objects (the callbacks WMI and the components
        // make): the local system account and the Administrators only. A NULL descriptor here
        // would let any local caller in. Owner and group must be set for COM to take it.
        SecurityDescriptor access(WellKnownSid(WinBuiltinAdministratorsSid),
                                  WellKnownSid(WinBuiltinAdministratorsSid),
                                  {{WellKnownSid(WinLocalSystemSid), kComRightsLocal},
                                   {WellKnownSid(WinBuiltinAdministratorsSid), kComRightsLocal}});
        if (!access.get()) {
            const ::DWORD error = ::GetLastError();
            return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
        // Servers called through the process's own proxies may identify the program, not act
        // as it; the WMI and Task Scheduler proxies that need more ask for impersonation on
        // their own blanket. No activation as the activator, no custom marshalers.
        const HRESULT result = ::CoInitializeSecurity(
            access.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IDENTIFY,
            nullptr, EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL, nullptr);
        return result == RPC_E_TOO_LATE ? S_OK : result;
    }

private:
    std::optional<ComApartment> apartment_;
};

}  // namespace

std::unique_ptr<System> MakeWin32System() {
    return std::make_unique<Win32System>();
}

}  // namespace platform::win32
