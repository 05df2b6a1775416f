// Known answers for single-block DES and AES-256, in-place use, and the CBC helpers.
#include "common/cipher.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/hex.h"
#include <string>
#include <vector>

namespace {

TEST(CipherTest, DesKnownAnswers) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
        // Variable-plaintext test with the all-parity key, and the same key without parity bits.
        {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
        {"0000000000000000", "8000000000000000", "95f8a5e5dd31d900"},
    };
    for (const auto& c : cases) {
        const auto key = from_hex(c.key);
        const auto plain = from_hex(c.plain);
        uint8_t out[8], back[8];
        des_encrypt_block(plain.data(), key.data(), out);
        EXPECT_EQ(to_hex(out, 8), c.cipher) << c.key;
        des_decrypt_block(out, key.data(), back);
        EXPECT_EQ(to_hex(back, 8), c.plain) << c.key;
    }
}

TEST(CipherTest, DesInPlace) {
    const auto key = from_hex("133457799bbcdff1");
    auto block = from_hex("0123456789abcdef");
    des_encrypt_block(block.data(), key.data(), block.data());
    EXPECT_EQ(to_hex(block.data(), 8), "85e813540f0ab405");
    des_decrypt_block(block.data(), key.data(), block.data());
    EXPECT_EQ(to_hex(block.data(), 8), "0123456789abcdef");
}

TEST(CipherTest, DesCbcKnownAnswerAndRoundTrip) {
    const auto key = from_hex("0123456789abcdef");
    const auto iv = from_hex("1234567890abcdef");
    const std::string text = "Now is the time for all ";
    std::vector<uint8_t> data(text.begin(), text.end());
    ASSERT_TRUE(des_cbc_encrypt(data.data(), data.size(), key.data(), iv.data()));
    EXPECT_EQ(to_hex(data.data(), data.size()), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    ASSERT_TRUE(des_cbc_decrypt(data.data(), data.size(), key.data(), iv.data()));
    EXPECT_EQ(std::string(data.begin(), data.end()), text);
    EXPECT_EQ(to_hex(iv.data(), 8), "1234567890abcdef");
}

TEST(CipherTest, DesCbcRejectsPartialBlocks) {
    const uint8_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t iv[8] = {};
    uint8_t data[12] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(des_cbc_encrypt(data, sizeof data, key, iv));
    EXPECT_FALSE(des_cbc_decrypt(data, sizeof data, key, iv));
    for (uint8_t b : data) EXPECT_EQ(b, 9);
    EXPECT_TRUE(des_cbc_encrypt(data, 0, key, iv));
}

TEST(CipherTest, Aes256Fips197Example) {
    const auto key = from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    auto block = from_hex("00112233445566778899aabbccddeeff");
    aes256_encrypt_block(block.data(), key.data());
    EXPECT_EQ(to_hex(block.data(), 16), "8ea2b7ca516745bfeafc49904b496089");
    aes256_decrypt_block(block.data(), key.data());
    EXPECT_EQ(to_hex(block.data(), 16), "00112233445566778899aabbccddeeff");
}

TEST(CipherTest, Aes256ContextHoldsFirstAndLastRoundKeys) {
    // FIPS-197 A.3 key expansion: the last round key w[56..59] of this key.
    const auto key = from_hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    Aes256Context ctx;
    aes256_init(&ctx, key.data());
    EXPECT_EQ(to_hex(ctx.enckey, 32), to_hex(key.data(), 32));
    EXPECT_EQ(to_hex(ctx.deckey, 16), "fe4890d1e6188d0b046df344706c631e");

    auto block = from_hex("6bc1bee22e409f96e93d7e117393172a");  // SP 800-38A F.1.5
    aes256_encrypt_ecb(&ctx, block.data());
    EXPECT_EQ(to_hex(block.data(), 16), "f3eed1bdb5d2a03c064b5a7e3db181f8");
    aes256_decrypt_ecb(&ctx, block.data());
    EXPECT_EQ(to_hex(block.data(), 16), "6bc1bee22e409f96e93d7e117393172a");

    aes256_done(&ctx);
    const uint8_t zero[32] = {};
    EXPECT_EQ(0, std::memcmp(ctx.key, zero, 32));
    EXPECT_EQ(0, std::memcmp(ctx.enckey, zero, 32));
    EXPECT_EQ(0, std::memcmp(ctx.deckey, zero, 32));
}

}  // namespace
