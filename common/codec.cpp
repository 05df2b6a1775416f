// The codec toolkit: the process-wide entry-point table, the crypt64 text form (the
// system's own base-64 with the crypt alphabet), standard base64, hex, the two CRC-16
// variants, an 8-bit checksum and the crypt-alphabet number writer.
#include "common/codec.h"

#include <array>
#include <cstdlib>
#include <cstring>

CodecApiTable CodecApi;

namespace {

constexpr char kCryptAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexLower[] = "0123456789abcdef";
const char kHexUpper[] = "0123456789ABCDEF";

// Reverse lookup of a 64-character alphabet: byte -> index, -1 for bytes outside it.
constexpr std::array<int8_t, 256> make_reverse(const char* alphabet) {
    std::array<int8_t, 256> r{};
    for (auto& v : r) v = -1;
    for (int i = 0; i < 64; ++i) r[uint8_t(alphabet[i])] = int8_t(i);
    return r;
}

constexpr auto kCryptReverse = make_reverse(kCryptAlphabet);
constexpr auto kBase64Reverse = make_reverse(kBase64Alphabet);

// The reflected CRC-16 table for polynomial 0x8005 (0xA001 shifted right), split into its
// high and low bytes.
constexpr std::array<uint16_t, 256> make_crc16_table() {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t c = uint16_t(i);
        for (int k = 0; k < 8; ++k) c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint8_t, 256> crc16_table_byte(int high) {
    constexpr auto full = make_crc16_table();
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = uint8_t(high ? full[i] >> 8 : full[i]);
    return t;
}

constexpr auto kCrc16High = crc16_table_byte(1);
constexpr auto kCrc16Low = crc16_table_byte(0);

// Largest inputs whose text length 4*ceil(n/3) still fits the result type.
constexpr int32_t kCrypt64MaxInput = 1610612733;
constexpr uint32_t kBase64MaxInput = 3221225469u;

// Pieces of the built-in key: four 64-bit values as high and low halves, each stored
// XORed with a mask. Read through volatile so the key is put together at run time.
const volatile uint32_t kKeyHigh[4] = {0xaa4cfd32, 0x32ed0e1a, 0xcf3afa4f, 0x4d64a1bc};
const volatile uint32_t kKeyLow[4] = {0xf63ae1da, 0xdf6c8abd, 0x9791f2ac, 0x80f185f9};
const volatile uint32_t kKeyMask[2] = {0x3a8f3b9d, 0x7cb6ecf2};

void build_key(uint8_t key[32]) {
    for (int i = 0; i < 4; ++i) {
        const uint64_t mask = (uint64_t(kKeyMask[0]) << 32) | kKeyMask[1];
        uint64_t v = ((uint64_t(kKeyHigh[i]) << 32) | kKeyLow[i]) ^ mask;
        const int r = 13 * (i + 1);
        v = (v << r) | (v >> (64 - r));
        for (int b = 0; b < 8; ++b) key[8 * i + b] = uint8_t(v >> (8 * b));
    }
}

void codec_base64_decode(const uint8_t* in, int32_t in_len, uint8_t* out, int32_t* out_len) {
    if (out_len == nullptr) return;
    if (in_len < 1) {
        *out_len = 0;
        return;
    }
    const int32_t capacity = *out_len < 0 ? 0 : *out_len;
    int32_t written = 0;
    uint8_t group[4];
    int filled = 0;
    int pads = 0;
    for (int32_t i = 0; i < in_len; ++i) {
        const uint8_t c = in[i];
        uint8_t value;
        if (c == '=') {
            value = 0;
            ++pads;
        } else if (kBase64Reverse[c] >= 0) {
            value = uint8_t(kBase64Reverse[c]);
        } else {
            continue;
        }
        group[filled++] = value;
        if (filled < 4) continue;
        filled = 0;
        // Every "=" so far shortens this group; a group never yields less than one byte.
        const int yield = pads >= 2 ? 1 : 3 - pads;
        if (yield > capacity - written) return;
        const uint8_t bytes[3] = {uint8_t((group[0] << 2) | (group[1] >> 4)),
                                  uint8_t((group[1] << 4) | (group[2] >> 2)),
                                  uint8_t((group[2] << 6) | group[3])};
        std::memcpy(out + written, bytes, size_t(yield));
        written += yield;
    }
    if (filled != 0) return;
    *out_len = written;
}

uint32_t codec_base64_encode(char* out, const uint8_t* in, uint32_t n) {
    if (n == 0 || n > kBase64MaxInput) return 0;
    uint32_t pos = 0;
    for (uint32_t i = 0; i < n; i += 3) {
        const uint32_t b0 = in[i];
        const uint32_t b1 = i + 1 < n ? in[i + 1] : 0;
        const uint32_t b2 = i + 2 < n ? in[i + 2] : 0;
        const uint32_t v = (b0 << 16) | (b1 << 8) | b2;
        out[pos++] = kBase64Alphabet[(v >> 18) & 63];
        out[pos++] = kBase64Alphabet[(v >> 12) & 63];
        out[pos++] = kBase64Alphabet[(v >> 6) & 63];
        out[pos++] = kBase64Alphabet[v & 63];
    }
    if (n % 3 == 1) {
        out[pos - 2] = '=';
        out[pos - 1] = '=';
    } else if (n % 3 == 2) {
        out[pos - 1] = '=';
    }
    return pos;
}

uint16_t codec_crc16_modbus(const uint8_t* buf, int32_t len) {
    uint8_t hi = 0xFF, lo = 0xFF;
    for (int32_t i = 0; i < len; ++i) {
        const uint8_t idx = lo ^ buf[i];
        lo = hi ^ kCrc16Low[idx];
        hi = kCrc16High[idx];
    }
    return uint16_t((hi << 8) | lo);
}

uint16_t codec_crc16_arc(const uint8_t* buf, int32_t len) {
    uint16_t crc = 0;
    for (int32_t i = 0; i < len; ++i) {
        crc ^= buf[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

void codec_crypt_to64(char* out, uint32_t value, uint8_t n) {
    for (uint8_t i = 0; i < n; ++i) {
        out[i] = kCryptAlphabet[value & 63];
        value >>= 6;
    }
}

void codec_byte_to_hex(uint8_t b, char* out, uint8_t upper) {
    const char* digits = upper ? kHexUpper : kHexLower;
    out[0] = digits[b >> 4];
    out[1] = digits[b & 15];
}

void codec_byte_to_hex2(uint8_t b, char* out, uint8_t upper) { codec_byte_to_hex(b, out, upper); }

int32_t codec_crypt64_encode(char* out, const uint8_t* in, int32_t n) {
    if (n <= 0 || n > kCrypt64MaxInput) return 0;
    const int32_t groups = (n + 2) / 3;
    // A zero-completed copy, so the caller's input is never read past n.
    uint8_t* copy = static_cast<uint8_t*>(std::calloc(size_t(groups), 3));
    if (copy == nullptr) return 0;
    std::memcpy(copy, in, size_t(n));
    for (int32_t g = 0; g < groups; ++g) {
        const uint8_t b0 = copy[3 * g], b1 = copy[3 * g + 1], b2 = copy[3 * g + 2];
        char* o = out + 4 * g;
        o[0] = kCryptAlphabet[b0 & 63];
        o[1] = kCryptAlphabet[((b1 & 15) << 2) | (b0 >> 6)];
        o[2] = kCryptAlphabet[((b2 & 3) << 4) | (b1 >> 4)];
        o[3] = kCryptAlphabet[b2 >> 2];
    }
    std::free(copy);
    return 4 * groups;
}

int32_t codec_crypt64_decode(uint8_t* out, const char* text, int32_t len) {
    if (len <= 0 || len % 4 != 0) return 0;
    const int32_t groups = len / 4;
    for (int32_t g = 0; g < groups; ++g) {
        int idx[4];
        for (int k = 0; k < 4; ++k) {
            idx[k] = kCryptReverse[uint8_t(text[4 * g + k])];
            if (idx[k] < 0) return 0;
        }
        out[3 * g] = uint8_t(idx[0] + 64 * (idx[1] & 3));
        out[3 * g + 1] = uint8_t((idx[1] >> 2) + 16 * (idx[2] & 15));
        out[3 * g + 2] = uint8_t((idx[2] >> 4) + 4 * idx[3]);
    }
    return 3 * groups;
}

uint8_t codec_checksum8(const uint8_t* buf, int32_t len) {
    uint8_t sum = 0;
    for (int32_t i = 0; i < len; ++i) sum = uint8_t(sum + buf[i]);
    return sum;
}

uint32_t codec_hex_to_uint(const char* text, uint8_t n) {
    uint32_t value = 0;
    for (uint8_t i = 0; i < n; ++i) {
        const char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = uint32_t(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = uint32_t(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = uint32_t(c - 'A' + 10);
        } else {
            break;
        }
        value = (value << 4) | digit;
    }
    return value;
}

}  // namespace

void codec_table_init() {
    CodecApi.codec_base64_decode = codec_base64_decode;
    CodecApi.codec_base64_encode = codec_base64_encode;
    CodecApi.codec_crc16_modbus = codec_crc16_modbus;
    CodecApi.codec_crc16_arc = codec_crc16_arc;
    CodecApi.codec_crypt_to64 = codec_crypt_to64;
    CodecApi.codec_byte_to_hex = codec_byte_to_hex;
    CodecApi.md5_init = md5_init;
    CodecApi.md5_update = md5_update;
    CodecApi.md5_final = md5_final;
    CodecApi.usm_password_to_key_md5 = usm_password_to_key_md5;
    CodecApi.hmac_md5 = hmac_md5;
    CodecApi.codec_crypt64_encode = codec_crypt64_encode;
    CodecApi.codec_crypt64_decode = codec_crypt64_decode;
    CodecApi.des_encrypt_block = des_encrypt_block;
    CodecApi.des_decrypt_block = des_decrypt_block;
    CodecApi.aes256_encrypt_block = aes256_encrypt_block;
    CodecApi.aes256_decrypt_block = aes256_decrypt_block;
    CodecApi.codec_checksum8 = codec_checksum8;
    CodecApi.codec_hex_to_uint = codec_hex_to_uint;
    CodecApi.codec_byte_to_hex2 = codec_byte_to_hex2;
    build_key(CodecApi.CODEC_AES_KEY);
}
