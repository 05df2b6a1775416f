// The one table of the numeric settings: each key's section, key text, range and factory value.
// The settings file reader, the web forms, the console, SNMP SETs and the tray's settings frame
// all check a number against this table.
#pragma once
#include <cstddef>
#include <cstdint>

enum SettingId : uint8_t {
  SETTING_LANGUAGE,            // [Configuration] Language=
  SETTING_HTTP_PORT,           // [Web] HTTP Port=
  SETTING_HTTPS_PORT,          // [Web] HTTPS Port=
  SETTING_WEB_REFRESH,         // [Web] Web Refresh=
  SETTING_LOGIN_RETRY,         // [Web] Login Retry=
  SETTING_LOGIN_LOCK_MINUTES,  // [Web] Locak Time=
  SETTING_SHUTDOWN_TYPE,       // [Shutdown] Type=
  SETTING_DELAY_POWER_FAIL,    // [Shutdown] Power Fail Delay= ... the five delays in condition order
  SETTING_DELAY_BATTERY_LOW,
  SETTING_DELAY_OVERLOAD,
  SETTING_DELAY_BYPASS,
  SETTING_DELAY_SMART_SHUTDOWN,
  SETTING_VM_TYPE,             // [Shutdown] VM Type=
  SETTING_NOTIFY_PERIOD,       // [Reaction] Notify Message Period=
  SETTING_COMMAND_BEFORE,      // [Reaction] Execute Command Before=
  SETTING_TRAP_PORT,           // [Source IP] Listen Port=
  SETTING_SOURCE_COUNT,        // [Source IP] Number=
  SETTING_FORWARD_COUNT,       // [Forward Trap] Number=
  SETTING_AGENT_PORT,          // [SNMP Server] Listen Port=
  SETTING_MANAGER_COUNT,       // [SNMP Server] Number=
  SETTING_USM_COUNT,           // [USM] Number=
  SETTING_CLUSTER_COUNT,       // [Cluster] Number=
  // Fields of list entries (key text without its index). An invalid value of a choice falls back
  // to its factory value, the one that gives the least access.
  SETTING_FORWARD_PORT,        // [Forward Trap] Port<i>=
  SETTING_MANAGER_PERMISSION,  // [SNMP Server] Permission<i>=
  SETTING_USM_SECURITY,        // [USM] Security<i>=
  SETTING_USM_PERMISSION,      // [USM] Permission<i>=
  SETTING_COUNT
};

// How a value outside the range is taken: clamped to the nearer end, (a choice of access)
// replaced by the factory value, or (a list's count) ignored: the settings file's reader keeps the
// count the list had, so no rows are made beyond the table or the entries read.
enum SettingKind : uint8_t { SETTING_KIND_RANGE, SETTING_KIND_CHOICE, SETTING_KIND_COUNT };

struct SettingRange {
  const char* section;  // section name as in agent.ini, without brackets
  const char* key;      // key text as in agent.ini, with its '=' (list fields without index and '=')
  int64_t minimum;
  int64_t maximum;
  int64_t factory;      // value of a missing key or of one that is not a number
  SettingKind kind;
};

enum SettingCheck : uint8_t {
  SETTING_OK,             // a decimal number inside the range
  SETTING_NOT_A_NUMBER,   // empty, or anything but an optional sign and decimal digits
  SETTING_OUT_OF_RANGE,   // a decimal number outside the range (however many digits)
};

// The table row of id; id must be below SETTING_COUNT.
const SettingRange& settings_range(SettingId id);
// The id whose section and key text match (key with its '=' for the plain keys, without index for
// list fields); false when none does.
bool settings_find(const char* section, const char* key, SettingId* id);

// Reads length bytes of text as a decimal number: an optional '+' or '-' and at least one digit,
// nothing else (no blanks). *value gets the number, saturated at the 64-bit limits (then the
// result is SETTING_OUT_OF_RANGE); it is left alone for SETTING_NOT_A_NUMBER.
SettingCheck settings_parse_decimal(const char* text, size_t length, int64_t* value);
// Checks value against id's range; *used gets the value to take: value itself when inside,
// otherwise the nearer end of the range (also for a count, whose reader may keep its own instead),
// or the factory value for a choice.
SettingCheck settings_clamp(SettingId id, int64_t value, int64_t* used);
// Parses and checks a text for id: *used gets the value to take (the factory value when the text is
// not a number). A form refuses any result but SETTING_OK; the file reader takes *used.
SettingCheck settings_value_from_text(SettingId id, const char* text, size_t length, int64_t* used);
