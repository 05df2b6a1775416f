// Linux back end of the clock: CLOCK_BOOTTIME for the tick count, localtime_r for local time.
#include "platform/clock.h"

#include <time.h>

uint32_t clock_tick_count() {
  timespec ts;
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

static void fill(SystemTime* out, const tm& t, long nsec) {
  out->year = uint16_t(t.tm_year + 1900);
  out->month = uint16_t(t.tm_mon + 1);
  out->day_of_week = uint16_t(t.tm_wday);
  out->day = uint16_t(t.tm_mday);
  out->hour = uint16_t(t.tm_hour);
  out->minute = uint16_t(t.tm_min);
  out->second = uint16_t(t.tm_sec > 59 ? 59 : t.tm_sec);
  out->milliseconds = uint16_t(nsec / 1000000);
}

void clock_local_time(SystemTime* out) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  localtime_r(&ts.tv_sec, &t);
  fill(out, t, ts.tv_nsec);
}

void clock_system_time(SystemTime* out) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  gmtime_r(&ts.tv_sec, &t);
  fill(out, t, ts.tv_nsec);
}

int64_t clock_unix_seconds() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t(ts.tv_sec);
}

void clock_sleep_ms(uint32_t ms) {
  timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
