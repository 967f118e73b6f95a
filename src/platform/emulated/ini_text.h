// The text of a private-profile (INI) file as the Windows profile functions read and edit it.
// Pure functions over bytes, with no file access, so that the rules can be exercised on their own.
//
// Reading rules:
// - Lines end at CR LF, LF or CR. Blanks (TAB, LF, VT, FF, CR, SUB 0x1A, space) around a line,
//   around a section name inside its brackets, around a key and around a value are dropped.
// - "[name]" opens a section; the name runs up to the last ']' of the line, anything after it is
//   ignored. A line that starts with '[' but has no ']' is an ordinary line.
// - "key=value" splits at the first '='; a line without '=' is a key without a value, which
//   reads as missing. Comment lines (';') are never matched by the names the program uses.
// - Names compare without regard to case. Only the first section of a name is searched and the
//   first line of a key wins, even when later duplicates hold the key.
// - A NUL ends a name or a value where it stands (the line itself goes on to its line break).
// - Lines before the first section belong to a section without a name.
//
// Editing rules (the rest of the file stays byte for byte as it was):
// - An existing key line is replaced by "key=value", the key spelled as in the file.
// - A new key goes right after the last non-blank line of its section.
// - A new section goes at the end of the file, after a line break if the file lacks a final one.
// - New lines end with CR LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::emulated::ini {

enum class Encoding {
    kAnsi,     // no byte-order mark: the ANSI code page (UTF-8 on the emulated host)
    kUtf8,     // EF BB BF
    kUtf16Le,  // FF FE
    kUtf16Be,  // FE FF
};

struct Text {
    Encoding encoding = Encoding::kAnsi;
    std::string body;  // without the byte-order mark, in the ANSI code page
};

// A file's bytes as text; the byte-order mark decides the encoding.
Text Decode(std::string_view fileBytes);
// The bytes of the file for a text, with its byte-order mark.
std::string Encode(const Text& text);

// Blank characters as the profile functions trim them.
bool IsBlank(char c);
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
// The text up to its first NUL.
std::string_view UpToNul(std::string_view text);

// The value of key in section as the file holds it (blanks trimmed, cut at a NUL, quotes still
// on), or nothing when the section or the key is missing or the key has no '='. The requested
// names are trimmed of blanks.
std::optional<std::string> Lookup(std::string_view body, std::string_view section,
                                  std::string_view key);

// The value without one pair of matching quotes ('...' or "...") around it, as it is handed out.
std::string_view Unquote(std::string_view value);

// The body with key set to value in section, or nothing when the file already holds exactly
// that value. Leading blanks of section, key and value are dropped; a new section or key keeps
// the rest of the caller's spelling.
std::optional<std::string> Assign(std::string_view body, std::string_view section,
                                  std::string_view key, std::string_view value);

}  // namespace platform::emulated::ini
