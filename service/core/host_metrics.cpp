// Host figures through the platform layer: disk space, memory load and processor time, the host
// name and address list, and the operating-system description made once at start.
#include "service/core/host_metrics.h"

#include <cstdio>
#include <cstring>

#include "common/settings.h"
#include "common/text.h"
#include "platform/inet.h"
#include "platform/system_info.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"

char g_host_name[64];
char16_t g_host_name_w[64];

namespace {

CpuTimes g_cpu_sample;     // the previous processor-time sample
bool g_cpu_sampled;

// Word width of a machine name: 64, 32, or 0 when not known.
int word_width(const char* machine) {
  static const char* const k64[] = {"x86_64", "aarch64", "ppc64", "ppc64le", "s390x", "riscv64", "mips64", "loongarch64"};
  static const char* const k32[] = {"i386", "i486", "i586", "i686", "armv6l", "armv7l", "armv8l", "arm", "mips", "ppc"};
  for (const char* m : k64)
    if (std::strcmp(machine, m) == 0) return 64;
  for (const char* m : k32)
    if (std::strcmp(machine, m) == 0) return 32;
  return 0;
}

}  // namespace

double sys_disk_used(uint64_t free_bytes, uint64_t total_bytes) {
  if (total_bytes == 0) return 0.0;
  return 1.0 - static_cast<double>(free_bytes) / static_cast<double>(total_bytes);
}

uint32_t sys_cpu_load(uint64_t busy_before, uint64_t total_before, uint64_t busy_now, uint64_t total_now) {
  if (total_now <= total_before || busy_now < busy_before) return 0;
  uint64_t busy = busy_now - busy_before, total = total_now - total_before;
  if (busy > total) busy = total;
  return static_cast<uint32_t>(busy * 100 / total);
}

void sys_cpu_counter_open() { g_cpu_sampled = sysinfo_cpu_times(&g_cpu_sample); }

void sys_collect_metrics() {
  for (int i = 0; i < 8; ++i) {
    char path[64];
    text_utf16_to_utf8(path, sizeof path, g_settings.disk_name[i]);
    uint64_t free_bytes = 0, total_bytes = 0;
    g_status.disk_used[i] = sysinfo_disk_space(path, &free_bytes, &total_bytes) ? sys_disk_used(free_bytes, total_bytes) : 0.0;
  }
  uint32_t memory = 0;
  g_status.memory_load = sysinfo_memory_load(&memory) ? memory : 0;
  CpuTimes now;
  if (sysinfo_cpu_times(&now)) {
    g_status.cpu_load = g_cpu_sampled ? sys_cpu_load(g_cpu_sample.busy, g_cpu_sample.total, now.busy, now.total) : 0;
    g_cpu_sample = now;
    g_cpu_sampled = true;
  } else {
    g_status.cpu_load = 0;
  }
}

int net_startup() {
  if (!inet_host_name(g_host_name, sizeof g_host_name)) g_host_name[0] = 0;
  net_list_local_addresses(g_local_addresses.entries, &g_local_addresses.count);
  text_utf8_to_utf16(g_host_name_w, 64, g_host_name);
  return 1;
}

void sys_format_os_description(const char* system_name, const char* release, const char* machine, char* out,
                               uint32_t room) {
  int width = word_width(machine);
  char bits[16] = "";
  if (width != 0) std::snprintf(bits, sizeof bits, ", %d-bit", width);
  std::snprintf(out, room, "%s (kernel %s)%s", system_name[0] ? system_name : "Linux", release, bits);
}

int sys_get_os_description(char16_t* buffer, uint32_t size) {
  char release[65], machine[65];
  if (!sysinfo_kernel(release, sizeof release, machine, sizeof machine)) return 0;
  if (buffer == nullptr) return 1;
  char name[128];
  if (!sysinfo_os_name(name, sizeof name)) name[0] = 0;
  char text[512];
  sys_format_os_description(name, release, machine, text, sizeof text);
  char cut[128];   // 127 bytes and the terminator, cut at a character boundary
  text_copy_utf8(cut, sizeof cut, text);
  text_utf8_to_utf16(buffer, size, cut);
  return 1;
}
