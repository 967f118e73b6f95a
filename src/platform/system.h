// System facet: the thread's last-error value and the system's message texts.
#pragma once

#include "platform/types.h"

namespace platform {

class System {
public:
    virtual ~System() = default;

    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;
    // FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, no source, messageId, language 0, buffer, size):
    // the number of characters stored (the text ends with CR LF), 0 when there is no text or it
    // does not fit.
    virtual DWORD FormatMessageA(DWORD messageId, char* buffer, DWORD size) = 0;
};

}  // namespace platform
