// Tray link frame format: building, the alarm line, and the strict reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/codec.h"
#include "service/link/link_frames.h"

namespace {

class LinkFrames : public ::testing::Test {
 protected:
  void SetUp() override { codec_table_init(); }
};

std::string build(uint32_t kind, uint32_t code, const void* body, int32_t len) {
  std::vector<char> out(LINK_FRAME_MAX);
  int32_t n = link_frame_build(out.data(), int32_t(out.size()), kind, code, static_cast<const uint8_t*>(body), len);
  return std::string(out.data(), size_t(n));
}

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + 3);
  return v;
}

struct Reader {
  LinkRxBuffer rx{};
  uint8_t decode[LINK_DECODE_SIZE];
  LinkFrame frame{};
  void put(const std::string& bytes) {
    ASSERT_LE(size_t(rx.fill) + bytes.size(), sizeof rx.data);
    memcpy(rx.data + rx.fill, bytes.data(), bytes.size());
    rx.fill += int32_t(bytes.size());
  }
  LinkFrameResult next() { return link_frame_next(&rx, decode, &frame); }
};

TEST_F(LinkFrames, KindNamesInTableOrder) {
  const char* names[] = {"VAL", "LOG", "UHD", "PRO", "SYS", "STP", "UPC", "ICO", "ADO", "DEL", "CFG", "T01", "T02", "T03"};
  for (uint32_t k = 0; k < LINK_KIND_COUNT; ++k) EXPECT_STREQ(LinkKindNames[k], names[k]) << k;
  EXPECT_EQ(LinkHeaderFormats[LINK_KIND_ICO], nullptr);
  EXPECT_EQ(LinkHeaderFormats[LINK_KIND_ADO], nullptr);
}

TEST_F(LinkFrames, CancelRequestIsTwentyFiveBytes) {
  EXPECT_EQ(build(LINK_KIND_SYS, 2, nullptr, 0), "OrvikSNMP:SYS02,00,00000 ");
  EXPECT_EQ(build(LINK_KIND_STP, 1, nullptr, 0), "OrvikSNMP:STP01,00,00000 ");
}

TEST_F(LinkFrames, RecordFramesHaveTheirFixedSizes) {
  auto status = pattern(LINK_STATUS_RECORD);
  auto settings = pattern(LINK_SETTINGS_RECORD);
  std::string val = build(LINK_KIND_VAL, 0, status.data(), LINK_STATUS_RECORD);
  EXPECT_EQ(val.size(), 6065u);
  EXPECT_EQ(val.substr(0, 25), "OrvikSNMP:VAL00,00,06040 ");
  struct Case {
    uint32_t kind;
    const char* header;
  } cases[] = {
      {LINK_KIND_UHD, "OrvikSNMP:UHD00,00,03772 "}, {LINK_KIND_UPC, "OrvikSNMP:UPC00,00,03772 "},
      {LINK_KIND_CFG, "OrvikSNMP:CFG00,00,03772 "}, {LINK_KIND_T01, "OrvikSNMP:T0100,00,03772 "},
      {LINK_KIND_T02, "OrvikSNMP:T0200,00,03772 "}, {LINK_KIND_T03, "OrvikSNMP:T0300,00,03772 "},
  };
  for (const Case& c : cases) {
    std::string f = build(c.kind, 0, settings.data(), LINK_SETTINGS_RECORD);
    EXPECT_EQ(f.size(), 3797u) << c.header;
    EXPECT_EQ(f.substr(0, 25), c.header);
  }
  EXPECT_EQ(build(LINK_KIND_PRO, 0, nullptr, 0), "OrvikSNMP:PRO00,00,00000 ");
}

TEST_F(LinkFrames, TextFramesCarryTheTerminator) {
  // "abc" and its zero byte: four bytes, eight characters.
  std::string f = build(LINK_KIND_LOG, 0, "abc", 4);
  EXPECT_EQ(f, "OrvikSNMP:LOG00,00,00008 V7qM....");
  EXPECT_EQ(build(LINK_KIND_DEL, 0, "a", 2).substr(0, 25), "OrvikSNMP:DEL00,00,00004 ");
}

TEST_F(LinkFrames, BuildRefusesWhatNoReaderWouldTake) {
  auto settings = pattern(LINK_SETTINGS_RECORD);
  std::vector<char> big(LINK_TEXT_MAX + 2, 'x');
  big.back() = 0;
  char out[64];
  EXPECT_EQ(link_frame_build(out, sizeof out, LINK_KIND_ICO, 0, nullptr, 0), 0);
  EXPECT_EQ(link_frame_build(out, sizeof out, LINK_KIND_ADO, 0, nullptr, 0), 0);
  EXPECT_EQ(link_frame_build(out, sizeof out, 14, 0, nullptr, 0), 0);
  EXPECT_EQ(link_frame_build(out, sizeof out, LINK_KIND_SYS, 100, nullptr, 0), 0);
  EXPECT_EQ(link_frame_build(out, sizeof out, LINK_KIND_SYS, 2, settings.data(), 3), 0);
  EXPECT_EQ(build(LINK_KIND_UPC, 0, settings.data(), LINK_SETTINGS_RECORD - 1), "");
  EXPECT_EQ(build(LINK_KIND_LOG, 0, big.data(), int32_t(big.size())), "");
  EXPECT_EQ(build(LINK_KIND_LOG, 0, big.data() + 1, int32_t(big.size()) - 1).size(), size_t(LINK_FRAME_MAX));
  // Too little room for the body.
  EXPECT_EQ(link_frame_build(out, sizeof out, LINK_KIND_UPC, 0, settings.data(), LINK_SETTINGS_RECORD), 0);
}

TEST_F(LinkFrames, AlarmLineFormat) {
  SystemTime t{2026, 3, 4, 5, 7, 8, 9, 0};
  char line[LINK_ALARM_LINE_SIZE];
  int32_t n = link_format_alarm_line(line, sizeof line, 2, &t, "192.168.1.10", "Power failure");
  EXPECT_STREQ(line, "2 03/05/2026 07:08:09 <192.168.1.10>: Power failure");
  EXPECT_EQ(n, int32_t(strlen(line)));
  char small[8];
  EXPECT_EQ(link_format_alarm_line(small, sizeof small, 3, &t, "a", "b"), 7);
  EXPECT_STREQ(small, "3 03/05");
}

TEST_F(LinkFrames, RecordRoundTrip) {
  auto settings = pattern(LINK_SETTINGS_RECORD);
  Reader r;
  r.put(build(LINK_KIND_UPC, 0, settings.data(), LINK_SETTINGS_RECORD));
  ASSERT_EQ(r.next(), LINK_FRAME_OK);
  EXPECT_EQ(r.frame.kind, LINK_KIND_UPC);
  EXPECT_EQ(r.frame.body_chars, LINK_SETTINGS_BODY);
  EXPECT_EQ(r.frame.body_bytes, 2829);
  EXPECT_EQ(memcmp(r.frame.body, settings.data(), LINK_SETTINGS_RECORD), 0);
  EXPECT_EQ(r.frame.body[LINK_SETTINGS_RECORD], 0);   // the completion byte
  EXPECT_EQ(r.rx.fill, 0);
  EXPECT_EQ(r.next(), LINK_FRAME_NEED_MORE);
}

TEST_F(LinkFrames, PartialFrameWaitsForItsRest) {
  std::string f = build(LINK_KIND_LOG, 0, "hello there", 12);
  Reader r;
  for (size_t i = 0; i + 1 < f.size(); ++i) {
    r.put(f.substr(i, 1));
    ASSERT_EQ(r.next(), LINK_FRAME_NEED_MORE) << i;
    ASSERT_EQ(size_t(r.rx.fill), i + 1);
  }
  r.put(f.substr(f.size() - 1));
  ASSERT_EQ(r.next(), LINK_FRAME_OK);
  EXPECT_STREQ(reinterpret_cast<const char*>(r.frame.body), "hello there");
}

TEST_F(LinkFrames, FramesInOneBufferComeInOrder) {
  Reader r;
  r.put(build(LINK_KIND_STP, 1, nullptr, 0) + "OrvikSNMP:ICO00,00,00000 " + build(LINK_KIND_SYS, 2, nullptr, 0) +
        "OrvikSNMP:SY");
  ASSERT_EQ(r.next(), LINK_FRAME_OK);
  EXPECT_EQ(r.frame.kind, LINK_KIND_STP);
  EXPECT_EQ(r.frame.code, 1u);
  ASSERT_EQ(r.next(), LINK_FRAME_OK);
  EXPECT_EQ(r.frame.kind, LINK_KIND_ICO);
  EXPECT_EQ(r.frame.body_bytes, 0);
  ASSERT_EQ(r.next(), LINK_FRAME_OK);
  EXPECT_EQ(r.frame.kind, LINK_KIND_SYS);
  EXPECT_EQ(r.frame.code, 2u);
  EXPECT_EQ(r.next(), LINK_FRAME_NEED_MORE);
  EXPECT_EQ(std::string(r.rx.data, size_t(r.rx.fill)), "OrvikSNMP:SY");
}

// Every case empties the buffer, also the good frame queued behind the bad one.
TEST_F(LinkFrames, BadFramesDropTheBuffer) {
  auto settings = pattern(LINK_SETTINGS_RECORD);
  std::string upc = build(LINK_KIND_UPC, 0, settings.data(), LINK_SETTINGS_RECORD);
  std::string upc_short = "OrvikSNMP:UPC00,00,03768 " + upc.substr(25, 3768);
  std::string bad_char = upc;
  bad_char[100] = '!';
  std::string junk(30 * 1024, '\0');
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = char(i * 131 + 17);
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"unknown kind", "OrvikSNMP:XYZ00,00,00000 "},
      {"wrong prefix", "OrvikSNMQ:SYS02,00,00000 "},
      {"lower-case prefix", "orvikSNMP:SYS02,00,00000 "},
      {"no colon", "OrvikSNMP;SYS02,00,00000 "},
      {"non-digit code", "OrvikSNMP:SYS2,,00,00000 "},
      {"middle field", "OrvikSNMP:SYS02,01,00000 "},
      {"non-digit length", "OrvikSNMP:LOG00,00,0000x "},
      {"signed length", "OrvikSNMP:LOG00,00,-0004 "},
      {"no space", "OrvikSNMP:SYS02,00,00000X"},
      {"empty kind with a body", "OrvikSNMP:SYS02,00,00004 V7qM"},
      {"oversize text", "OrvikSNMP:LOG00,00,27308 "},
      {"largest length", "OrvikSNMP:LOG00,00,99999 "},
      {"empty text", "OrvikSNMP:LOG00,00,00000 "},
      {"text not in groups of four", "OrvikSNMP:LOG00,00,00006 V7qM.."},
      {"settings of the wrong size", upc_short},
      {"status of the wrong size", "OrvikSNMP:VAL00,00,03772 " + upc.substr(25)},
      {"foreign character in the body", bad_char},
      {"junk", junk.substr(0, 30720)},
  };
  for (const Case& c : cases) {
    Reader r;
    std::string bytes = c.bytes;
    if (bytes.size() + 25 <= sizeof r.rx.data) bytes += build(LINK_KIND_SYS, 2, nullptr, 0);
    r.put(bytes);
    EXPECT_EQ(r.next(), LINK_FRAME_BAD) << c.what;
    EXPECT_EQ(r.rx.fill, 0) << c.what;
  }
}

TEST_F(LinkFrames, BadHeaderIsRefusedBeforeItIsComplete) {
  Reader r;
  r.put("OrvikSNMP:SY");
  EXPECT_EQ(r.next(), LINK_FRAME_NEED_MORE);
  r.put("X");
  EXPECT_EQ(r.next(), LINK_FRAME_BAD);
  r.put("GET / HTTP/1.0");
  EXPECT_EQ(r.next(), LINK_FRAME_BAD);
  r.put("Orvik");
  EXPECT_EQ(r.next(), LINK_FRAME_NEED_MORE);
}

TEST_F(LinkFrames, FillOutsideTheBufferIsRefused) {
  Reader r;
  r.rx.fill = LINK_RX_BUFFER_SIZE + 1;
  EXPECT_EQ(r.next(), LINK_FRAME_BAD);
  r.rx.fill = -3;
  EXPECT_EQ(r.next(), LINK_FRAME_BAD);
  EXPECT_EQ(r.rx.fill, 0);
}

TEST_F(LinkFrames, LongestTextFrameFitsTheDecodeArea) {
  std::vector<char> text(LINK_TEXT_MAX + 1, 'y');
  text.back() = 0;
  Reader r;
  r.put(build(LINK_KIND_DEL, 0, text.data(), int32_t(text.size())));
  ASSERT_EQ(r.rx.fill, LINK_FRAME_MAX);
  ASSERT_EQ(r.next(), LINK_FRAME_OK);
  EXPECT_EQ(r.frame.body_bytes, LINK_TEXT_MAX + 1);
  EXPECT_EQ(strlen(reinterpret_cast<const char*>(r.frame.body)), size_t(LINK_TEXT_MAX));
}

}  // namespace
