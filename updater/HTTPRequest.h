// One blocking HTTP GET through libcurl, and the response it collects.
#ifndef MORV_UPDATER_HTTPREQUEST_H
#define MORV_UPDATER_HTTPREQUEST_H

#include <cstddef>
#include <map>
#include <string>

class HTTPResponse {
public:
    // limit: the most body bytes the response takes.
    explicit HTTPResponse(const char* request, unsigned long long limit = ~0ull);

    const char* get_request() const { return _request.c_str(); }
    long get_status() const { return _status; }
    // The body in the response's own storage; callers may cut it up in place.
    char* get_response() { return _body.data(); }
    void set_status(long status) { _status = status; }
    // Appends the bytes; false, appending nothing, when the body would outgrow the limit.
    bool process(const char* data, unsigned long length);
    // True once process refused bytes for the limit.
    bool overflowed() const { return _overflowed; }

private:
    std::string _request;
    long _status = 0;
    std::string _body;
    unsigned long long _limit;
    bool _overflowed = false;
};

// The largest reply a working update server sends: a bundle file of the
// largest size a bundle may have (256 MiB), base64 encoded, plus its lines.
constexpr unsigned long long kMaxBundleBytes = 256ull * 1024 * 1024;
constexpr unsigned long long kMaxReplyBytes = 4 * ((kMaxBundleBytes + 2) / 3) + 64 * 1024;

// Limits that keep a dead, dribbling or endless server from holding the caller
// or its memory for ever.
struct HTTPTimeouts {
    long connect_ms = 10000;       // connection set-up, name resolution included
    long low_speed_bytes = 1024;   // a transfer slower than this many bytes per second ...
    long low_speed_seconds = 30;   // ... for this long is abandoned
    unsigned long long max_reply_bytes = kMaxReplyBytes;  // a longer body fails the request
};

class HTTPRequest {
public:
    // GETs url with "?key=value&" for every pair (no encoding); throws std::runtime_error
    // when the transfer fails or the body exceeds max_reply_bytes. Any HTTP status is
    // returned, judging it is the caller's task.
    static HTTPResponse GET(const char* url, const std::map<std::string, std::string>& query,
                            const HTTPTimeouts& timeouts = HTTPTimeouts());

    // libcurl's write callback; reference is the HTTPResponse being filled.
    static size_t _rcv_data(void* data, size_t size, size_t count, void* reference) noexcept;
};

#endif
