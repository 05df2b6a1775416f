// Tests of the shutdown conditions and countdowns: the aggregation over sources with AND and OR,
// tray state and levels, starting and ending countdowns, the announcement, the cancel flag and
// the pre-shutdown command file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "alarm_fixture.h"

namespace {

using alarm_test::AlarmFixture;

enum { kPowerFail, kBatteryLow, kOverload, kBypass, kSmartShutdown };

class Countdown : public AlarmFixture {
 protected:
  void set_bit(int source, int group, int bit, bool on) {
    uint32_t& w = g_status.pending[source + 1][group];
    w = on ? (w | 1u << bit) : (w & ~(1u << bit));
  }
  int shutdowns_queued() {
    int n = 0;
    for (int i = 0; i < sched_once_ring.count; ++i)
      n += sched_once_ring.slot[(sched_once_ring.head + i) % SCHED_ONCE_SLOTS].kind == SCHED_KIND_SHUTDOWN;
    return n;
  }
  // The common event's text up to its first argument.
  std::string common(uint32_t n) {
    std::string text = name(EVT_GROUP_COMMON, n);
    return text.substr(0, text.find('%'));
  }
};

TEST_F(Countdown, ShorterConditionRunsOutAndRequestsTheShutdown) {
  g_settings.condition_delay[kPowerFail] = 300;
  g_settings.condition_delay[kBatteryLow] = 30;
  set_bit(0, 0, 1, true);
  set_bit(0, 0, 2, true);
  status_aggregate();
  EXPECT_EQ(g_status.countdown[kPowerFail], 300u);
  EXPECT_EQ(g_status.countdown[kBatteryLow], 30u);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_index, 2);
  EXPECT_EQ(g_status.countdown_left, 29);
  EXPECT_EQ(log_count(common(7)), 1);
  for (int i = 0; i < 28; ++i) shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_left, 1);
  EXPECT_EQ(shutdowns_queued(), 0);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown[kBatteryLow], 0u);
  EXPECT_EQ(g_shutdown_fired, 1);
  EXPECT_EQ(shutdowns_queued(), 1);
  EXPECT_EQ(sched_once_ring.slot[sched_once_ring.head].countdown, 1u);
  EXPECT_EQ(g_status.countdown[kPowerFail], 270u) << "the lower condition still ran down in that tick";
  EXPECT_EQ(log_count(common(7)), 1) << "announced once";
}

TEST_F(Countdown, EqualCountdownsKeepTheLowerCondition) {
  g_settings.condition_enable[kBypass] = 1;
  g_settings.condition_delay[kOverload] = 40;
  g_settings.condition_delay[kBypass] = 40;
  set_bit(0, 0, 5, true);
  set_bit(0, 0, 11, true);
  status_aggregate();
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_index, 3);
  EXPECT_EQ(g_status.countdown_left, 39);
}

TEST_F(Countdown, DelayZeroStartsNothing) {
  g_settings.condition_delay[kPowerFail] = 0;
  set_bit(0, 0, 1, true);
  status_aggregate();
  EXPECT_EQ(g_status.aggregate[kPowerFail], 1);
  shutdown_countdown_tick(5);
  EXPECT_EQ(g_status.countdown_left, -1);
  EXPECT_EQ(shutdowns_queued(), 0);
  EXPECT_EQ(log_count(common(7)), 0);
}

TEST_F(Countdown, ConditionTurningOnWhileDisabledStartsNothingLater) {
  g_settings.condition_enable[kPowerFail] = 0;
  set_bit(0, 1, 1, true);
  status_aggregate();
  EXPECT_EQ(g_status.aggregate[kPowerFail], 1);
  EXPECT_EQ(g_status.countdown[kPowerFail], 0u);
  g_settings.condition_enable[kPowerFail] = 1;
  status_aggregate();
  EXPECT_EQ(g_status.countdown[kPowerFail], 0u);
}

TEST_F(Countdown, BitsAreAppliedInAscendingOrder) {
  // Power fail clears and battery low sets in the same word: battery low ends on.
  set_bit(0, 0, 1, true);
  status_aggregate();
  set_bit(0, 0, 1, false);
  set_bit(0, 0, 2, true);
  status_aggregate();
  EXPECT_EQ(g_status.source_condition[0][kPowerFail], 0);
  EXPECT_EQ(g_status.source_condition[0][kBatteryLow], 1);

  // A power-fail clear in the MIBv5 word comes after a battery-low set in the MIBv4 word.
  set_bit(1, 1, 1, true);
  status_aggregate();
  set_bit(1, 0, 2, true);
  set_bit(1, 1, 1, false);
  status_aggregate();
  EXPECT_EQ(g_status.source_condition[1][kBatteryLow], 0);
}

TEST_F(Countdown, ConditionBitsOfBothWords) {
  struct Case {
    int group, bit, condition;
  } cases[] = {{0, 1, 0}, {0, 2, 1}, {0, 11, 2}, {0, 5, 3}, {0, 23, 4},
               {1, 1, 0}, {1, 2, 1}, {1, 9, 2},  {1, 3, 3}, {1, 11, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.group << "/" << c.bit);
    set_bit(0, c.group, c.bit, true);
    status_aggregate();
    EXPECT_EQ(g_status.source_condition[0][c.condition], 1);
    set_bit(0, c.group, c.bit, false);
    status_aggregate();
    EXPECT_EQ(g_status.source_condition[0][c.condition], 0);
  }
}

TEST_F(Countdown, LastCountdownEndingLogsEventEightOnce) {
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_left, 299);
  trap(0, 0, 4);
  status_aggregate();
  EXPECT_EQ(g_status.countdown[kPowerFail], 0u);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_left, -1);
  EXPECT_EQ(g_status.countdown_index, 0);
  shutdown_countdown_tick(1);
  EXPECT_EQ(log_count(common(8)), 1);
  EXPECT_EQ(shutdowns_queued(), 0);
}

TEST_F(Countdown, NoEventEightAfterTheShutdownWasRequested) {
  g_settings.condition_delay[kPowerFail] = 3;
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(1);
  shutdown_countdown_tick(5);  // more than the time left: fires in this tick
  EXPECT_EQ(shutdowns_queued(), 1);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_left, -1);
  EXPECT_EQ(log_count(common(8)), 0);
}

TEST_F(Countdown, CancelFreezesAndTheSecondToggleResumes) {
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(1);
  shutdown_cancel_toggle();
  EXPECT_EQ(g_status.shutdown_cancelled, 1);
  EXPECT_EQ(log_count(common(5)), 1);
  for (int i = 0; i < 5; ++i) shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown[kPowerFail], 299u);
  EXPECT_EQ(g_status.countdown_left, 299);
  shutdown_cancel_toggle();
  EXPECT_EQ(g_status.shutdown_cancelled, 0);
  EXPECT_EQ(log_count(common(6)), 1);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_left, 298);
  EXPECT_EQ(log_count(common(7)), 1);
}

TEST_F(Countdown, NewConditionAfterCancelStartsAfreshWithoutAnnouncement) {
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(10);
  shutdown_cancel_toggle();
  trap(0, 0, 5);
  status_aggregate();
  EXPECT_EQ(g_status.shutdown_cancelled, 0);
  EXPECT_EQ(g_status.countdown[kPowerFail], 0u);
  EXPECT_EQ(g_status.countdown[kBatteryLow], 30u);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.countdown_left, 29);
  EXPECT_EQ(g_status.countdown_index, 2);
  EXPECT_EQ(log_count(common(7)), 1);
}

TEST_F(Countdown, SmartShutdownClearFreezesTheCountdowns) {
  trap(0, 0, 3);
  trap(0, 0, 45);
  status_aggregate();
  shutdown_countdown_tick(1);
  trap(0, 0, 46);
  EXPECT_EQ(g_status.shutdown_cancelled, 1);
  status_aggregate();
  shutdown_countdown_tick(5);
  EXPECT_EQ(g_status.countdown[kPowerFail], 299u);
}

TEST_F(Countdown, CommandFileStartsOnceBelowItsLead) {
  std::string mark = dir.file("ran.txt");
  write_file(dir.file("before.cmd"), "echo ran >> '" + mark + "'\n");
  g_settings.command_enable = 1;
  g_settings.command_before = 120;
  text_utf8_to_utf16(g_settings.command_file, 256, dir.file("before.cmd").c_str());
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(100);
  shutdown_countdown_tick(80);
  EXPECT_EQ(g_status.countdown_left, 120);
  EXPECT_EQ(g_status.pre_command_started, 0);
  shutdown_countdown_tick(1);
  EXPECT_EQ(g_status.pre_command_started, 1);
  for (int i = 0; i < 5; ++i) shutdown_countdown_tick(1);
  for (int i = 0; i < 200 && read_file(mark).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(read_file(mark), "ran\n");
}

// A command file that someone other than root could have written or swapped (through a link on
// the way), or one that is a folder, is not run: the refusal is logged with the file and the
// reason, and the countdown goes on to the shutdown request. A root-owned sticky folder (as /tmp)
// above it is safe, and so is a root-owned link.
TEST_F(Countdown, CommandFileThatOthersCouldChangeIsNotRun) {
  struct Case {
    const char* name;
    bool needs_root;   // chown
    bool runs;
    void (*spoil)(const std::string& folder, const std::string& file);
    const char* reason;   // part of the logged reason
  } cases[] = {
      {"file group-writable", false, false, [](const std::string&, const std::string& f) { chmod(f.c_str(), 0664); },
       "writable by group or others"},
      {"file writable by others", false, false, [](const std::string&, const std::string& f) { chmod(f.c_str(), 0646); },
       "writable by group or others"},
      {"file of nobody", true, false,
       [](const std::string&, const std::string& f) { EXPECT_EQ(chown(f.c_str(), 65534, 65534), 0); },
       "owned by uid 65534"},
      {"folder group-writable", false, false, [](const std::string& d, const std::string&) { chmod(d.c_str(), 0775); },
       "writable by group or others"},
      {"folder writable by others", false, false,
       [](const std::string& d, const std::string&) { chmod(d.c_str(), 0757); }, "writable by group or others"},
      {"folder of nobody", true, false,
       [](const std::string& d, const std::string&) { EXPECT_EQ(chown(d.c_str(), 65534, 65534), 0); },
       "owned by uid 65534"},
      {"sticky folder of nobody", true, false,
       [](const std::string& d, const std::string&) {
         EXPECT_EQ(chown(d.c_str(), 65534, 65534), 0);
         chmod(d.c_str(), 01777);
       },
       "owned by uid 65534"},
      {"sticky folder of root", true, true, [](const std::string& d, const std::string&) { chmod(d.c_str(), 01777); },
       nullptr},
      {"link of nobody to the file", true, false,
       [](const std::string&, const std::string& f) {
         EXPECT_EQ(rename(f.c_str(), (f + ".real").c_str()), 0);
         EXPECT_EQ(symlink((f + ".real").c_str(), f.c_str()), 0);
         EXPECT_EQ(lchown(f.c_str(), 65534, 65534), 0);
       },
       "not run: link "},
      {"link of nobody on the way", true, false,
       [](const std::string& d, const std::string&) {
         EXPECT_EQ(rename((d + "/scripts").c_str(), (d + "/real").c_str()), 0);
         EXPECT_EQ(symlink("real", (d + "/scripts").c_str()), 0);
         EXPECT_EQ(lchown((d + "/scripts").c_str(), 65534, 65534), 0);
       },
       "/scripts is owned by uid 65534"},
      {"link of root on the way", false, true,
       [](const std::string& d, const std::string&) {
         EXPECT_EQ(rename((d + "/scripts").c_str(), (d + "/real").c_str()), 0);
         EXPECT_EQ(symlink("real", (d + "/scripts").c_str()), 0);
       },
       nullptr},
      {"file is a folder", false, false,
       [](const std::string&, const std::string& f) {
         EXPECT_EQ(remove(f.c_str()), 0);
         EXPECT_EQ(mkdir(f.c_str(), 0755), 0);
       },
       "is a folder"},
      {"nothing spoiled", false, true, [](const std::string&, const std::string&) {}, nullptr},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++i;
    if (c.needs_root && geteuid() != 0) continue;
    std::string folder = dir.file("reaction" + std::to_string(i));
    std::string inner = folder + "/scripts";
    std::filesystem::create_directories(inner);
    chmod(folder.c_str(), 0755);
    chmod(inner.c_str(), 0755);
    std::string file = inner + "/before.sh";
    std::string mark = inner + "/ran.txt";
    write_file(file, "echo ran > '" + mark + "'\n");
    chmod(file.c_str(), 0755);
    c.spoil(folder, file);

    sched_init();
    status_reset();
    EventApi.evt_clear_log();
    g_countdown_announced = -1;
    g_settings.command_enable = 1;
    g_settings.command_before = 120;
    g_settings.condition_delay[kPowerFail] = 10;
    text_utf8_to_utf16(g_settings.command_file, 256, file.c_str());
    trap(0, 0, 3);
    status_aggregate();
    shutdown_countdown_tick(1);
    EXPECT_EQ(g_status.pre_command_started, 1);
    std::string refused = common(15);
    if (c.runs) {
      EXPECT_EQ(log_count(refused), 0);
      for (int k = 0; k < 1000 && read_file(mark).empty(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_EQ(read_file(mark), "ran\n");
    } else {
      EXPECT_EQ(log_count(refused + file), 1);
      EXPECT_EQ(log_count(c.reason), 1);
    }
    // Once a countdown: later ticks neither start nor log it again, and the shutdown follows.
    for (int k = 0; k < 9; ++k) shutdown_countdown_tick(1);
    EXPECT_EQ(log_count(refused), c.runs ? 0 : 1);
    EXPECT_EQ(shutdowns_queued(), 1);
    trap(0, 0, 4);
    status_aggregate();
    shutdown_countdown_tick(1);
  }
  // Nothing refused ever ran.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int k = 1; k <= i; ++k) {
    if (cases[k - 1].runs) continue;
    EXPECT_FALSE(fs_exists(dir.file("reaction" + std::to_string(k) + "/scripts/ran.txt"))) << cases[k - 1].name;
  }
}

TEST_F(Countdown, AnnouncementTexts) {
  struct Case {
    uint32_t seconds;
    const char* text;
  } cases[] = {{3725, "01:02:05"}, {3600, "01:00:00"}, {125, "02:05"}, {60, "01:00"}, {59, "59"}, {9, "09"}};
  for (const Case& c : cases) {
    char16_t text[32];
    countdown_time_text(c.seconds, text, 32);
    EXPECT_EQ(alarm_test::u8(text), c.text);
  }
  g_settings.condition_delay[kPowerFail] = 3726;
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(1);
  auto lines = log_lines();
  EXPECT_NE(lines.back().find("time left 01:02:05"), std::string::npos) << lines.back();
  EXPECT_EQ(lines.back().rfind("0.0.0.0 ", 0), 0u);
}

TEST_F(Countdown, OrAndAndOverTwoSources) {
  set_bit(0, 0, 1, true);
  g_source_ips.logical = 0;
  status_aggregate();
  EXPECT_EQ(g_status.aggregate[kPowerFail], 1);

  status_reset();
  set_bit(0, 0, 1, true);
  g_source_ips.logical = 1;
  status_aggregate();
  EXPECT_EQ(g_status.aggregate[kPowerFail], 0);
  EXPECT_EQ(g_status.countdown[kPowerFail], 0u);
  set_bit(1, 1, 1, true);
  status_aggregate();
  EXPECT_EQ(g_status.aggregate[kPowerFail], 1);
  EXPECT_EQ(g_status.countdown[kPowerFail], 300u);
}

TEST_F(Countdown, NoListedSourceGivesAllConditionsOffAlsoUnderAnd) {
  g_source_ips.count = 0;
  for (uint8_t logical : {0, 1}) {
    g_source_ips.logical = logical;
    status_aggregate();
    for (int c = 0; c < 5; ++c) EXPECT_EQ(g_status.aggregate[c], 0);
    shutdown_countdown_tick(1);
    EXPECT_EQ(g_status.countdown_left, -1);
  }
}

TEST_F(Countdown, TrayStateAndLevels) {
  status_aggregate();
  EXPECT_EQ(g_status.tray_state, 1);
  set_bit(0, 2, 4, true);  // Sensor bits leave it alone
  status_aggregate();
  EXPECT_EQ(g_status.tray_state, 1);
  set_bit(1, 0, 5, true);
  status_aggregate();
  EXPECT_EQ(g_status.tray_state, 6);
  set_bit(0, 0, 0, true);
  set_bit(0, 0, 2, true);
  status_aggregate();
  EXPECT_EQ(g_status.tray_state, 6) << "the last mapped bit wins";
  set_bit(1, 0, 5, false);
  status_aggregate();
  EXPECT_EQ(g_status.tray_state, 4);
  set_bit(0, 1, 21, true);
  status_aggregate();
  EXPECT_EQ(g_status.tray_state, 5) << "MIBv5 bits come after MIBv4 bits";
  EXPECT_EQ(g_status.alarm_or[0], 0b101u);
  EXPECT_EQ(g_status.max_level[0], 3);
  EXPECT_EQ(g_status.max_level[1], 3);
  EXPECT_EQ(g_status.max_level[2], 0);
}

}  // namespace
