// Alarm state that follows the rows of the trap source list when a row is deleted.
#include "service/alarm/source_rows.h"

#include <cstring>

#include "common/settings.h"
#include "service/alarm/status.h"
#include "service/core/scheduler.h"

namespace {

// The interval and repeat count of a queued repeating action; false when it is not queued.
bool repeating_of(uint8_t id, uint32_t* interval, uint8_t* repeat) {
  for (uint8_t k = 0; k < sched_repeat_ring.count; ++k) {
    const RepeatAction& a = sched_repeat_ring.slot[(sched_repeat_ring.head + k) % SCHED_REPEAT_SLOTS];
    if (a.id != id) continue;
    *interval = a.interval;
    *repeat = a.repeat;
    return true;
  }
  return false;
}

// Moves a notice to the source position `to`: it is queued again with that source in its
// parameter. Returns the new handle.
uint8_t renumber_notice(uint8_t handle, uint8_t to) {
  if (handle == SCHED_NONE) return SCHED_NONE;
  uint32_t interval;
  uint8_t repeat;
  if (!SchedulerApi.sched_find_id(handle) || !repeating_of(handle, &interval, &repeat)) return SCHED_NONE;
  SchedParam param = sched_fired_param;
  SchedulerApi.sched_remove_id(handle);
  param.source = to;
  SchedParam saved = sched_next_param;
  sched_next_param = param;
  uint8_t id = SchedulerApi.sched_add_repeating(SCHED_KIND_ALARM_BROADCAST, interval, repeat);
  sched_next_param = saved;
  return id;
}

void clear_position(int s) {
  memset(g_status.acknowledged[s], 0, sizeof g_status.acknowledged[s]);
  memset(g_status.pending[s + 1], 0, sizeof g_status.pending[s + 1]);
  g_status.max_level[s + 1] = 0;
  memset(g_status.source_condition[s], 0, sizeof g_status.source_condition[s]);
  for (int g = 0; g < STATUS_GROUPS; ++g) memset(g_status.notice_handle[g][s], SCHED_NONE, 32);
}

}  // namespace

void ups_source_remove(uint8_t source, uint8_t old_count) {
  if (old_count > SOURCE_IP_MAX) old_count = SOURCE_IP_MAX;
  if (source >= old_count) return;
  for (int g = 0; g < STATUS_GROUPS; ++g)
    for (int b = 0; b < 32; ++b) {
      uint8_t& h = g_status.notice_handle[g][source][b];
      if (h != SCHED_NONE) SchedulerApi.sched_remove_id(h);
      h = SCHED_NONE;
    }
  for (int s = source + 1; s < old_count; ++s) {
    memcpy(g_status.acknowledged[s - 1], g_status.acknowledged[s], sizeof g_status.acknowledged[s]);
    memcpy(g_status.pending[s], g_status.pending[s + 1], sizeof g_status.pending[s]);
    g_status.max_level[s] = g_status.max_level[s + 1];
    memcpy(g_status.source_condition[s - 1], g_status.source_condition[s], sizeof g_status.source_condition[s]);
    for (int g = 0; g < STATUS_GROUPS; ++g)
      for (int b = 0; b < 32; ++b) {
        g_status.notice_handle[g][s - 1][b] = renumber_notice(g_status.notice_handle[g][s][b], uint8_t(s - 1));
        g_status.notice_handle[g][s][b] = SCHED_NONE;
      }
  }
  clear_position(old_count - 1);
}
