// Template rendering: "<% name %>" tags replaced by template variables into a page in memory.
#include "service/web/asp_template.h"

#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "service/alarm/shutdown_actions.h"
#include "service/web/form_data.h"

static const char* html_entity(char ch) {
  switch (ch) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

size_t asp_escape_html(char* out, size_t room, const char* text) {
  size_t n = 0;
  if (room == 0) return 0;
  for (; *text; ++text) {
    const char* e = html_entity(*text);
    size_t len = e ? strlen(e) : 1;
    if (n + len >= room) break;
    if (e) memcpy(out + n, e, len);
    else out[n] = *text;
    n += len;
  }
  out[n] = 0;
  return n;
}

void asp_write_text(FILE* out, const char* text) {
  if (!out || !text) return;
  for (; *text; ++text) {
    const char* e = html_entity(*text);
    if (e) fputs(e, out);
    else fputc(*text, out);
  }
}

// One code point from UTF-8 at text; its byte count into *used (1 for a byte that starts no valid
// sequence, which gives U+FFFD).
static uint32_t utf8_next(const uint8_t* text, int* used) {
  uint8_t b = text[0];
  int n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  uint32_t cp = n == 4 ? b & 0x07u : n == 3 ? b & 0x0Fu : b & 0x1Fu;
  *used = 1;
  if (n == 0 || b > 0xF4) return 0xFFFD;
  for (int i = 1; i < n; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0xFFFD;  // also stops at the terminator
    cp = cp << 6 | (text[i] & 0x3Fu);
  }
  bool shortest = (n == 2 && cp >= 0x80) || (n == 3 && cp >= 0x800) || (n == 4 && cp >= 0x10000);
  if (!shortest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  *used = n;
  return cp;
}

void asp_write_script_text(FILE* out, const char* text) {
  if (!out || !text) return;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text);
  while (*p) {
    uint8_t ch = *p;
    // Backslash and single quote get their backslash; the double quote, markup characters and
    // everything outside printable ASCII become \uXXXX, so the text is safe inside a JavaScript
    // string, in a script block and in a double-quoted HTML attribute alike.
    if (ch == '\\' || ch == '\'') {
      fputc('\\', out);
      fputc(ch, out);
      ++p;
    } else if (ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '<' && ch != '>' && ch != '&') {
      fputc(ch, out);
      ++p;
    } else {
      int used = 1;
      uint32_t cp = ch < 0x80 ? ch : utf8_next(p, &used);
      p += used;
      if (cp >= 0x10000) {
        cp -= 0x10000;
        fprintf(out, "\\u%04X\\u%04X", unsigned(0xD800 + (cp >> 10)), unsigned(0xDC00 + (cp & 0x3FF)));
      } else {
        fprintf(out, "\\u%04X", unsigned(cp));
      }
    }
  }
}

bool asp_query_value_plain(const char* value) {
  if (!value || !*value) return false;
  for (; *value; ++value) {
    char ch = *value;
    bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
              ch == '.' || ch == '-';
    if (!ok) return false;
  }
  return true;
}

int asp_replace_tokens(const char* text, size_t out_size, char* out, int pair_count, const QueryPair* pairs) {
  size_t n = 0;
  int replaced = 0;
  const char* piece = text;
  for (;;) {
    const char* hash = strchr(piece, '#');
    size_t len = hash ? size_t(hash - piece) : strlen(piece);
    const char* from = piece;
    size_t from_len = len;
    if (hash && len > 0 && piece[len - 1] != ' ') {
      for (int i = 0; i < pair_count; ++i) {
        if (strlen(pairs[i].name) == len && memcmp(pairs[i].name, piece, len) == 0) {
          from = pairs[i].value;
          from_len = strlen(from);
          ++replaced;
          break;
        }
      }
    }
    if (n + from_len >= out_size) return 0;
    memcpy(out + n, from, from_len);
    n += from_len;
    if (!hash) break;
    piece = hash + 1;
  }
  out[n] = 0;
  return replaced ? int(n) : 0;
}

static void asp_write_message_var(FILE* out, const char* name) {
  // The message texts are the server's own markup.
  if (strcmp(name, "ERR_TITLE") == 0) fputs(g_message_title, out);
  else if (strcmp(name, "ERR_MSG") == 0) fputs(g_message_body, out);
  else if (strcmp(name, "ERR_PATH") == 0) asp_write_text(out, g_message_action);  // an onclick attribute
}

// The whole template text, terminated, in a heap block; null when it cannot be read. Read
// unbuffered into a growing block: no seeks for the size, no buffer of the stream's own.
static char* read_template(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return nullptr;
  setvbuf(f, nullptr, _IONBF, 0);
  size_t room = 32768, used = 0;
  char* text = static_cast<char*>(malloc(room));
  while (text) {
    size_t n = fread(text + used, 1, room - used - 1, f);
    used += n;
    if (used + 1 < room) break;
    char* grown = room < (size_t(16) << 20) ? static_cast<char*>(realloc(text, room * 2)) : nullptr;
    if (!grown) {
      free(text);
      text = nullptr;
      break;
    }
    text = grown;
    room *= 2;
  }
  if (text && ferror(f)) {
    free(text);
    text = nullptr;
  }
  fclose(f);
  if (text) text[used] = 0;
  return text;
}

int asp_render_page(const char* template_path, int message_page, const char* query, AspVariableWriter variables,
                    char** page, size_t* size) {
  *page = nullptr;
  *size = 0;
  char* text = read_template(template_path);
  if (!text) return 0;
  char* rendered = nullptr;
  size_t rendered_size = 0;
  FILE* out = open_memstream(&rendered, &rendered_size);
  if (!out) {
    free(text);
    return 0;
  }
  char query_copy[1024];
  QueryPair pairs[QUERY_PAIRS_MAX], plain[QUERY_PAIRS_MAX];
  int pair_count = 0, plain_count = 0;
  if (query) {
    snprintf(query_copy, sizeof query_copy, "%s", query);
    char* pieces[QUERY_PAIRS_MAX];
    int count = util_split_tokens(query_copy, "&", QUERY_PAIRS_MAX, pieces);
    for (int i = 0; i < count; ++i) {
      char* eq = strchr(pieces[i], '=');
      if (!eq || eq == pieces[i] || !eq[1]) continue;
      *eq = 0;
      pairs[pair_count++] = QueryPair{pieces[i], eq + 1};
      // Only a plain value (page numbers, indexes, names) may stand in for a tag.
      if (asp_query_value_plain(eq + 1)) plain[plain_count++] = QueryPair{pieces[i], eq + 1};
    }
  }
  const char* p = text;
  static char name[513];
  static char replaced[513];
  for (;;) {
    const char* open = strstr(p, "<% ");
    if (!open) {
      fputs(p, out);
      break;
    }
    fwrite(p, 1, size_t(open - p), out);
    const char* start = open + 3;
    const char* close = strstr(start, " %>");
    if (!close) {
      fputs("<% ", out);
      p = start;
      continue;
    }
    size_t len = size_t(close - start);
    if (len > 512) {
      fwrite(open, 1, size_t(close + 3 - open), out);
      p = close + 3;
      continue;
    }
    memcpy(name, start, len);
    name[len] = 0;
    p = close + 3;
    if (plain_count > 0 && asp_replace_tokens(name, sizeof replaced, replaced, plain_count, plain) > 0)
      memcpy(name, replaced, strlen(replaced) + 1);
    // The message texts come only from the server's own form replies, never from the query.
    if (message_page && (strcmp(name, "ERR_TITLE") == 0 || strcmp(name, "ERR_MSG") == 0 || strcmp(name, "ERR_PATH") == 0)) {
      asp_write_message_var(out, name);
      continue;
    }
    bool done = false;
    for (int i = 0; i < plain_count && !done; ++i)
      if (strcmp(name, plain[i].name) == 0) {
        asp_write_text(out, plain[i].value);
        done = true;
      }
    if (done) continue;
    variables(out, name, pair_count, pairs);
  }
  free(text);
  // A page that could not be written whole is not served.
  bool written = !ferror(out);
  if (fclose(out) != 0) written = false;
  if (!written) {
    free(rendered);
    return 0;
  }
  *page = rendered;
  *size = rendered_size;
  return 1;
}
