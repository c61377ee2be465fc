// Serial download transport over a tty: the 16 command bytes and the image
// bytes as they are; a reply is the HAB word followed by the reply word.
#include "Serial_SDPLoader.h"

#include "Log.h"
#include "aTime.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Milliseconds the bytes take on the line: ten bits each, rounded up.
uint64_t lineTimeMs(uint64_t bytes)
{
    return (bytes * 10 * 1000 + Serial_SDPLoader::LINE_BAUD - 1) / Serial_SDPLoader::LINE_BAUD;
}

}  // namespace

struct PrivateSerial_SDPLoader {
    int fd = -1;  // -1 when closed; 0 is a descriptor like any other
    std::string path;
    struct termios settings {};
};

Serial_SDPLoader::Serial_SDPLoader(const std::string& path) : p_(new PrivateSerial_SDPLoader)
{
    p_->path = path;
}

Serial_SDPLoader::~Serial_SDPLoader()
{
    if (p_->fd >= 0) {
        tcflush(p_->fd, TCIOFLUSH);
        ::close(p_->fd);
        p_->fd = -1;
    }
}

bool Serial_SDPLoader::init()
{
    if (p_->fd >= 0)
        return true;
    int fd = ::open(p_->path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Log::log(DEBUG_iMXSerial, "Cannot open %s: %s\n", p_->path.c_str(), strerror(errno));
        return false;
    }
    if (!isatty(fd)) {
        Log::log(DEBUG_iMXSerial, "%s is not a serial port\n", p_->path.c_str());
        ::close(fd);
        return false;
    }

    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        Log::log(DEBUG_iMXSerial, "Cannot read the settings of %s: %s\n", p_->path.c_str(), strerror(errno));
        ::close(fd);
        return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(fd, TCSAFLUSH, &tio) != 0) {
        Log::log(DEBUG_iMXSerial, "Cannot set up %s: %s\n", p_->path.c_str(), strerror(errno));
        ::close(fd);
        return false;
    }
    p_->settings = tio;
    p_->fd = fd;

    // The ROM's UART needs a moment after the line settles; what came meanwhile is noise.
    aTime_MSSleep(1000);
    tcflush(fd, TCIOFLUSH);
    return true;
}

ssize_t Serial_SDPLoader::writeData(const std::vector<uint8_t>& data)
{
    if (p_->fd < 0)
        return -1;
    if (data.size() <= 1)
        return 0;
    const uint8_t* bytes = data.data() + 1;
    size_t length = data.size() - 1;
    size_t done = 0;
    uint64_t giveUp = aTime_DeadlineAfter(WRITE_STALL_LIMIT_MS);
    while (done < length) {
        ssize_t n = ::write(p_->fd, bytes + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            giveUp = aTime_DeadlineAfter(WRITE_STALL_LIMIT_MS);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Log::log(DEBUG_iMXSerial, "Write to %s failed: %s\n", p_->path.c_str(), strerror(errno));
            return -1;
        }
        if (aTime_GetMSTicks() >= giveUp) {
            Log::log(DEBUG_iMXSerial, "%s takes no data; %zu of %zu bytes written\n", p_->path.c_str(),
                     done, length);
            return -1;
        }
        aTime_MSSleep(1);
    }
    return static_cast<ssize_t>(done);
}

bool Serial_SDPLoader::waitUntilSent()
{
    if (p_->fd < 0)
        return false;
    // tcdrain could wait for ever on a port that stopped sending; the queue is
    // watched against a deadline instead.
    int queued = 0;
    if (ioctl(p_->fd, TIOCOUTQ, &queued) != 0) {
        Log::log(DEBUG_iMXSerial, "Cannot tell what %s still holds: %s\n", p_->path.c_str(), strerror(errno));
        return false;
    }
    const uint64_t giveUp = aTime_DeadlineAfter(lineTimeMs(queued > 0 ? queued : 0) + DRAIN_MARGIN_MS);
    while (queued > 0) {
        const uint64_t now = aTime_GetMSTicks();
        if (now >= giveUp) {
            Log::log(DEBUG_iMXSerial, "%s still holds %d bytes to send\n", p_->path.c_str(), queued);
            return false;
        }
        aTime_MSSleep(static_cast<uint32_t>(std::max<uint64_t>(1, std::min(lineTimeMs(queued), giveUp - now))));
        if (ioctl(p_->fd, TIOCOUTQ, &queued) != 0) {
            Log::log(DEBUG_iMXSerial, "Cannot tell what %s still holds: %s\n", p_->path.c_str(),
                     strerror(errno));
            return false;
        }
    }
    return true;
}

ssize_t Serial_SDPLoader::readData(std::vector<uint8_t>& data, unsigned int timeoutMs)
{
    if (p_->fd < 0)
        return 0;
    aTime_MSSleep(timeoutMs);
    ssize_t appended = 0;
    uint8_t chunk[256];
    while (static_cast<size_t>(appended) < MAX_READ_BYTES) {
        size_t want = MAX_READ_BYTES - static_cast<size_t>(appended);
        if (want > sizeof(chunk))
            want = sizeof(chunk);
        ssize_t n = ::read(p_->fd, chunk, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        data.insert(data.end(), chunk, chunk + n);
        appended += n;
    }
    return appended;
}

bool Serial_SDPLoader::getDataFromBuffer(const std::vector<uint8_t>& buffer, unsigned int index,
                                         uint32_t& value)
{
    if (index > 15 || buffer.size() < 4 * (static_cast<size_t>(index) + 2))
        return false;
    size_t at = index + 4;
    value |= static_cast<uint32_t>(buffer[at]) | static_cast<uint32_t>(buffer[at + 1]) << 8 |
             static_cast<uint32_t>(buffer[at + 2]) << 16 | static_cast<uint32_t>(buffer[at + 3]) << 24;
    return true;
}
