#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/window.h"

namespace {

struct Seen {
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};

std::vector<Seen> g_seen;
std::thread::id g_handled_on;

intptr_t recording_proc(WindowHandle w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  g_handled_on = std::this_thread::get_id();
  if (message == WM_USER + 50) return intptr_t(wparam * 2);
  g_seen.push_back({message, wparam, lparam});
  if (message == WM_DESTROY) win_post_quit_message(7);
  return win_def_window_proc(w, message, wparam, lparam);
}

// Each test uses its own class name, since classes live for the whole process.
WindowHandle make_window(const char16_t* cls) {
  WindowMessage left;
  while (win_peek_message(&left)) {
  }
  g_seen.clear();
  EXPECT_TRUE(win_register_class(cls, recording_proc));
  WindowHandle w = win_create_window(cls, u"test");
  EXPECT_NE(w, nullptr);
  return w;
}

// Pumps messages for up to ms milliseconds or until stop() holds.
template <class Stop>
void pump(uint32_t ms, Stop stop) {
  uint32_t end = clock_tick_count() + ms;
  WindowMessage m;
  while (!stop() && int32_t(end - clock_tick_count()) > 0) {
    if (win_peek_message(&m)) win_dispatch_message(&m);
    else clock_sleep_ms(1);
  }
}

int count(uint32_t message, uintptr_t wparam) {
  int n = 0;
  for (auto& s : g_seen) n += s.message == message && s.wparam == wparam;
  return n;
}

TEST(Window, CreateAndDestroyRunTheirMessagesAndQuitEndsTheLoop) {
  WindowHandle w = make_window(u"cls-create");
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].message, uint32_t(WM_CREATE));
  EXPECT_EQ(win_find_window(u"test"), w);
  win_post_message(w, WM_CLOSE, 0, 0);  // the default procedure destroys the window
  WindowMessage m;
  while (win_get_message(&m)) win_dispatch_message(&m);
  EXPECT_EQ(m.wparam, 7u);
  EXPECT_EQ(g_seen.back().message, uint32_t(WM_DESTROY));
  EXPECT_FALSE(win_is_window(w));
}

TEST(Window, TimersFireWithTheirIdUntilKilled) {
  WindowHandle w = make_window(u"cls-timer");
  ASSERT_TRUE(win_set_timer(w, 3, 20));
  ASSERT_TRUE(win_set_timer(w, 4, 1000));
  EXPECT_TRUE(win_timer_is_set(w, 3));
  uint32_t start = clock_tick_count();
  pump(2000, [] { return count(WM_TIMER, 3) >= 5; });
  uint32_t took = clock_tick_count() - start;
  EXPECT_EQ(count(WM_TIMER, 3), 5);
  EXPECT_GE(took, 90u);
  EXPECT_LT(took, 1000u);
  EXPECT_EQ(count(WM_TIMER, 4), 0);
  win_kill_timer(w, 3);
  EXPECT_FALSE(win_timer_is_set(w, 3));
  int before = count(WM_TIMER, 3);
  pump(100, [] { return false; });
  EXPECT_EQ(count(WM_TIMER, 3), before);
  win_destroy_window(w);
}

// The next period follows the due time, not the late delivery, and missed periods are skipped.
TEST(Window, PeriodicTimersKeepAFixedRateAndSkipMissedPeriods) {
  WindowHandle w = make_window(u"cls-rate");
  ASSERT_TRUE(win_set_timer(w, 5, 400));
  WindowMessage m;
  ASSERT_EQ(win_get_message(&m), 1);
  ASSERT_EQ(m.message, uint32_t(WM_TIMER));
  uint32_t first = clock_tick_count();
  clock_sleep_ms(300);   // a busy handler
  ASSERT_EQ(win_get_message(&m), 1);
  ASSERT_EQ(m.message, uint32_t(WM_TIMER));
  // Re-armed from its delivery the timer would come 700 ms after the first.
  EXPECT_LT(clock_tick_count() - first, 600u);
  // A handler that takes several periods gets one late timer, then the next period boundary.
  clock_sleep_ms(1300);
  ASSERT_EQ(win_get_message(&m), 1);
  EXPECT_EQ(m.message, uint32_t(WM_TIMER));
  EXPECT_FALSE(win_peek_message(&m)) << "missed periods fired in a burst";
  win_destroy_window(w);
}

TEST(Window, LoopWaitsWithoutBusyLooping) {
  WindowHandle w = make_window(u"cls-idle");
  win_set_timer(w, 1, 200);
  clock_t cpu_before = clock();
  WindowMessage m;
  ASSERT_EQ(win_get_message(&m), 1);  // blocks until the timer
  EXPECT_EQ(m.message, uint32_t(WM_TIMER));
  double cpu_ms = double(clock() - cpu_before) * 1000.0 / CLOCKS_PER_SEC;
  EXPECT_LT(cpu_ms, 50.0);
  win_destroy_window(w);
}

TEST(Window, SendFromAnotherThreadWaitsForTheWindowThread) {
  WindowHandle w = make_window(u"cls-send");
  std::atomic<intptr_t> result{0};
  std::atomic<bool> returned{false};
  std::thread other([&] {
    result = win_send_message(w, WM_USER + 50, 21, 0);
    returned = true;
  });
  clock_sleep_ms(50);
  EXPECT_FALSE(returned) << "the send waits until this thread handles it";
  pump(1000, [&] { return returned.load(); });
  other.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(g_handled_on, std::this_thread::get_id());
  // Posts from other threads are queued in order.
  std::thread poster([&] {
    for (uintptr_t i = 0; i < 5; ++i) win_post_message(w, WM_USER + 7, i, 0);
  });
  poster.join();
  pump(500, [] { return count(WM_USER + 7, 4) == 1; });
  std::vector<uintptr_t> order;
  for (auto& s : g_seen)
    if (s.message == WM_USER + 7) order.push_back(s.wparam);
  EXPECT_EQ(order, (std::vector<uintptr_t>{0, 1, 2, 3, 4}));
  win_destroy_window(w);
}

TEST(Window, SocketEventsArriveAsMessages) {
  WindowHandle w = make_window(u"cls-sock");
  int listener = sock_tcp_open(INET_FAMILY_IPV4);
  ASSERT_NE(listener, INVALID_SOCKET);
  const uint8_t loopback[4] = {127, 0, 0, 1};
  ASSERT_TRUE(sock_bind(listener, INET_FAMILY_IPV4, loopback, 0));
  ASSERT_TRUE(sock_listen(listener, 2));
  ASSERT_TRUE(win_async_select(listener, w, WM_USER + 1, FD_ACCEPT));
  int client = sock_tcp_open(INET_FAMILY_IPV4);
  ASSERT_TRUE(sock_connect(client, INET_FAMILY_IPV4, loopback, sock_local_port(listener)));

  pump(1000, [] { return count(WM_USER + 1, 0) + g_seen.size() > 1; });
  ASSERT_EQ(g_seen.back().message, uint32_t(WM_USER + 1));
  EXPECT_EQ(g_seen.back().wparam, uintptr_t(listener));
  EXPECT_EQ(g_seen.back().lparam & 0xFFFF, FD_ACCEPT);
  int server = sock_accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  ASSERT_TRUE(win_async_select(server, w, WM_USER + 1, FD_READ | FD_CLOSE));

  auto events_for = [&](int s, uint32_t ev) {
    int n = 0;
    for (auto& e : g_seen) n += e.message == WM_USER + 1 && e.wparam == uintptr_t(s) && (e.lparam & 0xFFFF) == ev;
    return n;
  };
  ASSERT_EQ(send(client, "abc", 3, 0), 3);
  pump(1000, [&] { return events_for(server, FD_READ) == 1; });
  ASSERT_EQ(events_for(server, FD_READ), 1);
  // Until the data is read no second read event comes.
  ASSERT_EQ(send(client, "def", 3, 0), 3);
  pump(100, [] { return false; });
  EXPECT_EQ(events_for(server, FD_READ), 1);
  char buf[16];
  EXPECT_EQ(sock_recv(server, buf, sizeof buf), 6);
  close(client);
  pump(1000, [&] { return events_for(server, FD_CLOSE) == 1; });
  EXPECT_EQ(events_for(server, FD_CLOSE), 1);
  sock_close(server);
  sock_close(listener);
  win_destroy_window(w);
}

}  // namespace

namespace {

// A datagram socket's zero-byte peek is an empty datagram: it brings a read event and the
// registration stays, so the next datagram brings one too.
TEST(Window, EmptyDatagramIsReadableNotAClose) {
  WindowHandle w = make_window(u"cls-udp");
  int server = sock_udp_open(INET_FAMILY_IPV4);
  ASSERT_NE(server, INVALID_SOCKET);
  const uint8_t loopback[4] = {127, 0, 0, 1};
  ASSERT_TRUE(sock_bind(server, INET_FAMILY_IPV4, loopback, 0));
  ASSERT_TRUE(win_async_select(server, w, WM_USER + 1, FD_READ | FD_CLOSE));
  int client = sock_udp_open(INET_FAMILY_IPV4);
  ASSERT_NE(client, INVALID_SOCKET);
  uint8_t to[INET_SOCKADDR_MAX];
  uint32_t to_length = inet_make_sockaddr(to, sizeof to, INET_FAMILY_IPV4, loopback, sock_local_port(server), 0);
  auto events = [&](uint32_t ev) {
    int n = 0;
    for (auto& e : g_seen) n += e.message == WM_USER + 1 && e.wparam == uintptr_t(server) && (e.lparam & 0xFFFF) == ev;
    return n;
  };
  char buf[16];
  uint8_t from[INET_SOCKADDR_MAX];
  uint32_t from_length = 0;
  ASSERT_EQ(sock_sendto(client, "", 0, to, to_length), 0);
  pump(2000, [&] { return events(FD_READ) == 1; });
  ASSERT_EQ(events(FD_READ), 1);
  EXPECT_EQ(sock_recvfrom(server, buf, sizeof buf, from, &from_length), 0);
  ASSERT_EQ(sock_sendto(client, "abc", 3, to, to_length), 3);
  pump(2000, [&] { return events(FD_READ) == 2; });
  EXPECT_EQ(events(FD_READ), 2);
  EXPECT_EQ(events(FD_CLOSE), 0);
  EXPECT_EQ(sock_recvfrom(server, buf, sizeof buf, from, &from_length), 3);
  sock_close(client);
  sock_close(server);
  win_destroy_window(w);
}

}  // namespace
