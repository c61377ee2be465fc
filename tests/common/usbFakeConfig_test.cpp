// The fake USB bus as a preloaded program sees it: devices from a config
// file, bulk pipes that connect to a peer on demand, and the shared build
// reading FAKEUSB_CONFIG by itself.
#include "UsbTestFixture.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sys/un.h>

namespace {

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
}

class UnixListener {
public:
    explicit UnixListener(const std::string& path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(fd_, 4) != 0)
            ADD_FAILURE() << "cannot listen on " << path;
    }
    ~UnixListener()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // The next connection, or -1 after the time-out.
    int accept(int timeoutMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return -1;
        return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    bool pending()
    {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }

private:
    int fd_ = -1;
};

TEST_F(UsbTest, ConfigDevicesConnectToTheirPeerWhileOpen)
{
    std::string socketPath = nodes_.sub("module.sock");
    UnixListener listener(socketPath);
    std::string config = nodes_.sub("bus.conf");
    writeFile(config, "# two modules\n"
                      "device serial=0000BEEF model=0x22 maxpacket=512 peer=unix:" +
                          socketPath +
                          "\n"
                          "device serial=0000CAFE model=0x11 claim-error=-6   # busy\n");
    std::string error;
    ASSERT_TRUE(fakeusb::loadConfig(config, &error)) << error;

    EXPECT_EQ(aStream_CreateUSB(0x0000CAFE, &stream_), aErrBusy);
    ASSERT_EQ(aStream_CreateUSB(0x0000BEEF, &stream_), aErrNone);
    EXPECT_FALSE(listener.pending()) << "the pipe connects at the first transfer, not at the open";

    std::string data(1000, 'm');
    ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
    peer_ = listener.accept(2000);
    ASSERT_GE(peer_, 0);
    EXPECT_EQ(readPeer(data.size()), data);
    ASSERT_TRUE(writePeer("r"));
    char byte = 0;
    ASSERT_EQ(aStream_Read(stream_, &byte, 1), aErrNone);
    EXPECT_EQ(byte, 'r');

    ASSERT_EQ(aStream_Destroy(&stream_), aErrNone);
    pollfd p{peer_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    char rest = 0;
    EXPECT_EQ(::recv(peer_, &rest, 1, MSG_DONTWAIT), 0) << "the last close ends the connection";
}

TEST_F(UsbTest, BadConfigSaysWhereAndPlugsNothing)
{
    std::string config = nodes_.sub("bad.conf");
    struct Case {
        const char* text;
        const char* mentions;
    };
    for (const Case& c : {Case{"device serial=00000001\ndevice serial=2 colour=blue\n", ":2: unknown key colour"},
                          Case{"device model=0x11\n", "without serial"},
                          Case{"device serial=1 vendor=0x10000\n", "vendor out of range"},
                          Case{"init-error\n", "init-error"}, Case{"plug serial=1\n", "unknown entry"}}) {
        writeFile(config, c.text);
        std::string error;
        EXPECT_FALSE(fakeusb::loadConfig(config, &error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
    }
    EXPECT_FALSE(fakeusb::loadConfig(nodes_.sub("missing.conf"), nullptr));
    libusb_device** list = nullptr;
    EXPECT_EQ(libusb_get_device_list(Morvasset_libusb_context(), &list), 0);
    libusb_free_device_list(list, 1);
}

std::string sharedFake()
{
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return {};
    std::string path(self, static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/')) + "/fakes/libfakeusb.so";
}

TEST_F(UsbTest, SharedBuildReadsItsBusFromTheEnvironment)
{
    std::string config = nodes_.sub("preload.conf");
    writeFile(config, "device serial=0000BEEF model=0x22\ndevice serial=00000002 vendor=0x1234 product=7\n");
    struct Environment {
        explicit Environment(const std::string& value) { ::setenv("FAKEUSB_CONFIG", value.c_str(), 1); }
        ~Environment() { ::unsetenv("FAKEUSB_CONFIG"); }
    } environment(config);
    // Its own copy of the bus, apart from the one linked into this program.
    void* library = ::dlopen(sharedFake().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();

    using Init = int (*)(libusb_context**);
    using Exit = void (*)(libusb_context*);
    using List = ssize_t (*)(libusb_context*, libusb_device***);
    using FreeList = void (*)(libusb_device**, int);
    using Descriptor = int (*)(libusb_device*, libusb_device_descriptor*);
    auto init = reinterpret_cast<Init>(::dlsym(library, "libusb_init"));
    auto exit = reinterpret_cast<Exit>(::dlsym(library, "libusb_exit"));
    auto list = reinterpret_cast<List>(::dlsym(library, "libusb_get_device_list"));
    auto freeList = reinterpret_cast<FreeList>(::dlsym(library, "libusb_free_device_list"));
    auto descriptor = reinterpret_cast<Descriptor>(::dlsym(library, "libusb_get_device_descriptor"));
    ASSERT_TRUE(init && exit && list && freeList && descriptor);

    libusb_context* context = nullptr;
    ASSERT_EQ(init(&context), 0);  // reads the file named by the environment
    libusb_device** devices = nullptr;
    ASSERT_EQ(list(context, &devices), 2);
    libusb_device_descriptor d{};
    ASSERT_EQ(descriptor(devices[0], &d), 0);
    EXPECT_EQ(d.idVendor, MORVASSET_USB_VENDOR_ID);
    EXPECT_EQ(d.idProduct, 0x22);
    ASSERT_EQ(descriptor(devices[1], &d), 0);
    EXPECT_EQ(d.idVendor, 0x1234);
    EXPECT_EQ(d.idProduct, 7);
    freeList(devices, 1);
    exit(context);

    EXPECT_EQ(fakeusb::busStats().deviceLists, 0) << "this program's own bus was not touched";
    ::dlclose(library);
}

}  // namespace
