// Action scheduler: two fixed rings of actions, id allocation, countdown ticks and the poll that
// hands out one due action at a time. Removal keeps the queueing order also in a ring whose live
// part wraps past the end of its slot array.
#include "service/core/scheduler.h"

OnceRing sched_once_ring;
RepeatRing sched_repeat_ring;
uint8_t next_id;
SchedParam sched_next_param;
uint8_t sched_fired_id;
SchedParam sched_fired_param;
SchedulerApiTable SchedulerApi;

namespace {

// At most this many ids are tried per add; the rings hold 220 actions, so one of 221 is free.
constexpr int ID_TRIES = 221;

template <typename Ring, unsigned N>
uint8_t ring_index_of_id(const Ring& r, uint8_t id) {
  for (unsigned k = 0; k < r.count; ++k) {
    unsigned i = (r.head + k) % N;
    if (r.slot[i].id == id) return uint8_t(i);
  }
  return SCHED_NONE;
}

uint8_t sched_index_once(uint8_t id) {
  return ring_index_of_id<OnceRing, SCHED_ONCE_SLOTS>(sched_once_ring, id);
}

uint8_t sched_index_repeating(uint8_t id) {
  return ring_index_of_id<RepeatRing, SCHED_REPEAT_SLOTS>(sched_repeat_ring, id);
}

uint8_t sched_alloc_id() {
  for (int t = 0; t < ID_TRIES; ++t) {
    next_id = uint8_t(next_id + 1);
    if (next_id > SCHED_MAX_ID) next_id = 0;
    if (sched_index_once(next_id) == SCHED_NONE && sched_index_repeating(next_id) == SCHED_NONE)
      return next_id;
  }
  return SCHED_NONE;
}

// Takes the action in slot idx out of the ring; the others keep their order.
template <typename Ring, unsigned N>
void ring_remove_at(Ring& r, unsigned idx) {
  unsigned last = (r.head + r.count - 1u) % N;
  if (idx == r.head) {
    r.head = uint8_t((r.head + 1u) % N);
  } else if (idx == last) {
    // only the count drops
  } else if (idx > r.head) {
    // Between the head and the end of the array: the actions before it move up one slot.
    for (unsigned j = idx; j > r.head; --j) r.slot[j] = r.slot[j - 1];
    r.head = uint8_t((r.head + 1u) % N);
  } else {
    // In the part that wrapped to the start of the array: the actions after it move back.
    for (unsigned j = idx; j < last; ++j) r.slot[j] = r.slot[j + 1];
  }
  r.count = uint8_t(r.count - 1);
}

template <typename Ring, unsigned N>
void ring_remove_kind(Ring& r, uint8_t kind) {
  unsigned head = r.head, count = r.count;
  if (head + count <= N) {
    unsigned w = head;
    for (unsigned i = head; i < head + count; ++i)
      if (r.slot[i].kind != kind) r.slot[w++] = r.slot[i];
    r.count = uint8_t(w - head);
    return;
  }
  // Wrapped: the start part closes up towards slot 0, the end part towards the last slot.
  unsigned start_len = head + count - N;
  unsigned w = 0;
  for (unsigned i = 0; i < start_len; ++i)
    if (r.slot[i].kind != kind) r.slot[w++] = r.slot[i];
  unsigned removed_start = start_len - w;
  unsigned kept_end = 0;
  for (unsigned i = N; i-- > head;)
    if (r.slot[i].kind != kind) {
      r.slot[N - 1 - kept_end] = r.slot[i];
      ++kept_end;
    }
  unsigned removed_end = (N - head) - kept_end;
  r.head = uint8_t((head + removed_end) % N);
  r.count = uint8_t(count - removed_start - removed_end);
}

// Search order: ring order when the live part does not wrap; when it wraps, slots 0 up to the
// wrapped end first, then from the last slot down to the head. Returns the slot or -1.
template <typename Ring, unsigned N, typename Match>
int ring_find(const Ring& r, Match match) {
  unsigned head = r.head, count = r.count;
  if (head + count <= N) {
    for (unsigned i = head; i < head + count; ++i)
      if (match(r.slot[i])) return int(i);
    return -1;
  }
  for (unsigned i = 0; i < head + count - N; ++i)
    if (match(r.slot[i])) return int(i);
  for (unsigned i = N; i-- > head;)
    if (match(r.slot[i])) return int(i);
  return -1;
}

template <typename Ring, unsigned N>
void ring_tick(Ring& r, uint8_t units) {
  bool serial_seen = false;
  for (unsigned k = 0; k < r.count; ++k) {
    auto& a = r.slot[(r.head + k) % N];
    if (a.kind >= SCHED_SERIAL_KIND) {
      if (serial_seen) continue;
      serial_seen = true;
    }
    a.countdown = a.countdown < units ? 0 : a.countdown - units;
  }
}

void sched_tick(uint8_t units) {
  ring_tick<OnceRing, SCHED_ONCE_SLOTS>(sched_once_ring, units);
  ring_tick<RepeatRing, SCHED_REPEAT_SLOTS>(sched_repeat_ring, units);
}

uint8_t sched_poll_due() {
  OnceRing& o = sched_once_ring;
  for (unsigned k = 0; k < o.count; ++k) {
    unsigned i = (o.head + k) % SCHED_ONCE_SLOTS;
    if (o.slot[i].countdown != 0) continue;
    uint8_t kind = o.slot[i].kind;
    sched_fired_id = o.slot[i].id;
    sched_fired_param = o.slot[i].param;
    ring_remove_at<OnceRing, SCHED_ONCE_SLOTS>(o, i);
    return kind;
  }
  RepeatRing& r = sched_repeat_ring;
  for (unsigned k = 0; k < r.count; ++k) {
    unsigned i = (r.head + k) % SCHED_REPEAT_SLOTS;
    RepeatAction& a = r.slot[i];
    if (a.countdown != 0) continue;
    uint8_t kind = a.kind;
    sched_fired_id = a.id;
    sched_fired_param = a.param;
    if (a.repeat != 0 && a.repeat != 255) --a.repeat;
    a.countdown = a.interval;
    if (a.repeat == 0) ring_remove_at<RepeatRing, SCHED_REPEAT_SLOTS>(r, i);
    return kind;
  }
  return SCHED_NONE;
}

void sched_remove_id(uint8_t id) {
  uint8_t i = sched_index_once(id);
  if (i != SCHED_NONE) {
    ring_remove_at<OnceRing, SCHED_ONCE_SLOTS>(sched_once_ring, i);
    return;
  }
  i = sched_index_repeating(id);
  if (i != SCHED_NONE) ring_remove_at<RepeatRing, SCHED_REPEAT_SLOTS>(sched_repeat_ring, i);
}

void sched_remove_kind(uint8_t kind) {
  ring_remove_kind<OnceRing, SCHED_ONCE_SLOTS>(sched_once_ring, kind);
  ring_remove_kind<RepeatRing, SCHED_REPEAT_SLOTS>(sched_repeat_ring, kind);
}

uint8_t add_once_at(uint8_t kind, uint32_t delay, bool front) {
  OnceRing& o = sched_once_ring;
  if (o.count >= SCHED_ONCE_SLOTS) return SCHED_NONE;
  uint8_t id = sched_alloc_id();
  if (id == SCHED_NONE) return SCHED_NONE;
  unsigned pos;
  if (front) {
    o.head = uint8_t(o.head == 0 ? SCHED_ONCE_SLOTS - 1 : o.head - 1);
    pos = o.head;
  } else {
    pos = (o.head + o.count) % SCHED_ONCE_SLOTS;
  }
  o.slot[pos] = OnceAction{id, kind, delay, sched_next_param};
  o.count = uint8_t(o.count + 1);
  return id;
}

uint8_t sched_add_once(uint8_t kind, uint32_t delay) { return add_once_at(kind, delay, false); }
uint8_t sched_add_once_front(uint8_t kind, uint32_t delay) { return add_once_at(kind, delay, true); }

void sched_clear_once() {
  sched_once_ring.head = 0;
  sched_once_ring.count = 0;
}

uint8_t add_repeating_at(uint8_t kind, uint32_t interval, uint8_t repeat, bool front) {
  RepeatRing& r = sched_repeat_ring;
  if (r.count >= SCHED_REPEAT_SLOTS) return SCHED_NONE;
  uint8_t id = sched_alloc_id();
  if (id == SCHED_NONE) return SCHED_NONE;
  unsigned pos;
  if (front) {
    r.head = uint8_t(r.head == 0 ? SCHED_REPEAT_SLOTS - 1 : r.head - 1);
    pos = r.head;
  } else {
    pos = (r.head + r.count) % SCHED_REPEAT_SLOTS;
  }
  r.slot[pos] = RepeatAction{id, kind, sched_next_param, interval, interval, repeat};
  r.count = uint8_t(r.count + 1);
  return id;
}

uint8_t sched_add_repeating(uint8_t kind, uint32_t interval, uint8_t repeat) {
  return add_repeating_at(kind, interval, repeat, false);
}

uint8_t sched_add_repeating_front(uint8_t kind, uint32_t interval, uint8_t repeat) {
  return add_repeating_at(kind, interval, repeat, true);
}

void sched_clear_repeating() {
  sched_repeat_ring.head = 0;
  sched_repeat_ring.count = 0;
}

// Searches the one-shot ring, then the repeating ring; a match leaves its parameter in
// sched_fired_param.
template <class Match>
bool find_action(Match match) {
  int i = ring_find<OnceRing, SCHED_ONCE_SLOTS>(sched_once_ring, match);
  if (i >= 0) {
    sched_fired_param = sched_once_ring.slot[i].param;
    return true;
  }
  i = ring_find<RepeatRing, SCHED_REPEAT_SLOTS>(sched_repeat_ring, match);
  if (i >= 0) {
    sched_fired_param = sched_repeat_ring.slot[i].param;
    return true;
  }
  return false;
}

bool sched_find_kind(uint8_t kind) {
  return find_action([kind](const auto& a) { return a.kind == kind; });
}

bool sched_find_id(uint8_t id) {
  return find_action([id](const auto& a) { return a.id == id; });
}

}  // namespace

void sched_init() {
  sched_once_ring = OnceRing{};
  sched_repeat_ring = RepeatRing{};
  next_id = 0;
  sched_next_param = SchedParam{};
  sched_fired_id = 0;
  sched_fired_param = SchedParam{};
  SchedulerApi = SchedulerApiTable{
      sched_tick,
      sched_poll_due,
      sched_remove_id,
      sched_remove_kind,
      sched_add_once,
      sched_add_once_front,
      sched_clear_once,
      sched_add_repeating,
      sched_add_repeating_front,
      sched_clear_repeating,
      sched_find_kind,
      sched_find_id,
  };
}
