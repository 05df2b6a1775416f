// Tests of the trap-driven alarm state: set and clear rules with their irregular events, what is
// logged and sent, the repeating notices, cold starts, the source reset and the alarm name list.
#include <gtest/gtest.h>

#include <string>

#include "alarm_fixture.h"

namespace {

using alarm_test::AlarmFixture;
using alarm_test::sent_lines;

class AlarmState : public AlarmFixture {
 protected:
  uint8_t handle(int group, int source, int bit) { return g_status.notice_handle[group][source][bit]; }
  // The event carried by the notice with this handle; 0 when it is not scheduled.
  int notice_event(uint8_t h) { return SchedulerApi.sched_find_id(h) ? sched_fired_param.event : 0; }

  // Event texts of my own for the list tests: MIBv4 event e gets names[bit of e].
  void use_mibv4_names(const std::string& name_of_every_bit) {
    std::string ini = "[Alarm-Event]\r\n";
    for (int e = 1; e <= 59; ++e) ini += "name" + std::to_string(e) + "=" + name_of_every_bit + "\r\n";
    std::filesystem::create_directories(dir.file("Language/Custom"));
    write_file(dir.file("Language/Custom/event-MIBv4.ini"), ini);
    evt_free_definitions();
    evt_load_definitions(u"Custom");
  }

  std::string list(int source, int size = 256, uint32_t mark_cut = 1) {
    std::string buffer(size + 8, '#');
    EXPECT_EQ(alarm_text_list(source, buffer.data(), size, mark_cut), 1);
    EXPECT_EQ(buffer[size], '#') << "nothing past the buffer";
    return buffer.c_str();
  }
};

TEST_F(AlarmState, SetEventIsLoggedWithTheSourceAddressAndSent) {
  trap(1, 0, 3);
  EXPECT_EQ(pending(1, 0), 1u << 1);
  EXPECT_EQ(pending(0, 0), 0u);
  auto lines = log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines.back().rfind("127.0.0.2 3 ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(name(0, 3)), std::string::npos);
  ASSERT_EQ(sent_lines().size(), 1u);
  EXPECT_EQ(sent_lines()[0].level, 3u);
  EXPECT_EQ(sent_lines()[0].source, "127.0.0.2");
  EXPECT_EQ(sent_lines()[0].message, name(0, 3));
}

TEST_F(AlarmState, SameSetTwiceAndClearOfUnsetBitChangeNothing) {
  trap(0, 0, 3);
  size_t logged = log_lines().size();
  trap(0, 0, 3);
  trap(0, 0, 6);  // battery level normal, bit 2 never set
  trap(0, 2, 4);  // Sensor clear of bit 1, never set
  EXPECT_EQ(log_lines().size(), logged);
  EXPECT_EQ(sent_lines().size(), 1u);
  EXPECT_EQ(pending(0, 0), 1u << 1);
  EXPECT_EQ(sched_repeat_ring.count, 1);
}

TEST_F(AlarmState, ClearEventStopsTheNotice) {
  trap(0, 1, 5);
  uint8_t h = handle(1, 0, 2);
  ASSERT_NE(h, SCHED_NONE);
  trap(0, 1, 6);
  EXPECT_EQ(pending(0, 1), 0u);
  EXPECT_EQ(handle(1, 0, 2), SCHED_NONE);
  EXPECT_FALSE(SchedulerApi.sched_find_id(h));
  EXPECT_EQ(log_count(name(1, 6)), 1);
}

TEST_F(AlarmState, NoticeRepeatsAtThePeriodWithTheEventAsParameter) {
  g_settings.notify_period = 7;
  trap(1, 2, 9);
  uint8_t h = handle(2, 1, 4);
  ASSERT_NE(h, SCHED_NONE);
  ASSERT_EQ(sched_repeat_ring.count, 1);
  const RepeatAction& a = sched_repeat_ring.slot[sched_repeat_ring.head];
  EXPECT_EQ(a.id, h);
  EXPECT_EQ(a.kind, SCHED_KIND_ALARM_BROADCAST);
  EXPECT_EQ(a.interval, 70u);
  EXPECT_EQ(a.repeat, 255);
  EXPECT_EQ(a.param.source, 1);
  EXPECT_EQ(a.param.event, 9);
  EXPECT_EQ(a.param.group, 2);
  EXPECT_EQ(a.param.zero, 0);
}

TEST_F(AlarmState, NotifyPeriodZeroLogsButSchedulesNothing) {
  g_settings.notify_period = 0;
  trap(0, 0, 21);
  EXPECT_EQ(pending(0, 0), 1u << 11);
  EXPECT_EQ(log_count(name(0, 21)), 1);
  EXPECT_EQ(handle(0, 0, 11), SCHED_NONE);
  EXPECT_EQ(sched_repeat_ring.count, 0);
}

TEST_F(AlarmState, VoltageBuckReplacesBoostAndItsNotice) {
  trap(0, 0, 17);
  EXPECT_EQ(pending(0, 0), 1u << 8);
  uint8_t boost = handle(0, 0, 8);
  ASSERT_NE(boost, SCHED_NONE);
  trap(0, 0, 18);
  EXPECT_EQ(pending(0, 0), 1u << 9);
  EXPECT_EQ(log_count(name(0, 17)), 1);
  EXPECT_EQ(log_count(name(0, 18)), 1);
  EXPECT_EQ(handle(0, 0, 8), SCHED_NONE);
  EXPECT_FALSE(SchedulerApi.sched_find_id(boost));
  EXPECT_EQ(notice_event(handle(0, 0, 9)), 18);
  EXPECT_EQ(sched_repeat_ring.count, 1);
  // A second buck while bit 9 is set is ignored.
  trap(0, 0, 18);
  EXPECT_EQ(log_count(name(0, 18)), 1);
}

TEST_F(AlarmState, VoltageNormalClearsBothBitsAlsoAfterOnlyBuck) {
  // MIBv4: 47 after 17 and after 18 alone; MIBv5: 23 after 13 and after 14 alone.
  struct Case {
    int group, boost, buck, normal, low_bit;
  } cases[] = {{0, 17, 18, 47, 8}, {1, 13, 14, 23, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    std::string normal = name(uint8_t(c.group), uint32_t(c.normal));
    int logged = log_count(normal);
    trap(0, c.group, c.boost);
    trap(0, c.group, c.normal);
    EXPECT_EQ(pending(0, c.group), 0u);
    trap(0, c.group, c.buck);
    EXPECT_EQ(pending(0, c.group), 1u << (c.low_bit + 1));
    trap(0, c.group, c.normal);
    EXPECT_EQ(pending(0, c.group), 0u);
    EXPECT_EQ(handle(c.group, 0, c.low_bit), SCHED_NONE);
    EXPECT_EQ(handle(c.group, 0, c.low_bit + 1), SCHED_NONE);
    EXPECT_EQ(log_count(normal), logged + 2);
    // With neither bit set it is ignored.
    trap(0, c.group, c.normal);
    EXPECT_EQ(log_count(normal), logged + 2);
  }
  EXPECT_EQ(sched_repeat_ring.count, 0);
}

TEST_F(AlarmState, SmartShutdownClearSetsTheCancelFlag) {
  struct Case {
    int group, set, clear, bit;
  } cases[] = {{0, 45, 46, 23}, {1, 21, 22, 11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.group);
    g_status.shutdown_cancelled = 0;
    trap(0, c.group, c.clear);  // not set: ignored, no cancel
    EXPECT_EQ(g_status.shutdown_cancelled, 0);
    trap(0, c.group, c.set);
    size_t logged = log_lines().size();
    trap(0, c.group, c.clear);
    EXPECT_EQ(pending(0, c.group), 0u);
    EXPECT_EQ(handle(c.group, 0, c.bit), SCHED_NONE);
    EXPECT_EQ(g_status.shutdown_cancelled, 1);
    EXPECT_EQ(log_lines().size(), logged + 1);
  }
}

TEST_F(AlarmState, EventsOutOfRangeAndOtherTrapsDoNothing) {
  struct Case {
    int source, group, generic, event;
  } cases[] = {{0, 0, 6, 60}, {0, 1, 6, 52}, {0, 2, 6, 19}, {0, 0, 6, 0}, {0, 1, 6, -1},
               {0, 3, 6, 1},  {0, -1, 6, 1}, {0, 0, 2, 3},  {0, 0, 7, 3}, {-1, 0, 6, 3},
               {2, 0, 6, 3},  {31, 0, 6, 3}, {40, 0, 6, 3}};
  for (const Case& c : cases) {
    TrapState.source_index = c.source;
    TrapState.trap_group = c.group;
    TrapState.generic_trap = c.generic;
    TrapState.specific_trap = c.event;
    ups_event_process();
  }
  EXPECT_EQ(log_lines().size(), 0u);
  EXPECT_TRUE(sent_lines().empty());
  for (int i = 0; i < 33; ++i)
    for (int g = 0; g < 3; ++g) EXPECT_EQ(g_status.pending[i][g], 0u);
  EXPECT_EQ(sched_repeat_ring.count, 0);
}

TEST_F(AlarmState, ColdAndWarmStartWipeTheSourcesAlarmsSilently) {
  for (int number : {0, 1}) {
    SCOPED_TRACE(number);
    trap(0, 0, 3);
    trap(0, 1, 5);
    trap(0, 2, 17);
    trap(1, 0, 3);
    size_t logged = log_lines().size();
    generic(0, number);
    EXPECT_EQ(pending(0, 0), 0u);
    EXPECT_EQ(pending(0, 1), 0u);
    EXPECT_EQ(pending(0, 2), 0u);
    EXPECT_EQ(handle(0, 0, 1), SCHED_NONE);
    EXPECT_EQ(handle(1, 0, 2), SCHED_NONE);
    EXPECT_EQ(handle(2, 0, 8), SCHED_NONE);
    EXPECT_EQ(log_lines().size(), logged);
    // The other source keeps its alarm and notice.
    EXPECT_EQ(pending(1, 0), 1u << 1);
    EXPECT_EQ(sched_repeat_ring.count, 1);
    generic(1, number);
  }
}

TEST_F(AlarmState, SourceResetRemovesOnlyThatSourcesNotices) {
  trap(0, 0, 3);
  trap(0, 2, 1);
  trap(1, 0, 3);
  status_aggregate();
  ASSERT_EQ(g_status.source_condition[0][0], 1);
  ups_source_reset(0);
  EXPECT_EQ(pending(0, 0), 0u);
  EXPECT_EQ(g_status.acknowledged[0][0], 0u);
  EXPECT_EQ(g_status.max_level[1], 0);
  EXPECT_EQ(g_status.source_condition[0][0], 0) << "the reset also drops the source's conditions";
  EXPECT_EQ(handle(0, 0, 1), SCHED_NONE);
  EXPECT_EQ(handle(2, 0, 0), SCHED_NONE);
  EXPECT_EQ(sched_repeat_ring.count, 1);
  EXPECT_EQ(notice_event(handle(0, 1, 1)), 3);
  EXPECT_EQ(pending(1, 0), 1u << 1);
  ups_source_reset(200);  // beyond the table: nothing
}

TEST_F(AlarmState, TextListNamesActiveAlarmsInOrder) {
  std::string untouched(16, 'x');
  EXPECT_EQ(alarm_text_list(2, untouched.data(), 16, 1), 0);
  EXPECT_EQ(untouched, std::string(16, 'x'));
  EXPECT_EQ(list(0), "");
  trap(0, 2, 17);
  trap(0, 0, 3);
  status_aggregate();
  EXPECT_EQ(list(0), name(0, 3) + "," + name(2, 17));
  EXPECT_EQ(list(1), "");
}

TEST_F(AlarmState, TextListCutIsMarkedWithDots) {
  use_mibv4_names(std::string(20, 'A'));
  for (int e : {1, 3, 5, 7, 9, 11, 13, 15, 19, 21, 23, 25, 27}) trap(0, 0, e);
  status_aggregate();
  std::string full;
  for (int i = 0; i < 13; ++i) full += (i ? "," : "") + std::string(20, 'A');
  std::string cut = list(0);
  ASSERT_EQ(cut.size(), 255u);
  EXPECT_EQ(cut, full.substr(0, 252) + "...");
  EXPECT_EQ(list(0, 256, 0), full.substr(0, 255));
}

TEST_F(AlarmState, TextListWhoseLastByteIsACommaDropsItWithoutDots) {
  use_mibv4_names(std::string(50, 'B'));  // five names and commas fill exactly 255 bytes
  for (int e : {1, 3, 5, 7, 9, 11}) trap(0, 0, e);
  status_aggregate();
  std::string text = list(0);
  EXPECT_EQ(text.size(), 254u);
  EXPECT_EQ(text.back(), 'B');
}

TEST_F(AlarmState, TextListNeverCutsACharacterInHalf) {
  std::string wide;
  for (int i = 0; i < 20; ++i) wide += "\xE9\x9B\xBB";  // 60 bytes of three-byte characters
  use_mibv4_names(wide);
  for (int e : {1, 3, 5, 7, 9}) trap(0, 0, e);
  status_aggregate();
  for (uint32_t mark : {1u, 0u}) {
    std::string text = list(0, 256, mark);
    std::u16string back(300, u'\0');
    back.resize(text_utf8_to_utf16(back.data(), back.size(), text.c_str()));
    EXPECT_EQ(back.find(u'\xFFFD'), std::u16string::npos) << "well-formed UTF-8";
    if (mark) {
      EXPECT_EQ(text.substr(text.size() - 3), "...");
    }
    EXPECT_GE(text.size(), 250u);
  }
}

}  // namespace
