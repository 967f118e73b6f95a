// System facet: the thread's last-error value and the system's message texts.
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

class Win32System final : public System {
public:
    DWORD GetLastError() override { return ::GetLastError(); }

    void SetLastError(DWORD error) override { ::SetLastError(error); }

    DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) override {
        // As the program has always asked: no FORMAT_MESSAGE_IGNORE_INSERTS, no arguments.
        return ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, messageId, 0, buffer, size,
                                nullptr);
    }
};

}  // namespace

std::unique_ptr<System> MakeWin32System() { return std::make_unique<Win32System>(); }

}  // namespace platform::win32
