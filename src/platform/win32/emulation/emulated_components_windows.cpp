// The agent's components in the emulation's Windows build, which serves the contract tests only
// (they hold the real components there): no cipher library is bound (ERROR_MOD_NOT_FOUND) and no
// class is registered (REGDB_E_CLASSNOTREG), so no object is ever handed out.
#include "platform/emulated/emulated_components.h"

namespace platform::emulated {

bool EmulatedComponents::CallCipher(const char* /*libraryPath*/, const char* /*exportName*/,
                                    char* /*buffer*/, std::int32_t /*length*/,
                                    DWORD /*timeoutMs*/) {
    machine_.lastError = 126;  // ERROR_MOD_NOT_FOUND
    return false;
}

LONG EmulatedComponents::CreateObject(const char* /*progId*/, ComObject* object,
                                      DWORD /*timeoutMs*/) {
    if (!object) return kEPointer;
    *object = 0;
    return kRegdbEClassNotReg;
}

void EmulatedComponents::ReleaseObject(ComObject /*object*/) {}

LONG EmulatedComponents::EncryptText(ComObject /*encryptor*/, const char* /*method*/,
                                     const std::string& /*text*/, std::string* /*encrypted*/,
                                     std::string* errorText, DWORD /*timeoutMs*/) {
    if (errorText) *errorText = "Invalid pointer";
    return kEPointer;
}

LONG EmulatedComponents::PostXMLString(ComObject /*webPost*/, const char* /*method*/,
                                       PostXmlStringCall* /*call*/, std::string* errorText,
                                       DWORD /*timeoutMs*/) {
    if (errorText) *errorText = "Invalid pointer";
    return kEPointer;
}

}  // namespace platform::emulated
