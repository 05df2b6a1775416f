// Linux back end of the cross-process window endpoints: one listening abstract Unix socket per titled
// window, served by one thread per process that checks the peer's credentials (SO_PEERCRED) and posts
// the message into the window's queue; /proc/net/unix lists the endpoints of every process.
#include "platform/window_endpoint.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/registry.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "platform/window_internal.h"

namespace {

// What a peer sends; the endpoint answers one byte, 1 posted or 0 refused.
struct EndpointRequest {
  char magic[4];      // "VWM1"
  uint32_t message;
  uint64_t wparam;
  int64_t lparam;
};
static_assert(sizeof(EndpointRequest) == 24);
static_assert(offsetof(EndpointRequest, wparam) == 8);
static_assert(offsetof(EndpointRequest, lparam) == 16);

constexpr int kMaxEndpoints = 16;
constexpr int kRequestWaitMs = 500;
constexpr int kReplyWaitMs = 2000;

struct Endpoint {
  bool in_use;
  WindowHandle window;
  int fd;             // listening socket
};

std::mutex g_lock;
std::condition_variable g_round_done;
uint64_t g_rounds;   // poll calls the thread has come back from
Endpoint g_endpoints[kMaxEndpoints];
int g_wake_fd = -1;
bool g_thread_started;

// FNV-1a over the units of a text (bytes or UTF-16), up to its terminator.
template <class Unit>
uint64_t text_hash(const Unit* text) {
  uint64_t h = 1469598103934665603ull;
  for (; *text; ++text) h = (h ^ uint64_t(*text)) * 1099511628211ull;
  return h;
}

// "vellmar-window:<registry file hash>:<title hash>:" ; returns its length.
int name_prefix(char* out, size_t room, const char16_t* title) {
  return snprintf(out, room, "vellmar-window:%016llx:%016llx:",
                  static_cast<unsigned long long>(text_hash(reg_file_path())),
                  static_cast<unsigned long long>(text_hash(title)));
}

socklen_t abstract_address(sockaddr_un* addr, const char* name) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  size_t n = strnlen(name, sizeof addr->sun_path - 1);
  memcpy(addr->sun_path + 1, name, n);
  return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + n);
}

void set_timeouts(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool read_all(int fd, void* data, size_t length) {
  size_t got = 0;
  while (got < length) {
    ssize_t r = recv(fd, static_cast<char*>(data) + got, length - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += size_t(r);
  }
  return true;
}

// One connection to endpoint `index`: read the request, check the peer, post.
void serve(int index, int conn) {
  set_timeouts(conn, kRequestWaitMs);
  EndpointRequest req;
  uint8_t verdict = 0;
  ucred peer;
  socklen_t peer_len = sizeof peer;
  bool allowed = getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &peer, &peer_len) == 0 &&
                 (peer.uid == 0 || peer.uid == geteuid());
  if (allowed && read_all(conn, &req, sizeof req) && memcmp(req.magic, "VWM1", 4) == 0) {
    std::lock_guard<std::mutex> lock(g_lock);
    Endpoint& e = g_endpoints[index];
    if (e.in_use && win_post_message(e.window, req.message, uintptr_t(req.wparam), intptr_t(req.lparam))) verdict = 1;
  }
  ssize_t w = send(conn, &verdict, 1, MSG_NOSIGNAL);
  (void)w;
  close(conn);
}

void endpoint_thread() {
  for (;;) {
    pollfd fds[kMaxEndpoints + 1];
    int owners[kMaxEndpoints + 1];
    int n = 0;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      fds[n] = pollfd{g_wake_fd, POLLIN, 0};
      owners[n++] = -1;
      for (int i = 0; i < kMaxEndpoints; ++i) {
        if (!g_endpoints[i].in_use) continue;
        fds[n] = pollfd{g_endpoints[i].fd, POLLIN, 0};
        owners[n++] = i;
      }
    }
    int ready = poll(fds, nfds_t(n), -1);
    {
      // A poll holds its sockets open; a closing endpoint waits for this.
      std::lock_guard<std::mutex> lock(g_lock);
      ++g_rounds;
      g_round_done.notify_all();
    }
    if (ready < 0) continue;
    if (fds[0].revents & POLLIN) {
      uint64_t v;
      ssize_t r = read(g_wake_fd, &v, sizeof v);
      (void)r;
    }
    for (int i = 1; i < n; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      int conn;
      {
        // The endpoint may have closed while we waited; its socket is accepted only while it is ours.
        std::lock_guard<std::mutex> lock(g_lock);
        Endpoint& e = g_endpoints[owners[i]];
        if (!e.in_use || e.fd != fds[i].fd) continue;
        conn = accept4(e.fd, nullptr, nullptr, SOCK_CLOEXEC);
      }
      if (conn >= 0) serve(owners[i], conn);
    }
  }
}

void wake() {
  uint64_t one = 1;
  ssize_t r = write(g_wake_fd, &one, sizeof one);
  (void)r;
}

}  // namespace

void win_endpoint_open(WindowHandle window, const char16_t* title) {
  if (!title || !*title) return;
  std::lock_guard<std::mutex> lock(g_lock);
  int slot = -1;
  for (int i = 0; i < kMaxEndpoints && slot < 0; ++i)
    if (!g_endpoints[i].in_use) slot = i;
  if (slot < 0) return;
  if (g_wake_fd < 0) g_wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (g_wake_fd < 0) return;
  char name[108];
  int k = name_prefix(name, sizeof name, title);
  snprintf(name + k, sizeof name - size_t(k), "%u:%d:%d", unsigned(geteuid()), int(getpid()), slot);
  sockaddr_un addr;
  socklen_t len = abstract_address(&addr, name);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return;
  }
  g_endpoints[slot] = Endpoint{true, window, fd};
  if (!g_thread_started) g_thread_started = thread_start(endpoint_thread);
  wake();
}

void win_endpoint_close(WindowHandle window) {
  std::unique_lock<std::mutex> lock(g_lock);
  bool closed = false;
  for (auto& e : g_endpoints) {
    if (e.in_use && e.window == window) {
      close(e.fd);
      e.in_use = false;
      closed = true;
    }
  }
  if (!closed || !g_thread_started) return;
  // The name is free once the thread's poll has let the socket go: then nobody finds the window.
  wake();
  uint64_t round = g_rounds;
  g_round_done.wait_for(lock, std::chrono::seconds(2), [&] { return g_rounds != round; });
}

int win_find_windows_anywhere(const char16_t* title, RemoteWindow* out, int room) {
  char prefix[80];
  prefix[0] = '@';
  int k = name_prefix(prefix + 1, sizeof prefix - 1, title) + 1;
  FILE* f = fopen("/proc/net/unix", "re");
  if (!f) return 0;
  char line[512];
  int found = 0;
  while (fgets(line, sizeof line, f)) {
    unsigned flags = 0;
    char path[sizeof(RemoteWindow::name)];
    // Num RefCount Protocol Flags Type St Inode Path; listening sockets carry flag 0x10000.
    if (sscanf(line, "%*s %*x %*x %x %*x %*x %*u %107s", &flags, path) != 2) continue;
    if (!(flags & 0x10000) || strncmp(path, prefix, size_t(k)) != 0) continue;
    unsigned uid, slot;
    int pid;
    if (sscanf(path + k, "%u:%d:%u", &uid, &pid, &slot) != 3) continue;
    bool seen = false;
    for (int i = 0; i < found && i < room; ++i) seen |= strcmp(out[i].name, path + 1) == 0;
    if (seen) continue;
    if (found < room) {
      snprintf(out[found].name, sizeof out[found].name, "%s", path + 1);
      out[found].owner_uid = uid;
      out[found].owner_pid = pid;
    }
    ++found;
  }
  fclose(f);
  return found;
}

bool win_post_message_remote(const RemoteWindow* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  sockaddr_un addr;
  socklen_t len = abstract_address(&addr, window->name);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  set_timeouts(fd, kReplyWaitMs);
  EndpointRequest req;
  memcpy(req.magic, "VWM1", 4);
  req.message = message;
  req.wparam = wparam;
  req.lparam = lparam;
  uint8_t verdict = 0;
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
            send(fd, &req, sizeof req, MSG_NOSIGNAL) == ssize_t(sizeof req) && read_all(fd, &verdict, 1) &&
            verdict == 1;
  close(fd);
  return ok;
}
