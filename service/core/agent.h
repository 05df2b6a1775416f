// The service program's spine: its hidden window, the five timers that drive every module, and
// the one lock. Everything runs on the window thread.
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/clock.h"
#include "platform/window.h"

enum : uintptr_t {
  TIMER_AGGREGATE = 1,     // 1000 ms, always
  TIMER_POLL = 2,          // 10 ms, while the reactions run
  TIMER_TRAPS = 3,         // 100 ms
  TIMER_SECOND = 4,        // 1000 ms
  TIMER_HOUSEKEEPING = 5,  // 5000 ms
};

enum : uint32_t {
  WM_LINK_SOCKET = WM_USER + 1,  // tray-link socket events
  WM_WEB_SOCKET = WM_USER + 2,   // web server socket events
  WM_SNMP_SOCKET = WM_USER + 3,  // SNMP agent socket events
};

extern WindowHandle g_main_hwnd;
extern uint32_t g_last_tick;          // tick count when the scheduler was last advanced
extern int32_t g_tick_accum;          // milliseconds not yet handed to the scheduler (< 100)
extern SystemTime g_last_time;        // local time of the last TIMER_SECOND tick
extern uint8_t g_trap_sender[28];     // sender of the last datagram the trap poll read
extern std::recursive_mutex g_state_lock;

// Process entry; the exit code is 0 in every case.
int agent_main();
intptr_t agent_wndproc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Start-up steps 1 to 21; false when the program must end at once.
bool agent_start();
// Message loop until WM_QUIT; returns its parameter.
int agent_run();
// Stop sequence after the loop.
void agent_stop();

// One scheduler step of the 10 ms timer at tick count `now`.
void agent_scheduler_step(uint32_t now);
// Starts timers 2 to 5 with their periods; false when one cannot be set.
bool agent_start_reaction_timers();
// Kills timers 2 to 5.
void agent_kill_reaction_timers();
