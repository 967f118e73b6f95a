// The parts every stand-in COM server shares: an IDispatch object whose methods are found by
// name, its class factory, the server's registration under HKEY_CLASSES_ROOT, and the texts
// inside VARIANT arguments. Each server defines one class and its four exports with
// STANDIN_COM_SERVER (see the end of this file).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cwchar>
#include <new>
#include <string>

namespace standin {

inline HMODULE g_module = nullptr;
inline LONG g_objects = 0;  // live objects and server locks

inline std::string ToUtf8(const wchar_t* text, UINT length) {
    if (!text || length == 0) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                          nullptr);
    return out;
}

inline BSTR FromUtf8(const std::string& text) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = ::SysAllocStringLen(nullptr, static_cast<UINT>(size));
    if (out && size > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out, size);
    }
    return out;
}

// The text of an argument given by value or by reference (a text, or a variant holding one).
inline HRESULT ArgumentText(const VARIANT& argument, std::string* text) {
    VARIANT copy;
    ::VariantInit(&copy);
    const VARIANT* source = &argument;
    if (argument.vt == (VT_BYREF | VT_VARIANT)) source = argument.pvarVal;
    const HRESULT hr = ::VariantChangeType(&copy, const_cast<VARIANT*>(source), 0, VT_BSTR);
    if (SUCCEEDED(hr)) *text = ToUtf8(copy.bstrVal, ::SysStringLen(copy.bstrVal));
    ::VariantClear(&copy);
    return hr;
}

// Gives a by-reference argument a new text; DISP_E_TYPEMISMATCH for one given by value.
inline HRESULT SetArgumentText(VARIANT& argument, const std::string& text) {
    if (argument.vt == (VT_BYREF | VT_BSTR)) {
        ::SysFreeString(*argument.pbstrVal);
        *argument.pbstrVal = FromUtf8(text);
        return S_OK;
    }
    if (argument.vt == (VT_BYREF | VT_VARIANT)) {
        ::VariantClear(argument.pvarVal);
        argument.pvarVal->vt = VT_BSTR;
        argument.pvarVal->bstrVal = FromUtf8(text);
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

struct MethodName {
    const wchar_t* name;
    DISPID id;
};

// IDispatch over a table of method names (matched without regard to case). No type
// information: callers bind late, by name.
class DispatchObject : public IDispatch {
public:
    DispatchObject(const MethodName* methods, std::size_t count)
        : methods_(methods), count_(count) {
        ::InterlockedIncrement(&g_objects);
    }
    virtual ~DispatchObject() { ::InterlockedDecrement(&g_objects); }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(::InterlockedIncrement(&references_));
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = ::InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        for (std::size_t m = 0; m < count_; ++m) {
            if (::_wcsicmp(names[0], methods_[m].name) == 0) {
                ids[0] = methods_[m].id;
                return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // no named arguments
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (!parameters) return E_INVALIDARG;
        if (parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        for (std::size_t m = 0; m < count_; ++m) {
            if (methods_[m].id == id)
                return Call(id, *parameters, result, exception, argumentError);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

protected:
    // The method's work. Arguments come last to first in parameters.rgvarg.
    virtual HRESULT Call(DISPID id, DISPPARAMS& parameters, VARIANT* result, EXCEPINFO* exception,
                         UINT* argumentError) = 0;

private:
    LONG references_ = 1;
    const MethodName* methods_;
    std::size_t count_;
};

template <class Object>
class ClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (::IsEqualIID(iid, IID_IUnknown) || ::IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is a static object of the server: counting its references is not needed.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* created = new (std::nothrow) Object();
        if (!created) return E_OUTOFMEMORY;
        const HRESULT hr = created->QueryInterface(iid, object);
        created->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ::InterlockedIncrement(&g_objects);
        } else {
            ::InterlockedDecrement(&g_objects);
        }
        return S_OK;
    }
};

inline bool SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                          nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result =
        ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

inline std::wstring ClsidText(const CLSID& clsid) {
    wchar_t text[64] = {};
    ::StringFromGUID2(clsid, text, 64);
    return text;
}

// HKCR\<ProgID>\CLSID, and HKCR\CLSID\{...} with InprocServer32 (this DLL, apartment-threaded)
// and ProgID.
inline HRESULT RegisterServer(const CLSID& clsid, const wchar_t* progId,
                              const wchar_t* description) {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return E_FAIL;
    const std::wstring classKey = L"CLSID\\" + ClsidText(clsid);
    const bool ok = SetKey(progId, nullptr, description) &&
                    SetKey(std::wstring(progId) + L"\\CLSID", nullptr, ClsidText(clsid)) &&
                    SetKey(classKey, nullptr, description) &&
                    SetKey(classKey + L"\\InprocServer32", nullptr, path) &&
                    SetKey(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                    SetKey(classKey + L"\\ProgID", nullptr, progId);
    return ok ? S_OK : E_ACCESSDENIED;
}

inline HRESULT UnregisterServer(const CLSID& clsid, const wchar_t* progId) {
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + ClsidText(clsid)).c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
    return S_OK;
}

}  // namespace standin

// The DLL's entry point and its four exports, for one class.
#define STANDIN_COM_SERVER(ObjectClass, clsid, progId, description)                              \
    extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {                   \
        if (reason == DLL_PROCESS_ATTACH) {                                                      \
            standin::g_module = instance;                                                        \
            ::DisableThreadLibraryCalls(instance);                                               \
        }                                                                                        \
        return TRUE;                                                                             \
    }                                                                                            \
    extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID requested, REFIID iid, void** object) { \
        static standin::ClassFactory<ObjectClass> factory;                                       \
        if (!object) return E_POINTER;                                                           \
        *object = nullptr;                                                                       \
        if (!::IsEqualCLSID(requested, clsid)) return CLASS_E_CLASSNOTAVAILABLE;                 \
        return factory.QueryInterface(iid, object);                                              \
    }                                                                                            \
    extern "C" HRESULT WINAPI DllCanUnloadNow() {                                                \
        return standin::g_objects == 0 ? S_OK : S_FALSE;                                         \
    }                                                                                            \
    extern "C" HRESULT WINAPI DllRegisterServer() {                                              \
        return standin::RegisterServer(clsid, progId, description);                              \
    }                                                                                            \
    extern "C" HRESULT WINAPI DllUnregisterServer() {                                            \
        return standin::UnregisterServer(clsid, progId);                                         \
    }
