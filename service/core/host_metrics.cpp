// Host figures: the host name and address list recorded when networking starts. The disk, memory
// and processor figures are not measured yet and stay zero.
#include "service/core/host_metrics.h"

#include "common/text.h"
#include "platform/inet.h"
#include "service/core/net_address.h"

char g_host_name[64];
char16_t g_host_name_w[64];

void sys_cpu_counter_open() {}
void sys_collect_metrics() {}

int net_startup() {
  if (!inet_host_name(g_host_name, sizeof g_host_name)) g_host_name[0] = 0;
  net_list_local_addresses(g_local_addresses.entries, &g_local_addresses.count);
  text_utf8_to_utf16(g_host_name_w, 64, g_host_name);
  return 1;
}

int sys_get_os_description(char16_t*, uint32_t) { return 0; }
