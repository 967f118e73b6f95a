// The one wait of a thread that may be in a single-threaded apartment: a thread of an STA that
// waits without pumping its messages holds back every call into that apartment (an object of a
// class registered without a threading model is made in the process's first STA, and its creation
// on another thread waits for this one) and every program that sends to all top-level windows.
#pragma once

#include "platform/win32/windows_include.h"

// clang-format off
#include <objbase.h>
// clang-format on

namespace platform::win32 {

inline bool InSingleThreadedApartment() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(::CoGetApartmentType(&type, &qualifier))) return false;
    return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

// WaitForSingleObject's answers (WAIT_OBJECT_0, WAIT_TIMEOUT, WAIT_FAILED with the last error);
// in a single-threaded apartment the wait pumps its messages (CoWaitForMultipleHandles), any
// other thread waits plainly. A wait of 0 only looks.
inline ::DWORD WaitInApartment(::HANDLE handle, ::DWORD milliseconds) {
    if (milliseconds != 0 && InSingleThreadedApartment()) {
        ::DWORD index = 0;
        const HRESULT result = ::CoWaitForMultipleHandles(0, milliseconds, 1, &handle, &index);
        if (result == S_OK) return WAIT_OBJECT_0;
        if (result == RPC_S_CALLPENDING) return WAIT_TIMEOUT;
        if (result != CO_E_NOTINITIALIZED) {
            // RPC_E_NO_SYNC and the like carry a system error in their low word.
            ::SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                                      : ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    return ::WaitForSingleObject(handle, milliseconds);
}

}  // namespace platform::win32
