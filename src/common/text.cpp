#include "common/text.h"

#include <cctype>
#include <cstdlib>

namespace common {

std::string Trim(std::string_view text) {
    const auto begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_last_not_of(' ');
    return std::string(text.substr(begin, end - begin + 1));
}

std::string Upper(std::string_view text) {
    std::string out(text);
    UpperInPlace(out);
    return out;
}

void UpperInPlace(std::string& text) {
    // ASCII, as the C locale the program runs in has it, without a call for each letter.
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string RemoveAll(std::string_view text, char c) {
    std::string out;
    for (char ch : text) {
        if (ch != c) out += ch;
    }
    return out;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::optional<double> ToNumber(std::string_view text) {
    std::string trimmed;
    for (char c : text) trimmed += c;
    const auto begin = trimmed.find_first_not_of(" \t");
    if (begin == std::string::npos) return std::nullopt;
    const auto end = trimmed.find_last_not_of(" \t");
    trimmed = trimmed.substr(begin, end - begin + 1);
    // Only plain decimal forms: no hexadecimal, infinity or NaN spellings.
    for (char c : trimmed) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.' &&
            c != 'e' && c != 'E') {
            return std::nullopt;
        }
    }
    char* stop = nullptr;
    const double value = std::strtod(trimmed.c_str(), &stop);
    if (stop == trimmed.c_str() || *stop != '\0') return std::nullopt;
    return value;
}

bool ReadsAsNumberOne(std::string_view text) {
    const auto number = ToNumber(text);
    return number && *number == 1.0;
}

double LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    bool digits = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        number += text[i++];
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            number += text[i++];
            digits = true;
        }
    }
    return digits ? std::strtod(number.c_str(), nullptr) : 0.0;
}

std::optional<bool> ToBoolean(std::string_view text) {
    const std::string upper = Upper(Trim(text));
    if (upper == "TRUE") return true;
    if (upper == "FALSE") return false;
    if (const auto number = ToNumber(text)) return *number != 0.0;
    return std::nullopt;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace common
