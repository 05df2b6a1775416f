// Linux back end of the instance mutex: a bound abstract Unix socket holds the name, or an flock
// the file, for as long as the process lives; the kernel frees either when the process ends,
// however it ends.
#include "platform/instance_mutex.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/text.h"
#include "platform/registry.h"

static uint64_t fnv1a(const char* s) {
  uint64_t h = 1469598103934665603ull;
  for (; *s; ++s) h = (h ^ uint8_t(*s)) * 1099511628211ull;
  return h;
}

static InstanceMutexResult create_scoped(const char16_t* name, uint64_t scope, InstanceMutex* out) {
  out->handle = -1;
  char name8[64];
  text_utf16_to_utf8(name8, sizeof name8, name);
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  int n = snprintf(addr.sun_path + 1, sizeof addr.sun_path - 1, "vellmar-mutex:%s:%016llx", name8,
                   static_cast<unsigned long long>(scope));
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return INSTANCE_MUTEX_FAILED;
  socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(n));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    int err = errno;
    close(fd);
    return err == EADDRINUSE ? INSTANCE_MUTEX_EXISTS : INSTANCE_MUTEX_FAILED;
  }
  out->handle = fd;
  return INSTANCE_MUTEX_CREATED;
}

InstanceMutexResult instance_mutex_create(const char16_t* name, InstanceMutex* out) {
  return create_scoped(name, fnv1a(reg_file_path()), out);
}

InstanceMutexResult instance_mutex_create_file(const char* path, InstanceMutex* out, int* holder_pid, char* reason,
                                               size_t room) {
  out->handle = -1;
  *holder_pid = 0;
  if (room) reason[0] = 0;
  // No link is followed and nothing is cut: a file planted by someone else is never written.
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
  if (fd < 0) {
    snprintf(reason, room, "%s", strerror(errno));
    return INSTANCE_MUTEX_FAILED;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    snprintf(reason, room, "not a plain file of uid %u", unsigned(geteuid()));
    close(fd);
    return INSTANCE_MUTEX_FAILED;
  }
  if ((st.st_mode & 07777) != 0600) fchmod(fd, 0600);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    if (err == EWOULDBLOCK) {
      char text[24];
      ssize_t n = pread(fd, text, sizeof text - 1, 0);
      text[n > 0 ? n : 0] = 0;
      char* end = nullptr;
      long pid = strtol(text, &end, 10);
      if (end != text && *end == '\n' && pid > 0 && pid <= INT_MAX) *holder_pid = int(pid);
    } else {
      snprintf(reason, room, "%s", strerror(err));
    }
    close(fd);
    return err == EWOULDBLOCK ? INSTANCE_MUTEX_EXISTS : INSTANCE_MUTEX_FAILED;
  }
  // The pid is told to a later copy only; a file that cannot take it is still the lock.
  char text[24];
  int n = snprintf(text, sizeof text, "%d\n", int(getpid()));
  if (ftruncate(fd, 0) == 0 && pwrite(fd, text, size_t(n), 0) != n) {
    int ignored = ftruncate(fd, 0);
    (void)ignored;
  }
  out->handle = fd;
  return INSTANCE_MUTEX_CREATED;
}

void instance_mutex_release(InstanceMutex* mutex) {
  if (mutex->handle >= 0) close(mutex->handle);
  mutex->handle = -1;
}
