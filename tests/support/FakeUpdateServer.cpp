#include "FakeUpdateServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace morvtest {

void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY"})
        unsetenv(name);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    setenv("no_proxy", "127.0.0.1,localhost", 1);
}

namespace {

constexpr int kIoTimeoutMs = 5000;
constexpr size_t kMaxRequestHead = 64 * 1024;

const char* reasonFor(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string opOf(const std::string& query) {
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        if (query.compare(start, 3, "op=") == 0 && end >= start + 3)
            return query.substr(start + 3, end - start - 3);
        start = end + 1;
    }
    return std::string();
}

}  // namespace

FakeUpdateServer::Reply FakeUpdateServer::Reply::Ok(const std::vector<std::string>& lines) {
    Reply r;
    r.body = "ok\n";
    for (const auto& line : lines) r.body += line + "\n";
    return r;
}

FakeUpdateServer::Reply FakeUpdateServer::Reply::Status(int status, const std::string& body) {
    Reply r;
    r.status = status;
    r.body = body;
    return r;
}

FakeUpdateServer::Reply FakeUpdateServer::Reply::Body(const std::string& body) {
    Reply r;
    r.body = body;
    return r;
}

FakeUpdateServer::FakeUpdateServer() {
    ClearProxyEnvironment();
    replies_["hi"] = Reply::Ok();

    if (pipe2(wakeFd_, O_CLOEXEC) != 0) throw std::runtime_error("FakeUpdateServer: pipe failed");
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        close(wakeFd_[0]);
        close(wakeFd_[1]);
        throw std::runtime_error("FakeUpdateServer: socket failed");
    }
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 64) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const std::string err = std::strerror(errno);
        close(listenFd_);
        close(wakeFd_[0]);
        close(wakeFd_[1]);
        throw std::runtime_error("FakeUpdateServer: cannot listen on 127.0.0.1: " + err);
    }
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread(&FakeUpdateServer::acceptLoop, this);
}

FakeUpdateServer::~FakeUpdateServer() {
    stopping_ = true;
    const char byte = 1;
    ssize_t ignored = write(wakeFd_[1], &byte, 1);
    (void)ignored;
    acceptThread_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    close(listenFd_);
    close(wakeFd_[0]);
    close(wakeFd_[1]);
}

std::string FakeUpdateServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/cgi/u";
}

void FakeUpdateServer::setReply(const std::string& op, const Reply& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[op] = reply;
}

void FakeUpdateServer::setDefaultReply(const Reply& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    default_ = reply;
    hasDefault_ = true;
}

std::vector<std::string> FakeUpdateServer::targets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
}

std::vector<std::string> FakeUpdateServer::queries() const {
    std::vector<std::string> out;
    for (const auto& target : targets()) {
        const size_t q = target.find('?');
        out.push_back(q == std::string::npos ? std::string() : target.substr(q + 1));
    }
    return out;
}

void FakeUpdateServer::clearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.clear();
}

bool FakeUpdateServer::waitForRequests(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return recorded_.wait_for(lock, timeout, [&] { return targets_.size() >= n; });
}

FakeUpdateServer::Reply FakeUpdateServer::replyFor(const std::string& query) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = replies_.find(opOf(query));
    if (it != replies_.end()) return it->second;
    if (hasDefault_) return default_;
    return Reply::Status(404, "no canned reply\n");
}

void FakeUpdateServer::acceptLoop() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back(&FakeUpdateServer::serve, this, fd);
    }
}

bool FakeUpdateServer::readRequest(int fd, std::string& target) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (head.size() > kMaxRequestHead) return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        const int r = poll(fds, 2, kIoTimeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || fds[1].revents != 0) return false;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        head.append(buffer, static_cast<size_t>(n));
    }
    // "GET <target> HTTP/1.1"
    const size_t sp1 = head.find(' ');
    const size_t lineEnd = head.find("\r\n");
    if (sp1 == std::string::npos || sp1 > lineEnd) return false;
    const size_t sp2 = head.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || sp2 > lineEnd) return false;
    target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    return true;
}

bool FakeUpdateServer::sendAll(int fd, const char* data, size_t length) {
    while (length != 0) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd_[0], POLLIN, 0}};
        const int r = poll(fds, 2, kIoTimeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || fds[1].revents != 0) return false;
        const ssize_t n = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void FakeUpdateServer::holdStalled(int fd) {
    // Keeps the connection open and silent until shutdown, the client leaves, or kMaxStall.
    const auto deadline = std::chrono::steady_clock::now() + kMaxStall;
    char buffer[256];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        const int r = poll(fds, 2, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || fds[1].revents != 0) return;
        if (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) == 0) return;  // client closed
        if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) return;
    }
}

void FakeUpdateServer::sendEndless(int fd, const std::string& body) {
    const std::string chunk = body.empty() ? std::string("x") : body;
    const auto deadline = std::chrono::steady_clock::now() + kMaxStall;
    // Bounded, so that a client without a limit fails its test instead of the machine.
    for (size_t sent = 0; sent < kMaxEndlessBytes && !stopping_ && std::chrono::steady_clock::now() < deadline;
         sent += chunk.size())
        if (!sendAll(fd, chunk.data(), chunk.size())) return;
}

void FakeUpdateServer::sendDribbling(int fd, const std::string& body, std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + kMaxStall;
    for (char c : body) {
        if (std::chrono::steady_clock::now() >= deadline) return;
        pollfd wake = {wakeFd_[0], POLLIN, 0};
        if (poll(&wake, 1, static_cast<int>(interval.count())) != 0) return;  // shutdown (or a failed poll)
        if (!sendAll(fd, &c, 1)) return;
    }
}

void FakeUpdateServer::serve(int fd) {
    std::string target;
    if (!readRequest(fd, target)) {
        close(fd);
        return;
    }
    const size_t q = target.find('?');
    const Reply reply = replyFor(q == std::string::npos ? std::string() : target.substr(q + 1));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(target);
    }
    recorded_.notify_all();

    std::string body;
    if (reply.crlf) {
        for (char c : reply.body) {
            if (c == '\n') body += '\r';
            body += c;
        }
    } else {
        body = reply.body;
    }

    if (reply.stall == Stall::BeforeHeaders) {
        holdStalled(fd);
        close(fd);
        return;
    }
    const std::string length =
        reply.endless ? std::string() : "Content-Length: " + std::to_string(body.size()) + "\r\n";
    const std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonFor(reply.status) +
                             "\r\nContent-Type: text/plain\r\n" + length + "Connection: close\r\n\r\n";
    bool ok = sendAll(fd, head.data(), head.size());
    if (reply.endless) {
        if (ok) sendEndless(fd, body);
    } else if (reply.dribble.count() > 0) {
        if (ok) sendDribbling(fd, body, reply.dribble);
    } else if (reply.stall == Stall::MidBody) {
        const size_t part = reply.stallAfter < body.size() ? reply.stallAfter : body.size();
        if (ok && sendAll(fd, body.data(), part)) holdStalled(fd);
    } else if (ok) {
        sendAll(fd, body.data(), body.size());
        shutdown(fd, SHUT_WR);
    }
    close(fd);
}

}  // namespace morvtest
