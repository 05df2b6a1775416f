// Event log views: the table of a page or a date range, the page buttons and the CSV export.
// The selected lines go to events.txt first; the table then shows them newest first.
#include "service/events/event_views.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "platform/fs.h"
#include "service/core/net_address.h"
#include "service/events/event_defs.h"
#include "service/events/event_log.h"
#include "service/web/asp_template.h"

namespace {

constexpr size_t PATH_ROOM = 1200;

const char kPageHead[] =
    "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\">"
    "<meta http-equiv=\"expires\" content=\"-1\"><link rel=\"stylesheet\" href=\"/template.css\" "
    "type=\"text/css\"></head><body>\n";
const char kTableStart[] = "<table width=100%% border=1 cellspacing=0 cellpadding=0>\n";
const char kHeaderRow[] =
    "<tr><td>IP Address</td><td width=80 class=title align=center>Date</td><td width=70 class=title "
    "align=\"center\">Time</td><td width=80 class=title align=\"center\">Level</td><td class=title "
    "align=\"center\">Event Log</td></tr>\n";
const char kPageEnd[] = "</table></body></html>\n";

// Level cell, message cell class and export word per level; entry 0 serves every other level.
struct LevelText {
  const char* cell;
  const char* message_class;
  const char* word;
};
const LevelText kLevels[4] = {
    {"<td class=bold>System</td>", "bold", "System"},
    {"<td class=normal>Information</td>", "normal", "Information"},
    {"<td class=warning>Warning</td>", "warning", "Warning"},
    {"<td class=critical>Severity</td>", "critical", "Severity"},
};

const LevelText& level_text(const char* field) {
  long level = strtol(field, nullptr, 10);
  return level >= 1 && level <= 3 ? kLevels[level] : kLevels[0];
}

bool install_path(char* out, const char* name) {
  const char* dir = evt_install_dir();
  int n = *dir ? snprintf(out, PATH_ROOM, "%s/%s", dir, name) : snprintf(out, PATH_ROOM, "%s", name);
  return n > 0 && size_t(n) < PATH_ROOM;
}

// Drops the line end (LF, CR LF) in place.
void strip_end(char* line) {
  size_t n = strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
}

// The line's date year first, else month first (the log writes month first); false when
// neither reads as a date.
bool line_date(const char* field, uint8_t date[3]) {
  if (util_parse_date(field, date, 0) == 3) return true;
  return util_parse_date(field, date, 1) == 3;
}

int date_key(const uint8_t* d) { return d[2] * 10000 + d[0] * 100 + d[1]; }

// One table row of a line (its end already dropped); false for a line that does not split.
bool write_row(FILE* out, char* line, bool grey) {
  char *source, *level, *date, *time, *message;
  if (!evt_split_line(line, &source, &level, &date, &time, &message)) return false;
  uint8_t d[3] = {0, 0, 0};
  line_date(date, d);
  const LevelText& lt = level_text(level);
  fputs(grey ? "<tr bgcolor=#eeeeee><td class=bold>" : "<tr><td class=bold>", out);
  if (strcmp(source, "0.0.0.0") != 0) asp_write_text(out, source);
  fprintf(out, "</td><td>%02d/%02d/%04d</td><td>", d[0], d[1], d[2] + 2000);
  asp_write_text(out, time);
  fprintf(out, "</td>%s<td nowrap class=%s>", lt.cell, lt.message_class);
  asp_write_text(out, message);
  fputs("</td></tr>\n", out);
  return true;
}

// The whole file in a new NUL-ended buffer, or null.
char* read_whole(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return nullptr;
  char* buf = nullptr;
  long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
  if (size >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    buf = static_cast<char*>(malloc(size_t(size) + 1));
    if (buf) buf[fread(buf, 1, size_t(size), f)] = 0;
  }
  fclose(f);
  return buf;
}

// Writes iframe_log.htm from the lines of events.txt, newest (last) first.
void write_table(const char* table_path, const char* selection_path) {
  char* selection = read_whole(selection_path);
  FILE* out = fs_open_private(table_path, "wb");
  if (!out) {
    free(selection);
    return;
  }
  fputs(kPageHead, out);
  fputs(kTableStart, out);
  fputs(kHeaderRow, out);
  if (selection) {
    size_t lines = 0;
    for (char* p = selection; *p; ++lines) {
      char* nl = strchr(p, '\n');
      p = nl ? nl + 1 : p + strlen(p);
    }
    char** starts = static_cast<char**>(malloc((lines + 1) * sizeof(char*)));
    if (starts) {
      size_t k = 0;
      for (char* p = selection; *p; ++k) {
        starts[k] = p;
        char* nl = strchr(p, '\n');
        if (nl) *nl = 0;
        p = nl ? nl + 1 : p + strlen(p);
      }
      bool grey = false;
      for (size_t i = lines; i-- > 0;) {
        strip_end(starts[i]);
        if (write_row(out, starts[i], grey)) grey = !grey;
      }
      free(starts);
    }
    free(selection);
  }
  fputs(kPageEnd, out);
  fclose(out);
}

struct ViewPaths {
  char table[PATH_ROOM];
  char selection[PATH_ROOM];
};

// Deletes the old view. Then, when the log can be read, opens a new selection file into *out
// (false when it cannot be made: nothing at all is written); when it cannot, *out stays null and
// the view is the empty table.
bool open_selection(ViewPaths& p, FILE** out) {
  *out = nullptr;
  if (!install_path(p.table, "httpd/htdocs/tmp/iframe_log.htm") ||
      !install_path(p.selection, "httpd/htdocs/tmp/events.txt"))
    return false;
  remove(p.table);
  remove(p.selection);
  if (!evt_log_readable()) return true;
  *out = fs_open_private(p.selection, "wb");
  return *out != nullptr;
}

struct PageCopy {
  FILE* out;
  int64_t left;  // lines still to copy
};

// A line of the page goes into the selection as it stands (up to a NUL byte, as fputs writes it).
bool copy_page_line(void* context, char* line, size_t) {
  PageCopy& c = *static_cast<PageCopy*>(context);
  fputs(line, c.out);
  return --c.left > 0;
}

struct RangeCopy {
  FILE* out;
  int from_key, to_key;
  char* copy;
  size_t room;
};

// A line dated inside the range goes into the selection; the first one after it ends the reading.
bool copy_range_line(void* context, char* line, size_t) {
  RangeCopy& r = *static_cast<RangeCopy*>(context);
  strip_end(line);
  size_t n = strlen(line);
  if (r.room < n + 1) {
    char* grown = static_cast<char*>(realloc(r.copy, n + 1));
    if (!grown) return false;
    r.copy = grown;
    r.room = n + 1;
  }
  memcpy(r.copy, line, n + 1);
  char* date;
  uint8_t d[3];
  if (!evt_split_line(r.copy, nullptr, nullptr, &date, nullptr, nullptr) || !line_date(date, d)) return true;
  int key = date_key(d);
  if (key < r.from_key) return true;
  if (key > r.to_key) return false;
  fputs(line, r.out);
  fputc('\n', r.out);
  return true;
}

// One row of the export per line that splits.
bool export_line(void* context, char* line, size_t) {
  FILE* out = static_cast<FILE*>(context);
  strip_end(line);
  char *source, *level, *date, *time, *message;
  if (!evt_split_line(line, &source, &level, &date, &time, &message)) return true;
  uint8_t d[3] = {0, 0, 0};
  line_date(date, d);
  fprintf(out, "%s,%02d/%02d/%04d,%s,%s,%s\n", strcmp(source, "0.0.0.0") ? source : "", d[0], d[1], d[2] + 2000,
          time, level_text(level).word, message);
  return true;
}

}  // namespace

void evt_render_page(uint32_t page) {
  ViewPaths p;
  FILE* out;
  if (!open_selection(p, &out)) return;
  if (out) {
    int64_t count = event_log_line_count;
    int64_t skip = count - int64_t(EVENT_PAGE_LINES) * page - EVENT_PAGE_LINES;
    PageCopy c{out, skip >= 0 ? EVENT_PAGE_LINES : count - int64_t(EVENT_PAGE_LINES) * page};
    if (skip < 0) skip = 0;
    if (c.left > 0) evt_each_line(uint32_t(skip) + 1, copy_page_line, &c);
    fclose(out);
  }
  write_table(p.table, p.selection);
}

void evt_render_range(const uint8_t* from, const uint8_t* to) {
  if (!from || !to) return;
  ViewPaths p;
  FILE* out;
  if (!open_selection(p, &out)) return;
  if (out) {
    RangeCopy r{out, date_key(from), date_key(to), nullptr, 0};
    evt_each_line(1, copy_range_line, &r);
    free(r.copy);
    fclose(out);
  }
  write_table(p.table, p.selection);
}

uint32_t evt_render_pager(char* buffer, int32_t page) {
  if (!buffer) return 0;
  buffer[0] = 0;
  int64_t count = evt_line_count();
  int64_t p = page;
  int64_t pages = (count + EVENT_PAGE_LINES - 1) / EVENT_PAGE_LINES;
  int64_t first = p > 2 ? p - 2 : 0;
  if (p > 2 && (p + 3) * int64_t(EVENT_PAGE_LINES) > count) first = pages - 5 < 0 ? 0 : pages - 5;
  int64_t last = first + 4;
  if ((first + 5) * int64_t(EVENT_PAGE_LINES) > count) last = pages - 1 < 0 ? 0 : pages - 1;
  if (first > last) return 0;
  uint32_t length = 0;
  for (int64_t k = first; k <= last; ++k) {
    int n = snprintf(buffer + length, 4096 - length, "<input type=submit value=\" %lld \" name=LOG_BUT%lld> ",
                     static_cast<long long>(k + 1), static_cast<long long>(k + 1 - first));
    if (n < 0 || uint32_t(n) >= 4096 - length) break;
    length += uint32_t(n);
  }
  return length;
}

void evt_export_csv() {
  char path[PATH_ROOM];
  if (!install_path(path, "httpd/htdocs/tmp/event_log.csv")) return;
  remove(path);
  FILE* out = fs_open_private(path, "w");
  if (!out) return;
  SystemTime now;
  clock_local_time(&now);
  fprintf(out, "%c%c%c", 0xEF, 0xBB, 0xBF);
  fprintf(out, "Download Time: %02d/%02d/%04d %02d:%02d:%02d\n\n", now.month, now.day, now.year, now.hour,
          now.minute, now.second);
  fputs("IP Address,Date,Time,Level,Event\n", out);
  evt_each_line(1, export_line, out);
  fclose(out);
}
