// GetPrivateProfileStringA and WritePrivateProfileStringA: each case is the bytes of a file, one
// call, and what the call must answer and leave in the file. The same table runs against every
// world of contract_fixture.h.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "contract_fixture.h"
#include "platform/emulated/text_codec.h"

namespace {

using namespace std::string_literals;
using contract::Escaped;
using platform::DWORD;

// Where the case's file is.
enum class Place {
    kFile,          // a file holding the case's bytes
    kNoFile,        // nothing, in an existing folder
    kNoFolder,      // nothing, in a folder that does not exist
    kFolder,        // a folder by the file's name
    kReadOnlyFile,  // the case's bytes, with the read-only attribute
};

// The text as a UTF-16 file with its byte-order mark (ASCII texts only).
std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string Utf16Be(const std::string& ascii) {
    std::string out = "\xFE\xFF";
    for (const char c : ascii) {
        out += '\0';
        out += c;
    }
    return out;
}

struct ReadCase {
    const char* name;
    Place place;
    std::string file;
    const char* section;
    const char* key;
    const char* defaultValue;
    DWORD size;
    DWORD count;                 // the return value
    std::string text;            // the buffer up to its NUL
    const char* wine = nullptr;  // how Wine answers otherwise, when it does
    DWORD wineCount = 0;         // Wine's answer, when it answers otherwise
    std::string wineText = {};
};

// Where Windows' answers come from: Microsoft's documentation of the two functions; Wine's
// profile conformance tests (kernel32), where an assertion marked todo_wine is Windows' answer;
// and a suite of INI file cases run on Windows 10 through these functions ("INI suite" below).

constexpr const char* kWineCommentKeys = "Wine takes a comment line for a key named with its ';'";
constexpr const char* kWineWholeValues =
    "Wine hands out values of 65,536 characters and more whole";
constexpr const char* kWineNamelessTop =
    "Wine puts the lines before the first header in the section named \"\"";

std::vector<ReadCase> ReadCases() {
    const std::string plain = "[s]\r\nk=v\r\n";
    const std::string huge(3 * 1024 * 1024, 'x');
    const std::string quoted = "[s]\r\nk=\"quoted\"\r\n";
    return {
        // Finding the key.
        {"plain", Place::kFile, plain, "s", "k", "d", 100, 1, "v"},
        {"names ignore case", Place::kFile, "[Sec]\r\nKey=v\r\n", "sEC", "kEY", "d", 100, 1, "v"},
        {"requested names are trimmed of spaces", Place::kFile, plain, "  s ", " k  ", "d", 100, 1,
         "v"},
        // INI suite: a TAB in the requested section or key name is part of the name.
        {"a TAB in a requested name is part of it", Place::kFile, plain, "s\t", "\tk", "d", 100, 1,
         "d", "Wine trims TABs off the requested names too", 1, "v"},
        {"blanks around names and value", Place::kFile, "  [ s ]  \r\n  k  =  v  \r\n", "s", "k",
         "d", 100, 1, "v"},
        {"tabs around '='", Place::kFile, "[s]\r\nk\t=\tv\t\r\n", "s", "k", "d", 100, 1, "v"},
        {"inner blanks stay", Place::kFile, "[s]\r\nk=a  b\r\n", "s", "k", "d", 100, 4, "a  b"},
        {"value split at the first '='", Place::kFile, "[s]\r\nk=a=b\r\n", "s", "k", "d", 100, 3,
         "a=b"},
        {"key with inner blank", Place::kFile, "[s]\r\nmy key=v\r\n", "s", "my key", "d", 100, 1,
         "v"},
        {"empty value", Place::kFile, "[s]\r\nk=\r\n", "s", "k", "d", 100, 0, ""},
        // INI suite: space, TAB and vertical tab are the blanks dropped around a value.
        {"vertical tab counts as blank", Place::kFile, "[s]\r\nk=\vv\v\r\n", "s", "k", "d", 100, 1,
         "v"},
        {"SUB is no blank", Place::kFile, "[s]\r\nk=v\x1A\r\n", "s", "k", "d", 100, 2, "v\x1A",
         "Wine drops the DOS end-of-file byte as a blank", 1, "v"},
        {"form feed is no blank", Place::kFile, "[s]\r\nk=\fv\f\r\n", "s", "k", "d", 100, 3,
         "\fv\f", "Wine drops form feeds as blanks", 1, "v"},
        {"bytes above 0x7F pass through", Place::kFile, "[s]\r\nk=\xE9t\xE9\r\n", "s", "k", "d",
         100, 3, "\xE9t\xE9"},

        // Quotes.
        {"double quotes stripped", Place::kFile, quoted, "s", "k", "d", 100, 6, "quoted"},
        {"single quotes stripped", Place::kFile, "[s]\r\nk='q'\r\n", "s", "k", "d", 100, 1, "q"},
        {"blanks inside quotes kept", Place::kFile, "[s]\r\nk= \" a \" \r\n", "s", "k", "d", 100, 3,
         " a "},
        {"unmatched quotes kept", Place::kFile, "[s]\r\nk=\"q'\r\n", "s", "k", "d", 100, 3, "\"q'"},
        {"opening quote only kept", Place::kFile, "[s]\r\nk=\"abc\r\n", "s", "k", "d", 100, 4,
         "\"abc"},
        {"lone quote kept", Place::kFile, "[s]\r\nk=\"\r\n", "s", "k", "d", 100, 1, "\""},
        {"empty quotes give empty", Place::kFile, "[s]\r\nk=\"\"\r\n", "s", "k", "d", 100, 0, ""},
        {"inner quotes kept", Place::kFile, "[s]\r\nk=a\"b\"c\r\n", "s", "k", "d", 100, 5,
         "a\"b\"c"},

        // Comments, odd lines, duplicates.
        {"comment line skipped", Place::kFile, "[s]\r\n;k=c\r\nk=v\r\n", "s", "k", "d", 100, 1,
         "v"},
        {"commented key is missing", Place::kFile, "[s]\r\n; k=c\r\n", "s", "k", "d", 100, 1, "d"},
        // INI suite: a key asked for with its ';' finds no comment line, even after blanks.
        {"a comment is never a key", Place::kFile, "[s]\r\n;k=c\r\n", "s", ";k", "d", 100, 1, "d",
         kWineCommentKeys, 1, "c"},
        {"a comment after blanks is never a key", Place::kFile, "[s]\r\n \t;k=c\r\n", "s", ";k",
         "d", 100, 1, "d", kWineCommentKeys, 1, "c"},
        {"'#' starts no comment", Place::kFile, "[s]\r\n#k=v\r\n", "s", "#k", "d", 100, 1, "v"},
        {"line without '='", Place::kFile, "[s]\r\nvalue1\r\n", "s", "k", "d", 100, 1, "d"},
        {"key without '=' reads as missing", Place::kFile, "[s]\r\nk\r\nk=2\r\n", "s", "k", "d",
         100, 1, "d"},
        {"first of duplicate keys wins", Place::kFile, "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "d", 100,
         1, "1"},
        {"first of duplicate sections wins", Place::kFile, "[s]\r\nk=1\r\n[S]\r\nk=2\r\n", "s", "k",
         "d", 100, 1, "1"},
        {"later duplicate section not searched", Place::kFile, "[s]\r\nk=1\r\n[S]\r\nj=3\r\n", "s",
         "j", "d", 100, 1, "d"},
        {"key of another section", Place::kFile, "[t]\r\nk=1\r\n[s]\r\nj=2\r\n", "s", "k", "d", 100,
         1, "d"},
        {"keys before any section", Place::kFile, "k=top\r\n[s]\r\nj=1\r\n", "s", "k", "d", 100, 1,
         "d"},
        // INI suite: lines before the first header are in no section, not even the one named "".
        {"keys before any section are not in section \"\"", Place::kFile, "k=top\r\n[s]\r\nj=1\r\n",
         "", "k", "d", 100, 1, "d", kWineNamelessTop, 3, "top"},
        // kernel32 profile tests (todo_wine): "[]" opens the section named "".
        {"\"[]\" opens the section named \"\"", Place::kFile, "k=top\r\n[]\r\nk=e\r\n", "", "k",
         "d", 100, 1, "e", kWineNamelessTop, 3, "top"},
        // INI suite: the name ends at the first ']', or with the line when there is none.
        {"header without ']' opens its section", Place::kFile, "[s  \r\nk=v\r\n", "s", "k", "d",
         100, 1, "v", "Wine takes a line without ']' for no header", 1, "d"},
        {"text after ']' ignored", Place::kFile, "[s] ; note\r\nk=v\r\n", "s", "k", "d", 100, 1,
         "v"},
        {"key after ']' on the header line ignored", Place::kFile, "[s]k=v\r\n", "s", "k", "d", 100,
         1, "d"},
        {"name ends at the first ']'", Place::kFile, "[s]x]\r\nk=v\r\n", "s", "k", "d", 100, 1, "v",
         "Wine ends the name at the last ']'", 1, "d"},
        {"name with ']' not found", Place::kFile, "[s]x]\r\nk=v\r\n", "s]x", "k", "d", 100, 1, "d",
         "Wine ends the name at the last ']'", 1, "v"},

        // Line ends.
        {"no final line break", Place::kFile, "[s]\r\nk=last", "s", "k", "d", 100, 4, "last"},
        {"LF line ends", Place::kFile, "[s]\nk=lf\n", "s", "k", "d", 100, 2, "lf"},
        {"CR line ends", Place::kFile, "[s]\rk=cr\r", "s", "k", "d", 100, 2, "cr"},
        {"blank lines", Place::kFile, "\r\n\r\n[s]\r\n\r\n\r\nk=v\r\n\r\n", "s", "k", "d", 100, 1,
         "v"},

        // Encodings.
        // INI suite: only the UTF-16LE mark is understood. A UTF-8 mark is three bytes of the
        // first line, which then is no header; a UTF-16BE file is read as ANSI bytes.
        {"UTF-8 byte-order mark spoils the first line", Place::kFile,
         "\xEF\xBB\xBF[s]\r\nk=bom8\r\n", "s", "k", "d", 100, 1, "d",
         "Wine decodes UTF-8 with its mark", 4, "bom8"},
        {"UTF-8 byte-order mark: later sections read", Place::kFile,
         "\xEF\xBB\xBF[s]\r\nk=1\r\n[t]\r\nk=2\r\n", "t", "k", "d", 100, 1, "2"},
        {"UTF-16LE", Place::kFile, Utf16Le("[s]\r\nk=u16\r\n"), "s", "k", "d", 100, 3, "u16"},
        {"UTF-16LE without final line break", Place::kFile, Utf16Le("[s]\r\nk=u16"), "s", "k", "d",
         100, 3, "u16"},
        {"UTF-16BE is not decoded", Place::kFile, Utf16Be("[s]\r\nk=be\r\n"), "s", "k", "d", 100, 1,
         "d", "Wine decodes UTF-16BE with its mark", 2, "be"},

        // NULs and garbage.
        {"NUL ends a value", Place::kFile, "[s]\r\nk=a\0b\r\n"s, "s", "k", "d", 100, 1, "a"},
        {"NUL ends a key", Place::kFile, "[s]\r\nk\0x=ab\r\n"s, "s", "k", "d", 100, 2, "ab"},
        {"NUL ends a section name", Place::kFile, "[s\0x]\r\nk=ab\r\n"s, "s", "k", "d", 100, 2,
         "ab"},
        {"NUL after a blank in a section name", Place::kFile, "[s \0x]\r\nk=v\r\n"s, "s", "k", "d",
         100, 1, "d"},
        {"garbage before the first section", Place::kFile,
         "\0\0\x01\xFF\xFE=\0[\r\n\x7F]]\0\r\n[s]\r\nk=v\r\n"s, "s", "k", "d", 100, 1, "v"},
        {"garbage inside a value", Place::kFile, "[s]\r\nk=\x01\x02\0zz\r\n"s, "s", "k", "d", 100,
         2, "\x01\x02"},

        // Long lines.
        {"megabytes before the key", Place::kFile, "[s]\r\nk=" + huge + "\r\nj=1\r\n", "s", "j",
         "d", 100, 1, "1"},
        // INI suite: a value's length is a 16-bit count. 65,535 characters come out whole,
        // 65,536 as nothing, a longer value as its first (length modulo 65,536) characters.
        {"megabyte value cut", Place::kFile, "[s]\r\nk=" + huge + huge.substr(0, 20) + "\r\n", "s",
         "k", "d", 10, 9, "xxxxxxxxx"},
        {"long value whole", Place::kFile, "[s]\r\nk=" + huge.substr(0, 65535) + "\r\n", "s", "k",
         "d", 65536, 65535, huge.substr(0, 65535)},
        {"value of 65,536 characters reads as nothing", Place::kFile,
         "[s]\r\nk=" + huge.substr(0, 65536) + "\r\n", "s", "k", "d", 65537, 0, "",
         kWineWholeValues, 65536, huge.substr(0, 65536)},
        {"value of 65,537 characters reads as its first", Place::kFile,
         "[s]\r\nk=" + huge.substr(0, 65537) + "\r\n", "s", "k", "d", 65538, 1, "x",
         kWineWholeValues, 65537, huge.substr(0, 65537)},
        {"megabyte line without line break", Place::kFile, "[s]\r\nk=v\r\n" + huge, "s", "k", "d",
         100, 1, "v"},

        // The buffer.
        {"value cut to the buffer", Place::kFile, "[s]\r\nk=value\r\n", "s", "k", "d", 3, 2, "va"},
        {"value exactly fits", Place::kFile, "[s]\r\nk=value\r\n", "s", "k", "d", 6, 5, "value"},
        {"buffer of one", Place::kFile, plain, "s", "k", "d", 1, 0, ""},
        {"buffer of two", Place::kFile, plain, "s", "k", "d", 2, 1, "v"},
        {"buffer of zero untouched", Place::kFile, plain, "s", "k", "d", 0, 0, ""},
        {"quoted value cut", Place::kFile, quoted, "s", "k", "d", 5, 4, "quot"},
        {"quoted value one short", Place::kFile, quoted, "s", "k", "d", 6, 5, "quote"},
        {"unquoted value exactly fits", Place::kFile, quoted, "s", "k", "d", 7, 6, "quoted",
         "when the value without its quotes exactly fills the buffer, Wine drops its last "
         "character too; Windows documents that only a buffer too small for the string cuts it",
         5, "quote"},

        // The default.
        {"missing key gives default", Place::kFile, plain, "s", "x", "dflt", 100, 4, "dflt"},
        {"missing section gives default", Place::kFile, plain, "t", "k", "dflt", 100, 4, "dflt"},
        {"empty file gives default", Place::kFile, "", "s", "k", "dflt", 100, 4, "dflt"},
        {"trailing spaces leave the default", Place::kFile, plain, "s", "x", "dflt  ", 100, 4,
         "dflt"},
        {"only spaces are trimmed from the default", Place::kFile, plain, "s", "x", "  d\t ", 100,
         4, "  d\t"},
        {"default of spaces keeps one", Place::kFile, plain, "s", "x", "   ", 100, 1, " "},
        {"empty default", Place::kFile, plain, "s", "x", "", 100, 0, ""},
        {"null default", Place::kFile, plain, "s", "x", nullptr, 100, 0, ""},
        {"quoted default unquoted", Place::kFile, plain, "s", "x", "\"qd\"", 100, 2, "qd"},
        {"default cut to the buffer", Place::kFile, plain, "s", "x", "dflt", 3, 2, "df"},
        {"missing file gives default", Place::kNoFile, "", "s", "k", "\"dflt\"", 100, 4, "dflt"},
        {"missing folder gives default as is", Place::kNoFolder, "", "s", "k", "\"dflt\"  ", 100, 6,
         "\"dflt\""},
        {"folder gives default as is", Place::kFolder, "", "s", "k", "\"dflt\"", 100, 6,
         "\"dflt\""},
        {"read-only file is read", Place::kReadOnlyFile, plain, "s", "k", "d", 100, 1, "v"},
    };
}

struct WriteCase {
    const char* name;
    Place place;
    std::string file;
    const char* section;
    const char* key;
    const char* value;
    bool ok;
    DWORD error;                       // the last error when the call fails
    std::optional<std::string> after;  // the file afterwards; none: no file there
    const char* wine = nullptr;        // how Wine answers otherwise, when it does
    std::optional<std::string> wineAfter =
        {};  // the file as Wine leaves it, when it does otherwise
};

// Wine rebuilds the whole file from what it parsed (blank lines dropped, blanks around names and
// values removed, every line ending in CR LF); Windows edits the file where the key is.
constexpr const char* kWineRewrites =
    "Wine writes the whole file anew from what it parsed; Windows keeps the other lines as they "
    "were";

constexpr const char* kWineMarkOnly =
    "Wine writes the new section right after the mark of a file that holds only the mark";

std::vector<WriteCase> WriteCases() {
    const std::string plain = "[s]\r\nk=v\r\n";
    const std::string untidy =
        "; head\r\n\r\n[ s ]\r\n  K  =  old  \r\n\r\nj=1\r\n\r\n[t]\r\nx=1\r\n\r\n";
    return {
        // New files.
        {"creates the file", Place::kNoFile, "", "s", "k", "v", true, 0, "[s]\r\nk=v\r\n"},
        {"empty value", Place::kNoFile, "", "s", "k", "", true, 0, "[s]\r\nk=\r\n"},
        // INI suite: the value is written as given; names lose their spaces, and spaces only.
        {"the value is written as given", Place::kNoFile, "", "s", "k", " \t lead trail  ", true, 0,
         "[s]\r\nk= \t lead trail  \r\n", "Wine drops the value's leading blanks",
         "[s]\r\nk=lead trail  \r\n"},
        {"spaces around new names dropped", Place::kNoFile, "", "  u ", " n  ", "v", true, 0,
         "[u]\r\nn=v\r\n", "Wine drops the leading blanks of names only", "[u ]\r\nn  =v\r\n"},
        {"TABs around new names kept", Place::kNoFile, "", "\tu", "n\t", "v", true, 0,
         "[\tu]\r\nn\t=v\r\n", "Wine drops the leading blanks of names", "[u]\r\nn\t=v\r\n"},
        {"line breaks in the value written as they are", Place::kNoFile, "", "U", "N", "v\r\nx=y",
         true, 0, "[U]\r\nN=v\r\nx=y\r\n"},
        {"empty file", Place::kFile, "", "s", "k", "v", true, 0, "[s]\r\nk=v\r\n"},

        // Existing keys.
        {"replaces the value", Place::kFile, plain, "s", "k", "new", true, 0, "[s]\r\nk=new\r\n"},
        {"rewritten last line gets a line break", Place::kFile, "[s]\r\nk=1", "s", "k", "2", true,
         0, "[s]\r\nk=2\r\n"},
        {"keeps the file's spelling of names", Place::kFile, "[Sec]\r\nKey=v\r\n", "SEC", "KEY",
         "new", true, 0, "[Sec]\r\nKey=new\r\n"},
        {"empty value replaces", Place::kFile, plain, "s", "k", "", true, 0, "[s]\r\nk=\r\n"},
        {"same value leaves the file alone", Place::kFile, untidy, "s", "k", "old", true, 0,
         untidy},
        {"same value with quotes leaves the file alone", Place::kFile, "[s]\r\nk=\"1\"\r\n", "s",
         "k", "\"1\"", true, 0, "[s]\r\nk=\"1\"\r\n"},
        {"value without the file's quotes replaces", Place::kFile, "[s]\r\nk=\"1\"\r\n", "s", "k",
         "1", true, 0, "[s]\r\nk=1\r\n"},
        {"key without '=' gets its value", Place::kFile, "[s]\r\nk\r\n", "s", "k", "2", true, 0,
         "[s]\r\nk=2\r\n"},
        {"first of duplicate keys replaced", Place::kFile, "[s]\r\nk=1\r\nK=2\r\n", "s", "k", "3",
         true, 0, "[s]\r\nk=3\r\nK=2\r\n"},
        // No key: the section goes, header and keys; the first of its name only.
        {"null key removes the section", Place::kFile,
         "[s]\r\nk=1\r\nj=2\r\n[G]\r\nn=3\r\n[t]\r\nx=1\r\n[g]\r\nm=4\r\n", "g", nullptr, nullptr,
         true, 0, "[s]\r\nk=1\r\nj=2\r\n[t]\r\nx=1\r\n[g]\r\nm=4\r\n"},
        {"null key of a missing section leaves the file", Place::kFile, plain, "u", nullptr,
         nullptr, true, 0, plain},
        {"first of duplicate sections used", Place::kFile, "[s]\r\nk=1\r\n[t]\r\n[S]\r\nk=2\r\n",
         "s", "k", "3", true, 0, "[s]\r\nk=3\r\n[t]\r\n[S]\r\nk=2\r\n"},
        {"other lines kept byte for byte", Place::kFile, untidy, "s", "k", "v", true, 0,
         "; head\r\n\r\n[ s ]\r\nK=v\r\n\r\nj=1\r\n\r\n[t]\r\nx=1\r\n\r\n", kWineRewrites,
         "; head\r\n[s]\r\nK=v\r\nj=1\r\n[t]\r\nx=1\r\n"},

        // New keys in existing sections.
        {"key appended to its section", Place::kFile, "[s]\r\nk=1\r\n[t]\r\nx=1\r\n", "s", "j", "2",
         true, 0, "[s]\r\nk=1\r\nj=2\r\n[t]\r\nx=1\r\n"},
        // A comment line is no key: a new key goes after the section's last key line.
        {"key appended before the comments after the last key", Place::kFile,
         "[s]\r\nk=1\r\n;c\r\n[t]\r\n", "s", "j", "2", true, 0,
         "[s]\r\nk=1\r\nj=2\r\n;c\r\n[t]\r\n", "Wine takes comment lines for keys",
         "[s]\r\nk=1\r\n;c\r\nj=2\r\n[t]\r\n"},
        {"key in a section of comments goes after its header", Place::kFile, "[s]\r\n;c\r\n[t]\r\n",
         "s", "j", "2", true, 0, "[s]\r\nj=2\r\n;c\r\n[t]\r\n", "Wine takes comment lines for keys",
         "[s]\r\n;c\r\nj=2\r\n[t]\r\n"},
        {"key appended to a header without ']'", Place::kFile, "[s\r\nk=1\r\n", "s", "j", "2", true,
         0, "[s\r\nk=1\r\nj=2\r\n", "Wine takes a line without ']' for no header",
         "[s\r\nk=1\r\n[s]\r\nj=2\r\n"},
        {"key appended to the last section", Place::kFile, "[s]\r\nk=1\r\n", "s", "j", "2", true, 0,
         "[s]\r\nk=1\r\nj=2\r\n"},
        {"key appended without final line break", Place::kFile, "[s]\r\nk=1", "s", "j", "2", true,
         0, "[s]\r\nk=1\r\nj=2\r\n"},
        {"key in an empty last section", Place::kFile, "[s]", "s", "k", "v", true, 0,
         "[s]\r\nk=v\r\n"},
        {"key goes to the first of duplicate sections", Place::kFile,
         "[s]\r\nk=1\r\n[S]\r\nj=2\r\n", "s", "j", "3", true, 0,
         "[s]\r\nk=1\r\nj=3\r\n[S]\r\nj=2\r\n"},
        {"key appended before the blank line", Place::kFile, "[a]\r\nx=1\r\n\r\n[s]\r\nk=1\r\n",
         "a", "y", "2", true, 0, "[a]\r\nx=1\r\ny=2\r\n\r\n[s]\r\nk=1\r\n", kWineRewrites,
         "[a]\r\nx=1\r\ny=2\r\n[s]\r\nk=1\r\n"},
        {"LF lines kept", Place::kFile, "[s]\nk=1\n", "s", "j", "2", true, 0, "[s]\nk=1\nj=2\r\n",
         kWineRewrites, "[s]\r\nk=1\r\nj=2\r\n"},

        // New sections.
        {"section appended without blank line", Place::kFile, "[s]\r\nk=1\r\n", "t", "j", "2", true,
         0, "[s]\r\nk=1\r\n[t]\r\nj=2\r\n"},
        {"section appended without final line break", Place::kFile, "[s]\r\nk=1", "t", "j", "2",
         true, 0, "[s]\r\nk=1\r\n[t]\r\nj=2\r\n"},
        {"section appended after trailing blank lines", Place::kFile, "[s]\r\nk=1\r\n\r\n", "t",
         "j", "2", true, 0, "[s]\r\nk=1\r\n\r\n[t]\r\nj=2\r\n", kWineRewrites,
         "[s]\r\nk=1\r\n[t]\r\nj=2\r\n"},
        {"bytes before the first section kept", Place::kFile, "Data \0 before \0 first \0 section"s,
         "section1", "key1", "string1", true, 0,
         "Data \0 before \0 first \0 section\r\n[section1]\r\nkey1=string1\r\n"s,
         "Wine drops what follows a NUL in a line; Windows keeps the bytes (Wine's own test "
         "marks this todo)",
         "Data \r\n[section1]\r\nkey1=string1\r\n"},

        // Encodings are kept.
        // INI suite: a UTF-8 mark spoils the header on its line; a UTF-16BE file is ANSI bytes.
        {"UTF-8 byte-order mark: first section not found", Place::kFile,
         "\xEF\xBB\xBF[s]\r\nk=1\r\n", "s", "k", "2", true, 0,
         "\xEF\xBB\xBF[s]\r\nk=1\r\n[s]\r\nk=2\r\n", "Wine decodes UTF-8 with its mark",
         "\xEF\xBB\xBF[s]\r\nk=2\r\n"},
        {"UTF-8 byte-order mark alone is a line", Place::kFile, "\xEF\xBB\xBF", "s", "k", "v", true,
         0, "\xEF\xBB\xBF\r\n[s]\r\nk=v\r\n", "Wine decodes UTF-8 with its mark",
         "\xEF\xBB\xBF[s]\r\nk=v\r\n"},
        {"UTF-16BE file written as ANSI", Place::kFile, "\xFE\xFF\0\r\0\n"s, "abcdef", "key",
         "value", true, 0, "\xFE\xFF\0\r\0\n[abcdef]\r\nkey=value\r\n"s,
         "Wine decodes UTF-16BE with its mark", Utf16Be("[abcdef]\r\nkey=value\r\n")},
        {"UTF-16LE kept", Place::kFile, Utf16Le("[s]\r\nk=1\r\n"), "s", "k", "2", true, 0,
         Utf16Le("[s]\r\nk=2\r\n")},
        {"UTF-16LE section appended", Place::kFile, Utf16Le("[s]\r\nk=1\r\n"), "t", "k", "2", true,
         0, Utf16Le("[s]\r\nk=1\r\n[t]\r\nk=2\r\n")},
        // INI suite: the mark begins the first line, which has no line end yet.
        {"UTF-16LE mark alone: a line break before the section", Place::kFile, Utf16Le(""), "s",
         "k", "v", true, 0, Utf16Le("\r\n[s]\r\nk=v\r\n"), kWineMarkOnly,
         Utf16Le("[s]\r\nk=v\r\n")},

        // Failures.
        {"missing folder", Place::kNoFolder, "", "s", "k", "v", false, platform::kErrorPathNotFound,
         std::nullopt},
        {"folder by the file's name", Place::kFolder, "", "s", "k", "v", false,
         platform::kErrorAccessDenied, std::nullopt},
        {"read-only file", Place::kReadOnlyFile, plain, "s", "k", "w", false,
         platform::kErrorAccessDenied, plain},
        {"read-only file, same value", Place::kReadOnlyFile, plain, "s", "k", "v", false,
         platform::kErrorAccessDenied, plain},
    };
}

template <class World>
class ProfileContract : public ::testing::Test {
protected:
    World world;

    // Puts the case's file in place; false when this world cannot set the case up.
    bool Prepare(const char* caseName, Place place, const std::string& bytes,
                 const std::string& name, std::string* path) {
        *path = world.WindowsPath(name);
        switch (place) {
            case Place::kFile:
                world.WriteRaw(*path, bytes);
                return true;
            case Place::kNoFile:
                return true;
            case Place::kNoFolder:
                *path = world.WindowsPath("absent\\" + name);
                return true;
            case Place::kFolder:
                world.MakeFolder(*path);
                return true;
            case Place::kReadOnlyFile:
                world.WriteRaw(*path, bytes);
                if (world.MakeReadOnly(*path)) return true;
                std::printf("[  SKIP    ] %s: this host writes read-only files anyway\n", caseName);
                return false;
        }
        return false;
    }
};

TYPED_TEST_SUITE(ProfileContract, contract::ContractWorlds, contract::WorldNames);

TYPED_TEST(ProfileContract, GetPrivateProfileString) {
    constexpr DWORD kGuard = 16;
    int index = 0;
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        const std::string fileName = "read" + std::to_string(index++) + ".ini";
        std::string path;
        if (!this->Prepare(c.name, c.place, c.file, fileName, &path)) continue;

        std::vector<char> buffer(c.size + kGuard, '#');
        const DWORD count = this->world.profile().GetPrivateProfileStringA(
            c.section, c.key, c.defaultValue, buffer.data(), c.size, path.c_str());

        using Answer = std::pair<DWORD, std::string>;
        const Answer windows{c.count, Escaped(c.text)};
        const Answer wine{c.wineCount, Escaped(c.wineText)};
        const Answer& want = contract::WineAnswer(this->world, c.name, windows, wine, c.wine);
        EXPECT_EQ(count, want.first);
        if (c.size == 0) {
            EXPECT_EQ(buffer[0], '#') << "a buffer of size 0 must stay untouched";
        } else if (count < c.size) {
            EXPECT_EQ(Escaped(std::string(buffer.data(), count)), want.second);
            EXPECT_EQ(buffer[count], '\0');
        }
        EXPECT_EQ(std::string(buffer.data() + c.size, kGuard), std::string(kGuard, '#'))
            << "written past the buffer";
    }
}

TYPED_TEST(ProfileContract, WritePrivateProfileString) {
    int index = 0;
    for (const WriteCase& c : WriteCases()) {
        SCOPED_TRACE(c.name);
        const std::string fileName = "write" + std::to_string(index++) + ".ini";
        std::string path;
        if (!this->Prepare(c.name, c.place, c.file, fileName, &path)) continue;
        const std::optional<std::string> want =
            contract::WineAnswer(this->world, c.name, c.after, c.wineAfter, c.wine);

        this->world.SetLastError(0xDEAD);
        const bool ok = this->world.profile().WritePrivateProfileStringA(c.section, c.key, c.value,
                                                                         path.c_str());
        const DWORD error = this->world.LastError();

        EXPECT_EQ(ok, c.ok);
        if (!c.ok) {
            EXPECT_EQ(error, c.error);
        }
        const auto after = this->world.ReadRaw(path);
        EXPECT_EQ(after.has_value(), want.has_value());
        if (after && want) {
            EXPECT_EQ(Escaped(*after), Escaped(*want));
        }
    }
}

// The last error each call leaves, set to a marker beforehand. A successful call may leave an
// error behind: the documentation says a missing file gives ERROR_FILE_NOT_FOUND, and Windows
// leaves it too for a missing key (kernel32 profile tests, todo_wine: "Win 7") and after a write
// that had to create its file (INI suite); a value cut to the buffer leaves ERROR_MORE_DATA
// (INI suite), and so does a buffer of size 0 (INI suite); a value of 65,536 characters, read
// as nothing, leaves none (INI suite: last error 0, the marker here).
TYPED_TEST(ProfileContract, LastError) {
    constexpr DWORD kMarker = 0xDEAD;
    constexpr const char* kWineClears = "Wine sets the last error to 0";
    const std::string plain = "[s]\r\nk=value\r\n";
    const struct {
        const char* name;
        bool write;
        Place place;
        std::string file;
        const char* section;
        const char* key;
        DWORD size;  // of the read's buffer
        DWORD error;
        DWORD wineError = 0;
        const char* wineNote = nullptr;
        DWORD marker = kMarker;  // the last error before the call
    } cases[] = {
        {"read of a missing file", false, Place::kNoFile, "", "s", "k", 100,
         platform::kErrorFileNotFound},
        {"read of a missing section", false, Place::kFile, plain, "t", "k", 100,
         platform::kErrorFileNotFound, 0, kWineClears},
        {"read of a missing key", false, Place::kFile, plain, "s", "j", 100,
         platform::kErrorFileNotFound, 0, kWineClears},
        {"read of a value cut to the buffer", false, Place::kFile, plain, "s", "k", 3,
         platform::kErrorMoreData, 0, kWineClears},
        {"read into a buffer of size 0", false, Place::kFile, plain, "s", "k", 0,
         platform::kErrorMoreData, kMarker, "Wine leaves the last error as it was"},
        {"read of a value of 65,536 characters", false, Place::kFile,
         "[s]\r\nk=" + std::string(65536, 'x') + "\r\n", "s", "k", 65537, 0, 0, nullptr, 0},
        {"write that creates its file", true, Place::kNoFile, "", "s", "k", 0,
         platform::kErrorFileNotFound, 0, kWineClears},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string fileName = "error" + std::to_string(index++) + ".ini";
        std::string path;
        if (!this->Prepare(c.name, c.place, c.file, fileName, &path)) continue;
        this->world.SetLastError(c.marker);
        if (c.write) {
            EXPECT_TRUE(this->world.profile().WritePrivateProfileStringA(c.section, c.key, "v",
                                                                         path.c_str()));
        } else {
            std::vector<char> buffer(c.size + 1);
            this->world.profile().GetPrivateProfileStringA(c.section, c.key, "d", buffer.data(),
                                                           c.size, path.c_str());
        }
        const DWORD error = this->world.LastError();
        EXPECT_EQ(error,
                  contract::WineAnswer(this->world, c.name, c.error, c.wineError, c.wineNote));
    }
}

// INI suite: into a UTF-16LE file that holds only its mark the A function writes UTF-16LE, a
// section name outside ASCII included, after a line break; later writes keep the encoding.
TYPED_TEST(ProfileContract, MarkOnlyFileTakesNamesOutsideAscii) {
    auto& profile = this->world.profile();
    const std::string section = "\xC2\xA7\xE2\x82\xAC\xC2\xB0\xC2\xB4\xC2\xB2\xC2\xB3";  // UTF-8
    const std::string ansi = this->world.AnsiText(section);
    ASSERT_FALSE(ansi.empty()) << "the ANSI code page lacks the section name's characters";
    const std::string path = this->world.WindowsPath("unicode.ini");
    this->world.WriteRaw(path, Utf16Le(""));
    const struct {
        const char* key;
        const char* value;
        std::string lines;  // the file's lines after the header, in UTF-8
    } steps[] = {
        {"k", "v", "k=v\r\n"},
        {"j", "w", "k=v\r\nj=w\r\n"},
    };
    // What comes between the mark and the section's header.
    const std::string lineBreak = contract::WineAnswer(
        this->world, "section outside ASCII", std::string("\r\n"), std::string(), kWineMarkOnly);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.key);
        EXPECT_TRUE(
            profile.WritePrivateProfileStringA(ansi.c_str(), step.key, step.value, path.c_str()));
        EXPECT_EQ(Escaped(this->world.ReadRaw(path).value_or("")),
                  Escaped(Utf16Le("") + platform::emulated::Utf8ToUtf16Le(
                                            lineBreak + "[" + section + "]\r\n" + step.lines)));
    }
    char buffer[8] = {};
    EXPECT_EQ(profile.GetPrivateProfileStringA(ansi.c_str(), "j", "", buffer, sizeof buffer,
                                               path.c_str()),
              1u);
    EXPECT_STREQ(buffer, "w");
}

// Written values read back; the writes leave nothing else in the folder.
TYPED_TEST(ProfileContract, WriteThenRead) {
    auto& profile = this->world.profile();
    const std::string path = this->world.WindowsPath("roundtrip.ini");
    // Wine passes texts of the A functions through counted UTF-16 strings, which hold 32767
    // characters at most: a longer value comes out as nothing or garbage there.
    const std::string big(32000, 'b');
    ASSERT_TRUE(profile.WritePrivateProfileStringA("Main", "Big", big.c_str(), path.c_str()));
    ASSERT_TRUE(profile.WritePrivateProfileStringA("Main", "Small", "1", path.c_str()));
    ASSERT_TRUE(profile.WritePrivateProfileStringA("Other", "Small", "2", path.c_str()));
    ASSERT_TRUE(profile.WritePrivateProfileStringA("main", "small", "3", path.c_str()));

    std::vector<char> buffer(big.size() + 1);
    EXPECT_EQ(profile.GetPrivateProfileStringA("Main", "Big", "", buffer.data(),
                                               static_cast<DWORD>(buffer.size()), path.c_str()),
              big.size());
    EXPECT_EQ(Escaped(buffer.data()), Escaped(big));
    EXPECT_EQ(Escaped(*this->world.ReadRaw(path)),
              Escaped("[Main]\r\nBig=" + big + "\r\nSmall=3\r\n[Other]\r\nSmall=2\r\n"));
    EXPECT_EQ(this->world.ListRaw(this->world.WindowsPath("")),
              std::vector<std::string>{"roundtrip.ini"});
}

// Whatever the bytes, the calls answer within the buffer, and a value written reads back.
TYPED_TEST(ProfileContract, GarbageNeverBreaksTheCalls) {
    auto& profile = this->world.profile();
    std::mt19937 random(20240229);
    const std::string alphabet = "[]=;\"' \t\r\n\0\x1A\xFF\xFE\xEF\x80sSkKvx0"s;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::size_t length = round == 0 ? 2 * 1024 * 1024 : random() % 4096;
        std::string bytes(length, '\0');
        for (char& c : bytes) c = alphabet[random() % alphabet.size()];
        // A byte-order mark would make the rest UTF-16 or UTF-8, which is another matter.
        if (!bytes.empty() && (bytes[0] == '\xFF' || bytes[0] == '\xFE' || bytes[0] == '\xEF')) {
            bytes[0] = 'x';
        }
        const std::string path =
            this->world.WindowsPath("garbage" + std::to_string(round) + ".ini");
        this->world.WriteRaw(path, bytes);

        for (const DWORD size : {1u, 5u, 64u}) {
            std::vector<char> buffer(size + 8, '#');
            const DWORD count = profile.GetPrivateProfileStringA("s", "k", "default", buffer.data(),
                                                                 size, path.c_str());
            ASSERT_LT(count, size);
            EXPECT_EQ(buffer[count], '\0');
            EXPECT_EQ(std::string(buffer.data() + size, 8), std::string(8, '#'));
        }
        ASSERT_TRUE(profile.WritePrivateProfileStringA("s", "k", "written", path.c_str()));
        char buffer[16];
        EXPECT_EQ(profile.GetPrivateProfileStringA("s", "k", "default", buffer, sizeof buffer,
                                                   path.c_str()),
                  7u);
        EXPECT_STREQ(buffer, "written");
    }
}

}  // namespace
