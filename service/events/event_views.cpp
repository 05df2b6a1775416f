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
  char log[PATH_ROOM];
  char table[PATH_ROOM];
  char selection[PATH_ROOM];
};

bool view_paths(ViewPaths& p) {
  return install_path(p.log, "_FILE_LOG.TXT") && install_path(p.table, "httpd/htdocs/tmp/iframe_log.htm") &&
         install_path(p.selection, "httpd/htdocs/tmp/events.txt");
}

// Deletes the old view and opens the log and a new selection file. False with nothing open when
// the log is missing (*table_only then says the empty table is still written) or the selection
// cannot be made (nothing at all is written).
bool open_selection(ViewPaths& p, FILE** in, FILE** out, bool* table_only) {
  *table_only = false;
  if (!view_paths(p)) return false;
  remove(p.table);
  remove(p.selection);
  *in = fopen(p.log, "rb");
  if (!*in) {
    *table_only = true;
    return false;
  }
  *out = fs_open_private(p.selection, "wb");
  if (*out) return true;
  fclose(*in);
  return false;
}

}  // namespace

void evt_render_page(uint32_t page) {
  ViewPaths p;
  FILE *in, *out;
  bool table_only;
  if (open_selection(p, &in, &out, &table_only)) {
    int64_t count = event_log_line_count;
    int64_t skip = count - int64_t(EVENT_PAGE_LINES) * page - EVENT_PAGE_LINES;
    int64_t copy = skip >= 0 ? EVENT_PAGE_LINES : count - int64_t(EVENT_PAGE_LINES) * page;
    if (skip < 0) skip = 0;
    char* line = nullptr;
    size_t room = 0;
    for (int64_t i = 0; copy > 0 && getline(&line, &room, in) > 0; ++i) {
      if (i < skip) continue;
      fputs(line, out);
      --copy;
    }
    free(line);
    fclose(out);
    fclose(in);
  } else if (!table_only) {
    return;
  }
  write_table(p.table, p.selection);
}

void evt_render_range(const uint8_t* from, const uint8_t* to) {
  if (!from || !to) return;
  ViewPaths p;
  FILE *in, *out;
  bool table_only;
  if (open_selection(p, &in, &out, &table_only)) {
    int from_key = date_key(from), to_key = date_key(to);
    char* line = nullptr;
    char* copy = nullptr;
    size_t room = 0, copy_room = 0;
    while (getline(&line, &room, in) > 0) {
      strip_end(line);
      size_t n = strlen(line);
      if (copy_room < n + 1) {
        char* grown = static_cast<char*>(realloc(copy, n + 1));
        if (!grown) break;
        copy = grown;
        copy_room = n + 1;
      }
      memcpy(copy, line, n + 1);
      char* date;
      uint8_t d[3];
      if (!evt_split_line(copy, nullptr, nullptr, &date, nullptr, nullptr) || !line_date(date, d)) continue;
      int key = date_key(d);
      if (key < from_key) continue;
      if (key > to_key) break;
      fputs(line, out);
      fputc('\n', out);
    }
    free(line);
    free(copy);
    fclose(out);
    fclose(in);
  } else if (!table_only) {
    return;
  }
  write_table(p.table, p.selection);
}

uint32_t evt_render_pager(char* buffer, int32_t page) {
  if (!buffer) return 0;
  buffer[0] = 0;
  int64_t count = event_log_line_count;
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
  char path[PATH_ROOM], log[PATH_ROOM];
  if (!install_path(path, "httpd/htdocs/tmp/event_log.csv") || !install_path(log, "_FILE_LOG.TXT")) return;
  remove(path);
  FILE* out = fs_open_private(path, "w");
  if (!out) return;
  SystemTime now;
  clock_local_time(&now);
  fprintf(out, "%c%c%c", 0xEF, 0xBB, 0xBF);
  fprintf(out, "Download Time: %02d/%02d/%04d %02d:%02d:%02d\n\n", now.month, now.day, now.year, now.hour,
          now.minute, now.second);
  fputs("IP Address,Date,Time,Level,Event\n", out);
  FILE* in = fopen(log, "rb");
  if (in) {
    char* line = nullptr;
    size_t room = 0;
    while (getline(&line, &room, in) > 0) {
      strip_end(line);
      char *source, *level, *date, *time, *message;
      if (!evt_split_line(line, &source, &level, &date, &time, &message)) continue;
      uint8_t d[3] = {0, 0, 0};
      line_date(date, d);
      fprintf(out, "%s,%02d/%02d/%04d,%s,%s,%s\n", strcmp(source, "0.0.0.0") ? source : "", d[0], d[1],
              d[2] + 2000, time, level_text(level).word, message);
    }
    free(line);
    fclose(in);
  }
  fclose(out);
}
