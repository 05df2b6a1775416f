// Firewall command texts and their reading.
#include "tools/config/netsh_command.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "common/text.h"

static const char kProgramFile[] = "Brevanta.exe";

static bool safe_for_interpreter(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p == 0x7f || strchr("\"$`\\;&|<>()'*?[]#~{}!", *p)) return false;
  }
  return true;
}

bool netsh_build_command(char* out, size_t room, bool add, uint32_t os_major, const char* rule_name,
                         const char* folder) {
  if (room) out[0] = 0;
  if (!room || !*rule_name || !safe_for_interpreter(rule_name) || !safe_for_interpreter(folder)) return false;
  int n;
  if (os_major >= 6) {
    if (add)
      n = snprintf(out, room,
                   "netsh advfirewall firewall add rule name=\"%s\" dir=in action=allow program=\"%s\\Brevanta.exe\" "
                   "enable=yes",
                   rule_name, folder);
    else
      n = snprintf(out, room, "netsh advfirewall firewall delete rule name=\"%s\" program=\"%s\\Brevanta.exe\"",
                   rule_name, folder);
  } else {
    n = snprintf(out, room, "netsh firewall %s allowedprogram %s\\Brevanta.exe %s ENABLE ALL", add ? "add" : "delete",
                 folder, rule_name);
  }
  if (n < 0 || size_t(n) >= room) {
    out[0] = 0;
    return false;
  }
  return true;
}

// The folder of a program path: "\" becomes "/", the program's file name goes. The interpreter has
// already dropped the "\" of an unquoted path, so the name is taken off with or without it.
static bool folder_of_program(const char* program, char* out, size_t room) {
  char path[320];
  if (text_copy8(path, sizeof path, program) != strlen(program)) return false;
  for (char* p = path; *p; ++p)
    if (*p == '\\') *p = '/';
  size_t n = strlen(path), k = strlen(kProgramFile);
  if (n <= k || strcasecmp(path + n - k, kProgramFile) != 0) return false;
  n -= k;
  if (n > 1 && path[n - 1] == '/') --n;
  path[n] = 0;
  return n > 0 && n < room && text_copy8(out, room, path) == n;
}

static const char* value_of(const char* arg, const char* key) {
  size_t k = strlen(key);
  return strncasecmp(arg, key, k) == 0 ? arg + k : nullptr;
}

bool netsh_parse_arguments(int argc, const char* const* argv, NetshRequest* out) {
  memset(out, 0, sizeof *out);
  auto is = [&](int i, const char* word) { return i < argc && strcasecmp(argv[i], word) == 0; };
  if (is(1, "advfirewall") && is(2, "firewall") && (is(3, "add") || is(3, "delete")) && is(4, "rule")) {
    out->add = is(3, "add");
    bool have_program = false;
    for (int i = 5; i < argc; ++i) {
      if (const char* v = value_of(argv[i], "name=")) {
        if (text_copy8(out->rule_name, sizeof out->rule_name, v) != strlen(v)) return false;
      } else if (const char* p = value_of(argv[i], "program=")) {
        have_program = folder_of_program(p, out->folder, sizeof out->folder);
        if (!have_program) return false;
      }
    }
    return out->rule_name[0] && have_program;
  }
  if (is(1, "firewall") && (is(2, "add") || is(2, "delete")) && is(3, "allowedprogram") && argc >= 8 &&
      is(argc - 2, "ENABLE") && is(argc - 1, "ALL")) {
    out->add = is(2, "add");
    if (!folder_of_program(argv[4], out->folder, sizeof out->folder)) return false;
    // The rule name may have been split into words at its spaces.
    size_t n = 0;
    for (int i = 5; i < argc - 2; ++i) {
      int w = snprintf(out->rule_name + n, sizeof out->rule_name - n, "%s%s", n ? " " : "", argv[i]);
      if (w < 0 || size_t(w) >= sizeof out->rule_name - n) return false;
      n += size_t(w);
    }
    return n > 0;
  }
  return false;
}
