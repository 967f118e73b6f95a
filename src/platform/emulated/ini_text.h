// The text of a private-profile (INI) file as the Windows profile functions read and edit it.
// Pure functions over bytes, with no file access, so that the rules can be exercised on their own.
//
// Reading rules:
// - Lines end at CR LF, LF or CR. Blanks (space, TAB, VT) around a line, around a section name
//   inside its brackets, around a key and around a value are dropped; other control characters
//   (form feed, the DOS end-of-file byte SUB) are text.
// - A line that starts with '[' opens a section; the name runs up to the first ']' or to the end
//   of the line, and anything after the ']' is ignored.
// - A line that starts with ';' is a comment: never a key, whatever name is asked for.
// - "key=value" splits at the first '='; a line without '=' is a key without a value, which
//   reads as missing.
// - Names compare without regard to case. Only the first section of a name is searched and the
//   first line of a key wins, even when later duplicates hold the key.
// - A NUL ends a name or a value where it stands (the line itself goes on to its line break).
// - Lines before the first section belong to no section: no name, not even "", finds them
//   ("[]" opens the section named "").
// - The names asked for are trimmed of spaces only: a TAB in a requested name is part of it.
//
// Editing rules (the rest of the file stays byte for byte as it was):
// - An existing key line is replaced by "key=value", the key spelled as in the file; the line
//   keeps its line break, and gets CR LF when it had none (the last line of the file).
// - A new key goes right after the last key line of its section (comment and blank lines after
//   it stay after it), or right after the section's header when it has no key.
// - A new section goes at the end of the file, after a line break if the file lacks a final one.
//   A UTF-16LE file's byte-order mark begins its first line: a file holding only the mark is a
//   line without its line end, and a new section goes after a CR LF there too.
// - A section removed (a write with no key) takes its header and every line up to the next
//   header with it.
// - New lines end with CR LF. Section and key names are written without their leading and
//   trailing spaces; the value is written exactly as given.
//
// Encodings: a file that starts with the UTF-16LE mark (FF FE) is UTF-16 text and stays so.
// Any other file is text in the ANSI code page, even one that starts with a UTF-8 or a UTF-16BE
// mark: such a mark is three or two ordinary bytes at the start of the first line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::emulated::ini {

enum class Encoding {
    kAnsi,     // the ANSI code page (UTF-8 on the emulated host)
    kUtf16Le,  // FF FE
};

struct Text {
    Encoding encoding = Encoding::kAnsi;
    std::string body;  // without the byte-order mark, in the ANSI code page
};

// A file's bytes as text; the byte-order mark decides the encoding.
Text Decode(std::string_view fileBytes);
// The bytes of the file for a text, with its byte-order mark.
std::string Encode(const Text& text);

// Blank characters as the profile functions trim them in a file's lines.
bool IsBlank(char c);
// A requested or written name without its leading and trailing spaces (spaces only).
std::string_view TrimSpaces(std::string_view text);
std::string_view Trim(std::string_view text);
std::string_view TrimLeft(std::string_view text);
// The text up to its first NUL.
std::string_view UpToNul(std::string_view text);

// The value of key in section as the file holds it (blanks trimmed, cut at a NUL, quotes still
// on), or nothing when the section or the key is missing or the key has no '='. The requested
// names are trimmed of spaces.
std::optional<std::string> Lookup(std::string_view body, std::string_view section,
                                  std::string_view key);

// The value without one pair of matching quotes ('...' or "...") around it, as it is handed out.
std::string_view Unquote(std::string_view value);

// The text's body with key set to value in section, or nothing when the file already holds
// exactly that value. Section and key are trimmed of spaces; the value is written as it is given.
std::optional<std::string> Assign(const Text& text, std::string_view section, std::string_view key,
                                  std::string_view value);

// The text's body without the first section of that name (its header and every line up to the
// next header), or nothing when there is no such section.
std::optional<std::string> RemoveSection(const Text& text, std::string_view section);

}  // namespace platform::emulated::ini
