// Host figures: disk, memory and processor load, host name and the OS description.
#pragma once
#include <cstdint>

extern char g_host_name[64];
extern char16_t g_host_name_w[64];

void sys_cpu_counter_open();
void sys_collect_metrics();
// Starts networking and records the host name and address list; 0 when there is no network.
int net_startup();
// The one-line OS description into buffer (size units); 1 on success.
int sys_get_os_description(char16_t* buffer, uint32_t size);
