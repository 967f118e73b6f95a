// Conversions between the emulated host's ANSI texts (UTF-8 on this host) and the UTF-16LE bytes
// that the registry export format stores for expandable and multi-string values.
#pragma once

#include <string>

namespace platform::emulated {

// UTF-16LE bytes to UTF-8; an odd trailing byte is dropped, unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(const std::string& bytes);
// UTF-8 to UTF-16LE bytes; invalid sequences become U+FFFD.
std::string Utf8ToUtf16Le(const std::string& text);

// Case-insensitive comparison of ASCII letters, as Windows compares registry and file names for
// the characters the program uses.
std::string UpperAscii(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace platform::emulated
