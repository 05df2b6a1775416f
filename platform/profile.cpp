// Profile-string reader: streams the file line by line with a bounded line buffer, so binary
// files, huge lines and files without line ends cost no more than the buffer.
#include "platform/profile.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"

namespace {

constexpr size_t READ_CHUNK = 65536;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Lower case of the letters whose case the names may differ in: ASCII, Latin-1, Latin
// Extended-A, Greek and Cyrillic.
char16_t fold(char16_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? char16_t(c + 32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x178) return 0xFF;
    bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (odd_upper) return (c & 1) ? char16_t(c + 1) : c;
    return (c & 1) ? c : char16_t(c + 1);
  }
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return char16_t(c + 32);
  if (c >= 0x410 && c <= 0x42F) return char16_t(c + 32);
  if (c >= 0x400 && c <= 0x40F) return char16_t(c + 80);
  return c;
}

// Case-blind comparison of UTF-8 bytes [s, s+n) with the UTF-16 name of want_len units.
bool name_matches(const char* s, size_t n, const char16_t* want, size_t want_len, std::vector<char16_t>& work) {
  if (memchr(s, 0, n)) return false;
  // With want_len + 2 units of output room a cut conversion gives more than want_len units, so an
  // equal length means the whole name was converted.
  size_t got = text_utf8_to_utf16(work.data(), want_len + 3, s, n);
  if (got != want_len) return false;
  for (size_t i = 0; i < got; ++i)
    if (fold(work[i]) != fold(want[i])) return false;
  return true;
}

void trim(const char*& s, size_t& n) {
  while (n && is_blank(*s)) { ++s; --n; }
  while (n && is_blank(s[n - 1])) --n;
}

struct Search {
  const char16_t* section;
  size_t section_len;
  const char16_t* key;
  size_t key_len;
  std::vector<char16_t> work;
  bool in_section;
};

// Looks at one line; true when it is the wanted key, with its value in [*v, *v + *vn).
bool scan_line(Search& q, const char* s, size_t n, const char** v, size_t* vn) {
  trim(s, n);
  if (!n) return false;
  if (*s == '[') {
    const char* name = s + 1;
    const char* close = static_cast<const char*>(memchr(name, ']', n - 1));
    size_t len = close ? size_t(close - name) : n - 1;
    trim(name, len);
    q.in_section = name_matches(name, len, q.section, q.section_len, q.work);
    return false;
  }
  if (!q.in_section) return false;
  const char* eq = static_cast<const char*>(memchr(s, '=', n));
  if (!eq) return false;
  const char* k = s;
  size_t kn = size_t(eq - s);
  trim(k, kn);
  if (!name_matches(k, kn, q.key, q.key_len, q.work)) return false;
  const char* val = eq + 1;
  size_t vl = n - size_t(val - s);
  trim(val, vl);
  if (vl >= 2 && (val[0] == '"' || val[0] == '\'') && val[vl - 1] == val[0]) {
    ++val;
    vl -= 2;
  }
  *v = val;
  *vn = vl;
  return true;
}

uint32_t copy_default(const char16_t* def, char16_t* out, uint32_t room) {
  size_t len = text_len16(def);
  while (len && (def[len - 1] == u' ' || def[len - 1] == u'\t')) --len;
  size_t n = len < room - 1 ? len : room - 1;
  if (n < len && n && def[n - 1] >= 0xD800 && def[n - 1] <= 0xDBFF) --n;
  for (size_t i = 0; i < n; ++i) out[i] = def[i];
  out[n] = 0;
  return uint32_t(n);
}

}  // namespace

uint32_t profile_get_string(const char16_t* section, const char16_t* key, const char16_t* default_text,
                            char16_t* out, uint32_t room, const char* path_utf8) {
  if (!out || room == 0) return 0;
  if (!section || !key || !path_utf8) return copy_default(default_text, out, room);
  // Only a regular file of at most 4 MiB is read (a FIFO or a device would hold the reader up).
  FsReadResult opened;
  int error = 0;
  FILE* f = fs_open_regular(path_utf8, FS_TEXT_FILE_MAX, &opened, &error);
  if (!f) return copy_default(default_text, out, room);

  Search q{section, text_len16(section), key, text_len16(key), {}, false};
  q.work.resize((q.section_len > q.key_len ? q.section_len : q.key_len) + 3);
  std::vector<char> line(PROFILE_LINE_MAX);
  std::vector<char> chunk(READ_CHUNK);
  size_t line_len = 0;
  bool first_chunk = true;
  bool found = false;
  uint32_t result = 0;

  auto end_line = [&]() {
    const char* v;
    size_t vn;
    if (scan_line(q, line.data(), line_len, &v, &vn)) {
      result = uint32_t(text_utf8_to_utf16(out, room, v, vn));
      found = true;
    }
    line_len = 0;
  };

  size_t got;
  size_t taken = 0;
  while (!found && taken < FS_TEXT_FILE_MAX && (got = fread(chunk.data(), 1, chunk.size(), f)) > 0) {
    taken += got;
    size_t i = 0;
    if (first_chunk) {
      first_chunk = false;
      if (got >= 3 && memcmp(chunk.data(), "\xEF\xBB\xBF", 3) == 0) i = 3;
    }
    for (; i < got && !found; ++i) {
      char c = chunk[i];
      if (c == '\n' || c == '\r') {
        end_line();
      } else if (line_len < line.size()) {
        line[line_len++] = c;
      }
    }
  }
  if (!found && line_len) end_line();
  fclose(f);
  return found ? result : copy_default(default_text, out, room);
}
