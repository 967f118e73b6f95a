#pragma once

#include <map>

#include "platform/components.h"
#include "platform/emulated/machine.h"
#include "platform/emulated/standin_encryptor.h"
#include "platform/http.h"

namespace platform::emulated {

// The agent's components as the emulated host binds them: the cipher library is a shared object
// kept at the library's Windows path on the machine's drive (a file named Cryptel.dll that holds
// a host library), loaded and called like the real one.
//
// The COM classes are stand-ins built into the host: "VERUZE.XmlEncryptor" encrypts with the same
// transform as the Windows stand-in (StandInEncrypt), and "Postbird.webpost" really posts the
// body over the host's HTTP facet and journals each post. A class listed in the machine's
// [MissingComponents] (<ProgID>=1) is not registered: creating it fails with CO_E_CLASSSTRING.
// The emulation's Windows build, which serves the contract tests only (they hold the real
// components there), binds nothing and has no class registered
// (src/platform/win32/emulation/emulated_components_windows.cpp).
class EmulatedComponents final : public Components {
public:
    EmulatedComponents(Machine& machine, Http& http) : machine_(machine), http_(http) {}

    bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                    std::int32_t length, DWORD timeoutMs) override;
    LONG CreateObject(const char* progId, ComObject* object, DWORD timeoutMs) override;
    void ReleaseObject(ComObject object) override;
    LONG EncryptText(ComObject encryptor, const char* method, const std::string& text,
                     std::string* encrypted, std::string* errorText, DWORD timeoutMs) override;
    LONG PostXMLString(ComObject webPost, const char* method, PostXmlStringCall* call,
                       std::string* errorText, DWORD timeoutMs) override;

private:
    enum class Kind { kEncryptor, kWebPost };
    struct Object {
        Kind kind;
        bool lost = false;  // its thread is still inside a call that outlived its bound
    };
    // The object behind a handle when it is of the kind wanted, the method is its own and its
    // thread is not lost; false with *hr otherwise.
    bool Find(ComObject object, Kind kind, const char* method, LONG* hr,
              std::string* errorText) const;
    // A call of the components that its [Hang] fact holds past its bound: as on Windows, the
    // components' thread stays inside it, and every object made so far is lost with it.
    bool HangsPast(const char* call, DWORD timeoutMs, LONG* hr, std::string* errorText);

    Machine& machine_;
    Http& http_;
    std::map<ComObject, Object> objects_;
    ComObject nextObject_ = 0x100;
};

}  // namespace platform::emulated
