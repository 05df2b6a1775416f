// Host figures: disk, memory and processor load every five seconds, the host name and address
// list recorded when networking starts, and the one-line operating-system description.
#pragma once
#include <cstdint>

extern char g_host_name[64];
extern char16_t g_host_name_w[64];

// Takes the first processor-time sample, the reference of the first load figure.
void sys_cpu_counter_open();
// Disk use of Disk1..Disk8 (a path or mount point each; one that cannot be measured gives 0),
// memory load and processor load since the previous call, into the status record.
void sys_collect_metrics();
// Starts networking and records the host name and address list; 0 when there is no network.
int net_startup();
// The one-line OS description into buffer (size units, at most 127 characters and the
// terminator): "<system name> (kernel <release>), 64-bit". 1 on success; a null buffer only
// checks that the kernel can be asked.
int sys_get_os_description(char16_t* buffer, uint32_t size);
// The description's text from its parts, as UTF-8 into out (room bytes).
void sys_format_os_description(const char* system_name, const char* release, const char* machine, char* out,
                               uint32_t room);
// Used share of a disk from its free and total bytes; 0.0 for a total of 0.
double sys_disk_used(uint64_t free_bytes, uint64_t total_bytes);
// Whole percent of processor time busy between two samples; 0 when the counters did not advance.
uint32_t sys_cpu_load(uint64_t busy_before, uint64_t total_before, uint64_t busy_now, uint64_t total_now);
