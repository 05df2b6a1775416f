#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace {

std::string narrow(const char16_t* s) {
  char out[600];
  text_utf16_to_utf8(out, sizeof out, s);
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class SettingsFile : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    codec_table_init();
    text_copy8(InstallDir, sizeof InstallDir, dir.path.c_str());
    text_utf8_to_utf16(InstallDirW, 260, InstallDir);
    memset(&g_clusters, 0, sizeof g_clusters);
    IniVersion = 0;
    cfg_set_defaults();
  }
  std::string ini() const { return read_file(dir.file("agent.ini")); }
  // Saves the records, clears them, loads the file back and expects every record as it was.
  void expect_round_trip() {
    cfg_save();
    AgentSettings saved = g_settings;
    SourceIpList saved_src = g_source_ips;
    ForwardTrapList saved_fwd = g_forward_traps;
    UsmSettings saved_usm = g_usm;
    ClusterList saved_cl = g_clusters;
    memset(&g_settings, 0, sizeof g_settings);
    memset(&g_source_ips, 0, sizeof g_source_ips);
    memset(&g_forward_traps, 0, sizeof g_forward_traps);
    memset(&g_usm, 0, sizeof g_usm);
    memset(&g_clusters, 0, sizeof g_clusters);
    cfg_load(nullptr);
    EXPECT_EQ(memcmp(&saved, &g_settings, sizeof saved), 0);
    EXPECT_EQ(memcmp(&saved_src, &g_source_ips, sizeof saved_src), 0);
    EXPECT_EQ(memcmp(&saved_fwd, &g_forward_traps, sizeof saved_fwd), 0);
    EXPECT_EQ(memcmp(&saved_usm, &g_usm, sizeof saved_usm), 0);
    EXPECT_EQ(memcmp(&saved_cl, &g_clusters, sizeof saved_cl), 0);
  }
  // Loads a version-8 file made of the given body over the current records.
  void load_v8(const std::string& body) {
    write_file(dir.file("agent.ini"), "[Format]\r\nVersion=8\r\n" + body + "[End]\r\n");
    cfg_load(nullptr);
  }
};

TEST_F(SettingsFile, DefaultsMatchTheFactoryTable) {
  const AgentSettings& s = g_settings;
  EXPECT_EQ(s.web_protocols, 3);
  EXPECT_EQ(s.login_lock_enable, 1);
  EXPECT_EQ(s.login_retry, 5);
  EXPECT_EQ(s.login_lock_minutes, 10);
  EXPECT_EQ(s.condition_delay[0], 300u);
  EXPECT_EQ(s.condition_delay[1], 30u);
  EXPECT_EQ(s.condition_enable[3], 0);
  EXPECT_EQ(narrow(s.account_user[1]), "device");
  EXPECT_EQ(narrow(s.account_password[2]), "quillbox");
  EXPECT_EQ(narrow(s.disk_name[7]), "J:\\");
  EXPECT_EQ(narrow(s.vcli_path), "C:\\Program Files (x86)\\VMware\\VMware vSphere CLI");
  EXPECT_STREQ(s.kestra_battery_low, "S Ua Low");
  // Padding bytes are zero.
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&s);
  for (size_t off : {7, 31, 423, 1461, 1861, 1874, 1875, 1889, 2826, 2827}) EXPECT_EQ(raw[off], 0) << off;
  SystemTime now;
  clock_local_time(&now);
  char date[32];
  snprintf(date, sizeof date, "%02d/%02d/%04d", now.month, now.day, now.year);
  EXPECT_EQ(narrow(s.install_date), date);
  EXPECT_EQ(g_source_ips.listen_port, 162);
  EXPECT_EQ(g_source_ips.count, 0);
  EXPECT_EQ(g_forward_traps.count, 0);
  EXPECT_EQ(g_snmp_agent.count, 1);
  EXPECT_STREQ(g_snmp_agent.community[0], "fenwix");
  EXPECT_STREQ(g_usm.user[0], "manager");
  EXPECT_STREQ(g_usm.priv[0], "hv305749");
}

TEST_F(SettingsFile, DefaultsLeaveTheClusters) {
  g_clusters.count = 3;
  text_copy8(g_clusters.cluster[2], 33, "third");
  cfg_set_defaults();
  EXPECT_EQ(g_clusters.count, 3);
  EXPECT_STREQ(g_clusters.cluster[2], "third");
}

TEST_F(SettingsFile, FactoryFileHasItsFirstAndLastLinesAndWebSection) {
  cfg_save();
  std::vector<std::string> l = lines_of(ini());
  ASSERT_GT(l.size(), 12u);
  std::vector<std::string> first(l.begin(), l.begin() + 7);
  EXPECT_EQ(first, (std::vector<std::string>{"[Format]", "Version=8", "Restart=No", "[Configuration]", "Stop Service=No",
                                              "Language=0", "[System]"}));
  std::vector<std::string> last(l.end() - 5, l.end());
  EXPECT_EQ(last, (std::vector<std::string>{"[Kestra]", "Enable=No", "PowerFail=S Mainsfailure", "BatteryLow=S Ua Low",
                                             "[End]"}));
  auto web = std::find(l.begin(), l.end(), "[Web]");
  ASSERT_NE(web, l.end());
  std::vector<std::string> expect = {"HTTP Port=80", "HTTPS Port=443", "Enable HTTP=Yes", "Enable HTTPS=Yes",
                                     "Force HTTPS=Yes", "Web Refresh=10", "Password Encrypt=Advanced", "User0=admin",
                                     "Password0=*", "User1=device", "Password1=*", "User2=user", "Password2=*",
                                     "Enable Login Lock=Enable", "Login Retry=5", "Locak Time=10", "[Shutdown]"};
  for (size_t i = 0; i < expect.size(); ++i) {
    const std::string& got = *(web + 1 + long(i));
    if (expect[i].back() == '*') {
      EXPECT_EQ(got.substr(0, 10), expect[i].substr(0, 10));
      EXPECT_EQ(got.size(), 10u + 24u) << got;  // one AES block in crypt64
    } else {
      EXPECT_EQ(got, expect[i]);
    }
  }
  EXPECT_EQ(ini().find('\n') , ini().find("\r\n") + 1) << "lines end in CR LF";
}

TEST_F(SettingsFile, SavedRecordsLoadBackUnchanged) {
  g_source_ips.count = 2;
  text_copy8(g_source_ips.ip[1], 52, "fe80::1");
  text_copy8(g_source_ips.community[1], 17, "c2");
  g_forward_traps.count = 1;
  text_copy8(g_forward_traps.ip[0], 52, "10.0.0.9");
  g_forward_traps.port[0] = 1162;
  g_clusters.count = 1;
  text_copy8(g_clusters.password[0], 33, "clusterpw");
  text_utf8_to_utf16(g_settings.location, 65, "Serverraum Ost \xC3\xBC\xE6\x9C\xBA");
  text_utf8_to_utf16(g_settings.vm_password, 33, "esx\xC3\xA9pw");  // U+00E9 in the one-byte form
  g_settings.shutdown_type = 2;
  expect_round_trip();
}

TEST_F(SettingsFile, ReaderEdgeCases) {
  load_v8("[Configuration]\r\nStop Service=yes\r\n");
  EXPECT_EQ(g_settings.stop_service, 0);
  load_v8("[Configuration]\r\nStop Service=Yes \r\n");
  EXPECT_EQ(g_settings.stop_service, 0);
  load_v8("[Configuration]\r\nStop Service=Yes\r\nLanguage=258\r\n");
  EXPECT_EQ(g_settings.stop_service, 1);
  EXPECT_EQ(g_settings.language, 3) << "clamped to the last language";

  g_forward_traps.count = 0;
  load_v8("[Forward Trap]\r\nIP3=10.1.1.3\r\nNumber=5\r\n");
  EXPECT_STREQ(g_forward_traps.ip[2], "");
  load_v8("[Forward Trap]\r\nNumber=5\r\nIP3=10.1.1.3\r\n");
  EXPECT_STREQ(g_forward_traps.ip[2], "10.1.1.3");

  uint8_t users = g_usm.count;
  load_v8("[USM]\r\nNumber=40\r\n");
  EXPECT_EQ(g_usm.count, users) << "a count above the table's room is ignored";

  load_v8("[System]\r\nDisk9=Z:\\\r\nDisk=Y:\\\r\n[Web]\r\nUser3=nobody\r\n");
  for (int i = 0; i < 8; ++i) EXPECT_NE(narrow(g_settings.disk_name[i]), "Z:\\");
  EXPECT_NE(narrow(g_settings.disk_name[0]), "Y:\\");
  EXPECT_EQ(narrow(g_settings.account_user[2]), "user");

  load_v8("[Web]\r\nUser=x\r\n");
  EXPECT_EQ(narrow(g_settings.account_user[0]), "x");

  load_v8("[Web]\r\nPassword Encrypt=Yes\r\n");
  EXPECT_EQ(g_settings.web_password_mode, 1);

  load_v8("[Web] trailing words\r\nHTTP Port=8080\r\n[web]\r\nHTTPS Port=8443\r\n");
  EXPECT_EQ(g_settings.http_port, 8080);
  EXPECT_EQ(g_settings.https_port, 8443) << "[web] selects nothing; the line stays in [Web]";

  load_v8("[Web]\r\nHTTP Port=70000\r\nWeb Refresh=-1\r\n[Shutdown]\r\nPower Fail Delay=99999999999\r\n");
  EXPECT_EQ(g_settings.http_port, 65535) << "clamped, not wrapped";
  EXPECT_EQ(g_settings.web_refresh, 1);
  EXPECT_EQ(g_settings.condition_delay[0], 99999u);

  load_v8("[Shutdown]\r\nPower Fail Delay=12\r\n\r\n;Power Fail Delay=99\r\nPower Fail Delay 13\r\n");
  EXPECT_EQ(g_settings.condition_delay[0], 12u);
}

std::vector<std::string> replaced_keys() {
  std::vector<std::string> keys;
  for (int i = 0; i < cfg_replaced_count(); ++i) {
    const CfgReplacedKey* k = cfg_replaced(i);
    keys.push_back(std::string(k->key) + "|" + k->found + "|" + std::to_string(k->used));
  }
  return keys;
}

TEST_F(SettingsFile, WrongAndMissingNumbersOfAVersion8FileAreNamed) {
  // A whole file of the writer has nothing to name.
  cfg_save();
  cfg_load(nullptr);
  EXPECT_EQ(cfg_replaced_count(), 0);

  std::string file = ini();
  auto replace = [&](const std::string& from, const std::string& to) {
    size_t at = file.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    file.replace(at, from.size(), to);
  };
  replace("Power Fail Delay=300\r\n", "Power Fail Delay=abc\r\n");
  replace("HTTPS Port=443\r\n", "");
  replace("Language=0\r\n", "Language=99999999999999999999\r\n");
  replace("Permission1=1\r\n", "Permission1=7\r\n");     // the manager: no access
  replace("Security1=2\r\n", "Security1=-1\r\n");        // the v3 user: the highest level
  replace("[Source IP]\r\nListen Port=162\r\n", "[Source IP]\r\n");
  g_settings.https_port = 0;
  g_source_ips.listen_port = 0;
  write_file(dir.file("agent.ini"), file);
  cfg_load(nullptr);
  EXPECT_EQ(g_settings.condition_delay[0], 300u);
  EXPECT_EQ(g_settings.https_port, 443);
  EXPECT_EQ(g_settings.language, 3);
  EXPECT_EQ(g_snmp_agent.permission[0], 0);
  EXPECT_EQ(g_usm.security[0], 2);
  EXPECT_EQ(g_source_ips.listen_port, 162);
  std::vector<std::string> keys = replaced_keys();
  std::sort(keys.begin(), keys.end());
  const std::vector<std::string> expected = {
      "[Configuration] Language|99999999999999999999|3", "[SNMP Server] Permission1|7|0",
      "[Shutdown] Power Fail Delay|abc|300",            "[Source IP] Listen Port|(missing)|162",
      "[USM] Security1|-1|2",                           "[Web] HTTPS Port|(missing)|443"};
  EXPECT_EQ(keys, expected);

  // An older version's missing keys keep their silent migration (factory values first).
  g_settings.https_port = 0;
  write_file(dir.file("agent.ini"), "[Format]\r\nVersion=7\r\n[Web]\r\nHTTP Port=81\r\n[End]\r\n");
  cfg_load(nullptr);
  EXPECT_EQ(g_settings.https_port, 443);
  EXPECT_EQ(cfg_replaced_count(), 0);
}

TEST_F(SettingsFile, ACutLastLineIsNotTaken) {
  g_settings.http_port = 1234;
  write_file(dir.file("agent.ini"), "[Format]\r\nVersion=8\r\n[Web]\r\nHTTPS Port=4443\r\nHTTP Port=8");
  cfg_load(nullptr);
  EXPECT_EQ(g_settings.https_port, 4443);
  EXPECT_EQ(g_settings.http_port, 80) << "the cut value is not read; the missing key takes its factory value";
}

TEST_F(SettingsFile, OverlongLinesAreCutAndTheirRestSkipped) {
  std::string value(300, 'a');
  load_v8("[System]\r\nLocation=" + value + "\r\n");
  std::string loc = narrow(g_settings.location);
  EXPECT_EQ(loc, std::string(64, 'a')) << "into 65 units";
  // The rest of a line longer than any the writer makes is never a line of its own.
  g_settings.shutdown_type = 0;
  std::string pad(1100, 'd');
  load_v8("[System]\r\nDescription=" + pad + "Contactor=Eve\r\n[Shutdown]\r\nVM Type=1\r\n" +
          "vCLI Path=" + std::string(1030, 'p') + "Type=3\r\n");
  EXPECT_EQ(narrow(g_settings.contactor), "");
  EXPECT_EQ(narrow(g_settings.description), std::string(128, 'd'));
  EXPECT_EQ(g_settings.vm_type, 1) << "the line after the long one is read";
  EXPECT_EQ(g_settings.shutdown_type, 0);
}

// Printable ASCII, or a run of one character, to fill a field.
std::u16string fill(size_t n, char16_t first, char16_t last) {
  std::u16string out;
  for (size_t i = 0; i < n; ++i) out += char16_t(first + i % (last - first + 1));
  return out;
}

void set16(char16_t* field, size_t room, const std::u16string& text) {
  ASSERT_LT(text.size(), room);
  memset(field, 0, room * 2);
  memcpy(field, text.data(), text.size() * 2);
}

void set8(char* field, size_t room, const std::string& text) {
  ASSERT_LT(text.size(), room);
  memset(field, 0, room);
  memcpy(field, text.data(), text.size());
}

std::string ascii(size_t n, int shift) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += char(0x20 + (i + size_t(shift)) % 95);
  return out;
}

// Every text field filled to its room with what its key can carry saves and loads back whole,
// in every storing mode of the passwords.
TEST_F(SettingsFile, FullFieldsRoundTrip) {
  for (uint8_t mode : {0, 1, 2}) {
    SCOPED_TRACE(int(mode));
    cfg_set_defaults();
    AgentSettings& s = g_settings;
    s.web_password_mode = mode;
    s.vm_password_mode = mode;
    const char16_t kWide = u'\u4e2d';   // 3 bytes in UTF-8
    struct Wide { char16_t* field; size_t room; } wide[] = {
        {s.install_date, 33}, {s.location, 65}, {s.description, 129}, {s.contactor, 33},
        {s.system_name, 33}, {s.command_file, 256}, {s.account_user[0], 33}, {s.account_user[1], 33},
        {s.account_user[2], 33}, {s.account_password[0], 33}, {s.account_password[1], 33},
        {s.account_password[2], 33},
    };
    for (const Wide& w : wide) set16(w.field, w.room, fill(w.room - 1, kWide, kWide + 40));
    for (auto& d : s.disk_name) set16(d, 17, fill(16, kWide, kWide + 3));
    // Stored one byte a character: U+0020 to U+00FF.
    set16(s.vm_server, 129, fill(128, 0x20, 0xFF));
    set16(s.vm_account, 33, fill(32, 0xA0, 0xFF));
    set16(s.vm_password, 33, fill(32, 0x21, 0xFF));
    set16(s.vcli_path, 256, fill(255, 0x20, 0xFF) .substr(0, 250) + u"Type=");
    set8(s.kestra_power_fail, 33, ascii(32, 1));
    set8(s.kestra_battery_low, 33, ascii(32, 2));
    g_source_ips.count = SOURCE_IP_MAX;
    for (int i = 0; i < SOURCE_IP_MAX; ++i) {
      set8(g_source_ips.ip[i], 52, ascii(51, i));
      set8(g_source_ips.community[i], 17, ascii(16, i + 3));
      set8(g_source_ips.usm_user[i], 17, ascii(16, i + 5));
    }
    g_usm.password_mode = mode;
    set8(g_usm.context_name, 17, ascii(16, 7));
    set8(g_usm.user[0], 17, ascii(16, 8));
    set8(g_usm.auth[0], 17, ascii(16, 9));
    set8(g_usm.priv[0], 17, ascii(16, 10));
    g_clusters.count = 1;
    set8(g_clusters.vcenter[0], 52, ascii(51, 11));
    set8(g_clusters.account[0], 33, ascii(32, 12));
    set8(g_clusters.password[0], 33, ascii(32, 13));
    set8(g_clusters.cluster[0], 33, ascii(32, 14));
    // The ends of the ranges.
    s.condition_delay[0] = 99999;
    s.condition_delay[4] = 0;
    s.command_before = 99999;
    s.http_port = 65535;
    s.https_port = 1;
    expect_round_trip();
    EXPECT_EQ(g_settings.shutdown_type, 0);
    EXPECT_EQ(g_settings.command_before, 99999u);
    EXPECT_EQ(g_settings.condition_delay[0], 99999u);
  }
}

// A file the service wrote, uploaded back as a browser sends it, gives the same records.
TEST_F(SettingsFile, OwnFileUploadedBackGivesTheSameRecords) {
  mkdir(dir.file("httpd").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs/tmp").c_str(), 0755);
  g_settings.stop_service = 1;
  g_settings.kestra_enable = 1;
  text_copy16(g_settings.account_password[1], 33, u"devpass");
  cfg_save();
  std::string bytes = ini();
  AgentSettings saved = g_settings;
  UsmSettings saved_usm = g_usm;
  cfg_set_defaults();
  ASSERT_EQ(cfg_import_uploaded(bytes.data(), bytes.data() + bytes.size() - 1), 1);
  EXPECT_EQ(memcmp(&saved, &g_settings, sizeof saved), 0);
  EXPECT_EQ(memcmp(&saved_usm, &g_usm, sizeof saved_usm), 0);
  EXPECT_EQ(ini(), bytes);
  // Lines ending in CR CR LF read like CR LF.
  load_v8("[Configuration]\r\nStop Service=Yes\r\r\n[Web]\r\nPassword Encrypt=No\r\r\nPassword0=pw\r\r\n");
  EXPECT_EQ(g_settings.stop_service, 1);
  EXPECT_EQ(g_settings.web_password_mode, 0);
  EXPECT_EQ(narrow(g_settings.account_password[0]), "pw");
}

TEST_F(SettingsFile, NewFileIsPrivateAndAReplacedOneKeepsModeAndOwner) {
  cfg_save();
  struct stat st;
  ASSERT_EQ(stat(dir.file("agent.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(chmod(dir.file("agent.ini").c_str(), 0640), 0);
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir.file("agent.ini").c_str(), 1234, 2345), 0);
  }
  g_settings.http_port = 8088;
  cfg_save();
  ASSERT_EQ(stat(dir.file("agent.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 2345u);
  }
  EXPECT_NE(ini().find("HTTP Port=8088\r\n"), std::string::npos);
}

TEST_F(SettingsFile, AReplacedFileIsNeverLeftOpenToOthers) {
  const struct {
    mode_t before;
    mode_t after;
  } cases[] = {{0644, 0640}, {0666, 0660}, {0604, 0600}, {0600, 0600}, {0660, 0660}, {0777, 0770}};
  for (const auto& c : cases) {
    cfg_save();
    ASSERT_EQ(chmod(dir.file("agent.ini").c_str(), c.before), 0);
    EXPECT_TRUE(cfg_save());
    struct stat st;
    ASSERT_EQ(stat(dir.file("agent.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.after) << std::oct << c.before;
  }
}

TEST_F(SettingsFile, CopiesOfAnInterruptedSaveAreRemovedAndOtherNamesKept) {
  const char* const removed[] = {"agent.ini.a1B2c3", "agent.ini.ZZZZZZ", "agent.ini.000000"};
  const char* const kept[] = {"agent.ini.tmp", "agent.ini.a1B2c3d", "agent.ini.a1B2c", "agent.ini.a1-2c3",
                              "agent.ini.damaged", "xagent.ini.a1B2c3", "agent.iniXa1B2c3"};
  for (const char* f : removed) write_file(dir.file(f), "copy");
  for (const char* f : kept) write_file(dir.file(f), "other");
  mkdir(dir.file("agent.ini.D1R2X3").c_str(), 0700);   // a folder of that name is not a copy
  EXPECT_EQ(fs_remove_temporary_copies(dir.file("agent.ini").c_str()), 3);
  for (const char* f : removed) EXPECT_FALSE(fs_exists(dir.file(f))) << f;
  for (const char* f : kept) EXPECT_TRUE(fs_exists(dir.file(f))) << f;
  EXPECT_TRUE(fs_exists(dir.file("agent.ini.D1R2X3")));
}

TEST_F(SettingsFile, UploadWhoseSaveFailsChangesNothingInUse) {
  mkdir(dir.file("httpd").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs/tmp").c_str(), 0755);
  // agent.ini cannot be replaced: a folder stands in its place.
  ASSERT_EQ(mkdir(dir.file("agent.ini").c_str(), 0700), 0);
  std::vector<std::string> reasons;
  static std::vector<std::string>* seen;
  seen = &reasons;
  cfg_set_save_observer([](bool saved, const char*, const char* reason) { seen->push_back(saved ? "saved" : reason); });
  std::string upload = "[Format]\nVersion=8\n[Web]\nHTTP Port=81\n[Shutdown]\nPower Fail Delay=5\n[End]\n";
  EXPECT_EQ(cfg_import_uploaded(upload.data(), upload.data() + upload.size() - 1), CFG_IMPORT_NOT_SAVED);
  EXPECT_EQ(g_settings.http_port, 80);
  EXPECT_EQ(g_settings.condition_delay[0], 300u);
  ASSERT_EQ(rmdir(dir.file("agent.ini").c_str()), 0);
  EXPECT_EQ(cfg_import_uploaded(upload.data(), upload.data() + upload.size() - 1), 1);
  EXPECT_EQ(g_settings.http_port, 81);
  cfg_set_save_observer(nullptr);
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_NE(reasons[0], "saved");
  EXPECT_FALSE(reasons[0].empty()) << "a failed save names its reason";
  EXPECT_EQ(reasons[1], "saved");

  // A number a form would refuse refuses the whole upload; nothing is saved.
  const struct {
    const char* section;
    const char* line;
  } refused[] = {{"Web", "HTTP Port=0"}, {"Web", "HTTP Port=99999"}, {"Shutdown", "Power Fail Delay=abc"},
                 {"Configuration", "Language=4"}, {"SNMP Server", "Listen Port=-1"}};
  std::string stored = ini();
  for (const auto& r : refused) {
    std::string bad = std::string("[Format]\nVersion=8\n[Web]\nHTTPS Port=8443\n[") + r.section + "]\n" + r.line +
                      "\n[End]\n";
    EXPECT_EQ(cfg_import_uploaded(bad.data(), bad.data() + bad.size() - 1), 0) << r.line;
    EXPECT_EQ(g_settings.https_port, 443) << r.line;
    EXPECT_EQ(ini(), stored) << r.line;
  }
}

TEST_F(SettingsFile, AnotherSaversCopyIsLeftAlone) {
  // A half-written copy of another saver under the old fixed name stays as it is.
  write_file(dir.file("agent.ini.tmp"), "half");
  g_settings.http_port = 8089;
  cfg_save();
  EXPECT_EQ(read_file(dir.file("agent.ini.tmp")), "half");
  EXPECT_NE(ini().find("HTTP Port=8089\r\n"), std::string::npos);
  EXPECT_NE(ini().find("[End]\r\n"), std::string::npos);
  // No copy of its own is left behind.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path)) files += e.is_regular_file();
  EXPECT_EQ(files, 2);
}

TEST_F(SettingsFile, UnreadableFileIsNeverWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a check as another user";
  cfg_save();
  std::string before = ini();
  ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
  pid_t child = fork();
  if (child == 0) {
    // As an unprivileged user the file (mode 0600, root's) cannot be read.
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    g_settings.http_port = 1;
    cfg_load(nullptr);
    if (g_settings.http_port != 80) _exit(11);   // the factory settings
    g_settings.http_port = 2;
    cfg_save();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ini(), before);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path)) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "no copy written beside it";
}

TEST_F(SettingsFile, HostileFilesLoadWithinTheirFields) {
  std::mt19937 rng(7);
  std::string junk;
  for (int i = 0; i < 20000; ++i) junk += char(rng() & 0xFF);
  std::string body =
      "[Source IP]\r\nNumber=200\r\nIP0=x\r\nIP33=y\r\nIP-4=z\r\nIP32=" + std::string(400, '9') +
      "\r\nCommunity1=\xff\xfe\xfd\r\n[Cluster]\r\nNumber=-3\r\nNumber=17\r\nvCenter17=a\r\n"
      "[System]\r\nLocation=\xc3\x28\xa0\xa1\xe2\x82\r\n[Nope\r\n[Unknown]\r\nHTTP Port=1\r\n" +
      junk + "\r\n[SNMP Server]\r\nNumber=255\r\nIP255=last\r\nIP256=beyond\r\n";
  load_v8(body);
  EXPECT_LE(g_source_ips.count, 32);
  EXPECT_EQ(strlen(g_source_ips.ip[31]), 51u);
  EXPECT_LE(g_clusters.count, 16);
  EXPECT_GE(g_clusters.count, 0);
  EXPECT_STREQ(g_snmp_agent.ip[254], "last");
  EXPECT_LE(text_len16_in(g_settings.location, 65), 64u);
  // Pure junk of every length, also without line ends.
  for (int len : {1, 255, 256, 511, 4096}) {
    std::string j;
    for (int i = 0; i < len; ++i) j += char(rng() & 0xFF);
    write_file(dir.file("agent.ini"), j);
    cfg_load(nullptr);
  }
  EXPECT_EQ(g_settings.account_user[0][32], 0);
}

TEST_F(SettingsFile, FileWithoutVersionIsMigratedButNotReset) {
  g_settings.http_port = 1234;
  write_file(dir.file("agent.ini"), "[Web]\r\nHTTPS Port=4443\r\n[End]\r\n");
  cfg_load(nullptr);
  EXPECT_EQ(g_settings.http_port, 1234) << "not reset to the factory settings";
  EXPECT_EQ(g_settings.https_port, 4443);
  EXPECT_EQ(lines_of(ini())[1], "Version=8") << "written back as version 8";
}

// At the service's start the same file is damaged: kept aside, factory values under its keys.
TEST_F(SettingsFile, FileWithoutVersionAtTheServicesStartIsKeptAndReadOverFactoryValues) {
  g_settings.http_port = 1234;
  const std::string bytes = "[Web]\r\nHTTPS Port=4443\r\n[End]\r\n";
  write_file(dir.file("agent.ini"), bytes);
  CfgStartReport report;
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_DAMAGED);
  EXPECT_TRUE(report.kept);
  EXPECT_TRUE(report.factory_accounts) << "[USM] was not read";
  EXPECT_EQ(read_file(dir.file("agent.ini.damaged")), bytes);
  struct stat st;
  ASSERT_EQ(stat(dir.file("agent.ini.damaged").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(g_settings.http_port, 80);
  EXPECT_EQ(g_settings.https_port, 4443);
  EXPECT_EQ(lines_of(ini())[1], "Version=8");

  // A whole file is loaded as it is and nothing is kept aside.
  ASSERT_EQ(remove(dir.file("agent.ini.damaged").c_str()), 0);
  std::string whole = ini();
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_LOADED);
  EXPECT_FALSE(fs_exists(dir.file("agent.ini.damaged")));
  EXPECT_EQ(ini(), whole);
  ASSERT_EQ(remove(dir.file("agent.ini").c_str()), 0);
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_CREATED);
  ASSERT_EQ(remove(dir.file("agent.ini").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("agent.ini").c_str(), 0700), 0);
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_IS_FOLDER);
}

TEST_F(SettingsFile, Version5FileIsMigratedAndRewritten) {
  g_settings.http_port = 1234;
  write_file(dir.file("agent.ini"),
             "[Format]\r\nVersion=5\r\n[Shutdown]\r\nPassword Encrypt=No\r\nVM Password=plainpw\r\n"
             "[USM]\r\nPassword Encrypt=Yes\r\nNumber=1\r\nUser1=u1\r\nAuth1=" "V7qM" "\r\n"
             "[Kestra]\r\nEnable=Yes\r\nPowerFail=other\r\n[End]\r\n");
  cfg_load(nullptr);
  EXPECT_EQ(IniVersion, 5);
  EXPECT_EQ(g_settings.http_port, 80) << "factory settings first";
  EXPECT_EQ(g_settings.vm_password_mode, 2);
  EXPECT_EQ(g_usm.password_mode, 2);
  EXPECT_EQ(narrow(g_settings.vm_password), "plainpw");
  EXPECT_STREQ(g_usm.auth[0], "abc");
  EXPECT_EQ(g_settings.kestra_enable, 0u);
  EXPECT_STREQ(g_settings.kestra_power_fail, "S Mainsfailure");
  std::string text = ini();
  EXPECT_NE(text.find("Version=8\r\n"), std::string::npos);
  EXPECT_EQ(text.find("VM Password=plainpw"), std::string::npos) << "now stored in mode 2";
  // The rewritten file reads back to the same secrets.
  cfg_load(nullptr);
  EXPECT_EQ(narrow(g_settings.vm_password), "plainpw");
  EXPECT_STREQ(g_usm.auth[0], "abc");
}

TEST_F(SettingsFile, AReadOnlyProgramMigratesInMemoryButNeverWrites) {
  const std::string old_file = "[Format]\r\nVersion=5\r\n[Shutdown]\r\nPassword Encrypt=No\r\nVM Password=plainpw\r\n[End]\r\n";
  write_file(dir.file("agent.ini"), old_file);
  cfg_set_read_only(true);
  cfg_load(nullptr);
  cfg_save();
  cfg_set_read_only(false);
  EXPECT_EQ(g_settings.vm_password_mode, 2);
  EXPECT_EQ(narrow(g_settings.vm_password), "plainpw");
  EXPECT_EQ(ini(), old_file);
}

TEST_F(SettingsFile, FailedSaveLeavesTheOldFileWhole) {
  cfg_save();
  std::string before = ini();
  g_settings.http_port = 9999;
  // The copy cannot be written whole: the save must fail without touching agent.ini.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old, small = {100, 100};
  getrlimit(RLIMIT_FSIZE, &old);
  small.rlim_max = old.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  cfg_save();
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(ini(), before);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path)) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "the failed copy is removed";
}

TEST_F(SettingsFile, SaveCutBeforeTheRenameKeepsTheOldSettings) {
  g_settings.http_port = 8081;
  cfg_save();
  // What a crash in the middle of the next save leaves behind: a cut temporary copy.
  std::string full = ini();
  write_file(dir.file("agent.ini.tmp"), full.substr(0, full.size() / 3));
  memset(&g_settings, 0, sizeof g_settings);
  cfg_load(nullptr);
  EXPECT_EQ(g_settings.http_port, 8081);
  EXPECT_EQ(narrow(g_settings.account_password[0]), "quillbox");
  // The next save writes the file whole again.
  cfg_save();
  EXPECT_EQ(ini(), full);
}

TEST_F(SettingsFile, UploadWithoutEndChangesNothing) {
  mkdir(dir.file("httpd").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs/tmp").c_str(), 0755);
  cfg_save();
  std::string before = ini();
  std::string upload = "[Format]\nVersion=8\n[Web]\nHTTP Port=81\n";
  EXPECT_EQ(cfg_import_uploaded(upload.data(), upload.data() + upload.size() - 1), 0);
  EXPECT_EQ(g_settings.http_port, 80);
  EXPECT_EQ(ini(), before);
  EXPECT_FALSE(fs_exists(dir.file("httpd/htdocs/tmp/agent_tmp.ini")));

  upload = "[Format]\nVersion=8\n[Web]\nHTTP Port=81\n[End]\n";
  EXPECT_EQ(cfg_import_uploaded(upload.data(), upload.data() + upload.size() - 1), 1);
  EXPECT_EQ(g_settings.http_port, 81);
  EXPECT_NE(ini().find("HTTP Port=81\r\n"), std::string::npos);
  EXPECT_FALSE(fs_exists(dir.file("httpd/htdocs/tmp/agent_tmp.ini")));
}

// Only the service's start makes the file (with pass phrases of its own); a load takes the
// factory settings in memory.
TEST_F(SettingsFile, MissingFileGivesFactorySettingsAndANewFile) {
  memset(&g_settings, 0, sizeof g_settings);
  cfg_load(nullptr);
  EXPECT_EQ(g_settings.https_port, 443);
  EXPECT_FALSE(fs_exists(dir.file("agent.ini")));
  CfgStartReport report;
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_CREATED);
  EXPECT_EQ(g_settings.https_port, 443);
  EXPECT_NE(ini().find("[End]\r\n"), std::string::npos);
}

}  // namespace

namespace {

// The upload folder of an installation.
void make_upload_folder(const TempDir& dir) {
  mkdir(dir.file("httpd").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs").c_str(), 0755);
  mkdir(dir.file("httpd/htdocs/tmp").c_str(), 0700);
}

bool folder_is_empty(const std::string& path) {
  return std::filesystem::is_empty(path);
}

TEST_F(SettingsFile, ARefusedUploadWritesNothing) {
  make_upload_folder(dir);
  g_settings.http_port = 8080;
  cfg_save();
  const std::string before = ini();
  const AgentSettings in_use = g_settings;
  const struct {
    const char* what;
    std::string upload;
  } cases[] = {
      // An older version first takes the factory settings, factory accounts too.
      {"version 7, port out of range", "[Format]\nVersion=7\n[Web]\nHTTP Port=99999\n[End]\n"},
      {"version 5, not a number", "[Format]\nVersion=5\n[Shutdown]\nPower Fail Delay=soon\n[End]\n"},
      {"version 8, count above the table", "[Format]\nVersion=8\n[USM]\nNumber=40\n[End]\n"},
      {"no [End]", "[Format]\nVersion=7\n[Web]\nHTTP Port=81\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cfg_import_uploaded(c.upload.data(), c.upload.data() + c.upload.size() - 1), CFG_IMPORT_REFUSED)
        << c.what;
    EXPECT_EQ(ini(), before) << c.what << ": agent.ini byte for byte";
    EXPECT_EQ(memcmp(&in_use, &g_settings, sizeof in_use), 0) << c.what;
    EXPECT_TRUE(folder_is_empty(dir.file("httpd/htdocs/tmp"))) << c.what << ": no copy written";
  }
  // The refusal names the key and the value found.
  std::string upload = "[Format]\nVersion=7\n[Web]\nHTTP Port=99999\n[End]\n";
  cfg_import_uploaded(upload.data(), upload.data() + upload.size() - 1);
  ASSERT_EQ(replaced_keys(), std::vector<std::string>{"[Web] HTTP Port|99999|65535"});
}

TEST_F(SettingsFile, LoadingAnotherFileNeverWrites) {
  cfg_save();
  const std::string before = ini();
  const AgentSettings in_use = g_settings;
  // Unreadable: nothing changes.
  cfg_load(dir.file("absent.ini").c_str());
  EXPECT_EQ(memcmp(&in_use, &g_settings, sizeof in_use), 0);
  // An older version is migrated in memory only.
  write_file(dir.file("other.ini"), "[Format]\r\nVersion=7\r\n[Web]\r\nHTTP Port=81\r\n[End]\r\n");
  cfg_load(dir.file("other.ini").c_str());
  EXPECT_EQ(g_settings.http_port, 81);
  EXPECT_EQ(ini(), before);
  EXPECT_EQ(read_file(dir.file("other.ini")), "[Format]\r\nVersion=7\r\n[Web]\r\nHTTP Port=81\r\n[End]\r\n");
}

// Start-up loads: which files count as whole, and what is kept before the first save.
TEST_F(SettingsFile, AFileIsWholeOnlyWithNothingButBlankLinesAfterItsEnd) {
  cfg_save();
  const std::string whole = ini();
  const struct {
    const char* what;
    std::string text;
    CfgStartState state;
    const char* reason;
  } cases[] = {
      {"blank lines after [End]", whole + "\r\n  \r\n\t\r\n", CFG_START_LOADED, ""},
      {"a stray [End] in the middle", "[Format]\r\nVersion=8\r\n[End]\r\n" + whole, CFG_START_DAMAGED,
       "it has text after [End]"},
      {"a word after [End]", whole + "x", CFG_START_DAMAGED, "it has text after [End]"},
      {"larger than 4 MiB", whole + std::string(4u << 20, '\n'), CFG_START_DAMAGED, "it is larger than 4 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    remove(dir.file("agent.ini.damaged").c_str());
    write_file(dir.file("agent.ini"), c.text);
    CfgStartReport report;
    EXPECT_EQ(cfg_load_at_start(&report), c.state);
    EXPECT_STREQ(report.reason, c.reason);
    if (c.state == CFG_START_LOADED) {
      EXPECT_FALSE(fs_exists(dir.file("agent.ini.damaged")));
      continue;
    }
    EXPECT_TRUE(report.kept);
    std::string kept = read_file(dir.file("agent.ini.damaged"));
    EXPECT_EQ(kept, c.text.substr(0, kept.size()));
    EXPECT_EQ(kept.size(), std::min(c.text.size(), size_t(FS_TEXT_FILE_MAX)));
  }
  // After a stray [End] the sources come from the file only when the file is whole: here the
  // factory values stand, and the start-up save keeps the copy.
  EXPECT_EQ(g_snmp_agent.permission[0], 1);
}

TEST_F(SettingsFile, AStartThatNamesAKeyKeepsTheFileFirst) {
  cfg_save();
  std::string file = ini();
  size_t at = file.find("HTTP Port=80\r\n");
  ASSERT_NE(at, std::string::npos);
  file.replace(at, 14, std::string("HTTP Port=8\0 0\r\n", 16));
  at = file.find("Locak Time=10\r\n");
  ASSERT_NE(at, std::string::npos);
  file.replace(at, 15, "");
  write_file(dir.file("agent.ini"), file);
  CfgStartReport report;
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_LOADED);
  EXPECT_TRUE(report.kept);
  EXPECT_EQ(read_file(dir.file("agent.ini.damaged")), file);
  // A zero byte inside a number makes it no number.
  EXPECT_EQ(g_settings.http_port, 80);
  std::vector<std::string> keys = replaced_keys();
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(keys, (std::vector<std::string>{"[Web] HTTP Port|8\\x00 0|80", "[Web] Locak Time|(missing)|10"}));
  char line[200];
  cfg_replaced_text(cfg_replaced(0), line, sizeof line);
  EXPECT_STREQ(line, "agent.ini: key [Web] HTTP Port has value \"8\\x00 0\", 80 used");

  // When the copy cannot be kept, agent.ini is not replaced.
  ASSERT_EQ(remove(dir.file("agent.ini.damaged").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("agent.ini.damaged").c_str(), 0700), 0);
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_LOADED);
  EXPECT_FALSE(report.kept);
  EXPECT_FALSE(cfg_save());
  EXPECT_EQ(ini(), file);
}

TEST_F(SettingsFile, TheDamagedCopyReplacesALinkAndNeverWritesThroughIt) {
  write_file(dir.file("elsewhere"), "another file");
  ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), dir.file("agent.ini.damaged").c_str()), 0);
  write_file(dir.file("agent.ini"), "[Format]\r\nVersion=8\r\n[Web]\r\nHTTP");
  CfgStartReport report;
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_DAMAGED);
  EXPECT_TRUE(report.kept);
  EXPECT_EQ(read_file(dir.file("elsewhere")), "another file");
  struct stat st;
  ASSERT_EQ(lstat(dir.file("agent.ini.damaged").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(read_file(dir.file("agent.ini.damaged")), "[Format]\r\nVersion=8\r\n[Web]\r\nHTTP");
}

// Values as the table gives them: a start-up load of each row's file, the factory file with one
// line changed.
TEST_F(SettingsFile, ValuesKeptAsTheirRangesGiveThem) {
  const struct {
    const char* from;
    const char* to;
    int64_t (*field)();
    int64_t value;
    std::vector<std::string> named;
  } cases[] = {
      // Neither ESXi script; the cluster scripts still run.
      {"VM Type=0\r\n", "VM Type=2\r\n", [] { return int64_t(g_settings.vm_type); }, 2, {}},
      {"VM Type=0\r\n", "VM Type=3\r\n", [] { return int64_t(g_settings.vm_type); }, 2, {"[Shutdown] VM Type|3|2"}},
      // 2 and above read and write.
      {"Permission1=2\r\n", "Permission1=3\r\n", [] { return int64_t(g_usm.permission[0]); }, 3, {}},
      {"Permission1=2\r\n", "Permission1=rw\r\n", [] { return int64_t(g_usm.permission[0]); }, 0,
       {"[USM] Permission1|rw|0"}},
      // 16-bit.
      {"Login Retry=5\r\n", "Login Retry=65535\r\n", [] { return int64_t(g_settings.login_retry); }, 65535, {}},
      {"Locak Time=10\r\n", "Locak Time=1440\r\n", [] { return int64_t(g_settings.login_lock_minutes); }, 1440, {}},
      {"Locak Time=10\r\n", "Locak Time=65536\r\n", [] { return int64_t(g_settings.login_lock_minutes); }, 65535,
       {"[Web] Locak Time|65536|65535"}},
      // A count above its table is ignored: the list keeps its count (the factory one at start).
      {"Advanced\r\nNumber=1\r\n", "Advanced\r\nNumber=40\r\n", [] { return int64_t(g_usm.count); }, 1,
       {"[USM] Number|40|1"}},
      {"Logical=0\r\nNumber=0\r\n", "Logical=0\r\nNumber=33\r\nIP1=10.0.0.1\r\n",
       [] { return int64_t(g_source_ips.count); }, 0, {"[Source IP] Number|33|0"}},
      {"[Cluster]\r\nNumber=0\r\n", "[Cluster]\r\nNumber=17\r\n", [] { return int64_t(g_clusters.count); }, 0,
       {"[Cluster] Number|17|0"}},
      {"Listen Port=161\r\nNumber=1\r\n", "Listen Port=161\r\nNumber=300\r\n",
       [] { return int64_t(g_snmp_agent.count); }, 1, {"[SNMP Server] Number|300|1"}},
  };
  cfg_save();
  const std::string factory = ini();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to);
    std::string file = factory;
    size_t at = file.find(c.from);
    ASSERT_NE(at, std::string::npos);
    file.replace(at, strlen(c.from), c.to);
    write_file(dir.file("agent.ini"), file);
    memset(&g_clusters, 0, sizeof g_clusters);
    CfgStartReport report;
    ASSERT_EQ(cfg_load_at_start(&report), CFG_START_LOADED);
    EXPECT_EQ(c.field(), c.value);
    EXPECT_EQ(replaced_keys(), c.named);
    // No empty rows are made, and a file with nothing named is saved as it was.
    EXPECT_EQ(g_usm.count, 1);
    EXPECT_EQ(g_source_ips.count, 0);
    cfg_save();
    if (c.named.empty()) {
      EXPECT_EQ(ini(), file);
    }
  }
  // The same numbers are taken from an old backup's upload.
  make_upload_folder(dir);
  std::string upload = "[Format]\nVersion=7\n[Web]\nLogin Retry=300\nLocak Time=1440\n[Shutdown]\nVM Type=2\n[End]\n";
  EXPECT_EQ(cfg_import_uploaded(upload.data(), upload.data() + upload.size() - 1), CFG_IMPORT_APPLIED);
  EXPECT_EQ(g_settings.login_lock_minutes, 1440);
  EXPECT_EQ(g_settings.login_retry, 300);
  EXPECT_EQ(g_settings.vm_type, 2);
}

// A new installation, and a damaged file without them, give the SNMPv3 user pass phrases of its own.
TEST_F(SettingsFile, TheServicesStartMakesPassPhrasesWhereTheFactoryPairWouldStand) {
  auto made = [](const char* phrase) {
    if (strlen(phrase) != size_t(CFG_MADE_PHRASE_LENGTH)) return false;
    for (const char* p = phrase; *p; ++p)
      if (!isalnum(static_cast<unsigned char>(*p)) && *p != '-' && *p != '_') return false;
    return strcmp(phrase, "mq472816") != 0 && strcmp(phrase, "hv305749") != 0;
  };
  CfgStartReport report;
  ASSERT_EQ(cfg_load_at_start(&report), CFG_START_CREATED);
  EXPECT_TRUE(report.phrases_made);
  EXPECT_STREQ(g_usm.user[0], "manager");
  EXPECT_TRUE(made(g_usm.auth[0])) << g_usm.auth[0];
  EXPECT_TRUE(made(g_usm.priv[0])) << g_usm.priv[0];
  EXPECT_STRNE(g_usm.auth[0], g_usm.priv[0]);
  std::string auth = g_usm.auth[0], priv = g_usm.priv[0];
  // Stored coded, and an existing file keeps them.
  EXPECT_EQ(ini().find(auth), std::string::npos);
  const std::string created = ini();
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_LOADED);
  EXPECT_FALSE(report.phrases_made);
  EXPECT_EQ(g_usm.auth[0], auth);
  EXPECT_EQ(g_usm.priv[0], priv);
  EXPECT_EQ(ini(), created);
  // Another installation gets others.
  ASSERT_EQ(remove(dir.file("agent.ini").c_str()), 0);
  ASSERT_EQ(cfg_load_at_start(&report), CFG_START_CREATED);
  EXPECT_NE(g_usm.auth[0], auth);

  // A damaged file: the pass phrases it gives are taken, the others are made.
  cfg_set_defaults();
  g_usm.password_mode = 0;
  text_copy8(g_usm.auth[0], 17, "given-auth-1");
  cfg_save();
  std::string file = ini();
  const struct {
    const char* what;
    std::string text;
    bool auth_given, priv_given;
  } cases[] = {
      {"cut before [USM]", file.substr(0, file.find("[USM]")), false, false},
      {"cut after Auth1", file.substr(0, file.find("Priv1=")), true, false},
      {"no Version= line", file.substr(file.find("[Configuration]")), true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(dir.file("agent.ini"), c.text);
    ASSERT_EQ(cfg_load_at_start(&report), CFG_START_DAMAGED);
    EXPECT_EQ(report.phrases_made, !c.auth_given || !c.priv_given);
    EXPECT_TRUE(c.auth_given ? strcmp(g_usm.auth[0], "given-auth-1") == 0 : made(g_usm.auth[0])) << g_usm.auth[0];
    EXPECT_TRUE(c.priv_given ? strcmp(g_usm.priv[0], "hv305749") == 0 : made(g_usm.priv[0])) << g_usm.priv[0];
  }
  // An older whole file keeps the factory pair its version implies.
  write_file(dir.file("agent.ini"), "[Format]\r\nVersion=7\r\n[End]\r\n");
  EXPECT_EQ(cfg_load_at_start(&report), CFG_START_LOADED);
  EXPECT_FALSE(report.phrases_made);
  EXPECT_STREQ(g_usm.auth[0], "mq472816");
}

// The console's check judges as the start does and writes nothing.
TEST_F(SettingsFile, TheCheckOfTheOwnFileWritesNothing) {
  CfgStartReport report;
  EXPECT_EQ(cfg_check_own_file(&report), CFG_START_MISSING);
  EXPECT_FALSE(fs_exists(dir.file("agent.ini")));
  EXPECT_FALSE(report.phrases_made);
  const struct {
    const char* what;
    std::string text;
    CfgStartState state;
    int named;
  } cases[] = {
      {"cut inside [Source IP]", "[Format]\r\nVersion=8\r\n[Source IP]\r\nListen Port=162\r\nNum", CFG_START_DAMAGED, 0},
      {"a value out of range", "[Format]\r\nVersion=7\r\n[Web]\r\nHTTP Port=0\r\n[End]\r\n", CFG_START_LOADED, 1},
      {"an older version", "[Format]\r\nVersion=7\r\n[Web]\r\nHTTP Port=81\r\n[End]\r\n", CFG_START_LOADED, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_file(dir.file("agent.ini"), c.text);
    EXPECT_EQ(cfg_check_own_file(&report), c.state);
    EXPECT_EQ(cfg_replaced_count(), c.named);
    EXPECT_EQ(ini(), c.text);
    EXPECT_FALSE(fs_exists(dir.file("agent.ini.damaged")));
  }
  EXPECT_EQ(g_settings.http_port, 81);
}

}  // namespace
