// Event definitions: the names and levels of the four event groups, read per language from
// "<install>/Language/<language>/event-*.ini", and the event module's operation table EventApi.
// The name and level arrays are read directly by the modules that log; everything else goes
// through EventApi.
#pragma once
#include <cstdint>

// Group indices; 0 to 2 are also the alarm group indices of traps and alarm words.
constexpr uint8_t EVT_GROUP_MIBV4 = 0;
constexpr uint8_t EVT_GROUP_MIBV5 = 1;
constexpr uint8_t EVT_GROUP_SENSOR = 2;
constexpr uint8_t EVT_GROUP_COMMON = 3;
constexpr uint8_t EVT_GROUP_COUNT = 4;

constexpr uint32_t EVT_COMMON_EVENTS = 22;
constexpr uint32_t EVT_MIBV4_EVENTS = 59;
constexpr uint32_t EVT_MIBV5_EVENTS = 51;
constexpr uint32_t EVT_SENSOR_EVENTS = 18;
constexpr uint32_t EVT_NAME_MAX = 255;  // characters of a name text, terminator excluded

constexpr uint8_t EVENT_LEVEL_SYSTEM = 0;
constexpr uint8_t EVENT_LEVEL_INFORMATION = 1;
constexpr uint8_t EVENT_LEVEL_WARNING = 2;
constexpr uint8_t EVENT_LEVEL_SEVERITY = 3;

// The common events the service raises itself; the arguments each takes, in order.
enum : uint32_t {
  EVT_COMMON_SERVICE_STARTED = 1,       // none
  EVT_COMMON_SERVICE_STOPPED = 2,       // none
  EVT_COMMON_LOGIN_ACCEPTED = 3,        // account name, client address
  EVT_COMMON_LOGOUT = 4,                // client address
  EVT_COMMON_COUNTDOWN_CANCELLED = 5,   // none
  EVT_COMMON_CANCEL_WITHDRAWN = 6,      // none
  EVT_COMMON_COUNTDOWN_STARTED = 7,     // time left as text
  EVT_COMMON_COUNTDOWN_ENDED = 8,       // none
  EVT_COMMON_OS_SHUTDOWN = 9,           // none
  EVT_COMMON_NOTICES_PAUSED = 10,       // none
  EVT_COMMON_LOGIN_REFUSED = 11,        // user name as typed, client address
  EVT_COMMON_ACCOUNT_LOCKED = 12,       // user name as typed
  EVT_COMMON_UNKNOWN_ACCOUNT = 13,      // client address
  EVT_COMMON_OS_ACTION_FAILED = 14,     // the operating-system action ("halt", "poweroff", "hibernate")
  EVT_COMMON_PROGRAM_REFUSED = 15,      // path of the file not run, the reason
  EVT_COMMON_V3_REPLAY_REFUSED = 16,    // sender address, engine id (hex)
  EVT_COMMON_SETTING_REPLACED = 17,     // key, value found, value used
  EVT_COMMON_SETTINGS_DAMAGED = 18,     // path, the reason, path of the kept copy
  EVT_COMMON_SETTINGS_UNREADABLE = 19,  // path, the reason
  EVT_COMMON_SETTINGS_SAVE_FAILED = 20, // path, the reason
  EVT_COMMON_LOG_LINES_LOST = 21,       // number of lines lost
  EVT_COMMON_TRAPS_REFUSED = 22,        // reason of the last refusal, its source address, number refused
};

// Entry n-1 holds event n. Names are owned heap texts of at most 255 characters, null before the
// first load and after a free. Levels are the low 8 bits of the file's number (0 when missing).
struct EventDefsRecord {
  uint8_t common_level[EVT_COMMON_EVENTS];
  uint8_t mibv4_level[EVT_MIBV4_EVENTS];
  uint8_t mibv5_level[EVT_MIBV5_EVENTS];
  uint8_t sensor_level[EVT_SENSOR_EVENTS];
  char16_t* common_name[EVT_COMMON_EVENTS];
  char16_t* mibv4_name[EVT_MIBV4_EVENTS];
  char16_t* mibv5_name[EVT_MIBV5_EVENTS];
  char16_t* sensor_name[EVT_SENSOR_EVENTS];
};

extern EventDefsRecord EventDefs;

struct EventApiTable {
  // 0: reads the four files of the language into EventDefs (texts held before are freed).
  void (*evt_load_definitions)(const char16_t* language);
  // 1: frees every name text; levels stay.
  void (*evt_free_definitions)();
  // 2: appends one line to the log: source, level, text, then up to six const char16_t*
  // arguments, always ended by a null pointer (also when there are none).
  void (*evt_log)(const char16_t* source, uint32_t level, const char16_t* text, ...);
  // 3: the line n back from the newest (0 = newest) without its line end, into out of
  // EVENT_LOG_LINE_BYTES bytes; 1, or 0 when there is no such line.
  int (*evt_read_recent_line)(uint32_t n, char* out);
  // 4: cuts a line in place into source, level, date, time and message; 1, or 0 when it has
  // fewer than four separating spaces.
  int (*evt_split_line)(char* line, char** source, char** level, char** date, char** time, char** message);
  // 5: deletes the log file and sets the line count to 0; nonzero when no log file is left.
  int (*evt_clear_log)();
  // 6: writes the table view of one page of 30 lines (0 = newest).
  void (*evt_render_page)(uint32_t page);
  // 7: writes the table view of the lines dated from..to; dates are {month, day, year - 2000}.
  void (*evt_render_range)(const uint8_t* from, const uint8_t* to);
  // 8: writes the page buttons for the page into buffer; the bytes written.
  uint32_t (*evt_render_pager)(char* buffer, int32_t page);
  // 9: writes the CSV export of the log.
  void (*evt_export_csv)();
};

extern EventApiTable EventApi;

// Starts the module: keeps the installation folder (UTF-16) as the base of every path, fills
// EventApi, loads the language's definitions and counts the log's lines.
void evt_init(const char16_t* install_dir, const char16_t* language);
void evt_load_definitions(const char16_t* language);
void evt_free_definitions();

// The installation folder as UTF-8, as given to evt_init ("" before).
const char* evt_install_dir();
// Event n (1-based) of a group: its name ("" when unloaded or out of range) and level (0 then).
const char16_t* evt_name(uint8_t group, uint32_t n);
uint8_t evt_level(uint8_t group, uint32_t n);
