#include "platform/http_charset.h"

#include <cstdint>
#include <utility>

#include "common/text.h"

namespace platform {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Windows-1252's 0x80..0x9F; 0 where the code page has no character (kept as the C1 control).
constexpr std::uint16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian) {
    std::string out;
    std::size_t i = 0;
    const auto unit = [&](std::size_t at) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[at]);
        const auto b = static_cast<unsigned char>(bytes[at + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    while (i + 1 < bytes.size()) {
        std::uint32_t code = unit(i);
        i += 2;
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < bytes.size()) {
            const std::uint32_t low = unit(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        common::AppendUtf8(out, code);
    }
    return out;
}

}  // namespace

std::string CharsetOf(const std::string& contentType) {
    std::size_t at = contentType.find(';');
    while (at != std::string::npos) {
        const std::size_t next = contentType.find(';', at + 1);
        const std::string parameter = Trim(contentType.substr(
            at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
        const std::size_t equals = parameter.find('=');
        if (equals != std::string::npos && Lower(Trim(parameter.substr(0, equals))) == "charset") {
            std::string value = Trim(parameter.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            return Lower(value);
        }
        at = next;
    }
    return {};
}

unsigned CodePageOfCharset(const std::string& charset) {
    static const std::pair<const char*, unsigned> kNames[] = {
        {"utf-8", 65001},       {"utf8", 65001},        {"us-ascii", 20127},
        {"ascii", 20127},       {"iso-8859-1", 28591},  {"latin1", 28591},
        {"iso-8859-2", 28592},  {"iso-8859-5", 28595},  {"iso-8859-7", 28597},
        {"iso-8859-9", 28599},  {"iso-8859-15", 28605}, {"windows-1250", 1250},
        {"windows-1251", 1251}, {"windows-1252", 1252}, {"windows-1253", 1253},
        {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
        {"windows-1257", 1257}, {"windows-1258", 1258}, {"koi8-r", 20866},
        {"shift_jis", 932},     {"gb2312", 936},        {"gbk", 936},
        {"big5", 950},          {"euc-kr", 949},        {"utf-16", 1201},
        {"utf-16le", 1200},     {"utf-16be", 1201}};
    for (const auto& [name, codePage] : kNames) {
        if (charset == name) return codePage;
    }
    return 65001;
}

std::string AnswerToUtf8(const std::string& bytes, const std::string& charset) {
    const unsigned codePage = CodePageOfCharset(charset);
    if (codePage == 1200 || codePage == 1201) {
        bool bigEndian = codePage == 1201;
        std::string units = bytes;
        if (charset == "utf-16" && units.size() >= 2) {
            const auto a = static_cast<unsigned char>(units[0]);
            const auto b = static_cast<unsigned char>(units[1]);
            if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) {
                bigEndian = a == 0xFE;
                units.erase(0, 2);
            }
        }
        return Utf16ToUtf8(units, bigEndian);
    }
    if (codePage != 20127 && codePage != 28591 && codePage != 1252) return bytes;
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        std::uint32_t code = byte;
        if (codePage == 20127 && byte >= 0x80) code = 0xFFFD;
        if (codePage == 1252 && byte >= 0x80 && byte < 0xA0 && kWindows1252High[byte - 0x80] != 0)
            code = kWindows1252High[byte - 0x80];
        common::AppendUtf8(out, code);
    }
    return out;
}

}  // namespace platform
