// The table of numeric settings and the checks every reader of a number uses.
#include "common/settings_ranges.h"

#include <cstring>

namespace {

// Row order is the SettingId order.
const SettingRange kRanges[SETTING_COUNT] = {
    {"Configuration", "Language=", 0, 3, 0, SETTING_KIND_RANGE},
    {"Web", "HTTP Port=", 1, 65535, 80, SETTING_KIND_RANGE},
    {"Web", "HTTPS Port=", 1, 65535, 443, SETTING_KIND_RANGE},
    {"Web", "Web Refresh=", 1, 65535, 10, SETTING_KIND_RANGE},
    {"Web", "Login Retry=", 0, 65535, 5, SETTING_KIND_RANGE},
    {"Web", "Locak Time=", 0, 65535, 10, SETTING_KIND_RANGE},
    {"Shutdown", "Type=", 0, 3, 0, SETTING_KIND_RANGE},
    {"Shutdown", "Power Fail Delay=", 0, 99999, 300, SETTING_KIND_RANGE},
    {"Shutdown", "Battery Low Delay=", 0, 99999, 30, SETTING_KIND_RANGE},
    {"Shutdown", "Overload Delay=", 0, 99999, 60, SETTING_KIND_RANGE},
    {"Shutdown", "Bypass Delay=", 0, 99999, 300, SETTING_KIND_RANGE},
    {"Shutdown", "Smart Shutdown Delay=", 0, 99999, 30, SETTING_KIND_RANGE},
    // 0 the ESXi 6.5 script, 1 the ESXi 5 script, 2 neither (the cluster scripts still run).
    {"Shutdown", "VM Type=", 0, 2, 0, SETTING_KIND_RANGE},
    {"Reaction", "Notify Message Period=", 0, 65535, 60, SETTING_KIND_RANGE},
    // Compared with the seconds left of a countdown, which never exceed the longest delay.
    {"Reaction", "Execute Command Before=", 0, 99999, 120, SETTING_KIND_RANGE},
    {"Source IP", "Listen Port=", 1, 65535, 162, SETTING_KIND_RANGE},
    {"Source IP", "Number=", 0, 32, 0, SETTING_KIND_COUNT},
    {"Forward Trap", "Number=", 0, 255, 0, SETTING_KIND_COUNT},
    {"SNMP Server", "Listen Port=", 1, 65535, 161, SETTING_KIND_RANGE},
    {"SNMP Server", "Number=", 0, 255, 1, SETTING_KIND_COUNT},
    {"USM", "Number=", 0, 32, 1, SETTING_KIND_COUNT},
    {"Cluster", "Number=", 0, 16, 0, SETTING_KIND_COUNT},
    {"Forward Trap", "Port", 1, 65535, 162, SETTING_KIND_RANGE},
    // 0 no access, 1 read only, 2 read and write.
    {"SNMP Server", "Permission", 0, 2, 0, SETTING_KIND_CHOICE},
    // 0 none, 1 authentication, 2 authentication and privacy.
    {"USM", "Security", 0, 2, 2, SETTING_KIND_CHOICE},
    // 0 no access, 1 read only, 2 and above read and write: kept as stored.
    {"USM", "Permission", 0, 255, 0, SETTING_KIND_CHOICE},
};

}  // namespace

const SettingRange& settings_range(SettingId id) { return kRanges[id < SETTING_COUNT ? id : 0]; }

bool settings_find(const char* section, const char* key, SettingId* id) {
  if (!section || !key) return false;
  for (int i = 0; i < SETTING_COUNT; ++i) {
    if (strcmp(kRanges[i].section, section) == 0 && strcmp(kRanges[i].key, key) == 0) {
      *id = SettingId(i);
      return true;
    }
  }
  return false;
}

SettingCheck settings_parse_decimal(const char* text, size_t length, int64_t* value) {
  if (!text) return SETTING_NOT_A_NUMBER;
  size_t i = 0;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == length) return SETTING_NOT_A_NUMBER;
  // Magnitude up to 2^63; one more digit saturates.
  constexpr uint64_t kLimit = uint64_t(INT64_MAX) + 1;
  uint64_t magnitude = 0;
  bool saturated = false;
  for (; i < length; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return SETTING_NOT_A_NUMBER;
    unsigned digit = unsigned(c - '0');
    if (magnitude > (kLimit - digit) / 10) saturated = true;
    else magnitude = magnitude * 10 + digit;
  }
  if (negative) {
    *value = saturated || magnitude == kLimit ? INT64_MIN : -int64_t(magnitude);
  } else {
    saturated = saturated || magnitude == kLimit;
    *value = saturated ? INT64_MAX : int64_t(magnitude);
  }
  return saturated ? SETTING_OUT_OF_RANGE : SETTING_OK;
}

SettingCheck settings_clamp(SettingId id, int64_t value, int64_t* used) {
  const SettingRange& r = settings_range(id);
  if (value >= r.minimum && value <= r.maximum) {
    *used = value;
    return SETTING_OK;
  }
  if (r.kind == SETTING_KIND_CHOICE) *used = r.factory;
  else *used = value < r.minimum ? r.minimum : r.maximum;
  return SETTING_OUT_OF_RANGE;
}

SettingCheck settings_value_from_text(SettingId id, const char* text, size_t length, int64_t* used) {
  int64_t value = 0;
  SettingCheck parsed = settings_parse_decimal(text, length, &value);
  if (parsed == SETTING_NOT_A_NUMBER) {
    *used = settings_range(id).factory;
    return SETTING_NOT_A_NUMBER;
  }
  return settings_clamp(id, value, used);
}
