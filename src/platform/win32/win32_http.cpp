// HTTP facet: one synchronous POST through WinHTTP. The program's texts are in the active code
// page; the body goes out as UTF-8 and the answer is decoded by the charset its Content-Type names
// (UTF-8 when none), as the scripting HTTP request object sends a string body and decodes its
// response text. Every request names the program and its version in its User-Agent.
//
// Proxy: the machine's automatic proxy discovery and configuration script, as the scripting
// request object follows it (WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, Windows 8.1 and later); where
// the system does not offer that, the WinHTTP proxy setting (netsh winhttp).
//
// Time-outs: the caller's, each step's (resolve, connect, send, each part of the answer) and the
// whole post's, proxy discovery included. Server certificates are verified.
//
// WINHTTP.dll is no KnownDLL: its functions are bound from the system folder at the first post.

#include <memory>
#include <mutex>
#include <optional>

#include "platform/bounded_call.h"
#include "platform/http_charset.h"
#include "platform/http_errors.h"
#include "platform/win32/com_support.h"
#include "platform/win32/system_library.h"
#include "platform/win32/system_message.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

// The Windows headers come after windows_include.h, which they need first.
// clang-format off
#include <winhttp.h>
// clang-format on

// Windows 8.1's access type; older headers do not know it.
#ifndef WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY
#define WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY 4
#endif

namespace platform::win32 {
namespace {

// The WinHTTP functions the post calls, bound once from the system folder.
struct WinHttpApi {
    decltype(::WinHttpCrackUrl)* CrackUrl = nullptr;
    decltype(::WinHttpOpen)* Open = nullptr;
    decltype(::WinHttpSetTimeouts)* SetTimeouts = nullptr;
    decltype(::WinHttpSetOption)* SetOption = nullptr;
    decltype(::WinHttpConnect)* Connect = nullptr;
    decltype(::WinHttpOpenRequest)* OpenRequest = nullptr;
    decltype(::WinHttpSendRequest)* SendRequest = nullptr;
    decltype(::WinHttpReceiveResponse)* ReceiveResponse = nullptr;
    decltype(::WinHttpQueryHeaders)* QueryHeaders = nullptr;
    decltype(::WinHttpQueryDataAvailable)* QueryDataAvailable = nullptr;
    decltype(::WinHttpReadData)* ReadData = nullptr;
    decltype(::WinHttpCloseHandle)* CloseHandle = nullptr;
};

template <typename Function>
bool Bind(const char* name, Function*& function) {
    function = SystemFunction<Function>("winhttp.dll", name);
    return function != nullptr;
}

// Bound once, by whichever post's worker comes first (a worker left inside an earlier post may
// still use it). nullptr with the loader's last error when WINHTTP.dll or one of its functions is
// missing; a later post tries again.
const WinHttpApi* WinHttp() {
    static std::mutex binding;
    static WinHttpApi api;
    static bool bound = false;
    const std::lock_guard<std::mutex> lock(binding);
    if (!bound) {
        bound = Bind("WinHttpCrackUrl", api.CrackUrl) && Bind("WinHttpOpen", api.Open) &&
                Bind("WinHttpSetTimeouts", api.SetTimeouts) &&
                Bind("WinHttpSetOption", api.SetOption) && Bind("WinHttpConnect", api.Connect) &&
                Bind("WinHttpOpenRequest", api.OpenRequest) &&
                Bind("WinHttpSendRequest", api.SendRequest) &&
                Bind("WinHttpReceiveResponse", api.ReceiveResponse) &&
                Bind("WinHttpQueryHeaders", api.QueryHeaders) &&
                Bind("WinHttpQueryDataAvailable", api.QueryDataAvailable) &&
                Bind("WinHttpReadData", api.ReadData) &&
                Bind("WinHttpCloseHandle", api.CloseHandle);
    }
    return bound ? &api : nullptr;
}

// TLS 1.2, and 1.3 where the system offers it: Windows 7 and Server 2008 R2 offer only TLS 1.0
// unless asked. A system that refuses the pair is asked for TLS 1.2 alone; one that refuses
// that too (no TLS 1.2 update installed) keeps its own default.
void AskForCurrentTls(const WinHttpApi& api, HINTERNET session) {
    for (::DWORD protocols : {static_cast<::DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 |
                                                   WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3),
                              static_cast<::DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2)}) {
        if (api.SetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
            return;
    }
}

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static void Close(Handle handle) noexcept { WinHttp()->CloseHandle(handle); }
    static bool IsValid(Handle handle) noexcept { return handle != nullptr; }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

// The text Windows gives for a WinHTTP error (from winhttp.dll's messages), else the English
// text, else the system's; without its line end.
std::string ErrorText(::DWORD error) {
    std::string text;
    if (HMODULE module = SystemLibrary("winhttp.dll")) text = SystemMessage(error, module);
    if (text.empty()) text = WinHttpErrorText(static_cast<long>(error));
    if (text.empty()) text = SystemMessage(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

class Win32Http final : public Http {
public:
    bool Post(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& headers,
              const std::string& body, const HttpTimeouts& timeouts, HttpResponse* response,
              long* errorNumber, std::string* errorText) override {
        // The exchange on a worker of its own: WinHTTP's time-outs bound each step, not the
        // automatic proxy's discovery and script, nor the sum of the steps. The worker takes
        // copies; one that outlives the bound ends when WinHTTP's own time-outs, cut to the
        // same bound, end its steps.
        std::optional<Exchanged> exchanged;
        if (timeouts.totalMs > 0) {
            if (!caller_ || caller_->lost()) caller_ = std::make_unique<BoundedCaller>();
            exchanged = caller_->Call<Exchanged>(
                static_cast<DWORD>(timeouts.totalMs),
                [url, headers, body, timeouts] { return Exchange(url, headers, body, timeouts); });
            if (!exchanged) exchanged = Exchanged{false, caller_->failure(), 0, {}, {}};
        } else {
            exchanged = Exchange(url, headers, body, timeouts);
        }
        if (!exchanged->ok) {
            const ::DWORD error = exchanged->error;
            if (errorNumber) *errorNumber = HRESULT_FROM_WIN32(error);
            if (errorText) *errorText = ErrorText(error);
            ::SetLastError(error);
            return false;
        }
        if (response) {
            response->status = static_cast<long>(exchanged->status);
            // The answer as text: by its charset (UTF-8 unless it says otherwise), into the
            // program's code page. UTF-16 is no code page MultiByteToWideChar takes.
            const std::string& charset = exchanged->charset;
            const std::string& answer = exchanged->answer;
            const unsigned codePage = CodePageOfCharset(charset);
            const std::wstring wide = codePage == 1200 || codePage == 1201
                                          ? ToWide(AnswerToUtf8(answer, charset), CP_UTF8)
                                          : ToWide(answer, codePage);
            response->body = FromWide(wide.c_str(), static_cast<int>(wide.size()));
        }
        return true;
    }

private:
    struct Exchanged {
        bool ok = false;
        ::DWORD error = 0;  // the failing call's last error
        ::DWORD status = 0;
        std::string answer;
        std::string charset;
    };

    static Exchanged Exchange(const std::string& url,
                              const std::vector<std::pair<std::string, std::string>>& headers,
                              const std::string& body, const HttpTimeouts& timeouts) {
        Exchanged result;
        result.ok =
            Exchange(url, headers, body, timeouts, &result.status, &result.answer, &result.charset);
        if (!result.ok) result.error = ::GetLastError();
        return result;
    }

    std::unique_ptr<BoundedCaller> caller_;

    // False with the failing call's last error.
    static bool Exchange(const std::string& url,
                         const std::vector<std::pair<std::string, std::string>>& headers,
                         const std::string& body, const HttpTimeouts& timeouts, ::DWORD* status,
                         std::string* answer, std::string* charset) {
        const WinHttpApi* api = WinHttp();
        if (!api) return false;
        std::wstring wideUrl = ToWide(url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<::DWORD>(-1);
        parts.dwUrlPathLength = static_cast<::DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<::DWORD>(-1);
        parts.dwSchemeLength = static_cast<::DWORD>(-1);
        if (wideUrl.empty() || !api->CrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
            if (wideUrl.empty()) ::SetLastError(ERROR_WINHTTP_INVALID_URL);
            return false;
        }
        if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
            ::SetLastError(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
            return false;
        }
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
        if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        if (path.empty()) path = L"/";

        const std::wstring userAgent = ToWide(kHttpUserAgent);
        // Systems before Windows 8.1 refuse the automatic access type (ERROR_INVALID_PARAMETER).
        UniqueInternet session(api->Open(userAgent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) {
            session.reset(api->Open(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        }
        if (!session) return false;
        if (!api->SetTimeouts(session.get(), timeouts.resolveMs, timeouts.connectMs,
                              timeouts.sendMs, timeouts.receiveMs)) {
            return false;
        }
        AskForCurrentTls(*api, session.get());
        UniqueInternet connection(api->Connect(session.get(), host.c_str(), parts.nPort, 0));
        if (!connection) return false;
        const ::DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        UniqueInternet request(api->OpenRequest(connection.get(), L"POST", path.c_str(), nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                flags));
        if (!request) return false;

        std::wstring headerText;
        for (const auto& [name, value] : headers)
            headerText += ToWide(name + ": " + value) + L"\r\n";
        const std::wstring utf16Body = ToWide(body);
        std::string wireBody =
            FromWide(utf16Body.c_str(), static_cast<int>(utf16Body.size()), CP_UTF8);
        const auto length = static_cast<::DWORD>(wireBody.size());
        if (!api->SendRequest(
                request.get(),
                headerText.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerText.c_str(),
                headerText.empty() ? 0 : static_cast<::DWORD>(-1),
                length ? wireBody.data() : WINHTTP_NO_REQUEST_DATA, length, length, 0)) {
            return false;
        }
        if (!api->ReceiveResponse(request.get(), nullptr)) return false;

        ::DWORD size = sizeof *status;
        if (!api->QueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
            return false;
        }
        // The Content-Type, for its charset; an answer without one is UTF-8.
        charset->clear();
        ::DWORD typeSize = 0;
        api->QueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &typeSize, WINHTTP_NO_HEADER_INDEX);
        if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && typeSize > 0) {
            std::wstring type(typeSize / sizeof(wchar_t) + 1, L'\0');
            if (api->QueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_TYPE,
                                  WINHTTP_HEADER_NAME_BY_INDEX, type.data(), &typeSize,
                                  WINHTTP_NO_HEADER_INDEX)) {
                type.resize(typeSize / sizeof(wchar_t));
                *charset = CharsetOf(FromWide(type.c_str(), static_cast<int>(type.size())));
            }
        }
        answer->clear();
        for (;;) {
            ::DWORD available = 0;
            if (!api->QueryDataAvailable(request.get(), &available)) return false;
            if (available == 0) break;
            const std::size_t used = answer->size();
            answer->resize(used + available);
            ::DWORD read = 0;
            if (!api->ReadData(request.get(), answer->data() + used, available, &read))
                return false;
            answer->resize(used + read);
            if (read == 0) break;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<Http> MakeWin32Http() {
    return std::make_unique<Win32Http>();
}

}  // namespace platform::win32
