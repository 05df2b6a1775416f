// Linux back end of the system figures: /proc/stat, /proc/meminfo, statvfs, /etc/os-release and
// uname.
#include "platform/system_info.h"

#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Reads at most room - 1 bytes of a small file, terminated. False when it cannot be opened.
bool read_text(const char* path, char* out, size_t room) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  size_t n = std::fread(out, 1, room - 1, f);
  std::fclose(f);
  out[n] = 0;
  return true;
}

void copy_cut(char* out, size_t room, const char* text, size_t length) {
  if (room == 0) return;
  if (length > room - 1) length = room - 1;
  std::memcpy(out, text, length);
  out[length] = 0;
}

// The value of "KEY=" at the start of a line of text (quotes dropped), into out. False when absent.
bool os_release_value(const char* text, const char* key, char* out, size_t room) {
  size_t key_length = std::strlen(key);
  for (const char* line = text; *line; ) {
    const char* end = std::strchr(line, '\n');
    size_t length = end != nullptr ? static_cast<size_t>(end - line) : std::strlen(line);
    if (length > key_length && std::strncmp(line, key, key_length) == 0 && line[key_length] == '=') {
      const char* v = line + key_length + 1;
      size_t n = length - key_length - 1;
      if (n >= 2 && (v[0] == '"' || v[0] == '\'') && v[n - 1] == v[0]) {
        ++v;
        n -= 2;
      }
      copy_cut(out, room, v, n);
      return n > 0;
    }
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

// The number after "Key:" in /proc/meminfo text, in kB.
bool meminfo_value(const char* text, const char* key, uint64_t* value) {
  const char* p = std::strstr(text, key);
  while (p != nullptr && p != text && p[-1] != '\n') p = std::strstr(p + 1, key);
  if (p == nullptr) return false;
  p += std::strlen(key);
  char* end = nullptr;
  *value = std::strtoull(p, &end, 10);
  return end != p;
}

}  // namespace

bool sysinfo_parse_cpu_times(const char* text, CpuTimes* out) {
  if (std::strncmp(text, "cpu ", 4) != 0) return false;
  const char* p = text + 4;
  uint64_t fields[10] = {};
  int n = 0;
  for (; n < 10; ++n) {
    char* end = nullptr;
    fields[n] = std::strtoull(p, &end, 10);
    if (end == p) break;
    p = end;
  }
  if (n < 4) return false;
  // user nice system idle iowait irq softirq steal (guest time is already in user and nice)
  uint64_t total = 0;
  for (int i = 0; i < n && i < 8; ++i) total += fields[i];
  out->total = total;
  out->busy = total - fields[3] - fields[4];
  return true;
}

bool sysinfo_cpu_times(CpuTimes* out) {
  char text[512];
  return read_text("/proc/stat", text, sizeof text) && sysinfo_parse_cpu_times(text, out);
}

bool sysinfo_parse_memory_load(const char* text, uint32_t* percent) {
  uint64_t total = 0, available = 0;
  if (!meminfo_value(text, "MemTotal:", &total) || total == 0) return false;
  if (!meminfo_value(text, "MemAvailable:", &available) && !meminfo_value(text, "MemFree:", &available)) return false;
  if (available > total) available = total;
  *percent = static_cast<uint32_t>((total - available) * 100 / total);
  return true;
}

bool sysinfo_memory_load(uint32_t* percent) {
  char text[4096];
  return read_text("/proc/meminfo", text, sizeof text) && sysinfo_parse_memory_load(text, percent);
}

bool sysinfo_disk_space(const char* path, uint64_t* free_bytes, uint64_t* total_bytes) {
  if (path == nullptr || path[0] == 0) return false;
  struct statvfs s;
  if (statvfs(path, &s) != 0) return false;
  *free_bytes = static_cast<uint64_t>(s.f_bfree) * s.f_frsize;
  *total_bytes = static_cast<uint64_t>(s.f_blocks) * s.f_frsize;
  return true;
}

bool sysinfo_parse_os_release(const char* text, char* out, size_t room) {
  if (os_release_value(text, "PRETTY_NAME", out, room)) return true;
  char name[128], version[128];
  if (!os_release_value(text, "NAME", name, sizeof name)) return false;
  if (os_release_value(text, "VERSION", version, sizeof version)) {
    char both[258];
    std::snprintf(both, sizeof both, "%s %s", name, version);
    copy_cut(out, room, both, std::strlen(both));
  } else {
    copy_cut(out, room, name, std::strlen(name));
  }
  return true;
}

bool sysinfo_os_name(char* out, size_t room) {
  char text[4096];
  return (read_text("/etc/os-release", text, sizeof text) || read_text("/usr/lib/os-release", text, sizeof text)) &&
         sysinfo_parse_os_release(text, out, room);
}

bool sysinfo_kernel(char* release, size_t release_room, char* machine, size_t machine_room) {
  struct utsname u;
  if (uname(&u) != 0) return false;
  copy_cut(release, release_room, u.release, std::strlen(u.release));
  copy_cut(machine, machine_room, u.machine, std::strlen(u.machine));
  return true;
}
