// Linux back end of the hidden-window layer: a posted-message ring, a sent-message queue for
// other threads, window timers, and poll() over the registered sockets and a wake-up eventfd.
#include "platform/window.h"
#include "platform/window_internal.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kMaxClasses = 8;
constexpr int kMaxWindows = 16;
constexpr int kMaxTimers = 64;
constexpr int kMaxSockets = 96;
constexpr int kQueueSize = 1024;

struct WindowClass {
  bool in_use;
  char16_t name[64];
  WindowProc proc;
};

}  // namespace

struct Window {
  bool in_use;
  bool visible;
  WindowProc proc;
  char16_t title[64];
  std::thread::id owner;   // thread that created it and runs its loop
};

namespace {

struct Timer {
  bool in_use;
  WindowHandle window;
  uintptr_t id;
  uint32_t period_ms;
  uint64_t due_ms;         // monotonic time of the next WM_TIMER
};

struct SocketReg {
  bool in_use;
  int socket;
  WindowHandle window;
  uint32_t message;
  uint32_t events;         // FD_ events asked for
  bool read_armed;         // FD_READ may be posted
  bool accept_armed;       // FD_ACCEPT may be posted
  bool write_armed;        // FD_WRITE may be posted
  bool connect_reported;   // FD_CONNECT already posted
  bool close_reported;     // FD_CLOSE already posted: nothing more for this socket
};

struct SentMessage {
  WindowMessage msg;
  intptr_t result;
  bool done;
  SentMessage* next;
};

std::mutex g_lock;
std::condition_variable g_sent_done;
WindowClass g_classes[kMaxClasses];
Window g_windows[kMaxWindows];
Timer g_timers[kMaxTimers];
SocketReg g_sockets[kMaxSockets];
WindowMessage g_queue[kQueueSize];
int g_queue_head = 0;
int g_queue_count = 0;
SentMessage* g_sent_first = nullptr;
SentMessage* g_sent_last = nullptr;
int g_wake_fd = -1;
bool g_polling;   // the loop thread waits in poll(): a change of its sockets must wake it

uint64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

bool text_equal(const char16_t* a, const char16_t* b) {
  while (*a && *a == *b) { ++a; ++b; }
  return *a == *b;
}

void text_copy(char16_t* out, const char16_t* in, int room) {
  int i = 0;
  for (; in && in[i] && i < room - 1; ++i) out[i] = in[i];
  out[i] = 0;
}

void wake_loop() {
  if (g_wake_fd < 0) return;
  uint64_t one = 1;
  ssize_t r = write(g_wake_fd, &one, sizeof one);
  (void)r;
}

void ensure_wake_fd() {
  if (g_wake_fd < 0) g_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

bool valid(WindowHandle w) {
  return w >= g_windows && w < g_windows + kMaxWindows && w->in_use;
}

// Called with g_lock held.
bool queue_push(const WindowMessage& m) {
  if (g_queue_count == kQueueSize) return false;
  g_queue[(g_queue_head + g_queue_count) % kQueueSize] = m;
  ++g_queue_count;
  return true;
}

SocketReg* find_socket(int s) {
  for (auto& r : g_sockets)
    if (r.in_use && r.socket == s) return &r;
  return nullptr;
}

int wsa_error(int err) {
  switch (err) {
    case ECONNRESET: return 10054;
    case ECONNABORTED: return 10053;
    case ECONNREFUSED: return 10061;
    case ETIMEDOUT: return 10060;
    case ENETUNREACH: return 10051;
    case EHOSTUNREACH: return 10065;
    default: return err ? 10004 + err : 0;
  }
}

void post_socket_event(SocketReg& r, uint32_t event, int error) {
  WindowMessage m{r.window, r.message, uintptr_t(r.socket), intptr_t((uint32_t(error) << 16) | event)};
  queue_push(m);
}

// A zero-byte peek of a datagram socket is an empty datagram, not a close.
bool is_datagram(int s) {
  int type = 0;
  socklen_t length = sizeof type;
  return getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_DGRAM;
}

// Turns poll results into socket messages. Called with g_lock held.
void socket_ready(SocketReg& r, short revents) {
  if (r.close_reported) return;
  if ((r.events & FD_ACCEPT) && (revents & POLLIN)) {
    if (r.accept_armed) {
      r.accept_armed = false;
      post_socket_event(r, FD_ACCEPT, 0);
    }
    return;
  }
  if ((r.events & FD_CONNECT) && !r.connect_reported && (revents & (POLLOUT | POLLERR | POLLHUP))) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(r.socket, SOL_SOCKET, SO_ERROR, &err, &len);
    r.connect_reported = true;
    post_socket_event(r, FD_CONNECT, wsa_error(err));
    if (err) {
      r.close_reported = true;
      return;
    }
    r.write_armed = (r.events & FD_WRITE) != 0;
  }
  if ((revents & (POLLIN | POLLHUP | POLLERR)) && !(r.events & FD_CLOSE)) {
    // Nothing to tell apart from a close: a readable socket is a read event, and the receive
    // that follows reports whatever the socket holds.
    if (r.read_armed && (r.events & FD_READ)) {
      r.read_armed = false;
      post_socket_event(r, FD_READ, 0);
    }
  } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
    char byte;
    ssize_t n = recv(r.socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0 || (n == 0 && is_datagram(r.socket))) {
      if (r.read_armed && (r.events & FD_READ)) {
        r.read_armed = false;
        post_socket_event(r, FD_READ, 0);
      }
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      int err = n == 0 ? 0 : wsa_error(errno);
      r.close_reported = true;
      r.read_armed = r.write_armed = false;
      if (r.events & FD_CLOSE) post_socket_event(r, FD_CLOSE, err);
      return;
    }
  }
  if ((revents & POLLOUT) && r.write_armed && (r.events & FD_WRITE)) {
    r.write_armed = false;
    post_socket_event(r, FD_WRITE, 0);
  }
}

// Earliest due timer, or null. Called with g_lock held.
Timer* next_timer() {
  Timer* best = nullptr;
  for (auto& t : g_timers)
    if (t.in_use && (!best || t.due_ms < best->due_ms)) best = &t;
  return best;
}

// One message of the calling thread, waiting when `wait` is set. Returns false when nothing
// came and `wait` is clear.
bool next_message(WindowMessage* out, bool wait) {
  std::unique_lock<std::mutex> lock(g_lock);
  ensure_wake_fd();
  for (;;) {
    // Sent messages from other threads are handled here, inside the call.
    while (g_sent_first) {
      SentMessage* s = g_sent_first;
      g_sent_first = s->next;
      if (!g_sent_first) g_sent_last = nullptr;
      WindowHandle w = s->msg.window;
      lock.unlock();
      intptr_t result = valid(w) ? w->proc(w, s->msg.message, s->msg.wparam, s->msg.lparam) : 0;
      lock.lock();
      s->result = result;
      s->done = true;
      g_sent_done.notify_all();
    }
    if (g_queue_count) {
      *out = g_queue[g_queue_head];
      g_queue_head = (g_queue_head + 1) % kQueueSize;
      --g_queue_count;
      return true;
    }
    uint64_t now = now_ms();
    Timer* t = next_timer();
    if (t && t->due_ms <= now) {
      // Fixed rate: the next period follows this one's due time, not the late delivery; periods
      // missed while the thread was busy are skipped, not fired in a burst.
      uint64_t period = t->period_ms ? t->period_ms : 1;
      t->due_ms += period;
      if (t->due_ms <= now) t->due_ms += ((now - t->due_ms) / period + 1) * period;
      *out = WindowMessage{t->window, WM_TIMER, t->id, 0};
      return true;
    }

    pollfd fds[kMaxSockets + 1];
    SocketReg* regs[kMaxSockets + 1];
    int n = 0;
    fds[n] = pollfd{g_wake_fd, POLLIN, 0};
    regs[n++] = nullptr;
    for (auto& r : g_sockets) {
      if (!r.in_use || r.close_reported) continue;
      short ev = 0;
      if ((r.events & FD_ACCEPT) ? r.accept_armed : (r.read_armed || (r.events & FD_CLOSE))) ev |= POLLIN;
      if (r.write_armed || ((r.events & FD_CONNECT) && !r.connect_reported)) ev |= POLLOUT;
      if (!ev) continue;
      fds[n] = pollfd{r.socket, ev, 0};
      regs[n++] = &r;
    }
    int timeout = -1;
    if (t) timeout = int(t->due_ms - now);
    if (!wait) timeout = 0;
    g_polling = true;
    lock.unlock();
    int ready = poll(fds, nfds_t(n), timeout);
    lock.lock();
    g_polling = false;
    if (ready > 0) {
      if (fds[0].revents & POLLIN) {
        uint64_t v;
        ssize_t r = read(g_wake_fd, &v, sizeof v);
        (void)r;
      }
      for (int i = 1; i < n; ++i) {
        // The registration may have gone while the lock was released.
        if (fds[i].revents && regs[i]->in_use && regs[i]->socket == fds[i].fd) socket_ready(*regs[i], fds[i].revents);
      }
    }
    if (!wait && !g_queue_count && !g_sent_first) {
      uint64_t later = now_ms();
      Timer* t2 = next_timer();
      if (!(t2 && t2->due_ms <= later)) return false;
    }
  }
}

}  // namespace

bool win_register_class(const char16_t* class_name, WindowProc proc) {
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& c : g_classes)
    if (c.in_use && text_equal(c.name, class_name)) return false;
  for (auto& c : g_classes) {
    if (!c.in_use) {
      c.in_use = true;
      c.proc = proc;
      text_copy(c.name, class_name, 64);
      return true;
    }
  }
  return false;
}

WindowHandle win_create_window(const char16_t* class_name, const char16_t* title) {
  WindowHandle w = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    ensure_wake_fd();
    WindowProc proc = nullptr;
    for (auto& c : g_classes)
      if (c.in_use && text_equal(c.name, class_name)) proc = c.proc;
    if (!proc) return nullptr;
    for (auto& slot : g_windows) {
      if (!slot.in_use) {
        w = &slot;
        break;
      }
    }
    if (!w) return nullptr;
    w->in_use = true;
    w->visible = false;
    w->proc = proc;
    w->owner = std::this_thread::get_id();
    text_copy(w->title, title, 64);
  }
  if (w->proc(w, WM_CREATE, 0, 0) == -1) {
    std::lock_guard<std::mutex> lock(g_lock);
    w->in_use = false;
    return nullptr;
  }
  win_endpoint_open(w, title);
  return w;
}

bool win_destroy_window(WindowHandle window) {
  if (!valid(window)) return false;
  win_endpoint_close(window);
  window->proc(window, WM_DESTROY, 0, 0);
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& t : g_timers)
    if (t.in_use && t.window == window) t.in_use = false;
  for (auto& r : g_sockets)
    if (r.in_use && r.window == window) r.in_use = false;
  window->in_use = false;
  return true;
}

WindowHandle win_find_window(const char16_t* title) {
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& w : g_windows)
    if (w.in_use && text_equal(w.title, title)) return &w;
  return nullptr;
}

bool win_is_window(WindowHandle window) {
  std::lock_guard<std::mutex> lock(g_lock);
  return valid(window);
}

void win_show_window(WindowHandle window, int command) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (valid(window)) window->visible = command != SW_HIDE;
}

bool win_is_visible(WindowHandle window) {
  std::lock_guard<std::mutex> lock(g_lock);
  return valid(window) && window->visible;
}

int win_get_message(WindowMessage* out) {
  next_message(out, true);
  return out->message == WM_QUIT ? 0 : 1;
}

bool win_peek_message(WindowMessage* out) { return next_message(out, false); }

void win_translate_message(const WindowMessage*) {}

intptr_t win_dispatch_message(const WindowMessage* msg) {
  WindowHandle w = msg->window;
  if (!win_is_window(w)) return 0;
  return w->proc(w, msg->message, msg->wparam, msg->lparam);
}

intptr_t win_def_window_proc(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
  if (message == WM_CLOSE) win_destroy_window(window);
  return 0;
}

bool win_post_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!valid(window)) return false;
  if (!queue_push(WindowMessage{window, message, wparam, lparam})) return false;
  wake_loop();
  return true;
}

intptr_t win_send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::unique_lock<std::mutex> lock(g_lock);
  if (!valid(window)) return 0;
  if (window->owner == std::this_thread::get_id()) {
    lock.unlock();
    return window->proc(window, message, wparam, lparam);
  }
  // The record lives on this stack until the window thread has handled it and unlinked it.
  SentMessage s{WindowMessage{window, message, wparam, lparam}, 0, false, nullptr};
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
  if (g_sent_last) g_sent_last->next = &s; else g_sent_first = &s;
  g_sent_last = &s;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  wake_loop();
  g_sent_done.wait(lock, [&] { return s.done; });
  return s.result;
}

void win_post_quit_message(int exit_code) {
  std::lock_guard<std::mutex> lock(g_lock);
  queue_push(WindowMessage{nullptr, WM_QUIT, uintptr_t(exit_code), 0});
  wake_loop();
}

bool win_set_timer(WindowHandle window, uintptr_t id, uint32_t period_ms) {
  std::lock_guard<std::mutex> lock(g_lock);
  if (!valid(window)) return false;
  Timer* slot = nullptr;
  for (auto& t : g_timers)
    if (t.in_use && t.window == window && t.id == id) slot = &t;
  for (int i = 0; !slot && i < kMaxTimers; ++i)
    if (!g_timers[i].in_use) slot = &g_timers[i];
  if (!slot) return false;
  *slot = Timer{true, window, id, period_ms, now_ms() + period_ms};
  wake_loop();
  return true;
}

bool win_kill_timer(WindowHandle window, uintptr_t id) {
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& t : g_timers) {
    if (t.in_use && t.window == window && t.id == id) {
      t.in_use = false;
      return true;
    }
  }
  return false;
}

bool win_timer_is_set(WindowHandle window, uintptr_t id) {
  std::lock_guard<std::mutex> lock(g_lock);
  for (auto& t : g_timers)
    if (t.in_use && t.window == window && t.id == id) return true;
  return false;
}

bool win_async_select(int socket, WindowHandle window, uint32_t message, uint32_t events) {
  std::lock_guard<std::mutex> lock(g_lock);
  SocketReg* r = find_socket(socket);
  if (events == 0) {
    if (r) r->in_use = false;
    return true;
  }
  if (!valid(window) || socket < 0) return false;
  for (int i = 0; !r && i < kMaxSockets; ++i)
    if (!g_sockets[i].in_use) r = &g_sockets[i];
  if (!r) return false;
  *r = SocketReg{true, socket, window, message, events, true, true, (events & FD_WRITE) != 0, false, false};
  if (g_polling) wake_loop();
  return true;
}

void win_socket_rearm(int socket, uint32_t event) {
  std::lock_guard<std::mutex> lock(g_lock);
  SocketReg* r = find_socket(socket);
  if (!r) return;
  if (event == FD_READ) r->read_armed = true;
  if (event == FD_ACCEPT) r->accept_armed = true;
  if (event == FD_WRITE) r->write_armed = true;
  // The loop thread itself rearms between two polls, which see the change anyway.
  if (g_polling) wake_loop();
}

void win_socket_forget(int socket) {
  std::lock_guard<std::mutex> lock(g_lock);
  SocketReg* r = find_socket(socket);
  if (r) r->in_use = false;
}
