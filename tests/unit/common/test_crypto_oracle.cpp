// Our MD5, HMAC-MD5, USM key localisation, DES-CBC and AES-256 against OpenSSL's on
// thousands of random inputs of random lengths. OpenSSL serves only as the reference here.
#include "common/cipher.h"
#include "common/digest.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> random_bytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

void openssl_md5(const uint8_t* data, size_t len, uint8_t out[16]) {
    unsigned int n = 0;
    ASSERT_EQ(EVP_Digest(data, len, out, &n, EVP_md5(), nullptr), 1);
    ASSERT_EQ(n, 16u);
}

TEST(CryptoOracle, Md5) {
    std::mt19937 rng(1001);
    for (int t = 0; t < 3000; ++t) {
        // Mostly short inputs; now and then one past the 64 KiB of a single update.
        const size_t len = (t % 100 == 0) ? rng() % 200000 : rng() % 4096;
        const auto data = random_bytes(rng, len);
        uint8_t ours[16], theirs[16];
        Md5Context ctx;
        md5_init(&ctx);
        size_t off = 0;
        while (off < len) {
            const size_t piece = std::min<size_t>(len - off, 1 + rng() % 65535);
            md5_update(&ctx, data.data() + off, uint16_t(piece));
            off += piece;
        }
        md5_final(&ctx, ours);
        openssl_md5(data.data(), len, theirs);
        ASSERT_EQ(0, std::memcmp(ours, theirs, 16)) << "length " << len;
    }
}

TEST(CryptoOracle, HmacMd5) {
    std::mt19937 rng(1002);
    for (int t = 0; t < 3000; ++t) {
        const size_t len = rng() % 3000;
        const auto data = random_bytes(rng, len);
        const auto key = random_bytes(rng, 16);
        uint8_t ours[16], theirs[16];
        unsigned int n = 0;
        Md5Context ctx;
        hmac_md5(&ctx, data.data(), uint16_t(len), key.data(), ours);
        ASSERT_NE(HMAC(EVP_md5(), key.data(), 16, data.data(), len, theirs, &n), nullptr);
        ASSERT_EQ(0, std::memcmp(ours, theirs, 16)) << "length " << len;
    }
}

TEST(CryptoOracle, PasswordToKey) {
    std::mt19937 rng(1003);
    for (int t = 0; t < 12; ++t) {
        const size_t pass_len = 1 + rng() % 255;
        const auto pass = random_bytes(rng, pass_len);
        const auto engine = random_bytes(rng, 5 + rng() % 28);
        std::vector<uint8_t> stream(1048576);
        for (size_t i = 0; i < stream.size(); ++i) stream[i] = pass[i % pass_len];
        uint8_t ku[16], theirs[16], ours[16];
        openssl_md5(stream.data(), stream.size(), ku);
        std::vector<uint8_t> local(ku, ku + 16);
        local.insert(local.end(), engine.begin(), engine.end());
        local.insert(local.end(), ku, ku + 16);
        openssl_md5(local.data(), local.size(), theirs);
        Md5Context ctx;
        usm_password_to_key_md5(&ctx, ours, pass.data(), uint8_t(pass_len), engine.data(),
                                uint16_t(engine.size()));
        ASSERT_EQ(0, std::memcmp(ours, theirs, 16)) << "pass length " << pass_len;
    }
}

bool openssl_cipher(const EVP_CIPHER* cipher, bool encrypt, const uint8_t* key, const uint8_t* iv,
                    const uint8_t* in, size_t len, uint8_t* out) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) return false;
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, encrypt ? 1 : 0) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
              EVP_CipherUpdate(ctx, out, &n1, in, int(len)) == 1 &&
              EVP_CipherFinal_ex(ctx, out + n1, &n2) == 1 && size_t(n1 + n2) == len;
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

TEST(CryptoOracle, DesCbc) {
    // DES lives in OpenSSL 3's legacy provider; loading it explicitly also needs the default
    // one. Both go into a library context of this test, so the process-wide one is untouched.
    OSSL_LIB_CTX* lib = OSSL_LIB_CTX_new();
    ASSERT_NE(lib, nullptr);
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(lib, "legacy");
    OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(lib, "default");
    EVP_CIPHER* des = legacy && deflt ? EVP_CIPHER_fetch(lib, "DES-CBC", nullptr) : nullptr;
    if (des == nullptr) {
        if (deflt) OSSL_PROVIDER_unload(deflt);
        if (legacy) OSSL_PROVIDER_unload(legacy);
        OSSL_LIB_CTX_free(lib);
        GTEST_SKIP() << "OpenSSL legacy provider (DES) not available";
    }
    std::mt19937 rng(1004);
    for (int t = 0; t < 3000; ++t) {
        const size_t len = 8 * (1 + rng() % 64);
        const auto plain = random_bytes(rng, len);
        const auto key = random_bytes(rng, 8);
        const auto iv = random_bytes(rng, 8);
        std::vector<uint8_t> theirs(len + 8), ours = plain;
        ASSERT_TRUE(openssl_cipher(des, true, key.data(), iv.data(), plain.data(), len, theirs.data()));
        ASSERT_TRUE(des_cbc_encrypt(ours.data(), len, key.data(), iv.data()));
        ASSERT_EQ(0, std::memcmp(ours.data(), theirs.data(), len)) << "length " << len;
        ASSERT_TRUE(des_cbc_decrypt(ours.data(), len, key.data(), iv.data()));
        ASSERT_EQ(ours, plain);
        // The first block through the block routine as well.
        uint8_t block[8];
        des_decrypt_block(theirs.data(), key.data(), block);
        for (int i = 0; i < 8; ++i) block[i] ^= iv[i];
        ASSERT_EQ(0, std::memcmp(block, plain.data(), 8));
    }
    EVP_CIPHER_free(des);
    OSSL_PROVIDER_unload(deflt);
    OSSL_PROVIDER_unload(legacy);
    OSSL_LIB_CTX_free(lib);
}

TEST(CryptoOracle, Aes256) {
    std::mt19937 rng(1005);
    for (int t = 0; t < 3000; ++t) {
        const auto key = random_bytes(rng, 32);
        const auto plain = random_bytes(rng, 16);
        uint8_t theirs[16], ours[16];
        ASSERT_TRUE(openssl_cipher(EVP_aes_256_ecb(), true, key.data(), nullptr, plain.data(), 16, theirs));
        std::memcpy(ours, plain.data(), 16);
        aes256_encrypt_block(ours, key.data());
        ASSERT_EQ(0, std::memcmp(ours, theirs, 16));
        aes256_decrypt_block(ours, key.data());
        ASSERT_EQ(0, std::memcmp(ours, plain.data(), 16));
    }
}

}  // namespace
