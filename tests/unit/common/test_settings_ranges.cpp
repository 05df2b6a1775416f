#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "common/settings.h"
#include "common/settings_ranges.h"

namespace {

struct ParseCase {
  const char* text;
  SettingCheck result;
  int64_t value;  // when not SETTING_NOT_A_NUMBER
};

TEST(SettingsRanges, DecimalParserTellsNumbersFromOtherTextAndSaturates) {
  const ParseCase cases[] = {
      {"0", SETTING_OK, 0},
      {"300", SETTING_OK, 300},
      {"+7", SETTING_OK, 7},
      {"-5", SETTING_OK, -5},
      {"007", SETTING_OK, 7},
      {"9223372036854775807", SETTING_OK, INT64_MAX},
      {"-9223372036854775808", SETTING_OK, INT64_MIN},
      {"9223372036854775808", SETTING_OUT_OF_RANGE, INT64_MAX},
      {"99999999999999999999999", SETTING_OUT_OF_RANGE, INT64_MAX},
      {"-99999999999999999999999", SETTING_OUT_OF_RANGE, INT64_MIN},
      {"", SETTING_NOT_A_NUMBER, 0},
      {"-", SETTING_NOT_A_NUMBER, 0},
      {"+", SETTING_NOT_A_NUMBER, 0},
      {"abc", SETTING_NOT_A_NUMBER, 0},
      {"12abc", SETTING_NOT_A_NUMBER, 0},
      {" 12", SETTING_NOT_A_NUMBER, 0},
      {"12 ", SETTING_NOT_A_NUMBER, 0},
      {"1.5", SETTING_NOT_A_NUMBER, 0},
      {"0x10", SETTING_NOT_A_NUMBER, 0},
      {"--1", SETTING_NOT_A_NUMBER, 0},
      {"99999999999999999999999x", SETTING_NOT_A_NUMBER, 0},
  };
  for (const ParseCase& c : cases) {
    int64_t value = 12345;
    EXPECT_EQ(settings_parse_decimal(c.text, strlen(c.text), &value), c.result) << c.text;
    EXPECT_EQ(value, c.result == SETTING_NOT_A_NUMBER ? 12345 : c.value) << c.text;
  }
}

TEST(SettingsRanges, DecimalParserReadsOnlyTheBytesItIsGiven) {
  // The digits go on past the length; a text without a terminator is read within its length.
  const char text[] = {'4', '2', '9', '9'};
  int64_t value = 0;
  EXPECT_EQ(settings_parse_decimal(text, 2, &value), SETTING_OK);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(settings_parse_decimal(text, 0, &value), SETTING_NOT_A_NUMBER);
  EXPECT_EQ(settings_parse_decimal(nullptr, 0, &value), SETTING_NOT_A_NUMBER);
}

struct ValueCase {
  SettingId id;
  const char* text;
  SettingCheck result;
  int64_t used;
};

TEST(SettingsRanges, TextsAreTakenClampedOrReplacedByTheFactoryValue) {
  const ValueCase cases[] = {
      // Ports: 1 to 65535.
      {SETTING_HTTP_PORT, "8080", SETTING_OK, 8080},
      {SETTING_HTTP_PORT, "99999", SETTING_OUT_OF_RANGE, 65535},
      {SETTING_HTTP_PORT, "0", SETTING_OUT_OF_RANGE, 1},
      {SETTING_HTTP_PORT, "", SETTING_NOT_A_NUMBER, 80},
      {SETTING_HTTPS_PORT, "70000", SETTING_OUT_OF_RANGE, 65535},
      {SETTING_TRAP_PORT, "0", SETTING_OUT_OF_RANGE, 1},
      {SETTING_TRAP_PORT, "x", SETTING_NOT_A_NUMBER, 162},
      {SETTING_AGENT_PORT, "65535", SETTING_OK, 65535},
      {SETTING_AGENT_PORT, "65536", SETTING_OUT_OF_RANGE, 65535},
      {SETTING_FORWARD_PORT, "abc", SETTING_NOT_A_NUMBER, 162},
      {SETTING_FORWARD_PORT, "-1", SETTING_OUT_OF_RANGE, 1},
      // Delays 0 to 99999, 0 being no countdown.
      {SETTING_DELAY_POWER_FAIL, "-5", SETTING_OUT_OF_RANGE, 0},
      {SETTING_DELAY_POWER_FAIL, "abc", SETTING_NOT_A_NUMBER, 300},
      {SETTING_DELAY_POWER_FAIL, "99999", SETTING_OK, 99999},
      {SETTING_DELAY_POWER_FAIL, "100000", SETTING_OUT_OF_RANGE, 99999},
      {SETTING_DELAY_POWER_FAIL, "0", SETTING_OK, 0},
      {SETTING_DELAY_BATTERY_LOW, "99999999999", SETTING_OUT_OF_RANGE, 99999},
      {SETTING_DELAY_SMART_SHUTDOWN, "", SETTING_NOT_A_NUMBER, 30},
      // Listed values.
      {SETTING_LANGUAGE, "3", SETTING_OK, 3},
      {SETTING_LANGUAGE, "200", SETTING_OUT_OF_RANGE, 3},
      {SETTING_LANGUAGE, "-1", SETTING_OUT_OF_RANGE, 0},
      {SETTING_SHUTDOWN_TYPE, "4", SETTING_OUT_OF_RANGE, 3},
      {SETTING_VM_TYPE, "2", SETTING_OK, 2},
      {SETTING_VM_TYPE, "3", SETTING_OUT_OF_RANGE, 2},
      // Periods and counts.
      {SETTING_NOTIFY_PERIOD, "70000", SETTING_OUT_OF_RANGE, 65535},
      {SETTING_WEB_REFRESH, "0", SETTING_OUT_OF_RANGE, 1},
      {SETTING_SOURCE_COUNT, "40", SETTING_OUT_OF_RANGE, 32},
      {SETTING_USM_COUNT, "33", SETTING_OUT_OF_RANGE, 32},
      {SETTING_CLUSTER_COUNT, "17", SETTING_OUT_OF_RANGE, 16},
      {SETTING_FORWARD_COUNT, "256", SETTING_OUT_OF_RANGE, 255},
      // List entries' choices fall back to the least access, never to more.
      {SETTING_MANAGER_PERMISSION, "2", SETTING_OK, 2},
      {SETTING_MANAGER_PERMISSION, "3", SETTING_OUT_OF_RANGE, 0},
      {SETTING_MANAGER_PERMISSION, "258", SETTING_OUT_OF_RANGE, 0},
      {SETTING_MANAGER_PERMISSION, "rw", SETTING_NOT_A_NUMBER, 0},
      {SETTING_USM_PERMISSION, "-1", SETTING_OUT_OF_RANGE, 0},
      {SETTING_USM_PERMISSION, "", SETTING_NOT_A_NUMBER, 0},
      {SETTING_USM_SECURITY, "0", SETTING_OK, 0},
      {SETTING_USM_SECURITY, "3", SETTING_OUT_OF_RANGE, 2},
      {SETTING_USM_SECURITY, "-1", SETTING_OUT_OF_RANGE, 2},
      {SETTING_USM_SECURITY, "none", SETTING_NOT_A_NUMBER, 2},
  };
  for (const ValueCase& c : cases) {
    int64_t used = -777;
    EXPECT_EQ(settings_value_from_text(c.id, c.text, strlen(c.text), &used), c.result)
        << settings_range(c.id).key << c.text;
    EXPECT_EQ(used, c.used) << settings_range(c.id).key << c.text;
  }
}

TEST(SettingsRanges, EveryRowIsConsistentAndFoundByItsKey) {
  for (int i = 0; i < SETTING_COUNT; ++i) {
    const SettingRange& r = settings_range(SettingId(i));
    EXPECT_LE(r.minimum, r.factory) << r.key;
    EXPECT_LE(r.factory, r.maximum) << r.key;
    SettingId found = SETTING_COUNT;
    ASSERT_TRUE(settings_find(r.section, r.key, &found)) << r.section << " " << r.key;
    EXPECT_EQ(found, SettingId(i)) << r.key;
    int64_t used = 0;
    EXPECT_EQ(settings_clamp(SettingId(i), r.factory, &used), SETTING_OK) << r.key;
  }
  SettingId id;
  EXPECT_FALSE(settings_find("Web", "Listen Port=", &id));
  EXPECT_FALSE(settings_find("Web", "HTTP Port", &id));
  EXPECT_TRUE(settings_find("Source IP", "Listen Port=", &id));
  EXPECT_EQ(id, SETTING_TRAP_PORT);
}

TEST(SettingsRanges, FactoryValuesAreTheFactorySettings) {
  cfg_set_defaults();
  const struct {
    SettingId id;
    int64_t value;
  } fields[] = {
      {SETTING_LANGUAGE, g_settings.language},
      {SETTING_HTTP_PORT, g_settings.http_port},
      {SETTING_HTTPS_PORT, g_settings.https_port},
      {SETTING_WEB_REFRESH, g_settings.web_refresh},
      {SETTING_LOGIN_RETRY, g_settings.login_retry},
      {SETTING_LOGIN_LOCK_MINUTES, g_settings.login_lock_minutes},
      {SETTING_SHUTDOWN_TYPE, g_settings.shutdown_type},
      {SETTING_DELAY_POWER_FAIL, g_settings.condition_delay[0]},
      {SETTING_DELAY_BATTERY_LOW, g_settings.condition_delay[1]},
      {SETTING_DELAY_OVERLOAD, g_settings.condition_delay[2]},
      {SETTING_DELAY_BYPASS, g_settings.condition_delay[3]},
      {SETTING_DELAY_SMART_SHUTDOWN, g_settings.condition_delay[4]},
      {SETTING_VM_TYPE, g_settings.vm_type},
      {SETTING_NOTIFY_PERIOD, g_settings.notify_period},
      {SETTING_COMMAND_BEFORE, g_settings.command_before},
      {SETTING_TRAP_PORT, g_source_ips.listen_port},
      {SETTING_AGENT_PORT, g_snmp_agent.listen_port},
      {SETTING_SOURCE_COUNT, g_source_ips.count},
      {SETTING_FORWARD_COUNT, g_forward_traps.count},
      {SETTING_MANAGER_COUNT, g_snmp_agent.count},
      {SETTING_USM_COUNT, g_usm.count},
  };
  for (const auto& f : fields) EXPECT_EQ(settings_range(f.id).factory, f.value) << settings_range(f.id).key;
}

}  // namespace
