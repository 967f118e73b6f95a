#include "platform/win32/system_message.h"

namespace platform::win32 {

std::string SystemMessage(::DWORD id, ::HMODULE module) {
    char buffer[512] = {};
    const ::DWORD source = module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    ::DWORD length = ::FormatMessageA(source | FORMAT_MESSAGE_IGNORE_INSERTS, module, id, 0, buffer,
                                      sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) --length;
    return std::string(buffer, length);
}

}  // namespace platform::win32
