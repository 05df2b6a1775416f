// Shutdown conditions and countdowns. Once a second the sources' alarm words become five
// conditions per source, combined over the sources with AND or OR; an enabled condition that turns
// on starts its countdown. The countdown step runs them down, announces them once, starts the
// command file shortly before the end and asks for the shutdown when one runs out.
#include "service/alarm/countdown.h"

#include <cstdio>

#include "common/settings.h"
#include "common/text.h"
#include "service/alarm/alarm_state.h"
#include "service/alarm/shutdown_actions.h"
#include "service/alarm/status.h"
#include "service/events/event_defs.h"

int32_t g_countdown_announced = -1;
int32_t g_shutdown_fired;

namespace {

enum : int { kPowerFail = 0, kBatteryLow = 1, kOverload = 2, kBypass = 3, kSmartShutdown = 4 };

// The alarm bit that drives each condition, per group (MIBv4, MIBv5).
constexpr int kConditionBit[2][CONDITION_COUNT] = {
    {1, 2, 11, 5, 23},
    {1, 2, 9, 3, 11},
};

// Tray state of each alarm bit of the MIBv4 and MIBv5 words; 0 leaves the state alone.
constexpr uint8_t kTrayState[2][32] = {
    {2, 3, 4, 0, 0, 6, 5, 0, 0, 0, 5, 5, 5, 5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5},
    {2, 3, 4, 6, 5, 0, 0, 0, 5, 5, 5, 0, 0, 5, 0, 0, 0, 5, 5, 5, 0, 5, 0, 0, 6},
};

int listed_sources() { return g_source_ips.count < SOURCE_IP_MAX ? g_source_ips.count : SOURCE_IP_MAX; }

void log_common(uint32_t n, const char16_t* argument) {
  EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, n), evt_name(EVT_GROUP_COMMON, n), argument, nullptr);
}

// Applies the bits of a group that changed since the last aggregation to the source's conditions.
void apply_word(int s, int group) {
  uint32_t now = g_status.pending[s + 1][group];
  uint32_t changed = now ^ g_status.acknowledged[s][group];
  if (!changed) return;
  uint8_t* condition = g_status.source_condition[s];
  for (int b = 0; b < ALARM_BITS[group]; ++b) {
    if (!(changed >> b & 1)) continue;
    uint8_t on = uint8_t(now >> b & 1);
    for (int c = 0; c < CONDITION_COUNT; ++c) {
      if (kConditionBit[group][c] != b) continue;
      condition[c] = on;
      if (c == kPowerFail && !on) condition[kBatteryLow] = 0;
    }
  }
  g_status.acknowledged[s][group] = now;
}

uint8_t highest_level(const uint32_t words[3]) {
  const uint8_t* levels[3] = {g_status.mibv4_level, g_status.mibv5_level, g_status.sensor_level};
  uint8_t level = 0;
  for (int g = 0; g < STATUS_GROUPS; ++g)
    for (int b = 0; b < 32; ++b)
      if ((words[g] >> b & 1) && levels[g][b] > level) level = levels[g][b];
  return level;
}

}  // namespace

void status_aggregate() {
  g_status.tray_state = 1;
  int n = listed_sources();
  for (int s = 0; s < n; ++s) {
    apply_word(s, EVT_GROUP_MIBV4);
    apply_word(s, EVT_GROUP_MIBV5);
    g_status.acknowledged[s][EVT_GROUP_SENSOR] = g_status.pending[s + 1][EVT_GROUP_SENSOR];
  }

  // With no source listed nothing can report a condition, also under AND.
  bool all = g_source_ips.logical != 0;
  for (int c = 0; c < CONDITION_COUNT; ++c) {
    uint8_t v = (all && n > 0) ? 1 : 0;
    for (int s = 0; s < n; ++s) v = all ? (v & g_status.source_condition[s][c]) : (v | g_status.source_condition[s][c]);
    g_status.aggregate[c] = v ? 1 : 0;
  }

  for (int c = 0; c < CONDITION_COUNT; ++c) {
    if (g_status.aggregate[c] == g_status.aggregate_prev[c]) continue;
    if (!g_status.aggregate[c]) {
      g_status.countdown[c] = 0;
    } else if (g_settings.condition_enable[c]) {
      if (g_status.shutdown_cancelled) {
        for (uint32_t& left : g_status.countdown) left = 0;
        g_status.shutdown_cancelled = 0;
      }
      if (g_status.countdown[c] == 0 || g_status.countdown[c] > g_settings.condition_delay[c])
        g_status.countdown[c] = g_settings.condition_delay[c];
    }
    g_status.aggregate_prev[c] = g_status.aggregate[c];
  }

  for (int g = 0; g < STATUS_GROUPS; ++g) {
    uint32_t any = 0;
    for (int s = 0; s < n; ++s) any |= g_status.acknowledged[s][g];
    g_status.alarm_or[g] = any;
  }
  g_status.max_level[0] = highest_level(g_status.alarm_or);
  for (int s = 0; s < n; ++s) g_status.max_level[s + 1] = highest_level(g_status.acknowledged[s]);

  g_status.tray_state = 1;
  for (int g = 0; g < 2; ++g)
    for (int b = 0; b < ALARM_BITS[g]; ++b)
      if ((g_status.alarm_or[g] >> b & 1) && kTrayState[g][b]) g_status.tray_state = kTrayState[g][b];
}

void countdown_time_text(uint32_t seconds, char16_t* out, size_t room) {
  char text[32];
  if (seconds >= 3600)
    snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  else if (seconds >= 60)
    snprintf(text, sizeof text, "%02u:%02u", seconds / 60, seconds % 60);
  else
    snprintf(text, sizeof text, "%02u", seconds);
  text_utf8_to_utf16(out, room, text);
}

void shutdown_countdown_tick(uint32_t elapsed) {
  uint32_t minimum = COUNTDOWN_NONE;
  for (int c = 0; c < CONDITION_COUNT; ++c) {
    uint32_t& left = g_status.countdown[c];
    if (left == 0) continue;
    if (!g_status.shutdown_cancelled) {
      if (left <= elapsed) {
        left = 0;
        g_shutdown_fired = 1;
        g_shutdown_condition = c;
        shutdown_request();
        return;
      }
      left -= elapsed;
    }
    if (left < minimum) {
      minimum = left;
      g_status.countdown_index = uint8_t(c + 1);
    }
  }

  if (minimum == COUNTDOWN_NONE) {
    g_status.shutdown_cancelled = 0;
    g_status.countdown_left = -1;
    g_status.countdown_index = 0;
    g_status.pre_command_started = 0;
    if (g_countdown_announced >= 1) {
      g_countdown_announced = -1;
      if (g_shutdown_fired != 1) log_common(EVT_COMMON_COUNTDOWN_ENDED, nullptr);
    }
    return;
  }

  g_shutdown_fired = 0;
  if (g_status.shutdown_cancelled) return;
  g_status.countdown_left = int32_t(minimum);
  if (g_countdown_announced < 1) {
    g_countdown_announced = int32_t(minimum);
    char16_t left[32];
    countdown_time_text(minimum, left, 32);
    log_common(EVT_COMMON_COUNTDOWN_STARTED, left);
  }
  if (!g_status.pre_command_started && g_settings.command_enable == 1 && minimum < g_settings.command_before) {
    char file[1024];
    settings_text_utf8(file, sizeof file, g_settings.command_file, 256);
    // A file that cannot be trusted is logged and not run; the countdown goes on as after a
    // failed command.
    if (file[0]) shell_open_trusted(file, 0);
    g_status.pre_command_started = 1;
  }
}

void shutdown_cancel_toggle() {
  if (!g_status.shutdown_cancelled) {
    g_status.shutdown_cancelled = 1;
    log_common(EVT_COMMON_COUNTDOWN_CANCELLED, nullptr);
  } else {
    g_status.shutdown_cancelled = 0;
    log_common(EVT_COMMON_CANCEL_WITHDRAWN, nullptr);
  }
}
