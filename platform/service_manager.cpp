// Linux back end of the service-manager stand-in: stop signals taken with sigwait, status to
// systemd's notify socket.
#include "platform/service_manager.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
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

bool svc_set_status(ServiceStatusHandle handle, const ServiceStatus* status) {
  if (!handle) return false;
  switch (status->current_state) {
    case SERVICE_RUNNING: return notify("READY=1\nSTATUS=running");
    case SERVICE_STOPPED: return notify("STOPPING=1\nSTATUS=stopped");
    default: return true;
  }
}
