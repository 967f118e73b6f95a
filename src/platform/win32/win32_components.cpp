// The agent's components, bound as the program binds them.
#include <algorithm>
#include <array>
#include <map>
#include <memory>
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

// What a call made on the components' thread hands back: its result and texts, copied.
struct Called {
    HRESULT hr = S_OK;
    std::string text;       // the encrypted text
    std::string errorText;  // why it failed
    PostXmlStringCall post;
    bool ran = false;  // the call was made and returned
};

// Every call of an object runs on the components' own thread (BoundedCaller), in a
// single-threaded apartment of its own: the agent's apartment-threaded objects are made there and
// called there; the cipher library on a thread without COM. A call past its bound leaves that
// thread inside it; the objects made on it are lost with it (their calls fail at once, their
// release is left to the process's end), and the next object is made on a new thread.
class Win32Components final : public Components {
public:
    bool CallCipher(const char* libraryPath, const char* exportName, char* buffer,
                    std::int32_t length, DWORD timeoutMs) override {
        struct Ciphered {
            bool ok = false;
            ::DWORD error = 0;
            std::string bytes;
        };
        const std::string path = libraryPath ? libraryPath : "";
        const std::string name = exportName ? exportName : "";
        std::string bytes(buffer, buffer + (length > 0 ? length : 0));
        // A plain worker of its own: the library is no COM object, and every run deciphers the
        // configuration, most without any other component.
        if (!cipherWorker_ || cipherWorker_->lost()) {
            cipherWorker_ = std::make_unique<BoundedCaller>();
        }
        const auto done = cipherWorker_->Call<Ciphered>(timeoutMs, [path, name, bytes]() mutable {
            Ciphered result;
            // By its full path; its own dependencies come from its folder, then the system
            // folder (a full path alone leaves them to the process's search). A loader that
            // predates the search flags refuses them with ERROR_INVALID_PARAMETER: there the
            // altered search order looks in the library's folder first.
            // Unloaded on every path; the owner keeps GetProcAddress's last error.
            UniqueModule library(
                ::LoadLibraryExA(path.c_str(), nullptr,
                                 LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
            if (!library && ::GetLastError() == ERROR_INVALID_PARAMETER)
                library.reset(
                    ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
            if (library) {
                const auto function = reinterpret_cast<CipherFunction>(
                    reinterpret_cast<void*>(::GetProcAddress(library.get(), name.c_str())));
                if (function) {
                    function(bytes.data(), static_cast<std::int32_t>(bytes.size()));
                    result.ok = true;
                }
            }
            if (!result.ok) result.error = ::GetLastError();
            result.bytes = std::move(bytes);
            return result;
        });
        if (!done) {
            ::SetLastError(cipherWorker_->failure());
            return false;
        }
        if (!done->ok) {
            ::SetLastError(done->error);
            return false;
        }
        std::copy(done->bytes.begin(), done->bytes.end(), buffer);
        return true;
    }

    LONG CreateObject(const char* progId, ComObject* object, DWORD timeoutMs) override {
        if (!object) return E_POINTER;
        *object = 0;
        std::shared_ptr<BoundedCaller> worker = Worker();
        const std::wstring name = ToWide(progId ? progId : "");
        struct Created {
            HRESULT hr = S_OK;
            IDispatch* dispatch = nullptr;
        };
        const auto created = worker->Call<Created>(timeoutMs, [name] {
            Created result;
            CLSID clsid;
            result.hr = ::CLSIDFromProgID(name.c_str(), &clsid);
            if (SUCCEEDED(result.hr)) {
                result.hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                               reinterpret_cast<void**>(&result.dispatch));
            }
            return result;
        });
        if (!created) return HRESULT_FROM_WIN32(worker->failure());
        if (FAILED(created->hr)) return created->hr;
        const ComObject id = next_;
        next_ += 4;
        objects_[id] = Held{std::move(worker), created->dispatch};
        *object = id;
        return S_OK;
    }

    void ReleaseObject(ComObject object) override {
        const auto found = objects_.find(object);
        if (found == objects_.end()) return;
        IDispatch* dispatch = found->second.dispatch;
        found->second.worker->Run(kComponentCallMs, [dispatch] { dispatch->Release(); });
        objects_.erase(found);
    }

    LONG EncryptText(ComObject encryptor, const char* method, const std::string& text,
                     std::string* encrypted, std::string* errorText, DWORD timeoutMs) override {
        const std::wstring name = ToWide(method ? method : "");
        const auto done = OnObject(encryptor, timeoutMs, [name, text](IDispatch* object) {
            Called result;
            const UniqueBstr argument(BstrOf(text));
            VARIANT parameter;
            ::VariantInit(&parameter);
            parameter.vt = VT_BSTR;
            parameter.bstrVal = argument.get();  // still owned by `argument`
            DISPPARAMS parameters{&parameter, nullptr, 1, 0};
            UniqueVariant value;
            result.hr =
                CallByName(object, name.c_str(), &parameters, value.put(), &result.errorText);
            if (SUCCEEDED(result.hr)) {
                UniqueVariant asText;
                result.hr = ::VariantChangeType(asText.put(), value.addressof(), 0, VT_BSTR);
                if (SUCCEEDED(result.hr)) {
                    result.text = TextOfBstr(asText.get().bstrVal);
                } else {
                    result.errorText = SystemText(result.hr);
                }
            }
            return result;
        });
        if (SUCCEEDED(done.hr) && encrypted) *encrypted = done.text;
        if (FAILED(done.hr) && errorText) *errorText = done.errorText;
        return done.hr;
    }

    // Arguments 1 and 6 to 9 go by reference (VT_BYREF | VT_BSTR), as a late-bound caller passes
    // its text variables; the component may replace them.
    LONG PostXMLString(ComObject webPost, const char* method, PostXmlStringCall* call,
                       std::string* errorText, DWORD timeoutMs) override {
        if (!call) return E_POINTER;
        const std::wstring name = ToWide(method ? method : "");
        const auto done = OnObject(webPost, timeoutMs, [name, post = *call](IDispatch* object) {
            Called result;
            result.post = post;
            result.hr = Post(object, name.c_str(), &result.post, &result.errorText);
            return result;
        });
        if (done.ran) *call = done.post;
        if (FAILED(done.hr) && errorText) *errorText = done.errorText;
        return done.hr;
    }

private:
    struct Held {
        std::shared_ptr<BoundedCaller> worker;
        IDispatch* dispatch = nullptr;
    };

    std::shared_ptr<BoundedCaller> Worker() {
        if (!worker_ || worker_->lost()) worker_ = MakeComWorker(COINIT_APARTMENTTHREADED);
        return worker_;
    }

    // A call of the object on its own thread; E_POINTER for no object, ERROR_TIMEOUT's HRESULT
    // when its thread is lost or the call outlives the bound, the HRESULT of the worker's
    // failure when the call raised.
    template <class Work>
    Called OnObject(ComObject object, DWORD timeoutMs, Work work) {
        Called failed;
        const auto found = objects_.find(object);
        if (found == objects_.end()) {
            failed.hr = E_POINTER;
            failed.errorText = SystemText(E_POINTER);
            return failed;
        }
        IDispatch* dispatch = found->second.dispatch;
        auto done = found->second.worker->Call<Called>(
            timeoutMs, [dispatch, work = std::move(work)] { return work(dispatch); });
        if (done) {
            done->ran = true;
            return std::move(*done);
        }
        failed.hr = HRESULT_FROM_WIN32(found->second.worker->failure());
        failed.errorText = SystemText(failed.hr);
        return failed;
    }

    static HRESULT Post(IDispatch* webPost, const wchar_t* method, PostXmlStringCall* call,
                        std::string* errorText) {
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
        const HRESULT hr = CallByName(webPost, method, &parameters, result.put(), errorText);
        call->body = TextOfBstr(byReference[0].get());
        call->returnValue = TextOfBstr(byReference[1].get());
        call->detail1 = TextOfBstr(byReference[2].get());
        call->detail2 = TextOfBstr(byReference[3].get());
        call->detail3 = TextOfBstr(byReference[4].get());
        return hr;
    }

    std::shared_ptr<BoundedCaller> worker_;
    std::unique_ptr<BoundedCaller> cipherWorker_;
    std::map<ComObject, Held> objects_;
    ComObject next_ = 0x10;
};

}  // namespace

std::unique_ptr<Components> MakeWin32Components() {
    return std::make_unique<Win32Components>();
}

}  // namespace platform::win32
