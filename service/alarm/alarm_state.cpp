// Trap-driven alarm state: each accepted trap sets or clears one bit of its source's alarm word,
// is logged with the source's address, goes to the tray programs as an alarm line and starts or
// stops the bit's repeating notice (a scheduler action of kind 0).
#include "service/alarm/alarm_state.h"

#include <cstring>
#include <mutex>

#include "common/settings.h"
#include "common/text.h"
#include "service/alarm/status.h"
#include "service/core/agent.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/link/link_service.h"
#include "service/snmp/trap_state.h"

void (*alarm_send_line)(uint32_t level, const char16_t* source, const char16_t* message) = link_send_event_line;

namespace {

enum class RuleKind : uint8_t {
  kNone,
  kSet,        // sets `bit`
  kClear,      // clears `bit`
  kShift,      // voltage buck: clears `bit`, sets `bit` + 1
  kClearPair,  // voltage back to normal: clears `bit` and `bit` + 1
};

struct AlarmRule {
  RuleKind kind;
  int bit;
};

// The smart-shutdown bit of each group whose clearing cancels the countdowns; -1 none.
constexpr int kSmartShutdownBit[3] = {23, 11, -1};

int listed_sources() { return g_source_ips.count < SOURCE_IP_MAX ? g_source_ips.count : SOURCE_IP_MAX; }

const uint8_t* set_table(int group, int* bits) {
  *bits = ALARM_BITS[group];
  return group == EVT_GROUP_MIBV4 ? MIBV4_SET_EVENT : group == EVT_GROUP_MIBV5 ? MIBV5_SET_EVENT : nullptr;
}

// What an event (in range for its group) does to the group's alarm word.
AlarmRule alarm_rule(int group, int event) {
  if (group == EVT_GROUP_MIBV4 && event == 18) return {RuleKind::kShift, 8};
  if (group == EVT_GROUP_MIBV4 && event == 47) return {RuleKind::kClearPair, 8};
  if (group == EVT_GROUP_MIBV5 && event == 14) return {RuleKind::kShift, 6};
  if (group == EVT_GROUP_MIBV5 && event == 23) return {RuleKind::kClearPair, 6};
  if (group == EVT_GROUP_SENSOR) {
    return event % 2 ? AlarmRule{RuleKind::kSet, (event - 1) / 2} : AlarmRule{RuleKind::kClear, (event - 2) / 2};
  }
  int bits;
  const uint8_t* sets = set_table(group, &bits);
  for (int b = 0; b < bits; ++b)
    if (sets[b] == event) return {RuleKind::kSet, b};
  for (int b = 0; b < bits; ++b)
    if (sets[b] + 1 == event) return {RuleKind::kClear, b};
  return {RuleKind::kNone, 0};
}

// Applies the rule to the word and moves the notices; false when nothing changed.
bool apply_rule(int group, AlarmRule rule, uint32_t* word) {
  uint32_t mask = 1u << rule.bit;
  uint32_t next = 1u << (rule.bit + 1);
  switch (rule.kind) {
    case RuleKind::kSet:
      if (*word & mask) return false;
      *word |= mask;
      alarm_notify_start(group, rule.bit);
      return true;
    case RuleKind::kClear:
      if (!(*word & mask)) return false;
      *word &= ~mask;
      alarm_notify_stop(group, rule.bit);
      if (rule.bit == kSmartShutdownBit[group]) g_status.shutdown_cancelled = 1;
      return true;
    case RuleKind::kShift:
      if (*word & next) return false;
      *word = (*word & ~mask) | next;
      alarm_notify_start(group, rule.bit + 1);
      alarm_notify_stop(group, rule.bit);
      return true;
    case RuleKind::kClearPair:
      // Also acts when only the second bit is left after a shift, which would otherwise stay set.
      if (!(*word & (mask | next))) return false;
      *word &= ~(mask | next);
      alarm_notify_stop(group, rule.bit);
      alarm_notify_stop(group, rule.bit + 1);
      return true;
    case RuleKind::kNone:
      break;
  }
  return false;
}

// The notice handle of a bit of the trap's source, or null when any index is out of range.
uint8_t* trap_notice_handle(int32_t group, int32_t bit) {
  int32_t s = TrapState.source_index;
  if (s < 0 || s >= SOURCE_IP_MAX || group < 0 || group > 2 || bit < 0 || bit >= ALARM_BITS[group]) return nullptr;
  return &g_status.notice_handle[group][s][bit];
}

void remove_notice(uint8_t* handle) {
  if (*handle == SCHED_NONE) return;
  SchedulerApi.sched_remove_id(*handle);
  *handle = SCHED_NONE;
}

// The name of the alarm a bit stands for: the name of the event that sets it.
const char16_t* bit_name(int group, int bit) {
  if (group == EVT_GROUP_SENSOR) return evt_name(EVT_GROUP_SENSOR, uint32_t(2 * bit + 1));
  int bits;
  return evt_name(uint8_t(group), set_table(group, &bits)[bit]);
}

// Length of the text without a last character that the cut left incomplete.
int32_t utf8_whole_length(const char* text, int32_t length) {
  int32_t lead = length;
  while (lead > 0 && (uint8_t(text[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead == 0) return length;
  uint8_t c = uint8_t(text[lead - 1]);
  int32_t need = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  return lead - 1 + need > length ? lead - 1 : length;
}

}  // namespace

void ups_event_process() {
  int32_t s = TrapState.source_index;
  if (s < 0 || s >= listed_sources()) return;
  int32_t generic = TrapState.generic_trap;
  if (generic == 0 || generic == 1) {
    for (int g = 0; g < STATUS_GROUPS; ++g) g_status.pending[s + 1][g] = 0;
    for (uint32_t g = 0; g < STATUS_GROUPS; ++g) alarm_notify_stop_group(g);
    return;
  }
  if (generic != 6) return;

  std::lock_guard<std::recursive_mutex> lock(g_state_lock);
  int32_t group = TrapState.trap_group;
  int32_t event = TrapState.specific_trap;
  sched_next_param = SchedParam{uint8_t(s), uint8_t(event), uint8_t(group), 0};
  if (group < 0 || group > 2 || event < 1 || event > ALARM_EVENTS[group]) return;
  char16_t address[128];
  text_utf8_to_utf16(address, 128, g_source_ips.ip[s], text_len8_in(g_source_ips.ip[s], sizeof g_source_ips.ip[s]));

  if (!apply_rule(group, alarm_rule(group, event), &g_status.pending[s + 1][group])) return;
  uint8_t level = evt_level(uint8_t(group), uint32_t(event));
  const char16_t* name = evt_name(uint8_t(group), uint32_t(event));
  EventApi.evt_log(address, level, name, nullptr);
  alarm_send_line(level, address, name);
}

void alarm_notify_start(int32_t group, int32_t bit) {
  uint8_t* handle = trap_notice_handle(group, bit);
  if (!handle) return;
  if (g_settings.notify_period == 0) {
    remove_notice(handle);
    return;
  }
  if (*handle != SCHED_NONE) return;
  *handle = SchedulerApi.sched_add_repeating(SCHED_KIND_ALARM_BROADCAST, uint32_t(g_settings.notify_period) * 10, 255);
}

void alarm_notify_stop(int32_t group, int32_t bit) {
  uint8_t* handle = trap_notice_handle(group, bit);
  if (handle) remove_notice(handle);
}

void alarm_notify_stop_group(uint32_t group) {
  if (group > 2) return;
  for (int b = 0; b < ALARM_BITS[group]; ++b) alarm_notify_stop(int32_t(group), b);
}

void ups_source_reset(uint8_t source) {
  if (source >= SOURCE_IP_MAX) return;
  memset(g_status.acknowledged[source], 0, sizeof g_status.acknowledged[source]);
  memset(g_status.pending[source + 1], 0, sizeof g_status.pending[source + 1]);
  g_status.max_level[source + 1] = 0;
  // The conditions follow the words; left standing they could keep a countdown running forever.
  memset(g_status.source_condition[source], 0, sizeof g_status.source_condition[source]);
  int n = listed_sources();
  for (int g = 0; g < STATUS_GROUPS; ++g) {
    for (int b = 0; b < ALARM_BITS[g]; ++b) {
      for (int j = 0; j < n; ++j) {
        uint8_t& h = g_status.notice_handle[g][j][b];
        if (h == SCHED_NONE || !SchedulerApi.sched_find_id(h) || sched_fired_param.source != source) continue;
        SchedulerApi.sched_remove_id(h);
        h = SCHED_NONE;
      }
    }
  }
}

int32_t alarm_text_list(int32_t source, char* buffer, int32_t size, uint32_t mark_cut) {
  if (source < 0 || source >= listed_sources()) return 0;
  if (size < 1) return 1;
  int32_t length = 0;
  bool any = false, full = false;
  for (int g = 0; g < STATUS_GROUPS && !full; ++g) {
    uint32_t word = g_status.acknowledged[source][g];
    for (int b = 0; b < ALARM_BITS[g] && !full; ++b) {
      if (!(word >> b & 1)) continue;
      any = true;
      char name[256];
      text_utf16_to_utf8(name, sizeof name, bit_name(g, b));
      for (const char* p = name; *p; ++p) {
        if (length + 1 >= size) {
          full = true;
          break;
        }
        buffer[length++] = *p;
      }
      if (length + 1 >= size) full = true;
      else buffer[length++] = ',';
    }
  }
  if (any && length > 0 && buffer[length - 1] == ',') --length;
  if (length == size - 1 && full) {
    // A cut list: never leave half a character, and mark the cut when asked.
    if (mark_cut && length >= 3) {
      int32_t at = length - 3;
      while (at > 0 && (uint8_t(buffer[at]) & 0xC0) == 0x80) --at;
      memcpy(buffer + at, "...", 3);
      length = at + 3;
    } else {
      length = utf8_whole_length(buffer, length);
    }
  }
  buffer[length] = 0;
  return 1;
}
