// Helpers for recovery tests: bundles whose LPC firmware is scrambled with a
// processor's fingerprint, the server replies a recovery asks for, and the
// expected flash contents.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Base64Text.h"
#include "BundleBuilder.h"
#include "FakeUpdateServer.h"
#include "Patterns.h"
#include "base64.h"

namespace rectest {

using morvtest::BundleBuilder;
using morvtest::Bytes;
using Words = std::array<std::uint32_t, 4>;
using Reply = morvtest::FakeUpdateServer::Reply;

// The device serial words the LPC boot-ROM simulator answers by default.
constexpr Words kLpcSerialWords = {0x12345678u, 0x9ABCDEF0u, 0x0F1E2D3Cu, 0xA5A55A5Au};
const std::string kLpcFingerprintQuery = "brief=true&fp=12345678%209ABCDEF0%200F1E2D3C%20A5A55A5A&op=fix&";

using morvtest::pattern;

// What the server ships for an LPC module: each byte XORed with the key byte and
// the previous plain byte, the key the fingerprint words most significant byte first.
inline Bytes scramble(const Bytes& plain, const Words& words)
{
    std::uint8_t key[16];
    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b)
            key[w * 4 + b] = static_cast<std::uint8_t>(words[w] >> (24 - 8 * b));
    Bytes out(plain.size());
    std::uint8_t previous = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        out[i] = static_cast<std::uint8_t>(plain[i] ^ key[i % 16] ^ previous);
        previous = plain[i];
    }
    return out;
}

struct Image {
    std::uint32_t address;
    Bytes bytes;
};

// A bundle of firmware images scrambled for the processor.
inline BundleBuilder lpcBundle(const std::vector<Image>& images, const Words& words = kLpcSerialWords)
{
    BundleBuilder builder;
    builder.descriptor("1234", "2.11.3", "00000000", "USBHub3p");
    for (const Image& image : images)
        builder.firmware(image.address, scramble(image.bytes, words));
    return builder;
}

using morvtest::encode;

// Replies for a recovery of serial/build that downloads the bundle.
inline void serveRecovery(morvtest::FakeUpdateServer& server, const std::string& serial, const std::string& build,
                          const Bytes& bundle)
{
    server.setReply("fix", Reply::Ok({serial, build}));
    server.setReply("qu", Reply::Ok({build.empty() ? "1234" : build, "2.11.3"}));
    server.setReply("builds", Reply::Ok({(build.empty() ? "1234" : build) + ";2.11.3"}));
    server.setReply("bird", Reply::Ok({encode(bundle)}));
}

// The query of the server request with this op, empty when none was made.
inline std::string queryOf(const morvtest::FakeUpdateServer& server, const std::string& op)
{
    for (const std::string& query : server.queries())
        if (query.find("op=" + op + "&") != std::string::npos)
            return query;
    return std::string();
}

inline bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "Update time: <seconds>.<four digits> sec"
inline bool isUpdateTimeLine(const std::string& line)
{
    const std::string head = "Update time: ";
    const std::string tail = " sec";
    if (line.size() < head.size() + tail.size() + 6 || line.compare(0, head.size(), head) != 0 || !endsWith(line, tail))
        return false;
    const std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    const std::size_t dot = number.find('.');
    if (dot == std::string::npos || dot == 0 || number.size() - dot - 1 != 4)
        return false;
    for (std::size_t i = 0; i < number.size(); ++i)
        if (i != dot && (number[i] < '0' || number[i] > '9'))
            return false;
    return true;
}

}  // namespace rectest
