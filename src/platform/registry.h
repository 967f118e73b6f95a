// Registry facet: the ANSI registry functions as the program calls them.
// Results are Win32 codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ...).
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

class Registry {
public:
    virtual ~Registry() = default;

    // RegOpenKeyA: the legacy open, no access mask and no view flag (the view native to the
    // program).
    virtual LONG RegOpenKeyA(HKEY root, const char* subKey, HKEY* result) = 0;
    // RegOpenKeyExA with an access mask that may carry KEY_WOW64_64KEY or KEY_WOW64_32KEY.
    virtual LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access,
                               HKEY* result) = 0;
    // RegQueryValueExA: a null data pointer asks for type and size only; a buffer that is too
    // small gives ERROR_MORE_DATA with the needed size. valueName null or "" is the default value.
    virtual LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* type, BYTE* data,
                                  DWORD* dataSize) = 0;
    // For a text type (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) a size that leaves out the NUL right
    // after the text is taken with it: Windows reads the byte after the data to see.
    virtual LONG RegSetValueExA(HKEY key, const char* valueName, DWORD type, const BYTE* data,
                                DWORD dataSize) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;
    // RegEnumKeyExA and RegEnumValueA with a buffer for the longest name a key or value may
    // have: the name of the index-th subkey or value of an open key, in no documented order;
    // ERROR_NO_MORE_ITEMS past the last. The key needs KEY_ENUMERATE_SUB_KEYS or
    // KEY_QUERY_VALUE.
    virtual LONG RegEnumKeyExA(HKEY key, DWORD index, std::string* name) = 0;
    virtual LONG RegEnumValueA(HKEY key, DWORD index, std::string* name) = 0;
    // RegQueryInfoKeyA asked for the key's last-write time alone (lpftLastWriteTime, a FILETIME
    // in UTC): when the key or one of its values was last written. The key needs
    // KEY_QUERY_VALUE. The emulated host answers 0 for a key whose time its machine folder does
    // not know.
    virtual LONG RegQueryInfoKeyA(HKEY key, std::uint64_t* lastWriteTime) = 0;
};

}  // namespace platform
