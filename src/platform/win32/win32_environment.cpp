// Environment facet: the program's own environment variables.
#include <string>

#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

class Win32Environment final : public Environment {
public:
    bool GetEnvironmentVariableA(const char* name, std::string* value) override {
        std::string buffer(256, '\0');
        for (;;) {
            // 0 is both "not set" (ERROR_ENVVAR_NOT_FOUND) and "set to an empty text"; only the
            // last error tells them apart, so it is cleared first.
            ::SetLastError(ERROR_SUCCESS);
            const ::DWORD length =
                ::GetEnvironmentVariableA(name, buffer.data(), static_cast<::DWORD>(buffer.size()));
            if (length == 0) {
                if (::GetLastError() != ERROR_SUCCESS) return false;
                value->clear();
                return true;
            }
            if (length < buffer.size()) {
                buffer.resize(length);
                *value = std::move(buffer);
                return true;
            }
            // Too small: length is the size needed, NUL included. The variable may still grow
            // before the next call (another thread), hence the loop.
            buffer.assign(length, '\0');
        }
    }
};

}  // namespace

std::unique_ptr<Environment> MakeWin32Environment() {
    return std::make_unique<Win32Environment>();
}

}  // namespace platform::win32
