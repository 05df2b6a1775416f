// Linux back end of the instance mutex: a bound abstract Unix socket holds the name for as long as
// the process lives; the kernel frees it when the process ends, however it ends.
#include "platform/instance_mutex.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
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

InstanceMutexResult instance_mutex_create_for_folder(const char16_t* name, const char* folder, InstanceMutex* out) {
  char real[PATH_MAX];
  const char* key = realpath(folder, real) ? real : folder;
  // "folder:" keeps these names apart from the registry-scoped ones.
  return create_scoped(name, fnv1a(key) ^ fnv1a("folder:"), out);
}

void instance_mutex_release(InstanceMutex* mutex) {
  if (mutex->handle >= 0) close(mutex->handle);
  mutex->handle = -1;
}
