// Trap-driven alarm state. Until the alarm engine is built, traps change nothing.
#include "service/alarm/alarm_state.h"

void ups_event_process() {}
void ups_source_reset(uint8_t) {}
int32_t alarm_text_list(int32_t, char* buffer, int32_t size, uint32_t) {
  if (size > 0) buffer[0] = 0;
  return 0;
}
