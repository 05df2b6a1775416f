// Tests of the event log file: line format, message forming, the line limit and its trim (also
// an interrupted one), reading lines back, splitting, clearing, hand-edited files, a file removed
// or replaced under the module, and the file's mode.
#include "service/events/event_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "service/events/event_defs.h"

namespace {

std::u16string u16(const std::string& s) {
  std::u16string out(s.size() + 1, u'\0');
  out.resize(text_utf8_to_utf16(out.data(), out.size(), s.c_str()));
  return out;
}

std::string u8(const std::u16string& s) {
  std::string out(s.size() * 3 + 1, '\0');
  out.resize(text_utf16_to_utf8(out.data(), out.size(), s.c_str()));
  return out;
}

// True when the bytes are well-formed UTF-8 (a round trip through UTF-16 keeps them).
bool valid_utf8(const std::string& s) { return u8(u16(s)) == s; }

std::string format(const char16_t* text, std::vector<const char16_t*> args, uint32_t room = EVENT_MESSAGE_UNITS) {
  std::vector<char16_t> out(room + 8, u'#');
  uint32_t n = evt_format_message(out.data(), room, text, args.data(), int(args.size()));
  EXPECT_EQ(out[n], 0);
  EXPECT_LT(n, room);
  EXPECT_EQ(out[room], u'#') << "nothing written past the room";
  return u8(std::u16string(out.data(), n));
}

class EventLog : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vellmar-evtlog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    log_ = dir_ + "/_FILE_LOG.TXT";
    evt_init(u16(dir_).c_str(), u"English");
  }
  void TearDown() override {
    evt_trim_rename = rename;
    evt_free_definitions();
    std::filesystem::remove_all(dir_);
  }

  std::string read_all(const std::string& path) {
    std::string s;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
  }

  std::vector<std::string> lines() {
    std::vector<std::string> v;
    std::string s = read_all(log_);
    size_t at = 0;
    while (at < s.size()) {
      size_t nl = s.find('\n', at);
      if (nl == std::string::npos) nl = s.size();
      size_t end = nl > at && s[nl - 1] == '\r' ? nl - 1 : nl;
      v.push_back(s.substr(at, end - at));
      at = nl + 1;
    }
    return v;
  }

  void write_raw(const std::string& bytes) {
    FILE* f = fopen(log_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    event_log_line_count = evt_count_lines();
  }

  static std::string old_line(uint32_t i) { return "10.0.0.1 1 01/02/2024 03:04:05 old " + std::to_string(i); }

  void write_old_lines(uint32_t count) {
    std::string s;
    for (uint32_t i = 1; i <= count; ++i) s += old_line(i) + "\r\n";
    write_raw(s);
  }

  std::string recent(uint32_t n, int* ok = nullptr) {
    char out[EVENT_LOG_LINE_BYTES + 8];
    memset(out, '#', sizeof out);
    strcpy(out, "unchanged");
    int r = EventApi.evt_read_recent_line(n, out);
    if (ok) *ok = r;
    for (size_t i = EVENT_LOG_LINE_BYTES; i < sizeof out; ++i) EXPECT_EQ(out[i], '#');
    return out;
  }

  static std::string message_of(const std::string& line) {
    std::string copy = line;
    char *s, *l, *d, *t, *m;
    if (!evt_split_line(copy.data(), &s, &l, &d, &t, &m)) return "<no split>";
    return m;
  }

  std::string dir_, log_;
};

TEST_F(EventLog, LineFormat) {
  EventApi.evt_log(u"0.0.0.0", 1, u"Service started", nullptr);
  EventApi.evt_log(u"10.0.0.7", 3, u"Battery low", nullptr);
  std::string s = read_all(log_);
  std::regex want(
      "0\\.0\\.0\\.0 1 [01]\\d/[0-3]\\d/20\\d\\d [0-2]\\d:[0-5]\\d:[0-5]\\d Service started\r\n"
      "10\\.0\\.0\\.7 3 [01]\\d/[0-3]\\d/20\\d\\d [0-2]\\d:[0-5]\\d:[0-5]\\d Battery low\r\n");
  EXPECT_TRUE(std::regex_match(s, want)) << s;
  EXPECT_EQ(event_log_line_count, 2u);
  EXPECT_EQ(evt_count_lines(), 2u);
}

TEST_F(EventLog, DateIsMonthFirst) {
  SystemTime t{};
  t.year = 2024;
  t.month = 3;
  t.day = 5;
  t.hour = 7;
  t.minute = 8;
  t.second = 9;
  char line[400];
  uint32_t n = evt_compose_line(line, sizeof line, "10.0.0.7", 2, t, "a message");
  EXPECT_EQ(std::string(line, n), "10.0.0.7 2 03/05/2024 07:08:09 a message\r\n");
  t = SystemTime{2024, 12, 2, 31, 23, 59, 58, 0};
  evt_compose_line(line, sizeof line, "0.0.0.0", 0, t, "%s %d");
  EXPECT_EQ(std::string(line), "0.0.0.0 0 12/31/2024 23:59:58 %s %d\r\n") << "fields are written verbatim";
}

TEST_F(EventLog, MessageForming) {
  struct Case {
    const char16_t* text;
    std::vector<const char16_t*> args;
    std::string want;
  };
  const Case cases[] = {
      {u"100% done %d %s %% %n", {}, "100% done %d %s %% %n"},  // no arguments: unchanged
      {u"Login of %s from %s", {u"admin", u"10.0.0.9"}, "Login of admin from 10.0.0.9"},
      {u"User %s", {u"%s%n%d%%"}, "User %s%n%d%%"},  // an argument is never read as a format
      {u"%s and %s and %s", {u"a"}, "a and  and "},   // missing arguments are empty
      {u"50%% of %s", {u"x"}, "50% of x"},
      {u"%d %x %n %ls %5s %s", {u"y"}, "%d %x %n %ls %5s y"},
      {u"trailing %", {u"a"}, "trailing %"},
      {u"%s%s%s%s%s%s%s", {u"1", u"2", u"3", u"4", u"5", u"6"}, "123456"},
      {nullptr, {u"a"}, ""},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(format(cases[i].text, cases[i].args), cases[i].want) << "case " << i;
}

TEST_F(EventLog, HostileFormatsStayInTheirBuffers) {
  std::u16string big(400, u'A');
  std::vector<const char16_t*> six(6, big.c_str());
  std::string m = format(u"%n%d%x%s%s%s%s%s%s%s%s", six);
  EXPECT_EQ(m.size(), 259u);
  EXPECT_EQ(m.substr(0, 6), "%n%d%x");
  std::u16string pairs;
  for (int i = 0; i < 300; ++i) pairs += u"\U0001F600";
  std::string p = format(u"%s", {pairs.c_str()});
  EXPECT_EQ(u16(p).size(), 258u) << "a surrogate pair is never split";
  EXPECT_TRUE(valid_utf8(p));
  EXPECT_EQ(format(u"abcdef%s", {u"ghij"}, 5), "abcd");
  EXPECT_EQ(format(u"%s", {u"x"}, 1), "");

  EventApi.evt_log(u"0.0.0.0", 0, u"%n%d%x%s%s%s%s%s%s%s%s", six[0], six[1], six[2], six[3], six[4], six[5], nullptr);
  EventApi.evt_log(u"0.0.0.0", 0, u"%s", pairs.c_str(), nullptr);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(message_of(l[0]).size(), 255u);
  EXPECT_EQ(message_of(l[1]).size(), 252u) << "63 four-byte characters fit in 255 bytes";
  EXPECT_TRUE(valid_utf8(l[1]));
}

TEST_F(EventLog, LongSourceIsCutAtACharacterBoundary) {
  std::u16string src(40, u'\u00E9');
  EventApi.evt_log(src.c_str(), 0, u"m", nullptr);
  std::string line = lines().at(0);
  std::string source = line.substr(0, line.find(' '));
  EXPECT_EQ(source.size(), 62u);
  EXPECT_TRUE(valid_utf8(source));
}

TEST_F(EventLog, LineEndsInsideFieldsCannotSplitOrForgeLines) {
  EventApi.evt_log(u"1.2.3.4 x\r\n", 2, u"User %s refused",
                   u"bob\r\n10.0.0.1 3 01/01/2024 00:00:00 forged", nullptr);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(evt_count_lines(), 1u);
  EXPECT_EQ(l[0].substr(0, l[0].find(' ')), "1.2.3.4_x__");
  EXPECT_NE(message_of(l[0]).find("bob  10.0.0.1 3"), std::string::npos);
}

TEST_F(EventLog, NullAndMissingTexts) {
  EventApi.evt_log(u"0.0.0.0", 0, nullptr, nullptr);
  EventApi.evt_log(u"0.0.0.0", 0, evt_name(EVT_GROUP_COMMON, 1), nullptr);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(message_of(l[0]), "");
}

TEST_F(EventLog, The10001stLineLeaves7501) {
  write_old_lines(10000);
  ASSERT_EQ(event_log_line_count, 10000u);
  EventApi.evt_log(u"0.0.0.0", 0, u"newest", nullptr);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 7501u);
  EXPECT_EQ(event_log_line_count, 7501u);
  EXPECT_EQ(l.front(), old_line(2501));
  EXPECT_EQ(message_of(l.back()), "newest");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Temp.Log"));
}

TEST_F(EventLog, StaysWithinTheLimitOver12000Appends) {
  uint32_t highest = 0;
  for (int i = 1; i <= 12000; ++i) {
    std::u16string text = u16("event " + std::to_string(i));
    EventApi.evt_log(u"0.0.0.0", 1, text.c_str(), nullptr);
    ASSERT_LE(event_log_line_count, EVENT_LOG_MAX_LINES);
    if (event_log_line_count > highest) highest = event_log_line_count;
  }
  EXPECT_EQ(highest, EVENT_LOG_MAX_LINES);
  std::vector<std::string> l = lines();
  EXPECT_EQ(l.size(), 9500u);
  EXPECT_EQ(event_log_line_count, 9500u);
  EXPECT_EQ(message_of(l.front()), "event 2501");
  EXPECT_EQ(message_of(l.back()), "event 12000");
}

// Stands for a crash between writing Temp.Log and the rename: Temp.Log is complete on disk,
// the rename never happens.
uint32_t g_temp_lines_seen;
int rename_never_happens(const char* from, const char*) {
  FILE* f = fopen(from, "rb");
  if (f) {
    int c;
    while ((c = fgetc(f)) != EOF) g_temp_lines_seen += c == '\n';
    fclose(f);
  }
  return -1;
}

TEST_F(EventLog, InterruptedTrimKeepsEveryLine) {
  write_old_lines(10000);
  g_temp_lines_seen = 0;
  evt_trim_rename = rename_never_happens;
  EventApi.evt_log(u"0.0.0.0", 0, u"newest", nullptr);
  EXPECT_EQ(g_temp_lines_seen, 7501u) << "Temp.Log was whole before the rename";
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 10001u);
  EXPECT_EQ(l.front(), old_line(1));
  EXPECT_EQ(message_of(l.back()), "newest");
  EXPECT_EQ(event_log_line_count, 10001u) << "the count stays true to the file";
  EXPECT_EQ(message_of(recent(0)), "newest");
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/Temp.Log"));
  EXPECT_EQ(evt_trim_oldest(10), 0);
  EXPECT_EQ(lines().size(), 10001u);

  // The next attempt comes 2500 lines later and then succeeds.
  evt_trim_rename = rename;
  for (int i = 0; i < 2499; ++i) EventApi.evt_log(u"0.0.0.0", 0, u"more", nullptr);
  EXPECT_EQ(event_log_line_count, 12500u);
  EventApi.evt_log(u"0.0.0.0", 0, u"last", nullptr);
  EXPECT_EQ(event_log_line_count, 7501u);
  EXPECT_EQ(lines().size(), 7501u);
  EXPECT_EQ(message_of(recent(0)), "last");
}

TEST_F(EventLog, TrimOldest) {
  write_old_lines(10);
  EXPECT_NE(evt_trim_oldest(3), 0);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(l.front(), old_line(4));
  EXPECT_NE(evt_trim_oldest(100), 0);
  EXPECT_EQ(read_all(log_), "");
  std::filesystem::remove(log_);
  EXPECT_EQ(evt_trim_oldest(1), 0) << "no log to trim";
}

TEST_F(EventLog, ReadRecentLine) {
  int ok;
  EXPECT_EQ(recent(0, &ok), "unchanged");
  EXPECT_EQ(ok, 0);
  EventApi.evt_log(u"0.0.0.0", 0, u"one", nullptr);
  EventApi.evt_log(u"0.0.0.0", 0, u"two", nullptr);
  EventApi.evt_log(u"0.0.0.0", 0, u"three", nullptr);
  std::string newest = recent(0, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(message_of(newest), "three");
  EXPECT_EQ(newest.find('\r'), std::string::npos);
  EXPECT_EQ(message_of(recent(2)), "one");
  EXPECT_EQ(recent(3, &ok), "unchanged");
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(recent(4000000000u, &ok), "unchanged");
  EXPECT_EQ(ok, 0);
  // A count above the lines in the file: the file ends first.
  event_log_line_count = 5;
  EXPECT_EQ(recent(0, &ok), "unchanged");
  EXPECT_EQ(ok, 0);
}

TEST_F(EventLog, SplitLine) {
  char line[] = "10.0.0.7 2 03/05/2024 07:08:09 Battery power is running low";
  char *s, *l, *d, *t, *m;
  ASSERT_EQ(EventApi.evt_split_line(line, &s, &l, &d, &t, &m), 1);
  EXPECT_STREQ(s, "10.0.0.7");
  EXPECT_STREQ(l, "2");
  EXPECT_STREQ(d, "03/05/2024");
  EXPECT_STREQ(t, "07:08:09");
  EXPECT_STREQ(m, "Battery power is running low");
  for (const char* bad : {"", " ", "a b c", "a b c d", "    "}) {
    std::string copy = bad;
    EXPECT_EQ(evt_split_line(copy.data(), &s, &l, &d, &t, &m), 0) << '"' << bad << '"';
  }
  char empty_message[] = "0.0.0.0 0 01/01/2024 00:00:00 ";
  ASSERT_EQ(evt_split_line(empty_message, &s, &l, &d, &t, &m), 1);
  EXPECT_STREQ(m, "");
  char leading[] = " 1 2 3 4 5";  // the search starts at the second character
  ASSERT_EQ(evt_split_line(leading, &s, &l, &d, &t, &m), 1);
  EXPECT_STREQ(s, " 1");
  EXPECT_STREQ(m, "5");
}

TEST_F(EventLog, ClearLog) {
  EventApi.evt_log(u"0.0.0.0", 0, u"one", nullptr);
  EXPECT_NE(EventApi.evt_clear_log(), 0);
  EXPECT_EQ(event_log_line_count, 0u);
  EXPECT_FALSE(std::filesystem::exists(log_));
  int ok;
  recent(0, &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_NE(EventApi.evt_clear_log(), 0) << "no file left either way";
  EventApi.evt_log(u"0.0.0.0", 0, u"again", nullptr);
  EXPECT_EQ(lines().size(), 1u);
  EXPECT_EQ(event_log_line_count, 1u);
}

TEST_F(EventLog, UnwritableLogIsANoOp) {
  evt_init(u16(dir_ + "/missing/folder").c_str(), u"English");
  EXPECT_EQ(event_log_line_count, 0u);
  EventApi.evt_log(u"0.0.0.0", 0, u"lost", nullptr);
  EXPECT_EQ(event_log_line_count, 0u);
}

// A file that cannot grow (a full disk, here a file size limit): a line goes in whole or not at
// all, the count follows the file, and once lines fit again one line says how many were lost.
TEST_F(EventLog, LinesThatDoNotFitLeaveNothingAndAreCountedAsLost) {
  std::filesystem::copy(std::string(VELLMAR_SOURCE_DIR) + "/data/Language", dir_ + "/Language",
                        std::filesystem::copy_options::recursive);
  evt_init(u16(dir_).c_str(), u"English");
  std::string lost_text = u8(evt_name(EVT_GROUP_COMMON, EVT_COMMON_LOG_LINES_LOST));
  ASSERT_NE(lost_text.find("%s"), std::string::npos);
  lost_text = lost_text.substr(0, lost_text.find("%s"));
  EventApi.evt_clear_log();   // no loss of an earlier folder is told here
  EventApi.evt_log(u"0.0.0.0", 0, u"first", nullptr);
  ASSERT_EQ(event_log_line_count, 1u);
  size_t first = read_all(log_).size();

  signal(SIGXFSZ, SIG_IGN);
  rlimit old, small;
  getrlimit(RLIMIT_FSIZE, &old);
  small.rlim_cur = first + 60;   // room for part of one more line
  small.rlim_max = old.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  for (int i = 0; i < 5; ++i)
    EventApi.evt_log(u"0.0.0.0", 0, u"a line too long to fit in the little room that is left here", nullptr);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(read_all(log_).size(), first) << "nothing of a cut line stays";
  EXPECT_EQ(event_log_line_count, 1u);

  EventApi.evt_log(u"0.0.0.0", 0, u"after", nullptr);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(event_log_line_count, 3u);
  EXPECT_NE(l[1].find(" after"), std::string::npos);
  EXPECT_NE(l[2].find(lost_text + "5"), std::string::npos) << l[2];
  for (const std::string& line : l) EXPECT_TRUE(std::regex_search(line, std::regex(R"(^0\.0\.0\.0 \d+ \d\d/\d\d/\d{4} )")));
  EventApi.evt_log(u"0.0.0.0", 0, u"later", nullptr);
  EXPECT_EQ(lines().size(), 4u) << "the loss is told once";
}

TEST_F(EventLog, HandEditedLogStaysWithinBuffers) {
  std::string s;
  for (uint32_t i = 1; i <= 49997; ++i) s += old_line(i) + "\n";  // LF only
  std::string accented;
  for (int i = 0; i < 50000; ++i) accented += "\xC3\xA9";
  s += "1.2.3.4 0 01/01/2024 00:00:00 " + accented + "\r\n";          // 100 kB line
  s += "1.2.3.4 0 01/01/2024 00:00:00 bad \xFF\xFE\xC3 utf8\r\n";   // invalid UTF-8
  s += "9.9.9.9 0 01/01/2024 00:00:00 no line end";
  write_raw(s);
  EXPECT_EQ(event_log_line_count, 50000u);

  int ok;
  std::string last = recent(0, &ok);
  EXPECT_EQ(message_of(last), "no line end");
  std::string bad = recent(1, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(message_of(bad), "bad \xFF\xFE\xC3 utf8");
  std::string long_line = recent(2, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(long_line.size(), 254u) << "cut to 255 bytes at a character boundary";
  EXPECT_TRUE(valid_utf8(long_line));
  EXPECT_EQ(recent(3), old_line(49997));

  // The first new line does not join the unterminated one, and the trim brings the file down.
  EventApi.evt_log(u"0.0.0.0", 0, u"new", nullptr);
  std::vector<std::string> l = lines();
  ASSERT_EQ(l.size(), 7501u);
  EXPECT_EQ(event_log_line_count, 7501u);
  EXPECT_EQ(message_of(l[l.size() - 2]), "no line end");
  EXPECT_EQ(message_of(l.back()), "new");
  EXPECT_EQ(evt_count_lines(), 7501u);
}

TEST_F(EventLog, FilesWithoutLineEndsOrWithBinaryBytes) {
  write_raw(std::string(1 << 20, 'x'));
  EXPECT_EQ(event_log_line_count, 1u);
  int ok;
  std::string one = recent(0, &ok);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(one.size(), 255u);
  EXPECT_EQ(message_of(one), "<no split>");

  std::string bin;
  for (int i = 0; i < 300000; ++i) bin += char((unsigned(i) * 7919u) & 0xFFu);
  write_raw(bin);
  uint32_t n = event_log_line_count;
  EXPECT_EQ(n, uint32_t(std::count(bin.begin(), bin.end(), '\n') + (bin.back() != '\n')));
  for (uint32_t k = 0; k < n; k += 97) {
    std::string r = recent(k, &ok);
    EXPECT_EQ(ok, 1);
    EXPECT_LE(r.size(), 255u);
    message_of(r);
  }
  EXPECT_NE(evt_trim_oldest(n / 2), 0);
  EXPECT_EQ(evt_count_lines(), n - n / 2);
}

// The log removed, replaced or cut under the service near its line limit: the count is taken
// afresh, every line written afterwards stays, and the lines read back are those of the new file.
TEST_F(EventLog, ALogChangedUnderTheServiceKeepsEveryLaterLine) {
  struct Case {
    const char* change;
    std::vector<std::string> left;  // the lines the change leaves in the file
  } cases[] = {
      {"removed", {}},
      {"replaced by a shorter file", {old_line(1), old_line(2), old_line(3)}},
      {"cut in place", {}},
  };
  for (const Case& c : cases) {
    write_old_lines(EVENT_LOG_MAX_LINES - 10);
    ASSERT_EQ(recent(0), old_line(EVENT_LOG_MAX_LINES - 10)) << c.change;
    std::string change = c.change;
    if (change == "removed") {
      std::filesystem::remove(log_);
    } else if (change == "cut in place") {
      ASSERT_EQ(truncate(log_.c_str(), 0), 0);
    } else {
      std::string other = dir_ + "/other.txt", s;
      for (const std::string& l : c.left) s += l + "\r\n";
      FILE* f = fopen(other.c_str(), "wb");
      fwrite(s.data(), 1, s.size(), f);
      fclose(f);
      std::filesystem::rename(other, log_);
    }
    int ok;
    std::string newest = recent(0, &ok);
    EXPECT_EQ(ok, c.left.empty() ? 0 : 1) << c.change;
    if (!c.left.empty()) {
      EXPECT_EQ(newest, c.left.back()) << c.change;
    }
    EXPECT_EQ(event_log_line_count, c.left.size()) << c.change;

    std::vector<std::string> want = c.left;
    for (int i = 0; i < 30; ++i) {
      std::u16string text = u16("after " + std::to_string(i));
      EventApi.evt_log(u"0.0.0.0", 1, text.c_str(), nullptr);
      want.push_back("after " + std::to_string(i));
    }
    std::vector<std::string> l = lines();
    ASSERT_EQ(l.size(), want.size()) << c.change;
    for (size_t i = 0; i < l.size(); ++i) {
      std::string got = i < c.left.size() ? l[i] : message_of(l[i]);
      EXPECT_EQ(got, want[i]) << c.change << ", line " << i;
    }
    EXPECT_EQ(event_log_line_count, want.size()) << c.change;
    EXPECT_EQ(message_of(recent(0)), "after 29") << c.change;
    EXPECT_EQ(message_of(recent(29)), "after 0") << c.change;
  }
}

// Account names and addresses are in the log: only its owner may read it, whatever made it.
TEST_F(EventLog, TheLogIsReadableByItsOwnerOnly) {
  mode_t old_mask = umask(022);
  auto mode = [this] {
    struct stat st;
    return stat(log_.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
  };
  EventApi.evt_log(u"0.0.0.0", 0, u"first line of a new log", nullptr);
  EXPECT_EQ(mode(), 0600u) << "a new log";
  write_old_lines(10);
  ASSERT_EQ(chmod(log_.c_str(), 0644), 0);
  evt_init(u16(dir_).c_str(), u"English");
  EXPECT_EQ(mode(), 0600u) << "an existing log at start";
  write_old_lines(EVENT_LOG_MAX_LINES);
  EventApi.evt_log(u"0.0.0.0", 0, u"the line that trims", nullptr);
  ASSERT_EQ(lines().size(), 7501u);
  EXPECT_EQ(mode(), 0600u) << "after a trim";
  umask(old_mask);
}

// A log longer than the lines kept in memory: its oldest lines still read back from the file.
TEST_F(EventLog, LinesOlderThanTheMemoryCopyAreReadFromTheFile) {
  write_old_lines(12000);
  ASSERT_EQ(event_log_line_count, 12000u);
  for (uint32_t n : {0u, 9999u, 10000u, 10001u, 11999u}) EXPECT_EQ(recent(n), old_line(12000 - n)) << n;
  int ok;
  recent(12000, &ok);
  EXPECT_EQ(ok, 0);
}

}  // namespace
