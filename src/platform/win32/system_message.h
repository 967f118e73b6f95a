// The system's message text for an error number, as the Win32 layer reports failures.
#pragma once

#include <string>

#include "platform/win32/windows_include.h"

namespace platform::win32 {

// FormatMessageA of `id` without inserts, from the system's messages or, with `module`, from
// that module's own; without its line end. Empty when there is no text for the number.
std::string SystemMessage(::DWORD id, ::HMODULE module = nullptr);

}  // namespace platform::win32
