#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/emulated/machine.h"
#include "platform/registry.h"

namespace platform::emulated {

class EmulatedRegistry final : public Registry {
public:
    explicit EmulatedRegistry(Machine& machine) : machine_(machine) {}

    LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) override;
    LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access,
                       HKEY* result) override;
    LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                          DWORD* dataSize) override;
    LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                        DWORD dataSize) override;
    LONG RegCloseKey(HKEY key) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) override;
    LONG RegEnumValueA(HKEY key, DWORD index, std::string* name) override;
    LONG RegQueryInfoKeyA(HKEY key, std::uint64_t* lastWriteTime) override;

private:
    struct OpenKey {
        std::string path;  // below HKEY_LOCAL_MACHINE, as the view resolved it
        DWORD access = 0;
    };
    LONG Open(HKEY root, const char* subKey, DWORD access, bool view32, HKEY* result);
    const OpenKey* Lookup(HKEY key) const;
    // Whether machine.ini lists the key at `path` in `section` (names without regard to case).
    bool Listed(const char* section, const std::string& path) const;
    // The key behind an open handle that grants `right`: null with the error in *status.
    RegKey* Granted(HKEY key, DWORD right, LONG* status);

    Machine& machine_;
    std::map<HKEY, OpenKey> open_;
    // Keys written through this host (path upper-cased) with the time of the write, a FILETIME.
    std::map<std::string, std::uint64_t> written_;
    HKEY next_ = 0x1000;
};

}  // namespace platform::emulated
