// Linux back end of the "open" of documents and command files: fork, a session of its own, the
// file's folder as working directory, /bin/sh for command files.
#include "platform/shell.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Waited processes that outlived their limit; reaped by later calls so none stays a zombie.
static pid_t g_overdue[64];
static int g_overdue_count;

static void reap_overdue() {
  int kept = 0;
  for (int i = 0; i < g_overdue_count; ++i) {
    if (waitpid(g_overdue[i], nullptr, WNOHANG) == 0) g_overdue[kept++] = g_overdue[i];
  }
  g_overdue_count = kept;
}

static bool has_script_suffix(const char* path) {
  size_t n = strlen(path);
  const char* suffixes[] = {".cmd", ".sh", ".bat"};
  for (const char* s : suffixes) {
    size_t k = strlen(s);
    if (n > k && strcasecmp(path + n - k, s) == 0) return true;
  }
  return false;
}

static uint64_t monotonic_ms() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

// In the started process: only async-signal-safe calls from here to the exec.
[[noreturn]] static void start_child(const char* dir, char* const* argv, char* const* sh_argv, int report_fd,
                                     bool detach_again) {
  if (detach_again) {
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
  }
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  for (int s = 1; s < 32; ++s) sigaction(s, &dfl, nullptr);
  int err = 0;
  if (chdir(dir) != 0) err = errno;
  int keep = fcntl(report_fd, F_DUPFD_CLOEXEC, 3);
  if (keep < 0) _exit(127);
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
  }
  if (keep > 3) close_range(3, unsigned(keep) - 1, 0);
  close_range(unsigned(keep) + 1, ~0U, 0);
  report_fd = keep;
  if (!err) {
    execv(argv[0], argv);
    err = errno;
    if (err == ENOEXEC && sh_argv) {
      execv(sh_argv[0], sh_argv);
      err = errno;
    }
  }
  ssize_t w = write(report_fd, &err, sizeof err);
  (void)w;
  _exit(127);
}

bool shell_open(const char* path, uint32_t wait_ms) {
  reap_overdue();
  if (!path || !*path) return false;
  char file[PATH_MAX];
  if (!realpath(path, file)) return false;
  struct stat st;
  if (stat(file, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  char dir[PATH_MAX];
  strcpy(dir, file);
  char* slash = strrchr(dir, '/');
  if (slash == dir) slash[1] = 0;
  else *slash = 0;

  char shell[] = "/bin/sh";
  char* direct_argv[] = {file, nullptr};
  char* sh_argv[] = {shell, file, nullptr};
  bool script = has_script_suffix(file) || access(file, X_OK) != 0;
  char* const* argv = script ? sh_argv : direct_argv;

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) start_child(dir, argv, script ? nullptr : sh_argv, report[1], wait_ms == 0);
  close(report[1]);
  int err = 0;
  ssize_t n;
  do {
    n = read(report[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  bool started = n == 0;

  if (wait_ms == 0) {
    // The middle process ends as soon as it has forked the real one.
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  uint64_t deadline = monotonic_ms() + wait_ms;
  for (;;) {
    pid_t r = waitpid(child, nullptr, WNOHANG);
    if (r == child || (r < 0 && errno != EINTR)) return started;
    if (monotonic_ms() >= deadline) break;
    struct timespec pause = {0, 5 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  if (g_overdue_count < int(sizeof g_overdue / sizeof g_overdue[0])) g_overdue[g_overdue_count++] = child;
  return started;
}

bool shell_write_command_file(const char* path, const char* data, size_t length) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  size_t done = 0;
  while (ok && done < length) {
    ssize_t w = write(fd, data + done, length - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) ok = false;
    else done += size_t(w);
  }
  return close(fd) == 0 && ok;
}

bool shell_private_log(const char* path, bool create) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | (create ? O_CREAT : 0), 0600);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ((st.st_mode & 07777) == 0600 || fchmod(fd, 0600) == 0);
  close(fd);
  return ok;
}
