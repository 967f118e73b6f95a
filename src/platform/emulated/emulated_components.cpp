#include "platform/emulated/emulated_components.h"

#include <dlfcn.h>

#include <chrono>
#include <cstring>

#include "common/text.h"

namespace platform::emulated {

bool EmulatedComponents::HangsPast(const char* call, DWORD timeoutMs, LONG* hr,
                                   std::string* errorText) {
    if (!machine_.HangsPast(std::string("Components.") + call, timeoutMs)) return false;
    for (auto& entry : objects_) entry.second.lost = true;
    if (hr) *hr = kTimeoutHresult;
    if (errorText) *errorText = kTimeoutText;
    machine_.lastError = kErrorTimeout;
    return true;
}

bool EmulatedComponents::CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                                    std::int32_t length, DWORD timeoutMs) {
    machine_.Journal(std::string("LoadLibrary ") + libraryPath);
    if (HangsPast("CallCipher", timeoutMs, nullptr, nullptr)) return false;
    const std::string host = machine_.HostPath(libraryPath).string();
    // No name at all would be the running program itself.
    if (host.empty()) {
        machine_.lastError = kErrorCantResolveFilename;
        return false;
    }
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
}

namespace {

// The classes the host has registered, and their methods.
constexpr const char* kEncryptorProgId = "VERUZE.XmlEncryptor";
constexpr const char* kEncryptorMethod = "Encrypt";
constexpr const char* kWebPostProgId = "Postbird.webpost";
constexpr const char* kWebPostMethod = "PostXMLString";

// ProgIDs are matched without regard to case, as the registry matches key names; method names
// likewise, as GetIDsOfNames matches them.
bool ProgIdIs(const std::string& name, const char* progId) {
    return common::Upper(name) == common::Upper(progId);
}

constexpr std::size_t kDetailAnswerLength = 200;

// The web-post stand-in's time-outs, those of the Windows stand-in (postbird.cpp).
constexpr HttpTimeouts kWebPostTimeouts{0, 15000, 30000, 30000};

}  // namespace

LONG EmulatedComponents::CreateObject(const char* progId, ComObject* object, DWORD timeoutMs) {
    if (!object) return kEPointer;
    *object = 0;
    const std::string name = progId ? progId : "";
    Kind kind;
    if (ProgIdIs(name, kEncryptorProgId)) {
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
    LONG hr = kSOk;
    if (HangsPast("CreateObject", timeoutMs, &hr, nullptr)) return hr;
    *object = nextObject_++;
    objects_[*object] = Object{kind};
    return kSOk;
}

void EmulatedComponents::ReleaseObject(ComObject object) {
    objects_.erase(object);
}

bool EmulatedComponents::Find(ComObject object, Kind kind, const char* method, LONG* hr,
                              std::string* errorText) const {
    const auto found = objects_.find(object);
    if (found == objects_.end()) {
        *hr = kEPointer;
        if (errorText) *errorText = "Invalid pointer";
        return false;
    }
    const char* own = found->second.kind == Kind::kEncryptor ? kEncryptorMethod : kWebPostMethod;
    if (found->second.kind != kind || !ProgIdIs(method ? method : "", own)) {
        *hr = kDispEUnknownName;
        if (errorText) *errorText = "Unknown name.";
        return false;
    }
    if (found->second.lost) {
        *hr = kTimeoutHresult;
        if (errorText) *errorText = kTimeoutText;
        return false;
    }
    return true;
}

LONG EmulatedComponents::EncryptText(ComObject encryptor, const char* method,
                                     const std::string& text, std::string* encrypted,
                                     std::string* errorText, DWORD timeoutMs) {
    LONG hr = kSOk;
    if (!Find(encryptor, Kind::kEncryptor, method, &hr, errorText)) return hr;
    if (HangsPast("EncryptText", timeoutMs, &hr, errorText)) return hr;
    if (encrypted) *encrypted = StandInEncrypt(text);
    return kSOk;
}

// The stand-in's answer: the service's answer text in the return value when it answered with a
// 2xx status; otherwise an empty return value and the reason in the details (a status line and
// the start of the answer, or the transport's error number and text).
LONG EmulatedComponents::PostXMLString(ComObject webPost, const char* method,
                                       PostXmlStringCall* call, std::string* errorText,
                                       DWORD timeoutMs) {
    LONG hr = kSOk;
    if (!Find(webPost, Kind::kWebPost, method, &hr, errorText)) return hr;
    if (!call) return kEPointer;
    if (HangsPast("PostXMLString", timeoutMs, &hr, errorText)) return hr;
    machine_.Journal("PostXMLString " + call->url + " bytes " + std::to_string(call->body.size()));
    HttpResponse response;
    long errorNumber = 0;
    std::string transportError;
    // The stand-in's own time-outs; the call's bound, which the platform keeps on Windows by
    // giving up on the component's thread, ends the post too: then the call outlived its bound.
    HttpTimeouts timeouts = kWebPostTimeouts;
    timeouts.totalMs = static_cast<int>(timeoutMs);
    const auto started = std::chrono::steady_clock::now();
    const bool answered =
        http_.Post(call->url, {{"Content-Type", "text/xml; charset=utf-8"}}, call->body, timeouts,
                   &response, &errorNumber, &transportError);
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
    const auto bound = static_cast<long long>(machine_.ScaleBound(timeoutMs));
    if (!answered && spent * 100 >= bound * 98) {
        machine_.Journal("Components.PostXMLString not answered within " +
                         std::to_string(timeoutMs) + " ms");
        for (auto& entry : objects_) entry.second.lost = true;
        if (errorText) *errorText = kTimeoutText;
        machine_.lastError = kErrorTimeout;
        return kTimeoutHresult;
    }
    call->returnValue.clear();
    call->detail1.clear();
    call->detail2.clear();
    call->detail3.clear();
    if (!answered) {
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
