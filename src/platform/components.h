// Components facet: the agent's own components outside this program, reached the way the
// program binds them.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

class Components {
public:
    virtual ~Components() = default;

    // LoadLibraryA of the cipher library at libraryPath, GetProcAddress of exportName
    // ("EncryptData" or "DecryptData"), the call on buffer (transformed in place, length bytes),
    // FreeLibrary. FALSE with the last error (ERROR_MOD_NOT_FOUND 126, ERROR_PROC_NOT_FOUND 127)
    // when the library or the export cannot be bound.
    virtual bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                            std::int32_t length) = 0;
};

}  // namespace platform
