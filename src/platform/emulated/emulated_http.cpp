#include "platform/emulated/emulated_http.h"

#include "platform/http_errors.h"
#include "platform/tasks.h"

#ifndef _WIN32
#include <curl/curl.h>

#include <memory>
#include <mutex>
#endif

namespace platform::emulated {

namespace {

#ifndef _WIN32

constexpr long kConnectTimeoutMs = 15000;
constexpr long kWholeExchangeTimeoutMs = 60000;

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

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

#endif

}  // namespace

bool EmulatedHttp::Post(const std::string& url,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        const std::string& body, HttpResponse* response, long* errorNumber,
                        std::string* errorText) {
#ifdef _WIN32
    (void)url;
    (void)headers;
    (void)body;
    (void)response;
    if (errorNumber) *errorNumber = HresultFromWin32(kErrorCallNotImplemented);
    if (errorText) *errorText = "This function is not supported on this system.";
    machine_.lastError = kErrorCallNotImplemented;
    return false;
#else
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) {
        if (errorNumber) *errorNumber = HresultFromWin32(kErrorNotEnoughMemory);
        if (errorText)
            *errorText = "Not enough memory resources are available to process this command.";
        return false;
    }
    curl_slist* list = nullptr;
    for (const auto& [name, value] : headers)
        list = curl_slist_append(list, (name + ": " + value).c_str());
    // No "Expect: 100-continue" round: the body goes with the request, as WinHTTP sends it.
    list = curl_slist_append(list, "Expect:");
    std::unique_ptr<curl_slist, ListDeleter> headerList(list);

    std::string answer;
    CURL* easy = curl.get();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, kWholeExchangeTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);

    const CURLcode code = curl_easy_perform(easy);
    if (code != CURLE_OK) {
        const long error = WinHttpErrorFor(code);
        Report(error, errorNumber, errorText);
        machine_.lastError = static_cast<DWORD>(error);
        machine_.Journal("HttpPost " + url + " failed " + std::to_string(error));
        return false;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    machine_.Journal("HttpPost " + url + " status " + std::to_string(status));
    if (response) {
        response->status = status;
        response->body = std::move(answer);
    }
    return true;
#endif
}

}  // namespace platform::emulated
