#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <string>

#include "common/install.h"
#include "platform/socket.h"
#include "platform/window.h"
#include "service/core/agent.h"
#include "service/core/scheduler.h"
#include "support/temp_dir.h"

namespace {

// The start-up touches process-wide state (window class, mutex, records): each case runs it in a
// child process of its own.
class AgentStart : public ::testing::Test {
 protected:
  TempDir dir;
  void SetUp() override {
    use_install_dir(dir);
    write_settings("");
  }
  // The trap listeners open during start-up: on a free port, never the machine's own 162.
  void write_settings(const std::string& lines) {
    int s = sock_udp_open(INET_FAMILY_IPV4);
    sock_bind(s, INET_FAMILY_IPV4, nullptr, 0);
    std::string port = std::to_string(sock_local_port(s));
    sock_close(s);
    write_file(dir.file("agent.ini"), "[Format]\r\nVersion=7\r\n[Source IP]\r\nListen Port=" + port + "\r\n" +
                                          lines + "[End]\r\n");
  }
};

int timer_mask() {
  int mask = 0;
  for (uintptr_t id = TIMER_AGGREGATE; id <= TIMER_HOUSEKEEPING; ++id)
    if (win_timer_is_set(g_main_hwnd, id)) mask |= 1 << id;
  return mask;
}

TEST_F(AgentStart, RunningServiceSetsAllFiveTimers) {
  EXPECT_EXIT(
      {
        if (!agent_start()) _exit(1);
        _exit(timer_mask() == 0b111110 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(AgentStart, StopServiceRunsOnlyTheAggregateTimer) {
  write_settings("[Configuration]\r\nStop Service=Yes\r\n");
  EXPECT_EXIT(
      {
        if (!agent_start()) _exit(1);
        _exit(timer_mask() == 0b000010 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(AgentStart, CloseWithOtherParameterOnlyHidesTheWindow) {
  EXPECT_EXIT(
      {
        if (!agent_start()) _exit(1);
        win_send_message(g_main_hwnd, WM_CLOSE, 0, 0);
        if (!win_is_window(g_main_hwnd)) _exit(2);
        win_send_message(g_main_hwnd, WM_CLOSE, 1, 0);
        if (win_is_window(g_main_hwnd)) _exit(3);
        // WM_DESTROY posted WM_QUIT: the loop ends at once with code 0.
        int code = agent_run();
        agent_stop();
        _exit(code == 0 ? 0 : 4);
      },
      ::testing::ExitedWithCode(0), "");
  // Start and stop were both logged, beside the status lines of the trap listeners and the tray
  // link (OK, or NOK while another test of the same run holds the port).
  std::string log = read_file(dir.file("_FILE_LOG.TXT"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4) << log;
  EXPECT_NE(log.find("IPv4-Trap: "), std::string::npos) << log;
  EXPECT_NE(log.find("Tray-Link: "), std::string::npos) << log;
}

// The 10 ms scheduler step: 100 ms units, the remainder kept, a wrapped tick count only resets.
class SchedulerStep : public ::testing::Test {
 protected:
  void SetUp() override {
    sched_init();
    g_tick_accum = 0;
    g_last_tick = 1000;
    // A far-off action whose countdown shows how many units were handed over.
    id = SchedulerApi.sched_add_once(100, 100000);
  }
  uint32_t units_passed() {
    for (int i = 0; i < sched_once_ring.count; ++i) {
      const OnceAction& a = sched_once_ring.slot[(sched_once_ring.head + i) % SCHED_ONCE_SLOTS];
      if (a.id == id) return 100000 - a.countdown;
    }
    return 0xFFFFFFFF;
  }
  uint8_t id;
};

TEST_F(SchedulerStep, TenTicksOfTenMillisecondsAdvanceOneUnit) {
  for (uint32_t t = 1010; t < 1100; t += 10) {
    agent_scheduler_step(t);
    EXPECT_EQ(units_passed(), 0u);
    EXPECT_EQ(g_last_tick, 1000u) << "the reference stays until 100 ms have passed";
  }
  agent_scheduler_step(1100);
  EXPECT_EQ(units_passed(), 1u);
  EXPECT_EQ(g_last_tick, 1100u);
  EXPECT_EQ(g_tick_accum, 0);
}

TEST_F(SchedulerStep, AStepOf250MillisecondsGivesTwoUnitsAndKeeps50) {
  agent_scheduler_step(1250);
  EXPECT_EQ(units_passed(), 2u);
  EXPECT_EQ(g_tick_accum, 50);
  agent_scheduler_step(1300);  // 50 ms: below 100, nothing
  EXPECT_EQ(units_passed(), 2u);
  agent_scheduler_step(1400);  // 150 ms + 50 kept
  EXPECT_EQ(units_passed(), 4u);
  EXPECT_EQ(g_tick_accum, 0);
}

TEST_F(SchedulerStep, WrappedTickCountOnlyResetsTheReference) {
  g_last_tick = 0xFFFFFF00u;
  agent_scheduler_step(40);
  EXPECT_EQ(g_last_tick, 40u);
  EXPECT_EQ(units_passed(), 0u);
  agent_scheduler_step(140);
  EXPECT_EQ(units_passed(), 1u);
}

TEST_F(SchedulerStep, ALongStallIsHandedOverWhole) {
  agent_scheduler_step(1000 + 60000);  // 600 units, more than one tick call takes
  EXPECT_EQ(units_passed(), 600u);
}

}  // namespace
