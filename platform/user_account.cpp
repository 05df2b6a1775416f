// Administrator test over the user and group databases.
#include "platform/user_account.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

bool user_is_administrator(uint32_t uid) {
  if (uid == 0) return true;
  passwd pw;
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(uid_t(uid), &pw, buffer, sizeof buffer, &found) != 0 || !found) return false;
  group gr;
  group* sudo = nullptr;
  char gbuffer[8192];
  if (getgrnam_r("sudo", &gr, gbuffer, sizeof gbuffer, &sudo) != 0 || !sudo) return false;
  if (pw.pw_gid == sudo->gr_gid) return true;
  for (char** m = sudo->gr_mem; m && *m; ++m) {
    const char* a = *m;
    const char* b = pw.pw_name;
    while (*a && *a == *b) { ++a; ++b; }
    if (*a == *b) return true;
  }
  return false;
}

uint32_t user_current_id() { return uint32_t(getuid()); }
