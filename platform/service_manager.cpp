// Linux back end of the service-manager stand-in: stop signals taken with sigwait, status to
// systemd's notify socket.
#include "platform/service_manager.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static ServiceCtrlHandler g_handler;

static void stop_signals(sigset_t* set) {
  sigemptyset(set);
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGINT);
  sigaddset(set, SIGHUP);  // a closed terminal stops the service as a stop control does
}

void svc_block_stop_signals() {
  sigset_t set;
  stop_signals(&set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool svc_start_ctrl_dispatcher(const char16_t*, ServiceMainProc service_main) {
  sigset_t set;
  stop_signals(&set);
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
  service_main(0, nullptr);
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (g_handler) g_handler(SERVICE_CONTROL_STOP);
  }
}

ServiceStatusHandle svc_register_ctrl_handler(const char16_t*, ServiceCtrlHandler handler) {
  g_handler = handler;
  return 1;
}

static bool notify(const char* text) {
  const char* path = getenv("NOTIFY_SOCKET");
  if (!path || !*path) return false;
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  size_t len = strlen(path);
  if (len >= sizeof addr.sun_path) return false;
  memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = 0;  // abstract socket
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent = sendto(fd, text, strlen(text), 0, reinterpret_cast<sockaddr*>(&addr),
                        socklen_t(offsetof(sockaddr_un, sun_path) + len));
  close(fd);
  return sent >= 0;
}

// The current problems, by key; an empty key marks a free entry.
namespace {
constexpr int kProblemMax = 32;
struct Problem {
  char key[32];
  char text[224];
};
Problem g_problems[kProblemMax];
bool g_running;  // RUNNING has been reported: problem changes go out at once
pthread_mutex_t g_problem_lock = PTHREAD_MUTEX_INITIALIZER;

// "STATUS=" and the problems joined by "; ", or "running" when there is none (lock held).
void compose_status(char* out, size_t room, const char* prefix) {
  size_t used = size_t(snprintf(out, room, "%sSTATUS=", prefix));
  bool any = false;
  for (const Problem& p : g_problems) {
    if (!p.key[0] || used >= room) continue;
    used += size_t(snprintf(out + used, room - used, "%s%s", any ? "; " : "", p.text));
    any = true;
  }
  if (!any && used < room) snprintf(out + used, room - used, "running");
}
}  // namespace

void svc_status_problem(const char* key, const char* text) {
  if (!key || !*key) return;
  pthread_mutex_lock(&g_problem_lock);
  Problem* slot = nullptr;
  Problem* free_slot = nullptr;
  for (Problem& p : g_problems) {
    if (!p.key[0]) {
      if (!free_slot) free_slot = &p;
    } else if (strncmp(p.key, key, sizeof p.key - 1) == 0) {
      slot = &p;
    }
  }
  bool changed = false;
  if (!text) {
    if (slot) {
      slot->key[0] = 0;
      changed = true;
    }
  } else {
    if (!slot) slot = free_slot;
    if (slot && (strncmp(slot->key, key, sizeof slot->key - 1) != 0 || strncmp(slot->text, text, sizeof slot->text - 1) != 0)) {
      snprintf(slot->key, sizeof slot->key, "%s", key);
      snprintf(slot->text, sizeof slot->text, "%s", text);
      changed = true;
    }
  }
  char message[kProblemMax * 226 + 16];
  bool send = changed && g_running;
  if (send) compose_status(message, sizeof message, "");
  pthread_mutex_unlock(&g_problem_lock);
  if (send) notify(message);
}

void svc_status_text(char* out, size_t room) {
  if (!room) return;
  pthread_mutex_lock(&g_problem_lock);
  char message[kProblemMax * 226 + 16];
  compose_status(message, sizeof message, "");
  pthread_mutex_unlock(&g_problem_lock);
  snprintf(out, room, "%s", message + 7);  // without "STATUS="
}

bool svc_set_status(ServiceStatusHandle handle, const ServiceStatus* status) {
  if (!handle) return false;
  char message[kProblemMax * 226 + 32];
  switch (status->current_state) {
    case SERVICE_RUNNING:
      pthread_mutex_lock(&g_problem_lock);
      g_running = true;
      compose_status(message, sizeof message, "READY=1\n");
      pthread_mutex_unlock(&g_problem_lock);
      return notify(message);
    case SERVICE_STOPPED:
      pthread_mutex_lock(&g_problem_lock);
      g_running = false;
      pthread_mutex_unlock(&g_problem_lock);
      return notify("STOPPING=1\nSTATUS=stopped");
    default: return true;
  }
}

void svc_report_line(const char* text) {
  fprintf(stderr, "Brevanta: %s\n", text ? text : "");
  fflush(stderr);
}
