// One blocking HTTP GET through libcurl, and the response it collects.
#ifndef MORV_UPDATER_HTTPREQUEST_H
#define MORV_UPDATER_HTTPREQUEST_H

#include <cstddef>
#include <map>
#include <string>

class HTTPResponse {
public:
    explicit HTTPResponse(const char* request);

    const char* get_request() const { return _request.c_str(); }
    long get_status() const { return _status; }
    // The body in the response's own storage; callers may cut it up in place.
    char* get_response() { return _body.data(); }
    void set_status(long status) { _status = status; }
    void process(const char* data, unsigned long length);

private:
    std::string _request;
    long _status = 0;
    std::string _body;
};

// Limits that keep a dead or silent server from blocking the caller for ever.
struct HTTPTimeouts {
    long connect_ms = 10000;       // connection set-up, name resolution included
    long low_speed_bytes = 1;      // a transfer slower than this many bytes per second ...
    long low_speed_seconds = 30;   // ... for this long is abandoned
};

class HTTPRequest {
public:
    // GETs url with "?key=value&" for every pair (no encoding); throws std::runtime_error
    // when the transfer fails. Any HTTP status is returned, judging it is the caller's task.
    static HTTPResponse GET(const char* url, const std::map<std::string, std::string>& query,
                            const HTTPTimeouts& timeouts = HTTPTimeouts());

    // libcurl's write callback; reference is the HTTPResponse being filled.
    static size_t _rcv_data(void* data, size_t size, size_t count, void* reference) noexcept;
};

#endif
