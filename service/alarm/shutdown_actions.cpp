// Shutdown actions: the queued shutdown (VMware cluster and ESXi scripts, then shut down, power
// off, hibernate or nothing), the repeated alarm notice, the event reload and the trap forward;
// the filling of the VMware variables templates; small file helpers.
#include "service/alarm/shutdown_actions.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/file_trust.h"
#include "platform/fs.h"
#include "platform/power.h"
#include "platform/shell.h"
#include "service/alarm/alarm_state.h"
#include "service/alarm/countdown.h"
#include "service/alarm/status.h"
#include "service/core/agent.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/web/request_state.h"

namespace {

constexpr long kReadFileMax = 16L << 20;  // bytes; larger files are not read

int listed_sources() { return g_source_ips.count < SOURCE_IP_MAX ? g_source_ips.count : SOURCE_IP_MAX; }

void log_text(const char16_t* text) { EventApi.evt_log(u"0.0.0.0", EVENT_LEVEL_SYSTEM, text, nullptr); }

void log_common(uint32_t n, const char16_t* argument = nullptr) {
  EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, n), evt_name(EVT_GROUP_COMMON, n), argument, nullptr);
}

// An 8-bit settings field of `room` bytes (terminated or not) into out.
void field_copy8(char* out, size_t out_room, const char* field, size_t room) {
  size_t n = text_len8_in(field, room);
  if (n >= out_room) n = out_room - 1;
  memcpy(out, field, n);
  out[n] = 0;
}

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool append(char* out, size_t room, size_t* at, const char* bytes, size_t n) {
  if (*at + n >= room) return false;
  memcpy(out + *at, bytes, n);
  *at += n;
  return true;
}

enum class Fill { kWritten, kNoTemplate, kRefused };

// Fills the template at <tmpl> into <target> (both under the installation folder). A target that
// cannot be created is left as it is.
Fill write_variables(const char* tmpl, const char* target, const TemplateArg* args, int count) {
  char path[400];
  if (!cfg_install_file(path, sizeof path, tmpl)) return Fill::kNoTemplate;
  char* format = util_read_file(path);
  if (!format) return Fill::kNoTemplate;
  size_t room = strlen(format) + 1;
  for (int i = 0; i < count; ++i) room += args[i].text ? 4 * strlen(args[i].text) : 12;
  char* text = static_cast<char*>(malloc(room));
  int64_t n = text ? vm_fill_template(text, room, format, args, count) : -1;
  free(format);
  if (n >= 0 && cfg_install_file(path, sizeof path, target)) shell_write_command_file(path, text, size_t(n));
  free(text);
  return n >= 0 ? Fill::kWritten : Fill::kRefused;
}

// Logs a file that is not run, with the reason.
void log_refused(const char* path, const char* reason) {
  char16_t path16[1024], reason16[512];
  text_utf8_to_utf16(path16, 1024, path);
  text_utf8_to_utf16(reason16, 512, reason);
  EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, EVT_COMMON_PROGRAM_REFUSED),
                   evt_name(EVT_GROUP_COMMON, EVT_COMMON_PROGRAM_REFUSED), path16, reason16, nullptr);
}

// True when the file (or folder) may be run from: trusted, or, when absent_ok, missing where only
// root could make it (*absent then tells which). Anything else is logged.
bool path_trusted(const char* path, FileTrustKind kind, bool absent_ok, bool* absent = nullptr) {
  char reason[PROGRAM_REFUSAL_MAX];
  FileTrust trust = file_trusted(path, kind, nullptr, 0, reason, sizeof reason);
  if (absent) *absent = trust == FILE_ABSENT;
  if (trust == FILE_TRUSTED || (trust == FILE_ABSENT && absent_ok)) return true;
  log_refused(path, reason);
  return false;
}

// The vCLI folder and the tools a VMware script may run from it: the folder must be there, each
// tool in one of the places the scripts look, and every one of those places that is there trusted.
bool vcli_trusted(const char* script, const char* const* tools, int count) {
  char vcli[800];
  settings_text_utf8(vcli, sizeof vcli, g_settings.vcli_path, 256);
  if (vcli[0] == 0) {
    log_refused(script, "no vCLI folder is set");
    return false;
  }
  char bin[840];
  snprintf(bin, sizeof bin, "%s/bin", vcli);
  if (!path_trusted(vcli, TRUST_FOLDER, false) || !path_trusted(bin, TRUST_FOLDER, true)) return false;
  for (int i = 0; i < count; ++i) {
    const char* formats[] = {"%s/%s", "%s/%s.pl", "%s/bin/%s", "%s/bin/%s.pl"};
    bool found = false;
    for (const char* format : formats) {
      char tool[900];
      snprintf(tool, sizeof tool, format, vcli, tools[i]);
      bool absent = false;
      if (!path_trusted(tool, TRUST_FILE, true, &absent)) return false;
      found = found || !absent;
    }
    if (!found) {
      char tool[900];
      snprintf(tool, sizeof tool, "%s/%s", vcli, tools[i]);
      log_refused(tool, "no such tool in the vCLI folder (nor with .pl, nor under bin)");
      return false;
    }
  }
  return true;
}

void start_command(const char* name, int32_t wait, const char* const* tools, int count) {
  char path[400];
  if (!cfg_install_file(path, sizeof path, name)) return;
  if (!vcli_trusted(path, tools, count)) return;
  vm_secure_log(true);
  shell_open_trusted(path, wait ? VM_SCRIPT_WAIT_MS : 0);
}

void repeat_notice() {
  SchedParam p = sched_fired_param;
  if (p.group > 2 || p.source >= SOURCE_IP_MAX) return;
  char16_t address[260];
  text_utf8_to_utf16(address, 260, g_source_ips.ip[p.source], text_len8_in(g_source_ips.ip[p.source], 52));
  alarm_send_line(evt_level(p.group, p.event), address, evt_name(p.group, p.event));
}

// Clears every source and the status record; the event levels are copied back in.
void wipe_alarm_state() {
  int n = listed_sources();
  for (int s = 0; s < n; ++s) ups_source_reset(uint8_t(s));
  status_reset();
  status_copy_event_levels();
}

// Saves, closes the listeners and sleeps; after the resume the alarm state starts afresh. A
// hibernation that fails changes nothing but the closed listeners, which the 5-second tick opens.
bool hibernate() {
  cfg_save();
  if (WebServerOps.http_server_stop) WebServerOps.http_server_stop();
  if (TrapReceiverApi.trap_close) TrapReceiverApi.trap_close();
  if (SnmpAgentApi.snmp_agent_close) SnmpAgentApi.snmp_agent_close();
  if (!power_hibernate(InstallDir)) return false;
  // The time asleep is not counted by the scheduler or the countdowns.
  g_last_tick = clock_tick_count();
  clock_local_time(&g_last_time);
  wipe_alarm_state();
  log_common(EVT_COMMON_SERVICE_STARTED);
  return true;
}

const char16_t* os_action_name(uint8_t type) {
  return type == 0 ? u"halt" : type == 1 ? u"poweroff" : u"hibernate";
}

// Logs the failed operating-system action and queues its retry (one at a time).
void os_action_failed(uint8_t type) {
  log_common(EVT_COMMON_OS_ACTION_FAILED, os_action_name(type));
  std::lock_guard<std::recursive_mutex> lock(g_state_lock);
  if (!SchedulerApi.sched_find_kind(SCHED_KIND_POWER_RETRY))
    SchedulerApi.sched_add_once(SCHED_KIND_POWER_RETRY, POWER_RETRY_UNITS);
}

// Whether event 9 has been logged for the current shutdown: its retries do not log it again.
bool g_os_action_logged;

// The operating-system action of shutdown type 0, 1 or 2, with its privilege; false when it failed.
// The action is logged before it is called, so that the line is written when the machine goes down.
bool os_action(uint8_t type) {
  if (!power_enable_shutdown_privilege()) return false;
  if (type <= 2 && !g_os_action_logged) {
    log_common(EVT_COMMON_OS_SHUTDOWN);
    g_os_action_logged = true;
  }
  switch (type) {
    case 0:
      return power_shutdown(InstallDir);
    case 1:
      return power_poweroff(InstallDir);
    case 2:
      if (!hibernate()) return false;
      g_os_action_logged = false;   // back from sleep: the next shutdown is a new one
      return true;
    default:
      return true;
  }
}

void shutdown_action() {
  g_os_action_logged = false;
  if (g_settings.vm_enable) {
    log_text(u"Execute the VMWare cluster shutdown command.");
    int clusters = g_clusters.count < CLUSTER_MAX ? g_clusters.count : CLUSTER_MAX;
    for (int i = 0; i < clusters; ++i) vm_run_cluster_script(1, i);
    log_text(u"Execute the VMWare ESXi shutdown command.");
    vm_run_esxi_script(1);
  }
  uint8_t type = g_settings.shutdown_type;
  if (type < 3) {
    if (!os_action(type)) os_action_failed(type);
  } else if (type == 3) {
    wipe_alarm_state();
  }
}

// True while the condition that asked for the shutdown is on (any condition when none is known).
bool condition_lasts() {
  if (g_shutdown_condition >= 0 && g_shutdown_condition < CONDITION_COUNT)
    return g_status.aggregate[g_shutdown_condition] != 0;
  for (uint8_t on : g_status.aggregate)
    if (on) return true;
  return false;
}

void retry_os_action() {
  uint8_t type = g_settings.shutdown_type;
  if (type >= 3 || !condition_lasts()) return;
  if (!os_action(type)) os_action_failed(type);
}

}  // namespace

void settings_text_utf8(char* out, size_t room, const char16_t* field, size_t units) {
  char16_t copy[260];
  size_t n = text_len16_in(field, units);
  if (n > 259) n = 259;
  memcpy(copy, field, n * sizeof(char16_t));
  copy[n] = 0;
  text_utf16_to_utf8(out, room, copy);
}

int32_t g_shutdown_condition = -1;

bool shell_open_trusted(const char* path, uint32_t wait_ms) {
  char resolved[1024], reason[PROGRAM_REFUSAL_MAX];
  if (file_trusted(path, TRUST_FILE, resolved, sizeof resolved, reason, sizeof reason) != FILE_TRUSTED) {
    log_refused(path, reason);
    return false;
  }
  return shell_open(resolved, wait_ms);
}

void shutdown_request() {
  g_os_action_logged = false;
  if (!power_enable_shutdown_privilege()) {
    if (g_settings.shutdown_type < 3) os_action_failed(g_settings.shutdown_type);
    return;
  }
  SchedulerApi.sched_add_once(SCHED_KIND_SHUTDOWN, 1);
}

void action_execute(uint8_t kind) {
  switch (kind) {
    case SCHED_KIND_ALARM_BROADCAST:
      repeat_notice();
      break;
    case SCHED_KIND_SHUTDOWN:
      shutdown_action();
      break;
    case SCHED_KIND_RELOAD_EVENTS:
      EventApi.evt_free_definitions();
      EventApi.evt_load_definitions(cfg_language_name());
      break;
    case SCHED_KIND_TRAP_FORWARD:
      if (TrapReceiverApi.trap_forward) TrapReceiverApi.trap_forward(nullptr);
      break;
    case SCHED_KIND_POWER_RETRY:
      retry_os_action();
      break;
    default:
      break;
  }
}

int64_t vm_fill_template(char* out, size_t room, const char* format, const TemplateArg* args, int count) {
  if (!out || room == 0) return -1;
  for (int i = 0; i < count; ++i) {
    if (!args[i].text) continue;
    for (const char* p = args[i].text; *p; ++p)
      if (is_control(uint8_t(*p))) return -1;
  }
  size_t at = 0;
  int position = 0;
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      if (!append(out, room, &at, p, 1)) return -1;
      ++p;
      continue;
    }
    if (p[1] == '%') {
      if (!append(out, room, &at, "%", 1)) return -1;
      p += 2;
      continue;
    }
    // One conversion: flags, width, precision, length, then its letter.
    const char* end = p + 1;
    while (*end && strchr("-+ #0'", *end)) ++end;
    while (*end && (*end == '*' || (*end >= '0' && *end <= '9'))) ++end;
    if (*end == '.') {
      ++end;
      while (*end && (*end == '*' || (*end >= '0' && *end <= '9'))) ++end;
    }
    while (*end && strchr("hlLqjzZt", *end)) ++end;
    if (!*end) {
      if (!append(out, room, &at, p, strlen(p))) return -1;
      break;
    }
    ++end;
    size_t length = size_t(end - p);
    const TemplateArg* arg = position < count ? &args[position] : nullptr;
    ++position;
    if (arg && length == 2 && p[1] == 's' && arg->text) {
      for (const char* t = arg->text; *t; ++t) {
        bool ok = *t == '\'' ? append(out, room, &at, "'\\''", 4) : append(out, room, &at, t, 1);
        if (!ok) return -1;
      }
    } else if (arg && length == 2 && p[1] == 'd' && !arg->text) {
      char number[16];
      int n = snprintf(number, sizeof number, "%d", arg->number);
      if (!append(out, room, &at, number, size_t(n))) return -1;
    } else if (!append(out, room, &at, p, length)) {
      return -1;
    }
    p = end;
  }
  out[at] = 0;
  return int64_t(at);
}

void vm_secure_log(bool create) {
  char path[400];
  if (cfg_install_file(path, sizeof path, "command/vmware-shutdown.log")) shell_private_log(path, create);
}

void vm_run_esxi_script(int32_t wait) {
  const char* script = g_settings.vm_type == 0 ? "command/command.ESX65.cmd"
                       : g_settings.vm_type == 1 ? "command/command.ESX5.cmd"
                                                 : nullptr;
  if (!script || g_settings.vm_server[0] == 0) return;
  char account[128], password[128], server[400], vcli[800];
  settings_text_utf8(account, sizeof account, g_settings.vm_account, 33);
  settings_text_utf8(password, sizeof password, g_settings.vm_password, 33);
  settings_text_utf8(server, sizeof server, g_settings.vm_server, 129);
  settings_text_utf8(vcli, sizeof vcli, g_settings.vcli_path, 256);
  const TemplateArg args[5] = {{account, 0}, {password, 0}, {server, 0}, {vcli, 0}, {nullptr, g_settings.guest_enable}};
  if (write_variables("command/SetVar.ESX65.template", "command/SetVar.ESX65.cmd", args, 5) != Fill::kWritten) return;
  // The tools its script calls: the guests' one only when guests are shut down too.
  static const char* const kTools[2][2] = {{"vicfg-hostops", "esxcli"}, {"vicfg-hostops", "vmware-cmd"}};
  start_command(script, wait, kTools[g_settings.vm_type], g_settings.guest_enable == 1 ? 2 : 1);
}

void vm_run_cluster_script(int32_t wait, int32_t i) {
  int clusters = g_clusters.count < CLUSTER_MAX ? g_clusters.count : CLUSTER_MAX;
  if (i < 0 || i >= clusters) return;
  if (g_settings.vm_type == 0 || g_settings.vm_type == 1) {
    char account[34], password[34], vcenter[53], cluster[34], vcli[800];
    field_copy8(account, sizeof account, g_clusters.account[i], sizeof g_clusters.account[i]);
    field_copy8(password, sizeof password, g_clusters.password[i], sizeof g_clusters.password[i]);
    field_copy8(vcenter, sizeof vcenter, g_clusters.vcenter[i], sizeof g_clusters.vcenter[i]);
    field_copy8(cluster, sizeof cluster, g_clusters.cluster[i], sizeof g_clusters.cluster[i]);
    settings_text_utf8(vcli, sizeof vcli, g_settings.vcli_path, 256);
    const TemplateArg args[5] = {{account, 0}, {password, 0}, {vcenter, 0}, {cluster, 0}, {vcli, 0}};
    // Without a template the script runs with the variables already on disk.
    if (write_variables("command/SetVar.VMCluster.template", "command/SetVar.VMCluster.cmd", args, 5) == Fill::kRefused)
      return;
  }
  static const char* const kTools[] = {"vicfg-hostops"};
  start_command("command/command.VMCluster.cmd", wait, kTools, 1);
}

char* util_read_file(const char* path) {
  if (!path) return nullptr;
  FILE* f = fopen(path, "rb");
  if (!f) return nullptr;
  long size = -1;
  if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
  char* buffer = nullptr;
  if (size >= 0 && size <= kReadFileMax && fseek(f, 0, SEEK_SET) == 0) buffer = static_cast<char*>(malloc(size_t(size) + 1));
  if (buffer) {
    size_t n = fread(buffer, 1, size_t(size), f);
    if (ferror(f)) {
      free(buffer);
      buffer = nullptr;
    } else {
      buffer[n] = 0;
    }
  }
  fclose(f);
  return buffer;
}

int util_create_directory(const char* utf8_path) {
  if (!utf8_path || !*utf8_path) return 0;
  return fs_create_directory(utf8_path) ? 1 : 0;
}

void util_install_manual(uint32_t language) {
  static const char* const kManual[4] = {
      "Language/English/Vellmar-2012_EN.pdf",
      "Language/Traditional Chinese/Vellmar-2012_TC.pdf",
      "Language/Simplified Chinese/Vellmar-2012_SC.pdf",
      "Language/Polish/Vellmar-2012_PO.pdf",
  };
  if (language > 3) return;
  char from[400], to[400];
  if (!cfg_install_file(from, sizeof from, kManual[language]) ||
      !cfg_install_file(to, sizeof to, "Language/Vellmar-UM.pdf"))
    return;
  fs_copy_file(from, to, false);
}
