// Tests of the event log views: page and date-range tables, the page buttons and the CSV export,
// on logs up to the 10000-line limit.
#include "service/events/event_views.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "common/text.h"
#include "service/events/event_defs.h"
#include "service/events/event_log.h"
#include "support/temp_dir.h"

namespace {

class EventViews : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string tmp_;

  void SetUp() override {
    tmp_ = dir_.file("httpd/htdocs/tmp");
    std::filesystem::create_directories(tmp_);
    init();
  }
  void TearDown() override { evt_free_definitions(); }

  void init() {
    char16_t wide[512];
    text_utf8_to_utf16(wide, 512, dir_.path.c_str());
    evt_init(wide, u"English");
  }

  // Writes a log of n lines "line <k>" (k from 1 at the oldest), per_day lines to a day from
  // 01/01/2026 on, then counts it as the service does at start.
  void write_log(int n, int per_day = 1000000) {
    std::string s;
    s.reserve(size_t(n) * 64);
    for (int k = 1; k <= n; ++k) {
      int day = (k - 1) / per_day;  // day index from 01/01/2026, 28 days a month for simplicity
      char line[128];
      snprintf(line, sizeof line, "192.0.2.7 %d %02d/%02d/2026 10:%02d:%02d line %d\r\n", 1 + k % 3,
               1 + day / 28, 1 + day % 28, (k / 60) % 60, k % 60, k);
      s += line;
    }
    write_file(dir_.file("_FILE_LOG.TXT"), s);
    init();
  }

  std::string table() { return read_file(tmp_ + "/iframe_log.htm"); }

  // The line numbers shown in the table, in row order.
  std::vector<int> shown(const std::string& html) {
    std::vector<int> out;
    std::regex re(">line (\\d+)<");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator(); ++it)
      out.push_back(std::stoi((*it)[1]));
    return out;
  }

  std::vector<int> range(int from, int to) {
    std::vector<int> out;
    for (int k = from; from <= to ? k <= to : k >= to; k += from <= to ? 1 : -1) out.push_back(k);
    return out;
  }

  std::string pager(int32_t page) {
    char buf[4096];
    uint32_t n = evt_render_pager(buf, page);
    EXPECT_EQ(n, strlen(buf));
    return std::string(buf, n);
  }
};

TEST_F(EventViews, PagesShowThirtyLinesNewestFirst) {
  write_log(95);
  evt_render_page(0);
  EXPECT_EQ(shown(table()), range(95, 66));
  evt_render_page(3);
  EXPECT_EQ(shown(table()), range(5, 1));
  evt_render_page(4);
  std::string empty = table();
  EXPECT_TRUE(shown(empty).empty());
  EXPECT_NE(empty.find("<td class=title align=\"center\">Event Log</td></tr>\n</table></body></html>\n"),
            std::string::npos);
  EXPECT_EQ(empty.find("<html><head><meta http-equiv=\"content-type\""), 0u);
}

TEST_F(EventViews, PagesOfAFullLog) {
  write_log(10000);
  struct Case {
    uint32_t page;
    int newest, oldest;
  } cases[] = {{0, 10000, 9971}, {1, 9970, 9941}, {100, 7000, 6971}, {332, 40, 11}, {333, 10, 1}};
  for (const Case& c : cases) {
    evt_render_page(c.page);
    EXPECT_EQ(shown(table()), range(c.newest, c.oldest)) << "page " << c.page;
  }
  evt_render_page(334);
  EXPECT_TRUE(shown(table()).empty());
  evt_render_page(0xFFFFFFFFu);
  EXPECT_TRUE(shown(table()).empty());
}

// More lines than the service keeps in memory (a hand-edited log, or trims that failed): the
// oldest pages and a range over them still show the file's lines.
TEST_F(EventViews, PagesOfALogLongerThanTheLimit) {
  write_log(12000, 100);
  evt_render_page(399);
  EXPECT_EQ(shown(table()), range(30, 1));
  evt_render_page(0);
  EXPECT_EQ(shown(table()), range(12000, 11971));
  uint8_t from[3] = {1, 1, 26}, to[3] = {1, 1, 26};
  evt_render_range(from, to);
  EXPECT_EQ(shown(table()), range(100, 1));
}

TEST_F(EventViews, RowsAlternateAndShowLevelsAndDates) {
  write_file(dir_.file("_FILE_LOG.TXT"),
             "0.0.0.0 0 03/04/2026 01:02:03 started\r\n"
             "fe80::1 2 03/04/2026 01:02:04 warn\r\n"
             "10.0.0.1 7 03/05/2026 01:02:05 odd level\r\n"
             "broken-line\r\n"
             "10.0.0.2 3 12/31/2099 23:59:59 last\r\n");
  init();
  evt_render_page(0);
  std::string t = table();
  const char* rows[] = {
      "<tr><td class=bold>10.0.0.2</td><td>12/31/2099</td><td>23:59:59</td><td class=critical>Severity</td><td "
      "nowrap class=critical>last</td></tr>\n",
      "<tr bgcolor=#eeeeee><td class=bold>10.0.0.1</td><td>03/05/2026</td><td>01:02:05</td><td "
      "class=bold>System</td><td nowrap class=bold>odd level</td></tr>\n",
      "<tr><td class=bold>fe80::1</td><td>03/04/2026</td><td>01:02:04</td><td class=warning>Warning</td><td "
      "nowrap class=warning>warn</td></tr>\n",
      "<tr bgcolor=#eeeeee><td class=bold></td><td>03/04/2026</td><td>01:02:03</td><td class=bold>System</td><td "
      "nowrap class=bold>started</td></tr>\n",
  };
  size_t at = 0;
  for (const char* r : rows) {
    size_t found = t.find(r, at);
    ASSERT_NE(found, std::string::npos) << r;
    at = found;
  }
  EXPECT_EQ(t.find("broken"), std::string::npos);
}

TEST_F(EventViews, DataIsEscapedInTheTable) {
  write_file(dir_.file("_FILE_LOG.TXT"),
             "0.0.0.0 3 03/04/2026 01:02:03 Login refused for <script>alert('x')</script> & \"co\"\r\n");
  init();
  evt_render_page(0);
  std::string t = table();
  EXPECT_EQ(t.find("<script>"), std::string::npos);
  EXPECT_NE(t.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;co&quot;"), std::string::npos);
}

TEST_F(EventViews, DateRanges) {
  write_log(10000, 100);  // 100 lines a day from 01/01/2026: days 1/3 and 1/4 hold lines 201-400
  uint8_t from[3] = {1, 3, 26}, to[3] = {1, 4, 26};
  evt_render_range(from, to);
  std::string t = table();
  EXPECT_EQ(shown(t), range(400, 201));
  EXPECT_NE(t.find("<tr bgcolor=#eeeeee><td class=bold>192.0.2.7</td><td>01/03/2026</td>"), std::string::npos);

  // From after to: nothing.
  evt_render_range(to, from);
  EXPECT_TRUE(shown(table()).empty());

  // Before the first line up to the second day; after the last day: nothing.
  uint8_t early[3] = {12, 1, 25}, second[3] = {1, 2, 26}, late_from[3] = {1, 1, 27}, late_to[3] = {2, 1, 27};
  evt_render_range(early, second);
  EXPECT_EQ(shown(table()), range(200, 1));
  evt_render_range(late_from, late_to);
  EXPECT_TRUE(shown(table()).empty());

  // The whole log, every line, newest first.
  uint8_t all_to[3] = {12, 31, 99};
  evt_render_range(early, all_to);
  EXPECT_EQ(shown(table()), range(10000, 1));
}

TEST_F(EventViews, PagerButtons) {
  struct Case {
    int lines;
    int32_t page;
    int first, last;
  } cases[] = {{1000, 10, 9, 13}, {1000, 33, 30, 34}, {1000, 0, 1, 5},  {1000, 2, 1, 5}, {100, 0, 1, 4},
               {100, 3, 1, 4},    {0, 0, 1, 1},       {150, 4, 1, 5},   {10000, 333, 330, 334}};
  for (const Case& c : cases) {
    write_log(c.lines);
    std::string expect;
    for (int k = c.first; k <= c.last; ++k)
      expect += "<input type=submit value=\" " + std::to_string(k) + " \" name=LOG_BUT" +
                std::to_string(k - c.first + 1) + "> ";
    EXPECT_EQ(pager(c.page), expect) << c.lines << " lines, page " << c.page;
  }
}

TEST_F(EventViews, CsvExportReadByACsvReader) {
  write_log(10000, 100);
  // Two special lines appended: a service event and an odd level.
  FILE* f = fopen(dir_.file("_FILE_LOG.TXT").c_str(), "ab");
  fputs("0.0.0.0 0 04/10/2026 08:00:00 The service started.\r\n", f);
  fputs("10.1.1.1 7 04/10/2026 08:00:01 <b>odd</b>\r\n", f);
  fclose(f);
  init();
  evt_export_csv();
  std::string csv = read_file(tmp_ + "/event_log.csv");
  ASSERT_GE(csv.size(), 3u);
  EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_TRUE(std::regex_search(csv.substr(3, 40), std::regex("^Download Time: \\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\n\n")));

  // Python's csv module reads the rows after the two preamble lines; it prints row count, columns
  // and a few fields.
  std::string script = dir_.file("read.py");
  write_file(script,
             "import csv,sys\n"
             "f=open(sys.argv[1],encoding='utf-8-sig',newline='')\n"
             "f.readline();f.readline()\n"
             "rows=list(csv.reader(f))\n"
             "print(len(rows),set(len(r) for r in rows))\n"
             "print('|'.join(rows[0]))\n"
             "print('|'.join(rows[1]))\n"
             "print('|'.join(rows[10000]))\n"
             "print('|'.join(rows[-2]))\n"
             "print('|'.join(rows[-1]))\n");
  std::string cmd = "python3 " + script + " " + tmp_ + "/event_log.csv";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  ASSERT_EQ(pclose(p), 0) << out;
  EXPECT_EQ(out,
            "10003 {5}\n"
            "IP Address|Date|Time|Level|Event\n"
            "192.0.2.7|01/01/2026|10:00:01|Warning|line 1\n"
            "192.0.2.7|04/16/2026|10:46:40|Warning|line 10000\n"
            "|04/10/2026|08:00:00|System|The service started.\n"
            "10.1.1.1|04/10/2026|08:00:01|System|<b>odd</b>\n");
}

TEST_F(EventViews, MissingLogGivesEmptyViews) {
  evt_render_page(0);
  EXPECT_TRUE(shown(table()).empty());
  EXPECT_NE(table().find("</table></body></html>\n"), std::string::npos);
  evt_export_csv();
  std::string csv = read_file(tmp_ + "/event_log.csv");
  EXPECT_EQ(csv.substr(csv.size() - 35), "\n\nIP Address,Date,Time,Level,Event\n");
}

TEST_F(EventViews, UnwritableFolderWritesNothing) {
  std::filesystem::remove_all(tmp_);
  write_log(10);
  evt_render_page(0);
  evt_export_csv();
  EXPECT_FALSE(fs_exists(tmp_));
}

}  // namespace
