// i.MX boot-ROM replies from arbitrary bytes, through the loader engine over
// the HID and the serial transport's reply decoding. The first byte picks the
// transport and the operation; then each read takes one chunk of the input: a
// length byte and that many bytes (what a transport collected in its window).
// Nothing is sent anywhere and no window is waited for. A written loader needs
// the success word in the last reply window, a fingerprint is the words of the
// last two, and a failure leaves the fingerprint as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "HID_SDPLoader.h"
#include "SDPLoader.h"
#include "Serial_SDPLoader.h"

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

struct Script {
    const uint8_t* data;
    size_t size;
    size_t position;
    std::vector<std::vector<uint8_t>> windows;  // what each reply window got

    ssize_t next(std::vector<uint8_t>& out, unsigned int timeoutMs)
    {
        size_t n = 0;
        if (position < size) {
            n = data[position++];
            if (n > size - position)
                n = size - position;
        }
        out.insert(out.end(), data + position, data + position + n);
        if (timeoutMs != 0)
            windows.emplace_back(data + position, data + position + n);
        position += n;
        return static_cast<ssize_t>(n);
    }
};

// The reply word of a window counting back from the last, or false.
bool windowWord(SDPLoader_Interface& transport, const Script& script, size_t back, uint32_t& word)
{
    word = 0;
    return script.windows.size() > back &&
           transport.getDataFromBuffer(script.windows[script.windows.size() - 1 - back], 0, word);
}

// The real transport's reply decoding, with the device replaced by the script.
template <class Transport>
class Scripted : public Transport {
public:
    template <class... Args>
    explicit Scripted(Script& script, Args... args) : Transport(args...), script_(script)
    {
    }
    bool init() override { return true; }
    ssize_t writeData(const std::vector<uint8_t>& data) override { return static_cast<ssize_t>(data.size()); }
    ssize_t readData(std::vector<uint8_t>& data, unsigned int timeoutMs) override
    {
        return script_.next(data, timeoutMs);
    }

private:
    Script& script_;
};

void run(SDPLoader& loader, SDPLoader_Interface& transport, Script& script, unsigned operation)
{
    check(loader.init() == 0);
    if (operation % 3 == 0) {
        const int result = loader.writeLoader(std::vector<uint8_t>(2500, 0x5A), 0x20000000u);
        check(result == 0 || result == 2 || result == 3 || result == 4);
        uint32_t word = 0;
        if (result == 0)
            check(windowWord(transport, script, 0, word) && word == SDPLoader::REPLY_SUCCESS);
    } else if (operation % 3 == 1) {
        uint64_t fingerprint = 0;
        const int result = loader.getFingerprint(fingerprint);
        check(result == 0 || result == 2 || result == 7);
        uint32_t low = 0, high = 0;
        if (result != 0)
            check(fingerprint == 0);
        else
            check(windowWord(transport, script, 1, low) && windowWord(transport, script, 0, high) &&
                  fingerprint == (uint64_t(high) << 32 | low));
    } else {
        loader.startLoader(0x20000400u);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Script script{data + 1, size - 1, 0, {}};
    SDPLoader loader;
    SDPLoader_Interface* transport = nullptr;
    if (data[0] & 1)
        transport = new Scripted<HID_SDPLoader>(script, HID_SDPLoader::NXP_VENDOR_ID, HID_SDPLoader::NXP_PRODUCT_ID);
    else
        transport = new Scripted<Serial_SDPLoader>(script, std::string("/nonexistent/tty"));
    check(loader.setLoader(transport));
    run(loader, *transport, script, data[0] >> 1);
    return 0;
}
