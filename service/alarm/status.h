// The service's live state: alarm words per trap source, the five shutdown conditions, the
// countdowns, notice handles and host figures. Sent whole as the tray link's status frame, so its
// layout is a wire format.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int STATUS_SOURCES = 32;
constexpr int STATUS_GROUPS = 3;     // 0 MIBv4, 1 MIBv5, 2 Sensor

struct StatusRecord {
  char16_t os_description[128];      // operating-system description
  uint8_t tray_state;                // 1 normal, 2-6 alarm classes; 9 and 100 from the tray link
  uint8_t shutdown_cancelled;        // 1 while the running countdowns are cancelled
  uint8_t pad258[2];
  int32_t countdown_left;            // seconds of the shortest running countdown, -1 none
  uint32_t alarm_or[3];              // OR of the sources' acknowledged words, per group
  uint32_t acknowledged[32][3];      // per source and group, as last aggregated
  uint32_t pending[33][3];           // entry i+1 for source i, as the traps leave it
  uint8_t max_level[33];             // highest active level: 0 all sources, i+1 source i
  uint8_t source_condition[32][5];   // per source: power fail, battery low, overload, bypass, smart shutdown
  uint8_t aggregate_prev[5];         // combined conditions at the previous aggregation
  uint8_t aggregate[5];              // combined conditions across the sources
  uint8_t countdown_index;           // 1-5: condition of the shortest countdown, 0 none
  uint8_t mibv4_level[32];           // event level of each MIBv4 alarm bit
  uint8_t mibv5_level[32];
  uint8_t sensor_level[32];
  uint8_t notice_handle[3][32][32];  // scheduler id of each bit's repeating notice, 255 none
  uint32_t countdown[5];             // seconds left per condition, 0 not running
  uint8_t pre_command_started;       // the command file ran in this countdown
  uint8_t pad4449[3];
  uint32_t sys_uptime;               // hundredths of a second since start
  double disk_used[8];               // used fraction of Disk1..Disk8
  uint32_t memory_load;              // percent
  uint32_t cpu_load;                 // percent
};

static_assert(sizeof(StatusRecord) == 4528, "StatusRecord is a wire record");
static_assert(offsetof(StatusRecord, tray_state) == 256);
static_assert(offsetof(StatusRecord, shutdown_cancelled) == 257);
static_assert(offsetof(StatusRecord, countdown_left) == 260);
static_assert(offsetof(StatusRecord, alarm_or) == 264);
static_assert(offsetof(StatusRecord, acknowledged) == 276);
static_assert(offsetof(StatusRecord, pending) == 660);
static_assert(offsetof(StatusRecord, max_level) == 1056);
static_assert(offsetof(StatusRecord, source_condition) == 1089);
static_assert(offsetof(StatusRecord, aggregate_prev) == 1249);
static_assert(offsetof(StatusRecord, aggregate) == 1254);
static_assert(offsetof(StatusRecord, countdown_index) == 1259);
static_assert(offsetof(StatusRecord, mibv4_level) == 1260);
static_assert(offsetof(StatusRecord, mibv5_level) == 1292);
static_assert(offsetof(StatusRecord, sensor_level) == 1324);
static_assert(offsetof(StatusRecord, notice_handle) == 1356);
static_assert(offsetof(StatusRecord, countdown) == 4428);
static_assert(offsetof(StatusRecord, pre_command_started) == 4448);
static_assert(offsetof(StatusRecord, sys_uptime) == 4452);
static_assert(offsetof(StatusRecord, disk_used) == 4456);
static_assert(offsetof(StatusRecord, memory_load) == 4520);
static_assert(offsetof(StatusRecord, cpu_load) == 4524);

extern StatusRecord g_status;

// Empties the record but keeps the OS description; countdown_left -1, notice handles 255.
void status_reset();
// Copies the level of the event that sets each alarm bit into the three level arrays.
void status_copy_event_levels();
