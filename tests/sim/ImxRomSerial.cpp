#include "ImxRomSerial.h"

#include "PromptWakeups.h"
#include "PtyPair.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace morvsim {

namespace {

constexpr int kWriteTimeoutMs = 1000;
// A pty master whose slave is closed reports a hang-up on every poll; look again this often.
constexpr int kHangupRetryMs = 20;

}  // namespace

ImxRomSerial::ImxRomSerial(ImxRomConfig config) : rom_(std::move(config))
{
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("imx rom: pipe: ") + std::strerror(errno));
}

ImxRomSerial::~ImxRomSerial()
{
    stop();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void ImxRomSerial::attachPty(morvtest::PtyPair& pty)
{
    int fd = ::dup(pty.masterFd());
    if (fd < 0)
        throw std::runtime_error(std::string("imx rom: dup: ") + std::strerror(errno));
    pty.closeMaster();
    attachFd(fd);
}

void ImxRomSerial::attachFd(int fd)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ >= 0 || thread_.joinable()) {
            ::close(fd);
            throw std::runtime_error("imx rom: already attached");
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        fd_ = fd;
        stopping_ = false;
    }
    thread_ = std::thread([this] {
        morvtest::PreferPromptWakeups();
        run();
    });
}

void ImxRomSerial::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    char byte = 1;
    ssize_t ignored = ::write(wake_[1], &byte, 1);
    (void)ignored;
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void ImxRomSerial::withRom(const std::function<void(ImxRom&)>& f)
{
    std::lock_guard<std::mutex> lock(mutex_);
    f(rom_);
    changed_.notify_all();
}

bool ImxRomSerial::waitFor(const std::function<bool(const ImxRom&)>& predicate,
                           std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return predicate(rom_); });
}

std::uint64_t ImxRomSerial::bytesReceived()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::uint64_t ImxRomSerial::bytesDropped()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

bool ImxRomSerial::sendRaw(const std::vector<std::uint8_t>& bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ < 0 || stopping_)
            return false;
    }
    return writeAll(bytes.data(), bytes.size());
}

bool ImxRomSerial::writeAll(const std::uint8_t* bytes, std::size_t length)
{
    std::lock_guard<std::mutex> lock(writeMutex_);
    int fd;
    {
        std::lock_guard<std::mutex> state(mutex_);
        fd = fd_;
    }
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kWriteTimeoutMs) <= 0)
            return false;
    }
    return true;
}

void ImxRomSerial::run()
{
    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd = fd_;
    }
    std::uint8_t buffer[4096];
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int ready = ::poll(p, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_)
                return;
        }
        if (p[1].revents != 0) {
            char drain[16];
            while (::read(wake_[0], drain, sizeof(drain)) > 0) {
            }
        }
        if ((p[0].revents & POLLIN) == 0) {
            if ((p[0].revents & (POLLHUP | POLLERR)) != 0) {
                // No host on the line: wait for one without spinning.
                pollfd w{wake_[0], POLLIN, 0};
                ::poll(&w, 1, kHangupRetryMs);
            }
            continue;
        }
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0) {
            pollfd w{wake_[0], POLLIN, 0};
            ::poll(&w, 1, kHangupRetryMs);
            continue;
        }
        std::vector<std::uint8_t> answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_ += static_cast<std::uint64_t>(n);
            std::vector<ImxOutput> out;
            rom_.feedSerial(buffer, static_cast<std::size_t>(n), out);
            answer = ImxRom::serialBytes(out);
            changed_.notify_all();
        }
        if (!answer.empty() && !writeAll(answer.data(), answer.size())) {
            std::lock_guard<std::mutex> lock(mutex_);
            dropped_ += answer.size();
        }
    }
}

}  // namespace morvsim
