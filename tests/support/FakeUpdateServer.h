// A real HTTP/1.1 update server on 127.0.0.1 (ephemeral port) with canned replies per
// "op", recording every request target. One thread accepts, one thread serves each
// connection; everything stops when the object is destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace morvtest {

// Unsets the proxy variables and sets NO_PROXY for loopback, so libcurl talks to
// 127.0.0.1 directly.
void ClearProxyEnvironment();

class FakeUpdateServer {
public:
    enum class Stall {
        None,
        BeforeHeaders,  // reads the request and then says nothing
        MidBody,        // sends the headers (full Content-Length) and stallAfter body bytes
    };

    struct Reply {
        int status = 200;
        std::string body;
        bool crlf = false;  // send every "\n" of body as "\r\n"
        Stall stall = Stall::None;
        size_t stallAfter = 0;
        // Endless: headers without a length, then the body over and over until
        // the client leaves (at most kMaxStall and kMaxEndlessBytes).
        bool endless = false;
        // Non-zero: the body goes out one byte per interval (at most kMaxStall).
        std::chrono::milliseconds dribble{0};

        // "ok\n" followed by each line and "\n".
        static Reply Ok(const std::vector<std::string>& lines = {});
        static Reply Status(int status, const std::string& body);
        static Reply Body(const std::string& body);
    };

    // Binds and starts listening; throws std::runtime_error on failure. Clears the proxy
    // environment. By default only "hi" is answered (with "ok"); other ops get 404.
    FakeUpdateServer();
    ~FakeUpdateServer();
    FakeUpdateServer(const FakeUpdateServer&) = delete;
    FakeUpdateServer& operator=(const FakeUpdateServer&) = delete;

    unsigned short port() const { return port_; }
    // "http://127.0.0.1:PORT/cgi/u"
    std::string url() const;

    // The reply for requests whose query has op=<op>; replaces any earlier one.
    void setReply(const std::string& op, const Reply& reply);
    // The reply for any op without one of its own (none: 404).
    void setDefaultReply(const Reply& reply);

    // Query strings (the text after "?", empty when none) of every request so far, in order.
    std::vector<std::string> queries() const;
    // The full request targets ("/cgi/u?op=hi&rv=2&").
    std::vector<std::string> targets() const;
    void clearRecords();
    // Waits until at least n requests were recorded; false on time-out.
    bool waitForRequests(size_t n, std::chrono::milliseconds timeout) const;

    // A stalled connection is held at most this long (or until destruction).
    static constexpr std::chrono::seconds kMaxStall{20};
    // An endless reply ends after this many bytes all the same.
    static constexpr size_t kMaxEndlessBytes = 64 * 1024 * 1024;

private:
    void acceptLoop();
    void serve(int fd);
    bool readRequest(int fd, std::string& target);
    bool sendAll(int fd, const char* data, size_t length);
    void holdStalled(int fd);
    void sendEndless(int fd, const std::string& body);
    void sendDribbling(int fd, const std::string& body, std::chrono::milliseconds interval);
    Reply replyFor(const std::string& query) const;

    int listenFd_ = -1;
    int wakeFd_[2] = {-1, -1};  // written once at shutdown; every wait polls the read end
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::map<std::string, Reply> replies_;
    bool hasDefault_ = false;
    Reply default_;
    std::vector<std::string> targets_;
    std::vector<std::thread> workers_;
};

}  // namespace morvtest
