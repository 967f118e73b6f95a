// The private-profile functions, called as they are.
#include "platform/profile.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

class Win32Profile final : public Profile {
public:
    DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                   char* buffer, DWORD size, const char* fileName) override {
        return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
    }
    bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                    const char* fileName) override {
        return ::WritePrivateProfileStringA(section, key, value, fileName) != FALSE;
    }
};

}  // namespace

std::unique_ptr<Profile> MakeWin32Profile() {
    return std::make_unique<Win32Profile>();
}

}  // namespace platform::win32
