// The character set an HTTP answer names in its Content-Type, and what it means to each host:
// Windows decodes through a code page, the emulated host (whose texts are UTF-8) converts the
// common single-byte sets and UTF-16 itself. No charset, or one neither knows, is UTF-8.
#pragma once

#include <string>

namespace platform {

// The charset parameter of a Content-Type value, lower case without quotes; empty when there is
// none ("text/xml; charset=\"ISO-8859-1\"" gives "iso-8859-1").
std::string CharsetOf(const std::string& contentType);

// The Windows code page of a charset name; 65001 (UTF-8) for an empty or unknown one. UTF-16
// answers give 1200 (little-endian) and 1201 (big-endian), which MultiByteToWideChar does not
// take: the caller reads those units itself.
unsigned CodePageOfCharset(const std::string& charset);

// An answer's bytes in that charset as UTF-8 (the emulated host's texts): UTF-8 and unknown sets
// are kept as they are; US-ASCII, ISO-8859-1, Windows-1252 and UTF-16 (by its byte-order mark,
// else big-endian as RFC 2781 says; "utf-16le"/"utf-16be" as named) are converted.
std::string AnswerToUtf8(const std::string& bytes, const std::string& charset);

}  // namespace platform
