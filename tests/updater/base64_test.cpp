#include "base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Text = std::unique_ptr<char, FreeDeleter>;
using Bytes = std::unique_ptr<unsigned char, FreeDeleter>;

std::string encode(const std::string& in) {
    unsigned long len = 12345;
    Text out(base64_encode(reinterpret_cast<const unsigned char*>(in.data()), in.size(), &len));
    EXPECT_NE(out, nullptr);
    if (!out) return "<null>";
    EXPECT_EQ(std::strlen(out.get()), len);
    return std::string(out.get(), len);
}

struct Case {
    const char* plain;
    const char* text;
};

const Case kCases[] = {
    {"", ""},           {"a", "YQ=="},         {"ab", "YWI="},          {"abc", "YWJj"},
    {"f", "Zg=="},      {"fo", "Zm8="},        {"foo", "Zm9v"},         {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\xfd", "//79"}, {"\xfb\xef\xbe", "++++"},
};

TEST(Base64, EncodesAndDecodesTheTable) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(encode(c.plain), c.text);

        unsigned long len = 999;
        Bytes out(base64_decode(c.text, std::strlen(c.text), &len));
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(len, std::strlen(c.plain));
        EXPECT_EQ(std::memcmp(out.get(), c.plain, len), 0);
        EXPECT_EQ(out.get()[len], 0) << "decoded data is NUL-terminated";
    }
}

TEST(Base64, RoundTripsEveryLengthAndByteValue) {
    std::mt19937 rng(7);
    for (size_t n = 0; n < 300; ++n) {
        std::vector<unsigned char> data(n);
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(n < 256 ? (i + n) : rng());
        unsigned long tlen = 0;
        Text text(base64_encode(data.data(), n, &tlen));
        ASSERT_NE(text, nullptr);
        ASSERT_EQ(tlen, 4 * ((n + 2) / 3));
        unsigned long blen = 0;
        Bytes back(base64_decode(text.get(), tlen, &blen));
        ASSERT_NE(back, nullptr);
        ASSERT_EQ(blen, n);
        EXPECT_EQ(n == 0 ? 0 : std::memcmp(back.get(), data.data(), n), 0) << "length " << n;
    }
}

TEST(Base64, RefusesTextWhoseLengthIsNotAMultipleOfFour) {
    for (const char* text : {"Y", "YQ", "YQ=", "YWJjY", "YWJj\n"}) {
        unsigned long len = 4242;
        EXPECT_EQ(base64_decode(text, std::strlen(text), &len), nullptr) << text;
        EXPECT_EQ(len, 4242u) << "out length untouched";
    }
}

TEST(Base64, CharactersOutsideTheAlphabetDecodeAsZero) {
    // Bytes >= 0x80 must not index before the table; unknown characters have a fixed value.
    struct {
        const char* text;
        unsigned long length;
    } cases[] = {{"\xff\xfe\x80\x81", 3}, {"!!!!", 3}, {"\x01\x7f ~", 3}, {"====", 1}, {"YQ=\x80", 2}};
    for (const auto& c : cases) {
        unsigned long len = 0;
        Bytes out(base64_decode(c.text, 4, &len));
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(len, c.length);
        if (std::strcmp(c.text, "YQ=\x80") == 0) {
            EXPECT_EQ(out.get()[0], 'a');
            EXPECT_EQ(out.get()[1], 0);
        } else {
            for (unsigned long i = 0; i < len; ++i) EXPECT_EQ(out.get()[i], 0) << i;
        }
        EXPECT_EQ(out.get()[len], 0);
    }
}

TEST(Base64, EmptyInputGivesAnEmptyBuffer) {
    unsigned long len = 77;
    Bytes out(base64_decode("", 0, &len));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(out.get()[0], 0);

    len = 77;
    Text text(base64_encode(reinterpret_cast<const unsigned char*>(""), 0, &len));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(text.get(), "");
}

TEST(Base64, RefusesMissingArgumentsAndImpossibleLengths) {
    unsigned long len = 0;
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("abc"), 3, nullptr), nullptr);
    EXPECT_EQ(base64_decode("YWJj", 4, nullptr), nullptr);
    EXPECT_EQ(base64_encode(nullptr, 3, &len), nullptr);
    EXPECT_EQ(base64_decode(nullptr, 4, &len), nullptr);
    // An output length that would wrap is refused, not allocated short.
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("abc"), ~0UL, &len), nullptr);
    EXPECT_EQ(base64_encode(reinterpret_cast<const unsigned char*>("abc"), ~0UL / 4 * 3, &len), nullptr);
}

}  // namespace
