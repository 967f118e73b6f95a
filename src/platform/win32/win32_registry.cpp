// Registry facet: the ANSI registry functions, called as they are.
#include <cstdint>
#include <string>

#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

// platform::HKEY carries the key's handle value unchanged, predefined roots included.
::HKEY ToWin(HKEY key) {
    return reinterpret_cast<::HKEY>(key);
}
HKEY FromWin(::HKEY key) {
    return reinterpret_cast<HKEY>(key);
}

// The out-parameters go through Windows' own types (DWORD is unsigned long there). Only the data
// size is read on the way in; a key or type that Windows does not write comes back as 0 (the
// callers' variables need not be initialised; on failure Windows itself clears the key).
class Win32Registry final : public Registry {
public:
    LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override {
        ::HKEY opened = nullptr;
        const LONG status = ::RegOpenKeyA(ToWin(root), subKey, result ? &opened : nullptr);
        if (result) *result = FromWin(opened);
        return status;
    }

    LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access,
                       HKEY* result) override {
        ::HKEY opened = nullptr;
        const LONG status =
            ::RegOpenKeyExA(ToWin(root), subKey, options, access, result ? &opened : nullptr);
        if (result) *result = FromWin(opened);
        return status;
    }

    LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                          DWORD* dataSize) override {
        ::DWORD winType = 0;
        ::DWORD winSize = dataSize ? *dataSize : 0;
        const LONG status =
            ::RegQueryValueExA(ToWin(key), valueName, nullptr, type ? &winType : nullptr, data,
                               dataSize ? &winSize : nullptr);
        if (type) *type = winType;
        if (dataSize) *dataSize = winSize;
        return status;
    }

    LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                        DWORD dataSize) override {
        return ::RegSetValueExA(ToWin(key), valueName, 0, type, data, dataSize);
    }

    LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(ToWin(key)); }

    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override {
        char buffer[kMaxKeyName + 1] = {};
        ::DWORD size = sizeof buffer;
        const LONG status =
            ::RegEnumKeyExA(ToWin(key), index, buffer, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) name->assign(buffer, size);
        return status;
    }

    LONG RegEnumValueA(HKEY key, DWORD index, std::string* name) override {
        std::string buffer(kMaxValueName + 1, '\0');
        ::DWORD size = static_cast<::DWORD>(buffer.size());
        const LONG status = ::RegEnumValueA(ToWin(key), index, buffer.data(), &size, nullptr,
                                            nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) name->assign(buffer.data(), size);
        return status;
    }

    LONG RegQueryInfoKeyA(HKEY key, std::uint64_t* lastWriteTime) override {
        ::FILETIME written{};
        const LONG status =
            ::RegQueryInfoKeyA(ToWin(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr, &written);
        if (lastWriteTime) {
            *lastWriteTime = status == ERROR_SUCCESS
                                 ? (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) |
                                       written.dwLowDateTime
                                 : 0;
        }
        return status;
    }

private:
    // The longest names the registry allows, in characters without the NUL.
    static constexpr ::DWORD kMaxKeyName = 255;
    static constexpr ::DWORD kMaxValueName = 16383;
};

}  // namespace

std::unique_ptr<Registry> MakeWin32Registry() {
    return std::make_unique<Win32Registry>();
}

}  // namespace platform::win32
