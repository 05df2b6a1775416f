// Form handlers of the UPS pages other than the list editors.
#include "service/pages/form_handlers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/fs.h"
#include "service/alarm/countdown.h"
#include "service/alarm/shutdown_actions.h"
#include "service/alarm/status.h"
#include "service/core/agent.h"
#include "service/core/net_address.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/events/event_log.h"
#include "service/events/event_views.h"
#include "service/link/link_frames.h"
#include "service/link/link_service.h"
#include "service/pages/list_forms.h"
#include "service/pages/page_variables.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/snmp/trap_state.h"
#include "service/web/http_server.h"
#include "service/web/asp_template.h"
#include "service/web/request_state.h"
#include "service/web/session.h"
#include "service/web/system_pages.h"

const char* const FIFO_GROUP_POST[POST_PAGE_COUNT] = {
    "hist_log", "hist_config", "dev_config", "dev_isource", "dev_iforward", "dev_control", "dev_snmpv1",
    "dev_iaccess", "dev_snmpv3", "dev_iusm", "sys_batch", "dev_icluster", "debug",
};

const char REPLY_NOT_FOUND[] = "Message: Title=Error\nBody=<font color=#F00000>FIFO_GROUP_POST not found!</font>\n";
const char REPLY_CONFIG_UPDATED[] =
    "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const char REPLY_SNMPV1_UPDATED[] =
    "Message: Redirect=/en/device/dev_snmpv1.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const char REPLY_SNMPV3_UPDATED[] =
    "Message: Redirect=/en/device/dev_snmpv3.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const char REPLY_BAD_INPUT[] = "Message: Title=Error\nBody=<font color=#F00000>Incorrect input!</font>\n";

namespace {

const char R1[] = "OK: Redirect=/en/hist_log.asp";
const char R2[] =
    "Message: Redirect=/en/hist_log.asp\nTitle=Incorrect Date Format\nBody=<font color=#808000>The date format is "
    "not correct, please check it again.</font>\n";
const char R3[] =
    "Message: Redirect=/en/hist_config.asp\nTitle=Information\nBody=<font color=#008000>Update successful.</font>\n";
const char R5[] =
    "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Command received "
    "successfully.</font>\n";
const char R6[] =
    "Message: Redirect=/en/device/dev_control.asp\nTitle=Information\nBody=<font color=#008000>Command "
    "submitted.</font>\n";
const char R9[] = "OK: Redirect=/tmp/agent.ini";
const char R10[] =
    "Message: Redirect=/en/sys_batch.asp\nTitle=Error\nBody=<font color=#800000>File format mismatched or "
    "error.</font>\n";
const char R11[] =
    "Message: Redirect=/en/sys_batch.asp\nTitle=Information\nBody=<font color=#008000>Upload successful.</font>\n";
const char R12[] = "OK: Redirect=/debug.asp";
const char R13[] = "OK: Redirect=/home.asp";
const char kAdminCommand[] =
    "Message: Title=Error\nBody=<font color=#F00000>Only the administrator may change the command file.</font>\n";
const char kAdminVcli[] =
    "Message: Title=Error\nBody=<font color=#F00000>Only the administrator may change the vCLI path.</font>\n";
const char kCopyFailed[] =
    "Message: Redirect=/en/sys_batch.asp\nTitle=Error\nBody=<font color=#800000>The settings file could not be "
    "copied for download.</font>\n";

bool begins(const char* name, const char* prefix) { return name && strncmp(name, prefix, strlen(prefix)) == 0; }

// ---- hist_log ----

void hist_log() {
  uint64_t marks = 0;
  for (int i = 0; i < FormFieldTable.count; ++i)
    if (begins(FormFieldTable.rows[i].name, "LOG_SELID")) {
      int64_t id;
      if (http_form_decimal(FormFieldTable.rows[i].name + 9, 0, INT64_MAX, &id)) marks |= uint64_t(1) << (id % 64);
    }
  SessionApi.sess_var_set(8, uint32_t(marks));
  SessionApi.sess_var_set(9, uint32_t(marks >> 32));
  form_reply(R1);
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    const char* value = f.value ? f.value : "";
    if (begins(f.name, "LOG_BUT")) {
      int64_t pages = (int64_t(evt_line_count()) + EVENT_PAGE_LINES - 1) / EVENT_PAGE_LINES;
      int64_t last = pages ? pages - 1 : 0;
      // A page number outside the log shows its first or last page.
      int64_t page;
      if (strcmp(value, "<<") == 0) page = 0;
      else if (strcmp(value, ">>") == 0) page = last;
      else page = http_form_clamped(value, 1, last + 1) - 1;
      SessionApi.sess_var_set(0, uint32_t(page));
      SessionApi.sess_var_set(1, 1);
      return;
    }
    if (begins(f.name, "DLLOG_BUT")) {
      NOT_DELAY = 3;
      EventApi.evt_export_csv();
      return;
    }
    if (begins(f.name, "BUT_APPLY")) {
      const char *from = nullptr, *to = nullptr;
      for (int k = 0; k < FormFieldTable.count && !to; ++k) {
        const FormField& d = FormFieldTable.rows[k];
        if (!d.name) continue;
        if (strcmp(d.name, "LOG_FROM") == 0) from = d.value ? d.value : "";
        else if (strcmp(d.name, "LOG_TO") == 0) to = d.value ? d.value : "";
      }
      uint8_t a[3], b[3];
      if (!from || !to || util_parse_date(from, a, 1) != 3 || util_parse_date(to, b, 1) != 3) {
        form_reply(R2);
        return;
      }
      for (int k = 0; k < 3; ++k) {
        SessionApi.sess_var_set(2 + k, a[k]);
        SessionApi.sess_var_set(5 + k, b[k]);
      }
      SessionApi.sess_var_set(1, 0);
      return;
    }
  }
}

// ---- hist_config ----

void hist_config() {
  if (!form_token_ok()) return;
  if (form_value("CLEAR_LOG")) EventApi.evt_clear_log();
  form_reply(R3);
}

// ---- dev_config ----

// Puts the kept records back and leaves the reply; false, for the handlers to return.
bool refuse(const char* reply) {
  http_settings_restore();
  form_reply(reply);
  return false;
}

// A field's number inside the range of its setting; otherwise the post is refused.
bool setting_field(SettingId id, const char* value, int64_t* out) {
  return http_form_setting(id, value, out) || refuse(REPLY_BAD_INPUT);
}

bool sub_shutdown() {
  static const char* const kEnable[5] = {"CFG_PF_EN", "CFG_BL_EN", "CFG_OL_EN", "CFG_BP_EN", "CFG_SS_EN"};
  static const char* const kDelay[5] = {"CFG_OSD_PF", "CFG_OSD_BL", "CFG_OSD_OL", "CFG_OSD_BP", "CFG_OSD_SS"};
  memset(g_settings.condition_enable, 0, sizeof g_settings.condition_enable);
  int64_t v;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (begins(f.name, "CFG_SHUT_TYPE")) {
      if (!setting_field(SETTING_SHUTDOWN_TYPE, f.value, &v)) return false;
      g_settings.shutdown_type = uint8_t(v);
    }
    for (int c = 0; c < 5; ++c) {
      if (begins(f.name, kEnable[c])) g_settings.condition_enable[c] = 1;
      if (begins(f.name, kDelay[c])) {
        if (!setting_field(SettingId(SETTING_DELAY_POWER_FAIL + c), f.value, &v)) return false;
        g_settings.condition_delay[c] = uint32_t(v);
      }
    }
  }
  return true;
}

// The paths the service runs as root are the administrator's: any other session may post them
// only as they are stored.
bool administrator() { return sess_current_level() == 0; }

bool sub_reaction() {
  static const char* const kChecked[] = {"CFG_CMD_FILE"};
  if (http_form_check_inputs(1, "CFG_CMD_FILE") || form_refuse_controls(1, kChecked)) return false;
  char16_t file[256];
  text_copy16(file, 256, g_settings.command_file);
  g_settings.notify_enable = 0;
  g_settings.command_enable = 0;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (begins(f.name, "CFG_MSG_EN")) g_settings.notify_enable = 1;
    if (begins(f.name, "CFG_CMD_EN")) g_settings.command_enable = 1;
    int64_t v;
    if (begins(f.name, "CFG_MSG_PERIOD")) {
      if (!setting_field(SETTING_NOTIFY_PERIOD, f.value, &v)) return false;
      g_settings.notify_period = uint16_t(v);
    }
    if (begins(f.name, "CFG_CMD_BEFORE")) {
      if (!setting_field(SETTING_COMMAND_BEFORE, f.value, &v)) return false;
      g_settings.command_before = uint32_t(v);
    }
    if (begins(f.name, "CFG_CMD_FILE"))
      text_utf8_to_utf16(g_settings.command_file, 250, f.value ? f.value : "");
  }
  // Only the path is the administrator's; its switch is the device manager's too.
  if (!administrator() && !text_equal16(file, g_settings.command_file)) return refuse(kAdminCommand);
  return true;
}

bool sub_logical() {
  int64_t v;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (begins(f.name, "CFG_TRAP_PORT")) {
      if (!setting_field(SETTING_TRAP_PORT, f.value, &v)) return false;
      g_source_ips.listen_port = uint16_t(v);
    }
    if (begins(f.name, "CFG_SRC_LOGICAL")) {
      // 0 is OR, any other value AND.
      if (!http_form_decimal(f.value, 0, 255, &v)) return refuse(REPLY_BAD_INPUT);
      g_source_ips.logical = uint8_t(v);
    }
  }
  return true;
}

void sub_manageable() {
  bool on = form_value("CFG_MAG_EN") != nullptr;
  g_settings.manageable = on ? 1 : 0;
  g_usm.permission[0] = on ? 2 : 0;
}

// Stores a posted value one byte a character (each byte becomes the unit of the same value).
void store_bytes(char16_t* field, size_t max_chars, const char* value) {
  size_t n = 0;
  for (; value[n] && n < max_chars; ++n) field[n] = char16_t(static_cast<unsigned char>(value[n]));
  field[n] = 0;
}

bool sub_vm() {
  static const char* const kChecked[] = {"CFG_VM_VCLI", "CFG_VM_HOST", "CFG_VM_ACCOUNT", "CFG_VM_PASSWORD"};
  if (http_form_check_inputs(4, kChecked[0], kChecked[1], kChecked[2], kChecked[3]) ||
      form_refuse_controls(4, kChecked))
    return false;
  char16_t vcli[256];
  text_copy16(vcli, 256, g_settings.vcli_path);
  g_settings.vm_enable = 0;
  g_settings.guest_enable = 0;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    const char* v = f.value ? f.value : "";
    if (begins(f.name, "CFG_VM_TYPE")) {
      int64_t type;
      if (!setting_field(SETTING_VM_TYPE, v, &type)) return false;
      g_settings.vm_type = uint8_t(type);
    }
    if (begins(f.name, "CFG_VM_EN")) g_settings.vm_enable = 1;
    if (begins(f.name, "CFG_GS_EN")) g_settings.guest_enable = 1;
    if (begins(f.name, "CFG_VM_HOST")) store_bytes(g_settings.vm_server, 128, v);
    if (begins(f.name, "CFG_VM_ACCOUNT")) store_bytes(g_settings.vm_account, 32, v);
    if (begins(f.name, "CFG_VM_PASSWORD") && *v) store_bytes(g_settings.vm_password, 32, v);
    if (begins(f.name, "CFG_VM_VCLI")) store_bytes(g_settings.vcli_path, 255, v);
  }
  if (!administrator() && !text_equal16(vcli, g_settings.vcli_path)) return refuse(kAdminVcli);
  return true;
}

void dev_config() {
  if (!form_token_ok()) return;
  static const char* const kSubs[] = {"SUB_SHUTDOWN", "SUB_REACTION", "SUB_LOGICAL", "SUB_MAG", "SUB_VM", "SUB_TSH"};
  uint16_t trap_port = g_source_ips.listen_port;
  int sub = -1;
  for (int i = 0; i < FormFieldTable.count; ++i)
    for (int s = 0; s < 6; ++s)
      if (begins(FormFieldTable.rows[i].name, kSubs[s])) sub = s;
  switch (sub) {
    case 0:
      if (!sub_shutdown()) return;
      break;
    case 1:
      if (!sub_reaction()) return;
      break;
    case 2:
      if (!sub_logical()) return;
      break;
    case 3: sub_manageable(); break;
    case 4:
      if (!sub_vm()) return;
      break;
    case 5:
      form_reply(R5);
      EventApi.evt_log(u"0.0.0.0", 0, u"Execute the VMWare ESXi shutdown command.", nullptr);
      vm_run_esxi_script(0);
      return;
    default:
      form_reply(REPLY_NOT_FOUND);
      return;
  }
  if (!http_settings_save()) return;
  // The 5-second timer opens the trap listeners again on the new port.
  if (g_source_ips.listen_port != trap_port && TrapReceiverApi.trap_close) TrapReceiverApi.trap_close();
  form_reply(REPLY_CONFIG_UPDATED);
}

// ---- dev_control ----

void simulate_power(int32_t specific) {
  TrapState.version = 0;
  TrapState.source_index = 0;
  TrapState.trap_group = 0;
  TrapState.generic_trap = 6;
  TrapState.specific_trap = specific;
  std::lock_guard<std::recursive_mutex> lock(g_state_lock);
  SchedulerApi.sched_add_once(SCHED_KIND_TRAP_FORWARD, 1);
}

void dev_control() {
  if (!form_token_ok()) return;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const char* name = FormFieldTable.rows[i].name;
    if (begins(name, "SHUT_CANCEL")) {
      shutdown_cancel_toggle();
    } else if (begins(name, "PAUSE_BROAD")) {
      {
        std::lock_guard<std::recursive_mutex> lock(g_state_lock);
        SchedulerApi.sched_remove_kind(SCHED_KIND_ALARM_BROADCAST);
        memset(g_status.notice_handle, SCHED_NONE, sizeof g_status.notice_handle);
      }
      EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, EVT_COMMON_NOTICES_PAUSED),
                       evt_name(EVT_GROUP_COMMON, EVT_COMMON_NOTICES_PAUSED), nullptr);
    } else if (begins(name, "SIM_POWERFAIL")) {
      simulate_power(3);
    } else if (begins(name, "SIM_POWERRESTORE")) {
      simulate_power(4);
    } else {
      continue;
    }
    form_reply(R6);
    return;
  }
}

// ---- dev_snmpv1, dev_snmpv3 ----

void dev_snmpv1() {
  if (!form_token_ok()) return;
  const char* port = form_value("CFG_SNMP_PORT");
  if (!form_value("SUB_PORT") || !port) return;
  int64_t v;
  if (!http_form_setting(SETTING_AGENT_PORT, port, &v)) {
    form_reply(REPLY_BAD_INPUT);
    return;
  }
  uint16_t p = uint16_t(v);
  bool changed = p != g_snmp_agent.listen_port;
  g_snmp_agent.listen_port = p;
  if (!http_settings_save()) return;
  if (changed && SnmpAgentApi.snmp_agent_close) SnmpAgentApi.snmp_agent_close();
  form_reply(REPLY_SNMPV1_UPDATED);
}

void dev_snmpv3() {
  static const char* const kChecked[] = {"CFG_USM_CONTEXT"};
  if (!form_token_ok() || http_form_check_inputs(1, "CFG_USM_CONTEXT") || form_refuse_controls(1, kChecked)) return;
  const char* context = form_value("CFG_USM_CONTEXT");
  if (!form_value("SUB_CONTEXT") || !context) return;
  text_copy8(g_usm.context_name, sizeof g_usm.context_name, context);
  if (!http_settings_save()) return;
  form_reply(REPLY_SNMPV3_UPDATED);
}

// ---- sys_batch ----

// The listeners' settings before an upload, to close those that changed after it.
struct ListenerPorts {
  uint16_t snmp, trap, http, https;
  uint8_t web_protocols;
};

ListenerPorts listener_ports() {
  return {g_snmp_agent.listen_port, g_source_ips.listen_port, g_settings.http_port, g_settings.https_port,
          g_settings.web_protocols};
}

// After an upload the settings take effect: keys localised again, changed listeners closed (the
// 5-second tick opens them again), the tray programs told, the event texts reloaded.
void apply_uploaded(const ListenerPorts& before) {
  if (SnmpAgentApi.snmp_usm_localize_keys) SnmpAgentApi.snmp_usm_localize_keys();
  ListenerPorts after = listener_ports();
  if (after.snmp != before.snmp && SnmpAgentApi.snmp_agent_close) SnmpAgentApi.snmp_agent_close();
  if (after.trap != before.trap && TrapReceiverApi.trap_close) TrapReceiverApi.trap_close();
  // The connection of this request stays: only the web listeners are closed.
  if (after.http != before.http || after.https != before.https || after.web_protocols != before.web_protocols)
    http_close_listeners();
  link_send(LINK_KIND_UPC, 0, nullptr);
  std::lock_guard<std::recursive_mutex> lock(g_state_lock);
  SchedulerApi.sched_add_once(SCHED_KIND_RELOAD_EVENTS, 1);
}

// The refusal of an upload, with the first key and value that refused it, so that an old copy can
// be mended.
void refuse_upload() {
  const CfgReplacedKey* key = cfg_replaced(0);
  if (!key) {
    form_reply(R10);
    return;
  }
  char name[sizeof key->key * 6], found[sizeof key->found * 6];
  asp_escape_html(name, sizeof name, key->key);
  asp_escape_html(found, sizeof found, key->found);
  snprintf(g_reply, sizeof g_reply,
           "Message: Redirect=/en/sys_batch.asp\nTitle=Error\nBody=<font color=#800000>File format mismatched or "
           "error. Key %s has value %s.</font>\n",
           name, found);
}

void sys_batch() {
  if (!form_token_ok()) return;
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const char* name = FormFieldTable.rows[i].name;
    if (begins(name, "DL_SYSTEM")) {
      char from[300], to[300];
      bool paths = cfg_install_file(from, sizeof from, "agent.ini") &&
                   cfg_install_file(to, sizeof to, "httpd/htdocs/tmp/agent.ini");
      // An old copy is never served in place of a failed one.
      if (paths) remove(to);
      form_reply(paths && fs_copy_file(from, to, false, FS_PRIVATE) ? R9 : kCopyFailed);
      return;
    }
    if (begins(name, "UL_SYSTEM")) {
      const char* value = form_value("UL_F_SYSTEM");
      if (!value || !*value) {
        form_reply(R10);
        return;
      }
      const char* last = form_value_end("UL_F_SYSTEM");
      if (!last) last = value + strlen(value) - 1;
      ListenerPorts before = listener_ports();
      // The import saves what it applies; a refused file or a failed save leaves the settings in use.
      switch (cfg_import_uploaded(value, last)) {
        case CFG_IMPORT_APPLIED:
          apply_uploaded(before);
          form_reply(R11);
          return;
        case CFG_IMPORT_NOT_SAVED: form_reply(REPLY_SAVE_FAILED); return;
        case CFG_IMPORT_REFUSED: refuse_upload(); return;
      }
      return;
    }
  }
}

// ---- debug ----

void debug_page() {
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const char* name = FormFieldTable.rows[i].name;
    if (begins(name, "DBG_REFRESH") || begins(name, "DBG_CLEAR")) {
      form_reply(R12);
      return;
    }
    if (begins(name, "DBG_HOME")) {
      form_reply(R13);
      return;
    }
  }
}

}  // namespace

const char* form_value(const char* prefix) {
  for (int i = 0; i < FormFieldTable.count; ++i)
    if (begins(FormFieldTable.rows[i].name, prefix)) return FormFieldTable.rows[i].value ? FormFieldTable.rows[i].value : "";
  return nullptr;
}

const char* form_value_end(const char* prefix) {
  for (int i = 0; i < FormFieldTable.count; ++i)
    if (begins(FormFieldTable.rows[i].name, prefix)) return FormFieldTable.rows[i].value_end;
  return nullptr;
}

int form_refuse_controls(int count, const char* const* names) {
  for (int f = 0; f < FormFieldTable.count; ++f) {
    const FormField& field = FormFieldTable.rows[f];
    if (!field.name || !field.value) continue;
    for (int i = 0; i < count; ++i) {
      if (strncmp(field.name, names[i], 7) == 0 && util_has_control(field.value)) {
        form_reply(REPLY_BAD_INPUT);
        return 1;
      }
    }
  }
  return 0;
}

int form_token_ok() {
  int i = http_find_field("SYS_UCTOKEN");
  if (i < 0) return 0;
  const char* token = FormFieldTable.rows[i].value;
  if (!token || !*token || !SessionApi.sess_token_check) return 0;
  return SessionApi.sess_token_check(g_client_address.address, token);
}

void form_reply(const char* text) { text_copy8(g_reply, sizeof g_reply, text); }

void web_form_post(HttpConnection* c) {
  if (!c || !c->path) return;
  const char* slash = strrchr(c->path, '/');
  const char* segment = slash ? slash + 1 : c->path;
  int page = -1;
  for (int i = 0; i < POST_PAGE_COUNT && page < 0; ++i)
    if (begins(segment, FIFO_GROUP_POST[i])) page = i;
  if (page < 0) {
    form_reply(REPLY_NOT_FOUND);
    return;
  }
  FormFieldTable.count = 0;
  if (c->body_fill != 0 && c->body && WebServerOps.http_parse_form_data)
    WebServerOps.http_parse_form_data(c->body, c->boundary);
  http_settings_keep();
  switch (page) {
    case POST_HIST_LOG: hist_log(); break;
    case POST_HIST_CONFIG: hist_config(); break;
    case POST_DEV_CONFIG: dev_config(); break;
    case POST_DEV_CONTROL: dev_control(); break;
    case POST_DEV_SNMPV1: dev_snmpv1(); break;
    case POST_DEV_SNMPV3: dev_snmpv3(); break;
    case POST_SYS_BATCH: sys_batch(); break;
    case POST_DEBUG: debug_page(); break;
    default: list_form_post(page); break;
  }
}
