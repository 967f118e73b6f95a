// HTTP facet: one synchronous POST through WinHTTP. The program's texts are in the active code
// page; the body goes out as UTF-8 and the answer comes back from UTF-8, as the scripting HTTP
// request object sends a string body and decodes its response text.
//
// Time-outs: 15 s to resolve the name, 15 s to connect, 30 s to send and 30 s for each part of
// the answer. The system's WinHTTP proxy setting applies; server certificates are verified.

#include "platform/http_errors.h"
#include "platform/win32/com_support.h"
#include "platform/win32/unique_handle.h"
#include "platform/win32/win32_facets.h"
#include "platform/win32/windows_include.h"

// The Windows headers come after windows_include.h, which they need first.
// clang-format off
#include <winhttp.h>
// clang-format on

namespace platform::win32 {
namespace {

constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 15000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 30000;

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static void Close(Handle handle) noexcept { ::WinHttpCloseHandle(handle); }
    static bool IsValid(Handle handle) noexcept { return handle != nullptr; }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;

// The text Windows gives for a WinHTTP error (from winhttp.dll's messages), else the English
// text, else the system's; without its line end.
std::string ErrorText(::DWORD error) {
    char buffer[512] = {};
    ::DWORD length = 0;
    if (HMODULE module = ::GetModuleHandleA("winhttp.dll")) {
        length = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  module, error, 0, buffer, sizeof buffer, nullptr);
    }
    std::string text(buffer, length);
    if (text.empty()) text = WinHttpErrorText(static_cast<long>(error));
    if (text.empty()) {
        length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, sizeof buffer, nullptr);
        text.assign(buffer, length);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

class Win32Http final : public Http {
public:
    bool Post(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& headers,
              const std::string& body, HttpResponse* response, long* errorNumber,
              std::string* errorText) override {
        ::DWORD status = 0;
        std::string answer;
        if (!Exchange(url, headers, body, &status, &answer)) {
            const ::DWORD error = ::GetLastError();
            if (errorNumber) *errorNumber = HRESULT_FROM_WIN32(error);
            if (errorText) *errorText = ErrorText(error);
            ::SetLastError(error);
            return false;
        }
        if (response) {
            response->status = static_cast<long>(status);
            // The answer as text: UTF-8 unless it says otherwise, into the program's code page.
            const std::wstring wide = ToWide(answer, CP_UTF8);
            response->body = FromWide(wide.c_str(), static_cast<int>(wide.size()));
        }
        return true;
    }

private:
    // False with the failing call's last error.
    static bool Exchange(const std::string& url,
                         const std::vector<std::pair<std::string, std::string>>& headers,
                         const std::string& body, ::DWORD* status, std::string* answer) {
        std::wstring wideUrl = ToWide(url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = static_cast<::DWORD>(-1);
        parts.dwUrlPathLength = static_cast<::DWORD>(-1);
        parts.dwExtraInfoLength = static_cast<::DWORD>(-1);
        parts.dwSchemeLength = static_cast<::DWORD>(-1);
        if (wideUrl.empty() || !::WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
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

        UniqueInternet session(::WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) return false;
        if (!::WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs,
                                  kSendTimeoutMs, kReceiveTimeoutMs)) {
            return false;
        }
        UniqueInternet connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
        if (!connection) return false;
        const ::DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        UniqueInternet request(::WinHttpOpenRequest(connection.get(), L"POST", path.c_str(),
                                                    nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
        if (!request) return false;

        std::wstring headerText;
        for (const auto& [name, value] : headers)
            headerText += ToWide(name + ": " + value) + L"\r\n";
        const std::wstring utf16Body = ToWide(body);
        std::string wireBody =
            FromWide(utf16Body.c_str(), static_cast<int>(utf16Body.size()), CP_UTF8);
        const auto length = static_cast<::DWORD>(wireBody.size());
        if (!::WinHttpSendRequest(
                request.get(),
                headerText.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerText.c_str(),
                headerText.empty() ? 0 : static_cast<::DWORD>(-1),
                length ? wireBody.data() : WINHTTP_NO_REQUEST_DATA, length, length, 0)) {
            return false;
        }
        if (!::WinHttpReceiveResponse(request.get(), nullptr)) return false;

        ::DWORD size = sizeof *status;
        if (!::WinHttpQueryHeaders(
                request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, status, &size, WINHTTP_NO_HEADER_INDEX)) {
            return false;
        }
        answer->clear();
        for (;;) {
            ::DWORD available = 0;
            if (!::WinHttpQueryDataAvailable(request.get(), &available)) return false;
            if (available == 0) break;
            const std::size_t used = answer->size();
            answer->resize(used + available);
            ::DWORD read = 0;
            if (!::WinHttpReadData(request.get(), answer->data() + used, available, &read))
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
