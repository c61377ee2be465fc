// The usbdevfs side of the emulated devices. Every ioctl arrives on
// umockdev's worker thread; URB state lives under one mutex. libusb polls the
// emulated node, which always reads as ready: poll_shim.c makes it ready only
// while the device's marker file (readyFile) says a completed URB waits.
#include "UsbTestbed.h"

#include <umockdev.h>

#include <glib-unix.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace umockusb {

namespace {

constexpr std::uint16_t kVendor = 0x2B9E;
constexpr guint kReapHoldMs = 1;
constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM;

struct Urb {
    UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* data = nullptr;    // the resolved usbdevfs_urb (owned ref)
    UMockdevIoctlData* buffer = nullptr;  // its resolved buffer (owned ref), may be null
    gulong address = 0;                   // the URB's address in the client
    std::uint8_t endpoint = 0;
    std::uint8_t type = 0;
    int length = 0;
    int actual = 0;
    int status = 0;

    ~Urb()
    {
        if (buffer != nullptr)
            g_object_unref(buffer);
        if (data != nullptr)
            g_object_unref(data);
        if (client != nullptr)
            g_object_unref(client);
    }
};
using UrbPtr = std::shared_ptr<Urb>;

std::vector<std::uint8_t> utf16(const std::string& text)
{
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

}  // namespace

struct Device {
    int id = 0;
    DeviceSpec spec;
    int devnum = 0;
    std::string syspath;
    std::string devnode;
    UMockdevIoctlBase* handler = nullptr;
    int hostFd = -1;
    int peerFd = -1;
    bool gone = false;     // ioctls answer ENODEV
    bool removed = false;  // out of sysfs, remove uevent sent
    bool peerClosed = false;
    int claimError = 0;
    int clearHaltError = 0;
    bool discardIgnored = false;
    std::deque<Fault> inFaults;
    std::deque<Fault> outFaults;
    std::set<std::uint8_t> halted;
    // Interface number -> the open node that claimed it; the kernel refuses
    // a claim by another with EBUSY. (umockdev does not report a close, so a
    // claim ends with its release or the device.)
    std::map<guint32, UMockdevIoctlClient*> claims;
    std::deque<UrbPtr> pendingIn;  // IN URBs waiting for data, in submission order
    std::deque<UrbPtr> timingOut;  // URBs of an ETIMEDOUT fault, held until discarded
    std::deque<UrbPtr> completed;
    std::string readyFile;  // exists while completed holds an URB (poll_shim.c)
    bool readyShown = false;
    std::map<UMockdevIoctlClient*, GSource*> heldReaps;
    GMainContext* context = nullptr;
    GSource* readSource = nullptr;
    DeviceStats stats;
    Testbed::Impl* bed = nullptr;

    std::uint16_t maxPacket(std::uint8_t endpoint) const
    {
        for (const auto& e : spec.endpoints)
            if (e.address == endpoint)
                return e.maxPacket;
        for (const auto& i : spec.before)
            for (const auto& e : i.endpoints)
                if (e.address == endpoint)
                    return e.maxPacket;
        return 64;
    }
};

struct Testbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::mutex mutex;
    std::vector<std::unique_ptr<Device>> devices;
    int nextId = 1;

    Device* find(int id)
    {
        for (auto& d : devices)
            if (d->id == id)
                return d.get();
        return nullptr;
    }

    // --- URB completion (mutex held, worker thread) ---

    void deliver(Device* d, UMockdevIoctlClient* client, const UrbPtr& urb)
    {
        GError* error = nullptr;
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0,
                                                              sizeof(void*), &error);
        if (slot == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data->data);
        u->status = urb->status;
        u->actual_length = urb->actual;
        umockdev_ioctl_data_set_ptr(slot, 0, urb->data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        (void)d;
    }

    // The marker follows the completed queue. Straight to the kernel (the path
    // is not one umockdev redirects): through its wrappers ThreadSanitizer
    // sees the descriptor opened but not closed, and blames whoever gets the
    // number next.
    static void showReady(Device* d)
    {
        bool want = !d->completed.empty();
        if (want == d->readyShown || d->readyFile.empty())
            return;
        if (want) {
            long fd = ::syscall(SYS_openat, AT_FDCWD, d->readyFile.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            if (fd >= 0)
                ::syscall(SYS_close, fd);
        } else {
            ::syscall(SYS_unlinkat, AT_FDCWD, d->readyFile.c_str(), 0);
        }
        d->readyShown = want;
    }

    void finish(Device* d, const UrbPtr& urb)
    {
        if (urb->type == USBDEVFS_URB_TYPE_BULK)
            d->stats.transfers.push_back(Transfer{urb->endpoint, urb->length, urb->actual, urb->status});
        auto held = d->heldReaps.find(urb->client);
        if (held != d->heldReaps.end()) {
            g_source_destroy(held->second);
            g_source_unref(held->second);
            d->heldReaps.erase(held);
            deliver(d, urb->client, urb);
            return;
        }
        d->completed.push_back(urb);
        showReady(d);
    }

    static gboolean onReapTimeout(gpointer user)
    {
        auto* pair = static_cast<std::pair<Device*, UMockdevIoctlClient*>*>(user);
        Device* d = pair->first;
        std::lock_guard<std::mutex> lock(d->bed->mutex);
        auto held = d->heldReaps.find(pair->second);
        if (held != d->heldReaps.end()) {
            g_source_unref(held->second);
            d->heldReaps.erase(held);
            umockdev_ioctl_client_complete(pair->second, -1, d->gone ? ENODEV : EAGAIN);
        }
        return G_SOURCE_REMOVE;
    }

    void holdReap(Device* d, UMockdevIoctlClient* client)
    {
        GSource* source = g_timeout_source_new(kReapHoldMs);
        // umockdev only holds the client while the ioctl is being dispatched.
        auto* pair = new std::pair<Device*, UMockdevIoctlClient*>(
            d, static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
        g_source_set_callback(source, onReapTimeout, pair, [](gpointer p) {
            auto* held = static_cast<std::pair<Device*, UMockdevIoctlClient*>*>(p);
            g_object_unref(held->second);
            delete held;
        });
        g_source_attach(source, d->context);
        d->heldReaps[client] = source;
    }

    // Moves what the module sent into waiting IN URBs; a URB completes on a
    // short packet or a full buffer, as on the bus.
    void fillIn(Device* d)
    {
        while (!d->pendingIn.empty() && !d->peerClosed && d->hostFd >= 0) {
            UrbPtr urb = d->pendingIn.front();
            int room = urb->length - urb->actual;
            if (room <= 0) {
                d->pendingIn.pop_front();
                finish(d, urb);
                continue;
            }
            std::vector<std::uint8_t> chunk(static_cast<std::size_t>(room));
            ssize_t n = ::recv(d->hostFd, chunk.data(), chunk.size(), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                // The module closed its end: it left the bus (a reboot).
                d->peerClosed = true;
                d->gone = true;
                leaveBus(d);
                break;
            }
            if (n < 0)
                break;
            umockdev_ioctl_data_update(urb->buffer, static_cast<gsize>(urb->actual), chunk.data(),
                                       static_cast<gint>(n));
            urb->actual += static_cast<int>(n);
            std::uint16_t packet = d->maxPacket(urb->endpoint);
            if (urb->actual == urb->length || (packet != 0 && urb->actual % packet != 0)) {
                d->pendingIn.pop_front();
                finish(d, urb);
            }
        }
        watchPeer(d);
    }

    static gboolean onPeerReadable(gint, GIOCondition, gpointer user)
    {
        Device* d = static_cast<Device*>(user);
        std::lock_guard<std::mutex> lock(d->bed->mutex);
        if (d->readSource != nullptr) {
            g_source_unref(d->readSource);
            d->readSource = nullptr;
        }
        d->bed->fillIn(d);
        return G_SOURCE_REMOVE;
    }

    // Watches the module's socket only while an IN URB waits.
    void watchPeer(Device* d)
    {
        bool want = !d->pendingIn.empty() && !d->peerClosed && d->hostFd >= 0 && !d->gone;
        if (want && d->readSource == nullptr && d->context != nullptr) {
            d->readSource = g_unix_fd_source_new(d->hostFd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
            g_source_set_callback(d->readSource, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(onPeerReadable)),
                                  d, nullptr);
            g_source_attach(d->readSource, d->context);
        } else if (!want && d->readSource != nullptr) {
            g_source_destroy(d->readSource);
            g_source_unref(d->readSource);
            d->readSource = nullptr;
        }
    }

    void control(Device* d, const UrbPtr& urb)
    {
        if (urb->buffer == nullptr || urb->length < 8) {
            urb->status = -EPIPE;
            finish(d, urb);
            return;
        }
        const std::uint8_t* setup = urb->buffer->data;
        std::uint16_t value = static_cast<std::uint16_t>(setup[2] | (setup[3] << 8));
        std::uint16_t wanted = static_cast<std::uint16_t>(setup[6] | (setup[7] << 8));
        std::vector<std::uint8_t> answer;
        bool ok = setup[0] == 0x80 && setup[1] == 0x06 && (value >> 8) == 3;
        if (ok) {
            std::uint8_t index = static_cast<std::uint8_t>(value & 0xFF);
            if (index == 0)
                answer = {4, 3, 0x09, 0x04};
            else if (index == 1)
                answer = utf16("Morvasset");
            else if (index == 2)
                answer = utf16("Module");
            else if (index == 3 && d->spec.hasSerial && !d->spec.serialReadFails)
                answer = utf16(d->spec.serial);
            else
                ok = false;
        }
        if (!ok) {
            urb->status = -EPIPE;
            finish(d, urb);
            return;
        }
        std::size_t n = std::min<std::size_t>({answer.size(), wanted, static_cast<std::size_t>(urb->length - 8)});
        umockdev_ioctl_data_update(urb->buffer, 8, answer.data(), static_cast<gint>(n));
        urb->actual = static_cast<int>(n);
        finish(d, urb);
    }

    void bulkOut(Device* d, const UrbPtr& urb)
    {
        int move = urb->length;
        if (d->halted.count(urb->endpoint) != 0) {
            urb->status = -EPIPE;
            move = 0;
        } else if (!d->outFaults.empty()) {
            Fault f = d->outFaults.front();
            d->outFaults.pop_front();
            move = std::min(move, f.bytes);
            urb->status = -f.error;
            if (f.error == EPIPE)
                d->halted.insert(urb->endpoint);
        }
        std::size_t done = 0;
        while (d->hostFd >= 0 && done < static_cast<std::size_t>(move)) {
            ssize_t n = ::send(d->hostFd, urb->buffer->data + done, static_cast<std::size_t>(move) - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;  // the module's end is gone: the bytes are lost on the wire
            done += static_cast<std::size_t>(n);
        }
        urb->actual = move;
        if (urb->status == -ETIMEDOUT) {
            urb->status = 0;
            d->timingOut.push_back(urb);  // libusb's time-out discards it
            return;
        }
        finish(d, urb);
    }

    void bulkIn(Device* d, const UrbPtr& urb)
    {
        if (d->halted.count(urb->endpoint) != 0) {
            urb->status = -EPIPE;
            finish(d, urb);
            return;
        }
        if (!d->inFaults.empty()) {
            Fault f = d->inFaults.front();
            d->inFaults.pop_front();
            if (f.bytes > 0 && d->hostFd >= 0) {
                std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min(f.bytes, urb->length)));
                ssize_t n = ::recv(d->hostFd, chunk.data(), chunk.size(), MSG_DONTWAIT);
                if (n > 0) {
                    umockdev_ioctl_data_update(urb->buffer, 0, chunk.data(), static_cast<gint>(n));
                    urb->actual = static_cast<int>(n);
                }
            }
            if (f.error == ETIMEDOUT) {
                d->timingOut.push_back(urb);  // libusb's time-out discards it
                return;
            }
            urb->status = -f.error;
            if (f.error == EPIPE)
                d->halted.insert(urb->endpoint);
            finish(d, urb);
            return;
        }
        d->pendingIn.push_back(urb);
        fillIn(d);
    }

    void submit(Device* d, UMockdevIoctlClient* client)
    {
        GError* error = nullptr;
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
        if (data == nullptr) {
            g_clear_error(&error);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        auto urb = std::make_shared<Urb>();
        urb->client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        urb->data = data;
        urb->address = data->client_addr;
        const auto* u = reinterpret_cast<const usbdevfs_urb*>(data->data);
        urb->endpoint = u->endpoint;
        urb->type = u->type;
        urb->length = u->buffer_length;
        if (urb->length < 0 || (urb->type != USBDEVFS_URB_TYPE_BULK && urb->type != USBDEVFS_URB_TYPE_CONTROL)) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        if (urb->length > 0) {
            urb->buffer = umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                                      static_cast<gsize>(urb->length), &error);
            if (urb->buffer == nullptr) {
                g_clear_error(&error);
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL)
            control(d, urb);
        else if ((urb->endpoint & 0x80) != 0)
            bulkIn(d, urb);
        else
            bulkOut(d, urb);
    }

    void reap(Device* d, UMockdevIoctlClient* client, bool wait)
    {
        for (auto it = d->completed.begin(); it != d->completed.end(); ++it) {
            if ((*it)->client == client) {
                UrbPtr urb = *it;
                d->completed.erase(it);
                showReady(d);
                deliver(d, client, urb);
                return;
            }
        }
        if (wait) {
            holdReap(d, client);  // until an URB completes
            return;
        }
        umockdev_ioctl_client_complete(client, -1, d->gone ? ENODEV : EAGAIN);
    }

    void discard(Device* d, UMockdevIoctlClient* client)
    {
        if (d->discardIgnored) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        gulong address = 0;
        std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof(address), static_cast<std::size_t>(arg->data_len)));
        for (auto it = d->pendingIn.begin(); it != d->pendingIn.end(); ++it) {
            if ((*it)->client == client && (*it)->address == address) {
                UrbPtr urb = *it;
                d->pendingIn.erase(it);
                urb->status = -ENOENT;
                umockdev_ioctl_client_complete(client, 0, 0);
                finish(d, urb);
                watchPeer(d);
                return;
            }
        }
        for (auto it = d->timingOut.begin(); it != d->timingOut.end(); ++it) {
            if ((*it)->client == client && (*it)->address == address) {
                UrbPtr urb = *it;
                d->timingOut.erase(it);
                urb->status = -ENOENT;  // with the bytes it moved
                umockdev_ioctl_client_complete(client, 0, 0);
                finish(d, urb);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    static guint32 argWord(UMockdevIoctlClient* client)
    {
        GError* error = nullptr;
        UMockdevIoctlData* value = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, 4, &error);
        if (value == nullptr) {
            g_clear_error(&error);
            return 0xFFFFFFFFu;
        }
        guint32 word = 0;
        std::memcpy(&word, value->data, 4);
        g_object_unref(value);
        return word;
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        Device* d = static_cast<Device*>(user);
        Impl* self = d->bed;
        std::lock_guard<std::mutex> lock(self->mutex);
        if (d->context == nullptr)
            d->context = g_main_context_ref_thread_default();
        if (d->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        gulong request = umockdev_ioctl_client_get_request(client);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            GError* error = nullptr;
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, 4, &error);
            if (caps == nullptr) {
                g_clear_error(&error);
                umockdev_ioctl_client_complete(client, -1, EFAULT);
                break;
            }
            std::uint32_t value = kCapabilities;
            umockdev_ioctl_data_update(caps, 0, reinterpret_cast<guint8*>(&value), 4);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(caps);
            break;
        }
        case USBDEVFS_CLAIMINTERFACE: {
            guint32 interface = argWord(client);
            auto held = d->claims.find(interface);
            if (d->claimError != 0) {
                umockdev_ioctl_client_complete(client, -1, d->claimError);
            } else if (held != d->claims.end() && held->second != client) {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
            } else {
                d->claims[interface] = client;
                d->stats.claims++;
                d->stats.claimedInterfaces.push_back(interface);
                d->stats.claimedAt.push_back(std::chrono::steady_clock::now());
                umockdev_ioctl_client_complete(client, 0, 0);
            }
            break;
        }
        case USBDEVFS_RELEASEINTERFACE: {
            guint32 interface = argWord(client);
            auto held = d->claims.find(interface);
            if (held == d->claims.end() || held->second != client) {
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                break;
            }
            d->claims.erase(held);
            d->stats.releases++;
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_CLEAR_HALT: {
            guint32 endpoint = argWord(client);
            d->halted.erase(static_cast<std::uint8_t>(endpoint));
            if (d->clearHaltError != 0) {
                // The module cleared the halt; its answer was lost.
                umockdev_ioctl_client_complete(client, -1, d->clearHaltError);
                break;
            }
            d->stats.clearedHalts.push_back(static_cast<std::uint8_t>(endpoint));
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_SUBMITURB:
            self->submit(d, client);
            break;
        case USBDEVFS_REAPURBNDELAY:
        case USBDEVFS_REAPURB:
            self->reap(d, client, request == USBDEVFS_REAPURB);
            break;
        case USBDEVFS_DISCARDURB:
            self->discard(d, client);
            break;
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            break;
        }
        return TRUE;
    }

    static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer user)
    {
        Device* d = static_cast<Device*>(user);
        std::lock_guard<std::mutex> lock(d->bed->mutex);
        d->stats.opens++;
    }

    static void onVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        Device* d = static_cast<Device*>(user);
        std::lock_guard<std::mutex> lock(d->bed->mutex);
        auto mine = [client](const UrbPtr& u) { return u->client == client; };
        d->pendingIn.erase(std::remove_if(d->pendingIn.begin(), d->pendingIn.end(), mine), d->pendingIn.end());
        d->completed.erase(std::remove_if(d->completed.begin(), d->completed.end(), mine), d->completed.end());
        d->timingOut.erase(std::remove_if(d->timingOut.begin(), d->timingOut.end(), mine), d->timingOut.end());
        showReady(d);
        auto held = d->heldReaps.find(client);
        if (held != d->heldReaps.end()) {
            g_source_destroy(held->second);
            g_source_unref(held->second);
            d->heldReaps.erase(held);
        }
        d->bed->watchPeer(d);
    }

    std::vector<std::uint8_t> descriptors(const DeviceSpec& spec)
    {
        std::vector<std::uint8_t> out{18, 1};
        put16(out, 0x0200);
        out.insert(out.end(), {0, 0, 0, 64});
        put16(out, spec.vendor);
        put16(out, spec.product);
        put16(out, 0x0100);
        out.insert(out.end(), {1, 2, static_cast<std::uint8_t>(spec.hasSerial ? 3 : 0), 1});
        std::size_t total = 9 + 9 + 7 * spec.endpoints.size();
        for (const auto& i : spec.before)
            total += 9 + 7 * i.endpoints.size();
        out.insert(out.end(), {9, 2});
        put16(out, static_cast<std::uint16_t>(total));
        out.insert(out.end(), {static_cast<std::uint8_t>(1 + spec.before.size()), 1, 0, 0x80, 50});
        auto endpoints = [&out](const std::vector<Endpoint>& list) {
            for (const auto& e : list) {
                out.insert(out.end(), {7, 5, e.address, e.attributes});
                put16(out, e.maxPacket);
                out.push_back(0);
            }
        };
        std::uint8_t number = 0;
        for (const auto& i : spec.before) {
            out.insert(out.end(), {9, 4, number++, 0, static_cast<std::uint8_t>(i.endpoints.size()), i.interfaceClass,
                                   0, 0, 0});
            endpoints(i.endpoints);
        }
        out.insert(out.end(), {9, 4, number, 0, static_cast<std::uint8_t>(spec.endpoints.size()), spec.interfaceClass,
                               spec.subclass, spec.protocol, 0});
        endpoints(spec.endpoints);
        return out;
    }

    void removeLocked(Device* d)
    {
        d->gone = true;
        if (d->removed)
            return;
        d->removed = true;
        if (d->hostFd >= 0)
            ::shutdown(d->hostFd, SHUT_RDWR);
        umockdev_testbed_uevent(testbed, d->syspath.c_str(), "remove");
        umockdev_testbed_remove_device(testbed, d->syspath.c_str());
        // Open handles see the node gone (poll_shim.c).
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        ::unlink((std::string(root) + d->devnode).c_str());
        g_free(root);
    }

    // From the worker thread: the testbed is changed on a thread of its own.
    void leaveBus(Device* d)
    {
        std::thread([this, d] {
            std::lock_guard<std::mutex> lock(mutex);
            removeLocked(d);
        }).detach();
    }
};

DeviceSpec moduleSpec(std::uint32_t serial, std::uint8_t model, std::uint16_t maxPacket)
{
    DeviceSpec spec;
    spec.vendor = kVendor;
    spec.product = model;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(serial));
    spec.serial = text;
    spec.endpoints = {Endpoint{0x81, 2, maxPacket}, Endpoint{0x02, 2, maxPacket}};
    return spec;
}

Testbed& Testbed::instance()
{
    // Lives until exit, as libusb threads and children may use it until then;
    // at exit its directory is removed.
    static Testbed* bed = [] {
        auto* made = new Testbed;
        std::atexit([] { g_object_unref(instance().impl_->testbed); });
        return made;
    }();
    return *bed;
}

Testbed::Testbed() : impl_(new Impl)
{
    impl_->testbed = umockdev_testbed_new();
    if (impl_->testbed == nullptr)
        throw std::runtime_error("umockdev testbed");
}

::_UMockdevTestbed* Testbed::raw() const
{
    return impl_->testbed;
}

std::string Testbed::root() const
{
    gchar* dir = umockdev_testbed_get_root_dir(impl_->testbed);
    std::string out = dir != nullptr ? dir : "";
    g_free(dir);
    return out;
}

std::map<std::string, std::string> Testbed::childEnvironment() const
{
    return {{"UMOCKDEV_DIR", root()}, {"LD_PRELOAD", std::string(MORV_POLL_SHIM) + ":libumockdev-preload.so.0"}};
}

void Testbed::reset()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (auto& d : impl_->devices) {
        impl_->removeLocked(d.get());
        d->inFaults.clear();
        d->outFaults.clear();
        d->claimError = 0;
        d->discardIgnored = false;
    }
}

int Testbed::plug(const DeviceSpec& spec)
{
    const std::string root = this->root();
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto d = std::make_unique<Device>();
    d->id = impl_->nextId++;
    d->spec = spec;
    d->bed = impl_.get();
    d->devnum = 1 + d->id;
    // Attribute files end in a newline, as the kernel's do.
    char name[32], devnode[64], devnum[8], devnumText[8], vendor[8], product[8], dev[16];
    std::snprintf(name, sizeof name, "1-%d", d->id);
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/001/%03d", d->devnum);
    std::snprintf(devnum, sizeof devnum, "%d\n", d->devnum);
    std::snprintf(devnumText, sizeof devnumText, "%03d", d->devnum);
    std::snprintf(vendor, sizeof vendor, "%04x\n", spec.vendor);
    std::snprintf(product, sizeof product, "%04x\n", spec.product);
    std::snprintf(dev, sizeof dev, "189:%d\n", d->devnum);
    std::string serial = spec.serial + "\n";
    bool highSpeed = std::any_of(spec.endpoints.begin(), spec.endpoints.end(),
                                 [](const Endpoint& e) { return e.maxPacket >= 512; });
    gchar* syspath = umockdev_testbed_add_device(
        impl_->testbed, "usb", name, nullptr, "idVendor", vendor, "idProduct", product, "busnum", "1\n", "devnum",
        devnum, "dev", dev, "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "speed",
        highSpeed ? "480\n" : "12\n", "serial", serial.c_str(), nullptr, "DEVNAME", devnode, "DEVTYPE", "usb_device",
        "BUSNUM", "001", "DEVNUM", devnumText, nullptr);
    if (syspath == nullptr)
        return 0;
    d->syspath = syspath;
    g_free(syspath);
    d->devnode = devnode;
    d->readyFile = root + "/dev/.ready-bus-usb-001-" + devnumText;
    // umockdev records the node's numbers but leaves the file to us.
    std::string nodeFile = root + devnode;
    g_mkdir_with_parents(nodeFile.substr(0, nodeFile.rfind('/')).c_str(), 0755);
    if (!g_file_set_contents(nodeFile.c_str(), "", 0, nullptr))
        return 0;
    auto bytes = impl_->descriptors(spec);
    umockdev_testbed_set_attribute_binary(impl_->testbed, d->syspath.c_str(), "descriptors", bytes.data(),
                                          static_cast<gint>(bytes.size()));
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return 0;
    d->hostFd = sv[0];
    d->peerFd = sv[1];
    d->handler = umockdev_ioctl_base_new();
    g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(Impl::onIoctl), d.get());
    g_signal_connect(d->handler, "client-connected", G_CALLBACK(Impl::onConnected), d.get());
    g_signal_connect(d->handler, "client-vanished", G_CALLBACK(Impl::onVanished), d.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, d->devnode.c_str(), d->handler, &error)) {
        std::fprintf(stderr, "umockusb: attach %s: %s\n", d->devnode.c_str(), error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return 0;
    }
    umockdev_testbed_uevent(impl_->testbed, d->syspath.c_str(), "add");
    int id = d->id;
    impl_->devices.push_back(std::move(d));
    return id;
}

void Testbed::unplug(int id)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Device* d = impl_->find(id))
        impl_->removeLocked(d);
}

int Testbed::takePeerFd(int id)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Device* d = impl_->find(id);
    if (d == nullptr)
        return -1;
    int fd = d->peerFd;
    d->peerFd = -1;
    return fd;
}

void Testbed::queueFault(int id, Direction direction, Fault fault)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Device* d = impl_->find(id))
        (direction == Direction::In ? d->inFaults : d->outFaults).push_back(fault);
}

void Testbed::setClaimError(int id, int error)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Device* d = impl_->find(id))
        d->claimError = error;
}

void Testbed::setClearHaltError(int id, int error)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Device* d = impl_->find(id))
        d->clearHaltError = error;
}

void Testbed::setDiscardIgnored(int id, bool ignored)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (Device* d = impl_->find(id))
        d->discardIgnored = ignored;
}

DeviceStats Testbed::stats(int id)
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Device* d = impl_->find(id);
    return d == nullptr ? DeviceStats{} : d->stats;
}

int Testbed::openHandles(int id)
{
    if (id == 0)
        return openDescriptors(root() + "/dev/bus/usb/", true);
    std::string node;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        Device* d = impl_->find(id);
        if (d == nullptr)
            return 0;
        node = d->devnode;
    }
    return openDescriptors(root() + node);
}

int openDescriptors(const std::string& path, bool prefix)
{
    int count = 0;
    GDir* dir = g_dir_open("/proc/self/fd", 0, nullptr);
    if (dir == nullptr)
        return 0;
    while (const gchar* name = g_dir_read_name(dir)) {
        gchar* target = g_file_read_link((std::string("/proc/self/fd/") + name).c_str(), nullptr);
        if (target == nullptr)
            continue;
        std::string text = target;
        g_free(target);
        const std::string deleted = " (deleted)";
        if (text.size() > deleted.size() && text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0)
            text.resize(text.size() - deleted.size());
        if (prefix ? text.rfind(path, 0) == 0 : text == path)
            count++;
    }
    g_dir_close(dir);
    return count;
}

std::string loadedLibrary(const char* soname)
{
    struct Search {
        const char* name;
        std::string path;
    } search{soname, ""};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* user) {
            auto* s = static_cast<Search*>(user);
            if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, s->name) != nullptr) {
                char resolved[4096];
                s->path = realpath(info->dlpi_name, resolved) != nullptr ? resolved : info->dlpi_name;
                return 1;
            }
            return 0;
        },
        &search);
    return search.path;
}

}  // namespace umockusb
