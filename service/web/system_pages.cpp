// The server's own pages: login, accounts, system information, web settings and language.
#include "service/web/system_pages.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/inet.h"
#include "service/alarm/shutdown_actions.h"
#include "service/core/agent.h"
#include "service/core/net_address.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/link/link_service.h"
#include "service/web/asp_template.h"
#include "service/web/form_data.h"
#include "service/web/session.h"

static const char* const DevicePages[5] = {"login", "sys_user", "sys_info", "sys_web", "language"};
static const char* const LoginPageVars[17] = {
    "LIN_PRODUCT_NAME", "LIN_DEVICE_IP", "LIN_CHALLENGE_VALUE", "LIN_DISABLE_RADIUS", "LIN_LOGIN_LEVEL",
    "LIN_SENSOR_MENU", "LIN_REFRESH", "LIN_INDEX_ASP", "LIN_MENU_ASP", "LIN_LOGO_IDX", "LIN_ACCOUNT",
    "LIN_PASSWORD", "LIN_SUBMIT", "LIN_LANG", "LIN_SWVER", "LIN_SUPPORT_LANG", "LIN_ODM"};
static const char* const DevicePageVars[23] = {
    "SYS_TIME", "SYS_UCTOKEN", "SYS_DFTPASSWRD", "USR_ACCOUNT", "USR_PASSWD", "USR_LOCK", "USR_RETRY", "USR_LTIME",
    "INF_INSTALL_DATE", "INF_LOCATION", "INF_DESCRIPTION", "INF_CONTACTOR", "INF_NAME", "WEB_HTTP_EN",
    "WEB_HTTP_DIS", "WEB_HTTPS_EN", "WEB_HTTPS_DIS", "WEB_HTTP_PORT", "WEB_HTTPS_PORT", "WEB_REFRESH",
    "WEB_FORCEHTTPS_EN", "WEB_FORCEHTTPS_DIS", "SYS_DFTUSM"};

static const char kIncorrectInput[] = "Message: Title=Error\nBody=<font color=#F00000>Incorrect input!</font>\n";
static const char kLoginLock[] =
    "Message: Redirect=/login.asp\nTitle=Login Lock\nBody=<font color=#FF0000>The account has been locked.</font>\n";
static const char kLoginError[] =
    "Message: Redirect=/login.asp\nTitle=Login Error\nBody=<font color=#FF0000>Please check the account and password.</font>\n";
static const char kUpdated[] = "Title=Information\nBody=<font color=#008000>Update successful.</font>\n";

// Pages whose POST the device manager may not send (accounts, web settings, the settings file),
// and those every account may send (the history view, the debug page's buttons that change
// nothing, the language).
static const char* const kAdminPosts[] = {"sys_user", "sys_web", "sys_batch"};
static const char* const kUserPosts[] = {"hist_log", "debug", "language"};

int http_post_required_level(const char* page) {
  if (strncmp(page, "login", 5) == 0) return 3;
  for (const char* p : kAdminPosts)
    if (strncmp(page, p, strlen(p)) == 0) return 0;
  for (const char* p : kUserPosts)
    if (strncmp(page, p, strlen(p)) == 0) return 2;
  return 1;
}

int http_find_field(const char* key) {
  for (int i = 0; i < FormFieldTable.count; ++i)
    if (FormFieldTable.rows[i].name && strncmp(FormFieldTable.rows[i].name, key, 7) == 0) return i;
  return -1;
}

int http_form_check_inputs(int count, ...) {
  if (count >= 16) return 1;
  const char* names[15];
  va_list args;
  va_start(args, count);
  for (int i = 0; i < count; ++i) names[i] = va_arg(args, const char*);
  va_end(args);
  for (int f = 0; f < FormFieldTable.count; ++f) {
    const FormField& field = FormFieldTable.rows[f];
    if (!field.name || !field.value) continue;
    for (int i = 0; i < count; ++i) {
      if (strncmp(field.name, names[i], 7) == 0 && (util_has_html_special(field.value) || util_has_control(field.value))) {
        snprintf(g_reply, sizeof g_reply, "%s", kIncorrectInput);
        return 1;
      }
    }
  }
  return 0;
}

bool http_form_setting(SettingId id, const char* text, int64_t* out) {
  int64_t used = 0;
  if (!text || settings_value_from_text(id, text, strlen(text), &used) != SETTING_OK) return false;
  *out = used;
  return true;
}

bool http_form_decimal(const char* text, int64_t minimum, int64_t maximum, int64_t* out) {
  int64_t v = 0;
  if (!text || settings_parse_decimal(text, strlen(text), &v) != SETTING_OK || v < minimum || v > maximum)
    return false;
  *out = v;
  return true;
}

int64_t http_form_clamped(const char* text, int64_t minimum, int64_t maximum) {
  if (!text) return minimum;
  size_t length = strlen(text);
  while (length && text[length - 1] == ' ') --length;
  while (length && *text == ' ') ++text, --length;
  int64_t v = minimum;
  // A number past the 64-bit limits comes back saturated: it still clamps to its end.
  if (settings_parse_decimal(text, length, &v) == SETTING_NOT_A_NUMBER) return minimum;
  return v < minimum ? minimum : v > maximum ? maximum : v;
}

static bool form_ipv4(const char* text, uint8_t out[4]) {
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    int digits = 0, value = 0;
    for (; digits < 3 && p[digits] >= '0' && p[digits] <= '9'; ++digits) value = value * 10 + (p[digits] - '0');
    if (digits == 0 || value > 255) return false;
    p += digits;
    out[part] = uint8_t(value);
    if (part < 3 && *p++ != '.') return false;
  }
  return *p == 0;
}

bool http_form_address(const char* text, bool any_host) {
  if (!text) return false;
  static const uint8_t kAny[16] = {};
  uint8_t address[16];
  if (form_ipv4(text, address)) return any_host || memcmp(address, kAny, 4) != 0;
  // IPv6 as it is written in a list: no brackets and no port.
  if (!strchr(text, ':') || strpbrk(text, "[] ") || !net_parse_ipv6(address, text)) return false;
  return any_host || memcmp(address, kAny, 16) != 0;
}

void cfg_decrypt_password(const char* coded, char* out, size_t room) {
  char plain[256];
  plain[0] = 0;
  // 88 characters hold the longest coded password.
  if (strlen(coded) <= 88) cfg_decode_secret(2, coded, plain);
  text_copy8(out, room, plain);
}

static const char* query_value(int pair_count, const QueryPair* pairs, const char* name) {
  for (int i = 0; i < pair_count; ++i)
    if (strcmp(pairs[i].name, name) == 0) return pairs[i].value;
  return nullptr;
}

static void write_reply(FILE* out) { fputs(g_reply, out); }

static void login_var(FILE* out, int k, int pair_count, QueryPair* pairs) {
  switch (k) {
    case 0: snprintf(g_reply, sizeof g_reply, "Vellmar 2012"); break;
    case 1:
      if (g_host_address.family == INET_FAMILY_IPV4) {
        const uint8_t* a = g_host_address.address;
        snprintf(g_reply, sizeof g_reply, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
      } else if (g_host_address.family == INET_FAMILY_IPV6) {
        char host[66] = "";
        inet_host_name(host, 66);
        asp_escape_html(g_reply, sizeof g_reply, host);
      }
      break;
    case 2: {
      const char* ch = SessionApi.sess_challenge_new(g_client_address.address);
      snprintf(g_reply, sizeof g_reply, "%s", ch ? ch : "");
      break;
    }
    case 3: snprintf(g_reply, sizeof g_reply, "1"); break;
    case 4: snprintf(g_reply, sizeof g_reply, "%d", g_session_check); break;
    case 5: snprintf(g_reply, sizeof g_reply, "0"); break;
    case 6: snprintf(g_reply, sizeof g_reply, "30"); break;
    case 7: snprintf(g_reply, sizeof g_reply, "/en/device/index.asp"); break;
    case 8: snprintf(g_reply, sizeof g_reply, "/en/device/menu.asp"); break;
    case 9: snprintf(g_reply, sizeof g_reply, "1"); break;
    case 10:
    case 11:
    case 12: {
      if (pair_count < 2) break;
      const char* account = query_value(pair_count, pairs, "account");
      if (k == 12) {
        snprintf(g_reply, sizeof g_reply, "%s", account ? "1" : "0");
        break;
      }
      if (k == 10) {
        if (account) asp_escape_html(g_reply, sizeof g_reply, account);
        break;
      }
      const char* password = query_value(pair_count, pairs, "password");
      if (!password) break;
      const char* encrypt = query_value(pair_count, pairs, "encrypt");
      char plain[256];
      if (encrypt && atoi(encrypt) != 0) cfg_decrypt_password(password, plain, sizeof plain);
      else text_copy8(plain, sizeof plain, password);
      asp_escape_html(g_reply, sizeof g_reply, plain);
      break;
    }
    case 13: snprintf(g_reply, sizeof g_reply, "%d", g_settings.language); break;
    case 14: snprintf(g_reply, sizeof g_reply, "02.00.22"); break;
    case 15: snprintf(g_reply, sizeof g_reply, "1111000000000000"); break;
    case 16: snprintf(g_reply, sizeof g_reply, "0"); break;
    default: break;
  }
  write_reply(out);
}

static void device_var(FILE* out, int k, const char* name) {
  char text[3 * 129 + 1];
  switch (k) {
    case 0: {
      time_t t = time(nullptr);
      struct tm local;
      localtime_r(&t, &local);
      if (!strftime(g_reply, 32, "%a %m/%d/%Y %p %I:%M:%S", &local)) g_reply[0] = 0;
      break;
    }
    case 1: {
      const char* token = SessionApi.sess_token_new(g_client_address.address);
      snprintf(g_reply, sizeof g_reply, "%s", token ? token : "");
      break;
    }
    case 2:
      snprintf(g_reply, sizeof g_reply, "%u", SessionApi.sess_var_get(10));
      SessionApi.sess_var_set(10, 0);
      break;
    case 3: {
      char digit = name[11];
      if (digit < '1' || digit > '3') break;
      text_utf16_to_utf8(text, 16, g_settings.account_user[digit - '1']);
      asp_escape_html(g_reply, sizeof g_reply, text);
      break;
    }
    case 4: break;
    case 5: snprintf(g_reply, sizeof g_reply, "%s", g_settings.login_lock_enable ? "Checked" : ""); break;
    case 6: snprintf(g_reply, sizeof g_reply, "%d", g_settings.login_retry); break;
    case 7: snprintf(g_reply, sizeof g_reply, "%d", g_settings.login_lock_minutes); break;
    case 8: case 9: case 10: case 11: case 12: {
      static const size_t kRoom[5] = {32, 64, 128, 32, 32};
      const char16_t* fields[5] = {g_settings.install_date, g_settings.location, g_settings.description,
                                   g_settings.contactor, g_settings.system_name};
      text_utf16_to_utf8(text, kRoom[k - 8], fields[k - 8]);
      asp_escape_html(g_reply, sizeof g_reply, text);
      break;
    }
    case 13: snprintf(g_reply, sizeof g_reply, "%s", (g_settings.web_protocols & 1) ? "Checked" : ""); break;
    case 14: snprintf(g_reply, sizeof g_reply, "%s", (g_settings.web_protocols & 1) ? "" : "Checked"); break;
    case 15: snprintf(g_reply, sizeof g_reply, "%s", (g_settings.web_protocols & 2) ? "Checked" : ""); break;
    case 16: snprintf(g_reply, sizeof g_reply, "%s", (g_settings.web_protocols & 2) ? "" : "Checked"); break;
    case 17: snprintf(g_reply, sizeof g_reply, "%d", g_settings.http_port); break;
    case 18: snprintf(g_reply, sizeof g_reply, "%d", g_settings.https_port); break;
    case 19: snprintf(g_reply, sizeof g_reply, "%d", g_settings.web_refresh); break;
    case 20: snprintf(g_reply, sizeof g_reply, "%s", g_settings.force_https ? "Checked" : ""); break;
    case 21: snprintf(g_reply, sizeof g_reply, "%s", g_settings.force_https ? "" : "Checked"); break;
    // The administrator's pages warn while the SNMPv3 manager keeps the factory pass phrases.
    case 22: snprintf(g_reply, sizeof g_reply, "%d", sess_current_level() == 0 && sess_manager_keys_factory()); break;
    default: break;
  }
  write_reply(out);
}

static int table_match(const char* name, const char* const* table, int count) {
  for (int i = 0; i < count; ++i)
    if (strncmp(name, table[i], strlen(table[i])) == 0) return i;
  return -1;
}

void asp_device_vars(FILE* out, const char* name, int pair_count, QueryPair* pairs) {
  g_reply[0] = 0;
  if (!out) return;
  if (strncmp(name, "LIN", 3) == 0) {
    int k = table_match(name, LoginPageVars, 17);
    if (k >= 0) login_var(out, k, pair_count, pairs);
    return;
  }
  static const char* const kGroups[4] = {"SYS", "USR", "INF", "WEB"};
  for (const char* g : kGroups) {
    if (strncmp(name, g, 3) == 0) {
      int k = table_match(name, DevicePageVars, 23);
      if (k >= 0) device_var(out, k, name);
      return;
    }
  }
  if (HttpPageVariable) HttpPageVariable(out, name, pair_count, pairs);
}

static void log_common(uint32_t n, const char16_t* a, const char16_t* b) {
  EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, n), evt_name(EVT_GROUP_COMMON, n), a, b, nullptr);
}

static const char* field_named(const char* name) {
  for (int i = 0; i < FormFieldTable.count; ++i)
    if (FormFieldTable.rows[i].name && strcmp(FormFieldTable.rows[i].name, name) == 0) return FormFieldTable.rows[i].value;
  return nullptr;
}

static void post_login() {
  const uint8_t* client = g_client_address.address;
  if (!SessionApi.sess_challenge_get(client)) {
    snprintf(g_reply, sizeof g_reply,
             "Message: Redirect=/login.asp\nTitle=Challenge Not Found\nBody=<font color=#808000>Please refresh the "
             "login page again.</font>\n");
    return;
  }
  const char* response = field_named("Response");
  const char* username = field_named("Username");
  if (!response || !username) return;
  char user[65];
  text_copy8(user, sizeof user, username);
  char16_t user16[65], address[64];
  text_utf8_to_utf16(user16, 65, user);
  http_client_address_text(address, 64);
  int account = -1;
  char name[3 * 33 + 1];
  for (int i = 0; i < 3 && account < 0; ++i) {
    text_utf16_to_utf8(name, sizeof name, g_settings.account_user[i]);
    if (strcmp(name, user) == 0) account = i;
  }
  if (account < 0) {
    snprintf(g_reply, sizeof g_reply, "%s", kLoginError);
    log_common(EVT_COMMON_UNKNOWN_ACCOUNT, address, nullptr);
  } else if (sess_login_locked(account, client)) {
    snprintf(g_reply, sizeof g_reply, "%s", kLoginLock);
  } else {
    char password[3 * 33 + 1];
    text_utf16_to_utf8(password, sizeof password, g_settings.account_password[account]);
    if (SessionApi.sess_verify_login(response, user, password, client)) {
      sess_login_succeeded(account, client);
      const char* id = SessionApi.sess_create(uint8_t(account));
      snprintf(g_reply, sizeof g_reply, "Set Cookie: Vellmar=%s;path=/\n", id);
      log_common(EVT_COMMON_LOGIN_ACCEPTED, g_settings.account_user[account], address);
      if (account == 0) SessionApi.sess_var_set(10, sess_default_password_mask());
    } else {
      snprintf(g_reply, sizeof g_reply, "%s", kLoginError);
      log_common(EVT_COMMON_LOGIN_REFUSED, user16, address);
      // The failures of an address lock the account for that address only.
      if (sess_login_failed(account, client)) {
        log_common(EVT_COMMON_ACCOUNT_LOCKED, user16, nullptr);
        snprintf(g_reply, sizeof g_reply, "%s", kLoginLock);
      }
    }
  }
  // A captured response never verifies again.
  sess_challenge_renew(client);
}

namespace {

// The texts of one reply's message page, and whom they are for.
struct KeptMessage {
  uint32_t order;                         // 0: none; a later reply has a higher one
  char session_id[SESSION_ID_CHARS + 1];  // the session's id, or "" for a client address
  uint8_t client[16];
  char title[sizeof g_message_title];
  char body[sizeof g_message_body];
  char action[sizeof g_message_action];
};
KeptMessage g_session_messages[SESSION_SLOTS];  // by session slot
KeptMessage g_address_messages[SESSION_SLOTS];  // replies without a session, one per address
uint32_t g_message_order;

}  // namespace

void http_message_keep() {
  KeptMessage* m = nullptr;
  int s = g_current_session;
  if (s >= 0 && s < SESSION_SLOTS && WebSessionTable[s].in_use) {
    m = &g_session_messages[s];
    memcpy(m->session_id, WebSessionTable[s].id, sizeof m->session_id);
  } else {
    // The address's own entry, else a free one, else the oldest.
    for (KeptMessage& k : g_address_messages)
      if (k.order && memcmp(k.client, g_client_address.address, 16) == 0) m = &k;
    if (!m) {
      m = &g_address_messages[0];
      for (KeptMessage& k : g_address_messages)
        if (k.order < m->order) m = &k;
    }
    m->session_id[0] = 0;
  }
  memcpy(m->client, g_client_address.address, 16);
  m->order = ++g_message_order;
  text_copy8(m->title, sizeof m->title, g_message_title);
  text_copy8(m->body, sizeof m->body, g_message_body);
  text_copy8(m->action, sizeof m->action, g_message_action);
}

void http_message_recall(const char* cookie) {
  const KeptMessage* shown = nullptr;
  if (cookie && SessionApi.sess_from_cookie(cookie, 0) >= 0 && g_current_session >= 0 &&
      g_current_session < SESSION_SLOTS) {
    const KeptMessage& m = g_session_messages[g_current_session];
    if (m.order && memcmp(m.session_id, WebSessionTable[g_current_session].id, SESSION_ID_CHARS) == 0) shown = &m;
  }
  for (const KeptMessage& k : g_address_messages)
    if (k.order && memcmp(k.client, g_client_address.address, 16) == 0 && (!shown || k.order > shown->order))
      shown = &k;
  text_copy8(g_message_title, sizeof g_message_title, shown ? shown->title : "");
  text_copy8(g_message_body, sizeof g_message_body, shown ? shown->body : "");
  text_copy8(g_message_action, sizeof g_message_action, shown ? shown->action : "");
}

const char REPLY_SAVE_FAILED[] =
    "Message: Title=Error\nBody=<font color=#F00000>The settings file could not be written: nothing was "
    "changed.</font>\n";

namespace {

StoredRecords g_kept;

}  // namespace

void http_settings_keep() { g_kept = cfg_records_copy(); }

void http_settings_restore() {
  // Run-time state is not part of the file and stays as it is now.
  StoredRecords kept = g_kept;
  cfg_keep_run_time_state(&kept.settings);
  kept.agent.engine_time = g_snmp_agent.engine_time;
  kept.agent.engine_boots = g_snmp_agent.engine_boots;
  cfg_records_put(kept);
}

bool http_settings_save() {
  // A failed save is named in the event log by the settings file's save observer.
  if (cfg_save()) return true;
  http_settings_restore();
  snprintf(g_reply, sizeof g_reply, "%s", REPLY_SAVE_FAILED);
  return false;
}

static void settings_changed(const char* redirect) {
  if (!http_settings_save()) return;
  snprintf(g_reply, sizeof g_reply, "Message: Redirect=%s\n%s", redirect, kUpdated);
  link_send(LINK_KIND_UPC, 0, nullptr);
}

static void post_sys_user() {
  if (http_form_check_inputs(1, "USR_ACCOUNT")) return;
  // Every field is checked on a copy; nothing changes unless all of them are right.
  static AgentSettings s;
  s = g_settings;
  const char* error = nullptr;
  s.login_lock_enable = 0;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const char* n = FormFieldTable.rows[i].name;
    const char* v = FormFieldTable.rows[i].value;
    if (!n || !v) continue;
    if (strncmp(n, "USR_ACCOUNT", 11) == 0) {
      char d = n[11];
      if (!v[0]) error = "The account or password can't be empty!";
      else if (d >= '1' && d <= '3') text_utf8_to_utf16(s.account_user[d - '1'], 33, v);
      else error = "Incorrect user index!";
    } else if (strncmp(n, "USR_PASSWD", 10) == 0) {
      char d = n[10];
      if (!v[0]) continue;
      if (d < '1' || d > '3') error = "Incorrect password index!";
      else if (strlen(v) < 8) error = "Incorrect password length!";
      else if (util_has_control(v)) error = "Incorrect input!";
      else text_utf8_to_utf16(s.account_password[d - '1'], 33, v);
    } else if (strncmp(n, "USR_LOCK", 8) == 0) {
      s.login_lock_enable = 1;
    } else if (strncmp(n, "USR_RETRY", 9) == 0) {
      int64_t number;
      if (http_form_setting(SETTING_LOGIN_RETRY, v, &number)) s.login_retry = uint16_t(number);
      else error = "Incorrect input!";
    } else if (strncmp(n, "USR_LTIME", 9) == 0) {
      int64_t number;
      if (http_form_setting(SETTING_LOGIN_LOCK_MINUTES, v, &number)) s.login_lock_minutes = uint16_t(number);
      else error = "Incorrect input!";
    }
  }
  if (error) {
    snprintf(g_reply, sizeof g_reply, "Message: Title=Error\nBody=<font color=#F00000>%s</font>\n", error);
    return;
  }
  g_settings = s;
  settings_changed("/en/sys_user.asp");
}

static void post_sys_info() {
  if (http_form_check_inputs(5, "INF_INSTALL_DATE", "INF_LOCATION", "INF_DESCRIPTION", "INF_CONTACTOR", "INF_NAME"))
    return;
  struct Target {
    const char* name;
    char16_t* field;
    size_t units;
  };
  // Each value is kept with its terminator in the room the settings file gives it.
  const Target targets[5] = {{"INF_INSTALL_DATE", g_settings.install_date, 32},
                             {"INF_LOCATION", g_settings.location, 64},
                             {"INF_DESCRIPTION", g_settings.description, 128},
                             {"INF_CONTACTOR", g_settings.contactor, 32},
                             {"INF_NAME", g_settings.system_name, 32}};
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (!f.name || !f.value) continue;
    for (const Target& t : targets)
      if (strncmp(f.name, t.name, strlen(t.name)) == 0) {
        text_utf8_to_utf16(t.field, t.units, f.value);
        break;
      }
  }
  settings_changed("/en/sys_info.asp");
}

// The setting of a numeric field of the web settings page; SETTING_COUNT for a switch (0 or 1),
// -1 for a field that is no number.
static int web_field_setting(const char* name) {
  if (strncmp(name, "HTTP_WEB", 8) == 0 || strncmp(name, "HTTPS_WEB", 9) == 0 || strncmp(name, "WEB_FORCEHTTPS", 14) == 0)
    return SETTING_COUNT;
  if (strncmp(name, "WEB_HTTP_PORT", 13) == 0) return SETTING_HTTP_PORT;
  if (strncmp(name, "WEB_HTTPS_PORT", 14) == 0) return SETTING_HTTPS_PORT;
  if (strncmp(name, "WEB_REFRESH", 11) == 0) return SETTING_WEB_REFRESH;
  return -1;
}

static void post_sys_web() {
  // Every number is checked before anything changes.
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (!f.name || !f.value) continue;
    int setting = web_field_setting(f.name);
    int64_t v;
    if (setting == SETTING_WEB_REFRESH && settings_parse_decimal(f.value, strlen(f.value), &v) == SETTING_OK && v < 1) {
      snprintf(g_reply, sizeof g_reply,
               "Message: Title=Illegal refresh period\nBody=<font color=#808000>The refresh period should greater "
               "than 0.</font>\n");
      return;
    }
    bool ok = setting < 0 || (setting == SETTING_COUNT ? http_form_decimal(f.value, 0, 1, &v)
                                                       : http_form_setting(SettingId(setting), f.value, &v));
    if (!ok) {
      snprintf(g_reply, sizeof g_reply, "%s", kIncorrectInput);
      return;
    }
  }
  bool changed = false;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (!f.name || !f.value) continue;
    int64_t v = 0;
    if (web_field_setting(f.name) >= 0) settings_parse_decimal(f.value, strlen(f.value), &v);
    if (strncmp(f.name, "HTTP_WEB", 8) == 0 || strncmp(f.name, "HTTPS_WEB", 9) == 0) {
      uint8_t bit = f.name[4] == 'S' ? 2 : 1;
      uint8_t now = v ? uint8_t(g_settings.web_protocols | bit) : uint8_t(g_settings.web_protocols & ~bit);
      if (now != g_settings.web_protocols) changed = true;
      g_settings.web_protocols = now;
    } else if (strncmp(f.name, "WEB_FORCEHTTPS", 14) == 0) {
      g_settings.force_https = v ? 1 : 0;
    } else if (strncmp(f.name, "WEB_HTTP_PORT", 13) == 0) {
      if (uint16_t(v) != g_settings.http_port) g_settings.http_port = uint16_t(v), changed = true;
    } else if (strncmp(f.name, "WEB_HTTPS_PORT", 14) == 0) {
      if (uint16_t(v) != g_settings.https_port) g_settings.https_port = uint16_t(v), changed = true;
    } else if (strncmp(f.name, "WEB_REFRESH", 11) == 0) {
      g_settings.web_refresh = uint16_t(v);
    } else if (strncmp(f.name, "WEB_SSLCERT", 11) == 0) {
      if (f.filename && f.filename[0] && f.value[0]) {
        http_save_uploaded_cert(&f);
        changed = true;
      }
    }
  }
  if (!http_settings_save()) return;
  if (changed) WebServerOps.http_server_stop();
  cfg_write_url_shortcut();
  snprintf(g_reply, sizeof g_reply, "Message: Redirect=/en/sys_web.asp\n%s", kUpdated);
  link_send(LINK_KIND_UPC, 0, nullptr);
  if (changed)
    WebServerOps.http_open_listeners(g_settings.http_port, g_settings.https_port, g_settings.web_protocols & 1,
                                     (g_settings.web_protocols >> 1) & 1);
}

static void post_language() {
  int k = http_find_field("LANG");
  if (k < 0 || strncmp(FormFieldTable.rows[k].name, "LANG", 4) != 0) return;
  int64_t v;
  // Only the four language folders exist.
  if (!http_form_setting(SETTING_LANGUAGE, FormFieldTable.rows[k].value, &v)) {
    snprintf(g_reply, sizeof g_reply, "%s", kIncorrectInput);
    return;
  }
  g_settings.language = uint8_t(v);
  if (!http_settings_save()) return;
  util_install_manual(uint32_t(v));
  snprintf(g_reply, sizeof g_reply, "OK: Redirect=/en/device/index.asp");
  link_send(LINK_KIND_UPC, 0, nullptr);
  std::lock_guard<std::recursive_mutex> lock(g_state_lock);
  SchedulerApi.sched_add_once(21, 1);
}

void http_device_form_post(HttpConnection* c) {
  const char* slash = strrchr(c->path, '/');
  const char* page = slash ? slash + 1 : c->path;
  int p = -1;
  for (int i = 0; i < 5 && p < 0; ++i)
    if (strncmp(page, DevicePages[i], strlen(DevicePages[i])) == 0) p = i;
  if (p < 0) {
    if (HttpFormPost) HttpFormPost(c);
    return;
  }
  FormFieldTable.count = 0;
  if (c->body && c->body_fill > 0) http_parse_form_data(c->body, c->boundary);
  http_settings_keep();
  if (p >= 1) {
    int t = http_find_field("SYS_UCTOKEN");
    if (t < 0 || !SessionApi.sess_token_check(g_client_address.address, FormFieldTable.rows[t].value)) return;
  }
  switch (p) {
    case 0: post_login(); break;
    case 1: post_sys_user(); break;
    case 2: post_sys_info(); break;
    case 3: post_sys_web(); break;
    case 4: post_language(); break;
    default: break;
  }
}
