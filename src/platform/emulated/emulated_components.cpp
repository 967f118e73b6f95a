#include "platform/emulated/emulated_components.h"

#include <dlfcn.h>

#include <cstring>

#include "common/text.h"

namespace platform::emulated {

bool EmulatedComponents::CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                                    std::int32_t length) {
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

LONG EmulatedComponents::CreateObject(const char* progId, ComObject* object) {
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
    *object = nextObject_++;
    objects_[*object] = kind;
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
    const char* own = found->second == Kind::kEncryptor ? kEncryptorMethod : kWebPostMethod;
    if (found->second != kind || !ProgIdIs(method ? method : "", own)) {
        *hr = kDispEUnknownName;
        if (errorText) *errorText = "Unknown name.";
        return false;
    }
    return true;
}

LONG EmulatedComponents::EncryptText(ComObject encryptor, const char* method,
                                     const std::string& text, std::string* encrypted,
                                     std::string* errorText) {
    LONG hr = kSOk;
    if (!Find(encryptor, Kind::kEncryptor, method, &hr, errorText)) return hr;
    if (encrypted) *encrypted = StandInEncrypt(text);
    return kSOk;
}

// The stand-in's answer: the service's answer text in the return value when it answered with a
// 2xx status; otherwise an empty return value and the reason in the details (a status line and
// the start of the answer, or the transport's error number and text).
LONG EmulatedComponents::PostXMLString(ComObject webPost, const char* method,
                                       PostXmlStringCall* call, std::string* errorText) {
    LONG hr = kSOk;
    if (!Find(webPost, Kind::kWebPost, method, &hr, errorText)) return hr;
    if (!call) return kEPointer;
    machine_.Journal("PostXMLString " + call->url + " bytes " + std::to_string(call->body.size()));
    HttpResponse response;
    long errorNumber = 0;
    std::string transportError;
    call->returnValue.clear();
    call->detail1.clear();
    call->detail2.clear();
    call->detail3.clear();
    if (!http_.Post(call->url, {{"Content-Type", "text/xml; charset=utf-8"}}, call->body,
                    kWebPostTimeouts, &response, &errorNumber, &transportError)) {
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
