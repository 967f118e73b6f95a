// Session facet: the account the program runs under (and, later, the console user's session).
#pragma once

#include "platform/types.h"

namespace platform {

class Session {
public:
    virtual ~Session() = default;

    // GetUserNameA: the account name with its NUL into buffer; *size is the buffer size in and the
    // count with the NUL out. FALSE (ERROR_INSUFFICIENT_BUFFER, *size the size needed) when it
    // does not fit.
    virtual bool GetUserNameA(char* buffer, DWORD* size) = 0;
};

}  // namespace platform
