// Stored-password coding of the settings file: plain, crypt64, or AES-256 blocks in crypt64.
#include <cstring>

#include "common/codec.h"
#include "common/settings_file.h"
#include "common/text.h"

void cfg_code_secret(uint8_t mode, const char* plain, int length, char* out) {
  out[0] = 0;
  if (length < 0) length = 0;
  if (length > 96) length = 96;  // every group's plain texts are far shorter
  if (mode == 0) {
    memcpy(out, plain, size_t(length));
    out[length] = 0;
    return;
  }
  uint8_t buffer[112] = {};
  memcpy(buffer, plain, size_t(length));
  int coded_bytes = length;
  if (mode == 2) {
    int blocks = (length + 15) / 16;
    for (int b = 0; b < blocks; ++b) CodecApi.aes256_encrypt_block(buffer + 16 * b, CodecApi.CODEC_AES_KEY);
    coded_bytes = blocks * 16;
  }
  int n = coded_bytes ? CodecApi.codec_crypt64_encode(out, buffer, coded_bytes) : 0;
  out[n] = 0;
}

void cfg_decode_secret(uint8_t mode, const char* stored, char* out) {
  out[0] = 0;
  size_t len = strlen(stored);
  if (mode == 0) {
    text_copy8(out, 256, stored);
    return;
  }
  // Decoding gives 3 bytes per 4 characters; keep within the 256-byte room.
  if (len > 336) return;
  uint8_t bytes[256] = {};
  int n = CodecApi.codec_crypt64_decode(bytes, stored, int32_t(len));
  if (n <= 0) return;
  if (mode == 1) {
    if (bytes[n - 1] == '\r' || bytes[n - 1] == '\n') bytes[n - 1] = 0;
  } else {
    for (int b = 0; b + 16 <= n; b += 16) CodecApi.aes256_decrypt_block(bytes + b, CodecApi.CODEC_AES_KEY);
  }
  bytes[n < 255 ? n : 255] = 0;
  text_copy8(out, 256, reinterpret_cast<const char*>(bytes));
}

void cfg_encrypt_password(const char16_t* password, char16_t* token, int room) {
  char utf8[65];
  text_utf16_to_utf8(utf8, sizeof utf8, password);
  char coded[256];
  cfg_code_secret(2, utf8, int(strlen(utf8)), coded);
  text_utf8_to_utf16(token, size_t(room), coded);
}
