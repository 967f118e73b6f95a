// System facet: the thread's last-error value and the system's message texts.
#include <optional>

#include "platform/win32/com_support.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

class Win32System final : public System {
public:
    DWORD GetLastError() override { return ::GetLastError(); }

    void SetLastError(DWORD error) override { ::SetLastError(error); }

    DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) override {
        // Without FORMAT_MESSAGE_IGNORE_INSERTS and with no arguments, as the procedures that log
        // the texts ask for them.
        return ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, messageId, 0, buffer, size,
                                nullptr);
    }

    LONG InitializeComSecurity() override {
        // The apartment is joined first (CoInitializeSecurity needs one) and kept until the
        // platform goes: the first single-threaded apartment of the process is the last to leave,
        // and the process's security stays set while COM is in use.
        if (!apartment_) apartment_.emplace();
        const HRESULT result =
            ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                   RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
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
