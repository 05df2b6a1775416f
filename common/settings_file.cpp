// Writer and reader of agent.ini (format version 8) and the migration of older versions.
// The writer builds the whole file in memory and replaces the old one in a single rename, so a
// crash or power loss during a save never leaves a cut file behind.
#include "common/settings_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_ranges.h"
#include "common/text.h"
#include "platform/fs.h"

const char* const IniSections[INI_SECTION_COUNT] = {
    "Format", "Configuration", "System", "Web", "Shutdown", "Reaction", "Source IP",
    "Forward Trap", "SNMP Server", "USM", "Cluster", "Manageable", "Kestra", "End"};

int32_t IniVersion = 0;

enum Section : uint32_t {
  SEC_FORMAT, SEC_CONFIGURATION, SEC_SYSTEM, SEC_WEB, SEC_SHUTDOWN, SEC_REACTION, SEC_SOURCE_IP,
  SEC_FORWARD_TRAP, SEC_SNMP_SERVER, SEC_USM, SEC_CLUSTER, SEC_MANAGEABLE, SEC_KESTRA, SEC_END
};

// Longest UTF-8 value the writer makes (255 units of 3 bytes) and longest line the reader takes
// whole; the rest of a longer line is skipped, never read as a line of its own.
constexpr size_t INI_VALUE_MAX = 3 * 255 + 1;
constexpr size_t INI_LINE_MAX = 1024;
static_assert(INI_LINE_MAX > INI_VALUE_MAX + 32, "a key and the longest value fit in one line");

// True while the settings file exists but cannot be read: this program then never writes it.
static bool g_ini_unreadable = false;
static bool g_ini_read_only = false;
// True while a damaged file could not be kept aside: it is not replaced either.
static bool g_ini_keep_damaged = false;
static CfgSaveObserver g_save_observer = nullptr;

static const char kDefaultVcliPath[] = "C:\\Program Files (x86)\\VMware\\VMware vSphere CLI";

// ---------------------------------------------------------------------------------------------
// Writer

namespace {

struct IniWriter {
  std::string text;

  void section(uint32_t s) { text += '['; text += IniSections[s]; text += "]\r\n"; }
  void line(const char* key, const char* value) { text += key; text += value; text += "\r\n"; }
  void indexed(const char* key, int index, const char* value) {
    text += key;
    text += std::to_string(index);
    text += '=';
    text += value;
    text += "\r\n";
  }
  void number(const char* key, long long v) { line(key, std::to_string(v).c_str()); }
  void indexed_number(const char* key, int index, long long v) { indexed(key, index, std::to_string(v).c_str()); }
  void flag(const char* key, unsigned v) { line(key, v ? "Yes" : "No"); }
  // A UTF-16 field of `room` units as UTF-8, whole (at most 3 bytes a unit).
  void utf16(const char* key, const char16_t* field, size_t room) {
    char16_t tmp[260];
    text_copy16(tmp, room < 260 ? room : 260, field);
    char out[INI_VALUE_MAX];
    text_utf16_to_utf8(out, sizeof out, tmp);
    line(key, out);
  }
  // An 8-bit field of `room` bytes, as it is.
  void bytes(const char* key, const char* field, size_t room) {
    char tmp[64];
    text_copy8(tmp, room < 64 ? room : 64, field);
    line(key, tmp);
  }
  void indexed_bytes(const char* key, int index, const char* field, size_t room) {
    char tmp[64];
    text_copy8(tmp, room < 64 ? room : 64, field);
    indexed(key, index, tmp);
  }
};

const char* mode_text(uint8_t mode) { return mode == 1 ? "Yes" : mode == 2 ? "Advanced" : "No"; }

// One byte per UTF-16 unit, for the four ESXi keys.
void one_byte_form(char* out, size_t room, const char16_t* field, size_t field_room) {
  char16_t tmp[260];
  text_copy16(tmp, field_room < 260 ? field_room : 260, field);
  text_utf16_to_bytes(out, room, tmp);
}

std::string build_file() {
  const AgentSettings& s = g_settings;
  IniWriter w;
  char coded[256];

  w.section(SEC_FORMAT);
  w.number("Version=", INI_FORMAT_VERSION);
  w.line("Restart=", "No");

  w.section(SEC_CONFIGURATION);
  w.flag("Stop Service=", s.stop_service);
  w.number("Language=", s.language);

  w.section(SEC_SYSTEM);
  w.utf16("Install Date=", s.install_date, 33);
  w.utf16("Location=", s.location, 65);
  w.utf16("Description=", s.description, 129);
  w.utf16("Contactor=", s.contactor, 33);
  w.utf16("Name=", s.system_name, 33);
  for (int i = 0; i < 8; ++i) {
    char key[8];
    snprintf(key, sizeof key, "Disk%d=", i + 1);
    w.utf16(key, s.disk_name[i], 17);
  }

  w.section(SEC_WEB);
  w.number("HTTP Port=", s.http_port);
  w.number("HTTPS Port=", s.https_port);
  w.flag("Enable HTTP=", s.web_protocols & 1);
  w.flag("Enable HTTPS=", s.web_protocols & 2);
  w.flag("Force HTTPS=", s.force_https);
  w.number("Web Refresh=", s.web_refresh);
  if (s.web_password_mode <= 2) w.line("Password Encrypt=", mode_text(s.web_password_mode));
  for (int i = 0; i < 3; ++i) {
    w.text += "User" + std::to_string(i) + "=";
    w.utf16("", s.account_user[i], 33);
    if (s.web_password_mode <= 2) {
      char16_t tmp[33];
      char plain[3 * 32 + 1];
      text_copy16(tmp, 33, s.account_password[i]);
      int n = int(text_utf16_to_utf8(plain, sizeof plain, tmp));
      cfg_code_secret(s.web_password_mode, plain, n, coded);
      w.indexed("Password", i, coded);
    }
  }
  w.line("Enable Login Lock=", s.login_lock_enable ? "Enable" : "Disable");
  w.number("Login Retry=", s.login_retry);
  w.number("Locak Time=", s.login_lock_minutes);

  w.section(SEC_SHUTDOWN);
  w.number("Type=", s.shutdown_type);
  static const char* const cond[5] = {"Power Fail", "Battery Low", "Overload", "Bypass", "Smart Shutdown"};
  for (int c = 0; c < 5; ++c) {
    w.flag((std::string(cond[c]) + " Enable=").c_str(), s.condition_enable[c]);
    w.number((std::string(cond[c]) + " Delay=").c_str(), s.condition_delay[c]);
  }
  w.flag("VM Enable=", s.vm_enable);
  w.number("VM Type=", s.vm_type);
  char one[260];
  one_byte_form(one, sizeof one, s.vm_server, 129);
  w.line("VM Server=", one);
  one_byte_form(one, sizeof one, s.vm_account, 33);
  w.line("VM Account=", one);
  if (s.vm_password_mode <= 2) {
    w.line("Password Encrypt=", mode_text(s.vm_password_mode));
    one_byte_form(one, sizeof one, s.vm_password, 33);
    cfg_code_secret(s.vm_password_mode, one, int(strlen(one)), coded);
    w.line("VM Password=", coded);
  }
  one_byte_form(one, sizeof one, s.vcli_path, 256);
  w.line("vCLI Path=", one);
  w.flag("Guest Enable=", s.guest_enable);

  w.section(SEC_REACTION);
  w.flag("Notify Message Enable=", s.notify_enable);
  w.number("Notify Message Period=", s.notify_period);
  w.flag("Execute Command Enable=", s.command_enable);
  w.number("Execute Command Before=", s.command_before);
  w.utf16("Execute Command File=", s.command_file, 256);

  w.section(SEC_SOURCE_IP);
  const SourceIpList& src = g_source_ips;
  w.number("Listen Port=", src.listen_port);
  w.number("Logical=", src.logical);
  w.number("Number=", src.count);
  for (int i = 0; i < src.count && i < SOURCE_IP_MAX; ++i) {
    w.indexed_bytes("IP", i + 1, src.ip[i], 52);
    w.indexed_bytes("Community", i + 1, src.community[i], 17);
    w.indexed_bytes("USM User", i + 1, src.usm_user[i], 17);
  }

  w.section(SEC_FORWARD_TRAP);
  const ForwardTrapList& fwd = g_forward_traps;
  w.number("Number=", fwd.count);
  for (int i = 0; i < fwd.count; ++i) {
    w.indexed_bytes("IP", i + 1, fwd.ip[i], 52);
    w.indexed_number("Port", i + 1, fwd.port[i]);
  }

  w.section(SEC_SNMP_SERVER);
  const SnmpAgentSettings& ag = g_snmp_agent;
  w.number("Listen Port=", ag.listen_port);
  w.number("Number=", ag.count);
  for (int i = 0; i < ag.count; ++i) {
    w.indexed_bytes("IP", i + 1, ag.ip[i], 52);
    w.indexed_bytes("Community", i + 1, ag.community[i], 17);
    w.indexed_number("Permission", i + 1, ag.permission[i]);
  }

  w.section(SEC_USM);
  const UsmSettings& usm = g_usm;
  w.bytes("Context Name=", usm.context_name, 17);
  if (usm.password_mode <= 2) w.line("Password Encrypt=", mode_text(usm.password_mode));
  w.number("Number=", usm.count);
  for (int i = 0; i < usm.count && i < USM_USER_MAX; ++i) {
    w.indexed_bytes("User", i + 1, usm.user[i], 17);
    w.indexed_number("Security", i + 1, usm.security[i]);
    if (usm.password_mode <= 2) {
      char plain[17];
      text_copy8(plain, 17, usm.auth[i]);
      cfg_code_secret(usm.password_mode, plain, int(strlen(plain)), coded);
      w.indexed("Auth", i + 1, coded);
      text_copy8(plain, 17, usm.priv[i]);
      cfg_code_secret(usm.password_mode, plain, int(strlen(plain)), coded);
      w.indexed("Priv", i + 1, coded);
    }
    w.indexed_number("Permission", i + 1, usm.permission[i]);
  }

  w.section(SEC_CLUSTER);
  const ClusterList& cl = g_clusters;
  w.number("Number=", cl.count);
  for (int i = 0; i < cl.count && i < CLUSTER_MAX; ++i) {
    w.indexed_bytes("vCenter", i + 1, cl.vcenter[i], 52);
    w.indexed_bytes("Account", i + 1, cl.account[i], 33);
    if (s.vm_password_mode <= 2) {
      char plain[33];
      text_copy8(plain, 33, cl.password[i]);
      cfg_code_secret(s.vm_password_mode, plain, int(strlen(plain)), coded);
      w.indexed("Password", i + 1, coded);
    }
    w.indexed_bytes("Cluster", i + 1, cl.cluster[i], 33);
  }

  w.section(SEC_MANAGEABLE);
  w.flag("Enable=", s.manageable);

  w.section(SEC_KESTRA);
  w.flag("Enable=", s.kestra_enable);
  w.bytes("PowerFail=", s.kestra_power_fail, 33);
  w.bytes("BatteryLow=", s.kestra_battery_low, 33);

  w.section(SEC_END);
  return w.text;
}

}  // namespace

void cfg_set_read_only(bool read_only) { g_ini_read_only = read_only; }

void cfg_set_save_observer(CfgSaveObserver observer) { g_save_observer = observer; }

bool cfg_save() {
  if (g_ini_read_only) return false;
  char path[300];
  if (!cfg_install_file(path, sizeof path, "agent.ini")) {
    if (g_save_observer) g_save_observer(false, "agent.ini", "the path is too long");
    return false;
  }
  if (g_ini_unreadable || g_ini_keep_damaged) {
    if (g_save_observer)
      g_save_observer(false, path, g_ini_unreadable ? "the file cannot be read" : "the damaged file could not be kept");
    return false;
  }
  std::string file = build_file();
  // It holds coded passwords that the built-in key decodes: a new file is the owner's alone.
  bool saved = fs_replace_file(path, file.data(), file.size(), FS_PRIVATE);
  if (g_save_observer) g_save_observer(saved, path, saved ? "" : fs_last_error_text());
  return saved;
}

// ---------------------------------------------------------------------------------------------
// Reader

namespace {

// The C library's decimal conversion: leading blanks, a sign, the digits; no digits give 0.
// Out-of-range values saturate at the 32-bit limits.
int32_t read_int(const char* s) {
  while (*s == ' ' || *s == '\t' || *s == '\n' || *s == '\r' || *s == '\v' || *s == '\f') ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  long long v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    v = v * 10 + (*s - '0');
    if (v > 2147483648LL) v = 2147483648LL;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return int32_t(v);
}

uint8_t read_flag(const char* v) { return strcmp(v, "Yes") == 0 ? 1 : 0; }

// What the current load found: the numeric keys seen (list fields per entry) and the keys whose
// value was replaced.
CfgReplacedKey g_replaced[CFG_REPLACED_MAX];
int g_replaced_count;
bool g_seen[SETTING_COUNT];
bool g_seen_forward_port[FORWARD_TRAP_MAX];
bool g_seen_manager_permission[SNMP_MANAGER_MAX];
bool g_seen_usm_security[USM_USER_MAX];
bool g_seen_usm_permission[USM_USER_MAX];
// The first SNMPv3 user's pass phrases came from the file (not from the factory settings).
bool g_seen_manager_auth;
bool g_seen_manager_priv;

// The value as found, length bytes of it: control bytes (a zero byte too) as \xHH, so that the
// text is safe in a log line and on a page; cut to the room.
void found_text(char* out, size_t room, const char* value, size_t length) {
  size_t at = 0;
  for (size_t i = 0; i < length && at + 1 < room; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c != 0x7F) {
      out[at++] = char(c);
    } else {
      if (at + 5 > room) break;
      snprintf(out + at, 5, "\\x%02X", c);
      at += 4;
    }
  }
  out[at] = 0;
}

void note_replaced(SettingId id, int index, const char* found, size_t found_length, int64_t used) {
  if (g_replaced_count >= CFG_REPLACED_MAX) return;
  CfgReplacedKey& r = g_replaced[g_replaced_count++];
  const SettingRange& range = settings_range(id);
  size_t key_len = strlen(range.key);
  if (key_len && range.key[key_len - 1] == '=') --key_len;
  if (index > 0) snprintf(r.key, sizeof r.key, "[%s] %.*s%d", range.section, int(key_len), range.key, index);
  else snprintf(r.key, sizeof r.key, "[%s] %.*s", range.section, int(key_len), range.key);
  found_text(r.found, sizeof r.found, found, found_length);
  r.used = used;
}

bool* seen_slot(SettingId id, int index) {
  switch (id) {
    case SETTING_FORWARD_PORT: return index >= 1 && index <= FORWARD_TRAP_MAX ? &g_seen_forward_port[index - 1] : nullptr;
    case SETTING_MANAGER_PERMISSION:
      return index >= 1 && index <= SNMP_MANAGER_MAX ? &g_seen_manager_permission[index - 1] : nullptr;
    case SETTING_USM_SECURITY: return index >= 1 && index <= USM_USER_MAX ? &g_seen_usm_security[index - 1] : nullptr;
    case SETTING_USM_PERMISSION:
      return index >= 1 && index <= USM_USER_MAX ? &g_seen_usm_permission[index - 1] : nullptr;
    default: return &g_seen[id];
  }
}

// A value: its text and its length up to the line's end (a zero byte inside it included).
struct Value {
  const char* text;
  size_t length;
};

// A numeric value checked against the table: a text that is not a number (a zero byte in it too)
// gives the factory value, one outside the range the nearer end (a choice its least-access value;
// a count the count the list had before, `current`). A replaced value is noted.
int64_t read_setting(SettingId id, Value v, int index = 0, int64_t current = 0) {
  int64_t used = 0;
  SettingCheck check = settings_value_from_text(id, v.text, v.length, &used);
  if (check == SETTING_OUT_OF_RANGE && settings_range(id).kind == SETTING_KIND_COUNT) used = current;
  if (check != SETTING_OK) note_replaced(id, index, v.text, v.length, used);
  if (bool* seen = seen_slot(id, index)) *seen = true;
  return used;
}

uint8_t read_mode(const char* v) {
  if (strcmp(v, "Yes") == 0) return 1;
  if (strcmp(v, "Advanced") == 0) return 2;
  return 0;
}

void read_utf16(char16_t* field, size_t room, const char* v) { text_utf8_to_utf16(field, room, v); }

// The first n bytes of the value and a terminator into an 8-bit field of n+1 bytes.
void read_bytes(char* field, size_t n, const char* v) { text_copy8(field, n + 1, v); }

// Keys of each section in the order they are tried; the first that matches wins.
const char* const kFormatKeys[] = {"Version=", "Restart=", nullptr};
const char* const kConfigurationKeys[] = {"Stop Service=", "Language=", nullptr};
const char* const kSystemKeys[] = {"Install Date=", "Location=", "Description=", "Contactor=", "Name=", "Disk", nullptr};
const char* const kWebKeys[] = {"HTTP Port=", "HTTPS Port=", "Enable HTTP=", "Enable HTTPS=", "Web Refresh=",
                                "Password Encrypt=", "User", "Password", "Force HTTPS=", "Enable Login Lock=",
                                "Login Retry=", "Locak Time=", nullptr};
const char* const kShutdownKeys[] = {"Type=", "Power Fail Enable=", "Power Fail Delay=", "Battery Low Enable=",
                                     "Battery Low Delay=", "Overload Enable=", "Overload Delay=", "Bypass Enable=",
                                     "Bypass Delay=", "Smart Shutdown Enable=", "Smart Shutdown Delay=",
                                     "VM Enable=", "VM Type=", "VM Server=", "VM Account=", "Password Encrypt=",
                                     "VM Password=", "vCLI Path=", "Guest Enable=", nullptr};
const char* const kReactionKeys[] = {"Notify Message Enable=", "Notify Message Period=", "Execute Command Enable=",
                                     "Execute Command Before=", "Execute Command File=", nullptr};
const char* const kSourceIpKeys[] = {"Listen Port=", "Logical=", "Number=", "IP", "Community", "USM User", nullptr};
const char* const kForwardTrapKeys[] = {"Number=", "IP", "Port", nullptr};
const char* const kSnmpServerKeys[] = {"Listen Port=", "Number=", "IP", "Community", "Permission", nullptr};
const char* const kUsmKeys[] = {"Context Name=", "Password Encrypt=", "Number=", "User", "Security", "Auth", "Priv",
                                "Permission", nullptr};
const char* const kClusterKeys[] = {"Number=", "vCenter", "Account", "Password", "Cluster", nullptr};
const char* const kManageableKeys[] = {"Enable=", nullptr};
const char* const kKestraKeys[] = {"Enable=", "PowerFail=", "BatteryLow=", nullptr};

const char* const* const IniKeys[13] = {kFormatKeys, kConfigurationKeys, kSystemKeys, kWebKeys, kShutdownKeys,
                                        kReactionKeys, kSourceIpKeys, kForwardTrapKeys, kSnmpServerKeys, kUsmKeys,
                                        kClusterKeys, kManageableKeys, kKestraKeys};

// Decodes a stored secret into an 8-bit field of n+1 bytes (its first n bytes).
void read_secret_bytes(uint8_t mode, char* field, size_t n, const char* v) {
  char plain[256];
  cfg_decode_secret(mode, v, plain);
  read_bytes(field, n, plain);
}

void apply_format(int key, Value val) {
  const char* v = val.text;
  if (key == 0) {
    IniVersion = read_int(v);
    if (IniVersion != INI_FORMAT_VERSION) {
      cfg_set_defaults();
      g_seen_manager_auth = g_seen_manager_priv = false;
    }
  }
}

void apply_configuration(int key, Value val) {
  const char* v = val.text;
  if (key == 0) g_settings.stop_service = read_flag(v);
  else g_settings.language = uint8_t(read_setting(SETTING_LANGUAGE, val));
}

void apply_system(int key, int index, Value val) {
  const char* v = val.text;
  AgentSettings& s = g_settings;
  switch (key) {
    case 0: read_utf16(s.install_date, 33, v); break;
    case 1: read_utf16(s.location, 65, v); break;
    case 2: read_utf16(s.description, 129, v); break;
    case 3: read_utf16(s.contactor, 33, v); break;
    case 4: read_utf16(s.system_name, 33, v); break;
    case 5:
      if (index >= 1 && index <= 8) read_utf16(s.disk_name[index - 1], 17, v);
      break;
  }
}

void apply_web(int key, int index, Value val) {
  const char* v = val.text;
  AgentSettings& s = g_settings;
  switch (key) {
    case 0: s.http_port = uint16_t(read_setting(SETTING_HTTP_PORT, val)); break;
    case 1: s.https_port = uint16_t(read_setting(SETTING_HTTPS_PORT, val)); break;
    case 2: s.web_protocols = uint8_t(read_flag(v) ? s.web_protocols | 1 : s.web_protocols & ~1); break;
    case 3: s.web_protocols = uint8_t(read_flag(v) ? s.web_protocols | 2 : s.web_protocols & ~2); break;
    case 4: s.web_refresh = uint16_t(read_setting(SETTING_WEB_REFRESH, val)); break;
    case 5: s.web_password_mode = read_mode(v); break;
    case 6:
      if (index >= 0 && index <= 2) read_utf16(s.account_user[index], 33, v);
      break;
    case 7:
      if (index >= 0 && index <= 2) {
        char plain[256];
        cfg_decode_secret(s.web_password_mode, v, plain);
        read_utf16(s.account_password[index], 33, plain);
      }
      break;
    case 8: s.force_https = read_flag(v); break;
    case 9: s.login_lock_enable = strcmp(v, "Enable") == 0 ? 1 : 0; break;
    case 10: s.login_retry = uint16_t(read_setting(SETTING_LOGIN_RETRY, val)); break;
    case 11: s.login_lock_minutes = uint16_t(read_setting(SETTING_LOGIN_LOCK_MINUTES, val)); break;
  }
}

void apply_shutdown(int key, Value val) {
  const char* v = val.text;
  AgentSettings& s = g_settings;
  if (key >= 1 && key <= 10) {
    int c = (key - 1) / 2;
    if ((key - 1) % 2 == 0) s.condition_enable[c] = read_flag(v);
    else s.condition_delay[c] = uint32_t(read_setting(SettingId(SETTING_DELAY_POWER_FAIL + c), val));
    return;
  }
  switch (key) {
    case 0: s.shutdown_type = uint8_t(read_setting(SETTING_SHUTDOWN_TYPE, val)); break;
    case 11: s.vm_enable = read_flag(v); break;
    case 12: s.vm_type = uint8_t(read_setting(SETTING_VM_TYPE, val)); break;
    case 13: text_bytes_to_utf16(s.vm_server, 129, v); break;
    case 14: text_bytes_to_utf16(s.vm_account, 33, v); break;
    case 15: s.vm_password_mode = read_mode(v); break;
    case 16: {
      char plain[256];
      cfg_decode_secret(s.vm_password_mode, v, plain);
      text_bytes_to_utf16(s.vm_password, 33, plain);
      break;
    }
    case 17: text_bytes_to_utf16(s.vcli_path, 256, v); break;
    case 18: s.guest_enable = read_flag(v); break;
  }
}

void apply_reaction(int key, Value val) {
  const char* v = val.text;
  AgentSettings& s = g_settings;
  switch (key) {
    case 0: s.notify_enable = read_flag(v); break;
    case 1: s.notify_period = uint16_t(read_setting(SETTING_NOTIFY_PERIOD, val)); break;
    case 2: s.command_enable = read_flag(v); break;
    case 3: s.command_before = uint32_t(read_setting(SETTING_COMMAND_BEFORE, val)); break;
    case 4: read_utf16(s.command_file, 256, v); break;
  }
}

void apply_source_ip(int key, int index, Value val) {
  const char* v = val.text;
  SourceIpList& l = g_source_ips;
  switch (key) {
    case 0: l.listen_port = uint16_t(read_setting(SETTING_TRAP_PORT, val)); return;
    case 1: l.logical = uint8_t(read_int(v)); return;
    case 2: l.count = uint8_t(read_setting(SETTING_SOURCE_COUNT, val, 0, l.count)); return;
  }
  if (index < 1 || index > SOURCE_IP_MAX) return;
  if (key == 3) read_bytes(l.ip[index - 1], 51, v);
  else if (key == 4) read_bytes(l.community[index - 1], 16, v);
  else read_bytes(l.usm_user[index - 1], 16, v);
}

void apply_forward_trap(int key, int index, Value val) {
  const char* v = val.text;
  ForwardTrapList& l = g_forward_traps;
  if (key == 0) {
    l.count = uint8_t(read_setting(SETTING_FORWARD_COUNT, val, 0, l.count));
    return;
  }
  if (index < 1 || index > l.count) return;
  if (key == 1) read_bytes(l.ip[index - 1], 51, v);
  else l.port[index - 1] = uint16_t(read_setting(SETTING_FORWARD_PORT, val, index));
}

void apply_snmp_server(int key, int index, Value val) {
  const char* v = val.text;
  SnmpAgentSettings& a = g_snmp_agent;
  if (key == 0) {
    a.listen_port = uint16_t(read_setting(SETTING_AGENT_PORT, val));
    return;
  }
  if (key == 1) {
    a.count = uint8_t(read_setting(SETTING_MANAGER_COUNT, val, 0, a.count));
    return;
  }
  if (index < 1 || index > a.count) return;
  if (key == 2) read_bytes(a.ip[index - 1], 51, v);
  else if (key == 3) read_bytes(a.community[index - 1], 16, v);
  else a.permission[index - 1] = uint8_t(read_setting(SETTING_MANAGER_PERMISSION, val, index));
}

void apply_usm(int key, int index, Value val) {
  const char* v = val.text;
  UsmSettings& u = g_usm;
  switch (key) {
    case 0: read_bytes(u.context_name, 16, v); return;
    case 1: u.password_mode = read_mode(v); return;
    case 2: u.count = uint8_t(read_setting(SETTING_USM_COUNT, val, 0, u.count)); return;
  }
  if (index < 1 || index > USM_USER_MAX || index > u.count) return;
  int i = index - 1;
  switch (key) {
    case 3: read_bytes(u.user[i], 16, v); break;
    case 4: u.security[i] = uint8_t(read_setting(SETTING_USM_SECURITY, val, index)); break;
    case 5:
      read_secret_bytes(u.password_mode, u.auth[i], 16, v);
      if (i == 0) g_seen_manager_auth = true;
      break;
    case 6:
      read_secret_bytes(u.password_mode, u.priv[i], 16, v);
      if (i == 0) g_seen_manager_priv = true;
      break;
    case 7: u.permission[i] = uint8_t(read_setting(SETTING_USM_PERMISSION, val, index)); break;
  }
}

void apply_cluster(int key, int index, Value val) {
  const char* v = val.text;
  ClusterList& c = g_clusters;
  if (key == 0) {
    c.count = int32_t(read_setting(SETTING_CLUSTER_COUNT, val, 0, c.count));
    return;
  }
  if (index < 1 || index > CLUSTER_MAX || index > c.count) return;
  int i = index - 1;
  switch (key) {
    case 1: read_bytes(c.vcenter[i], 51, v); break;
    case 2: read_bytes(c.account[i], 32, v); break;
    case 3: read_secret_bytes(g_settings.vm_password_mode, c.password[i], 32, v); break;
    case 4: read_bytes(c.cluster[i], 32, v); break;
  }
}

void apply_kestra(int key, Value val) {
  const char* v = val.text;
  AgentSettings& s = g_settings;
  if (key == 0) s.kestra_enable = read_flag(v);
  else if (key == 1) read_bytes(s.kestra_power_fail, 32, v);
  else read_bytes(s.kestra_battery_low, 32, v);
}

void migrate(int32_t v) {
  AgentSettings& s = g_settings;
  if (v < 8) {
    s.kestra_enable = 0;
    text_copy8(s.kestra_power_fail, 33, "S Mainsfailure");
    text_copy8(s.kestra_battery_low, 33, "S Ua Low");
  }
  if (v <= 6 && g_usm.password_mode <= 1) g_usm.password_mode = 2;
  if (v <= 5 && s.vm_password_mode <= 1) s.vm_password_mode = 2;
  if (v <= 3) {
    if (s.vcli_path[0] == 0) text_utf8_to_utf16(s.vcli_path, 256, kDefaultVcliPath);
    s.login_lock_enable = 1;
    s.login_retry = 5;
    s.login_lock_minutes = 10;
  }
  if (v <= 2 && s.web_password_mode <= 1) s.web_password_mode = 2;
}


// Writes a value of the table into its field.
void store_setting(SettingId id, int index, int64_t v) {
  AgentSettings& s = g_settings;
  switch (id) {
    case SETTING_LANGUAGE: s.language = uint8_t(v); break;
    case SETTING_HTTP_PORT: s.http_port = uint16_t(v); break;
    case SETTING_HTTPS_PORT: s.https_port = uint16_t(v); break;
    case SETTING_WEB_REFRESH: s.web_refresh = uint16_t(v); break;
    case SETTING_LOGIN_RETRY: s.login_retry = uint16_t(v); break;
    case SETTING_LOGIN_LOCK_MINUTES: s.login_lock_minutes = uint16_t(v); break;
    case SETTING_SHUTDOWN_TYPE: s.shutdown_type = uint8_t(v); break;
    case SETTING_DELAY_POWER_FAIL: case SETTING_DELAY_BATTERY_LOW: case SETTING_DELAY_OVERLOAD:
    case SETTING_DELAY_BYPASS: case SETTING_DELAY_SMART_SHUTDOWN:
      s.condition_delay[id - SETTING_DELAY_POWER_FAIL] = uint32_t(v);
      break;
    case SETTING_VM_TYPE: s.vm_type = uint8_t(v); break;
    case SETTING_NOTIFY_PERIOD: s.notify_period = uint16_t(v); break;
    case SETTING_COMMAND_BEFORE: s.command_before = uint32_t(v); break;
    case SETTING_TRAP_PORT: g_source_ips.listen_port = uint16_t(v); break;
    case SETTING_SOURCE_COUNT: g_source_ips.count = uint8_t(v); break;
    case SETTING_FORWARD_COUNT: g_forward_traps.count = uint8_t(v); break;
    case SETTING_AGENT_PORT: g_snmp_agent.listen_port = uint16_t(v); break;
    case SETTING_MANAGER_COUNT: g_snmp_agent.count = uint8_t(v); break;
    case SETTING_USM_COUNT: g_usm.count = uint8_t(v); break;
    case SETTING_CLUSTER_COUNT: g_clusters.count = int32_t(v); break;
    case SETTING_FORWARD_PORT: g_forward_traps.port[index - 1] = uint16_t(v); break;
    case SETTING_MANAGER_PERMISSION: g_snmp_agent.permission[index - 1] = uint8_t(v); break;
    case SETTING_USM_SECURITY: g_usm.security[index - 1] = uint8_t(v); break;
    case SETTING_USM_PERMISSION: g_usm.permission[index - 1] = uint8_t(v); break;
    case SETTING_COUNT: break;
  }
}

void fill_missing(SettingId id, int index) {
  bool* seen = seen_slot(id, index);
  if (!seen || *seen) return;
  int64_t factory = settings_range(id).factory;
  store_setting(id, index, factory);
  note_replaced(id, index, "(missing)", 9, factory);
}

// A version-8 file names every numeric key: one it leaves out takes its factory value, never 0.
// The list fields count for the entries the file's Number= holds.
void fill_missing_keys() {
  for (int id = 0; id < SETTING_FORWARD_PORT; ++id) fill_missing(SettingId(id), 0);
  for (int i = 1; i <= g_forward_traps.count; ++i) fill_missing(SETTING_FORWARD_PORT, i);
  for (int i = 1; i <= g_snmp_agent.count; ++i) fill_missing(SETTING_MANAGER_PERMISSION, i);
  for (int i = 1; i <= g_usm.count && i <= USM_USER_MAX; ++i) {
    fill_missing(SETTING_USM_SECURITY, i);
    fill_missing(SETTING_USM_PERMISSION, i);
  }
}

void reset_load_notes() {
  g_replaced_count = 0;
  memset(g_seen, 0, sizeof g_seen);
  memset(g_seen_forward_port, 0, sizeof g_seen_forward_port);
  memset(g_seen_manager_permission, 0, sizeof g_seen_manager_permission);
  memset(g_seen_usm_security, 0, sizeof g_seen_usm_security);
  memset(g_seen_usm_permission, 0, sizeof g_seen_usm_permission);
  g_seen_manager_auth = g_seen_manager_priv = false;
}

// What a pass over a file's text found.
struct ParseResult {
  bool end;           // an "[End]" line
  bool after_end;     // text other than blank lines after it
  bool version;       // a "Version=" line in [Format]
  uint32_t last_section;  // the section being read when the text ended
  bool entered[INI_SECTION_COUNT];
};

void parse_line(uint32_t section, const char* line, size_t length);

// True when the text from pos on holds nothing but blank lines (blanks, CR and LF).
bool only_blank_lines(const std::string& text, size_t pos) {
  for (; pos < text.size(); ++pos)
    if (text[pos] != ' ' && text[pos] != '\t' && text[pos] != '\r' && text[pos] != '\n') return false;
  return true;
}

// Applies the lines of a file's text to the records. A last line without its line end is only
// taken when it closes the file: anything else there is the cut end of a damaged file.
void parse_text(const std::string& text, ParseResult* result) {
  memset(result, 0, sizeof *result);
  uint32_t section = SEC_FORMAT;
  char line[INI_LINE_MAX];
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    bool whole = nl != std::string::npos;
    size_t end = whole ? nl : text.size();
    size_t n = end - pos;
    // Longer than any line the writer makes: the rest is skipped.
    size_t keep = n < sizeof line - 1 ? n : sizeof line - 1;
    memcpy(line, text.data() + pos, keep);
    line[keep] = 0;
    pos = whole ? nl + 1 : text.size();
    // Every CR at the end: CR CR LF reads like CR LF. A zero byte inside stays part of the line.
    while (keep && line[keep - 1] == '\r') line[--keep] = 0;
    if (line[0] == ';') continue;
    if (line[0] == '[') {
      char* close = static_cast<char*>(memchr(line, ']', keep));
      if (!close) continue;
      *close = 0;
      // A name with a zero byte in it is no section's name.
      size_t name_len = size_t(close - line - 1);
      uint32_t s = 0;
      while (s < INI_SECTION_COUNT && (strlen(IniSections[s]) != name_len || memcmp(line + 1, IniSections[s], name_len) != 0))
        ++s;
      if (s == SEC_END) {
        result->end = true;
        result->after_end = !only_blank_lines(text, pos);
        break;
      }
      if (s < INI_SECTION_COUNT) {
        section = s;
        result->entered[s] = true;
      }
      continue;
    }
    if (!whole) break;
    if (section == SEC_FORMAT && strncmp(line, "Version=", 8) == 0) result->version = true;
    parse_line(section, line, keep);
  }
  result->last_section = section;
}

// Reads <install>/agent.ini or another settings file: a regular file of at most 4 MiB.
FsReadResult read_settings_file(const char* path, std::string* text, int* error) {
  return fs_read_regular(path, FS_TEXT_FILE_MAX, text, error);
}

void parse_line(uint32_t section, const char* line, size_t length) {
  if (section > SEC_KESTRA) return;
  const char* const* keys = IniKeys[section];
  const char* eq = static_cast<const char*>(memchr(line, '=', length));
  if (!eq) return;
  int key = -1;
  size_t key_len = 0;
  for (int k = 0; keys[k]; ++k) {
    size_t n = strlen(keys[k]);
    if (n <= length && memcmp(line, keys[k], n) == 0) {
      key = k;
      key_len = n;
      break;
    }
  }
  if (key < 0) return;
  const Value value = {eq + 1, length - size_t(eq + 1 - line)};
  int index = read_int(line + key_len);
  switch (section) {
    case SEC_FORMAT: apply_format(key, value); break;
    case SEC_CONFIGURATION: apply_configuration(key, value); break;
    case SEC_SYSTEM: apply_system(key, index, value); break;
    case SEC_WEB: apply_web(key, index, value); break;
    case SEC_SHUTDOWN: apply_shutdown(key, value); break;
    case SEC_REACTION: apply_reaction(key, value); break;
    case SEC_SOURCE_IP: apply_source_ip(key, index, value); break;
    case SEC_FORWARD_TRAP: apply_forward_trap(key, index, value); break;
    case SEC_SNMP_SERVER: apply_snmp_server(key, index, value); break;
    case SEC_USM: apply_usm(key, index, value); break;
    case SEC_CLUSTER: apply_cluster(key, index, value); break;
    case SEC_MANAGEABLE: g_settings.manageable = read_flag(value.text); break;
    case SEC_KESTRA: apply_kestra(key, value); break;
  }
}

// Applies a settings file's text over the records as cfg_load does (the version handling, the
// missing keys of a version-8 file of this program's own, the migration), without writing.
void apply_text(const std::string& text, bool own_file, ParseResult* parsed) {
  g_settings.guest_enable = 1;
  int32_t version_before = IniVersion;
  IniVersion = 0;
  parse_text(text, parsed);
  if (!parsed->version) IniVersion = version_before;
  if (parsed->version && IniVersion == INI_FORMAT_VERSION && own_file) fill_missing_keys();
  migrate(IniVersion);
}
}  // namespace

void cfg_parse_line(uint32_t section, const char* line) { parse_line(section, line, strlen(line)); }

void cfg_load(const char* path) {
  char default_path[300];
  bool own_file = path == nullptr;
  if (!path) {
    if (!cfg_install_file(default_path, sizeof default_path, "agent.ini")) default_path[0] = 0;
    path = default_path;
  }
  reset_load_notes();
  std::string text;
  int error = 0;
  FsReadResult read = read_settings_file(path, &text, &error);
  if (read != FS_READ_OK) {
    // Another file that cannot be read changes nothing. Of the own file, one that is there but
    // cannot be read (another user's) is never replaced; a missing one only the service's start makes.
    if (!own_file) return;
    g_ini_unreadable = read != FS_READ_MISSING;
    cfg_set_defaults();
    return;
  }
  if (own_file) g_ini_unreadable = false;
  ParseResult parsed;
  apply_text(text, own_file, &parsed);
  // Only the own file is written back, as version 8.
  if (own_file && IniVersion < INI_FORMAT_VERSION) cfg_save();
}

namespace {

// Keeps the bytes a start-up load found as agent.ini.damaged before anything is written; when
// they cannot be kept, agent.ini is not replaced by this process.
void keep_original(CfgStartReport* report, const char* path, const std::string& text) {
  char kept[310];
  snprintf(kept, sizeof kept, "%s.damaged", path);
  report->kept = fs_write_private_file(kept, text.data(), text.size());
  if (!report->kept) g_ini_keep_damaged = true;
}

// The service's start (writes) or the same judgement without any write (a check).
CfgStartState load_own_file(CfgStartReport* report, bool writes) {
  memset(report, 0, sizeof *report);
  reset_load_notes();
  g_ini_unreadable = false;
  g_ini_keep_damaged = false;
  char path[300];
  if (!cfg_install_file(path, sizeof path, "agent.ini")) {
    snprintf(report->reason, sizeof report->reason, "the installation folder's path is too long");
    g_ini_unreadable = true;
    return report->state = CFG_START_UNREADABLE;
  }
  if (fs_is_directory(path)) {
    snprintf(report->reason, sizeof report->reason, "it is a folder");
    g_ini_unreadable = true;
    return report->state = CFG_START_IS_FOLDER;
  }
  std::string text;
  int error = 0;
  cfg_set_defaults();
  FsReadResult read = read_settings_file(path, &text, &error);
  if (read == FS_READ_MISSING) {
    if (!writes) return report->state = CFG_START_MISSING;
    // A new installation: its SNMPv3 user gets pass phrases of its own.
    report->phrases_made = cfg_make_manager_phrases(true, true);
    report->phrases_failed = !report->phrases_made;
    cfg_save();
    return report->state = CFG_START_CREATED;
  }
  if (read != FS_READ_OK && read != FS_READ_TOO_LARGE) {
    snprintf(report->reason, sizeof report->reason, "%s", fs_read_problem(read, error));
    g_ini_unreadable = true;
    return report->state = CFG_START_UNREADABLE;
  }
  IniVersion = 0;
  ParseResult parsed;
  parse_text(text, &parsed);
  if (read == FS_READ_OK && parsed.end && !parsed.after_end && parsed.version) {
    if (IniVersion == INI_FORMAT_VERSION) fill_missing_keys();
    migrate(IniVersion);
    report->state = CFG_START_LOADED;
    // A key named (replaced or missing) changes the file: its bytes are kept first.
    if (writes && g_replaced_count > 0) keep_original(report, path, text);
    if (writes && IniVersion < INI_FORMAT_VERSION) cfg_save();
    return report->state;
  }
  // Damaged: its bytes are kept before anything is written; the factory values stand for what
  // could not be read.
  report->state = CFG_START_DAMAGED;
  snprintf(report->reason, sizeof report->reason, "%s",
           read == FS_READ_TOO_LARGE ? fs_read_problem(read, error)
           : text.empty()            ? "it is empty"
           : !parsed.version         ? "it has no Version= line"
           : !parsed.end             ? "it ends before [End]"
                                     : "it has text after [End]");
  // A section is whole when the text went on past it.
  bool web_whole = parsed.entered[SEC_WEB] && parsed.last_section != SEC_WEB;
  bool usm_whole = parsed.entered[SEC_USM] && parsed.last_section != SEC_USM;
  report->factory_accounts = !web_whole || !usm_whole;
  g_replaced_count = 0;  // the damage is reported as a whole
  migrate(IniVersion);
  if (!writes) return report->state;
  keep_original(report, path, text);
  // The factory pass phrases of the SNMPv3 user are not taken where the file gave none.
  if (g_usm.count >= 1 && (!g_seen_manager_auth || !g_seen_manager_priv)) {
    report->phrases_made = cfg_make_manager_phrases(!g_seen_manager_auth, !g_seen_manager_priv);
    report->phrases_failed = !report->phrases_made;
  }
  if (IniVersion < INI_FORMAT_VERSION) cfg_save();
  return report->state;
}

}  // namespace

CfgStartState cfg_load_at_start(CfgStartReport* report) { return load_own_file(report, true); }

CfgStartState cfg_check_own_file(CfgStartReport* report) { return load_own_file(report, false); }

int cfg_replaced_count() { return g_replaced_count; }

const CfgReplacedKey* cfg_replaced(int i) { return i >= 0 && i < g_replaced_count ? &g_replaced[i] : nullptr; }

void cfg_replaced_text(const CfgReplacedKey* key, char* out, size_t room) {
  snprintf(out, room, "agent.ini: key %s has value \"%s\", %lld used", key->key, key->found,
           static_cast<long long>(key->used));
}

int cfg_file_has_end(FILE* file) {
  char piece[128];
  bool line_start = true;
  while (fgets(piece, sizeof piece, file)) {
    if (line_start && strncmp(piece, "[End]", 5) == 0) return 1;
    line_start = piece[strlen(piece) - 1] == '\n';
  }
  rewind(file);
  return 0;
}

CfgImportResult cfg_import_uploaded(const char* first, const char* last) {
  reset_load_notes();
  if (!first || !last || last < first) return CFG_IMPORT_REFUSED;
  // Read from the bytes as they came: nothing is written but the accepted settings.
  std::string text(first, size_t(last - first) + 1);
  StoredRecords before = cfg_records_copy();
  int32_t version = IniVersion;
  ParseResult parsed;
  apply_text(text, false, &parsed);
  // A value that a form would refuse refuses the whole upload; a file without [End] is refused as a whole.
  CfgImportResult result = CFG_IMPORT_REFUSED;
  if (!parsed.end) g_replaced_count = 0;
  else if (g_replaced_count == 0) result = cfg_save() ? CFG_IMPORT_APPLIED : CFG_IMPORT_NOT_SAVED;
  if (result != CFG_IMPORT_APPLIED) {
    cfg_records_put(before);
    IniVersion = version;
  }
  return result;
}
