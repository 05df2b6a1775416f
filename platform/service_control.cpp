// Linux back end of service control: our own small manager over a state folder, or systemctl.
#include "platform/service_control.h"

#include <cerrno>
#include <cstdarg>
#include <initializer_list>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/process.h"

enum Backend : uint8_t { BACKEND_SMALL, BACKEND_SYSTEMD };

struct ServiceControl {
  bool in_use;
  bool is_service;     // false: the manager
  Backend backend;
  char folder[PATH_MAX];  // small manager: the state folder, or the service's own folder in it
  char name[64];          // service name, UTF-8
};

namespace {

constexpr int kMaxHandles = 16;
ServiceControl g_handles[kMaxHandles];
const char kDefaultStateFolder[] = "/var/lib/vellmar/services";
char g_failure[320];

void failure(const char* format, ...) __attribute__((format(printf, 1, 2)));
void failure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_failure, sizeof g_failure, format, args);
  va_end(args);
}

ScHandle new_handle(bool is_service, Backend backend) {
  for (auto& h : g_handles) {
    if (!h.in_use) {
      memset(&h, 0, sizeof h);
      h.in_use = true;
      h.is_service = is_service;
      h.backend = backend;
      return &h;
    }
  }
  return nullptr;
}

bool valid(ScHandle h, bool is_service) {
  return h >= g_handles && h < g_handles + kMaxHandles && h->in_use && h->is_service == is_service;
}

// Names become folder and unit names: a plain ASCII word only.
bool plain_name(const char16_t* name, char* out, size_t room) {
  if (!name || !*name || *name == u'.') return false;
  size_t n = 0;
  for (; name[n]; ++n) {
    char16_t c = name[n];
    bool ok = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' ||
              c == u'_' || c == u'.';
    if (!ok || n + 1 >= room) return false;
    out[n] = char(c);
  }
  out[n] = 0;
  return true;
}

bool file_path(char* out, const ServiceControl* s, const char* leaf) {
  int n = snprintf(out, PATH_MAX, "%s/%s", s->folder, leaf);
  return n > 0 && n < PATH_MAX;
}

bool write_text(const char* path, const char* text) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  size_t len = strlen(text), done = 0;
  while (done < len) {
    ssize_t w = write(fd, text + done, len - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += size_t(w);
  }
  return close(fd) == 0 && done == len;
}

bool read_text(const char* path, char* out, size_t room) {
  FILE* f = fopen(path, "rbe");
  if (!f) return false;
  size_t n = fread(out, 1, room - 1, f);
  fclose(f);
  out[n] = 0;
  return true;
}

// State letter and start time (clock ticks since boot) of a process; false when it is gone.
bool process_stat(pid_t pid, char* state, unsigned long long* start_time) {
  char path[64], text[1024];
  snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  if (!read_text(path, text, sizeof text)) return false;
  const char* p = strrchr(text, ')');
  if (!p || p[1] != ' ') return false;
  p += 2;
  *state = *p;
  // The start time is the 20th field after the command name.
  for (int field = 0; field < 19; ++field) {
    p = strchr(p, ' ');
    if (!p) return false;
    ++p;
  }
  *start_time = strtoull(p, nullptr, 10);
  return true;
}

// The recorded process of a small-manager service, when it still runs.
bool small_running_pid(const ServiceControl* s, pid_t* pid) {
  char path[PATH_MAX], text[64];
  if (!file_path(path, s, "pid") || !read_text(path, text, sizeof text)) return false;
  long long recorded_pid = 0;
  unsigned long long recorded_start = 0;
  if (sscanf(text, "%lld %llu", &recorded_pid, &recorded_start) != 2 || recorded_pid <= 0) return false;
  char state;
  unsigned long long start;
  if (!process_stat(pid_t(recorded_pid), &state, &start)) return false;
  if (state == 'Z' || state == 'X' || start != recorded_start) return false;
  *pid = pid_t(recorded_pid);
  return true;
}

uint32_t small_state(const ServiceControl* s) {
  pid_t pid;
  if (!small_running_pid(s, &pid)) return SERVICE_STOPPED;
  char path[PATH_MAX];
  bool stopping = file_path(path, s, "stopping") && access(path, F_OK) == 0;
  return stopping ? uint32_t(SERVICE_STOP_PENDING) : uint32_t(SERVICE_RUNNING);
}

// Starts "exec <command>" through /bin/sh, detached in a session of its own (its parent ends at
// once, so no zombie is left with us); returns the service process's id or -1.
pid_t small_spawn(const ServiceControl* s, const char* command) {
  char shell_text[PATH_MAX + 16];
  int n = snprintf(shell_text, sizeof shell_text, "exec %s", command);
  if (n <= 0 || size_t(n) >= sizeof shell_text) return -1;
  char log_path[PATH_MAX];
  if (!file_path(log_path, s, "output.log")) return -1;
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;
  fflush(nullptr);
  pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return -1;
  }
  if (middle == 0) {
    setsid();
    pid_t service = fork();
    if (service == 0) {
      // The service takes its stop signal whatever its starter blocked or ignored.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int sig = 1; sig < 32; ++sig) signal(sig, SIG_DFL);
      int in = open("/dev/null", O_RDONLY);
      int out = open(log_path, O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (in >= 0) dup2(in, 0);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      close_range(3, ~0U, 0);
      if (chdir("/") != 0) _exit(127);
      execl("/bin/sh", "sh", "-c", shell_text, static_cast<char*>(nullptr));
      _exit(127);
    }
    ssize_t w = write(report[1], &service, sizeof service);
    (void)w;
    _exit(service < 0 ? 1 : 0);
  }
  close(report[1]);
  pid_t service = -1;
  ssize_t r;
  do {
    r = read(report[0], &service, sizeof service);
  } while (r < 0 && errno == EINTR);
  close(report[0]);
  while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  return r == sizeof service ? service : -1;
}

bool small_start(const ServiceControl* s) {
  if (small_state(s) != SERVICE_STOPPED) {
    failure("%s still runs", s->name);
    return false;
  }
  char path[PATH_MAX], command[PATH_MAX];
  if (!file_path(path, s, "command") || !read_text(path, command, sizeof command)) {
    failure("the command line of %s cannot be read: %s", s->name, strerror(errno));
    return false;
  }
  size_t len = strlen(command);
  while (len && (command[len - 1] == '\n' || command[len - 1] == '\r')) command[--len] = 0;
  if (!len) {
    failure("the command line of %s is empty", s->name);
    return false;
  }
  if (file_path(path, s, "stopping")) unlink(path);
  pid_t pid = small_spawn(s, command);
  if (pid <= 0) {
    failure("the process of %s could not be made: %s", s->name, strerror(errno));
    return false;
  }
  char state;
  unsigned long long start = 0;
  // A command that ended at once is recorded all the same; the next query reports it stopped.
  process_stat(pid, &state, &start);
  char text[64];
  snprintf(text, sizeof text, "%d %llu\n", int(pid), start);
  return file_path(path, s, "pid") && write_text(path, text);
}

bool small_stop(const ServiceControl* s) {
  pid_t pid;
  if (!small_running_pid(s, &pid)) {
    failure("%s does not run", s->name);
    return false;
  }
  char path[PATH_MAX];
  if (file_path(path, s, "stopping")) write_text(path, "");
  return kill(pid, SIGTERM) == 0;
}

bool small_delete(const ServiceControl* s) {
  char path[PATH_MAX];
  if (!file_path(path, s, "command") || unlink(path) != 0) return false;
  pid_t pid;
  if (small_running_pid(s, &pid)) return true;  // the folder goes with a later delete or create
  for (const char* leaf : {"pid", "stopping", "output.log"}) {
    if (file_path(path, s, leaf)) unlink(path);
  }
  rmdir(s->folder);
  return true;
}

// ---- systemd

// The systemctl program: VELLMAR_SYSTEMCTL names a stand-in for tests.
const char* systemctl_program() {
  const char* p = getenv("VELLMAR_SYSTEMCTL");
  return p && *p ? p : "systemctl";
}

bool systemd_runs() {
  struct stat st;
  return stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

void unit_name(const ServiceControl* s, char* out, size_t room) { snprintf(out, room, "%s.service", s->name); }

// One property of the unit, e.g. LoadState or ActiveState.
bool systemd_property(const ServiceControl* s, const char* property, char* out, size_t room) {
  char unit[96], option[64];
  unit_name(s, unit, sizeof unit);
  snprintf(option, sizeof option, "--property=%s", property);
  const char* argv[] = {systemctl_program(), "show", option, "--value", unit, nullptr};
  if (process_run(argv, nullptr, out, room) != 0) return false;
  size_t n = strlen(out);
  while (n && (out[n - 1] == '\n' || out[n - 1] == '\r')) out[--n] = 0;
  return true;
}

// Its own message, when it fails, goes to our standard error.
bool systemctl(const ServiceControl* s, const char* verb, bool no_block) {
  char unit[96];
  unit_name(s, unit, sizeof unit);
  const char* argv[] = {systemctl_program(), verb, no_block ? "--no-block" : unit, no_block ? unit : nullptr, nullptr};
  int code = process_run(argv, nullptr, nullptr, 0);
  if (code != 0) failure("systemctl %s %s ended with exit code %d", verb, unit, code);
  return code == 0;
}

uint32_t systemd_state(const ServiceControl* s) {
  char active[64];
  if (!systemd_property(s, "ActiveState", active, sizeof active)) return SERVICE_STOPPED;
  if (!strcmp(active, "active") || !strcmp(active, "reloading")) return SERVICE_RUNNING;
  if (!strcmp(active, "activating")) return SERVICE_START_PENDING;
  if (!strcmp(active, "deactivating")) return SERVICE_STOP_PENDING;
  return SERVICE_STOPPED;
}

// Disables the unit and removes its file, unless a package installed it.
bool systemd_delete(const ServiceControl* s) {
  char path[PATH_MAX];
  if (!systemd_property(s, "FragmentPath", path, sizeof path)) return false;
  systemctl(s, "disable", false);
  bool packaged = !strncmp(path, "/usr/", 5) || !strncmp(path, "/lib/", 5);
  bool removed = !packaged && path[0] == '/' && (unlink(path) == 0 || errno == ENOENT);
  const char* argv[] = {systemctl_program(), "daemon-reload", nullptr};
  process_run(argv, nullptr, nullptr, 0);
  return removed;
}

uint32_t current_state(const ServiceControl* s) {
  return s->backend == BACKEND_SMALL ? small_state(s) : systemd_state(s);
}

}  // namespace

ScHandle sc_open_manager() {
  g_failure[0] = 0;
  const char* folder = getenv("VELLMAR_SERVICE_STATE");
  if (folder && *folder) {
    struct stat st;
    if (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode) || strlen(folder) >= PATH_MAX - 80) {
      failure("the service state folder %s is not a folder", folder);
      return nullptr;
    }
    ScHandle h = new_handle(false, BACKEND_SMALL);
    if (h) snprintf(h->folder, sizeof h->folder, "%s", folder);
    return h;
  }
  const char* stand_in = getenv("VELLMAR_SYSTEMCTL");
  if (stand_in && *stand_in) return new_handle(false, BACKEND_SYSTEMD);
  if (getenv("VELLMAR_TEST")) {
    failure("no service manager is used under test");
    return nullptr;
  }
  if (systemd_runs()) return new_handle(false, BACKEND_SYSTEMD);
  mkdir("/var/lib/vellmar", 0755);
  mkdir(kDefaultStateFolder, 0700);
  struct stat st;
  if (stat(kDefaultStateFolder, &st) != 0 || !S_ISDIR(st.st_mode)) {
    failure("the service state folder %s cannot be made", kDefaultStateFolder);
    return nullptr;
  }
  ScHandle h = new_handle(false, BACKEND_SMALL);
  if (h) snprintf(h->folder, sizeof h->folder, "%s", kDefaultStateFolder);
  return h;
}

static ScHandle service_handle(ScHandle manager, const char16_t* name) {
  if (!valid(manager, false)) return nullptr;
  char name8[64];
  if (!plain_name(name, name8, sizeof name8)) return nullptr;
  ScHandle h = new_handle(true, manager->backend);
  if (!h) return nullptr;
  snprintf(h->name, sizeof h->name, "%s", name8);
  // The manager's folder was checked to leave room for a name.
  int n = snprintf(h->folder, sizeof h->folder, "%s/%s", manager->folder, name8);
  if (n < 0 || size_t(n) >= sizeof h->folder) {
    sc_close(h);
    return nullptr;
  }
  return h;
}

ScHandle sc_open_service(ScHandle manager, const char16_t* name) {
  g_failure[0] = 0;
  ScHandle h = service_handle(manager, name);
  if (!h) return nullptr;
  bool installed;
  if (h->backend == BACKEND_SMALL) {
    char path[PATH_MAX];
    installed = file_path(path, h, "command") && access(path, F_OK) == 0;
    if (!installed) failure("the service %s is not installed", h->name);
  } else {
    char load[64];
    installed = systemd_property(h, "LoadState", load, sizeof load) && !strcmp(load, "loaded");
    if (!installed) failure("%s.service is %s", h->name, load[0] ? load : "unknown to systemctl");
  }
  if (!installed) {
    sc_close(h);
    return nullptr;
  }
  return h;
}

ScHandle sc_create_service(ScHandle manager, const char16_t* name, const char* command_line) {
  if (!command_line || !*command_line || strchr(command_line, '\n')) return nullptr;
  ScHandle h = service_handle(manager, name);
  if (!h) return nullptr;
  char path[PATH_MAX];
  mkdir(h->folder, 0700);
  bool ok = h->backend == BACKEND_SMALL && file_path(path, h, "command") && access(path, F_OK) != 0 &&
            write_text(path, command_line);
  if (!ok) {
    sc_close(h);
    return nullptr;
  }
  return h;
}

bool sc_query_status(ScHandle service, ServiceStatus* out) {
  if (!valid(service, true)) return false;
  memset(out, 0, sizeof *out);
  out->service_type = SERVICE_WIN32_OWN_PROCESS;
  out->current_state = current_state(service);
  out->controls_accepted = out->current_state == SERVICE_RUNNING ? uint32_t(SERVICE_ACCEPT_STOP) : 0u;
  return true;
}

bool sc_control(ScHandle service, uint32_t control, ServiceStatus* out) {
  if (!valid(service, true)) return false;
  bool ok;
  if (control == SERVICE_CONTROL_STOP) {
    if (service->backend == BACKEND_SMALL) ok = small_stop(service);
    else ok = systemd_state(service) == SERVICE_RUNNING && systemctl(service, "stop", true);
  } else {
    ok = current_state(service) != SERVICE_STOPPED;
  }
  sc_query_status(service, out);
  return ok;
}

bool sc_start(ScHandle service) {
  g_failure[0] = 0;
  if (!valid(service, true)) return false;
  if (service->backend == BACKEND_SMALL) return small_start(service);
  char active[64];
  if (systemd_property(service, "ActiveState", active, sizeof active) && strcmp(active, "inactive") &&
      strcmp(active, "failed")) {
    failure("%s.service is %s", service->name, active);
    return false;
  }
  return systemctl(service, "start", true);
}

const char* sc_last_failure() { return g_failure; }

bool sc_stop_reason(ScHandle service, char* out, size_t room) {
  if (!room) return false;
  out[0] = 0;
  if (!valid(service, true)) return false;
  if (service->backend == BACKEND_SYSTEMD) {
    char result[64], status[256];
    if (!systemd_property(service, "Result", result, sizeof result)) return false;
    if (!systemd_property(service, "StatusText", status, sizeof status)) status[0] = 0;
    snprintf(out, room, "result %s%s%s", result, status[0] ? ": " : "", status);
    return true;
  }
  // The last line of the service's output.
  char path[PATH_MAX], tail[1024];
  if (!file_path(path, service, "output.log")) return false;
  FILE* f = fopen(path, "rbe");
  if (!f) return false;
  long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
  long from = size > long(sizeof tail) - 1 ? size - long(sizeof tail) + 1 : 0;
  size_t n = size >= 0 && fseek(f, from, SEEK_SET) == 0 ? fread(tail, 1, sizeof tail - 1, f) : 0;
  fclose(f);
  while (n && (tail[n - 1] == '\n' || tail[n - 1] == '\r')) --n;
  tail[n] = 0;
  size_t start = n;
  while (start && tail[start - 1] != '\n') --start;
  if (start == n) return false;
  snprintf(out, room, "%s", tail + start);
  return true;
}

bool sc_delete(ScHandle service) {
  if (!valid(service, true)) return false;
  return service->backend == BACKEND_SMALL ? small_delete(service) : systemd_delete(service);
}

void sc_close(ScHandle handle) {
  if (handle && (valid(handle, true) || valid(handle, false))) handle->in_use = false;
}
