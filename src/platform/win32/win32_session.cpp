// The account and session functions, called as they are.
#include "platform/session.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

class Win32Session final : public Session {
public:
    bool GetUserNameA(char* buffer, DWORD* size) override {
        ::DWORD count = size ? *size : 0;
        const BOOL ok = ::GetUserNameA(buffer, &count);
        if (size) *size = count;
        return ok != FALSE;
    }
};

}  // namespace

std::unique_ptr<Session> MakeWin32Session() { return std::make_unique<Win32Session>(); }

}  // namespace platform::win32
