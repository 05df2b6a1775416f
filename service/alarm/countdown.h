// Shutdown conditions and countdowns: the one-second aggregation of the sources' alarm words into
// the five conditions, the countdown step with its announcement and pre-shutdown command file, and
// the cancel flag.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int CONDITION_COUNT = 5;  // power fail, battery low, overload, bypass, smart shutdown
constexpr uint32_t COUNTDOWN_NONE = 1000000;  // a countdown of this many seconds or more never counts

// Seconds left when the current countdown was announced, -1 none.
extern int32_t g_countdown_announced;
// 1 after a countdown ran out and asked for the shutdown, 0 while a countdown runs.
extern int32_t g_shutdown_fired;

// The one-second aggregation of the sources' alarm words into the five conditions.
void status_aggregate();
// Runs the countdowns down by the seconds elapsed.
void shutdown_countdown_tick(uint32_t elapsed);
// Toggles the shutdown-cancelled flag.
void shutdown_cancel_toggle();
// The countdown announcement text: "hh:mm:ss" from 3600 seconds, "mm:ss" from 60, else "ss".
void countdown_time_text(uint32_t seconds, char16_t* out, size_t room);
