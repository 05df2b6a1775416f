// UTF-8 and UTF-16 conversions into fixed rooms.
#include "platform/text.h"

#include <cstring>

namespace {

// Decodes one UTF-8 character; returns its byte count (at least 1) and the code point in *cp.
size_t utf8_decode(const unsigned char* s, size_t n, uint32_t* cp) {
  unsigned char c = s[0];
  if (c < 0x80) { *cp = c; return 1; }
  size_t len;
  uint32_t v, min;
  if ((c & 0xE0) == 0xC0) { len = 2; v = c & 0x1F; min = 0x80; }
  else if ((c & 0xF0) == 0xE0) { len = 3; v = c & 0x0F; min = 0x800; }
  else if ((c & 0xF8) == 0xF0) { len = 4; v = c & 0x07; min = 0x10000; }
  else { *cp = 0xFFFD; return 1; }
  if (len > n) { *cp = 0xFFFD; return 1; }
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) { *cp = 0xFFFD; return i; }
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) v = 0xFFFD;
  *cp = v;
  return len;
}

}  // namespace

size_t text_utf8_to_utf16(char16_t* out, size_t room, const char* in, size_t in_len) {
  if (!room) return 0;
  size_t n = in ? (in_len == SIZE_MAX ? strlen(in) : in_len) : 0;
  const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
  size_t o = 0, i = 0;
  while (i < n && s[i]) {
    uint32_t cp;
    size_t used = utf8_decode(s + i, n - i, &cp);
    size_t need = cp >= 0x10000 ? 2 : 1;
    if (o + need > room - 1) break;
    if (need == 2) {
      cp -= 0x10000;
      out[o++] = char16_t(0xD800 + (cp >> 10));
      out[o++] = char16_t(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = char16_t(cp);
    }
    i += used;
  }
  out[o] = 0;
  return o;
}

size_t text_utf16_to_utf8(char* out, size_t room, const char16_t* in) {
  if (!room) return 0;
  size_t o = 0;
  for (size_t i = 0; in && in[i]; ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    unsigned char b[4];
    size_t len;
    if (cp < 0x80) { b[0] = uint8_t(cp); len = 1; }
    else if (cp < 0x800) { b[0] = uint8_t(0xC0 | (cp >> 6)); b[1] = uint8_t(0x80 | (cp & 0x3F)); len = 2; }
    else if (cp < 0x10000) {
      b[0] = uint8_t(0xE0 | (cp >> 12)); b[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F)); b[2] = uint8_t(0x80 | (cp & 0x3F)); len = 3;
    } else {
      b[0] = uint8_t(0xF0 | (cp >> 18)); b[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
      b[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F)); b[3] = uint8_t(0x80 | (cp & 0x3F)); len = 4;
    }
    if (o + len > room - 1) break;
    memcpy(out + o, b, len);
    o += len;
  }
  out[o] = 0;
  return o;
}

size_t text_bytes_to_utf16(char16_t* out, size_t room, const char* in) {
  if (!room) return 0;
  size_t o = 0;
  for (; in && in[o] && o < room - 1; ++o) out[o] = char16_t(static_cast<unsigned char>(in[o]));
  out[o] = 0;
  return o;
}

size_t text_utf16_to_bytes(char* out, size_t room, const char16_t* in) {
  if (!room) return 0;
  size_t o = 0;
  for (; in && in[o] && o < room - 1; ++o) out[o] = in[o] <= 0xFF ? char(in[o]) : '?';
  out[o] = 0;
  return o;
}

size_t text_len16(const char16_t* s) {
  size_t n = 0;
  while (s && s[n]) ++n;
  return n;
}

size_t text_copy16(char16_t* out, size_t room, const char16_t* in) {
  if (!room) return 0;
  size_t n = 0;
  while (in && in[n] && n < room - 1) ++n;
  // Do not keep the first half of a surrogate pair whose second half was cut.
  if (n && in[n] && in[n - 1] >= 0xD800 && in[n - 1] <= 0xDBFF) --n;
  for (size_t i = 0; i < n; ++i) out[i] = in[i];
  out[n] = 0;
  return n;
}

size_t text_copy8(char* out, size_t room, const char* in) {
  if (!room) return 0;
  size_t n = 0;
  while (in && in[n] && n < room - 1) { out[n] = in[n]; ++n; }
  out[n] = 0;
  return n;
}

size_t text_copy_utf8(char* out, size_t room, const char* in) {
  if (!room) return 0;
  size_t n = 0;
  while (in && in[n] && n < room - 1) ++n;
  if (in && in[n]) {
    // Back up over continuation bytes to the start of the cut character.
    size_t k = n;
    while (k > 0 && (static_cast<unsigned char>(in[k]) & 0xC0) == 0x80) --k;
    n = k;
  }
  memcpy(out, in, n);
  out[n] = 0;
  return n;
}

bool text_equal16(const char16_t* a, const char16_t* b) {
  while (*a && *a == *b) { ++a; ++b; }
  return *a == *b;
}

size_t text_len16_in(const char16_t* s, size_t room) {
  size_t n = 0;
  while (n < room && s[n]) ++n;
  return n;
}

size_t text_len8_in(const char* s, size_t room) {
  size_t n = 0;
  while (n < room && s[n]) ++n;
  return n;
}
