#include "HTTPRequest.h"

#include <curl/curl.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "Log.h"

HTTPResponse::HTTPResponse(const char* request, unsigned long long limit)
    : _request(request != nullptr ? request : ""), _limit(limit) {}

bool HTTPResponse::process(const char* data, unsigned long length) {
    if (length > _limit || _body.size() > _limit - length) {
        _overflowed = true;
        return false;
    }
    _body.append(data, length);
    return true;
}

size_t HTTPRequest::_rcv_data(void* data, size_t size, size_t count, void* reference) noexcept {
    if (count != 0 && size > SIZE_MAX / count) return 0;
    const size_t total = size * count;
    const int shown = total < 100 ? static_cast<int>(total) : 100;
    Log::log(DEBUG_ServerComm, "rcv_data called (..., %d, %d, %08X) [%.*s]\n",
             static_cast<int>(size), static_cast<int>(count),
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(reference)), shown,
             static_cast<const char*>(data));
    try {
        // Past the limit the transfer ends here rather than growing the process.
        if (!static_cast<HTTPResponse*>(reference)->process(static_cast<const char*>(data), total)) return 0;
    } catch (...) {
        // Returning less than was handed in makes libcurl abort with a write error.
        return 0;
    }
    Log::log(DEBUG_ServerComm, "rcv_data returns %d\n", static_cast<int>(total));
    return total;
}

namespace {

struct CurlCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

}  // namespace

HTTPResponse HTTPRequest::GET(const char* url, const std::map<std::string, std::string>& query,
                              const HTTPTimeouts& timeouts) {
    std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());

    std::string request = url != nullptr ? url : "";
    if (!query.empty()) {
        request += '?';
        for (const auto& pair : query) {
            request += pair.first;
            request += '=';
            request += pair.second;
            request += '&';
        }
    }
    HTTPResponse response(request.c_str(), timeouts.max_reply_bytes);
    if (!curl) throw std::runtime_error("Could not create curl instance");

    CURL* h = curl.get();
    CURLcode code = curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &HTTPRequest::_rcv_data);
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_WRITEDATA, &response);
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_URL, response.get_request());
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    if (code == CURLE_OK) {
        // A TLS library without OCSP stapling answers "not built in"; we switch it off anyway.
        code = curl_easy_setopt(h, CURLOPT_SSL_VERIFYSTATUS, 0L);
        if (code == CURLE_NOT_BUILT_IN) code = CURLE_OK;
    }
    // GET may run on a worker thread: no signals for resolver time-outs.
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connect_ms);
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, timeouts.low_speed_bytes);
    if (code == CURLE_OK) code = curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeouts.low_speed_seconds);
    // A declared length above the limit fails before any of the body arrives.
    if (code == CURLE_OK && timeouts.max_reply_bytes <= static_cast<unsigned long long>(std::numeric_limits<curl_off_t>::max()))
        code = curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(timeouts.max_reply_bytes));

    if (code == CURLE_OK) {
        Log::log(DEBUG_ServerComm, "GET(%s)\n", response.get_request());
        code = curl_easy_perform(h);
    }
    long status = 0;
    if (code == CURLE_OK) code = curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (response.overflowed() || code == CURLE_FILESIZE_EXCEEDED)
        throw std::runtime_error("Reply larger than " + std::to_string(timeouts.max_reply_bytes) + " bytes");
    if (code != CURLE_OK) throw std::runtime_error(curl_easy_strerror(code));

    response.set_status(status);
    return response;
}
