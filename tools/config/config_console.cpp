// Screens, answers and actions of the configuration console.
#include "tools/config/config_console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/settings_ranges.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/firewall.h"
#include "platform/os_version.h"
#include "platform/process.h"
#include "platform/service_control.h"
#include "tools/config/netsh_command.h"

int32_t ConsoleScreen;
bool ConsoleUnsaved;
bool ConsoleSavedNotRestarted;
uint32_t ConsoleOsMajor;

static bool g_scripted;
static int g_argc;
static char** g_argv;
static int g_next_arg = 1;
// Something the user asked for failed: a scripted run ends with exit code 1.
static bool g_failed;

// The four ports of the firewall rule, as agent.ini holds them (after the load or the last save).
struct RulePorts {
  uint16_t trap, agent, http, https;
};
static RulePorts g_saved_ports;

static const char kRuleName[] = "Vellmar 2012";
static const char kStoring[] = "\r\nStoring, please wait ...";
static const char kRestarting[] = "\r\nRestart Service, please wait ...";
static const char kSetting[] = "\r\nSetting, please wait ...";
static const char kRestartFailed[] = "\r\nThe service could not be restarted.\r\n";
static const char kFirewallRefused[] = "\r\nThe firewall command could not be built for this folder.\r\n";
static const char kFirewallFailed[] = "\r\nThe firewall rule could not be set.\r\n";
static const char kFirewallFollowsSaved[] =
    "\r\nThe firewall rule follows the saved ports: save first to open the changed ones.";
static const char kFirewallReplaced[] = "\r\nThe saved ports changed: the firewall rule is replaced to follow them.";
static const char kStoreFailed[] = "\r\nThe settings could not be stored in agent.ini.\r\n";
static const char kNothingChanged[] = "Nothing was changed; the configure program ends.\r\n";
static const uint32_t kStopWaitMs = 30000;
// A service that ends this soon after its start has not started.
static const uint32_t kStartWatchMs = 2000;

static void out(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void out(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  console_write(text);
}

static const char* enable_text(bool on) { return on ? "Enable" : "Disable"; }

static void show_menu() {
  console_write("\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
  console_write("+========================+\r\n");
  console_write("|        Vellmar         |\r\n");
  console_write("+========================+\r\n");
  out("Version: %s\r\n", "02.00.22");
  out("[1].SNMP Trap Port:    %d\r\n", g_source_ips.listen_port);
  out("[2].SNMP Server Port:  %d\r\n", g_snmp_agent.listen_port);
  out("[3].HTTP:              %s\r\n", enable_text(g_settings.web_protocols & 1));
  out("[4].HTTPS:             %s\r\n", enable_text(g_settings.web_protocols & 2));
  out("[5].Force HTTPS:       %s\r\n", enable_text(g_settings.force_https != 0));
  out("[6].HTTP Port:         %d\r\n", g_settings.http_port);
  out("[7].HTTPS Port:        %d\r\n", g_settings.https_port);
  out("[8].Manageable:        %s\r\n", enable_text(g_settings.manageable != 0));
  console_write("[9].Save\r\n[a].Set Firewall\r\n[b].Restart Vellmar Service\r\n[0].Exit\r\n");
  console_write("Please Enter Your Choice => ");
}

void cfgtool_show_screen(int32_t code) {
  switch (code) {
    case SCREEN_MENU: show_menu(); break;
    case SCREEN_TRAP_PORT: out("\r\nSNMP Trap Port(%d): ", g_source_ips.listen_port); break;
    case SCREEN_SNMP_PORT: out("\r\nSNMP Server Port(%d): ", g_snmp_agent.listen_port); break;
    case SCREEN_HTTP_PORT: out("\r\nHTTP Port(%d): ", g_settings.http_port); break;
    case SCREEN_HTTPS_PORT: out("\r\nHTTPS Port(%d): ", g_settings.https_port); break;
    case SCREEN_FIREWALL:
      console_write("\r\nWe'll help to insert or remove the firewall rules of Vellmar for you,\r\n"
                    "Do you want to insert or remove the firewall? [I]nsert, [R]emove\r\n"
                    "Please Enter Your Choice => ");
      break;
    case SCREEN_SAVE_BEFORE_EXIT:
      console_write("\r\nDo you want to save before exit? [Y]es, [N]o\r\nPlease Enter Your Choice => ");
      break;
    case SCREEN_RESTART_BEFORE_EXIT:
      console_write("\r\nThe data has been saved but did not restart the service to apply the changes.\r\n"
                    "Do you want to restart the service before exit? [Y]es, [N]o\r\n"
                    "Please Enter Your Choice => ");
      break;
    case SCREEN_TERMINATED: console_write("\r\nThe configure program terminated.\r\n"); break;
    default: break;
  }
}

// Scripted mode: the next argument whole (its length was checked at start).
static bool next_argument(char* answer) {
  if (g_next_arg >= g_argc) return false;
  snprintf(answer, CONSOLE_ANSWER_ROOM, "%s", g_argv[g_next_arg++]);
  return true;
}

bool cfgtool_read_key(char* answer) {
  if (g_scripted) return next_argument(answer);
  answer[0] = 0;
  for (;;) {
    int key = console_get_key();
    if (key == CONSOLE_KEY_END) return false;
    if (key == CONSOLE_KEY_ENTER) return true;
    // Every other key ends the answer at once, so no key is ever held for Backspace to erase.
    if (key == CONSOLE_KEY_BACKSPACE) continue;
    console_put_char(char(key));
    answer[0] = char(key);
    answer[1] = 0;
    return true;
  }
}

bool cfgtool_read_number(char* answer) {
  if (g_scripted) return next_argument(answer);
  int n = 0;
  answer[0] = 0;
  for (;;) {
    int key = console_get_key();
    if (key == CONSOLE_KEY_END) return false;
    if (key == CONSOLE_KEY_ENTER) return true;
    if (key == CONSOLE_KEY_BACKSPACE) {
      if (n > 0) {
        answer[--n] = 0;
        console_write("\b \b");
      }
      continue;
    }
    if (key < '0' || key > '9' || n == 5) continue;
    console_put_char(char(key));
    answer[n++] = char(key);
    answer[n] = 0;
  }
}

static char g_restart_reason[320];

static void restart_reason(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void restart_reason(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(g_restart_reason, sizeof g_restart_reason, format, args);
  va_end(args);
}

const char* cfgtool_restart_reason() { return g_restart_reason; }

// The started service still runs after a short watch; else the reason it ended is kept.
static bool stays_running(ScHandle service) {
  uint32_t start = clock_tick_count();
  ServiceStatus status;
  for (;;) {
    if (!sc_query_status(service, &status)) return true;
    if (status.current_state == SERVICE_STOPPED) {
      char why[256];
      if (sc_stop_reason(service, why, sizeof why)) restart_reason("it ended at once: %s", why);
      else restart_reason("it ended at once");
      return false;
    }
    if (clock_tick_count() - start >= kStartWatchMs) return true;
    clock_sleep_ms(100);
  }
}

int32_t cfgtool_restart_service() {
  g_restart_reason[0] = 0;
  ScHandle manager = sc_open_manager();
  if (!manager) {
    restart_reason("the service manager could not be opened%s%s", sc_last_failure()[0] ? ": " : "",
                   sc_last_failure());
    return 0;
  }
  int32_t result = 0;
  ScHandle service = sc_open_service(manager, u"Vellmar");
  if (!service) restart_reason("%s", sc_last_failure()[0] ? sc_last_failure() : "the service Vellmar could not be opened");
  if (service) {
    ServiceStatus status;
    bool stopped = sc_query_status(service, &status) && status.current_state == SERVICE_STOPPED;
    if (!stopped) {
      sc_control(service, SERVICE_CONTROL_STOP, &status);
      uint32_t start = clock_tick_count();
      while (!stopped && clock_tick_count() - start < kStopWaitMs) {
        clock_sleep_ms(100);
        stopped = sc_query_status(service, &status) && status.current_state == SERVICE_STOPPED;
      }
    }
    if (!stopped) restart_reason("it did not stop within %u seconds", unsigned(kStopWaitMs / 1000));
    else if (!sc_start(service)) restart_reason("%s", sc_last_failure()[0] ? sc_last_failure() : "it did not start");
    else if (stays_running(service)) result = 1;
    sc_close(service);
  }
  sc_close(manager);
  return result;
}

static RulePorts ports_in_use() {
  return {g_source_ips.listen_port, g_snmp_agent.listen_port, g_settings.http_port, g_settings.https_port};
}

static bool same_ports(const RulePorts& a, const RulePorts& b) {
  return a.trap == b.trap && a.agent == b.agent && a.http == b.http && a.https == b.https;
}

static bool set_firewall(bool add);

// False when agent.ini was not replaced; the settings then count as unsaved still.
static bool save() {
  console_write(kStoring);
  if (!cfg_save()) {
    console_write(kStoreFailed);
    g_failed = true;
    return false;
  }
  ConsoleUnsaved = false;
  ConsoleSavedNotRestarted = true;
  RulePorts before = g_saved_ports;
  g_saved_ports = ports_in_use();
  // The rule takes its ports from agent.ini: one in place is made again from the saved ports.
  if (!same_ports(before, g_saved_ports) && firewall_rule_present(kRuleName)) {
    console_write(kFirewallReplaced);
    set_firewall(true);
  }
  return true;
}

static void restart() {
  console_write(kRestarting);
  if (!cfgtool_restart_service()) {
    console_write(kRestartFailed);
    if (cfgtool_restart_reason()[0]) out("The reason: %s.\r\n", cfgtool_restart_reason());
    g_failed = true;
  }
  ConsoleSavedNotRestarted = false;
}

static void changed() {
  ConsoleUnsaved = true;
  ConsoleSavedNotRestarted = false;
}

static bool set_firewall(bool add) {
  console_write(kSetting);
  char command[NETSH_COMMAND_ROOM];
  if (!netsh_build_command(command, sizeof command, add, ConsoleOsMajor, kRuleName, InstallDir)) {
    console_write(kFirewallRefused);
    g_failed = true;
    return false;
  }
  // netsh writes to the console in its own way.
  console_raw_end();
  bool ok = process_system(command) == 0;
  if (!g_scripted) console_raw_begin();
  if (!ok) {
    console_write(kFirewallFailed);
    g_failed = true;
  }
  return ok;
}

enum MenuAction : uint8_t {
  MENU_SCREEN,          // go to the row's screen
  MENU_TOGGLE_HTTP,
  MENU_TOGGLE_HTTPS,
  MENU_TOGGLE_FORCE_HTTPS,
  MENU_TOGGLE_MANAGEABLE,
  MENU_SAVE,
  MENU_RESTART,
  MENU_EXIT,
};

struct MenuKey {
  char key;
  MenuAction action;
  int32_t screen;
};

static const MenuKey kMenuKeys[] = {
    {'1', MENU_SCREEN, SCREEN_TRAP_PORT},   {'2', MENU_SCREEN, SCREEN_SNMP_PORT},
    {'3', MENU_TOGGLE_HTTP, 0},             {'4', MENU_TOGGLE_HTTPS, 0},
    {'5', MENU_TOGGLE_FORCE_HTTPS, 0},      {'6', MENU_SCREEN, SCREEN_HTTP_PORT},
    {'7', MENU_SCREEN, SCREEN_HTTPS_PORT},  {'8', MENU_TOGGLE_MANAGEABLE, 0},
    {'9', MENU_SAVE, 0},                    {'a', MENU_SCREEN, SCREEN_FIREWALL},
    {'A', MENU_SCREEN, SCREEN_FIREWALL},    {'b', MENU_RESTART, 0},
    {'B', MENU_RESTART, 0},                 {'0', MENU_EXIT, 0},
};

// Acts on a menu answer; false when the program ends.
static bool on_menu(const char* answer) {
  const MenuKey* k = nullptr;
  for (const auto& m : kMenuKeys)
    if (answer[0] && m.key == answer[0]) k = &m;
  // Anything else (empty, outside "0" to "b", or ":" to "`" but for A and B) shows the menu again.
  if (!k) return true;
  switch (k->action) {
    case MENU_SCREEN: ConsoleScreen = k->screen; break;
    case MENU_TOGGLE_HTTP: g_settings.web_protocols ^= 1; changed(); break;
    case MENU_TOGGLE_HTTPS: g_settings.web_protocols ^= 2; changed(); break;
    case MENU_TOGGLE_FORCE_HTTPS: g_settings.force_https = g_settings.force_https ? 0 : 1; changed(); break;
    case MENU_TOGGLE_MANAGEABLE:
      g_settings.manageable = g_settings.manageable ? 0 : 1;
      g_usm.permission[0] = g_settings.manageable ? 2 : 0;
      changed();
      break;
    case MENU_SAVE: save(); break;
    case MENU_RESTART: restart(); break;
    case MENU_EXIT:
      if (ConsoleUnsaved) ConsoleScreen = SCREEN_SAVE_BEFORE_EXIT;
      else if (ConsoleSavedNotRestarted) ConsoleScreen = SCREEN_RESTART_BEFORE_EXIT;
      else return false;
      break;
  }
  return true;
}

// False when the answer is refused: the same prompt is shown again (a scripted run ends).
static bool on_port(uint16_t* port, SettingId id, const char* answer) {
  if (answer[0]) {
    int64_t value = 0;
    if (settings_value_from_text(id, answer, strlen(answer), &value) != SETTING_OK) {
      const SettingRange& range = settings_range(id);
      out("\r\nPort must be a number from %lld to %lld.\r\n", static_cast<long long>(range.minimum),
          static_cast<long long>(range.maximum));
      return false;
    }
    *port = uint16_t(value);
    changed();
  }
  ConsoleScreen = SCREEN_MENU;
  return true;
}

static bool is_key(const char* answer, char lower) { return answer[0] == lower || answer[0] == lower - 'a' + 'A'; }

static void screen_loop() {
  char answer[CONSOLE_ANSWER_ROOM];
  for (;;) {
    cfgtool_show_screen(ConsoleScreen);
    if (ConsoleScreen == SCREEN_TERMINATED) return;
    bool number = ConsoleScreen == SCREEN_TRAP_PORT || ConsoleScreen == SCREEN_SNMP_PORT ||
                  ConsoleScreen == SCREEN_HTTP_PORT || ConsoleScreen == SCREEN_HTTPS_PORT;
    bool got = number ? cfgtool_read_number(answer) : cfgtool_read_key(answer);
    // No more answers: end here, as the exit without saving would.
    if (!got) {
      console_write("\r\n");
      return;
    }
    bool port_ok = true;
    switch (ConsoleScreen) {
      case SCREEN_MENU:
        if (!on_menu(answer)) return;
        break;
      case SCREEN_TRAP_PORT: port_ok = on_port(&g_source_ips.listen_port, SETTING_TRAP_PORT, answer); break;
      case SCREEN_SNMP_PORT: port_ok = on_port(&g_snmp_agent.listen_port, SETTING_AGENT_PORT, answer); break;
      case SCREEN_HTTP_PORT: port_ok = on_port(&g_settings.http_port, SETTING_HTTP_PORT, answer); break;
      case SCREEN_HTTPS_PORT: port_ok = on_port(&g_settings.https_port, SETTING_HTTPS_PORT, answer); break;
      case SCREEN_FIREWALL:
        if (is_key(answer, 'i') || is_key(answer, 'r')) {
          bool add = is_key(answer, 'i');
          if (add && !same_ports(ports_in_use(), g_saved_ports)) console_write(kFirewallFollowsSaved);
          set_firewall(add);
        }
        ConsoleScreen = SCREEN_MENU;
        break;
      case SCREEN_SAVE_BEFORE_EXIT:
        if (is_key(answer, 'y')) {
          // Asked again when nothing was stored.
          if (save()) ConsoleScreen = SCREEN_RESTART_BEFORE_EXIT;
        } else if (is_key(answer, 'n')) {
          ConsoleScreen = SCREEN_TERMINATED;
        } else if (!answer[0]) {
          ConsoleScreen = SCREEN_MENU;
        }
        break;
      case SCREEN_RESTART_BEFORE_EXIT:
        if (is_key(answer, 'y')) {
          restart();
          ConsoleScreen = SCREEN_TERMINATED;
        } else if (is_key(answer, 'n')) {
          ConsoleScreen = SCREEN_TERMINATED;
        } else {
          ConsoleScreen = SCREEN_MENU;
        }
        break;
      default: ConsoleScreen = SCREEN_MENU; break;
    }
    // A refused answer ends a script: the answers after it were meant for other prompts.
    if (!port_ok && g_scripted) {
      g_failed = true;
      return;
    }
  }
}

// Loads agent.ini as the service's start judges it. A file the start would keep as damaged, or
// whose values it would replace, a missing one (the service makes it) and one that cannot be read
// are named and left as they are: false, and the program ends.
static bool settings_usable() {
  CfgStartReport report;
  CfgStartState state = cfg_check_own_file(&report);
  char path[300];
  if (!cfg_install_file(path, sizeof path, "agent.ini")) snprintf(path, sizeof path, "agent.ini");
  switch (state) {
    case CFG_START_LOADED:
      if (cfg_replaced_count() == 0) return true;
      for (int i = 0; i < cfg_replaced_count(); ++i) {
        char line[200];
        cfg_replaced_text(cfg_replaced(i), line, sizeof line);
        out("%s\r\n", line);
      }
      out("The settings file %s holds values the service would replace.\r\n", path);
      break;
    case CFG_START_DAMAGED: out("The settings file %s is damaged (%s).\r\n", path, report.reason); break;
    case CFG_START_MISSING: out("There is no settings file %s: the service makes it at its first start.\r\n", path); break;
    default: out("The settings file %s cannot be read (%s).\r\n", path, report.reason); break;
  }
  if (state == CFG_START_LOADED || state == CFG_START_DAMAGED)
    console_write("The service's next start keeps it as agent.ini.damaged and mends it.\r\n");
  console_write(kNothingChanged);
  return false;
}

int cfgtool_main(int argc, char** argv) {
  g_scripted = argc > 1;
  g_argc = argc;
  g_argv = argv;
  g_next_arg = 1;
  g_failed = false;
  for (int i = 1; i < argc; ++i) {
    if (strlen(argv[i]) >= size_t(CONSOLE_ANSWER_ROOM)) {
      fprintf(stderr, "Argument %d is longer than %d bytes; nothing was done.\n", i, CONSOLE_ANSWER_ROOM - 1);
      return 1;
    }
  }
  OsVersionInfo version;
  ConsoleOsMajor = os_version_query(&version) ? version.major : 0;
  cfg_load_install_path();
  codec_table_init();
  if (!settings_usable()) return g_scripted ? 1 : 0;
  g_saved_ports = ports_in_use();
  if (!g_scripted) console_raw_begin();
  screen_loop();
  console_raw_end();
  return g_scripted && g_failed ? 1 : 0;
}
