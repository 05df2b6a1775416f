// Single-block DES and AES-256, and DES in CBC mode built on the DES block routines.
// The DES routines rewrite module-level key schedules on every call and must not run on
// two threads at once; the AES routines use only their arguments and the stack.
#pragma once
#include <cstddef>
#include <cstdint>

// One 64-bit block; the first byte is the most significant. The key's parity bits are
// ignored. in and out may be the same buffer.
void des_encrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]);
void des_decrypt_block(const uint8_t in[8], const uint8_t key[8], uint8_t out[8]);

// CBC over data in place; len must be a multiple of 8 (else nothing is done and false is
// returned). The iv is not changed.
bool des_cbc_encrypt(uint8_t* data, size_t len, const uint8_t key[8], const uint8_t iv[8]);
bool des_cbc_decrypt(uint8_t* data, size_t len, const uint8_t key[8], const uint8_t iv[8]);

// Working state of one AES-256 block operation; round keys are expanded on the fly.
struct Aes256Context {
    uint8_t key[32];     // working round-key pair
    uint8_t enckey[32];  // the cipher key: first round-key pair of encryption
    uint8_t deckey[32];  // last round-key pair: first of decryption
};

void aes256_init(Aes256Context* ctx, const uint8_t key[32]);
void aes256_encrypt_ecb(Aes256Context* ctx, uint8_t block[16]);
void aes256_decrypt_ecb(Aes256Context* ctx, uint8_t block[16]);
// Clears the three key fields.
void aes256_done(Aes256Context* ctx);

// AES-256 of one 16-byte block, in place.
void aes256_encrypt_block(uint8_t block[16], const uint8_t key[32]);
void aes256_decrypt_block(uint8_t block[16], const uint8_t key[32]);
