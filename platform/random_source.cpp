// Linux back end of the random source: getrandom(2), which waits only until the kernel's pool is
// first seeded.
#include "platform/random_source.h"

#include <cerrno>
#include <cstdint>

#include <sys/random.h>

bool random_fill(void* out, size_t length) {
  uint8_t* p = static_cast<uint8_t*>(out);
  while (length > 0) {
    ssize_t n = getrandom(p, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= size_t(n);
  }
  return true;
}
