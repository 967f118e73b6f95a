// WMI facet: the management service through COM. Both forms the program binds, the "winmgmts:"
// moniker (given by its parts) and the scripting locator's ConnectServer, come down to the same
// calls: the WBEM locator's ConnectServer on \\server\namespace, the impersonation level set on
// the service's proxy, ExecQuery, and each object's properties read and converted to text.
#include <wbemidl.h>

#include <map>
#include <string>
#include <vector>

#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"
#include "platform/wmi.h"

namespace platform::win32 {
namespace {

// A COM interface pointer released when its owner goes.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    Interface** put() {
        reset();
        return &pointer_;
    }
    Interface* release() {
        Interface* pointer = pointer_;
        pointer_ = nullptr;
        return pointer;
    }
    void reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    Interface* pointer_ = nullptr;
};

// A BSTR made from an ANSI text (active code page), freed with its owner.
class Bstr {
public:
    explicit Bstr(const std::string& text) {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(),
                                                 static_cast<int>(text.size()), nullptr, 0);
        value_ = ::SysAllocStringLen(nullptr, static_cast<UINT>(length));
        if (value_ && length > 0) {
            ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), value_,
                                  length);
        }
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { ::SysFreeString(value_); }
    BSTR get() const { return value_; }

private:
    BSTR value_ = nullptr;
};

std::string Narrow(const wchar_t* text, UINT length) {
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), result.data(), size,
                              nullptr, nullptr);
    }
    return result;
}

// The VARIANT as text, as VariantChangeType to VT_BSTR gives it; nothing for a null, an empty
// or an unconvertible value.
std::optional<std::string> TextOf(VARIANT& value) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY) return std::nullopt;
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, &value, 0, VT_BSTR))) return std::nullopt;
    std::string result = Narrow(text.bstrVal, ::SysStringLen(text.bstrVal));
    ::VariantClear(&text);
    return result;
}

class Win32Wmi final : public Wmi {
public:
    ~Win32Wmi() override {
        for (auto& [id, service] : services_) service->Release();
        services_.clear();
        if (initialized_) ::CoUninitialize();
    }

    LONG BindMoniker(const std::string& server, const std::string& nameSpace,
                     int impersonationLevel, WmiService* service) override {
        if (!service) return E_POINTER;
        *service = 0;
        return Connect(server.empty() ? "." : server, nameSpace.empty() ? "root\\cimv2" : nameSpace,
                       {}, {}, static_cast<DWORD>(impersonationLevel), service);
    }

    LONG ConnectServer(const std::string& server, const std::string& nameSpace,
                       const std::string& user, const std::string& password, int impersonationLevel,
                       WmiService* service) override {
        if (!service) return E_POINTER;
        *service = 0;
        return Connect(server.empty() ? "." : server, nameSpace, user, password,
                       static_cast<DWORD>(impersonationLevel), service);
    }

    LONG ExecQuery(WmiService service, const std::string& query,
                   const std::vector<std::string>& properties,
                   std::vector<WmiObject>* objects) override {
        const auto found = services_.find(service);
        if (found == services_.end() || !objects)
            return static_cast<LONG>(0x80041008u);  // WBEM_E_INVALID_PARAMETER
        objects->clear();
        const Bstr language("WQL");
        const Bstr text(query);
        ComPtr<IEnumWbemClassObject> enumerator;
        HRESULT result = found->second->ExecQuery(
            language.get(), text.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
            nullptr, enumerator.put());
        if (FAILED(result)) return result;
        while (true) {
            ComPtr<IWbemClassObject> object;
            ULONG returned = 0;
            result = enumerator->Next(static_cast<::LONG>(-1) /* WBEM_INFINITE */, 1, object.put(),
                                      &returned);
            if (FAILED(result)) return result;
            if (result != WBEM_S_NO_ERROR || returned == 0) break;
            WmiObject read;
            for (const auto& name : properties) {
                const Bstr property(name);
                VARIANT value;
                ::VariantInit(&value);
                // A property the class does not have (WBEM_E_NOT_FOUND) is left out.
                if (SUCCEEDED(object->Get(property.get(), 0, &value, nullptr, nullptr))) {
                    read.properties[name] = TextOf(value);
                    ::VariantClear(&value);
                }
            }
            objects->push_back(std::move(read));
        }
        return S_OK;
    }

    void ReleaseService(WmiService service) override {
        const auto found = services_.find(service);
        if (found == services_.end()) return;
        found->second->Release();
        services_.erase(found);
    }

private:
    HRESULT Initialize() {
        if (initialized_ || apartmentOfOthers_) return S_OK;
        const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (result == RPC_E_CHANGED_MODE) {
            apartmentOfOthers_ = true;  // the thread has COM already, in another model
            return S_OK;
        }
        if (FAILED(result)) return result;
        initialized_ = true;
        return S_OK;
    }

    LONG Connect(const std::string& server, const std::string& nameSpace, const std::string& user,
                 const std::string& password, DWORD impersonationLevel, WmiService* service) {
        HRESULT result = Initialize();
        if (FAILED(result)) return result;
        ComPtr<IWbemLocator> locator;
        result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
        if (FAILED(result)) return result;
        std::string path = nameSpace;
        if (path.rfind("\\\\", 0) != 0) path = "\\\\" + server + "\\" + nameSpace;
        const Bstr resource(path);
        const Bstr userName(user);
        const Bstr secret(password);
        ComPtr<IWbemServices> connected;
        result = locator->ConnectServer(resource.get(), user.empty() ? nullptr : userName.get(),
                                        password.empty() ? nullptr : secret.get(), nullptr, 0,
                                        nullptr, nullptr, connected.put());
        if (FAILED(result)) return result;
        result =
            ::CoSetProxyBlanket(connected.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                RPC_C_AUTHN_LEVEL_CALL, impersonationLevel, nullptr, EOAC_NONE);
        if (FAILED(result)) return result;
        const WmiService id = next_;
        next_ += 4;
        services_[id] = connected.release();
        *service = id;
        return S_OK;
    }

    bool initialized_ = false;
    bool apartmentOfOthers_ = false;
    std::map<WmiService, IWbemServices*> services_;
    WmiService next_ = 0x100;
};

}  // namespace

std::unique_ptr<Wmi> MakeWin32Wmi() {
    return std::make_unique<Win32Wmi>();
}

}  // namespace platform::win32
