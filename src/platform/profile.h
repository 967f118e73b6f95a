// Profile facet: the private-profile (INI file) functions in their ANSI forms.
#pragma once

#include "platform/types.h"

namespace platform {

class Profile {
public:
    virtual ~Profile() = default;

    // GetPrivateProfileStringA with a section and a key (neither null): copies the value, or the
    // default when the file, section or key is missing, into buffer (size characters with its
    // NUL) and returns the number of characters copied without the NUL (size - 1 when cut).
    virtual DWORD GetPrivateProfileStringA(const char* section, const char* key,
                                           const char* defaultValue, char* buffer, DWORD size,
                                           const char* fileName) = 0;
    // WritePrivateProfileStringA with a section, a key and a value (none null): creates the file
    // (not its folder) when needed. FALSE with the last error when the file cannot be written.
    // With a null key (and a null value) the section is removed with all its lines.
    virtual bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                            const char* fileName) = 0;
};

}  // namespace platform
