// MD5 with an explicit context, HMAC-MD5 with a 16-byte key and the SNMPv3 USM
// password-to-key function for MD5. All routines use only their arguments and the
// stack: they are re-entrant and allocate nothing.
#pragma once
#include <cstddef>
#include <cstdint>

struct Md5Context {
    uint32_t count_hi;    // message length in bits, high word
    uint32_t count_lo;    // message length in bits, low word; (count_lo / 8) mod 64 = bytes in buffer
    uint32_t state[4];    // chaining values A, B, C, D
    uint8_t buffer[64];   // partial block not yet compressed
};

void md5_init(Md5Context* ctx);
// Feeds at most 65535 bytes.
void md5_update(Md5Context* ctx, const uint8_t* data, uint16_t length);
// Pads, appends the bit count and writes the 16-byte digest. The context is not cleared.
void md5_final(Md5Context* ctx, uint8_t digest[16]);
// The compression function over one 64-byte block.
void md5_transform(Md5Context* ctx, const uint8_t block[64]);
// Little-endian conversion between bytes and 32-bit words (count = number of words).
void md5_decode_words(uint32_t* words, const uint8_t* bytes, size_t count);
void md5_encode_words(uint8_t* bytes, const uint32_t* words, size_t count);

// HMAC-MD5 over data with a 16-byte key (extended by 48 zero bytes); out gets all 16 bytes.
void hmac_md5(Md5Context* ctx, const uint8_t* data, uint16_t length, const uint8_t key[16],
              uint8_t out[16]);

// The non-localised key Ku: MD5 over 1 MiB of the pass phrase repeated end to end.
// A pass length of 0 writes nothing.
void usm_password_to_ku_md5(Md5Context* ctx, uint8_t ku[16], const uint8_t* pass, uint8_t pass_len);
// The localised key MD5(Ku | engine id | Ku). A pass length of 0 writes nothing.
void usm_password_to_key_md5(Md5Context* ctx, uint8_t key[16], const uint8_t* pass, uint8_t pass_len,
                             const uint8_t* engine_id, uint16_t engine_id_len);
