#include "platform/sid_text.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace platform {

namespace {

constexpr std::size_t kHeader = 8;  // revision, count, six bytes of authority
constexpr std::size_t kMaxSubAuthorities = 15;

bool WellFormed(const Sid& sid) {
    return sid.size() >= kHeader && sid[0] == 1 && sid[1] <= kMaxSubAuthorities &&
           sid.size() == kHeader + 4u * sid[1];
}

// A decimal number of up to 48 bits, all digits.
bool Number(const std::string& text, std::uint64_t* value) {
    if (text.empty() || text.size() > 15) return false;
    *value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        *value = *value * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

}  // namespace

std::string SidText(const Sid& sid) {
    if (!WellFormed(sid)) return {};
    std::uint64_t authority = 0;
    for (std::size_t i = 2; i < kHeader; ++i) authority = (authority << 8) | sid[i];
    char part[32];
    std::string text = "S-1-";
    if (authority >> 32) {
        std::snprintf(part, sizeof part, "0x%012llX", static_cast<unsigned long long>(authority));
    } else {
        std::snprintf(part, sizeof part, "%llu", static_cast<unsigned long long>(authority));
    }
    text += part;
    for (std::size_t i = 0; i < sid[1]; ++i) {
        const std::size_t at = kHeader + 4 * i;
        const std::uint32_t value = sid[at] | (sid[at + 1] << 8) | (sid[at + 2] << 16) |
                                    (static_cast<std::uint32_t>(sid[at + 3]) << 24);
        text += '-';
        text += std::to_string(value);
    }
    return text;
}

Sid SidFromText(const std::string& text) {
    if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text.compare(1, 3, "-1-") != 0)
        return {};
    std::vector<std::string> parts;
    std::size_t from = 4;
    for (;;) {
        const std::size_t dash = text.find('-', from);
        parts.push_back(text.substr(from, dash == std::string::npos ? dash : dash - from));
        if (dash == std::string::npos) break;
        from = dash + 1;
    }
    if (parts.size() > 1 + kMaxSubAuthorities) return {};
    std::uint64_t authority = 0;
    const std::string& first = parts[0];
    if (first.size() == 14 && (first.rfind("0x", 0) == 0 || first.rfind("0X", 0) == 0)) {
        for (std::size_t i = 2; i < first.size(); ++i) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(first[i])));
            if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
            authority = (authority << 4) | static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
        }
    } else if (!Number(first, &authority) || (authority >> 32)) {
        return {};
    }
    Sid sid(kHeader + 4 * (parts.size() - 1));
    sid[0] = 1;
    sid[1] = static_cast<BYTE>(parts.size() - 1);
    for (std::size_t i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::uint64_t value = 0;
        if (!Number(parts[i], &value) || value > 0xFFFFFFFFu) return {};
        const std::size_t at = kHeader + 4 * (i - 1);
        for (std::size_t b = 0; b < 4; ++b) sid[at + b] = static_cast<BYTE>(value >> (8 * b));
    }
    return sid;
}

}  // namespace platform
