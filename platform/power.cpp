// Linux back end of the power actions: systemctl halt, poweroff and hibernate, or a line in the
// simulation file.
#include "platform/power.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

static constexpr int kCapSysBoot = 22;

bool power_simulated() { return getenv("VELLMAR_POWER_SIMULATE") != nullptr; }

static bool simulate(const char* line) {
  const char* path = getenv("VELLMAR_POWER_SIMULATE");
  if (!*path) return true;
  FILE* f = fopen(path, "ab");
  if (!f) return false;
  bool ok = fprintf(f, "%s\n", line) > 0;
  return fclose(f) == 0 && ok;
}

// True when the folder is /tmp or lies below it, also through a link.
static bool under_tmp(const char* folder) {
  char resolved[PATH_MAX];
  const char* path = realpath(folder, resolved) ? resolved : folder;
  return strncmp(path, "/tmp", 4) == 0 && (path[4] == 0 || path[4] == '/');
}

static bool capability_sys_boot() {
  FILE* f = fopen("/proc/self/status", "rb");
  if (!f) return false;
  char line[256];
  unsigned long long effective = 0;
  bool found = false;
  while (!found && fgets(line, sizeof line, f)) {
    if (strncmp(line, "CapEff:", 7) == 0) found = sscanf(line + 7, "%llx", &effective) == 1;
  }
  fclose(f);
  return found && ((effective >> kCapSysBoot) & 1);
}

bool power_enable_shutdown_privilege() {
  if (power_simulated()) return true;
  return geteuid() == 0 || capability_sys_boot();
}

// Runs "systemctl <verb>" and waits for it; true when it ended with 0.
static bool run_systemctl(const char* verb) {
  char arg0[] = "systemctl";
  char arg1[32];
  snprintf(arg1, sizeof arg1, "%s", verb);
  char* argv[] = {arg0, arg1, nullptr};
  // The service blocks its stop signals; the tool starts with none blocked.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  pid_t pid;
  int spawned = posix_spawnp(&pid, "systemctl", nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

static bool power_act(const char* line, const char* verb, const char* install_dir) {
  if (power_simulated()) return simulate(line);
  if (getenv("VELLMAR_TEST") || !install_dir || under_tmp(install_dir)) return false;
  return run_systemctl(verb);
}

bool power_shutdown(const char* install_dir) { return power_act("shutdown", "halt", install_dir); }
bool power_poweroff(const char* install_dir) { return power_act("poweroff", "poweroff", install_dir); }
bool power_hibernate(const char* install_dir) { return power_act("hibernate", "hibernate", install_dir); }
