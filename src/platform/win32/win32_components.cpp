// The agent's components, bound as the program binds them.
#include "platform/components.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

// The cipher library's exports: standard-call functions taking the buffer and its length.
using CipherFunction = int(WINAPI*)(char* buffer, std::int32_t length);

class Win32Components final : public Components {
public:
    bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                    std::int32_t length) override {
        HMODULE library = ::LoadLibraryA(libraryPath);
        if (!library) return false;
        const auto function =
            reinterpret_cast<CipherFunction>(reinterpret_cast<void*>(::GetProcAddress(library, exportName)));
        if (!function) {
            const DWORD error = ::GetLastError();
            ::FreeLibrary(library);
            ::SetLastError(error);
            return false;
        }
        function(buffer, length);
        ::FreeLibrary(library);
        return true;
    }
};

}  // namespace

std::unique_ptr<Components> MakeWin32Components() { return std::make_unique<Win32Components>(); }

}  // namespace platform::win32
