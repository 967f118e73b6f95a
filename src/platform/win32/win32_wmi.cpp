// WMI facet: the management service through COM. Both forms the program binds, the "winmgmts:"
// moniker (given by its parts) and the scripting locator's ConnectServer, come down to the same
// calls: the WBEM locator's ConnectServer on \\server\namespace, the impersonation level set on
// the service's proxy, ExecQuery, and each object's properties read and converted to text.
#include <wbemidl.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/com_support.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"
#include "platform/wmi.h"

namespace platform::win32 {
namespace {

// The VARIANT as text, as VariantChangeType to VT_BSTR gives it; nothing for a null, an empty
// or an unconvertible value.
std::optional<std::string> TextOf(UniqueVariant& value) {
    if (value.get().vt == VT_NULL || value.get().vt == VT_EMPTY) return std::nullopt;
    UniqueVariant text;
    if (FAILED(::VariantChangeType(text.put(), value.addressof(), 0, VT_BSTR))) {
        return std::nullopt;
    }
    return TextOfBstr(text.get().bstrVal);
}

class Win32Wmi final : public Wmi {
public:
    // The services are released before the apartment is left (members go in reverse order).
    ~Win32Wmi() override = default;

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
        const UniqueBstr language(BstrOf("WQL"));
        const UniqueBstr text(BstrOf(query));
        UniqueCom<IEnumWbemClassObject> enumerator;
        HRESULT result = found->second.get()->ExecQuery(
            language.get(), text.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
            nullptr, enumerator.put());
        if (FAILED(result)) return result;
        // The enumerator is a proxy of its own: it does not inherit the service's blanket, and
        // the objects a provider hands out through it need the same impersonation.
        result = SetProxyImpersonation(enumerator.get(), levels_[service]);
        if (FAILED(result)) return result;
        while (true) {
            UniqueCom<IWbemClassObject> object;
            ULONG returned = 0;
            result = enumerator.get()->Next(static_cast<::LONG>(kWmiNextTimeoutMs), 1, object.put(),
                                            &returned);
            if (FAILED(result)) return result;
            // A hung service or provider: the query fails, as any call past its bound does.
            if (result == WBEM_S_TIMEDOUT) return kTimeoutHresult;
            if (result != WBEM_S_NO_ERROR || returned == 0) break;
            WmiObject read;
            for (const auto& name : properties) {
                const UniqueBstr property(BstrOf(name));
                UniqueVariant value;
                // A property the class does not have (WBEM_E_NOT_FOUND) is left out.
                if (SUCCEEDED(
                        object.get()->Get(property.get(), 0, value.put(), nullptr, nullptr))) {
                    read.properties[name] = TextOf(value);
                }
            }
            objects->push_back(std::move(read));
        }
        return S_OK;
    }

    void ReleaseService(WmiService service) override {
        services_.erase(service);
        levels_.erase(service);
    }

private:
    // The thread's apartment, joined at the first connection and kept while the facet lives; a
    // thread that has COM already in another model keeps it. A failure is tried again next time.
    HRESULT Initialize() {
        if (!apartment_) apartment_.emplace();
        const HRESULT result = apartment_->result();
        if (SUCCEEDED(result) || result == RPC_E_CHANGED_MODE) return S_OK;
        apartment_.reset();
        return result;
    }

    LONG Connect(const std::string& server, const std::string& nameSpace, const std::string& user,
                 const std::string& password, DWORD impersonationLevel, WmiService* service) {
        HRESULT result = Initialize();
        if (FAILED(result)) return result;
        UniqueCom<IWbemLocator> locator;
        result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
        if (FAILED(result)) return result;
        std::string path = nameSpace;
        if (path.rfind("\\\\", 0) != 0) path = "\\\\" + server + "\\" + nameSpace;
        const UniqueBstr resource(BstrOf(path));
        const UniqueBstr userName(BstrOf(user));
        const UniqueBstr secret(BstrOf(password));
        UniqueCom<IWbemServices> connected;
        result = locator.get()->ConnectServer(
            resource.get(), user.empty() ? nullptr : userName.get(),
            password.empty() ? nullptr : secret.get(), nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
            nullptr, nullptr, connected.put());
        if (FAILED(result)) return result;
        result = SetProxyImpersonation(connected.get(), impersonationLevel);
        if (FAILED(result)) return result;
        const WmiService id = next_;
        levels_[id] = impersonationLevel;
        next_ += 4;
        services_[id] = std::move(connected);
        *service = id;
        return S_OK;
    }

    std::optional<ComApartment> apartment_;
    std::map<WmiService, UniqueCom<IWbemServices>> services_;
    std::map<WmiService, DWORD> levels_;
    WmiService next_ = 0x100;
};

}  // namespace

std::unique_ptr<Wmi> MakeWin32Wmi() {
    return std::make_unique<Win32Wmi>();
}

}  // namespace platform::win32
