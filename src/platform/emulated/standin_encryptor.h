// The transform of the stand-in for the agent's text encryptor, one for both of its builds: the
// COM server of the Windows runs (tools/standins/xmlencryptor) and the class the emulated host
// has built in (emulated_components.cpp). The text's bytes XORed with a fixed key, in base64, so
// that the result can sit inside a CDATA section; the Windows stand-in transforms the text's
// UTF-8 bytes. It has no security value at all.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace platform::emulated {

namespace standin_transform {

inline constexpr char kKey[] = "VERUZE-XmlEncryptor-stand-in";
inline constexpr char kBase64[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline std::string Base64(const std::string& bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

inline std::string Unbase64(const std::string& text) {
    std::string out;
    unsigned v = 0;
    int bits = 0;
    for (const char c : text) {
        const char* at = std::strchr(kBase64, c);
        if (c == '\0' || !at) continue;
        v = (v << 6) | static_cast<unsigned>(at - kBase64);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((v >> bits) & 0xFF);
        }
    }
    return out;
}

inline std::string KeyedXor(std::string bytes) {
    constexpr std::size_t kKeyLength = sizeof kKey - 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= kKey[i % kKeyLength];
    return bytes;
}

}  // namespace standin_transform

inline std::string StandInEncrypt(const std::string& text) {
    return standin_transform::Base64(standin_transform::KeyedXor(text));
}

inline std::string StandInDecrypt(const std::string& encrypted) {
    return standin_transform::KeyedXor(standin_transform::Unbase64(encrypted));
}

}  // namespace platform::emulated
