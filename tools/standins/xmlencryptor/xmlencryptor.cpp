// Stand-in for the agent's text encryptor: the COM class "VERUZE.XmlEncryptor" whose method
// Encrypt(text) returns the text's UTF-8 bytes XORed with a fixed key, in base64. It has no
// security value: it lets the program's binding and its use of the result be exercised. The
// emulated host performs the same transform.
#include "../com/dispatch_server.h"

namespace {

// {8C4B9693-5C27-4821-A8CC-7762BC940468}
constexpr CLSID kClsid = {
    0x8c4b9693, 0x5c27, 0x4821, {0xa8, 0xcc, 0x77, 0x62, 0xbc, 0x94, 0x04, 0x68}};
constexpr char kKey[] = "VERUZE-XmlEncryptor-stand-in";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Encrypt(std::string bytes) {
    constexpr std::size_t kKeyLength = sizeof kKey - 1;
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= kKey[i % kKeyLength];
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
            result->bstrVal = standin::FromUtf8(Encrypt(text));
        }
        return S_OK;
    }
};

}  // namespace

STANDIN_COM_SERVER(XmlEncryptor, kClsid, L"VERUZE.XmlEncryptor", L"XmlEncryptor stand-in")
