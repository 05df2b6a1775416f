// DES (single block, subkeys derived on every call, S-boxes combined with the P permutation
// into eight word tables) and byte-oriented AES-256 whose round keys are expanded on the fly
// from a 96-byte context. Both give the published test vectors; CBC is built on DES here.
#include "common/cipher.h"

#include <array>
#include <cstring>

namespace {

// ---------------------------------------------------------------- DES tables

// The eight S-boxes, row by row (row = outer bits, column = inner four bits).
constexpr uint8_t kDesSbox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// P permutation: output bit j (1-based, bit 1 most significant) is input bit kDesP[j-1].
constexpr uint8_t kDesP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                               2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// Permuted choice 1: key bit numbers (1-based) of C0 then D0.
constexpr uint8_t kDesPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                 10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                 63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// Permuted choice 2: bit numbers (1-based) of CD that form the 48-bit subkey.
constexpr uint8_t kDesPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
                                 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
                                 41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
                                 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Total left rotation of C and D before each of the 16 rounds.
constexpr uint8_t kDesTotalRotation[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

// S-box n followed by P, for the 6-bit S-box input (first E bit most significant). The
// halves are held rotated left by one bit, so the tables are too.
constexpr std::array<std::array<uint32_t, 64>, 8> make_des_sp() {
    std::array<std::array<uint32_t, 64>, 8> sp{};
    for (int n = 0; n < 8; ++n) {
        for (int i = 0; i < 64; ++i) {
            const int row = ((i >> 4) & 2) | (i & 1);
            const int col = (i >> 1) & 15;
            const uint32_t s = uint32_t(kDesSbox[n][row][col]) << (28 - 4 * n);
            uint32_t p = 0;
            for (int j = 0; j < 32; ++j) p |= ((s >> (32 - kDesP[j])) & 1u) << (31 - j);
            sp[n][i] = (p << 1) | (p >> 31);
        }
    }
    return sp;
}

constexpr auto kDesSp = make_des_sp();

// Key schedules of the last call, 16 subkeys of two packed words each.
uint32_t g_des_enc_keys[32];
uint32_t g_des_dec_keys[32];

inline uint32_t rotl32(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }
inline uint32_t rotr32(uint32_t x, int s) { return (x >> s) | (x << (32 - s)); }

// Packs each subkey's eight 6-bit groups into two words laid out for the combined tables:
// word 0 holds the groups of S1, S3, S5, S7, word 1 those of S2, S4, S6, S8.
void des_cook_key(const uint32_t raw[32], uint32_t cooked[32]) {
    for (int i = 0; i < 16; ++i) {
        const uint32_t r0 = raw[2 * i], r1 = raw[2 * i + 1];
        cooked[2 * i] = ((r0 & 0x00fc0000u) << 6) | ((r0 & 0x00000fc0u) << 10) |
                        ((r1 & 0x00fc0000u) >> 10) | ((r1 & 0x00000fc0u) >> 6);
        cooked[2 * i + 1] = ((r0 & 0x0003f000u) << 12) | ((r0 & 0x0000003fu) << 16) |
                            ((r1 & 0x0003f000u) >> 4) | (r1 & 0x0000003fu);
    }
}

// The 16 subkeys of key, in round order (mode 0, encryption) or reversed (mode 1).
void des_key_schedule(const uint8_t key[8], int mode, uint32_t out[32]) {
    uint8_t pc1m[56];
    uint8_t cd[56];
    uint32_t raw[32];
    for (int j = 0; j < 56; ++j) {
        const int bit = kDesPc1[j] - 1;
        pc1m[j] = (key[bit >> 3] >> (7 - (bit & 7))) & 1;
    }
    for (int i = 0; i < 16; ++i) {
        const int m = mode == 1 ? (15 - i) * 2 : i * 2;
        for (int j = 0; j < 28; ++j) {
            const int l = j + kDesTotalRotation[i];
            cd[j] = pc1m[l < 28 ? l : l - 28];
            cd[j + 28] = pc1m[l < 28 ? l + 28 : l];
        }
        // 24 subkey bits per word, the first in bit 23.
        raw[m] = 0;
        raw[m + 1] = 0;
        for (int j = 0; j < 24; ++j) {
            raw[m] |= uint32_t(cd[kDesPc2[j] - 1]) << (23 - j);
            raw[m + 1] |= uint32_t(cd[kDesPc2[j + 24] - 1]) << (23 - j);
        }
    }
    des_cook_key(raw, out);
}

inline uint32_t des_f(uint32_t r, const uint32_t* k) {
    uint32_t w = rotr32(r, 4) ^ k[0];
    uint32_t f = kDesSp[6][w & 0x3f] | kDesSp[4][(w >> 8) & 0x3f] | kDesSp[2][(w >> 16) & 0x3f] |
                 kDesSp[0][(w >> 24) & 0x3f];
    w = r ^ k[1];
    f |= kDesSp[7][w & 0x3f] | kDesSp[5][(w >> 8) & 0x3f] | kDesSp[3][(w >> 16) & 0x3f] |
         kDesSp[1][(w >> 24) & 0x3f];
    return f;
}

// Initial permutation, 16 rounds with the given schedule, final permutation.
void des_crypt_block(const uint8_t in[8], const uint32_t keys[32], uint8_t out[8]) {
    uint32_t left = (uint32_t(in[0]) << 24) | (uint32_t(in[1]) << 16) | (uint32_t(in[2]) << 8) | in[3];
    uint32_t right = (uint32_t(in[4]) << 24) | (uint32_t(in[5]) << 16) | (uint32_t(in[6]) << 8) | in[7];
    uint32_t work;

    work = ((left >> 4) ^ right) & 0x0f0f0f0fu;
    right ^= work;
    left ^= work << 4;
    work = ((left >> 16) ^ right) & 0x0000ffffu;
    right ^= work;
    left ^= work << 16;
    work = ((right >> 2) ^ left) & 0x33333333u;
    left ^= work;
    right ^= work << 2;
    work = ((right >> 8) ^ left) & 0x00ff00ffu;
    left ^= work;
    right ^= work << 8;
    right = rotl32(right, 1);
    work = (left ^ right) & 0xaaaaaaaau;
    left ^= work;
    right ^= work;
    left = rotl32(left, 1);

    for (int round = 0; round < 16; round += 2) {
        left ^= des_f(right, keys + 2 * round);
        right ^= des_f(left, keys + 2 * round + 2);
    }

    right = rotr32(right, 1);
    work = (left ^ right) & 0xaaaaaaaau;
    left ^= work;
    right ^= work;
    left = rotr32(left, 1);
    work = ((left >> 8) ^ right) & 0x00ff00ffu;
    right ^= work;
    left ^= work << 8;
    work = ((left >> 2) ^ right) & 0x33333333u;
    right ^= work;
    left ^= work << 2;
    work = ((right >> 16) ^ left) & 0x0000ffffu;
    left ^= work;
    right ^= work << 16;
    work = ((right >> 4) ^ left) & 0x0f0f0f0fu;
    left ^= work;
    right ^= work << 4;

    out[0] = uint8_t(right >> 24);
    out[1] = uint8_t(right >> 16);
    out[2] = uint8_t(right >> 8);
    out[3] = uint8_t(right);
    out[4] = uint8_t(left >> 24);
    out[5] = uint8_t(left >> 16);
    out[6] = uint8_t(left >> 8);
    out[7] = uint8_t(left);
}

// ---------------------------------------------------------------- AES tables

constexpr uint8_t aes_xtime(uint8_t x) { return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

constexpr uint8_t gf_mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = aes_xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint8_t rotl8(uint8_t x, int s) { return uint8_t((x << s) | (x >> (8 - s))); }

// S-box: multiplicative inverse in GF(2^8) (0 maps to 0) followed by the affine map.
constexpr std::array<uint8_t, 256> make_aes_sbox() {
    std::array<uint8_t, 256> s{};
    for (int x = 0; x < 256; ++x) {
        uint8_t inv = 0;
        if (x != 0) {
            // x^254 = x^-1
            uint8_t p = uint8_t(x);
            inv = 1;
            for (int e = 254; e; e >>= 1) {
                if (e & 1) inv = gf_mul(inv, p);
                p = gf_mul(p, p);
            }
        }
        s[x] = uint8_t(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^ 0x63);
    }
    return s;
}

constexpr std::array<uint8_t, 256> make_aes_sbox_inv(const std::array<uint8_t, 256>& s) {
    std::array<uint8_t, 256> inv{};
    for (int x = 0; x < 256; ++x) inv[s[x]] = uint8_t(x);
    return inv;
}

constexpr auto kAesSbox = make_aes_sbox();
constexpr auto kAesSboxInv = make_aes_sbox_inv(kAesSbox);
static_assert(kAesSbox[0x00] == 0x63 && kAesSbox[0x53] == 0xed && kAesSboxInv[0x63] == 0x00);

void aes_sub_bytes(uint8_t* buf) {
    for (int i = 0; i < 16; ++i) buf[i] = kAesSbox[buf[i]];
}

void aes_sub_bytes_inv(uint8_t* buf) {
    for (int i = 0; i < 16; ++i) buf[i] = kAesSboxInv[buf[i]];
}

void aes_add_round_key(uint8_t* buf, const uint8_t* key) {
    for (int i = 0; i < 16; ++i) buf[i] ^= key[i];
}

// Adds the first round key and copies the key pair into the working key.
void aes_add_round_key_copy(uint8_t* buf, const uint8_t* key, uint8_t* copy) {
    for (int i = 0; i < 16; ++i) {
        copy[i] = key[i];
        buf[i] ^= key[i];
        copy[16 + i] = key[16 + i];
    }
}

// Bytes are column by column; row r turns left by r places.
void aes_shift_rows(uint8_t* buf) {
    uint8_t t = buf[1];
    buf[1] = buf[5];
    buf[5] = buf[9];
    buf[9] = buf[13];
    buf[13] = t;
    t = buf[2];
    buf[2] = buf[10];
    buf[10] = t;
    t = buf[6];
    buf[6] = buf[14];
    buf[14] = t;
    t = buf[3];
    buf[3] = buf[15];
    buf[15] = buf[11];
    buf[11] = buf[7];
    buf[7] = t;
}

void aes_shift_rows_inv(uint8_t* buf) {
    uint8_t t = buf[13];
    buf[13] = buf[9];
    buf[9] = buf[5];
    buf[5] = buf[1];
    buf[1] = t;
    t = buf[2];
    buf[2] = buf[10];
    buf[10] = t;
    t = buf[6];
    buf[6] = buf[14];
    buf[14] = t;
    t = buf[7];
    buf[7] = buf[11];
    buf[11] = buf[15];
    buf[15] = buf[3];
    buf[3] = t;
}

void aes_mix_columns(uint8_t* buf) {
    for (int i = 0; i < 16; i += 4) {
        const uint8_t a = buf[i], b = buf[i + 1], c = buf[i + 2], d = buf[i + 3];
        const uint8_t e = a ^ b ^ c ^ d;
        buf[i] ^= e ^ aes_xtime(a ^ b);
        buf[i + 1] ^= e ^ aes_xtime(b ^ c);
        buf[i + 2] ^= e ^ aes_xtime(c ^ d);
        buf[i + 3] ^= e ^ aes_xtime(d ^ a);
    }
}

// The inverse matrix is the forward one times {05 00 04 00}: pre-multiply, then mix.
void aes_mix_columns_inv(uint8_t* buf) {
    for (int i = 0; i < 16; i += 4) {
        const uint8_t u = aes_xtime(aes_xtime(buf[i] ^ buf[i + 2]));
        const uint8_t v = aes_xtime(aes_xtime(buf[i + 1] ^ buf[i + 3]));
        buf[i] ^= u;
        buf[i + 1] ^= v;
        buf[i + 2] ^= u;
        buf[i + 3] ^= v;
    }
    aes_mix_columns(buf);
}

// One step of the key expansion: the next round-key pair from the current one.
void aes_expand_enc_key(uint8_t* k, uint8_t* rc) {
    k[0] ^= kAesSbox[k[29]] ^ *rc;
    k[1] ^= kAesSbox[k[30]];
    k[2] ^= kAesSbox[k[31]];
    k[3] ^= kAesSbox[k[28]];
    *rc = aes_xtime(*rc);
    for (int i = 4; i < 16; i += 4) {
        k[i] ^= k[i - 4];
        k[i + 1] ^= k[i - 3];
        k[i + 2] ^= k[i - 2];
        k[i + 3] ^= k[i - 1];
    }
    k[16] ^= kAesSbox[k[12]];
    k[17] ^= kAesSbox[k[13]];
    k[18] ^= kAesSbox[k[14]];
    k[19] ^= kAesSbox[k[15]];
    for (int i = 20; i < 32; i += 4) {
        k[i] ^= k[i - 4];
        k[i + 1] ^= k[i - 3];
        k[i + 2] ^= k[i - 2];
        k[i + 3] ^= k[i - 1];
    }
}

// The inverse step: the previous round-key pair. rc is halved before use.
void aes_expand_dec_key(uint8_t* k, uint8_t* rc) {
    for (int i = 28; i > 16; i -= 4) {
        k[i] ^= k[i - 4];
        k[i + 1] ^= k[i - 3];
        k[i + 2] ^= k[i - 2];
        k[i + 3] ^= k[i - 1];
    }
    k[16] ^= kAesSbox[k[12]];
    k[17] ^= kAesSbox[k[13]];
    k[18] ^= kAesSbox[k[14]];
    k[19] ^= kAesSbox[k[15]];
    for (int i = 12; i > 0; i -= 4) {
        k[i] ^= k[i - 4];
        k[i + 1] ^= k[i - 3];
        k[i + 2] ^= k[i - 2];
        k[i + 3] ^= k[i - 1];
    }
    *rc = uint8_t(*rc >> 1);
    k[0] ^= kAesSbox[k[29]] ^ *rc;
    k[1] ^= kAesSbox[k[30]];
    k[2] ^= kAesSbox[k[31]];
    k[3] ^= kAesSbox[k[28]];
}

}  // namespace

// ---------------------------------------------------------------- DES

void des_encrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]) {
    des_key_schedule(key, 0, g_des_enc_keys);
    des_crypt_block(in, g_des_enc_keys, out);
}

void des_decrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]) {
    des_key_schedule(key, 1, g_des_dec_keys);
    des_crypt_block(in, g_des_dec_keys, out);
}

bool des_cbc_encrypt(uint8_t* data, size_t len, const uint8_t key[8], const uint8_t iv[8]) {
    if (len % 8 != 0) return false;
    des_key_schedule(key, 0, g_des_enc_keys);
    const uint8_t* prev = iv;
    for (size_t off = 0; off < len; off += 8) {
        uint8_t* block = data + off;
        for (int i = 0; i < 8; ++i) block[i] ^= prev[i];
        des_crypt_block(block, g_des_enc_keys, block);
        prev = block;
    }
    return true;
}

bool des_cbc_decrypt(uint8_t* data, size_t len, const uint8_t key[8], const uint8_t iv[8]) {
    if (len % 8 != 0) return false;
    des_key_schedule(key, 1, g_des_dec_keys);
    uint8_t prev[8];
    uint8_t cipher[8];
    std::memcpy(prev, iv, 8);
    for (size_t off = 0; off < len; off += 8) {
        uint8_t* block = data + off;
        std::memcpy(cipher, block, 8);
        des_crypt_block(block, g_des_dec_keys, block);
        for (int i = 0; i < 8; ++i) block[i] ^= prev[i];
        std::memcpy(prev, cipher, 8);
    }
    return true;
}

// ---------------------------------------------------------------- AES-256

void aes256_init(Aes256Context* ctx, const uint8_t key[32]) {
    std::memcpy(ctx->enckey, key, 32);
    std::memcpy(ctx->deckey, key, 32);
    uint8_t rc = 1;
    for (int i = 0; i < 7; ++i) aes_expand_enc_key(ctx->deckey, &rc);
}

void aes256_encrypt_ecb(Aes256Context* ctx, uint8_t block[16]) {
    uint8_t rc = 1;
    aes_add_round_key_copy(block, ctx->enckey, ctx->key);
    for (int round = 1; round < 14; ++round) {
        aes_sub_bytes(block);
        aes_shift_rows(block);
        aes_mix_columns(block);
        if (round & 1) {
            aes_add_round_key(block, ctx->key + 16);
        } else {
            aes_expand_enc_key(ctx->key, &rc);
            aes_add_round_key(block, ctx->key);
        }
    }
    aes_sub_bytes(block);
    aes_shift_rows(block);
    aes_expand_enc_key(ctx->key, &rc);
    aes_add_round_key(block, ctx->key);
}

void aes256_decrypt_ecb(Aes256Context* ctx, uint8_t block[16]) {
    uint8_t rc = 0x80;
    aes_add_round_key_copy(block, ctx->deckey, ctx->key);
    aes_shift_rows_inv(block);
    aes_sub_bytes_inv(block);
    for (int round = 13; round > 0; --round) {
        if (round & 1) {
            aes_expand_dec_key(ctx->key, &rc);
            aes_add_round_key(block, ctx->key + 16);
        } else {
            aes_add_round_key(block, ctx->key);
        }
        aes_mix_columns_inv(block);
        aes_shift_rows_inv(block);
        aes_sub_bytes_inv(block);
    }
    aes_add_round_key(block, ctx->key);
}

void aes256_done(Aes256Context* ctx) {
    std::memset(ctx->key, 0, sizeof ctx->key);
    std::memset(ctx->enckey, 0, sizeof ctx->enckey);
    std::memset(ctx->deckey, 0, sizeof ctx->deckey);
}

void aes256_encrypt_block(uint8_t block[16], const uint8_t key[32]) {
    Aes256Context ctx;
    aes256_init(&ctx, key);
    aes256_encrypt_ecb(&ctx, block);
}

void aes256_decrypt_block(uint8_t block[16], const uint8_t key[32]) {
    Aes256Context ctx;
    aes256_init(&ctx, key);
    aes256_decrypt_ecb(&ctx, block);
}
