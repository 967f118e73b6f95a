#include "platform/emulated/emulated_http.h"

#include <curl/curl.h>
#include <dlfcn.h>

#include <algorithm>
#include <memory>

#include "platform/http_charset.h"
#include "platform/http_errors.h"
#include "platform/tasks.h"

namespace platform::emulated {

namespace {

void Report(long winHttpError, long* errorNumber, std::string* errorText) {
    if (errorNumber) *errorNumber = HresultFromWin32(winHttpError);
    if (errorText) *errorText = WinHttpErrorText(winHttpError);
}

long WinHttpErrorFor(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kWinHttpUnrecognizedScheme;
        case CURLE_URL_MALFORMAT:
            return kWinHttpInvalidUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kWinHttpNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kWinHttpCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kWinHttpTimeout;
        case CURLE_WEIRD_SERVER_REPLY:
            return kWinHttpInvalidServerResponse;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
            return kWinHttpSecureFailure;
        default:
            return kWinHttpConnectionError;
    }
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// libcurl and the TLS, name and authentication libraries behind it are bound on the first post,
// not when the program starts: most runs post nothing, and loading that chain would cost every
// run more than the rest of its start-up.
struct Curl {
    CURLcode (*global_init)(long);
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_perform)(CURL*);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    void (*easy_cleanup)(CURL*);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
};

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

// The bound library, initialised once; nullptr when it cannot be loaded.
const Curl* LoadCurl() {
    static const Curl* const loaded = []() -> const Curl* {
        void* library = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library) return nullptr;
        static Curl curl{};
        if (!Bind(library, "curl_global_init", curl.global_init) ||
            !Bind(library, "curl_easy_init", curl.easy_init) ||
            !Bind(library, "curl_easy_setopt", curl.easy_setopt) ||
            !Bind(library, "curl_easy_perform", curl.easy_perform) ||
            !Bind(library, "curl_easy_getinfo", curl.easy_getinfo) ||
            !Bind(library, "curl_easy_cleanup", curl.easy_cleanup) ||
            !Bind(library, "curl_slist_append", curl.slist_append) ||
            !Bind(library, "curl_slist_free_all", curl.slist_free_all)) {
            ::dlclose(library);
            return nullptr;
        }
        curl.global_init(CURL_GLOBAL_DEFAULT);
        return &curl;
    }();
    return loaded;
}

struct EasyDeleter {
    const Curl* api;
    void operator()(CURL* curl) const { api->easy_cleanup(curl); }
};
struct ListDeleter {
    const Curl* api;
    void operator()(curl_slist* list) const { api->slist_free_all(list); }
};

}  // namespace

bool EmulatedHttp::Post(const std::string& url,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        const std::string& body, const HttpTimeouts& timeouts,
                        HttpResponse* response, long* errorNumber, std::string* errorText) {
    const Curl* api = LoadCurl();
    if (!api) {
        // As WinHTTP fails when its module cannot be loaded.
        if (errorNumber) *errorNumber = HresultFromWin32(kErrorModNotFound);
        if (errorText) *errorText = "The specified module could not be found.";
        machine_.lastError = kErrorModNotFound;
        machine_.Journal("HttpPost " + url + " failed " + std::to_string(kErrorModNotFound));
        return false;
    }

    std::unique_ptr<CURL, EasyDeleter> curl(api->easy_init(), EasyDeleter{api});
    if (!curl) {
        if (errorNumber) *errorNumber = HresultFromWin32(kErrorNotEnoughMemory);
        if (errorText)
            *errorText = "Not enough memory resources are available to process this command.";
        return false;
    }
    curl_slist* list = nullptr;
    for (const auto& [name, value] : headers)
        list = api->slist_append(list, (name + ": " + value).c_str());
    // No "Expect: 100-continue" round: the body goes with the request, as WinHTTP sends it.
    list = api->slist_append(list, "Expect:");
    std::unique_ptr<curl_slist, ListDeleter> headerList(list, ListDeleter{api});

    std::string answer;
    CURL* easy = curl.get();
    api->easy_setopt(easy, CURLOPT_URL, url.c_str());
    api->easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    api->easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    api->easy_setopt(easy, CURLOPT_POST, 1L);
    api->easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    api->easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    api->easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    api->easy_setopt(easy, CURLOPT_USERAGENT, kHttpUserAgent);
    api->easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    api->easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
    api->easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    api->easy_setopt(easy, CURLOPT_PROXY, "");
    // libcurl's two limits for WinHTTP's: the connection, and the whole exchange (as long as the
    // longer of sending and waiting for the answer, so that a service that never answers costs
    // what it costs on Windows; less where the post's bound says so), each as this machine
    // scales bounds.
    // 0 would be no limit to libcurl: a limit is never scaled to nothing.
    const auto scaled = [this](long milliseconds) {
        return static_cast<long>(machine_.ScaleBound(static_cast<DWORD>(milliseconds)));
    };
    long whole = std::max(timeouts.sendMs, timeouts.receiveMs);
    if (timeouts.totalMs > 0 && (whole == 0 || timeouts.totalMs < whole)) whole = timeouts.totalMs;
    api->easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, scaled(timeouts.connectMs));
    api->easy_setopt(easy, CURLOPT_TIMEOUT_MS, scaled(whole));
    api->easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    api->easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);

    const CURLcode code = api->easy_perform(easy);
    if (code != CURLE_OK) {
        const long error = WinHttpErrorFor(code);
        Report(error, errorNumber, errorText);
        machine_.lastError = static_cast<DWORD>(error);
        machine_.Journal("HttpPost " + url + " failed " + std::to_string(error));
        return false;
    }
    long status = 0;
    api->easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    const char* contentType = nullptr;
    api->easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &contentType);
    machine_.Journal("HttpPost " + url + " status " + std::to_string(status));
    if (response) {
        response->status = status;
        // As WinHTTP's caller decodes it: by the charset of its Content-Type, UTF-8 when none.
        response->body = AnswerToUtf8(answer, CharsetOf(contentType ? contentType : ""));
    }
    return true;
}

}  // namespace platform::emulated
