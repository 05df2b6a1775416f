// The settings records of the program and their factory defaults.
#include "common/settings.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "platform/clock.h"
#include "platform/random_source.h"

AgentSettings g_settings;
SourceIpList g_source_ips;
ForwardTrapList g_forward_traps;
SnmpAgentSettings g_snmp_agent;
UsmSettings g_usm;
ClusterList g_clusters;

const char16_t* const LanguageNames[4] = {u"English", u"Traditional Chinese", u"Simplified Chinese", u"Polish"};

const char16_t* cfg_language_name() {
  return LanguageNames[g_settings.language < 4 ? g_settings.language : 0];
}

static const char* const kDefaultDisks[8] = {"C:\\", "D:\\", "E:\\", "F:\\", "G:\\", "H:\\", "I:\\", "J:\\"};

StoredRecords cfg_records_copy() { return {g_settings, g_source_ips, g_forward_traps, g_snmp_agent, g_usm, g_clusters}; }

void cfg_records_put(const StoredRecords& records) {
  g_settings = records.settings;
  g_source_ips = records.sources;
  g_forward_traps = records.targets;
  g_snmp_agent = records.agent;
  g_usm = records.usm;
  g_clusters = records.clusters;
}

void cfg_keep_run_time_state(AgentSettings* settings) {
  memcpy(settings->login_fail_count, g_settings.login_fail_count, sizeof settings->login_fail_count);
  memcpy(settings->login_lock_seconds, g_settings.login_lock_seconds, sizeof settings->login_lock_seconds);
  settings->stop_service = g_settings.stop_service;
}

void cfg_set_defaults() {
  AgentSettings& s = g_settings;
  memset(&s, 0, sizeof s);
  static const uint8_t enable[5] = {1, 1, 1, 0, 1};
  static const uint32_t delay[5] = {300, 30, 60, 300, 30};
  memcpy(s.condition_enable, enable, sizeof enable);
  memcpy(s.condition_delay, delay, sizeof delay);
  s.guest_enable = 1;
  s.vm_password_mode = 2;
  text_utf8_to_utf16(s.vcli_path, 256, "C:\\Program Files (x86)\\VMware\\VMware vSphere CLI");
  s.notify_enable = 1;
  s.notify_period = 60;
  s.command_before = 120;
  s.http_port = 80;
  s.https_port = 443;
  s.web_protocols = 3;
  s.web_refresh = 10;
  static const char* const users[3] = {"admin", "device", "user"};
  for (int i = 0; i < 3; ++i) {
    text_utf8_to_utf16(s.account_user[i], 33, users[i]);
    text_utf8_to_utf16(s.account_password[i], 33, "quillbox");
  }
  s.web_password_mode = 2;
  s.login_lock_enable = 1;
  s.login_retry = 5;
  s.login_lock_minutes = 10;
  SystemTime now;
  clock_local_time(&now);
  char date[32];
  snprintf(date, sizeof date, "%02d/%02d/%04d", now.month, now.day, now.year);
  text_utf8_to_utf16(s.install_date, 33, date);
  s.force_https = 1;
  s.manageable = 1;
  for (int i = 0; i < 8; ++i) text_utf8_to_utf16(s.disk_name[i], 17, kDefaultDisks[i]);
  text_copy8(s.kestra_power_fail, 33, "S Mainsfailure");
  text_copy8(s.kestra_battery_low, 33, "S Ua Low");

  memset(&g_source_ips, 0, sizeof g_source_ips);
  g_source_ips.listen_port = 162;
  memset(&g_forward_traps, 0, sizeof g_forward_traps);

  // The agent's run-time engine counters are not settings and survive.
  uint16_t engine_time = g_snmp_agent.engine_time, engine_boots = g_snmp_agent.engine_boots;
  memset(&g_snmp_agent, 0, sizeof g_snmp_agent);
  g_snmp_agent.engine_time = engine_time;
  g_snmp_agent.engine_boots = engine_boots;
  g_snmp_agent.listen_port = 161;
  g_snmp_agent.count = 1;
  text_copy8(g_snmp_agent.ip[0], 52, "0.0.0.0");
  text_copy8(g_snmp_agent.community[0], 17, "fenwix");
  g_snmp_agent.permission[0] = 1;

  memset(&g_usm, 0, sizeof g_usm);
  text_copy8(g_usm.context_name, 17, "rt5830");
  g_usm.password_mode = 2;
  g_usm.count = 1;
  text_copy8(g_usm.user[0], 17, "manager");
  g_usm.security[0] = 2;
  text_copy8(g_usm.auth[0], 17, "mq472816");
  text_copy8(g_usm.priv[0], 17, "hv305749");
  g_usm.permission[0] = 2;
}

bool cfg_make_manager_phrases(bool auth, bool priv) {
  // 64 characters: each random byte gives one, uniformly.
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  static_assert(sizeof kAlphabet - 1 == 64);
  uint8_t bytes[2 * CFG_MADE_PHRASE_LENGTH];
  if (!random_fill(bytes, sizeof bytes)) return false;
  char* fields[2] = {auth ? g_usm.auth[0] : nullptr, priv ? g_usm.priv[0] : nullptr};
  for (int f = 0; f < 2; ++f) {
    if (!fields[f]) continue;
    for (int i = 0; i < CFG_MADE_PHRASE_LENGTH; ++i) fields[f][i] = kAlphabet[bytes[f * CFG_MADE_PHRASE_LENGTH + i] & 63];
    fields[f][CFG_MADE_PHRASE_LENGTH] = 0;
  }
  memset(bytes, 0, sizeof bytes);
  return true;
}
