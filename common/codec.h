// The codec toolkit shared by every program: one process-wide table of entry points
// (text codecs, checksums, digests, block ciphers) that also carries the built-in AES-256
// key. codec_table_init fills it once at start-up; it is read-only afterwards.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/cipher.h"
#include "common/digest.h"

// The slot order is fixed: 24 eight-byte slots, slots 15-18 holding the key.
struct CodecApiTable {
    // 0: standard base64 decode; *out_len is the capacity on entry, the bytes written on success
    void (*codec_base64_decode)(const uint8_t* in, int32_t in_len, uint8_t* out, int32_t* out_len);
    // 1: standard base64 encode with "=" padding; returns 4*ceil(n/3), no terminator
    uint32_t (*codec_base64_encode)(char* out, const uint8_t* in, uint32_t n);
    // 2: CRC-16/MODBUS (initial 0xFFFF), table-driven
    uint16_t (*codec_crc16_modbus)(const uint8_t* buf, int32_t len);
    // 3: CRC-16/ARC (initial 0), bit by bit
    uint16_t (*codec_crc16_arc)(const uint8_t* buf, int32_t len);
    // 4: n crypt-alphabet characters of value, least significant six bits first
    void (*codec_crypt_to64)(char* out, uint32_t value, uint8_t n);
    // 5: two hex digits of b, upper case when upper is nonzero
    void (*codec_byte_to_hex)(uint8_t b, char* out, uint8_t upper);
    // 6
    void (*md5_init)(Md5Context* ctx);
    // 7: at most 65535 bytes per call
    void (*md5_update)(Md5Context* ctx, const uint8_t* data, uint16_t length);
    // 8
    void (*md5_final)(Md5Context* ctx, uint8_t digest[16]);
    // 9: localised USM key for MD5; pass length 0 writes nothing
    void (*usm_password_to_key_md5)(Md5Context* ctx, uint8_t key[16], const uint8_t* pass,
                                    uint8_t pass_len, const uint8_t* engine_id,
                                    uint16_t engine_id_len);
    // 10: HMAC-MD5 with a 16-byte key, full 16-byte result
    void (*hmac_md5)(Md5Context* ctx, const uint8_t* data, uint16_t length, const uint8_t key[16],
                     uint8_t out[16]);
    // 11: crypt64 encode; returns 4*ceil(n/3), 0 when out of memory; no terminator
    int32_t (*codec_crypt64_encode)(char* out, const uint8_t* in, int32_t n);
    // 12: crypt64 decode; returns 3*len/4, 0 on a bad length or foreign character
    int32_t (*codec_crypt64_decode)(uint8_t* out, const char* text, int32_t len);
    // 13
    void (*des_encrypt_block)(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]);
    // 14
    void (*des_decrypt_block)(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]);
    // 15-18: the built-in AES-256 key; callers pass this address as the key
    uint8_t CODEC_AES_KEY[32];
    // 19: in place
    void (*aes256_encrypt_block)(uint8_t block[16], const uint8_t key[32]);
    // 20: in place
    void (*aes256_decrypt_block)(uint8_t block[16], const uint8_t key[32]);
    // 21: sum of the bytes modulo 256
    uint8_t (*codec_checksum8)(const uint8_t* buf, int32_t len);
    // 22: at most n hex digits, up to the first other character
    uint32_t (*codec_hex_to_uint)(const char* text, uint8_t n);
    // 23: same as slot 5
    void (*codec_byte_to_hex2)(uint8_t b, char* out, uint8_t upper);
};
static_assert(sizeof(CodecApiTable) == 192, "24 eight-byte slots");
static_assert(offsetof(CodecApiTable, CODEC_AES_KEY) == 120, "key in slots 15-18");

extern CodecApiTable CodecApi;

// Fills every slot and builds the key. Called once per program at start-up.
void codec_table_init();

