#include "platform/emulated/reg_file.h"

#include <cstdio>
#include <sstream>

#include "platform/emulated/text_codec.h"

namespace platform::emulated {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kHivePrefix = "HKEY_LOCAL_MACHINE";

std::string Trim(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    const auto end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

// Decodes the file to UTF-8 text.
std::string DecodeFile(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return Utf16LeToUtf8(bytes.substr(2));
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    return bytes;
}

// Joins continuation lines (a trailing "\" after hex data) and drops line ends.
std::vector<std::pair<int, std::string>> LogicalLines(const std::string& text) {
    std::vector<std::pair<int, std::string>> lines;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::string pending;
    int pendingStart = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!pending.empty()) {
            pending += Trim(line);
        } else {
            pending = line;
            pendingStart = number;
        }
        const bool isHexLine = pending.find("=hex") != std::string::npos;
        if (isHexLine && !pending.empty() && pending.back() == '\\') {
            pending.pop_back();
            continue;
        }
        lines.emplace_back(pendingStart, pending);
        pending.clear();
    }
    if (!pending.empty()) lines.emplace_back(pendingStart, pending);
    return lines;
}

[[noreturn]] void Fail(int line, const std::string& what) {
    throw RegFormatError("line " + std::to_string(line) + ": " + what);
}

// Reads a quoted text starting at text[pos] == '"'; returns the text and moves pos past it.
std::string ReadQuoted(const std::string& text, std::size_t& pos, int line) {
    std::string out;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') return out;
        const char kept = (c == '\\' && pos < text.size()) ? text[pos++] : c;
        // A name or a text holds no NUL (the registry's texts end at one) and no line break
        // (texts with one are written in hex).
        if (kept == '\0') Fail(line, "NUL inside quoted text");
        if (kept == '\r' || kept == '\n') Fail(line, "line break inside quoted text");
        out += kept;
    }
    Fail(line, "unterminated quoted text");
}

std::string ParseHexBytes(const std::string& list, int line) {
    std::string out;
    std::string current;
    auto flush = [&] {
        const std::string digits = Trim(current);
        current.clear();
        if (digits.empty()) return;
        if (digits.size() > 2) Fail(line, "bad hex byte '" + digits + "'");
        unsigned value = 0;
        for (char c : digits) {
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                Fail(line, "bad hex byte '" + digits + "'");
            }
        }
        out += static_cast<char>(value);
    };
    for (char c : list) {
        if (c == ',') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return out;
}

RegValue ParseValue(const std::string& text, int line) {
    RegValue value;
    std::size_t pos = 0;
    if (text[0] == '@') {
        pos = 1;
    } else {
        value.name = ReadQuoted(text, pos, line);
    }
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (pos >= text.size() || text[pos] != '=') Fail(line, "expected '=' after the value name");
    ++pos;
    const std::string rest = Trim(text.substr(pos));
    if (!rest.empty() && rest[0] == '"') {
        std::size_t p = 0;
        value.type = kRegSz;
        value.data = ReadQuoted(rest, p, line) + std::string(1, '\0');
        if (!Trim(rest.substr(p)).empty()) Fail(line, "text after the quoted value");
        return value;
    }
    if (rest.rfind("dword:", 0) == 0) {
        const std::string digits = Trim(rest.substr(6));
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            Fail(line, "bad dword value '" + digits + "'");
        }
        const auto number = static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
        value.type = kRegDword;
        for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return value;
    }
    if (rest.rfind("hex", 0) == 0) {
        std::size_t colon = rest.find(':');
        if (colon == std::string::npos) Fail(line, "expected ':' after hex");
        const std::string kind = rest.substr(3, colon - 3);
        DWORD type = kRegBinary;
        if (!kind.empty()) {
            if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')') {
                Fail(line, "bad hex type '" + kind + "'");
            }
            const std::string digits = kind.substr(1, kind.size() - 2);
            if (digits.empty() || digits.size() > 8 ||
                digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
                Fail(line, "bad hex type '" + kind + "'");
            }
            type = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
        }
        std::string bytes = ParseHexBytes(rest.substr(colon + 1), line);
        if (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz) {
            bytes = Utf16LeToUtf8(bytes);
        }
        value.type = type;
        value.data = std::move(bytes);
        return value;
    }
    Fail(line, "value of unknown form '" + rest + "'");
}

std::string HexList(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(bytes[i]));
        if (i) out += ',';
        out += buffer;
    }
    return out;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string FormatValue(const RegValue& value) {
    std::string line = value.name.empty() ? "@" : Quote(value.name);
    line += '=';
    const std::string& d = value.data;
    const bool plainText = value.type == kRegSz && !d.empty() && d.back() == '\0' &&
                           d.find('\0') == d.size() - 1 &&
                           d.find_first_of("\r\n") == std::string::npos;
    if (plainText) {
        line += Quote(d.substr(0, d.size() - 1));
    } else if (value.type == kRegDword && d.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(d[i]);
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        line += buffer;
    } else if (value.type == kRegBinary) {
        line += "hex:" + HexList(d);
    } else {
        const bool text =
            value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz;
        char kind[24];
        std::snprintf(kind, sizeof kind, "hex(%x):", static_cast<unsigned>(value.type));
        line += kind + HexList(text ? Utf8ToUtf16Le(d) : d);
    }
    return line;
}

void SerializeKey(const RegKey& key, const std::string& path, std::string& out) {
    out += "[" + path + "]\r\n";
    for (const RegValue& value : key.values) out += FormatValue(value) + "\r\n";
    out += "\r\n";
    for (const auto& sub : key.subKeys) SerializeKey(*sub, path + "\\" + sub->name, out);
}

}  // namespace

std::vector<std::string> SplitKeyPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (c == '\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

RegKey* RegKey::FindSubKey(const std::string& keyName) const {
    for (const auto& sub : subKeys) {
        if (EqualsNoCase(sub->name, keyName)) return sub.get();
    }
    return nullptr;
}

RegKey& RegKey::SubKey(const std::string& keyName) {
    if (RegKey* found = FindSubKey(keyName)) return *found;
    subKeys.push_back(std::make_unique<RegKey>());
    subKeys.back()->name = keyName;
    return *subKeys.back();
}

RegValue* RegKey::FindValue(const std::string& valueName) {
    for (RegValue& value : values) {
        if (EqualsNoCase(value.name, valueName)) return &value;
    }
    return nullptr;
}

RegKey* RegHive::Find(const std::string& path) {
    RegKey* key = &root_;
    for (const std::string& part : SplitKeyPath(path)) {
        key = key->FindSubKey(part);
        if (!key) return nullptr;
    }
    return key;
}

RegKey& RegHive::Create(const std::string& path) {
    RegKey* key = &root_;
    for (const std::string& part : SplitKeyPath(path)) key = &key->SubKey(part);
    return *key;
}

RegHive RegHive::Parse(const std::string& fileBytes) {
    RegHive hive;
    bool sawHeader = false;
    RegKey* current = nullptr;
    for (const auto& [number, raw] : LogicalLines(DecodeFile(fileBytes))) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';') continue;
        if (!sawHeader) {
            if (line != kHeader && line != "REGEDIT4") {
                Fail(number, std::string("expected the header '") + kHeader + "'");
            }
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') Fail(number, "key line without closing ']'");
            std::string path = line.substr(1, line.size() - 2);
            const bool remove = !path.empty() && path[0] == '-';
            if (remove) path.erase(0, 1);
            const auto parts = SplitKeyPath(path);
            if (parts.empty() || !EqualsNoCase(parts[0], kHivePrefix)) {
                Fail(number, "only HKEY_LOCAL_MACHINE keys are kept here");
            }
            std::string below;
            for (std::size_t i = 1; i < parts.size(); ++i) below += (i > 1 ? "\\" : "") + parts[i];
            if (remove) {
                current = nullptr;
                continue;
            }
            current = &hive.Create(below);
            continue;
        }
        if (!current) Fail(number, "value outside a key");
        if (line[0] != '"' && line[0] != '@') Fail(number, "expected a value name in quotes");
        RegValue value = ParseValue(line, number);
        if (RegValue* existing = current->FindValue(value.name)) {
            *existing = std::move(value);
        } else {
            current->values.push_back(std::move(value));
        }
    }
    if (!sawHeader) Fail(1, std::string("expected the header '") + kHeader + "'");
    return hive;
}

std::string RegHive::Serialize() const {
    std::string out = std::string(kHeader) + "\r\n\r\n";
    // Values set on the hive's root key itself are kept too.
    if (!root_.values.empty()) {
        out += "[" + std::string(kHivePrefix) + "]\r\n";
        for (const RegValue& value : root_.values) out += FormatValue(value) + "\r\n";
        out += "\r\n";
    }
    for (const auto& sub : root_.subKeys)
        SerializeKey(*sub, std::string(kHivePrefix) + "\\" + sub->name, out);
    return out;
}

}  // namespace platform::emulated
