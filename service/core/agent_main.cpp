// Start-up, hidden window, timers and stop of the service program. Every module is started here
// in a fixed order; afterwards five window timers and three socket messages drive all the work on
// the window thread.
#include "service/core/agent.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include <openssl/rand.h>
#include <openssl/ssl.h>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/instance_mutex.h"
#include "platform/registry.h"
#include "platform/service_manager.h"
#include "platform/thread.h"
#include "service/alarm/alarm_state.h"
#include "service/alarm/countdown.h"
#include "service/alarm/shutdown_actions.h"
#include "service/alarm/status.h"
#include "service/core/host_metrics.h"
#include "service/core/net_address.h"
#include "service/core/scheduler.h"
#include "service/core/service_glue.h"
#include "service/events/event_defs.h"
#include "service/events/event_log.h"
#include "service/link/link_service.h"
#include "service/pages/form_handlers.h"
#include "service/pages/page_variables.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/web/http_server.h"
#include "service/web/request_state.h"
#include "service/web/session.h"

WindowHandle g_main_hwnd;
static InstanceMutex g_instance_mutex;
uint32_t g_last_tick;
int32_t g_tick_accum;
SystemTime g_last_time;
uint8_t g_trap_sender[28];
std::recursive_mutex g_state_lock;

// Fed to the TLS library's random generator at start; 36 characters, counted with its NUL.
static const char kRandomSeed[] = "Vellmar service entropy seed 0x5A3C7";
static_assert(sizeof kRandomSeed == 37);

static const char16_t kWindowClass[] = u"Vellmar-ServiceClass";
static const char16_t kWindowTitle[] = u"Vellmar-Service";
// In the installation folder: held locked while the service runs, the running copy's pid inside.
static const char kInstanceLockFile[] = "Vellmar-Service.lock";

static void log_common_event(int n) {
  EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, n), evt_name(EVT_GROUP_COMMON, n), nullptr);
}

// ---- Start-up reports: what is wrong with the folder or the settings file, and failed saves ----

static int g_start_exit_code;  // 1 when the start is refused
static bool g_events_ready;    // the event definitions are loaded

// A common event with up to three UTF-8 arguments.
static void log_common_args(int n, const char* a, const char* b = nullptr, const char* c = nullptr) {
  char16_t w[3][260];
  const char* in[3] = {a, b, c};
  for (int i = 0; i < 3; ++i) text_utf8_to_utf16(w[i], 260, in[i] ? in[i] : "");
  EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, n), evt_name(EVT_GROUP_COMMON, n), a ? w[0] : nullptr,
                   b ? w[1] : nullptr, c ? w[2] : nullptr, nullptr);
}

// Failed saves: one report per kind (path and reason) until a save succeeds again.
namespace {
constexpr int kSaveFailureKinds = 8;
struct SaveFailure {
  char path[300];
  char reason[96];
  bool logged;
};
SaveFailure g_save_failures[kSaveFailureKinds];
int g_save_failure_count;

void log_pending_save_failures() {
  for (int i = 0; i < g_save_failure_count; ++i) {
    SaveFailure& f = g_save_failures[i];
    if (f.logged) continue;
    log_common_args(EVT_COMMON_SETTINGS_SAVE_FAILED, f.path, f.reason);
    f.logged = true;
  }
}

void on_settings_save(bool saved, const char* path, const char* reason) {
  if (saved) {
    if (g_save_failure_count) svc_status_problem("settings-save", nullptr);
    g_save_failure_count = 0;
    return;
  }
  for (int i = 0; i < g_save_failure_count; ++i)
    if (strcmp(g_save_failures[i].path, path) == 0 && strcmp(g_save_failures[i].reason, reason) == 0) return;
  if (g_save_failure_count == kSaveFailureKinds) return;
  SaveFailure& f = g_save_failures[g_save_failure_count++];
  snprintf(f.path, sizeof f.path, "%s", path);
  snprintf(f.reason, sizeof f.reason, "%s", reason);
  f.logged = false;
  char line[480];
  snprintf(line, sizeof line, "settings could not be saved to %s: %s", path, reason);
  svc_report_line(line);
  svc_status_problem("settings-save", line);
  if (g_events_ready) log_pending_save_failures();
}

// Refuses the start: one line on standard error, exit code 1.
bool refuse_start(const char* line) {
  svc_report_line(line);
  g_start_exit_code = 1;
  return false;
}

// After the event definitions are loaded: the keys the settings file had wrong, a damaged file,
// the folder in use without a registry entry, and the saves that failed so far.
void report_settings_start(const CfgStartReport& report, bool no_registry_entry) {
  char line[1024];
  if (no_registry_entry) {
    snprintf(line, sizeof line, "no installation folder in the registry (%s): using the current folder %s",
             reg_file_path(), InstallDir);
    svc_report_line(line);
    svc_status_problem("registry", line);
  }
  int replaced = cfg_replaced_count();
  for (int i = 0; i < replaced; ++i) {
    const CfgReplacedKey* k = cfg_replaced(i);
    char used[24];
    snprintf(used, sizeof used, "%lld", static_cast<long long>(k->used));
    log_common_args(EVT_COMMON_SETTING_REPLACED, k->key, k->found, used);
    cfg_replaced_text(k, line, sizeof line);
    svc_report_line(line);
  }
  char path[300];
  cfg_install_file(path, sizeof path, "agent.ini");
  if (replaced) {
    snprintf(line, sizeof line, "agent.ini: %d value%s replaced (see the event log)", replaced, replaced == 1 ? "" : "s");
    svc_status_problem("settings-values", line);
    // The file as it was, before its values were replaced in it.
    if (report.kept) snprintf(line, sizeof line, "settings file %s: the file as it was is kept as agent.ini.damaged", path);
    else snprintf(line, sizeof line, "settings file %s: the file as it was cannot be kept as agent.ini.damaged: it is left as it is", path);
    svc_report_line(line);
  }
  if (report.state == CFG_START_DAMAGED) {
    // Beside the file: its name says where.
    const char* kept = report.kept ? "agent.ini.damaged" : "(not kept: the file is left as it is)";
    char reason[200];
    snprintf(reason, sizeof reason, "%s%s", report.reason,
             report.factory_accounts ? "; factory web accounts, SNMPv3 users and passwords in force" : "");
    log_common_args(EVT_COMMON_SETTINGS_DAMAGED, path, reason, kept);
    snprintf(line, sizeof line, "settings file %s is damaged (%s): kept as %s, factory values used for what could not be read",
             path, reason, kept);
    svc_report_line(line);
    svc_status_problem("settings-file", line);
  }
  // The journal (standard error) is where the administrator reads them; no page shows them.
  if (report.phrases_made) {
    snprintf(line, sizeof line, "SNMPv3 user %s: pass phrases made for this installation: authentication %s, privacy %s",
             g_usm.user[0], g_usm.auth[0], g_usm.priv[0]);
    svc_report_line(line);
  }
  if (report.phrases_failed) {
    snprintf(line, sizeof line, "SNMPv3 user %s: no pass phrases could be made (the random source failed): the "
             "factory pass phrases are in force", g_usm.user[0]);
    svc_report_line(line);
    svc_status_problem("snmp-phrases", line);
  }
  g_events_ready = true;
  log_pending_save_failures();
}
}  // namespace

void agent_scheduler_step(uint32_t now) {
  if (now < g_last_tick) {  // the tick counter wrapped
    g_last_tick = now;
    return;
  }
  uint32_t elapsed = now - g_last_tick;
  if (elapsed < 100) return;
  uint8_t kind;
  {
    std::lock_guard<std::recursive_mutex> lock(g_state_lock);
    // Milliseconds beyond what an int holds only mean that everything is due.
    if (elapsed > 0x3FFFFFFFu) elapsed = 0x3FFFFFFFu;
    int64_t accum = int64_t(g_tick_accum) + elapsed;
    int64_t units = accum / 100;
    g_tick_accum = int32_t(accum % 100);
    // The tick takes at most 255 units at a time; a longer stall is handed over in pieces.
    while (units > 0) {
      uint8_t step = units > 255 ? 255 : uint8_t(units);
      SchedulerApi.sched_tick(step);
      units -= step;
    }
    kind = SchedulerApi.sched_poll_due();
  }
  if (kind != SCHED_NONE) action_execute(kind);
  g_last_tick = now;
}

static void on_second_tick() {
  SystemTime now;
  clock_local_time(&now);
  int seconds = int(now.second) - int(g_last_time.second);
  if (seconds < 0) seconds += 60;
  if (LinkState == 2) link_send(LINK_KIND_VAL, 0, nullptr);
  shutdown_countdown_tick(uint32_t(seconds));
  if (now.minute != g_last_time.minute) net_list_local_addresses(g_local_addresses.entries, &g_local_addresses.count);
  clock_local_time(&g_last_time);
  if (g_snmp_agent.engine_time == 32767) {
    g_snmp_agent.engine_time = 0;
    ++g_snmp_agent.engine_boots;
  } else {
    ++g_snmp_agent.engine_time;
  }
}

static void on_housekeeping_tick() {
  sys_collect_metrics();
  sess_lock_tick(5);
  SnmpAgentApi.snmp_agent_open();
  TrapReceiverApi.trap_open();
  WebServerOps.http_open_listeners(g_settings.http_port, g_settings.https_port, g_settings.web_protocols & 1,
                                   (g_settings.web_protocols >> 1) & 1);
  if (LinkState == 0) {
    if (link_listen_create()) link_listen_start();
  } else if (LinkState == 2) {
    link_send(LINK_KIND_CFG, 0, nullptr);
  }
}

static void on_timer(uintptr_t id) {
  switch (id) {
    case TIMER_AGGREGATE:
      status_aggregate();
      g_status.sys_uptime += 100;
      break;
    case TIMER_POLL:
      WebServerOps.http_poll();
      SnmpAgentApi.snmp_agent_poll();
      agent_scheduler_step(clock_tick_count());
      break;
    case TIMER_TRAPS:
      TrapReceiverApi.trap_poll(g_trap_sender);
      break;
    case TIMER_SECOND:
      on_second_tick();
      break;
    case TIMER_HOUSEKEEPING:
      on_housekeeping_tick();
      break;
    default:
      break;
  }
}

intptr_t agent_wndproc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case WM_CREATE:
      log_common_event(EVT_COMMON_SERVICE_STARTED);
      clock_local_time(&g_last_time);
      return 0;
    case WM_DESTROY:
      log_common_event(EVT_COMMON_SERVICE_STOPPED);
      win_post_quit_message(0);
      return 0;
    case WM_CLOSE:
      if (wparam == 1) win_destroy_window(window);
      else win_show_window(window, SW_HIDE);
      return 0;
    case WM_TIMER:
      on_timer(wparam);
      return 0;
    case WM_LINK_SOCKET:
      link_on_socket(wparam, lparam);
      return 0;
    case WM_WEB_SOCKET:
      WebServerOps.http_on_socket_message(wparam, lparam);
      return 0;
    case WM_SNMP_SOCKET:
      snmp_agent_on_socket(wparam, lparam);
      return 0;
    default:
      return win_def_window_proc(window, message, wparam, lparam);
  }
}

bool agent_start_reaction_timers() {
  return win_set_timer(g_main_hwnd, TIMER_POLL, 10) && win_set_timer(g_main_hwnd, TIMER_TRAPS, 100) &&
         win_set_timer(g_main_hwnd, TIMER_SECOND, 1000) && win_set_timer(g_main_hwnd, TIMER_HOUSEKEEPING, 5000);
}

void agent_kill_reaction_timers() {
  for (uintptr_t id = TIMER_POLL; id <= TIMER_HOUSEKEEPING; ++id) win_kill_timer(g_main_hwnd, id);
}

// The service's lock: a file of root's in the installation folder, which no other user can take.
// A copy that finds it held, or cannot take it, refuses the start.
static bool take_instance_lock() {
  char path[300], reason[96], line[512];
  int holder = 0;
  if (!cfg_install_file(path, sizeof path, kInstanceLockFile))
    return refuse_start("the installation folder's path is too long for its instance lock: not started");
  InstanceMutexResult lock = instance_mutex_create_file(path, &g_instance_mutex, &holder, reason, sizeof reason);
  if (lock == INSTANCE_MUTEX_CREATED) return true;
  if (lock == INSTANCE_MUTEX_EXISTS && holder > 0)
    snprintf(line, sizeof line, "another copy of the service (pid %d) runs on the installation folder %s: not started",
             holder, InstallDir);
  else if (lock == INSTANCE_MUTEX_EXISTS)
    snprintf(line, sizeof line, "another copy of the service runs on the installation folder %s: not started", InstallDir);
  else
    snprintf(line, sizeof line, "the instance lock %s cannot be taken (%s): not started", path, reason);
  return refuse_start(line);
}

bool agent_start() {
  // Before any thread: a stop at any moment from here on reaches the dispatcher.
  svc_block_stop_signals();
  sys_cpu_counter_open();
  thread_start(service_dispatch_thread);
  // One service per installation folder, however the folder is spelt.
  cfg_load_install_path();
  char line[480];
  switch (cfg_install_path_state()) {
    case INSTALL_PATH_NOT_A_FOLDER:
      snprintf(line, sizeof line, "the installation folder %s named in the registry (%s) is not a folder it can use",
               InstallDir, reg_file_path());
      return refuse_start(line);
    case INSTALL_PATH_RELATIVE:
      snprintf(line, sizeof line, "the installation folder %s named in the registry (%s) is not an absolute path",
               InstallDir, reg_file_path());
      return refuse_start(line);
    case INSTALL_PATH_BAD_REGISTRY:
      snprintf(line, sizeof line, "the registry file %s cannot be used (%s): not started", reg_file_path(),
               reg_file_problem());
      return refuse_start(line);
    default:
      break;
  }
  if (!take_instance_lock()) return false;
  // Copies that an interrupted save left behind (the only instance of this folder runs now), and
  // the copy of an upload that an older build made and an interruption left.
  static const char* const kSavedFiles[] = {"agent.ini", "snmp_engine_boots.txt", "snmp_trap_engines.txt",
                                            "Vellmar.url"};
  char path[300];
  for (const char* name : kSavedFiles)
    if (cfg_install_file(path, sizeof path, name)) fs_remove_temporary_copies(path);
  if (cfg_install_file(path, sizeof path, "httpd/htdocs/tmp/agent_tmp.ini")) fs_remove_file(path);
  vm_secure_log(false);
  OPENSSL_init_ssl(0, nullptr);
  RAND_seed(kRandomSeed, sizeof kRandomSeed);
  if (!win_register_class(kWindowClass, agent_wndproc)) return false;
  sched_init();
  codec_table_init();
  g_last_tick = clock_tick_count();
  status_reset();
  cfg_set_save_observer(on_settings_save);
  CfgStartReport settings_report;
  CfgStartState settings_state = cfg_load_at_start(&settings_report);
  if (settings_state == CFG_START_IS_FOLDER || settings_state == CFG_START_UNREADABLE) {
    cfg_install_file(path, sizeof path, "agent.ini");
    snprintf(line, sizeof line, "settings file %s cannot be read (%s): not started", path, settings_report.reason);
    return refuse_start(line);
  }
  evt_init(InstallDirW, cfg_language_name());
  report_settings_start(settings_report, cfg_install_path_state() == INSTALL_PATH_NO_ENTRY);
  status_copy_event_levels();
  sys_get_os_description(g_status.os_description, 128);
  WindowHandle window = win_create_window(kWindowClass, kWindowTitle);
  if (!window) return false;
  // Published for the dispatcher thread, which waits for it to hand on a stop.
  std::atomic_ref<WindowHandle>(g_main_hwnd).store(window, std::memory_order_release);
  cfg_save();
  if (!net_startup()) return false;
  if (link_listen_create()) link_listen_start();
  snmp_agent_init(snmp_agent_mib_handler);
  snmp_agent_notify_to(g_main_hwnd, WM_SNMP_SOCKET);
  snmp_agent_register_mib();
  trap_init();
  g_trap_process = ups_event_process;
  if (!g_settings.stop_service) TrapReceiverApi.trap_open();
  cfg_write_url_shortcut();
  http_server_init(WM_WEB_SOCKET, g_main_hwnd, InstallDir, asp_page_variable, web_form_post);
  if (!g_settings.stop_service && !agent_start_reaction_timers()) return false;
  return win_set_timer(g_main_hwnd, TIMER_AGGREGATE, 1000);
}

int agent_run() {
  WindowMessage msg;
  while (win_get_message(&msg)) {
    win_translate_message(&msg);
    win_dispatch_message(&msg);
  }
  return int(msg.wparam);
}

void agent_stop() {
  TrapReceiverApi.trap_close();
  SnmpAgentApi.snmp_agent_close();
  WebServerOps.http_server_stop();
  EventApi.evt_free_definitions();
  link_listen_close();
  for (uintptr_t id = TIMER_AGGREGATE; id <= TIMER_HOUSEKEEPING; ++id) win_kill_timer(g_main_hwnd, id);
  instance_mutex_release(&g_instance_mutex);
}

int agent_main() {
  if (!agent_start()) return g_start_exit_code;
  int code = agent_run();
  agent_stop();
  return code;
}
