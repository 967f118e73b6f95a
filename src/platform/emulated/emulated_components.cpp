#include "platform/emulated/emulated_components.h"

#include <cstring>

#include "common/text.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace platform::emulated {

bool EmulatedComponents::CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                                    std::int32_t length) {
#ifdef _WIN32
    // The Windows build of the emulation serves the contract tests only; it binds nothing.
    (void)libraryPath;
    (void)exportName;
    (void)buffer;
    (void)length;
    machine_.lastError = kErrorModNotFound;
    return false;
#else
    machine_.Journal(std::string("LoadLibrary ") + libraryPath);
    const std::string host = machine_.HostPath(libraryPath).string();
    void* library = ::dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        machine_.lastError = kErrorModNotFound;
        return false;
    }
    using CipherFunction = int (*)(char*, std::int32_t);
    auto function = reinterpret_cast<CipherFunction>(::dlsym(library, exportName));
    if (!function) {
        ::dlclose(library);
        machine_.lastError = kErrorProcNotFound;
        return false;
    }
    function(buffer, length);
    ::dlclose(library);
    return true;
#endif
}

namespace {

constexpr char kStandInKey[] = "VERUZE-XmlEncryptor-stand-in";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(const std::string& bytes) {
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

std::string Unbase64(const std::string& text) {
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

std::string KeyedXor(std::string bytes) {
    constexpr std::size_t kKeyLength = sizeof kStandInKey - 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= kStandInKey[i % kKeyLength];
    return bytes;
}

// ProgIDs are matched without regard to case, as the registry matches key names.
bool ProgIdIs(const std::string& name, const char* progId) {
    return common::Upper(name) == common::Upper(progId);
}

constexpr std::size_t kDetailAnswerLength = 200;

}  // namespace

std::string StandInEncrypt(const std::string& text) {
    return Base64(KeyedXor(text));
}
std::string StandInDecrypt(const std::string& encrypted) {
    return KeyedXor(Unbase64(encrypted));
}

LONG EmulatedComponents::CreateObject(const char* progId, ComObject* object) {
    if (!object) return kEPointer;
    *object = 0;
    const std::string name = progId ? progId : "";
    Kind kind;
    if (ProgIdIs(name, kXmlEncryptorProgId)) {
        kind = Kind::kEncryptor;
    } else if (ProgIdIs(name, kWebPostProgId)) {
        kind = Kind::kWebPost;
    } else {
        return kCoEClassString;
    }
    if (const auto missing = machine_.facts().Get("MissingComponents", name);
        missing && *missing == "1") {
        return kCoEClassString;
    }
    *object = nextObject_++;
    objects_[*object] = kind;
    return kSOk;
}

void EmulatedComponents::ReleaseObject(ComObject object) {
    objects_.erase(object);
}

bool EmulatedComponents::Find(ComObject object, Kind kind, LONG* hr, std::string* errorText) const {
    const auto found = objects_.find(object);
    if (found == objects_.end()) {
        *hr = kEPointer;
        if (errorText) *errorText = "Invalid pointer";
        return false;
    }
    if (found->second != kind) {
        *hr = kDispEUnknownName;
        if (errorText) *errorText = "Unknown name.";
        return false;
    }
    return true;
}

LONG EmulatedComponents::EncryptText(ComObject encryptor, const std::string& text,
                                     std::string* encrypted, std::string* errorText) {
    LONG hr = kSOk;
    if (!Find(encryptor, Kind::kEncryptor, &hr, errorText)) return hr;
    if (encrypted) *encrypted = StandInEncrypt(text);
    return kSOk;
}

// The stand-in's answer: the service's answer text in the return value when it answered with a
// 2xx status; otherwise an empty return value and the reason in the details (a status line and
// the start of the answer, or the transport's error number and text).
LONG EmulatedComponents::PostXMLString(ComObject webPost, PostXmlStringCall* call,
                                       std::string* errorText) {
    LONG hr = kSOk;
    if (!Find(webPost, Kind::kWebPost, &hr, errorText)) return hr;
    if (!call) return kEPointer;
    machine_.Journal("PostXMLString " + call->url + " bytes " + std::to_string(call->body.size()));
    HttpResponse response;
    long errorNumber = 0;
    std::string transportError;
    call->returnValue.clear();
    call->detail1.clear();
    call->detail2.clear();
    call->detail3.clear();
    if (!http_.Post(call->url, {{"Content-Type", "text/xml; charset=utf-8"}}, call->body, &response,
                    &errorNumber, &transportError)) {
        // The system error number, as the Windows stand-in gives it (not its HRESULT form).
        const auto code = static_cast<std::uint32_t>(errorNumber);
        const long error =
            (code & 0xFFFF0000u) == 0x80070000u ? static_cast<long>(code & 0xFFFFu) : errorNumber;
        call->detail1 = "No answer from " + call->url;
        call->detail2 = std::to_string(error);
        call->detail3 = transportError;
        return kSOk;
    }
    if (response.status >= 200 && response.status < 300) {
        call->returnValue = response.body;
    } else {
        call->detail1 = "HTTP status " + std::to_string(response.status);
        call->detail3 = response.body.substr(0, kDetailAnswerLength);
    }
    return kSOk;
}

}  // namespace platform::emulated
