// Millisecond tick count and local time.
#pragma once
#include <cstdint>

// Local time in the fields the service uses (month 1-12, day 1-31, day_of_week 0 = Sunday).
struct SystemTime {
  uint16_t year;
  uint16_t month;
  uint16_t day_of_week;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

// Milliseconds since the machine started, wrapping at 2^32 (about 49.7 days).
uint32_t clock_tick_count();
void clock_local_time(SystemTime* out);
// Universal time, same fields.
void clock_system_time(SystemTime* out);
// Seconds since 1970-01-01 UTC on the wall clock.
int64_t clock_unix_seconds();
// Blocks the calling thread.
void clock_sleep_ms(uint32_t ms);
