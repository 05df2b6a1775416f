// Linux back end of the helper-program calls: fork and exec with pipes, waiting for the end.
#include "platform/process.h"

#include <cerrno>
#include <initializer_list>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

static int wait_exit_code(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int process_system(const char* command) {
  if (!command) return -1;
  std::string path;
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    self[n] = 0;
    char* slash = strrchr(self, '/');
    if (slash) {
      *slash = 0;
      path = self;
      path += ':';
    }
  }
  const char* old = getenv("PATH");
  path += old && *old ? old : "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
  fflush(nullptr);
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    setenv("PATH", path.c_str(), 1);
    execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
    _exit(127);
  }
  return wait_exit_code(child);
}

int process_run(const char* const* argv, const char* input, char* output, size_t room) {
  if (output && room) output[0] = 0;
  int in_pipe[2], out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) return -1;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]);
    close(in_pipe[1]);
    return -1;
  }
  fflush(nullptr);
  pid_t child = fork();
  if (child < 0) {
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) close(fd);
    return -1;
  }
  if (child == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    execvp(argv[0], const_cast<char* const*>(argv));
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  // A child that ends without reading its input must not kill us with SIGPIPE.
  struct sigaction ignore, old;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  size_t length = input ? strlen(input) : 0, sent = 0;
  while (sent < length) {
    ssize_t w = write(in_pipe[1], input + sent, length - sent);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    sent += size_t(w);
  }
  close(in_pipe[1]);
  sigaction(SIGPIPE, &old, nullptr);
  size_t got = 0;
  char scratch[512];
  for (;;) {
    char* at = scratch;
    size_t want = sizeof scratch;
    if (output && got + 1 < room) {
      at = output + got;
      want = room - 1 - got;
    }
    ssize_t r = read(out_pipe[0], at, want);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    if (at != scratch) got += size_t(r);
  }
  if (output && room) output[got] = 0;
  close(out_pipe[0]);
  return wait_exit_code(child);
}
