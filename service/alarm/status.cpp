// The status record, its reset and the copy of the alarm bits' event levels.
#include "service/alarm/status.h"

#include <cstring>

#include "service/alarm/alarm_state.h"
#include "service/events/event_defs.h"

StatusRecord g_status;

void status_reset() {
  char16_t description[128];
  memcpy(description, g_status.os_description, sizeof description);
  memset(&g_status, 0, sizeof g_status);
  memcpy(g_status.os_description, description, sizeof description);
  g_status.countdown_left = -1;
  memset(g_status.notice_handle, 255, sizeof g_status.notice_handle);
}

void status_copy_event_levels() {
  for (int b = 0; b < 30; ++b) g_status.mibv4_level[b] = evt_level(EVT_GROUP_MIBV4, MIBV4_SET_EVENT[b]);
  for (int b = 0; b < 26; ++b) g_status.mibv5_level[b] = evt_level(EVT_GROUP_MIBV5, MIBV5_SET_EVENT[b]);
  for (int k = 0; k < 9; ++k) g_status.sensor_level[k] = evt_level(EVT_GROUP_SENSOR, 2 * k + 1);
}
