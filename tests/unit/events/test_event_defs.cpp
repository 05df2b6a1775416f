// Tests of the event definitions: loading per language, defaults, cutting, level parsing,
// reloading without leftovers, and the operation table.
#include "service/events/event_defs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "common/text.h"
#include "service/events/event_log.h"

namespace {

struct GroupInfo {
  uint8_t group;
  uint32_t size;
  const char* file;
  const uint8_t* level;
  char16_t* const* name;
};

const GroupInfo kGroups[] = {
    {EVT_GROUP_COMMON, EVT_COMMON_EVENTS, "event-common.ini", EventDefs.common_level, EventDefs.common_name},
    {EVT_GROUP_MIBV4, EVT_MIBV4_EVENTS, "event-MIBv4.ini", EventDefs.mibv4_level, EventDefs.mibv4_name},
    {EVT_GROUP_MIBV5, EVT_MIBV5_EVENTS, "event-MIBv5.ini", EventDefs.mibv5_level, EventDefs.mibv5_name},
    {EVT_GROUP_SENSOR, EVT_SENSOR_EVENTS, "event-Sensor.ini", EventDefs.sensor_level, EventDefs.sensor_name},
};

std::u16string u16(const std::string& s) {
  std::u16string out(s.size() + 1, u'\0');
  out.resize(text_utf8_to_utf16(out.data(), out.size(), s.c_str()));
  return out;
}

class EventDefsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vellmar-evtdefs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    dir16_ = u16(dir_);
  }
  void TearDown() override {
    evt_free_definitions();
    std::filesystem::remove_all(dir_);
  }

  void write(const char* language, const char* file, const std::string& bytes) {
    std::string folder = dir_ + "/Language/" + language;
    std::filesystem::create_directories(folder);
    FILE* f = fopen((folder + "/" + file).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }

  // A full file for a group: "<tag> <group file> <n>" names and level n % 4.
  void write_group(const char* language, const GroupInfo& g, const std::string& tag) {
    std::string text = "[Alarm-Event]\r\n";
    for (uint32_t n = 1; n <= g.size; ++n)
      text += "name" + std::to_string(n) + "=" + tag + " " + g.file + " " + std::to_string(n) + "\r\n" + "level" +
              std::to_string(n) + "=" + std::to_string(n % 4) + "\r\n";
    write(language, g.file, text);
  }

  std::string dir_;
  std::u16string dir16_;
};

TEST_F(EventDefsTest, NoLanguageFolderGivesEmptyTextsAndSystemLevels) {
  evt_init(dir16_.c_str(), u"English");
  uint32_t total = 0;
  for (const GroupInfo& g : kGroups)
    for (uint32_t n = 1; n <= g.size; ++n, ++total) {
      ASSERT_NE(g.name[n - 1], nullptr);
      EXPECT_EQ(g.name[n - 1][0], 0);
      EXPECT_EQ(g.level[n - 1], EVENT_LEVEL_SYSTEM);
      EXPECT_EQ(evt_name(g.group, n)[0], 0);
    }
  EXPECT_EQ(total, 150u);
}

TEST_F(EventDefsTest, LoadsEveryGroupFromItsFile) {
  for (const GroupInfo& g : kGroups) write_group("English", g, "EN");
  write("English", "event-common.ini", "[Alarm-Event]\nname3=Login of %s from %s\nlevel3=2\n");
  evt_init(dir16_.c_str(), u"English");
  EXPECT_EQ(std::u16string(EventDefs.common_name[2]), u"Login of %s from %s");
  EXPECT_EQ(EventDefs.common_level[EVT_COMMON_LOGIN_ACCEPTED - 1], EVENT_LEVEL_WARNING);
  EXPECT_EQ(evt_level(EVT_GROUP_COMMON, EVT_COMMON_LOGIN_ACCEPTED), EVENT_LEVEL_WARNING);
  EXPECT_EQ(EventDefs.common_level[0], 0);
  for (const GroupInfo& g : kGroups) {
    if (g.group == EVT_GROUP_COMMON) continue;
    for (uint32_t n = 1; n <= g.size; ++n) {
      EXPECT_EQ(std::u16string(evt_name(g.group, n)), u16("EN " + std::string(g.file) + " " + std::to_string(n)));
      EXPECT_EQ(evt_level(g.group, n), n % 4);
    }
  }
}

TEST_F(EventDefsTest, LongNamesAreCutTo255Characters) {
  std::string ascii(300, 'a');
  std::string accented;
  for (int i = 0; i < 300; ++i) accented += "\xC3\xA9";  // é
  std::string smiles;
  for (int i = 0; i < 200; ++i) smiles += "\xF0\x9F\x98\x80";  // one surrogate pair each
  write("English", "event-common.ini",
        "[Alarm-Event]\nname1=" + ascii + "\nname2=" + accented + "\nname3=" + smiles + "\n");
  evt_init(dir16_.c_str(), u"English");
  EXPECT_EQ(std::u16string(EventDefs.common_name[0]), std::u16string(255, u'a'));
  EXPECT_EQ(std::u16string(EventDefs.common_name[1]), std::u16string(255, u'\u00E9'));
  std::u16string s(EventDefs.common_name[2]);
  EXPECT_EQ(s.size(), 254u) << "a surrogate pair is not split";
  EXPECT_TRUE(s.back() >= 0xDC00 && s.back() <= 0xDFFF);
}

TEST_F(EventDefsTest, LevelsParseLikeAtoiAndKeepTheirLow8Bits) {
  struct Case {
    const char* text;
    uint8_t level;
  };
  const Case cases[] = {
      {"2", 2},         {"  3", 3},        {"+1", 1},       {"-1", 255},   {"300", 44},   {"7x", 7},
      {"abc", 0},       {"", 0},           {"-", 0},        {"-0", 0},     {"\t 12 ", 12}, {"99999999999", 255},
      {"4294967297", 153},  // cut to nine characters by the 10-unit buffer: 429496729
      {"-2147483648", 236},  // "-21474836": -0x147AE14, low 8 bits 0xEC
  };
  std::string text = "[Alarm-Event]\n";
  int n = 1;
  for (const Case& c : cases) text += "level" + std::to_string(n++) + "=" + c.text + "\n";
  write("English", "event-MIBv4.ini", text);
  evt_init(dir16_.c_str(), u"English");
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(EventDefs.mibv4_level[i], cases[i].level) << cases[i].text;
}

TEST_F(EventDefsTest, BrokenFilesGiveDefaults) {
  write("English", "event-common.ini", "");
  std::mt19937 rng(3);
  std::string junk(100000, '\0');
  for (char& c : junk) c = char(rng());
  write("English", "event-MIBv4.ini", junk);
  write("English", "event-MIBv5.ini", "[Alarm-Event]\nname1=first\nname1=second\nlevel1=3\nLEVEL1=1\n");
  write("English", "event-Sensor.ini", "name1=no section\n[Other]\nname2=other section\n");
  evt_init(dir16_.c_str(), u"English");
  EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_COMMON, 1)), u"");
  EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_MIBV5, 1)), u"first");
  EXPECT_EQ(evt_level(EVT_GROUP_MIBV5, 1), 3);
  EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_SENSOR, 1)), u"");
  EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_SENSOR, 2)), u"");
  for (uint32_t n = 1; n <= EVT_MIBV4_EVENTS; ++n) EXPECT_LE(text_len16(EventDefs.mibv4_name[n - 1]), 255u);
}

TEST_F(EventDefsTest, LanguageSwitchLeavesNoOldText) {
  for (const GroupInfo& g : kGroups) write_group("English", g, "EN");
  write("Polish", "event-common.ini", "[Alarm-Event]\nname1=Us\xC5\x82uga uruchomiona\nlevel1=1\n");
  evt_init(dir16_.c_str(), u"English");
  for (int round = 0; round < 2; ++round) {
    EventApi.evt_free_definitions();
    for (const GroupInfo& g : kGroups)
      for (uint32_t n = 1; n <= g.size; ++n) ASSERT_EQ(g.name[n - 1], nullptr);
    EventApi.evt_load_definitions(u"Polish");
    EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_COMMON, 1)), u"Usługa uruchomiona");
    EXPECT_EQ(evt_level(EVT_GROUP_COMMON, 1), 1);
    for (const GroupInfo& g : kGroups)
      for (uint32_t n = (g.group == EVT_GROUP_COMMON ? 2 : 1); n <= g.size; ++n) {
        EXPECT_EQ(g.name[n - 1][0], 0) << g.file << " " << n;
        EXPECT_EQ(g.level[n - 1], 0);
      }
    EventApi.evt_free_definitions();
    EventApi.evt_load_definitions(u"English");
    EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_COMMON, 1)), u"EN event-common.ini 1");
  }
  // A load over loaded texts frees them first (the leak check of the sanitizer build sees this).
  EventApi.evt_load_definitions(u"Polish");
  EventApi.evt_load_definitions(u"English");
  EXPECT_EQ(std::u16string(evt_name(EVT_GROUP_SENSOR, 18)), u"EN event-Sensor.ini 18");
}

TEST_F(EventDefsTest, NamesAndLevelsOutOfRange) {
  evt_init(dir16_.c_str(), u"English");
  EXPECT_EQ(evt_name(EVT_GROUP_COMMON, 0)[0], 0);
  EXPECT_EQ(evt_name(EVT_GROUP_COMMON, EVT_COMMON_EVENTS + 1)[0], 0);
  EXPECT_EQ(evt_name(9, 1)[0], 0);
  EXPECT_EQ(evt_level(EVT_GROUP_MIBV4, 60), 0);
  evt_free_definitions();
  EXPECT_EQ(evt_name(EVT_GROUP_COMMON, 1)[0], 0) << "freed names read as empty";
}

TEST_F(EventDefsTest, TableIsFilledWithTheViews) {
  evt_init(dir16_.c_str(), u"English");
  const void* const* slots = reinterpret_cast<const void* const*>(&EventApi);
  ASSERT_EQ(sizeof(EventApi) / sizeof(void*), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_NE(slots[i], nullptr) << i;
  char buf[4096] = "xx";
  EXPECT_EQ(std::string(buf, EventApi.evt_render_pager(buf, 0)), "<input type=submit value=\" 1 \" name=LOG_BUT1> ");
  // Without the web folder the views write nothing.
  EventApi.evt_render_page(0);
  uint8_t d[3] = {1, 1, 24};
  EventApi.evt_render_range(d, d);
  EventApi.evt_export_csv();
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/httpd"));
  EXPECT_EQ(std::string(evt_install_dir()), dir_);
}

}  // namespace
