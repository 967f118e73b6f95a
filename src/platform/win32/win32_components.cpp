// The agent's components, bound as the program binds them.
#include <array>
#include <optional>

#include "platform/components.h"
#include "platform/win32/com_support.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

BSTR AllocText(const std::string& text) {
    const std::wstring wide = ToWide(text);
    return ::SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
}

std::string TextOf(BSTR text) {
    return text ? FromWide(text, static_cast<int>(::SysStringLen(text))) : std::string();
}

// The system's text for an HRESULT, without its line end; empty when it has none.
std::string SystemText(HRESULT hr) {
    char buffer[512] = {};
    DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(hr), 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) --length;
    return std::string(buffer, length);
}

// A method called by name, as a late-bound caller calls it: GetIDsOfNames, then Invoke. An
// exception raised by the object comes back as its own code and description.
HRESULT CallByName(IDispatch* object, const wchar_t* name, DISPPARAMS* parameters, VARIANT* result,
                   std::string* errorText) {
    if (!object) return E_POINTER;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        if (errorText) *errorText = SystemText(hr);
        return hr;
    }
    EXCEPINFO exception{};
    UINT argumentError = 0;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, parameters, result,
                        &exception, &argumentError);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
        const UniqueBstr source(exception.bstrSource);
        const UniqueBstr description(exception.bstrDescription);
        const UniqueBstr helpFile(exception.bstrHelpFile);
        if (exception.scode != 0) {
            hr = exception.scode;
        } else if (exception.wCode != 0) {
            hr = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode);
        }
        if (errorText) *errorText = description ? TextOf(description.get()) : SystemText(hr);
    } else if (FAILED(hr) && errorText) {
        *errorText = SystemText(hr);
    }
    return hr;
}

// The cipher library's exports: standard-call functions taking the buffer and its length.
using CipherFunction = int(WINAPI*)(char* buffer, std::int32_t length);

class Win32Components final : public Components {
public:
    bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                    std::int32_t length) override {
        // By its full path, and with the altered search order: the library's own dependencies
        // are then looked for in its folder first, not in the program's folder or the current
        // one (a full path alone does not change where they are looked for).
        HMODULE library = ::LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!library) return false;
        const auto function = reinterpret_cast<CipherFunction>(
            reinterpret_cast<void*>(::GetProcAddress(library, exportName)));
        if (!function) {
            const DWORD error = ::GetLastError();
            ::FreeLibrary(library);
            ::SetLastError(error);
            return false;
        }
        function(buffer, length);
        ::FreeLibrary(library);
        return true;
    }

    LONG CreateObject(const char* progId, ComObject* object) override {
        if (!object) return E_POINTER;
        *object = 0;
        // The objects made here live in this thread's apartment, joined for the facet's lifetime.
        if (!apartment_) apartment_.emplace();
        CLSID clsid;
        HRESULT hr = ::CLSIDFromProgID(ToWide(progId ? progId : "").c_str(), &clsid);
        if (FAILED(hr)) return hr;
        IDispatch* dispatch = nullptr;
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&dispatch));
        if (FAILED(hr)) return hr;
        *object = reinterpret_cast<ComObject>(dispatch);
        return S_OK;
    }

    void ReleaseObject(ComObject object) override {
        if (object) reinterpret_cast<IDispatch*>(object)->Release();
    }

    LONG EncryptText(ComObject encryptor, const char* method, const std::string& text,
                     std::string* encrypted, std::string* errorText) override {
        const UniqueBstr argument(AllocText(text));
        VARIANT parameter;
        ::VariantInit(&parameter);
        parameter.vt = VT_BSTR;
        parameter.bstrVal = argument.get();  // still owned by `argument`
        DISPPARAMS parameters{&parameter, nullptr, 1, 0};
        VARIANT result;
        ::VariantInit(&result);
        HRESULT hr = CallByName(reinterpret_cast<IDispatch*>(encryptor), ToWide(method).c_str(),
                                &parameters, &result, errorText);
        if (SUCCEEDED(hr)) {
            VARIANT asText;
            ::VariantInit(&asText);
            hr = ::VariantChangeType(&asText, &result, 0, VT_BSTR);
            if (SUCCEEDED(hr)) {
                if (encrypted) *encrypted = TextOf(asText.bstrVal);
            } else if (errorText) {
                *errorText = SystemText(hr);
            }
            ::VariantClear(&asText);
        }
        ::VariantClear(&result);
        return hr;
    }

    // Arguments 1 and 6 to 9 go by reference (VT_BYREF | VT_BSTR), as a late-bound caller passes
    // its text variables; the component may replace them.
    LONG PostXMLString(ComObject webPost, const char* method, PostXmlStringCall* call,
                       std::string* errorText) override {
        if (!call) return E_POINTER;
        std::array<BSTR, 5> byReference = {AllocText(call->body), AllocText(call->returnValue),
                                           AllocText(call->detail1), AllocText(call->detail2),
                                           AllocText(call->detail3)};
        const UniqueBstr url(AllocText(call->url));
        const UniqueBstr text4(AllocText(call->text4));
        const UniqueBstr text5(AllocText(call->text5));
        // Invoke takes the arguments last to first.
        std::array<VARIANT, 9> arguments;
        for (VARIANT& argument : arguments) ::VariantInit(&argument);
        const auto byRef = [](VARIANT& argument, BSTR* text) {
            argument.vt = VT_BYREF | VT_BSTR;
            argument.pbstrVal = text;
        };
        const auto byValue = [](VARIANT& argument, BSTR text) {
            argument.vt = VT_BSTR;
            argument.bstrVal = text;
        };
        byRef(arguments[8], &byReference[0]);
        arguments[7].vt = VT_BOOL;
        arguments[7].boolVal = call->flag ? VARIANT_TRUE : VARIANT_FALSE;
        byValue(arguments[6], url.get());
        byValue(arguments[5], text4.get());
        byValue(arguments[4], text5.get());
        byRef(arguments[3], &byReference[1]);
        byRef(arguments[2], &byReference[2]);
        byRef(arguments[1], &byReference[3]);
        byRef(arguments[0], &byReference[4]);
        DISPPARAMS parameters{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        VARIANT result;
        ::VariantInit(&result);
        const HRESULT hr = CallByName(reinterpret_cast<IDispatch*>(webPost), ToWide(method).c_str(),
                                      &parameters, &result, errorText);
        ::VariantClear(&result);
        call->body = TextOf(byReference[0]);
        call->returnValue = TextOf(byReference[1]);
        call->detail1 = TextOf(byReference[2]);
        call->detail2 = TextOf(byReference[3]);
        call->detail3 = TextOf(byReference[4]);
        for (BSTR text : byReference) ::SysFreeString(text);
        return hr;
    }

private:
    std::optional<ComApartment> apartment_;
};

}  // namespace

std::unique_ptr<Components> MakeWin32Components() {
    return std::make_unique<Win32Components>();
}

}  // namespace platform::win32
