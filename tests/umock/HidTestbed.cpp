// The hidraw node's handler. Reads and writes arrive on umockdev's worker
// thread; a read with no report queued waits (held) until one is.
#include "HidTestbed.h"

#include "UsbTestbed.h"

#include <umockdev.h>

#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <linux/hidraw.h>
#include <mutex>
#include <sys/ioctl.h>

namespace umockusb {

namespace {

// One vendor-defined collection with input reports 3 (4 bytes) and 4 (64)
// and output reports 1 (16) and 2 (1024), as the boot ROM declares them.
const std::vector<std::uint8_t> kReportDescriptor = {
    0x06, 0x00, 0xFF,  // usage page (vendor)
    0x09, 0x01,        // usage
    0xA1, 0x01,        // collection (application)
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,  // logical 0..255, 8 bits
    0x85, 0x01, 0x95, 0x10, 0x09, 0x01, 0x91, 0x02,        // report 1: 16 out
    0x85, 0x02, 0x96, 0x00, 0x04, 0x09, 0x01, 0x91, 0x02,  // report 2: 1024 out
    0x85, 0x03, 0x95, 0x04, 0x09, 0x01, 0x81, 0x02,        // report 3: 4 in
    0x85, 0x04, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02,        // report 4: 64 in
    0xC0};

int nextHidNumber = 0;

}  // namespace

struct HidRom::Impl {
    std::mutex mutex;
    morvsim::ImxRom rom;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string usbPath, hidPath, rawPath, node, readyFile;
    std::deque<std::vector<std::uint8_t>> input;
    UMockdevIoctlClient* heldRead = nullptr;
    bool gone = false;
    bool padStatus = false;
    std::string root;
    int failAfter = 0;
    int failCount = 0;
    HidStats stats;

    explicit Impl(morvsim::ImxRomConfig config) : rom(std::move(config)) {}

    // poll_shim.c reads the node as readable while this file exists.
    void markReady()
    {
        if (input.empty())
            g_unlink(readyFile.c_str());
        else
            g_file_set_contents(readyFile.c_str(), "", 0, nullptr);
    }

    void answerRead(UMockdevIoctlClient* client)
    {
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::vector<std::uint8_t> report = std::move(input.front());
        input.pop_front();
        std::size_t n = std::min<std::size_t>(report.size(), static_cast<std::size_t>(arg->data_len));
        umockdev_ioctl_data_update(arg, 0, report.data(), static_cast<gint>(n));
        umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
        markReady();
    }

    void deliver(const std::vector<std::vector<std::uint8_t>>& reports)
    {
        for (auto r : reports) {
            if (padStatus && !r.empty() && r[0] == 3)
                r.resize(65, 0);
            input.push_back(std::move(r));
        }
        if (heldRead != nullptr && !input.empty()) {
            UMockdevIoctlClient* client = heldRead;
            heldRead = nullptr;
            answerRead(client);
            g_object_unref(client);
        }
        markReady();
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        Impl* self = static_cast<Impl*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        if (self->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        gulong request = umockdev_ioctl_client_get_request(client);
        GError* error = nullptr;
        if (request == HIDIOCGRDESCSIZE) {
            UMockdevIoctlData* size = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(int), &error);
            if (size == nullptr) {
                g_clear_error(&error);
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return TRUE;
            }
            int value = static_cast<int>(kReportDescriptor.size());
            umockdev_ioctl_data_update(size, 0, reinterpret_cast<guint8*>(&value), sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(size);
            return TRUE;
        }
        if (request == HIDIOCGRDESC) {
            UMockdevIoctlData* desc = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                                 sizeof(hidraw_report_descriptor), &error);
            if (desc == nullptr) {
                g_clear_error(&error);
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return TRUE;
            }
            hidraw_report_descriptor value{};
            value.size = static_cast<__u32>(kReportDescriptor.size());
            std::memcpy(value.value, kReportDescriptor.data(), kReportDescriptor.size());
            umockdev_ioctl_data_update(desc, 0, reinterpret_cast<guint8*>(&value), sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(desc);
            return TRUE;
        }
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }

    static gboolean onWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        Impl* self = static_cast<Impl*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::size_t length = static_cast<std::size_t>(arg->data_len);
        self->stats.writeLengths.push_back(length);
        if (self->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        if (self->failAfter > 0) {
            self->failAfter--;
        } else if (self->failCount > 0) {
            self->failCount--;
            self->stats.failedWrites++;
            umockdev_ioctl_client_complete(client, -1, EIO);
            return TRUE;
        }
        std::vector<morvsim::ImxOutput> out;
        if (length == 0 || !self->rom.feedReport(arg->data, length, out)) {
            self->stats.failedWrites++;
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        umockdev_ioctl_client_complete(client, static_cast<glong>(length), 0);
        self->deliver(morvsim::ImxRom::hidReports(out));
        return TRUE;
    }

    static gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        Impl* self = static_cast<Impl*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->stats.reads++;
        if (self->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        if (!self->input.empty()) {
            self->answerRead(client);
            return TRUE;
        }
        if (self->heldRead != nullptr) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        // A blocking read waits for the next report.
        self->heldRead = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        return TRUE;
    }

    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer user)
    {
        Impl* self = static_cast<Impl*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->stats.opens++;
    }
};

HidRom::HidRom(morvsim::ImxRomConfig config, std::uint16_t vendor, std::uint16_t product)
    : impl_(new Impl(std::move(config)))
{
    Testbed& bed = Testbed::instance();
    impl_->testbed = bed.raw();
    const std::string root = bed.root();
    const int n = nextHidNumber++;
    char usbName[32], interfaceName[40], hidName[64], rawName[32], node[32], vid[8], pid[8], hidId[40], rawDev[16];
    std::snprintf(usbName, sizeof usbName, "2-%d", n + 1);
    std::snprintf(interfaceName, sizeof interfaceName, "2-%d:1.0", n + 1);
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", vendor, product, n + 1);
    std::snprintf(rawName, sizeof rawName, "hidraw%d", n);
    std::snprintf(node, sizeof node, "/dev/hidraw%d", n);
    std::snprintf(vid, sizeof vid, "%04x\n", vendor);
    std::snprintf(pid, sizeof pid, "%04x\n", product);
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", vendor, product);
    std::snprintf(rawDev, sizeof rawDev, "246:%d\n", n);
    gchar* usb = umockdev_testbed_add_device(impl_->testbed, "usb", usbName, nullptr, "idVendor", vid, "idProduct", pid,
                                             "bcdDevice", "0001\n", "manufacturer", "Freescale SemiConductor Inc\n",
                                             "product", "SE Blank RT Family\n", "busnum", "2\n", "devnum", "1\n",
                                             nullptr, "DEVTYPE", "usb_device", nullptr);
    impl_->usbPath = usb;
    g_free(usb);
    gchar* interface = umockdev_testbed_add_device(impl_->testbed, "usb", interfaceName, impl_->usbPath.c_str(),
                                                   "bInterfaceNumber", "00\n", nullptr, "DEVTYPE", "usb_interface",
                                                   nullptr);
    std::string interfacePath = interface;
    g_free(interface);
    gchar* hid = umockdev_testbed_add_device(impl_->testbed, "hid", hidName, interfacePath.c_str(), nullptr, "HID_ID",
                                             hidId, "HID_NAME", "SE Blank RT Family", "HID_UNIQ", "", nullptr);
    impl_->hidPath = hid;
    g_free(hid);
    umockdev_testbed_set_attribute_binary(impl_->testbed, impl_->hidPath.c_str(), "report_descriptor",
                                          const_cast<guint8*>(kReportDescriptor.data()),
                                          static_cast<gint>(kReportDescriptor.size()));
    gchar* raw = umockdev_testbed_add_device(impl_->testbed, "hidraw", rawName, impl_->hidPath.c_str(), "dev", rawDev,
                                             nullptr, "DEVNAME", node, nullptr);
    impl_->rawPath = raw;
    g_free(raw);
    // hidapi reads <hidraw>/device/uevent and device/report_descriptor.
    umockdev_testbed_set_attribute_link(impl_->testbed, impl_->rawPath.c_str(), "device", "..");
    impl_->node = node;
    impl_->root = root;
    impl_->readyFile = root + "/dev/.ready-" + rawName;
    g_file_set_contents((root + node).c_str(), "", 0, nullptr);
    impl_->handler = umockdev_ioctl_base_new();
    g_signal_connect(impl_->handler, "handle-ioctl", G_CALLBACK(Impl::onIoctl), impl_.get());
    g_signal_connect(impl_->handler, "handle-write", G_CALLBACK(Impl::onWrite), impl_.get());
    g_signal_connect(impl_->handler, "handle-read", G_CALLBACK(Impl::onRead), impl_.get());
    g_signal_connect(impl_->handler, "client-connected", G_CALLBACK(Impl::onConnected), impl_.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, node, impl_->handler, &error)) {
        std::fprintf(stderr, "umockusb: attach %s: %s\n", node, error != nullptr ? error->message : "?");
        g_clear_error(&error);
    }
    umockdev_testbed_uevent(impl_->testbed, impl_->rawPath.c_str(), "add");
}

HidRom::~HidRom()
{
    unplug();
}

void HidRom::withRom(const std::function<void(morvsim::ImxRom&)>& f)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    f(impl_->rom);
}

void HidRom::failWrites(int count, int after)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->failCount = count;
    impl_->failAfter = after;
}

void HidRom::queueInputReport(const std::vector<std::uint8_t>& report)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->deliver({report});
}

void HidRom::unplug()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->gone)
        return;
    impl_->gone = true;
    impl_->input.clear();
    impl_->markReady();
    umockdev_testbed_uevent(impl_->testbed, impl_->rawPath.c_str(), "remove");
    umockdev_testbed_remove_device(impl_->testbed, impl_->rawPath.c_str());
    umockdev_testbed_remove_device(impl_->testbed, impl_->hidPath.c_str());
    umockdev_testbed_remove_device(impl_->testbed, impl_->usbPath.c_str());
    gchar* root = umockdev_testbed_get_root_dir(impl_->testbed);
    g_unlink((std::string(root) + impl_->node).c_str());
    g_free(root);
}

void HidRom::setPadStatusReport(bool pad)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->padStatus = pad;
}

int HidRom::openHandles()
{
    return openDescriptors(impl_->root + impl_->node);
}

HidStats HidRom::stats()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->stats;
}

std::string HidRom::devnode() const
{
    return impl_->node;
}

}  // namespace umockusb
