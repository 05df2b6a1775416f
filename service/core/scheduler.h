// Action scheduler: delayed (one-shot) and repeating actions counted down in 100 ms units.
// It knows nothing of what a kind means; the core advances it and hands due kinds to the action
// executor. Other modules reach it only through SchedulerApi. Not thread-safe: callers run on the
// window thread and hold g_state_lock where the core says so.
#pragma once
#include <cstdint>

constexpr uint8_t SCHED_KIND_ALARM_BROADCAST = 0;  // repeating alarm notice, param {source, event, group, 0}
constexpr uint8_t SCHED_KIND_SHUTDOWN = 20;        // shutdown action after a countdown ran out
constexpr uint8_t SCHED_KIND_RELOAD_EVENTS = 21;   // reload the event definitions of the set language
constexpr uint8_t SCHED_KIND_TRAP_FORWARD = 22;    // simulated power event of the device page
constexpr uint8_t SCHED_KIND_POWER_RETRY = 23;     // operating-system action again after it failed

constexpr uint8_t SCHED_NONE = 255;            // no action, refused add, nothing due
constexpr uint8_t SCHED_MAX_ID = 250;          // ids run 0..250; 251..254 are never used
constexpr uint8_t SCHED_SERIAL_KIND = 200;     // kinds 200..254 count down one at a time per ring
constexpr uint8_t SCHED_ONCE_SLOTS = 180;
constexpr uint8_t SCHED_REPEAT_SLOTS = 40;

// The 4-byte parameter an action carries; the alarm engine fills it as named, others as they like.
struct SchedParam {
  uint8_t source;  // trap source index
  uint8_t event;   // event number, 1-based
  uint8_t group;   // alarm group: 0 MIBv4, 1 MIBv5, 2 Sensor
  uint8_t zero;    // always 0 from the alarm engine
};
static_assert(sizeof(SchedParam) == 4);

struct OnceAction {
  uint8_t id;          // 0..250, unique over both rings
  uint8_t kind;        // meaning set by the action executor
  uint32_t countdown;  // 100 ms units left until due
  SchedParam param;    // copied from sched_next_param at the add
};

struct RepeatAction {
  uint8_t id;          // 0..250, unique over both rings
  uint8_t kind;        // meaning set by the action executor
  SchedParam param;    // copied from sched_next_param at the add
  uint32_t interval;   // 100 ms units between two firings
  uint32_t countdown;  // 100 ms units left until due
  uint8_t repeat;      // firings left; 255 = without end, 0 = fire once
};

// Live actions are the count slots from head onwards, modulo the ring size, in queueing order.
struct OnceRing {
  OnceAction slot[SCHED_ONCE_SLOTS];
  uint8_t head;   // 0..179
  uint8_t count;  // 0..180
};

struct RepeatRing {
  RepeatAction slot[SCHED_REPEAT_SLOTS];
  uint8_t head;   // 0..39
  uint8_t count;  // 0..40
};

// The rings and the id counter; read them for inspection only, change them through SchedulerApi.
extern OnceRing sched_once_ring;
extern RepeatRing sched_repeat_ring;
extern uint8_t next_id;  // id handed out last; 0 at start, so the first id is 1

// Attached to the action by the next add; set by the caller before adding, never reset here.
extern SchedParam sched_next_param;
// Written by sched_poll_due with the fired action's id and parameter; sched_fired_param also
// receives the parameter that sched_find_kind and sched_find_id report.
extern uint8_t sched_fired_id;
extern SchedParam sched_fired_param;

struct SchedulerApiTable {
  // 0: every countdown drops by units (not below 0); of kinds >= 200 only the first per ring counts.
  void (*sched_tick)(uint8_t units);
  // 1: fires the first due one-shot action, else the first due repeating one; its kind, or 255.
  uint8_t (*sched_poll_due)();
  // 2: takes the action with this id out of its ring, keeping the order of the rest.
  void (*sched_remove_id)(uint8_t id);
  // 3: takes every action of this kind out of both rings, keeping the order of the rest.
  void (*sched_remove_kind)(uint8_t kind);
  // 4: queues a one-shot action at the end of its ring; its id, or 255 when full.
  uint8_t (*sched_add_once)(uint8_t kind, uint32_t delay);
  // 5: queues a one-shot action before the head; its id, or 255 when full.
  uint8_t (*sched_add_once_front)(uint8_t kind, uint32_t delay);
  // 6: empties the one-shot ring.
  void (*sched_clear_once)();
  // 7: queues a repeating action at the end of its ring; its id, or 255 when full.
  uint8_t (*sched_add_repeating)(uint8_t kind, uint32_t interval, uint8_t repeat);
  // 8: queues a repeating action before the head; its id, or 255 when full.
  uint8_t (*sched_add_repeating_front)(uint8_t kind, uint32_t interval, uint8_t repeat);
  // 9: empties the repeating ring.
  void (*sched_clear_repeating)();
  // 10: true when an action of this kind is queued; its parameter goes to sched_fired_param.
  bool (*sched_find_kind)(uint8_t kind);
  // 11: true when the id is queued; its parameter goes to sched_fired_param.
  bool (*sched_find_id)(uint8_t id);
};

extern SchedulerApiTable SchedulerApi;

// Fills SchedulerApi and empties both rings; next_id and the parameters start at 0.
void sched_init();
