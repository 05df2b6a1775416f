// MD5 (message digest with the sine-derived constants), HMAC-MD5 with a 16-byte key and
// the USM password-to-key and key localisation for MD5. The compression function is fully
// unrolled and keeps the chaining values in registers across consecutive blocks.
#include "common/digest.h"

#include <cstring>

namespace {

const uint8_t kMd5Padding[64] = {0x80};

inline uint32_t rotl32(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t load_le32(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap32(w);
#endif
    return w;
}

inline void store_le32(uint8_t* p, uint32_t w) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    w = __builtin_bswap32(w);
#endif
    std::memcpy(p, &w, 4);
}

// Each step adds the message word and constant first: they do not depend on the previous
// step, so only the round function and the rotation lie on the critical path.
#define MD5_F(a, b, c, d, x, t, s)               \
    a += (x) + (t);                              \
    a += ((c ^ d) & b) ^ d;                      \
    a = rotl32(a, s) + b;
// (b AND d) + (c AND NOT d): the two terms share no bits, so adding equals OR, and the
// term without b can start before b is known.
#define MD5_G(a, b, c, d, x, t, s)               \
    a += (x) + (t);                              \
    a += (~d & c);                               \
    a += (d & b);                                \
    a = rotl32(a, s) + b;
#define MD5_H(a, b, c, d, x, t, s)               \
    a += (x) + (t);                              \
    a += (b ^ c ^ d);                            \
    a = rotl32(a, s) + b;
#define MD5_I(a, b, c, d, x, t, s)               \
    a += (x) + (t);                              \
    a += (c ^ (b | ~d));                         \
    a = rotl32(a, s) + b;

// Compresses nblocks consecutive 64-byte blocks into state.
void md5_blocks(uint32_t state[4], const uint8_t* p, size_t nblocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; nblocks > 0; --nblocks, p += 64) {
        const uint32_t x0 = load_le32(p), x1 = load_le32(p + 4), x2 = load_le32(p + 8),
                       x3 = load_le32(p + 12), x4 = load_le32(p + 16), x5 = load_le32(p + 20),
                       x6 = load_le32(p + 24), x7 = load_le32(p + 28), x8 = load_le32(p + 32),
                       x9 = load_le32(p + 36), x10 = load_le32(p + 40), x11 = load_le32(p + 44),
                       x12 = load_le32(p + 48), x13 = load_le32(p + 52), x14 = load_le32(p + 56),
                       x15 = load_le32(p + 60);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

        MD5_F(a, b, c, d, x0, 0xd76aa478, 7)
        MD5_F(d, a, b, c, x1, 0xe8c7b756, 12)
        MD5_F(c, d, a, b, x2, 0x242070db, 17)
        MD5_F(b, c, d, a, x3, 0xc1bdceee, 22)
        MD5_F(a, b, c, d, x4, 0xf57c0faf, 7)
        MD5_F(d, a, b, c, x5, 0x4787c62a, 12)
        MD5_F(c, d, a, b, x6, 0xa8304613, 17)
        MD5_F(b, c, d, a, x7, 0xfd469501, 22)
        MD5_F(a, b, c, d, x8, 0x698098d8, 7)
        MD5_F(d, a, b, c, x9, 0x8b44f7af, 12)
        MD5_F(c, d, a, b, x10, 0xffff5bb1, 17)
        MD5_F(b, c, d, a, x11, 0x895cd7be, 22)
        MD5_F(a, b, c, d, x12, 0x6b901122, 7)
        MD5_F(d, a, b, c, x13, 0xfd987193, 12)
        MD5_F(c, d, a, b, x14, 0xa679438e, 17)
        MD5_F(b, c, d, a, x15, 0x49b40821, 22)

        MD5_G(a, b, c, d, x1, 0xf61e2562, 5)
        MD5_G(d, a, b, c, x6, 0xc040b340, 9)
        MD5_G(c, d, a, b, x11, 0x265e5a51, 14)
        MD5_G(b, c, d, a, x0, 0xe9b6c7aa, 20)
        MD5_G(a, b, c, d, x5, 0xd62f105d, 5)
        MD5_G(d, a, b, c, x10, 0x02441453, 9)
        MD5_G(c, d, a, b, x15, 0xd8a1e681, 14)
        MD5_G(b, c, d, a, x4, 0xe7d3fbc8, 20)
        MD5_G(a, b, c, d, x9, 0x21e1cde6, 5)
        MD5_G(d, a, b, c, x14, 0xc33707d6, 9)
        MD5_G(c, d, a, b, x3, 0xf4d50d87, 14)
        MD5_G(b, c, d, a, x8, 0x455a14ed, 20)
        MD5_G(a, b, c, d, x13, 0xa9e3e905, 5)
        MD5_G(d, a, b, c, x2, 0xfcefa3f8, 9)
        MD5_G(c, d, a, b, x7, 0x676f02d9, 14)
        MD5_G(b, c, d, a, x12, 0x8d2a4c8a, 20)

        MD5_H(a, b, c, d, x5, 0xfffa3942, 4)
        MD5_H(d, a, b, c, x8, 0x8771f681, 11)
        MD5_H(c, d, a, b, x11, 0x6d9d6122, 16)
        MD5_H(b, c, d, a, x14, 0xfde5380c, 23)
        MD5_H(a, b, c, d, x1, 0xa4beea44, 4)
        MD5_H(d, a, b, c, x4, 0x4bdecfa9, 11)
        MD5_H(c, d, a, b, x7, 0xf6bb4b60, 16)
        MD5_H(b, c, d, a, x10, 0xbebfbc70, 23)
        MD5_H(a, b, c, d, x13, 0x289b7ec6, 4)
        MD5_H(d, a, b, c, x0, 0xeaa127fa, 11)
        MD5_H(c, d, a, b, x3, 0xd4ef3085, 16)
        MD5_H(b, c, d, a, x6, 0x04881d05, 23)
        MD5_H(a, b, c, d, x9, 0xd9d4d039, 4)
        MD5_H(d, a, b, c, x12, 0xe6db99e5, 11)
        MD5_H(c, d, a, b, x15, 0x1fa27cf8, 16)
        MD5_H(b, c, d, a, x2, 0xc4ac5665, 23)

        MD5_I(a, b, c, d, x0, 0xf4292244, 6)
        MD5_I(d, a, b, c, x7, 0x432aff97, 10)
        MD5_I(c, d, a, b, x14, 0xab9423a7, 15)
        MD5_I(b, c, d, a, x5, 0xfc93a039, 21)
        MD5_I(a, b, c, d, x12, 0x655b59c3, 6)
        MD5_I(d, a, b, c, x3, 0x8f0ccc92, 10)
        MD5_I(c, d, a, b, x10, 0xffeff47d, 15)
        MD5_I(b, c, d, a, x1, 0x85845dd1, 21)
        MD5_I(a, b, c, d, x8, 0x6fa87e4f, 6)
        MD5_I(d, a, b, c, x15, 0xfe2ce6e0, 10)
        MD5_I(c, d, a, b, x6, 0xa3014314, 15)
        MD5_I(b, c, d, a, x13, 0x4e0811a1, 21)
        MD5_I(a, b, c, d, x4, 0xf7537e82, 6)
        MD5_I(d, a, b, c, x11, 0xbd3af235, 10)
        MD5_I(c, d, a, b, x2, 0x2ad7d2bb, 15)
        MD5_I(b, c, d, a, x9, 0xeb86d391, 21)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

constexpr uint32_t kKuBytes = 1048576;  // RFC 3414: the pass phrase hashed over exactly 1 MiB

}  // namespace

void md5_decode_words(uint32_t* words, const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) words[i] = load_le32(bytes + 4 * i);
}

void md5_encode_words(uint8_t* bytes, const uint32_t* words, size_t count) {
    for (size_t i = 0; i < count; ++i) store_le32(bytes + 4 * i, words[i]);
}

void md5_init(Md5Context* ctx) {
    ctx->count_hi = 0;
    ctx->count_lo = 0;
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
}

void md5_transform(Md5Context* ctx, const uint8_t block[64]) { md5_blocks(ctx->state, block, 1); }

void md5_update(Md5Context* ctx, const uint8_t* data, uint16_t length) {
    if (length == 0) return;
    size_t fill = (ctx->count_lo >> 3) & 63;
    const uint32_t bits = uint32_t(length) << 3;
    ctx->count_lo += bits;
    if (ctx->count_lo < bits) ctx->count_hi++;

    size_t i = 0;
    if (fill + length >= 64) {
        i = 64 - fill;
        std::memcpy(ctx->buffer + fill, data, i);
        md5_blocks(ctx->state, ctx->buffer, 1);
        const size_t whole = (length - i) / 64;
        md5_blocks(ctx->state, data + i, whole);
        i += whole * 64;
        fill = 0;
    }
    if (i < length) std::memcpy(ctx->buffer + fill, data + i, length - i);
}

void md5_final(Md5Context* ctx, uint8_t digest[16]) {
    uint8_t count[8];
    store_le32(count, ctx->count_lo);
    store_le32(count + 4, ctx->count_hi);
    const size_t fill = (ctx->count_lo >> 3) & 63;
    const size_t pad = fill < 56 ? 56 - fill : 120 - fill;
    md5_update(ctx, kMd5Padding, uint16_t(pad));
    md5_update(ctx, count, 8);
    md5_encode_words(digest, ctx->state, 4);
}

void hmac_md5(Md5Context* ctx, const uint8_t* data, uint16_t length, const uint8_t key[16],
              uint8_t out[16]) {
    uint8_t pad[64];
    uint8_t inner[16];
    for (int i = 0; i < 64; ++i) pad[i] = uint8_t((i < 16 ? key[i] : 0) ^ 0x36);
    md5_init(ctx);
    md5_update(ctx, pad, 64);
    md5_update(ctx, data, length);
    md5_final(ctx, inner);

    for (int i = 0; i < 64; ++i) pad[i] = uint8_t((i < 16 ? key[i] : 0) ^ 0x5c);
    md5_init(ctx);
    md5_update(ctx, pad, 64);
    md5_update(ctx, inner, 16);
    md5_final(ctx, out);
}

void usm_password_to_ku_md5(Md5Context* ctx, uint8_t ku[16], const uint8_t* pass, uint8_t pass_len) {
    if (pass_len == 0) return;
    // The pass phrase repeated far enough that 64 bytes can be taken from any offset below
    // its length; the offset of the next block advances by 64 modulo the length.
    uint8_t ring[255 + 64];
    const size_t ring_len = size_t(pass_len) + 64;
    for (size_t j = 0; j < ring_len; ++j) ring[j] = pass[j % pass_len];

    md5_init(ctx);
    size_t off = 0;
    for (uint32_t done = 0; done < kKuBytes; done += 64) {
        md5_update(ctx, ring + off, 64);
        off = (off + 64) % pass_len;
    }
    md5_final(ctx, ku);
}

void usm_password_to_key_md5(Md5Context* ctx, uint8_t key[16], const uint8_t* pass, uint8_t pass_len,
                             const uint8_t* engine_id, uint16_t engine_id_len) {
    if (pass_len == 0) return;
    uint8_t ku[16];
    usm_password_to_ku_md5(ctx, ku, pass, pass_len);
    md5_init(ctx);
    md5_update(ctx, ku, 16);
    md5_update(ctx, engine_id, engine_id_len);
    md5_update(ctx, ku, 16);
    md5_final(ctx, key);
}
