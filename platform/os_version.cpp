// Linux back end of the version query: fixed numbers.
#include "platform/os_version.h"

bool os_version_query(OsVersionInfo* out) {
  out->major = 10;
  out->minor = 0;
  out->build = 0;
  return true;
}
