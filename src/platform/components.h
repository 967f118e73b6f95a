// Components facet: the agent's own components outside this program, reached the way the
// program binds them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/com_types.h"
#include "platform/types.h"

namespace platform {

// A COM object of the agent, reached through its IDispatch; 0 is "no object".
using ComObject = std::uintptr_t;

// The nine arguments of the web-post object's method, in their order. The by-reference ones (body
// and the last four) come back as the component left them.
struct PostXmlStringCall {
    std::string body;         // 1, by reference
    bool flag = false;        // 2
    std::string url;          // 3
    std::string text4;        // 4
    std::string text5;        // 5
    std::string returnValue;  // 6, by reference: the service's answer
    std::string detail1;      // 7, by reference: why a post failed
    std::string detail2;      // 8, by reference
    std::string detail3;      // 9, by reference
};

// The bounds of the components' calls, which have no time-out of their own: a call past its
// bound fails with ERROR_TIMEOUT (kTimeoutHresult where the call is COM's), and every later call
// of an object made before it fails so at once (the object's thread is still inside the call).
// Creating an agent object or one encryption; one call of the cipher library (loaded, called,
// unloaded).
inline constexpr DWORD kComponentCallMs = 15000;
inline constexpr DWORD kCipherCallMs = 15000;

class Components {
public:
    virtual ~Components() = default;

    // LoadLibraryA of the cipher library at libraryPath, GetProcAddress of exportName
    // ("EncryptData" or "DecryptData"), the call on buffer (transformed in place, length bytes),
    // FreeLibrary. FALSE with the last error (ERROR_MOD_NOT_FOUND 126, ERROR_PROC_NOT_FOUND 127)
    // when the library or the export cannot be bound, ERROR_TIMEOUT when the call did not return
    // within timeoutMs (the buffer is then left as it was).
    virtual bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                            std::int32_t length, DWORD timeoutMs) = 0;

    // CLSIDFromProgID and CoCreateInstance of the class registered under progId, asking for
    // IDispatch. S_OK and *object, or the failing HRESULT (CO_E_CLASSSTRING for an unknown ProgID,
    // REGDB_E_CLASSNOTREG, ...). The object is released with ReleaseObject (an object whose thread
    // is lost is left to it).
    virtual LONG CreateObject(const char* progId, ComObject* object, DWORD timeoutMs) = 0;
    virtual void ReleaseObject(ComObject object) = 0;

    // The text encryptor's method of that name through IDispatch::GetIDsOfNames and Invoke,
    // with the text by value; its result as text. On failure the HRESULT (DISP_E_UNKNOWNNAME
    // when the object has no such method; for an exception raised by the object, its code) and
    // *errorText, the object's description or the system's text.
    virtual LONG EncryptText(ComObject encryptor, const char* method, const std::string& text,
                             std::string* encrypted, std::string* errorText, DWORD timeoutMs) = 0;

    // The web-post object's method of that name with the call's nine arguments. Failures as for
    // EncryptText.
    virtual LONG PostXMLString(ComObject webPost, const char* method, PostXmlStringCall* call,
                               std::string* errorText, DWORD timeoutMs) = 0;
};

}  // namespace platform
