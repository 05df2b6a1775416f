// Figures of the running system in the terms the host metrics use: processor time counters,
// memory load, the space of a file system, the operating-system name and the kernel. The
// parsers of the /proc and /etc texts are exposed for tests.
#pragma once
#include <cstddef>
#include <cstdint>

// Processor time since boot, in clock ticks, over all processors.
struct CpuTimes {
  uint64_t busy;    // every state but idle and iowait
  uint64_t total;
};

// The first line of /proc/stat. False when it cannot be read.
bool sysinfo_cpu_times(CpuTimes* out);
bool sysinfo_parse_cpu_times(const char* text, CpuTimes* out);

// Percent of physical memory in use, from /proc/meminfo (MemTotal less MemAvailable).
bool sysinfo_memory_load(uint32_t* percent);
bool sysinfo_parse_memory_load(const char* text, uint32_t* percent);

// Free and total bytes of the file system holding path (statvfs). False when it cannot be asked.
bool sysinfo_disk_space(const char* path, uint64_t* free_bytes, uint64_t* total_bytes);

// The system's name from /etc/os-release: PRETTY_NAME, else NAME and VERSION; cut to room - 1.
bool sysinfo_os_name(char* out, size_t room);
bool sysinfo_parse_os_release(const char* text, char* out, size_t room);

// The kernel's release and machine names (uname).
bool sysinfo_kernel(char* release, size_t release_room, char* machine, size_t machine_room);
