// Tests of the UPS page variables: name dispatch, the list tables and their placeholder rows,
// the summary blocks, the history variables, and the escaping of data texts.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "pages_fixture.h"
#include "platform/clock.h"
#include "service/alarm/status.h"
#include "service/core/host_metrics.h"

namespace pages_test {
namespace {

class PageVariables : public PagesFixture {
 protected:
  void SetUp() override {
    PagesFixture::SetUp();
    empty_lists();
    g_usm.count = 0;
  }
};

TEST_F(PageVariables, NamesAreMatchedByGroupThenByTablePrefix) {
  g_settings.notify_period = 77;
  g_settings.notify_enable = 1;
  g_settings.condition_delay[3] = 4000000000u;
  g_settings.condition_enable[4] = 1;
  struct Case {
    const char* name;
    const char* value;
  } cases[] = {
      {"SUM_X", ""},
      {"XYZ_ANY", ""},
      {"CFG_MSG_PERIOD", "77"},
      {"CFG_MSG_EN2", "1"},
      {"CFG_OSD_BP", "-294967296"},
      {"CFG_SS_EN", "1"},
      {"HCG_MAX_EVENTNUM", "10000"},
      {"HCG_AE_PATH", ""},
      {"DBG_VER_UPS", ""},
      {"NOT_DELAY", "5"},
      {"CFG_SNMP_PORT", "161"},
  };
  for (const Case& c : cases) EXPECT_EQ(var(c.name), c.value) << c.name;
  EXPECT_EQ(var("CFG_SRC_LISTING"), var("CFG_SRC_LIST"));
}

TEST_F(PageVariables, EmptyListsGivePlaceholderRows) {
  g_clusters.count = 0;
  EXPECT_EQ(var("SUM_SOURCE_LIST"), "");
  EXPECT_EQ(var("CFG_SRC_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" "
            "onclick=\"Func_Select(1,'0.0.0.0','fenwix','',0);\">0.0.0.0</a></td><td>fenwix</td><td></td></tr>\n");
  EXPECT_EQ(var("CFG_CLUSTER_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"Cluster1\" "
            "onclick=\"Func_SelectCluster(1,'0.0.0.0','','','',0);\">0.0.0.0</a></td><td></td><td></td><td></td></tr>\n");
  EXPECT_EQ(var("FWD_TARGET_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" onclick=\"Func_Select(1,'0.0.0.0',162,0);\">0.0.0.0</a>"
            "</td><td>162</td></tr>\n");
  EXPECT_EQ(var("ACS_SOURCE_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" onclick=\"Func_Select(1,'0.0.0.0','fenwix',0,0);\">"
            "0.0.0.0</a></td><td>fenwix</td><td>0</td></tr>\n");
  EXPECT_EQ(var("USM_USER_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" onclick=\"Func_Select(1,'',0,'auth','priv',0,0);\">"
            "</a></td><td>0</td><td>auth</td><td>priv</td><td>0</td></tr>\n");
  EXPECT_EQ(var("CFG_FUNC_LOAD"),
            "Func_Select(1,'0.0.0.0','fenwix','',0);\nFunc_SelectCluster(1,'0.0.0.0','','','',0);\n");
  EXPECT_EQ(var("FWD_FUNC_LOAD"), "Func_Select(1,'0.0.0.0',162,0);\n");
  EXPECT_EQ(var("ACS_FUNC_LOAD"), "Func_Select(1,'0.0.0.0','fenwix',0,0);\n");
  EXPECT_EQ(var("USM_FUNC_LOAD"), "Func_Select(1,'',0,'auth','priv',0,0);\n");
  g_clusters.count = -1;
  EXPECT_EQ(var("CFG_CLUSTER_LIST"), "");
}

TEST_F(PageVariables, RowsCarryTheirDataEscapedAndNoSecrets) {
  g_source_ips.count = 2;
  snprintf(g_source_ips.ip[0], 52, "10.0.0.1");
  snprintf(g_source_ips.community[0], 17, "pub");
  snprintf(g_source_ips.usm_user[0], 17, "u1");
  snprintf(g_source_ips.ip[1], 52, "fe80::2");
  snprintf(g_source_ips.community[1], 17, "a'b<c\"d");
  g_usm.count = 1;
  snprintf(g_usm.user[0], 17, "manager");
  snprintf(g_usm.auth[0], 17, "secret-auth");
  snprintf(g_usm.priv[0], 17, "secret-priv");
  g_usm.security[0] = 2;
  g_usm.permission[0] = 2;
  g_clusters.count = 1;
  snprintf(g_clusters.vcenter[0], 52, "vc.example");
  snprintf(g_clusters.account[0], 33, "admin");
  snprintf(g_clusters.password[0], 33, "cluster-secret");
  snprintf(g_clusters.cluster[0], 33, "C1");
  text_copy16(g_settings.vm_password, 33, u"vm-secret");

  std::string src = var("CFG_SRC_LIST");
  EXPECT_NE(src.find("<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" "
                     "onclick=\"Func_Select(1,'10.0.0.1','pub','u1',1);\">10.0.0.1</a></td><td>pub</td><td>u1</td></tr>\n"),
            std::string::npos);
  EXPECT_NE(src.find("onclick=\"Func_Select(2,'fe80::2','a\\'b\\u003Cc\\u0022d','',1);\">fe80::2</a></td>"
                     "<td>a&#39;b&lt;c&quot;d</td>"),
            std::string::npos)
      << src;
  EXPECT_EQ(var("USM_USER_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" onclick=\"Func_Select(1,'manager',2,'','',2,1);\">"
            "manager</a></td><td>2</td><td></td><td></td><td>2</td></tr>\n");
  EXPECT_EQ(var("CFG_CLUSTER_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"Cluster1\" "
            "onclick=\"Func_SelectCluster(1,'vc.example','admin','','C1',1);\">vc.example</a></td><td>admin</td>"
            "<td></td><td>C1</td></tr>\n");
  EXPECT_EQ(var("CFG_VM_PASSWORD"), "");
  for (const char* name : {"CFG_SRC_LIST", "USM_USER_LIST", "USM_FUNC_LOAD", "CFG_CLUSTER_LIST", "CFG_FUNC_LOAD"}) {
    std::string v = var(name);
    EXPECT_EQ(v.find("secret"), std::string::npos) << name;
  }
}

// The read-only account sees no community (one that writes over SNMP among them); the device
// manager and the administrator see them all.
TEST_F(PageVariables, CommunitiesAreShownFromTheDeviceManagerUp) {
  g_source_ips.count = 1;
  snprintf(g_source_ips.ip[0], 52, "10.0.0.1");
  snprintf(g_source_ips.community[0], 17, "trapsecret");
  g_snmp_agent.count = 1;
  snprintf(g_snmp_agent.ip[0], 52, "0.0.0.0");
  snprintf(g_snmp_agent.community[0], 17, "rwsecret");
  g_snmp_agent.permission[0] = 2;
  struct Case {
    int level;  // -1: no session
    bool shown;
  } cases[] = {{0, true}, {1, true}, {2, false}, {-1, false}};
  struct Where {
    const char* name;
    const char* community;
  } places[] = {{"SUM_SOURCE_LIST", "trapsecret"}, {"CFG_SRC_LIST", "trapsecret"}, {"CFG_FUNC_LOAD", "trapsecret"},
                {"ACS_SOURCE_LIST", "rwsecret"},   {"ACS_FUNC_LOAD", "rwsecret"}};
  for (const Case& c : cases) {
    session_level(c.level < 0 ? 0 : c.level);
    if (c.level < 0) g_current_session = -1;
    for (const Where& w : places) {
      std::string v = var(w.name);
      EXPECT_EQ(v.find(w.community) != std::string::npos, c.shown) << w.name << " at level " << c.level << ": " << v;
      EXPECT_NE(v.find(w.name[0] == 'A' ? "0.0.0.0" : "10.0.0.1"), std::string::npos) << "the row stays";
    }
  }
  session_level(2);
  EXPECT_EQ(var("ACS_SOURCE_LIST"),
            "<tr align=center><td>1</td><td><a href=\"#\" id=\"1\" onclick=\"Func_Select(1,'0.0.0.0','',2,1);\">"
            "0.0.0.0</a></td><td></td><td>2</td></tr>\n");
  EXPECT_NE(
      var("SUM_SOURCE_LIST").find("<SUM_SOURCE_IP>10.0.0.1</SUM_SOURCE_IP>\n<SUM_SOURCE_COMM></SUM_SOURCE_COMM>\n"),
      std::string::npos);
}

TEST_F(PageVariables, SummaryBlocks) {
  g_source_ips.count = 2;
  snprintf(g_source_ips.ip[0], 52, "127.0.0.1");
  snprintf(g_source_ips.community[0], 17, "public");
  snprintf(g_source_ips.ip[1], 52, "127.0.0.2");
  snprintf(g_source_ips.community[1], 17, "c2");
  trap(0, 0, 5);  // an alarm on source 0
  status_aggregate();
  std::string blocks = var("SUM_SOURCE_LIST");
  std::regex first("^<SUM_SOURCE_IP>127\\.0\\.0\\.1</SUM_SOURCE_IP>\n<SUM_SOURCE_COMM>public</SUM_SOURCE_COMM>\n"
                   "<SUM_SOURCE_STS>\\d+</SUM_SOURCE_STS>\n<SUM_SOURCE_EVT>[^<\n]+</SUM_SOURCE_EVT>\n");
  EXPECT_TRUE(std::regex_search(blocks, first)) << blocks;
  EXPECT_NE(blocks.find("<SUM_SOURCE_IP>127.0.0.2</SUM_SOURCE_IP>\n<SUM_SOURCE_COMM>c2</SUM_SOURCE_COMM>\n"
                        "<SUM_SOURCE_STS>0</SUM_SOURCE_STS>\n<SUM_SOURCE_EVT>-1</SUM_SOURCE_EVT>\n"),
            std::string::npos);
  EXPECT_EQ(var("SUM_SOURCE_NUM"), "2");
  g_status.countdown_left = 42;
  EXPECT_EQ(var("SUM_OS_COUNTDOWN"), "42");
  g_status.countdown_left = -1;
  EXPECT_EQ(var("SUM_OS_COUNTDOWN"), "-1");
  snprintf(g_host_name, sizeof g_host_name, "host<1>");
  EXPECT_EQ(var("SUM_HOST_NAME"), "host&lt;1&gt;");
}

TEST_F(PageVariables, NewestEventsNewestFirstAndEscaped) {
  evt_clear_log();
  EXPECT_EQ(var("SUM_SLOG_NUM"), "0");
  EXPECT_EQ(var("SUM_SLOG_LIST"), "");
  EventApi.evt_log(u"0.0.0.0", 1, u"first", nullptr);
  EventApi.evt_log(u"192.0.2.5", 2, u"second", nullptr);
  EventApi.evt_log(u"0.0.0.0", 3, u"Login refused for <img src=x onerror=alert(1)>", nullptr);
  EXPECT_EQ(var("SUM_SLOG_NUM"), "3");
  std::string list = var("SUM_SLOG_LIST");
  std::regex block("<SUM_SLOG_IP>([^<]*)</SUM_SLOG_IP>\n<SUM_SLOG_LEVEL>(\\d)</SUM_SLOG_LEVEL>\n"
                   "<SUM_SLOG_TIME>\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d</SUM_SLOG_TIME>\n"
                   "<SUM_SLOG_EVENT>([^<]*)</SUM_SLOG_EVENT>\n");
  std::vector<std::string> seen;
  for (auto it = std::sregex_iterator(list.begin(), list.end(), block); it != std::sregex_iterator(); ++it)
    seen.push_back((*it)[1].str() + "|" + (*it)[2].str() + "|" + (*it)[3].str());
  ASSERT_EQ(seen.size(), 3u) << list;
  EXPECT_EQ(seen[0], "Local|3|Login refused for &lt;img src=x onerror=alert(1)&gt;");
  EXPECT_EQ(seen[1], "192.0.2.5|2|second");
  EXPECT_EQ(seen[2], "Local|1|first");
  for (int i = 0; i < 9; ++i) EventApi.evt_log(u"0.0.0.0", 1, u"more", nullptr);
  EXPECT_EQ(var("SUM_SLOG_NUM"), "5");
}

// Bytes this process has read through read() so far.
uint64_t bytes_read() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

// The log file's lines without their ends, oldest first, as the test reads them itself.
std::vector<std::string> file_lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// After 10 000 logged lines (trims among them) the summary and the history page show the rows
// the file holds, and rendering them reads no more than it did for an empty log: the lines come
// from memory, never from the file.
TEST_F(PageVariables, PagesAfterTenThousandLinesShowTheFilesRowsWithoutReadingIt) {
  evt_clear_log();
  for (int i = 1; i <= 12345; ++i) {
    std::u16string text;
    for (char ch : "event number " + std::to_string(i) + " <" + std::string(size_t(i % 40), 'x') + ">")
      text += char16_t(ch);
    EventApi.evt_log(i % 3 ? u"192.0.2.9" : u"0.0.0.0", uint32_t(i % 4), text.c_str(), nullptr);
  }
  std::vector<std::string> file = file_lines(dir.file("_FILE_LOG.TXT"));
  ASSERT_GE(file.size(), 7501u);
  ASSERT_EQ(event_log_line_count, file.size());

  std::string want;
  for (size_t k = 0; k < 5; ++k) {
    std::string line = file[file.size() - 1 - k];
    char *source, *level, *date, *time, *message;
    ASSERT_TRUE(evt_split_line(line.data(), &source, &level, &date, &time, &message));
    std::string m = std::regex_replace(std::regex_replace(message, std::regex("<"), "&lt;"), std::regex(">"), "&gt;");
    want += std::string("<SUM_SLOG_IP>") + (strcmp(source, "0.0.0.0") == 0 ? "Local" : source) +
            "</SUM_SLOG_IP>\n<SUM_SLOG_LEVEL>" + level + "</SUM_SLOG_LEVEL>\n<SUM_SLOG_TIME>" + date + " " + time +
            "</SUM_SLOG_TIME>\n<SUM_SLOG_EVENT>" + m + "</SUM_SLOG_EVENT>\n";
  }
  EXPECT_EQ(var("SUM_SLOG_LIST"), want);

  counters().vars[1] = 1;
  for (uint32_t page : {0u, 100u, uint32_t((file.size() - 1) / 30)}) {
    counters().vars[0] = page;
    var("LOG_PAGE");
    std::string table = read_file(dir.file("httpd/htdocs/tmp/iframe_log.htm"));
    std::regex row(">(event number \\d+) &lt;");
    std::vector<std::string> shown;
    for (auto it = std::sregex_iterator(table.begin(), table.end(), row); it != std::sregex_iterator(); ++it)
      shown.push_back((*it)[1]);
    std::vector<std::string> expected;
    for (int64_t i = int64_t(file.size()) - 1 - 30 * int64_t(page); i >= 0 && expected.size() < 30; --i)
      expected.push_back(file[size_t(i)].substr(file[size_t(i)].find("event number"),
                                                file[size_t(i)].find(" <") - file[size_t(i)].find("event number")));
    EXPECT_EQ(shown, expected) << "page " << page;
  }

  // A page costs the same reading whatever the log's length (the history page reads back only its
  // own table of 30 rows).
  uint64_t before = bytes_read();
  for (int i = 0; i < 50; ++i) var("SUM_SLOG_LIST");
  uint64_t summary = bytes_read() - before;
  before = bytes_read();
  counters().vars[0] = 0;
  for (int i = 0; i < 50; ++i) var("LOG_PAGE");
  uint64_t history = bytes_read() - before;
  EXPECT_LT(summary, 4096u) << "50 summaries read the log";
  EXPECT_LT(history, 50u * 8192) << "50 history pages read the log";
}

TEST_F(PageVariables, HistoryVariables) {
  SystemTime now;
  clock_local_time(&now);
  char today[40];
  snprintf(today, sizeof today, "%02d/%02d/%04d", now.month, now.day, now.year);
  EXPECT_EQ(var("LOG_FROM"), today);
  EXPECT_EQ(var("LOG_TO"), today);
  EXPECT_EQ(var("LOG_ISDATE"), "Checked");
  EXPECT_EQ(var("LOG_ISPAGE"), "");

  counters().vars[8] = 1;
  counters().vars[9] = 1;
  EXPECT_EQ(var("LOG_SELECTID"), "1" + std::string(31, '0') + "1");

  for (int i = 0; i < 61; ++i) EventApi.evt_log(u"0.0.0.0", 1, u"line", nullptr);
  counters().vars[0] = 1;
  counters().vars[1] = 1;
  EXPECT_EQ(var("LOG_PAGE"), "Page2");
  EXPECT_EQ(var("LOG_ISPAGE"), "Checked");
  std::string table = read_file(dir.file("httpd/htdocs/tmp/iframe_log.htm"));
  size_t rows = 0;
  for (size_t at = 0; (at = table.find("<tr", at)) != std::string::npos; ++at) ++rows;
  EXPECT_EQ(rows, 31u);  // the header and 30 lines
  EXPECT_EQ(var("LOG_BUTTON"),
            "<input type=submit value=\" 1 \" name=LOG_BUT1> <input type=submit value=\" 2 \" name=LOG_BUT2> "
            "<input type=submit value=\" 3 \" name=LOG_BUT3> ");

  uint32_t range[] = {3, 4, 26, 3, 9, 26};
  for (int i = 0; i < 6; ++i) counters().vars[2 + i] = range[i];
  counters().vars[1] = 0;
  EXPECT_EQ(var("LOG_PAGE"), "03/04/2026 ~ 03/09/2026");
  EXPECT_EQ(var("LOG_FROM"), "03/04/2026");
  EXPECT_EQ(var("LOG_TO"), "03/09/2026");
}

TEST_F(PageVariables, SettingsTexts) {
  text_copy16(g_settings.command_file, 256, u"/opt/ups/\u00e9t\u00e9 <run>.sh");
  EXPECT_EQ(var("CFG_CMD_FILE"), "/opt/ups/\xC3\xA9t\xC3\xA9 &lt;run&gt;.sh");
  // Stored one byte a character: the bytes of "é" in UTF-8 come back as the same bytes.
  text_copy16(g_settings.vm_server, 129, u"h\u00c3\u00a9st");
  EXPECT_EQ(var("CFG_VM_HOST"), "h\xC3\xA9st");
  text_copy16(g_settings.vm_account, 33, u"a\u4e00b");
  EXPECT_EQ(var("CFG_VM_ACCOUNT"), "a?b");
  snprintf(g_usm.context_name, 17, "rt5830");
  EXPECT_EQ(var("CFG_USM_CONTEXT"), "rt5830");
}

}  // namespace
}  // namespace pages_test
