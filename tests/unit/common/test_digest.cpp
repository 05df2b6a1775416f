// Known answers for MD5, HMAC-MD5 and the USM password-to-key function, and the
// context's piecewise feeding and bit counting.
#include "common/digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/hex.h"
#include <string>
#include <vector>

namespace {

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string md5_hex(const std::string& s) {
    Md5Context ctx;
    uint8_t d[16];
    md5_init(&ctx);
    md5_update(&ctx, bytes(s), uint16_t(s.size()));
    md5_final(&ctx, d);
    return to_hex(d, 16);
}

TEST(DigestTest, Md5KnownAnswers) {
    struct Case {
        const char* in;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(md5_hex(c.in), c.digest) << '"' << c.in << '"';
}

TEST(DigestTest, Md5PiecesGiveTheSameDigest) {
    // Pieces of 1, 63, 64 and 65 bytes cross the block boundary in every way.
    std::vector<uint8_t> data(1 + 63 + 64 + 65);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);

    Md5Context ctx;
    uint8_t whole[16], pieces[16];
    md5_init(&ctx);
    md5_update(&ctx, data.data(), uint16_t(data.size()));
    md5_final(&ctx, whole);

    md5_init(&ctx);
    size_t off = 0;
    for (size_t piece : {1, 63, 64, 65}) {
        md5_update(&ctx, data.data() + off, uint16_t(piece));
        off += piece;
    }
    md5_final(&ctx, pieces);
    EXPECT_EQ(to_hex(whole, 16), to_hex(pieces, 16));

    // Zero-length updates change nothing.
    md5_init(&ctx);
    md5_update(&ctx, nullptr, 0);
    md5_update(&ctx, data.data(), uint16_t(data.size()));
    md5_update(&ctx, nullptr, 0);
    md5_final(&ctx, pieces);
    EXPECT_EQ(to_hex(whole, 16), to_hex(pieces, 16));
}

TEST(DigestTest, Md5MaximumUpdateLength) {
    // 65535 bytes in one call against the same bytes in small pieces.
    std::vector<uint8_t> data(65535);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i ^ (i >> 8));
    Md5Context ctx;
    uint8_t one[16], many[16];
    md5_init(&ctx);
    md5_update(&ctx, data.data(), 65535);
    md5_final(&ctx, one);
    md5_init(&ctx);
    for (size_t off = 0; off < data.size(); off += 1000)
        md5_update(&ctx, data.data() + off, uint16_t(std::min<size_t>(1000, data.size() - off)));
    EXPECT_EQ(ctx.count_lo, 65535u * 8);
    EXPECT_EQ(ctx.count_hi, 0u);
    md5_final(&ctx, many);
    EXPECT_EQ(to_hex(one, 16), to_hex(many, 16));
}

TEST(DigestTest, Md5BitCountCarriesIntoHighWord) {
    Md5Context ctx;
    md5_init(&ctx);
    ctx.count_lo = 0xFFFFFE00u;  // a whole number of blocks, one block short of the carry
    uint8_t block[64] = {};
    md5_update(&ctx, block, 64);
    EXPECT_EQ(ctx.count_lo, 0u);
    EXPECT_EQ(ctx.count_hi, 1u);
}

TEST(DigestTest, Md5WordConversionIsLittleEndian) {
    const uint8_t in[8] = {0x01, 0x02, 0x03, 0x04, 0xaa, 0xbb, 0xcc, 0xdd};
    uint32_t w[2];
    md5_decode_words(w, in, 2);
    EXPECT_EQ(w[0], 0x04030201u);
    EXPECT_EQ(w[1], 0xddccbbaau);
    uint8_t out[8];
    md5_encode_words(out, w, 2);
    EXPECT_EQ(0, std::memcmp(in, out, 8));
}

TEST(DigestTest, HmacMd5KnownAnswers) {
    struct Case {
        std::vector<uint8_t> key;  // zero-extended to 16 bytes
        std::string data;
        const char* mac;
    };
    const Case cases[] = {
        {std::vector<uint8_t>(16, 0x0b), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {{'J', 'e', 'f', 'e'}, "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::vector<uint8_t>(16, 0xaa), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
    };
    for (const auto& c : cases) {
        uint8_t key[16] = {};
        std::memcpy(key, c.key.data(), c.key.size());
        Md5Context ctx;
        uint8_t out[16];
        hmac_md5(&ctx, bytes(c.data), uint16_t(c.data.size()), key, out);
        EXPECT_EQ(to_hex(out, 16), c.mac) << c.data;
    }
}

TEST(DigestTest, PasswordToKeyMatchesUsmExample) {
    const std::string pass = "maplesyrup";
    const auto engine = from_hex("000000000000000000000002");
    Md5Context ctx;
    uint8_t ku[16], key[16];
    usm_password_to_ku_md5(&ctx, ku, bytes(pass), uint8_t(pass.size()));
    EXPECT_EQ(to_hex(ku, 16), "9faf3283884e92834ebc9847d8edd963");
    usm_password_to_key_md5(&ctx, key, bytes(pass), uint8_t(pass.size()), engine.data(),
                            uint16_t(engine.size()));
    EXPECT_EQ(to_hex(key, 16), "526f5eed9fcce26f8964c2930787d82b");
}

TEST(DigestTest, PasswordToKeyHashesOneMebibyte) {
    // A one-byte and a 64-byte pass phrase against MD5 over the repeated text built here.
    for (size_t len : {size_t(1), size_t(64), size_t(255)}) {
        std::vector<uint8_t> pass(len);
        for (size_t i = 0; i < len; ++i) pass[i] = uint8_t('A' + i % 26);
        std::vector<uint8_t> stream(1048576);
        for (size_t i = 0; i < stream.size(); ++i) stream[i] = pass[i % len];
        Md5Context ctx;
        uint8_t expect[16], ku[16];
        md5_init(&ctx);
        for (size_t off = 0; off < stream.size(); off += 32768) md5_update(&ctx, stream.data() + off, 32768);
        md5_final(&ctx, expect);
        usm_password_to_ku_md5(&ctx, ku, pass.data(), uint8_t(len));
        EXPECT_EQ(to_hex(ku, 16), to_hex(expect, 16)) << len;
    }
}

TEST(DigestTest, EmptyPassPhraseWritesNothing) {
    Md5Context ctx;
    uint8_t key[16];
    std::memset(key, 0x5a, sizeof key);
    const uint8_t engine[4] = {1, 2, 3, 4};
    usm_password_to_key_md5(&ctx, key, bytes("x"), 0, engine, 4);
    for (uint8_t b : key) EXPECT_EQ(b, 0x5a);
    usm_password_to_ku_md5(&ctx, key, bytes("x"), 0);
    for (uint8_t b : key) EXPECT_EQ(b, 0x5a);
}

}  // namespace
