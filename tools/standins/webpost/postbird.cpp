// Stand-in for the agent's web-post component: the COM object "Postbird.webpost" whose method
// PostXMLString(body, flag, url, text4, text5, returnValue, detail1, detail2, detail3) POSTs the
// body (UTF-8, Content-Type text/xml) to the address over WinHTTP and leaves the service's answer
// in returnValue when the service answered with a 2xx status. Otherwise returnValue is empty and
// the details say why: "HTTP status <n>" and the start of the answer in detail1 and detail3, or
// "No answer from <url>", the WinHTTP error number and its text. Arguments 2, 4 and 5 are not
// used. The method returns True when the service answered at all. The emulated host's stand-in
// answers the same way.
#include "../com/dispatch_server.h"
// winhttp.h needs the Windows types that dispatch_server.h brings.
#include <winhttp.h>

#include <vector>

namespace {

// {025B1D70-A63E-40CC-AC81-4BDD4A5DFD0B}
constexpr CLSID kClsid = {
    0x025b1d70, 0xa63e, 0x40cc, {0xac, 0x81, 0x4b, 0xdd, 0x4a, 0x5d, 0xfd, 0x0b}};
constexpr std::size_t kDetailAnswerLength = 200;

struct HttpHandle {
    HINTERNET handle = nullptr;
    ~HttpHandle() {
        if (handle) ::WinHttpCloseHandle(handle);
    }
};

struct Outcome {
    bool answered = false;
    DWORD status = 0;
    std::string body;
    DWORD error = 0;
};

std::wstring Wide(const std::string& utf8) {
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

Outcome Post(const std::string& url, const std::string& body) {
    Outcome outcome;
    const auto fail = [&outcome]() {
        outcome.error = ::GetLastError();
        return outcome;
    };
    std::wstring wideUrl = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return fail();
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    HttpHandle session{::WinHttpOpen(L"Postbird stand-in", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)};
    if (!session.handle) return fail();
    ::WinHttpSetTimeouts(session.handle, 0, 15000, 30000, 30000);
    HttpHandle connection{::WinHttpConnect(session.handle, host.c_str(), parts.nPort, 0)};
    if (!connection.handle) return fail();
    HttpHandle request{
        ::WinHttpOpenRequest(connection.handle, L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES,
                             parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)};
    if (!request.handle) return fail();
    const auto length = static_cast<DWORD>(body.size());
    if (!::WinHttpSendRequest(request.handle, L"Content-Type: text/xml; charset=utf-8\r\n",
                              static_cast<DWORD>(-1), const_cast<char*>(body.data()), length,
                              length, 0) ||
        !::WinHttpReceiveResponse(request.handle, nullptr)) {
        return fail();
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(
            request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return fail();
    }
    outcome.status = status;
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.handle, &available)) return fail();
        if (available == 0) break;
        std::vector<char> buffer(available);
        DWORD read = 0;
        if (!::WinHttpReadData(request.handle, buffer.data(), available, &read)) return fail();
        if (read == 0) break;
        outcome.body.append(buffer.data(), read);
    }
    outcome.answered = true;
    return outcome;
}

// The system's text for a WinHTTP error, without its line end. Wine's winhttp.dll carries no
// message texts: the common ones are kept here as Windows words them.
std::string ErrorText(DWORD error) {
    wchar_t text[512] = {};
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        ::GetModuleHandleW(L"winhttp.dll"), error, 0, text, 512, nullptr);
    while (length > 0 && (text[length - 1] == L'\n' || text[length - 1] == L'\r')) --length;
    if (length > 0) return standin::ToUtf8(text, length);
    switch (error) {
        case ERROR_WINHTTP_TIMEOUT:
            return "The operation timed out";
        case ERROR_WINHTTP_INVALID_URL:
            return "The URL is invalid";
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
            return "The URL does not use a recognized protocol";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return "The server name or address could not be resolved";
        case ERROR_WINHTTP_CANNOT_CONNECT:
            return "A connection with the server could not be established";
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return "The connection with the server was terminated abnormally";
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
            return "The server returned an invalid or unrecognized response";
        case ERROR_WINHTTP_SECURE_FAILURE:
            return "A security error occurred";
        default:
            return "Error " + std::to_string(error);
    }
}

constexpr standin::MethodName kMethods[] = {{L"PostXMLString", 1}};

class WebPost final : public standin::DispatchObject {
public:
    WebPost() : DispatchObject(kMethods, 1) {}

protected:
    HRESULT Call(DISPID, DISPPARAMS& parameters, VARIANT* result, EXCEPINFO*,
                 UINT* argumentError) override {
        if (parameters.cArgs != 9) return DISP_E_BADPARAMCOUNT;
        // Argument n (1 to 9) is rgvarg[9 - n].
        const auto argument = [&parameters](int n) -> VARIANT& { return parameters.rgvarg[9 - n]; };
        std::string body;
        std::string url;
        if (FAILED(standin::ArgumentText(argument(1), &body))) {
            if (argumentError) *argumentError = 8;
            return DISP_E_TYPEMISMATCH;
        }
        if (FAILED(standin::ArgumentText(argument(3), &url))) {
            if (argumentError) *argumentError = 6;
            return DISP_E_TYPEMISMATCH;
        }
        const Outcome outcome = Post(url, body);
        std::string answer, detail1, detail2, detail3;
        if (!outcome.answered) {
            detail1 = "No answer from " + url;
            detail2 = std::to_string(outcome.error);
            detail3 = ErrorText(outcome.error);
        } else if (outcome.status >= 200 && outcome.status < 300) {
            answer = outcome.body;
        } else {
            detail1 = "HTTP status " + std::to_string(outcome.status);
            detail3 = outcome.body.substr(0, kDetailAnswerLength);
        }
        const std::string* outputs[] = {&answer, &detail1, &detail2, &detail3};
        for (int n = 6; n <= 9; ++n) {
            if (FAILED(standin::SetArgumentText(argument(n), *outputs[n - 6]))) {
                if (argumentError) *argumentError = static_cast<UINT>(9 - n);
                return DISP_E_TYPEMISMATCH;
            }
        }
        if (result) {
            ::VariantInit(result);
            result->vt = VT_BOOL;
            result->boolVal = outcome.answered ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
};

}  // namespace

STANDIN_COM_SERVER(WebPost, kClsid, L"Postbird.webpost", L"Postbird web-post stand-in")
