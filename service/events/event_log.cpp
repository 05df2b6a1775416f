// Event log file: appending events, trimming the oldest lines through Temp.Log, and reading
// lines back. The newest lines are kept in memory as the file holds them, so the pages read them
// without opening the file; the copy follows the file when it is removed or replaced under it.
// Lines of any length are read whole (in chunks), so a long hand-edited line counts as one line
// everywhere.
#include "service/events/event_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "platform/fs.h"
#include "platform/service_manager.h"
#include "service/events/event_defs.h"

uint32_t event_log_line_count;
int (*evt_trim_rename)(const char* from, const char* to) = rename;

namespace {

constexpr size_t CHUNK = 65536;
constexpr size_t PATH_ROOM = 1200;

// The count at which a trim that failed is tried again; 0 when none failed.
uint32_t g_trim_retry_at;
// Lines that could not be written since the last one that could.
uint32_t g_lines_lost;
bool g_reporting_lost;
bool g_last_written;  // the last line went into the file

bool file_path(char* out, const char* name) {
  const char* dir = evt_install_dir();
  int n = *dir ? snprintf(out, PATH_ROOM, "%s/%s", dir, name) : snprintf(out, PATH_ROOM, "%s", name);
  return n > 0 && size_t(n) < PATH_ROOM;
}

bool log_path(char* out) { return file_path(out, "_FILE_LOG.TXT"); }

// Reads a file in chunks and hands out whole lines of any length.
struct LineReader {
  FILE* f;
  char buf[CHUNK];
  size_t pos;
  size_t len;
};

bool fill(LineReader& r) {
  r.pos = 0;
  r.len = fread(r.buf, 1, sizeof r.buf, r.f);
  return r.len > 0;
}

// Passes over up to n lines; the number passed over.
uint32_t skip_lines(LineReader& r, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    if (r.pos == r.len && !fill(r)) break;
    const char* nl = static_cast<const char*>(memchr(r.buf + r.pos, '\n', r.len - r.pos));
    if (nl) {
      r.pos = size_t(nl - r.buf) + 1;
      ++done;
    } else {
      r.pos = r.len;
      if (!fill(r)) {
        ++done;  // a last line without an end
        break;
      }
      r.pos = 0;
    }
  }
  return done;
}

// Cuts a kept line to room-1 bytes without splitting a UTF-8 sequence.
size_t cut_utf8(char* s, size_t len, size_t room) {
  if (len < room) return len;
  size_t k = room - 1;
  for (int back = 0; back < 3 && k > 0 && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; ++back) --k;
  s[k] = 0;
  return k;
}

// Counts lines in bytes handed over chunk by chunk: every LF, and a last line without one.
struct LineCounter {
  uint32_t lines;
  char last;
  bool any;
};

void count_bytes(LineCounter& c, const char* p, size_t n) {
  if (!n) return;
  for (const char *q = p, *e = p + n; (q = static_cast<const char*>(memchr(q, '\n', size_t(e - q)))) != nullptr; ++q)
    ++c.lines;
  c.last = p[n - 1];
  c.any = true;
}

uint32_t counted(const LineCounter& c) { return c.lines + (c.any && c.last != '\n' ? 1 : 0); }

// ---- The in-memory copy of the newest lines ----

constexpr size_t COPY_BYTES = size_t(4) << 20;           // room for a full log of the longest lines
constexpr uint32_t COPY_LINES = EVENT_LOG_MAX_LINES + 1;  // a full log and the line that trims it

struct LogCopy {
  char bytes[COPY_BYTES];          // the held lines one after the other, line ends as in the file
  uint32_t start[COPY_LINES + 1];  // start[i]: offset of held line i (0 the oldest); start[held]: end
  uint32_t held;                   // the newest `held` lines of the file are held
  uint32_t total;                  // lines in the file
  bool readable;                   // the file could be read when it was last loaded
  FsFileState file;                // the file as the copy last saw it
};
LogCopy g_copy;

uint32_t copy_used() { return g_copy.start[g_copy.held]; }

// Forgets the oldest n held lines; `pending` bytes behind the last line (a line being read) move too.
void copy_drop_oldest(uint32_t n, size_t pending = 0) {
  if (n > g_copy.held) n = g_copy.held;
  if (n == 0) return;
  uint32_t shift = g_copy.start[n];
  memmove(g_copy.bytes, g_copy.bytes + shift, copy_used() + pending - shift);
  for (uint32_t i = 0; i + n <= g_copy.held; ++i) g_copy.start[i] = g_copy.start[i + n] - shift;
  g_copy.held -= n;
}

// Makes room for a line of `length` bytes behind the held ones (pending of them already there),
// dropping the oldest lines a quarter at a time. False when even an empty copy cannot hold it.
bool copy_make_room(size_t length, size_t pending = 0) {
  if (length > COPY_BYTES) return false;
  while (g_copy.held == COPY_LINES || copy_used() + length > COPY_BYTES) {
    uint32_t quarter = g_copy.held / 4;
    copy_drop_oldest(quarter ? quarter : 1, pending);
  }
  return true;
}

// Holds the line whose bytes lie behind the held ones.
void copy_close_line(size_t length) {
  g_copy.start[g_copy.held + 1] = g_copy.start[g_copy.held] + uint32_t(length);
  ++g_copy.held;
}

// A line too long to hold leaves no line held, since the held lines are always the newest.
void copy_add_line(const char* line, size_t length) {
  if (!copy_make_room(length)) {
    copy_drop_oldest(g_copy.held);
    return;
  }
  memcpy(g_copy.bytes + copy_used(), line, length);
  copy_close_line(length);
}

void copy_clear() {
  g_copy.held = 0;
  g_copy.start[0] = 0;
  g_copy.total = 0;
}

// Reads the whole file once: its line count and its newest lines.
void copy_load(const char* path) {
  copy_clear();
  g_copy.readable = false;
  fs_file_state(path, &g_copy.file);
  FILE* f = fopen(path, "rb");
  if (!f) return;
  static char buf[CHUNK];
  size_t pending = 0;     // bytes of the line being read, behind the held lines
  bool too_long = false;  // the line being read cannot be held
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    for (size_t at = 0; at < n;) {
      const char* nl = static_cast<const char*>(memchr(buf + at, '\n', n - at));
      size_t take = nl ? size_t(nl - (buf + at)) + 1 : n - at;
      if (!too_long && !copy_make_room(pending + take, pending)) {
        too_long = true;
        copy_drop_oldest(g_copy.held);
      }
      if (!too_long) memcpy(g_copy.bytes + copy_used() + pending, buf + at, take);
      pending += take;
      at += take;
      if (nl) {
        if (!too_long) copy_close_line(pending);
        ++g_copy.total;
        pending = 0;
        too_long = false;
      }
    }
  }
  if (pending) {
    if (!too_long) copy_close_line(pending);
    ++g_copy.total;
  }
  g_copy.readable = !ferror(f);
  fclose(f);
}

void count_afresh(const char* path) {
  copy_load(path);
  event_log_line_count = g_copy.total;
  g_trim_retry_at = 0;
}

// Loads the copy again and counts afresh when the file is not the one it holds (removed,
// replaced, cut or written by someone else).
void copy_follow_file(const char* path) {
  FsFileState now;
  fs_file_state(path, &now);
  if (!fs_same_state(now, g_copy.file)) count_afresh(path);
}

// Records a line this module appended; before is the file as the append found it.
void copy_appended(const char* path, const char* line, size_t length, const FsFileState& before,
                   const FsFileState& after) {
  if (!fs_same_state(before, g_copy.file)) {
    // Not the file that was counted: the new line is in it, and the count is taken afresh.
    count_afresh(path);
    return;
  }
  // A last line without an end got CR LF before this one, in the file and so here.
  if (g_copy.held && g_copy.bytes[copy_used() - 1] != '\n') {
    --g_copy.held;
    size_t last = g_copy.start[g_copy.held + 1] - g_copy.start[g_copy.held];
    if (copy_make_room(last + 2, last)) {
      memcpy(g_copy.bytes + copy_used() + last, "\r\n", 2);
      copy_close_line(last + 2);
    } else {
      copy_drop_oldest(g_copy.held);
    }
  }
  copy_add_line(line, length);
  ++g_copy.total;
  g_copy.readable = true;
  g_copy.file = after;
  event_log_line_count += 1;
}

// Takes the trim of the oldest lines into the copy: kept lines are left in the file.
void copy_trimmed(const char* path, uint32_t kept) {
  if (g_copy.held > kept) copy_drop_oldest(g_copy.held - kept);
  g_copy.total = kept;
  fs_file_state(path, &g_copy.file);
}

// Drops the oldest n lines; on success *kept receives the lines left.
bool trim_file(uint32_t n, uint32_t* kept) {
  char path[PATH_ROOM], temp[PATH_ROOM];
  if (!log_path(path) || !file_path(temp, "Temp.Log")) return false;
  copy_follow_file(path);
  FILE* in = fopen(path, "rb");
  if (!in) return false;
  // The new log is private from its first byte (the rename keeps the mode).
  FILE* out = fs_open_private(temp, "wb");
  if (!out) {
    fclose(in);
    return false;
  }
  static LineReader r;
  r.f = in;
  r.pos = r.len = 0;
  skip_lines(r, n);
  // The rest goes over verbatim, whole lines as they were written.
  LineCounter c{0, 0, false};
  bool ok = true;
  for (;;) {
    if (r.pos == r.len && !fill(r)) break;
    size_t len = r.len - r.pos;
    const char* p = r.buf + r.pos;
    ok = fwrite(p, 1, len, out) == len && ok;
    count_bytes(c, p, len);
    r.pos = r.len;
  }
  ok = !ferror(in) && ok;
  fclose(in);
  // Temp.Log is on the disk before it replaces the log, so a crash at any point keeps every line.
  ok = fs_flush_file(out) && ok;
  ok = fclose(out) == 0 && ok;
  if (!ok || evt_trim_rename(temp, path) != 0) {
    remove(temp);
    return false;
  }
  *kept = counted(c);
  copy_trimmed(path, *kept);
  return true;
}

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

uint32_t evt_format_message(char16_t* out, uint32_t room, const char16_t* text, const char16_t* const* args,
                            int arg_count) {
  if (!out || room == 0) return 0;
  if (!text) text = u"";
  if (arg_count <= 0) return uint32_t(text_copy16(out, room, text));
  const uint32_t cap = room - 1;
  uint32_t o = 0;
  int next_arg = 0;
  bool cut = false;
  for (size_t i = 0; text[i] && !cut;) {
    if (text[i] == u'%' && text[i + 1] == u's') {
      const char16_t* a = next_arg < arg_count ? args[next_arg] : u"";
      ++next_arg;
      for (size_t j = 0; a && a[j]; ++j) {
        if (o == cap) {
          cut = true;
          break;
        }
        out[o++] = a[j];
      }
      i += 2;
      continue;
    }
    if (o == cap) {
      cut = true;
      break;
    }
    if (text[i] == u'%' && text[i + 1] == u'%') {
      out[o++] = u'%';
      i += 2;
    } else {
      out[o++] = text[i++];
    }
  }
  if (cut && o && is_high_surrogate(out[o - 1])) --o;
  out[o] = 0;
  return o;
}

uint32_t evt_compose_line(char* out, uint32_t room, const char* source, uint32_t level, const SystemTime& t,
                          const char* message) {
  if (!out || room == 0) return 0;
  int n = snprintf(out, room, "%s %u %02d/%02d/%04d %02d:%02d:%02d %s\r\n", source, level, int(t.month),
                   int(t.day), int(t.year), int(t.hour), int(t.minute), int(t.second), message);
  if (n < 0) {
    out[0] = 0;
    return 0;
  }
  return uint32_t(size_t(n) < room ? n : room - 1);
}

void evt_log(const char16_t* source, uint32_t level, const char16_t* text, ...) {
  const char16_t* args[EVENT_MAX_ARGS];
  int argc = 0;
  va_list ap;
  va_start(ap, text);
  while (argc < EVENT_MAX_ARGS) {
    const char16_t* a = va_arg(ap, const char16_t*);
    if (!a) break;
    args[argc++] = a;
  }
  va_end(ap);

  SystemTime t;
  clock_local_time(&t);
  char path[PATH_ROOM];
  if (!log_path(path)) return;

  char16_t message[EVENT_MESSAGE_UNITS];
  evt_format_message(message, EVENT_MESSAGE_UNITS, text, args, argc);
  char message8[EVENT_MESSAGE_BYTES];
  char source8[EVENT_SOURCE_BYTES];
  text_utf16_to_utf8(message8, sizeof message8, message);
  text_utf16_to_utf8(source8, sizeof source8, source ? source : u"");
  // A line end or other control character inside a field would split the line (and could forge
  // one); a blank inside the source would shift the fields.
  for (char* p = message8; *p; ++p)
    if (static_cast<unsigned char>(*p) < 0x20 && *p != '\t') *p = ' ';
  for (char* p = source8; *p; ++p)
    if (static_cast<unsigned char>(*p) <= 0x20) *p = '_';

  char line[EVENT_SOURCE_BYTES + EVENT_MESSAGE_BYTES + 64];
  uint32_t len = evt_compose_line(line, sizeof line, source8, level, t, message8);
  // A hand-edited log may end without a line end; the new line must not join it. A line that does
  // not fit (a full disk) leaves nothing behind and is not counted.
  int error = 0;
  FsFileState before, after;
  g_last_written = fs_append_whole(path, line, len, true, &error, FS_PRIVATE, &before, &after);
  if (!g_last_written) {
    if (g_reporting_lost) return;
    if (g_lines_lost++ == 0) {
      char report[PATH_ROOM + 160];
      snprintf(report, sizeof report, "event log %s cannot be written (%s): lines are lost until it can", path,
               fs_error_text(error));
      svc_report_line(report);
      svc_status_problem("event-log", report);
    }
    return;
  }

  copy_appended(path, line, len, before, after);
  if (event_log_line_count > EVENT_LOG_MAX_LINES && event_log_line_count >= g_trim_retry_at) {
    // Normally 2500 lines; a log that has grown far past the limit comes down in one go.
    uint32_t drop = event_log_line_count - (EVENT_LOG_MAX_LINES - EVENT_LOG_TRIM_LINES + 1);
    uint32_t kept;
    if (trim_file(drop, &kept)) {
      event_log_line_count = kept;
      g_trim_retry_at = 0;
    } else {
      // The count stays true to the file; the trim is tried again 2500 lines later.
      g_trim_retry_at = event_log_line_count + EVENT_LOG_TRIM_LINES;
    }
  }

  if (g_lines_lost && !g_reporting_lost) {
    // Writing works again: one line says how many were lost.
    char16_t count[16];
    char count8[16];
    snprintf(count8, sizeof count8, "%u", g_lines_lost);
    text_utf8_to_utf16(count, 16, count8);
    uint32_t lost = g_lines_lost;
    g_lines_lost = 0;
    g_reporting_lost = true;
    evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, EVT_COMMON_LOG_LINES_LOST),
            evt_name(EVT_GROUP_COMMON, EVT_COMMON_LOG_LINES_LOST), count, nullptr);
    g_reporting_lost = false;
    // When even that line did not fit, the next line that does tells.
    if (g_last_written) svc_status_problem("event-log", nullptr);
    else g_lines_lost = lost;
  }
}

int evt_trim_oldest(uint32_t n) {
  uint32_t kept;
  return trim_file(n, &kept) ? 1 : 0;
}

uint32_t evt_count_lines() {
  char path[PATH_ROOM];
  if (!log_path(path)) return 0;
  FILE* f = fopen(path, "rb");
  if (!f) return 0;
  static char buf[CHUNK];
  LineCounter c{0, 0, false};
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    count_bytes(c, buf, n);
  }
  fclose(f);
  return counted(c);
}

bool evt_log_readable() {
  char path[PATH_ROOM];
  if (!log_path(path)) return false;
  copy_follow_file(path);
  return g_copy.readable;
}

uint32_t evt_line_count() {
  evt_log_readable();
  return event_log_line_count;
}

bool evt_each_line(uint32_t first, EventLineTaker take, void* context) {
  char path[PATH_ROOM];
  if (!log_path(path)) return false;
  copy_follow_file(path);
  if (!g_copy.readable) return false;
  if (first == 0) first = 1;
  static char* scratch;
  static size_t room;
  uint32_t oldest_held = g_copy.total - g_copy.held + 1;
  if (first >= oldest_held) {
    for (uint32_t i = first - oldest_held; i < g_copy.held; ++i) {
      size_t length = g_copy.start[i + 1] - g_copy.start[i];
      if (room < length + 1) {
        char* grown = static_cast<char*>(realloc(scratch, length + 1));
        if (!grown) return true;
        scratch = grown;
        room = length + 1;
      }
      memcpy(scratch, g_copy.bytes + g_copy.start[i], length);
      scratch[length] = 0;
      if (!take(context, scratch, length)) break;
    }
    return true;
  }
  // Older than the copy reaches: from the file.
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  ssize_t length;
  for (uint32_t k = 1; (length = getline(&scratch, &room, f)) > 0; ++k)
    if (k >= first && !take(context, scratch, size_t(length))) break;
  fclose(f);
  return true;
}

int evt_read_recent_line(uint32_t n, char* out) {
  if (!out || n >= evt_line_count()) return 0;
  struct Found {
    char* out;
    bool found;
  } found{out, false};
  auto take = [](void* context, char* line, size_t length) {
    Found& f = *static_cast<Found*>(context);
    // Without its line end (LF, or CR LF), at most the room's bytes cut at a character boundary.
    if (length && line[length - 1] == '\n') --length;
    if (length && line[length - 1] == '\r') --length;
    size_t kept = length < EVENT_LOG_LINE_BYTES ? length : EVENT_LOG_LINE_BYTES;
    kept = cut_utf8(line, kept, EVENT_LOG_LINE_BYTES);
    memcpy(f.out, line, kept);
    f.out[kept] = 0;
    f.found = true;
    return false;
  };
  evt_each_line(event_log_line_count - n, take, &found);
  return found.found ? 1 : 0;
}

int evt_split_line(char* line, char** source, char** level, char** date, char** time, char** message) {
  if (!line || !line[0]) return 0;
  char* space[4];
  char* from = line + 1;
  for (int i = 0; i < 4; ++i) {
    space[i] = strchr(from, ' ');
    if (!space[i]) return 0;
    from = space[i] + 1;
  }
  char** outs[5] = {source, level, date, time, message};
  for (int i = 0; i < 4; ++i) *space[i] = 0;
  if (outs[0]) *outs[0] = line;
  for (int i = 0; i < 4; ++i)
    if (outs[i + 1]) *outs[i + 1] = space[i] + 1;
  return 1;
}

int evt_clear_log() {
  char path[PATH_ROOM];
  event_log_line_count = 0;
  g_trim_retry_at = 0;
  g_lines_lost = 0;
  svc_status_problem("event-log", nullptr);
  if (!log_path(path)) return 0;
  int removed = remove(path) == 0 || errno == ENOENT ? 1 : 0;
  count_afresh(path);
  return removed;
}

void evt_load_log() {
  char path[PATH_ROOM];
  if (!log_path(path)) {
    g_copy.readable = false;
    g_copy.file = FsFileState{};
    copy_clear();
    event_log_line_count = 0;
    return;
  }
  // Account names and addresses are in it: the owner's only, also when an older build made it.
  fs_make_private(path);
  count_afresh(path);
}
