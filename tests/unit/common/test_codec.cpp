// The codec table and its text codecs and checksums, reached as callers do: through
// CodecApi after codec_table_init.
#include "common/codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const uint8_t* bytes(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

class CodecTest : public ::testing::Test {
protected:
    void SetUp() override { codec_table_init(); }
};

TEST_F(CodecTest, TableIsFilledAndKeyIsStable) {
    const void* const* slots = reinterpret_cast<const void* const*>(&CodecApi);
    for (int i = 0; i < 24; ++i) {
        if (i >= 15 && i <= 18) continue;
        EXPECT_NE(slots[i], nullptr) << "slot " << i;
    }
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&CodecApi) + 120, CodecApi.CODEC_AES_KEY);

    uint8_t first[32];
    std::memcpy(first, CodecApi.CODEC_AES_KEY, 32);
    int nonzero = 0;
    for (uint8_t b : first) nonzero += b != 0;
    EXPECT_GT(nonzero, 24);
    codec_table_init();
    EXPECT_EQ(0, std::memcmp(first, CodecApi.CODEC_AES_KEY, 32));

    // The key as callers use it: a block coded with it comes back.
    uint8_t block[16] = {'s', 'e', 'c', 'r', 'e', 't'};
    uint8_t orig[16];
    std::memcpy(orig, block, 16);
    CodecApi.aes256_encrypt_block(block, CodecApi.CODEC_AES_KEY);
    EXPECT_NE(0, std::memcmp(orig, block, 16));
    CodecApi.aes256_decrypt_block(block, CodecApi.CODEC_AES_KEY);
    EXPECT_EQ(0, std::memcmp(orig, block, 16));
}

TEST_F(CodecTest, Crypt64Encode) {
    struct Case {
        const char* in;
        const char* text;
    };
    const Case cases[] = {{"abc", "V7qM"}, {"ab", "V74."}, {"a", "V/.."}, {"abcd", "V7qMY/.."}};
    for (const auto& c : cases) {
        char out[16];
        std::memset(out, '#', sizeof out);
        const int32_t n = CodecApi.codec_crypt64_encode(out, bytes(c.in), int32_t(std::strlen(c.in)));
        EXPECT_EQ(std::string(out, size_t(n)), c.text) << c.in;
        EXPECT_EQ(out[n], '#') << "no terminator is written";
    }
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(CodecApi.codec_crypt64_encode(out, bytes("x"), 0), 0);
    EXPECT_EQ(CodecApi.codec_crypt64_encode(out, bytes("x"), -3), 0);
    // A length whose text length would not fit the result is refused before anything is read.
    EXPECT_EQ(CodecApi.codec_crypt64_encode(out, bytes("x"), INT32_MAX), 0);
    EXPECT_EQ(out[0], '#');
}

TEST_F(CodecTest, Crypt64Decode) {
    uint8_t out[8];
    std::memset(out, 0xee, sizeof out);
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "V7qM", 4), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "abc");
    EXPECT_EQ(out[3], 0xee);

    // The completion bytes come back as zeros and end the text.
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "V74.", 4), 3);
    EXPECT_STREQ(reinterpret_cast<char*>(out), "ab");

    std::memset(out, 0xee, sizeof out);
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "V7qMV7", 6), 0);
    EXPECT_EQ(out[0], 0xee) << "a bad length writes nothing";
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "V7!M", 4), 0);
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "", 0), 0);
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "V7qM", -4), 0);

    // A foreign character in the second group keeps the first group's bytes.
    std::memset(out, 0xee, sizeof out);
    EXPECT_EQ(CodecApi.codec_crypt64_decode(out, "V7qMV7q=", 8), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "abc");
}

TEST_F(CodecTest, Crypt64RoundTrip) {
    std::mt19937 rng(7);
    for (int n = 1; n <= 200; ++n) {
        std::vector<uint8_t> in(static_cast<size_t>(n));
        for (auto& b : in) b = uint8_t(rng());
        const size_t text_len = 4 * ((size_t(n) + 2) / 3);
        std::vector<char> text(text_len + 1, '#');
        ASSERT_EQ(CodecApi.codec_crypt64_encode(text.data(), in.data(), n), int32_t(text_len));
        EXPECT_EQ(text[text_len], '#');
        std::vector<uint8_t> back(text_len / 4 * 3);
        ASSERT_EQ(CodecApi.codec_crypt64_decode(back.data(), text.data(), int32_t(text_len)),
                  int32_t(back.size()));
        EXPECT_EQ(0, std::memcmp(back.data(), in.data(), in.size())) << n;
        for (size_t i = in.size(); i < back.size(); ++i) EXPECT_EQ(back[i], 0) << n;
    }
}

TEST_F(CodecTest, Base64Encode) {
    struct Case {
        const char* in;
        const char* text;
    };
    const Case cases[] = {{"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"foobar", "Zm9vYmFy"}};
    for (const auto& c : cases) {
        char out[16];
        std::memset(out, '#', sizeof out);
        const uint32_t n = CodecApi.codec_base64_encode(out, bytes(c.in), uint32_t(std::strlen(c.in)));
        EXPECT_EQ(std::string(out, n), c.text);
        EXPECT_EQ(out[n], '#');
    }
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(CodecApi.codec_base64_encode(out, bytes(""), 0), 0u);
    EXPECT_EQ(CodecApi.codec_base64_encode(out, bytes("x"), UINT32_MAX), 0u);
    EXPECT_EQ(out[0], '#');
}

TEST_F(CodecTest, Base64Decode) {
    struct Case {
        const char* text;
        int32_t capacity;
        int32_t out_len;  // -1: left unchanged
        const char* out;
    };
    const Case cases[] = {
        {"YWI=", 16, 2, "ab"},
        {"YW I=", 16, 2, "ab"},          // a space is skipped
        {"YWJj\r\nZGVm", 16, 6, "abcdef"},
        {"YWI=", 2, 2, "ab"},            // exactly the capacity
        {"YWJj", 2, -1, ""},             // past the capacity
        {"YWI", 16, -1, ""},             // input ends inside a group
        {"YWJjZA", 16, -1, ""},
        {"!!!!", 16, 0, ""},             // nothing but foreign bytes
        {"YQ==YQ==", 16, 2, "aa"},       // every later group is shortened too, never below one byte
    };
    for (const auto& c : cases) {
        uint8_t out[16];
        std::memset(out, 0xee, sizeof out);
        int32_t len = c.capacity;
        CodecApi.codec_base64_decode(bytes(c.text), int32_t(std::strlen(c.text)), out, &len);
        if (c.out_len < 0) {
            EXPECT_EQ(len, c.capacity) << c.text;
        } else {
            ASSERT_EQ(len, c.out_len) << c.text;
            EXPECT_EQ(std::string(reinterpret_cast<char*>(out), size_t(len)), c.out) << c.text;
        }
        for (int32_t i = c.capacity; i < 16; ++i) EXPECT_EQ(out[i], 0xee) << c.text;
    }
    int32_t len = 9;
    CodecApi.codec_base64_decode(bytes("YWI="), 0, nullptr, &len);
    EXPECT_EQ(len, 0);
}

TEST_F(CodecTest, Base64RoundTrip) {
    std::mt19937 rng(11);
    for (uint32_t n = 1; n <= 100; ++n) {
        std::vector<uint8_t> in(n);
        for (auto& b : in) b = uint8_t(rng());
        std::vector<char> text(4 * ((n + 2) / 3));
        ASSERT_EQ(CodecApi.codec_base64_encode(text.data(), in.data(), n), text.size());
        std::vector<uint8_t> back(n);
        int32_t len = int32_t(n);
        CodecApi.codec_base64_decode(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()),
                                     back.data(), &len);
        ASSERT_EQ(len, int32_t(n));
        EXPECT_EQ(back, in);
    }
}

TEST_F(CodecTest, Crc16) {
    const uint8_t* digits = bytes("123456789");
    EXPECT_EQ(CodecApi.codec_crc16_modbus(digits, 9), 0x4B37);
    EXPECT_EQ(CodecApi.codec_crc16_arc(digits, 9), 0xBB3D);
    EXPECT_EQ(CodecApi.codec_crc16_modbus(nullptr, 0), 0xFFFF);
    EXPECT_EQ(CodecApi.codec_crc16_arc(nullptr, 0), 0);
    // The table-driven MODBUS routine against a bitwise reference.
    std::mt19937 rng(3);
    for (int n = 1; n < 300; n += 7) {
        std::vector<uint8_t> buf(static_cast<size_t>(n));
        for (auto& b : buf) b = uint8_t(rng());
        uint16_t crc = 0xFFFF;
        for (uint8_t b : buf) {
            crc ^= b;
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        }
        EXPECT_EQ(CodecApi.codec_crc16_modbus(buf.data(), n), crc);
    }
}

TEST_F(CodecTest, HexToUint) {
    struct Case {
        const char* text;
        uint8_t max;
        uint32_t value;
    };
    const Case cases[] = {
        {"1aG", 3, 26},      {"ff", 1, 15},         {"ff", 0, 0},
        {"", 8, 0},          {"DEADbeef", 8, 0xdeadbeef},
        {"123456789", 9, 0x23456789},  // more than eight digits keep the low 32 bits
        {"7fZ", 255, 0x7f},
    };
    for (const auto& c : cases) EXPECT_EQ(CodecApi.codec_hex_to_uint(c.text, c.max), c.value) << c.text;
}

TEST_F(CodecTest, ByteToHex) {
    char out[3] = {0, 0, '#'};
    CodecApi.codec_byte_to_hex(0xAB, out, 0);
    EXPECT_EQ(std::string(out, 2), "ab");
    CodecApi.codec_byte_to_hex(0xAB, out, 1);
    EXPECT_EQ(std::string(out, 2), "AB");
    CodecApi.codec_byte_to_hex2(0x05, out, 0);
    EXPECT_EQ(std::string(out, 2), "05");
    CodecApi.codec_byte_to_hex2(0xAB, out, 7);
    EXPECT_EQ(std::string(out, 2), "AB");
    EXPECT_EQ(out[2], '#');
}

TEST_F(CodecTest, Checksum8AndCryptTo64) {
    const uint8_t buf[3] = {0xff, 0x02, 0x00};
    EXPECT_EQ(CodecApi.codec_checksum8(buf, 3), 1);
    EXPECT_EQ(CodecApi.codec_checksum8(buf, 0), 0);
    EXPECT_EQ(CodecApi.codec_checksum8(buf, -1), 0);

    char out[9] = {};
    CodecApi.codec_crypt_to64(out, 0xFFFFFFFFu, 8);
    EXPECT_STREQ(out, "zzzzz1..");
    std::memset(out, 0, sizeof out);
    CodecApi.codec_crypt_to64(out, 1u | (2u << 6) | (63u << 12), 3);
    EXPECT_STREQ(out, "/0z");
    CodecApi.codec_crypt_to64(out, 5, 0);
    EXPECT_STREQ(out, "/0z");
}

}  // namespace
