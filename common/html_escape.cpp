// Escaping of data written into web pages.
#include "common/html_escape.h"

#include <cstring>

namespace {

// The replacement of one byte, or null when it stands for itself.
const char* html_ref(unsigned char c, char* scratch) {
  (void)scratch;
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

const char* js_ref(unsigned char c, char* scratch) {
  if (c < 0x20 || c == 0x7F || c == '\'' || c == '"' || c == '\\' || c == '&' || c == '<' || c == '>') {
    static const char hex[] = "0123456789ABCDEF";
    scratch[0] = '\\';
    scratch[1] = 'x';
    scratch[2] = hex[c >> 4];
    scratch[3] = hex[c & 15];
    scratch[4] = 0;
    return scratch;
  }
  return nullptr;
}

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t seq_len(unsigned char c) {
  if (c >= 0xF0 && c < 0xF8) return 4;
  if (c >= 0xE0) return c < 0xF0 ? 3 : 1;
  if (c >= 0xC0) return 2;
  return 1;
}

size_t escape(char* out, size_t room, const char* in, const char* (*ref)(unsigned char, char*)) {
  if (!out || room == 0) return 0;
  size_t k = 0;
  char scratch[8];
  for (size_t i = 0; in && in[i];) {
    unsigned char c = static_cast<unsigned char>(in[i]);
    const char* r = ref(c, scratch);
    if (r) {
      size_t n = strlen(r);
      if (k + n >= room) break;
      memcpy(out + k, r, n);
      k += n;
      ++i;
      continue;
    }
    size_t n = seq_len(c);
    size_t have = 1;
    while (have < n && in[i + have]) ++have;
    if (k + have >= room) break;
    memcpy(out + k, in + i, have);
    k += have;
    i += have;
  }
  out[k] = 0;
  return k;
}

void write(FILE* out, const char* in, const char* (*ref)(unsigned char, char*)) {
  if (!out || !in) return;
  char scratch[8];
  const char* run = in;
  for (const char* p = in; *p; ++p) {
    const char* r = ref(static_cast<unsigned char>(*p), scratch);
    if (!r) continue;
    fwrite(run, 1, size_t(p - run), out);
    fputs(r, out);
    run = p + 1;
  }
  fputs(run, out);
}

}  // namespace

size_t html_escape(char* out, size_t room, const char* in) { return escape(out, room, in, html_ref); }
size_t js_escape(char* out, size_t room, const char* in) { return escape(out, room, in, js_ref); }
void html_write(FILE* out, const char* in) { write(out, in, html_ref); }
void js_write(FILE* out, const char* in) { write(out, in, js_ref); }
