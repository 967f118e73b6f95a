// Stand-in for the agent's text encryptor: the COM class "VERUZE.XmlEncryptor" whose method
// Encrypt(text) returns the text's UTF-8 bytes XORed with a fixed key, in base64. It has no
// security value: it lets the program's binding and its use of the result be exercised. The
// emulated host performs the same transform (src/platform/emulated/standin_encryptor.h).
#include "../com/dispatch_server.h"
#include "platform/emulated/standin_encryptor.h"

namespace {

// {8C4B9693-5C27-4821-A8CC-7762BC940468}
constexpr CLSID kClsid = {
    0x8c4b9693, 0x5c27, 0x4821, {0xa8, 0xcc, 0x77, 0x62, 0xbc, 0x94, 0x04, 0x68}};
constexpr standin::MethodName kMethods[] = {{L"Encrypt", 1}};

class XmlEncryptor final : public standin::DispatchObject {
public:
    XmlEncryptor() : DispatchObject(kMethods, 1) {}

protected:
    HRESULT Call(DISPID, DISPPARAMS& parameters, VARIANT* result, EXCEPINFO*,
                 UINT* argumentError) override {
        if (parameters.cArgs != 1) return DISP_E_BADPARAMCOUNT;
        std::string text;
        if (FAILED(standin::ArgumentText(parameters.rgvarg[0], &text))) {
            if (argumentError) *argumentError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        if (result) {
            ::VariantInit(result);
            result->vt = VT_BSTR;
            result->bstrVal = standin::FromUtf8(platform::emulated::StandInEncrypt(text));
        }
        return S_OK;
    }
};

}  // namespace

STANDIN_COM_SERVER(XmlEncryptor, kClsid, L"VERUZE.XmlEncryptor", L"XmlEncryptor stand-in")
