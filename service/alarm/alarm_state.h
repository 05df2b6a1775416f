// Trap-driven alarm state: alarm words per source, logged events, tray alarm lines and notices.
#pragma once
#include <cstdint>

// Applies the trap held in TrapState.
void ups_event_process();
// Starts (stops) the repeating notice of a bit for the source of the trap in TrapState.
void alarm_notify_start(int32_t group, int32_t bit);
void alarm_notify_stop(int32_t group, int32_t bit);
// Stops every notice of one group (0-2) of the trap's source; other values do nothing.
void alarm_notify_stop_group(uint32_t group);
// Clears one source's alarm words, conditions, level and notices.
void ups_source_reset(uint8_t source);
// The source's active alarm names, comma separated, UTF-8; 1, or 0 for a source not listed.
int32_t alarm_text_list(int32_t source, char* buffer, int32_t size, uint32_t mark_cut);

// Where alarm lines go: the tray link's link_send_event_line; a test may point it elsewhere.
extern void (*alarm_send_line)(uint32_t level, const char16_t* source, const char16_t* message);

// The event that sets each alarm bit of the MIBv4 and MIBv5 words; Sensor bit k is set by 2k+1.
extern const uint8_t MIBV4_SET_EVENT[30];
extern const uint8_t MIBV5_SET_EVENT[26];
constexpr int ALARM_BITS[3] = {30, 26, 9};
// Highest event number per group (MIBv4, MIBv5, Sensor).
constexpr int ALARM_EVENTS[3] = {59, 51, 18};
