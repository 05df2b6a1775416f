// Tests of the profile-string reader: lookup rules, defaults, cutting, and hostile files.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vellmar-profile-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/test.ini";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void write(const std::string& bytes) {
    FILE* f = fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
  }

  std::u16string get(const char16_t* section, const char16_t* key, const char16_t* def = u"dflt",
                     uint32_t room = 256, uint32_t* n = nullptr) {
    char16_t out[1024];
    out[0] = u'#';
    uint32_t got = profile_get_string(section, key, def, out, room, path_.c_str());
    if (n) *n = got;
    std::u16string s(out);
    EXPECT_EQ(got, s.size());
    return s;
  }

  std::string dir_, path_;
};

TEST_F(Profile, LookupRules) {
  write("top=outside\r\n"
        "[Other]\r\n"
        "name1=wrong section\r\n"
        "[Alarm-Event]\r\n"
        "  name1 =   Service started  \r\n"
        "NAME1=second copy\r\n"
        "level1=2\r\n"
        "quoted=\"  spaced  \"\r\n"
        "single='x'\r\n"
        "half=\"open\r\n"
        "empty=\r\n"
        "noequals\r\n"
        "eq==x=\r\n"
        "[ spaced ]\r\n"
        "k=v\r\n");
  struct Case {
    const char16_t* section;
    const char16_t* key;
    const char16_t* want;
  };
  const Case cases[] = {
      {u"Alarm-Event", u"name1", u"Service started"},
      {u"alarm-event", u"NaMe1", u"Service started"},  // case-blind, first key wins
      {u"Alarm-Event", u"level1", u"2"},
      {u"Alarm-Event", u"quoted", u"  spaced  "},
      {u"Alarm-Event", u"single", u"x"},
      {u"Alarm-Event", u"half", u"\"open"},
      {u"Alarm-Event", u"empty", u""},
      {u"Alarm-Event", u"noequals", u"dflt"},
      {u"Alarm-Event", u"eq", u"=x="},
      {u"Alarm-Event", u"top", u"dflt"},  // keys before any section belong to none
      {u"Alarm-Event", u"k", u"dflt"},
      {u"spaced", u"k", u"v"},
      {u"Other", u"name1", u"wrong section"},
      {u"Missing", u"name1", u"dflt"},
      {u"Alarm-Event", u"name2", u"dflt"},
      {u"Alarm-Event", u"name", u"dflt"},  // a prefix is not a match
      {u"Alarm-Even", u"name1", u"dflt"},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
    EXPECT_EQ(get(cases[i].section, cases[i].key), cases[i].want) << "case " << i;
}

TEST_F(Profile, UnicodeNamesAndValues) {
  write("\xEF\xBB\xBF[\xC5\x81\xC3\xB3" "d\xC5\xBA]\n"           // [Łódź]
        "\xC5\xBB\xC3\xB3\xC5\x82w=\xE2\x82\xAC \xF0\x9F\x98\x80\n"  // Żółw=€ 😀
        "bad=a\xFF\x62\n");
  EXPECT_EQ(get(u"łÓDŹ", u"żÓŁW"), u"€ \U0001F600");
  EXPECT_EQ(get(u"Łódź", u"bad"), u"a\uFFFDb");
}

TEST_F(Profile, ByteOrderMarkOnlyAtTheStart) {
  write("\xEF\xBB\xBF[S]\nk=v\n");
  EXPECT_EQ(get(u"S", u"k"), u"v");
  write("[S]\n\xEF\xBB\xBFk=v\n");
  EXPECT_EQ(get(u"S", u"k"), u"dflt");
}

TEST_F(Profile, LineEndsOfEveryKind) {
  for (const char* text : {"[S]\nk=v", "[S]\r\nk=v\r\n", "[S]\rk=v\r", "\n\n[S]\n\n\nk=v\n\n"}) {
    write(text);
    EXPECT_EQ(get(u"S", u"k"), u"v") << text;
  }
}

TEST_F(Profile, MissingFileAndDefaults) {
  uint32_t n;
  EXPECT_EQ(get(u"S", u"k", u"0", 10, &n), u"0");
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(get(u"S", u"k", nullptr), u"");
  EXPECT_EQ(get(u"S", u"k", u"trail  \t"), u"trail");
  EXPECT_EQ(get(u"S", u"k", u"long default", 5), u"long");
  EXPECT_EQ(get(nullptr, u"k"), u"dflt");
  EXPECT_EQ(get(u"S", nullptr), u"dflt");
  char16_t out[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(profile_get_string(u"S", u"k", u"d", out, 0, path_.c_str()), 0u);
  EXPECT_EQ(out[0], u'x') << "room 0 writes nothing";
  EXPECT_EQ(profile_get_string(u"S", u"k", u"d", out, 1, path_.c_str()), 0u);
  EXPECT_EQ(out[0], 0);
}

TEST_F(Profile, CutAtRoomAndCharacterBoundary) {
  write("[S]\nk=abcdefgh\nsmile=abc\xF0\x9F\x98\x80z\n");
  uint32_t n;
  EXPECT_EQ(get(u"S", u"k", u"", 5, &n), u"abcd");
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(get(u"S", u"smile", u"", 5, &n), u"abc") << "a surrogate pair is never split";
  EXPECT_EQ(get(u"S", u"smile", u"", 6, &n), u"abc\U0001F600");
  EXPECT_EQ(get(u"S", u"k", u"", 9), u"abcdefgh");
}

TEST_F(Profile, HugeLinesAndNoLineEnds) {
  std::string big(3 * PROFILE_LINE_MAX, 'x');
  write(big + "\n[S]\nk=" + big + "\nafter=ok");
  EXPECT_EQ(get(u"S", u"k", u"", 256), std::u16string(255, u'x'));
  EXPECT_EQ(get(u"S", u"after"), u"ok");
  write("[S] k=v " + big);  // one line without an end: a section header only
  EXPECT_EQ(get(u"S", u"k"), u"dflt");
  write(std::string("[S]\nk=v") + std::string(10, '\0') + "tail\n");
  EXPECT_EQ(get(u"S", u"k"), u"v") << "a NUL ends the value";
}

TEST_F(Profile, BinaryFilesGiveDefaults) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(200000, '\0');
    for (char& c : bytes) c = char(rng());
    write(bytes);
    std::u16string v = get(u"Alarm-Event", u"name1", u"dflt", 256);
    EXPECT_LE(v.size(), 255u);
  }
  write(std::string("[S\0]\n", 5) + "k=v\n");
  EXPECT_EQ(get(u"S", u"k"), u"dflt") << "a NUL inside a section name does not match";
}

// A FIFO without a writer, or a device, never holds the reader up: the default text comes at once.
TEST_F(Profile, FilesThatAreNotFilesGiveDefaults) {
  std::string fifo = dir_ + "/fifo.ini", zero = dir_ + "/zero.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", zero.c_str()), 0);
  for (const std::string& path : {fifo, zero}) {
    char16_t out[16];
    EXPECT_EQ(profile_get_string(u"S", u"k", u"dflt", out, 16, path.c_str()), 4u) << path;
    EXPECT_EQ(std::u16string(out), u"dflt") << path;
  }
}

}  // namespace
