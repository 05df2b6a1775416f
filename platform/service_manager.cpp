// Linux back end of the service-manager stand-in: signals through a self-pipe, status to systemd's
// notify socket.
#include "platform/service_manager.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int g_signal_pipe[2] = {-1, -1};
static ServiceCtrlHandler g_handler;

static void on_stop_signal(int) {
  int saved = errno;
  char byte = 1;
  ssize_t r = write(g_signal_pipe[1], &byte, 1);
  (void)r;
  errno = saved;
}

bool svc_start_ctrl_dispatcher(const char16_t*, ServiceMainProc service_main) {
  if (pipe2(g_signal_pipe, O_CLOEXEC) != 0) return false;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  service_main(0, nullptr);
  for (;;) {
    char byte;
    ssize_t n = read(g_signal_pipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
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
