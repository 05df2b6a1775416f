// Tests of the action scheduler: firing, repeats, id allocation, full rings, serialised kinds,
// and order-keeping removal and search in rings whose live part wraps.
#include "service/core/scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> once_ids() {
  std::vector<uint8_t> v;
  for (unsigned k = 0; k < sched_once_ring.count; ++k)
    v.push_back(sched_once_ring.slot[(sched_once_ring.head + k) % SCHED_ONCE_SLOTS].id);
  return v;
}

std::vector<uint8_t> repeat_ids() {
  std::vector<uint8_t> v;
  for (unsigned k = 0; k < sched_repeat_ring.count; ++k)
    v.push_back(sched_repeat_ring.slot[(sched_repeat_ring.head + k) % SCHED_REPEAT_SLOTS].id);
  return v;
}

bool once_wraps() { return sched_once_ring.head + sched_once_ring.count > SCHED_ONCE_SLOTS; }
bool repeat_wraps() { return sched_repeat_ring.head + sched_repeat_ring.count > SCHED_REPEAT_SLOTS; }

SchedParam param_of(uint8_t n) { return SchedParam{n, uint8_t(n + 1), uint8_t(n + 2), 0}; }

bool same(const SchedParam& a, const SchedParam& b) {
  return a.source == b.source && a.event == b.event && a.group == b.group && a.zero == b.zero;
}

class Scheduler : public ::testing::Test {
 protected:
  void SetUp() override { sched_init(); }
};

TEST_F(Scheduler, TableIsFilled) {
  const void* const* slots = reinterpret_cast<const void* const*>(&SchedulerApi);
  for (size_t i = 0; i < sizeof(SchedulerApi) / sizeof(void*); ++i) EXPECT_NE(slots[i], nullptr) << i;
  EXPECT_EQ(sizeof(SchedulerApi) / sizeof(void*), 12u);
}

TEST_F(Scheduler, OneShotFiresOnceAfterItsDelay) {
  sched_next_param = SchedParam{3, 7, 1, 0};
  uint8_t id = SchedulerApi.sched_add_once(SCHED_KIND_SHUTDOWN, 3);
  ASSERT_EQ(id, 1);
  sched_next_param = SchedParam{9, 9, 9, 0};  // later changes do not touch the queued action
  for (int i = 0; i < 2; ++i) {
    SchedulerApi.sched_tick(1);
    EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE);
  }
  SchedulerApi.sched_tick(1);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_KIND_SHUTDOWN);
  EXPECT_EQ(sched_fired_id, id);
  EXPECT_TRUE(same(sched_fired_param, SchedParam{3, 7, 1, 0}));
  SchedulerApi.sched_tick(10);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE);
  EXPECT_EQ(sched_once_ring.count, 0);
}

TEST_F(Scheduler, DelayZeroIsDueAtNextPoll) {
  SchedulerApi.sched_add_once(SCHED_KIND_RELOAD_EVENTS, 0);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_KIND_RELOAD_EVENTS);
}

TEST_F(Scheduler, CountdownDoesNotGoBelowZero) {
  SchedulerApi.sched_add_once(5, 3);
  SchedulerApi.sched_add_repeating(6, 3, 255);
  SchedulerApi.sched_tick(5);
  EXPECT_EQ(sched_once_ring.slot[sched_once_ring.head].countdown, 0u);
  EXPECT_EQ(sched_repeat_ring.slot[sched_repeat_ring.head].countdown, 0u);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 5);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 6);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE);
}

TEST_F(Scheduler, RepeatCounts) {
  struct Case {
    uint8_t repeat;
    int fires;        // expected firings in 100 ticks of interval 2
    bool still_queued;
  };
  const Case cases[] = {{2, 2, false}, {0, 1, false}, {1, 1, false}, {5, 5, false}, {255, 50, true}};
  for (const Case& c : cases) {
    sched_init();
    uint8_t id = SchedulerApi.sched_add_repeating(SCHED_KIND_ALARM_BROADCAST, 2, c.repeat);
    int fires = 0;
    for (int t = 1; t <= 100; ++t) {
      SchedulerApi.sched_tick(1);
      uint8_t k = SchedulerApi.sched_poll_due();
      if (k != SCHED_NONE) {
        EXPECT_EQ(k, SCHED_KIND_ALARM_BROADCAST);
        EXPECT_EQ(t % 2, 0) << "fires only on the interval";
        EXPECT_EQ(sched_fired_id, id);
        ++fires;
      }
    }
    EXPECT_EQ(fires, c.fires) << int(c.repeat);
    EXPECT_EQ(SchedulerApi.sched_find_id(id), c.still_queued) << int(c.repeat);
  }
}

TEST_F(Scheduler, OneShotGoesBeforeRepeatingAndOnePerPoll) {
  SchedulerApi.sched_add_repeating(1, 1, 255);
  SchedulerApi.sched_add_once(2, 1);
  SchedulerApi.sched_add_once(3, 1);
  SchedulerApi.sched_tick(1);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 2);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 3);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 1);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE);
}

TEST_F(Scheduler, IdAfter250IsZeroThenInUseSkipped) {
  for (int i = 1; i <= 180; ++i) ASSERT_EQ(SchedulerApi.sched_add_once(1, 100), i);
  for (int i = 2; i <= 180; ++i) SchedulerApi.sched_remove_id(uint8_t(i));
  for (int i = 181; i <= 250; ++i) ASSERT_EQ(SchedulerApi.sched_add_once(1, 100), i);
  EXPECT_EQ(SchedulerApi.sched_add_once(1, 100), 0);
  EXPECT_EQ(SchedulerApi.sched_add_once(1, 100), 2) << "id 1 is still queued";
  EXPECT_EQ(SchedulerApi.sched_add_repeating(1, 100, 255), 3);
}

TEST_F(Scheduler, FullRingsRefuse) {
  for (int i = 0; i < 180; ++i) ASSERT_NE(SchedulerApi.sched_add_once(1, 5), SCHED_NONE);
  EXPECT_EQ(SchedulerApi.sched_add_once(1, 5), SCHED_NONE);
  EXPECT_EQ(SchedulerApi.sched_add_once_front(1, 5), SCHED_NONE);
  EXPECT_EQ(sched_once_ring.count, 180);
  for (int i = 0; i < 40; ++i) ASSERT_NE(SchedulerApi.sched_add_repeating(2, 5, 255), SCHED_NONE);
  uint8_t before = next_id;
  EXPECT_EQ(SchedulerApi.sched_add_repeating(2, 5, 255), SCHED_NONE);
  EXPECT_EQ(SchedulerApi.sched_add_repeating_front(2, 5, 255), SCHED_NONE);
  EXPECT_EQ(sched_repeat_ring.count, 40);
  EXPECT_EQ(next_id, before) << "a refused add allocates no id";
}

TEST_F(Scheduler, SerialisedKindsCountOneAtATimePerRing) {
  uint8_t a = SchedulerApi.sched_add_once(200, 2);
  uint8_t b = SchedulerApi.sched_add_once(200, 2);
  SchedulerApi.sched_add_once(201, 2);  // same range: also waits
  SchedulerApi.sched_add_once(5, 2);
  SchedulerApi.sched_add_repeating(200, 2, 0);  // first of its ring: counts
  SchedulerApi.sched_tick(2);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 200);
  EXPECT_EQ(sched_fired_id, a);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 5);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 200) << "the repeating ring's first kind-200 action";
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE) << "the second kind-200 one-shot waited";
  SchedulerApi.sched_tick(2);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 200);
  EXPECT_EQ(sched_fired_id, b);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE);
  SchedulerApi.sched_tick(2);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 201);
}

TEST_F(Scheduler, AddFrontComesFirst) {
  uint8_t a = SchedulerApi.sched_add_once(1, 0);
  uint8_t b = SchedulerApi.sched_add_once_front(2, 0);
  EXPECT_EQ(sched_once_ring.head, SCHED_ONCE_SLOTS - 1);
  EXPECT_EQ(once_ids(), (std::vector<uint8_t>{b, a}));
  uint8_t c = SchedulerApi.sched_add_repeating(1, 1, 255);
  uint8_t d = SchedulerApi.sched_add_repeating_front(2, 1, 255);
  EXPECT_EQ(repeat_ids(), (std::vector<uint8_t>{d, c}));
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 2);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 1);
}

// Builds a one-shot ring with its head at 175 and 15 live actions, ten of them wrapped to slots 0..9.
std::vector<uint8_t> build_wrapped_once() {
  for (int i = 0; i < 175; ++i) SchedulerApi.sched_add_once(9, 1000);
  for (int i = 0; i < 5; ++i) {
    sched_next_param = param_of(uint8_t(i));
    SchedulerApi.sched_add_once(uint8_t(i % 3), 1000);
  }
  for (int i = 1; i <= 175; ++i) SchedulerApi.sched_remove_id(uint8_t(i));
  for (int i = 5; i < 15; ++i) {
    sched_next_param = param_of(uint8_t(i));
    SchedulerApi.sched_add_once(uint8_t(i % 3), 1000);
  }
  return once_ids();
}

TEST_F(Scheduler, RemoveIdKeepsOrderInEveryPosition) {
  for (int pos = 0; pos < 15; ++pos) {
    sched_init();
    std::vector<uint8_t> ids = build_wrapped_once();
    ASSERT_EQ(sched_once_ring.head, 175);
    ASSERT_TRUE(once_wraps());
    ASSERT_EQ(ids.size(), 15u);
    uint8_t victim = ids[pos];
    ids.erase(ids.begin() + pos);
    SchedulerApi.sched_remove_id(victim);
    EXPECT_EQ(once_ids(), ids) << "position " << pos;
    EXPECT_FALSE(SchedulerApi.sched_find_id(victim));
    SchedulerApi.sched_remove_id(victim);  // no longer queued: nothing changes
    EXPECT_EQ(once_ids(), ids);
  }
  // The same in the repeating ring: head 35, 10 live, 5 of them wrapped.
  for (int pos = 0; pos < 10; ++pos) {
    sched_init();
    for (int i = 0; i < 40; ++i) SchedulerApi.sched_add_repeating(uint8_t(i), 50, 255);
    for (int i = 1; i <= 35; ++i) SchedulerApi.sched_remove_id(uint8_t(i));
    for (int i = 0; i < 5; ++i) SchedulerApi.sched_add_repeating(uint8_t(i), 50, 255);
    ASSERT_TRUE(repeat_wraps());
    std::vector<uint8_t> ids = repeat_ids();
    uint8_t victim = ids[pos];
    ids.erase(ids.begin() + pos);
    SchedulerApi.sched_remove_id(victim);
    EXPECT_EQ(repeat_ids(), ids) << "position " << pos;
  }
}

TEST_F(Scheduler, PollAddressesTheRightActionInAWrappedRing) {
  std::vector<uint8_t> ids = build_wrapped_once();
  // Make the seventh live action (a wrapped one) due alone.
  sched_once_ring.slot[(sched_once_ring.head + 7) % SCHED_ONCE_SLOTS].countdown = 0;
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 7 % 3);
  EXPECT_EQ(sched_fired_id, ids[7]);
  EXPECT_TRUE(same(sched_fired_param, param_of(7)));
  ids.erase(ids.begin() + 7);
  EXPECT_EQ(once_ids(), ids);
}

TEST_F(Scheduler, RemoveKindKeepsOrderWrappedAndNot) {
  // Wrapped one-shot ring, kinds cycle 0, 1, 2.
  std::vector<uint8_t> ids = build_wrapped_once();
  std::vector<uint8_t> kept;
  for (size_t i = 0; i < ids.size(); ++i)
    if (i % 3 != 0) kept.push_back(ids[i]);
  SchedulerApi.sched_remove_kind(0);
  EXPECT_EQ(once_ids(), kept);
  // Every survivor still reports its own parameter.
  for (uint8_t id : kept) {
    ASSERT_TRUE(SchedulerApi.sched_find_id(id));
    size_t pos = std::find(ids.begin(), ids.end(), id) - ids.begin();
    EXPECT_TRUE(same(sched_fired_param, param_of(uint8_t(pos))));
  }
  // Non-wrapped repeating ring with a moved head: alarm notices go, the rest keep order.
  for (int i = 0; i < 3; ++i) SchedulerApi.sched_add_repeating(7, 10, 255);
  SchedulerApi.sched_remove_id(repeat_ids()[0]);
  std::vector<uint8_t> want = repeat_ids();
  uint8_t n1 = SchedulerApi.sched_add_repeating(SCHED_KIND_ALARM_BROADCAST, 10, 255);
  uint8_t other = SchedulerApi.sched_add_repeating(8, 10, 255);
  SchedulerApi.sched_add_repeating(SCHED_KIND_ALARM_BROADCAST, 10, 255);
  want.push_back(other);
  SchedulerApi.sched_remove_kind(SCHED_KIND_ALARM_BROADCAST);
  EXPECT_EQ(repeat_ids(), want);
  EXPECT_FALSE(SchedulerApi.sched_find_id(n1));
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_ALARM_BROADCAST));
}

TEST_F(Scheduler, RemoveKindEmptyingTheEndPart) {
  // Head 178, live slots 178, 179 (kind 4) and 0, 1 (kind 5): removing kind 4 moves the head to 0.
  for (int i = 0; i < 178; ++i) SchedulerApi.sched_add_once(9, 100);
  SchedulerApi.sched_add_once(4, 100);
  SchedulerApi.sched_add_once(4, 100);
  SchedulerApi.sched_remove_kind(9);
  ASSERT_EQ(sched_once_ring.count, 2);
  ASSERT_EQ(sched_once_ring.head, 0) << "non-wrapped survivors close up towards the head";
  // Build the wrapped state again from the front.
  sched_init();
  for (int i = 0; i < 178; ++i) SchedulerApi.sched_add_once(9, 100);
  uint8_t a = SchedulerApi.sched_add_once(4, 100);
  uint8_t b = SchedulerApi.sched_add_once(4, 100);
  for (int i = 1; i <= 178; ++i) SchedulerApi.sched_remove_id(uint8_t(i));
  uint8_t c = SchedulerApi.sched_add_once(5, 100);
  uint8_t d = SchedulerApi.sched_add_once(5, 100);
  ASSERT_EQ(once_ids(), (std::vector<uint8_t>{a, b, c, d}));
  ASSERT_TRUE(once_wraps());
  SchedulerApi.sched_remove_kind(4);
  EXPECT_EQ(sched_once_ring.head, 0);
  EXPECT_EQ(once_ids(), (std::vector<uint8_t>{c, d}));
}

TEST_F(Scheduler, FindSearchOrder) {
  // Wrapped: slots 0.. of the wrapped end are searched before the end part.
  for (int i = 0; i < 179; ++i) SchedulerApi.sched_add_once(9, 100);
  sched_next_param = param_of(1);
  SchedulerApi.sched_add_once(4, 100);  // slot 179
  for (int i = 1; i <= 179; ++i) SchedulerApi.sched_remove_id(uint8_t(i));
  sched_next_param = param_of(2);
  SchedulerApi.sched_add_once(4, 100);  // slot 0
  ASSERT_TRUE(once_wraps());
  ASSERT_TRUE(SchedulerApi.sched_find_kind(4));
  EXPECT_TRUE(same(sched_fired_param, param_of(2)));
  // Not wrapped: ring order from the head.
  sched_init();
  sched_next_param = param_of(3);
  SchedulerApi.sched_add_once(4, 100);
  sched_next_param = param_of(4);
  SchedulerApi.sched_add_once(4, 100);
  ASSERT_TRUE(SchedulerApi.sched_find_kind(4));
  EXPECT_TRUE(same(sched_fired_param, param_of(3)));
  // The one-shot ring is searched before the repeating one.
  sched_next_param = param_of(5);
  SchedulerApi.sched_add_repeating_front(6, 100, 255);
  sched_next_param = param_of(6);
  SchedulerApi.sched_add_once(6, 100);
  ASSERT_TRUE(SchedulerApi.sched_find_kind(6));
  EXPECT_TRUE(same(sched_fired_param, param_of(6)));
  EXPECT_FALSE(SchedulerApi.sched_find_kind(77));
  EXPECT_FALSE(SchedulerApi.sched_find_id(SCHED_NONE));
}

TEST_F(Scheduler, FindIdReportsTheParameterInWrappedRings) {
  std::vector<uint8_t> ids = build_wrapped_once();
  for (size_t i = 0; i < ids.size(); ++i) {
    ASSERT_TRUE(SchedulerApi.sched_find_id(ids[i]));
    EXPECT_TRUE(same(sched_fired_param, param_of(uint8_t(i)))) << i;
  }
  sched_init();
  for (int i = 0; i < 40; ++i) SchedulerApi.sched_add_repeating(0, 50, 255);
  for (int i = 1; i <= 30; ++i) SchedulerApi.sched_remove_id(uint8_t(i));
  for (int i = 0; i < 20; ++i) {
    sched_next_param = param_of(uint8_t(100 + i));
    SchedulerApi.sched_add_repeating(0, 50, 255);
  }
  ASSERT_TRUE(repeat_wraps());
  std::vector<uint8_t> r = repeat_ids();
  for (size_t i = 10; i < r.size(); ++i) {
    ASSERT_TRUE(SchedulerApi.sched_find_id(r[i]));
    EXPECT_TRUE(same(sched_fired_param, param_of(uint8_t(100 + i - 10)))) << i;
  }
}

TEST_F(Scheduler, ClearEmptiesARing) {
  SchedulerApi.sched_add_once(1, 1);
  SchedulerApi.sched_add_repeating(2, 1, 255);
  SchedulerApi.sched_clear_once();
  EXPECT_EQ(sched_once_ring.count, 0);
  EXPECT_EQ(sched_once_ring.head, 0);
  SchedulerApi.sched_tick(1);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), 2);
  SchedulerApi.sched_clear_repeating();
  SchedulerApi.sched_tick(1);
  EXPECT_EQ(SchedulerApi.sched_poll_due(), SCHED_NONE);
}

// Random operations against a plain list model: ring order, ids and parameters always agree.
TEST_F(Scheduler, MatchesAListModelUnderRandomOperations) {
  struct M {
    uint8_t id, kind;
    uint32_t countdown;
  };
  std::mt19937 rng(12345);
  std::deque<M> once;
  std::deque<M> rep;
  int wrapped_once = 0, wrapped_repeat = 0;
  auto check = [&](int step) {
    wrapped_once += once_wraps();
    wrapped_repeat += repeat_wraps();
    std::vector<uint8_t> a, b;
    for (const M& m : once) a.push_back(m.id);
    for (const M& m : rep) b.push_back(m.id);
    ASSERT_EQ(once_ids(), a) << step;
    ASSERT_EQ(repeat_ids(), b) << step;
  };
  for (int step = 0; step < 20000; ++step) {
    uint8_t kind = uint8_t(rng() % 4);
    switch (rng() % 8) {
      case 0:
      case 1: {
        uint8_t id = SchedulerApi.sched_add_once(kind, 1 + rng() % 5);
        if (once.size() == SCHED_ONCE_SLOTS) ASSERT_EQ(id, SCHED_NONE);
        else once.push_back({id, kind, 0});
        break;
      }
      case 2: {
        uint8_t id = SchedulerApi.sched_add_once_front(kind, 1 + rng() % 5);
        if (once.size() == SCHED_ONCE_SLOTS) ASSERT_EQ(id, SCHED_NONE);
        else once.push_front({id, kind, 0});
        break;
      }
      case 3: {
        uint8_t id = rng() % 2 ? SchedulerApi.sched_add_repeating(kind, 5, 255)
                               : SchedulerApi.sched_add_repeating_front(kind, 5, 255);
        if (rep.size() == SCHED_REPEAT_SLOTS) ASSERT_EQ(id, SCHED_NONE);
        else if (sched_repeat_ring.slot[sched_repeat_ring.head].id == id) rep.push_front({id, kind, 0});
        else rep.push_back({id, kind, 0});
        break;
      }
      case 4:
      case 5: {
        auto& q = rng() % 2 ? once : rep;
        if (q.empty()) break;
        size_t pos = rng() % q.size();
        SchedulerApi.sched_remove_id(q[pos].id);
        q.erase(q.begin() + long(pos));
        break;
      }
      case 6: {
        if (rng() % 8) break;
        SchedulerApi.sched_remove_kind(kind);
        for (auto* q : {&once, &rep})
          for (auto it = q->begin(); it != q->end();) it = it->kind == kind ? q->erase(it) : it + 1;
        break;
      }
      case 7: {
        // Drain whatever is due in the one-shot ring into the model's order.
        SchedulerApi.sched_tick(1);
        for (;;) {
          bool due_once = false;
          for (unsigned k = 0; k < sched_once_ring.count; ++k)
            due_once |= sched_once_ring.slot[(sched_once_ring.head + k) % SCHED_ONCE_SLOTS].countdown == 0;
          if (!due_once) break;
          uint8_t k = SchedulerApi.sched_poll_due();
          auto it = std::find_if(once.begin(), once.end(), [](const M& m) { return m.id == sched_fired_id; });
          ASSERT_NE(it, once.end());
          ASSERT_EQ(it->kind, k);
          once.erase(it);
        }
        break;
      }
    }
    check(step);
  }
  EXPECT_GT(wrapped_once, 1000) << "the walk must cover wrapped rings";
  EXPECT_GT(wrapped_repeat, 1000);
}

}  // namespace
