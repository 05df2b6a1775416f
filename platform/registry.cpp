// Registry stand-in over a small UTF-8 INI file.
#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "platform/text.h"

const char* reg_file_path() {
  const char* env = getenv("VELLMAR_REGISTRY");
  return env && *env ? env : "/etc/vellmar/registry";
}

static const char* g_problem;

const char* reg_file_problem() { return g_problem; }

static void trim(char* s) {
  size_t n = strlen(s);
  while (n && (s[n - 1] == '\r' || s[n - 1] == '\n' || s[n - 1] == ' ' || s[n - 1] == '\t')) s[--n] = 0;
}

bool reg_read_string(const char16_t* key, const char16_t* name, char16_t* out, size_t room_bytes) {
  size_t room = room_bytes / 2;
  if (room == 0) return false;
  char key8[512], name8[128];
  text_utf16_to_utf8(key8, sizeof key8, key);
  text_utf16_to_utf8(name8, sizeof name8, name);
  g_problem = nullptr;
  FsReadResult opened;
  int error = 0;
  FILE* f = fs_open_regular(reg_file_path(), FS_TEXT_FILE_MAX, &opened, &error);
  if (opened == FS_READ_NOT_REGULAR || opened == FS_READ_TOO_LARGE) g_problem = fs_read_problem(opened, error);
  if (!f) return false;
  char line[1024];
  bool in_key = false, found = false;
  size_t name_len = strlen(name8);
  // A file that grows while it is read still ends at the limit.
  while (!found && ftell(f) < long(FS_TEXT_FILE_MAX) && fgets(line, sizeof line, f)) {
    trim(line);
    if (line[0] == '[') {
      char* end = strrchr(line, ']');
      if (end) {
        *end = 0;
        in_key = strcmp(line + 1, key8) == 0;
      }
      continue;
    }
    if (in_key && strncmp(line, name8, name_len) == 0 && line[name_len] == '=') {
      const char* value = line + name_len + 1;
      char16_t wide[1024];
      size_t units = text_utf8_to_utf16(wide, 1024, value);
      if (units + 1 > room) break;
      for (size_t i = 0; i <= units; ++i) out[i] = wide[i];
      found = true;
    }
  }
  fclose(f);
  return found;
}
