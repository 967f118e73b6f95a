// The agent's components, bound as the program binds them.
#include <array>
#include <optional>

#include "platform/components.h"
#include "platform/win32/com_support.h"
#include "platform/win32/system_message.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

namespace platform::win32 {
namespace {

// The system's text for an HRESULT, without its line end; empty when it has none.
std::string SystemText(HRESULT hr) {
    return SystemMessage(static_cast<::DWORD>(hr));
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
        if (errorText) *errorText = description ? TextOfBstr(description.get()) : SystemText(hr);
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
        // By its full path; its own dependencies come from its folder, then the system folder
        // (a full path alone leaves them to the process's search). A loader that predates the
        // search flags refuses them with ERROR_INVALID_PARAMETER: there the altered search order
        // looks in the library's folder first.
        // Unloaded on every path; the owner keeps GetProcAddress's last error across the unload.
        UniqueModule library(::LoadLibraryExA(
            libraryPath, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!library && ::GetLastError() == ERROR_INVALID_PARAMETER)
            library.reset(::LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (!library) return false;
        const auto function = reinterpret_cast<CipherFunction>(
            reinterpret_cast<void*>(::GetProcAddress(library.get(), exportName)));
        if (!function) return false;
        function(buffer, length);
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
        const UniqueBstr argument(BstrOf(text));
        VARIANT parameter;
        ::VariantInit(&parameter);
        parameter.vt = VT_BSTR;
        parameter.bstrVal = argument.get();  // still owned by `argument`
        DISPPARAMS parameters{&parameter, nullptr, 1, 0};
        UniqueVariant result;
        HRESULT hr = CallByName(reinterpret_cast<IDispatch*>(encryptor), ToWide(method).c_str(),
                                &parameters, result.put(), errorText);
        if (SUCCEEDED(hr)) {
            UniqueVariant asText;
            hr = ::VariantChangeType(asText.put(), result.addressof(), 0, VT_BSTR);
            if (SUCCEEDED(hr)) {
                if (encrypted) *encrypted = TextOfBstr(asText.get().bstrVal);
            } else if (errorText) {
                *errorText = SystemText(hr);
            }
        }
        return hr;
    }

    // Arguments 1 and 6 to 9 go by reference (VT_BYREF | VT_BSTR), as a late-bound caller passes
    // its text variables; the component may replace them.
    LONG PostXMLString(ComObject webPost, const char* method, PostXmlStringCall* call,
                       std::string* errorText) override {
        if (!call) return E_POINTER;
        // The component may free one of these and leave another in its place: the owners free
        // whatever is there at the end.
        std::array<UniqueBstr, 5> byReference = {BstrOf(call->body), BstrOf(call->returnValue),
                                                 BstrOf(call->detail1), BstrOf(call->detail2),
                                                 BstrOf(call->detail3)};
        const UniqueBstr url(BstrOf(call->url));
        const UniqueBstr text4(BstrOf(call->text4));
        const UniqueBstr text5(BstrOf(call->text5));
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
        byRef(arguments[8], byReference[0].addressof());
        arguments[7].vt = VT_BOOL;
        arguments[7].boolVal = call->flag ? VARIANT_TRUE : VARIANT_FALSE;
        byValue(arguments[6], url.get());
        byValue(arguments[5], text4.get());
        byValue(arguments[4], text5.get());
        byRef(arguments[3], byReference[1].addressof());
        byRef(arguments[2], byReference[2].addressof());
        byRef(arguments[1], byReference[3].addressof());
        byRef(arguments[0], byReference[4].addressof());
        DISPPARAMS parameters{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        UniqueVariant result;
        const HRESULT hr = CallByName(reinterpret_cast<IDispatch*>(webPost), ToWide(method).c_str(),
                                      &parameters, result.put(), errorText);
        call->body = TextOfBstr(byReference[0].get());
        call->returnValue = TextOfBstr(byReference[1].get());
        call->detail1 = TextOfBstr(byReference[2].get());
        call->detail2 = TextOfBstr(byReference[3].get());
        call->detail3 = TextOfBstr(byReference[4].get());
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
