// Lumisk's start and end, its hidden window "Vellmar-Status" with the two timers, the
// notification icon and its states, the popup menu and its commands, and the language texts.
#include "tray/tray.h"

#include <cstdio>
#include <cstring>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/inet.h"
#include "platform/instance_mutex.h"
#include "platform/profile.h"
#include "platform/socket.h"
#include "platform/account.h"

WindowHandle TrayWindow = nullptr;
char16_t TrayLangStrings[TRAY_LANG_TEXTS][TRAY_LANG_ROOM];
int32_t TrayUserIsAdmin = 1;
int32_t TrayShowCountdown = 1;
bool TrayTaskbarHeld = false;
uint32_t TrayIconId = TRAY_FIRST_ICON_ID;
int32_t TrayIconState = 0;
int32_t TrayValAgeSeconds = 0;
MenuItem TrayMenu[TRAY_MENU_ITEMS];
StatusRecord TrayStatus;
TraySettingsSource TraySettingsFrom = TRAY_SETTINGS_NONE;
bool TraySettingsFileReadable = false;
char16_t TrayHostName[64];
char TrayWebPage[512];
int32_t TrayWebPageAge = 0;

namespace {

constexpr char16_t kProduct[] = u"Vellmar 2012";
constexpr char16_t kClassName[] = u"Vellmar-StatusClass";
constexpr char16_t kWindowTitle[] = u"Vellmar-Status";

InstanceMutex g_mutex{-1};
bool g_networking = false;
uint8_t g_loaded_language = 0xFF;   // language of the texts now loaded

struct MenuDefault {
  uint32_t id;
  const char16_t* text;   // when [Sys-Menu] lacks the key
};
const MenuDefault kMenu[TRAY_MENU_ITEMS] = {
    {CMD_WEB_MONITOR, u"Web Monitor..."}, {CMD_PROPERTY, u"Property..."},       {0, nullptr},
    {CMD_SHOW_COUNTDOWN, u"Show Countdown"}, {CMD_CANCEL_COUNTDOWN, u"Cancel Shutdown"}, {CMD_STOP_SERVICE, u"Stop Service"},
};

struct IconShape {
  int32_t icon;
  int32_t tip;   // 0: the product name, else key T_tip
};

// Icon and tip of the state codes 0 to 10 (icon 0: nothing is shown).
const IconShape kIconStates[11] = {
    {150, 0}, {150, 0}, {148, 19}, {146, 20}, {149, 21}, {145, 22}, {147, 23}, {0, 0}, {148, 24}, {151, 25}, {151, 26},
};

MenuItem* menu_item(uint32_t id) {
  for (auto& m : TrayMenu)
    if (m.id == id && id) return &m;
  return nullptr;
}

void menu_check(uint32_t id, bool checked) {
  if (MenuItem* m = menu_item(id)) m->checked = checked;
}

void icon_data(NotifyIconData* nid, uint32_t flags, int32_t icon, const char16_t* tip) {
  memset(nid, 0, sizeof *nid);
  nid->window = TrayWindow;
  nid->id = TrayIconId;
  nid->flags = flags;
  nid->callback_message = WM_TRAY_CALLBACK;
  nid->icon = icon;
  char name[32];
  snprintf(name, sizeof name, "Icons/icon%d.png", int(icon));
  if (!cfg_install_file(nid->icon_path, sizeof nid->icon_path, name)) nid->icon_path[0] = 0;
  text_copy16(nid->tip, 128, tip ? tip : u"");
}

void icon_modify(int32_t icon, const char16_t* tip) {
  NotifyIconData nid;
  icon_data(&nid, NIF_MESSAGE | NIF_ICON | NIF_TIP, icon, tip);
  desktop_notify_icon(NIM_MODIFY, &nid);
}

// Adds the icon under the first identifier from 1001 that the shell takes, trying a bounded
// number of them.
bool icon_add() {
  for (int i = 0; i < TRAY_ICON_ADD_TRIES; ++i) {
    TrayIconId = TRAY_FIRST_ICON_ID + uint32_t(i);
    NotifyIconData nid;
    icon_data(&nid, NIF_MESSAGE | NIF_ICON | NIF_TIP, 150, kProduct);
    if (desktop_notify_icon(NIM_ADD, &nid)) return true;
  }
  TrayIconId = TRAY_FIRST_ICON_ID;
  return false;
}

void icon_delete() {
  NotifyIconData nid;
  icon_data(&nid, 0, 0, nullptr);
  desktop_notify_icon(NIM_DELETE, &nid);
}

// Percent-encodes a value of the address's query.
void append_query_value(char* out, size_t room, const char16_t* value) {
  char utf8[128];
  text_utf16_to_utf8(utf8, sizeof utf8, value);
  size_t n = strlen(out);
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8); *p && n + 4 < room; ++p) {
    bool plain = (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') ||
                 *p == '-' || *p == '_' || *p == '.' || *p == '~' || *p == '/';
    if (plain) out[n++] = char(*p);
    else n += size_t(snprintf(out + n, room - n, "%%%02X", unsigned(*p)));
  }
  out[n] = 0;
}

void start_networking() {
  char host[65];
  if (inet_host_name(host, sizeof host)) text_utf8_to_utf16(TrayHostName, 64, host);
  tray_list_adapter_addresses();
  tray_link_reset();
  TraySockets[0] = sock_tcp_open(INET_FAMILY_IPV4);
  if (TraySockets[0] != INVALID_SOCKET) tray_link_connect();
  g_networking = win_set_timer(TrayWindow, TRAY_TIMER_LINK, 1000);
}

void remove_web_page() {
  desktop_remove_page(TrayWebPage);
  TrayWebPage[0] = 0;
}

// The administrator's address carries the login: it goes to the browser in a private page, never
// on a command line.
void open_web_monitor(const char16_t* url) {
  if (TrayUserIsAdmin != 1) {
    desktop_open_url(url);
    return;
  }
  remove_web_page();
  TrayWebPageAge = 0;
  desktop_open_url_by_page(url, TrayWebPage, sizeof TrayWebPage);
}

void show_popup_menu() {
  MenuItem items[TRAY_MENU_ITEMS];
  memcpy(items, TrayMenu, sizeof items);
  // A watcher's tray only shows: the items that act on the service are off.
  for (auto& m : items)
    if (!TrayUserIsAdmin && (m.id == CMD_PROPERTY || m.id == CMD_STOP_SERVICE || m.id == CMD_CANCEL_COUNTDOWN))
      m.enabled = false;
  desktop_track_popup_menu(items, TRAY_MENU_ITEMS, TrayWindow);
}

}  // namespace

// ---- Language texts

void tray_lang_path(char* out, uint32_t room) {
  char name[64];
  text_utf16_to_utf8(name, sizeof name, cfg_language_name());
  char relative[128];
  snprintf(relative, sizeof relative, "Language/%s/language.ini", name);
  if (!cfg_install_file(out, room, relative) && room) out[0] = 0;
}

void tray_lang_load_strings() {
  char path[400];
  tray_lang_path(path, sizeof path);
  for (int k = 1; k <= TRAY_LANG_TEXTS; ++k) {
    char16_t key[8];
    char key8[16];
    snprintf(key8, sizeof key8, "T_%d", k);
    text_utf8_to_utf16(key, 8, key8);
    profile_get_string(u"Sys", key, u"", TrayLangStrings[k - 1], TRAY_LANG_ROOM, path);
  }
  g_loaded_language = g_settings.language;
}

void tray_lang_apply_menu() {
  char path[400];
  tray_lang_path(path, sizeof path);
  int l = 0;
  for (int i = 0; i < TRAY_MENU_ITEMS; ++i) {
    if (!kMenu[i].id) continue;
    char16_t key[8];
    char key8[16];
    snprintf(key8, sizeof key8, "L_%d", ++l);
    text_utf8_to_utf16(key, 8, key8);
    profile_get_string(u"Sys-Menu", key, kMenu[i].text, TrayMenu[i].text, 32, path);
  }
}

void tray_lang_reload() {
  tray_lang_load_strings();
  tray_lang_apply_menu();
}

void tray_settings_changed() {
  menu_check(CMD_STOP_SERVICE, g_settings.stop_service != 0);
  if (g_settings.language != g_loaded_language) tray_lang_reload();
}

// ---- Icon states

void tray_set_icon_state(int32_t code) {
  if (!TrayTaskbarHeld) return;
  if (code == 100) code = TrayIconState;
  else if (code != 9) TrayIconState = code;
  if (code < 0 || code > 10) return;
  if (code == 0) {
    icon_add();
    return;
  }
  if (code == 7) {
    icon_delete();
    return;
  }
  const IconShape& shape = kIconStates[code];
  icon_modify(shape.icon, shape.tip ? TrayLangStrings[shape.tip - 1] : kProduct);
}

// ---- Timers

void tray_timer_icon() {
  if (TrayWebPage[0] && ++TrayWebPageAge >= TRAY_WEB_PAGE_SECONDS) remove_web_page();
  if (++TrayValAgeSeconds > 10) {
    TrayStatus.tray_state = 10;
    TrayStatus.countdown_left = 0;
  }
  if (TrayTaskbarHeld) {
    TrayTaskbarHeld = desktop_taskbar_present();
    if (TrayStatus.tray_state != 0) tray_set_icon_state(TrayStatus.tray_state);
    return;
  }
  if (!desktop_taskbar_present()) return;
  TrayTaskbarHeld = true;
  TrayIconState = 0;
  icon_add();
  TrayIconState = 1;
  icon_modify(150, kProduct);
  if (g_settings.stop_service) {
    icon_modify(151, TrayLangStrings[24]);
    TrayStatus.countdown_left = 0;
  }
}

void tray_timer_link() {
  tray_link_step();
  // A cancelled countdown stands still: its window goes until the cancel is withdrawn.
  if (TrayStatus.countdown_left <= 0 || TrayStatus.shutdown_cancelled) {
    tray_countdown_destroy();
  } else if (TrayShowCountdown == 1) {
    TrayStatus.countdown_left -= 1;
    tray_countdown_show(TrayStatus.countdown_left);
  }
}

// ---- Menu commands

bool tray_web_address(char16_t* out, uint32_t room) {
  const char* scheme;
  int port;
  if (g_settings.web_protocols & 1) {
    scheme = "http";
    port = g_settings.http_port;
  } else if (g_settings.web_protocols & 2) {
    scheme = "https";
    port = g_settings.https_port;
  } else {
    return false;
  }
  char address[512];
  snprintf(address, sizeof address, "%s://%s:%d", scheme, "127.0.0.1", port);
  if (TrayUserIsAdmin == 1) {
    char16_t token[128];
    cfg_encrypt_password(g_settings.account_password[0], token, 128);
    strncat(address, "?encrypt=1&account=", sizeof address - strlen(address) - 1);
    append_query_value(address, sizeof address, g_settings.account_user[0]);
    strncat(address, "&password=", sizeof address - strlen(address) - 1);
    append_query_value(address, sizeof address, token);
  }
  text_utf8_to_utf16(out, room, address);
  return true;
}

void tray_command(uint32_t id) {
  bool acts = id == CMD_STOP_SERVICE || id == CMD_PROPERTY || id == CMD_CANCEL_COUNTDOWN;
  if (acts && !TrayUserIsAdmin) return;
  switch (id) {
    case CMD_WEB_MONITOR: {
      char16_t url[512];
      if (tray_web_address(url, 512)) open_web_monitor(url);
      else desktop_message_box(u"Neither HTTP nor HTTPS is enabled.", kProduct, true);
      break;
    }
    case CMD_STOP_SERVICE:
      // Settings from nowhere are not the service's: nothing is switched on their strength.
      if (TraySettingsFrom == TRAY_SETTINGS_NONE) break;
      g_settings.stop_service = g_settings.stop_service ? 0 : 1;
      menu_check(CMD_STOP_SERVICE, g_settings.stop_service != 0);
      if (TrayLinkState == 2) tray_link_send(LINK_KIND_STP, g_settings.stop_service ? 1 : 0, nullptr, 0);
      break;
    case CMD_PROPERTY:
      tray_open_property_sheet();
      break;
    case CMD_SHOW_COUNTDOWN:
      if (TrayShowCountdown == 1) {
        TrayShowCountdown = 0;
        tray_countdown_destroy();
      } else {
        TrayShowCountdown = 1;
        if (TrayStatus.countdown_left > 0 && !TrayStatus.shutdown_cancelled) tray_countdown_show(TrayStatus.countdown_left);
      }
      menu_check(CMD_SHOW_COUNTDOWN, TrayShowCountdown == 1);
      break;
    case CMD_CANCEL_COUNTDOWN:
      if (TrayLinkState == 2) tray_link_send(LINK_KIND_SYS, 2, nullptr, 0);
      break;
    default:
      break;
  }
}

// ---- The hidden window

intptr_t tray_wnd_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case WM_CREATE:
      for (int i = 0; i < TRAY_MENU_ITEMS; ++i) {
        TrayMenu[i] = MenuItem{};
        TrayMenu[i].id = kMenu[i].id;
        TrayMenu[i].enabled = true;
        if (kMenu[i].text) text_copy16(TrayMenu[i].text, 32, kMenu[i].text);
      }
      menu_check(CMD_SHOW_COUNTDOWN, true);
      tray_lang_apply_menu();
      return 0;
    case WM_DESTROY:
      win_post_quit_message(0);
      return 0;
    case WM_CLOSE:
      win_destroy_window(window);
      if (TrayTaskbarHeld) {
        TrayIconState = 7;
        icon_delete();   // named by the old window and the id
      }
      TrayWindow = nullptr;
      return 0;
    case WM_COMMAND:
      tray_command(uint32_t(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == TRAY_TIMER_ICON) tray_timer_icon();
      else if (wparam == TRAY_TIMER_LINK) tray_timer_link();
      return 0;
    case WM_TRAY_SOCKET:
      tray_link_on_socket_event(wparam, lparam);
      return 0;
    case WM_TRAY_CALLBACK:
      if (wparam != TrayIconId) return 0;
      if (lparam == WM_LBUTTONDOWN || lparam == WM_RBUTTONDOWN) show_popup_menu();
      else if (lparam == WM_LBUTTONDBLCLK) tray_command(CMD_WEB_MONITOR);
      return 0;
    default:
      return win_def_window_proc(window, message, wparam, lparam);
  }
}

// ---- Start and end

bool tray_start() {
  TrayUserIsAdmin = account_is_administrator(account_current_user()) ? 1 : 0;
  if (desktop_test_watcher()) TrayUserIsAdmin = 0;

  // One instance per user and display.
  char key[160];
  desktop_session_key(key, sizeof key);
  char name8[200];
  snprintf(name8, sizeof name8, "Vellmar-Status:%s", key);
  char16_t name[200];
  text_utf8_to_utf16(name, 200, name8);
  if (instance_mutex_create(name, &g_mutex) != INSTANCE_MUTEX_CREATED) return false;

  if (!win_register_class(kClassName, tray_wnd_proc)) return false;
  codec_table_init();
  cfg_load_install_path();
  cfg_set_read_only(true);

  // The tray never writes agent.ini: only a file it can read is loaded. A missing or unreadable one
  // (the service keeps it private) leaves the factory settings in memory until the service's
  // settings frame arrives.
  memset(&TrayStatus, 0, sizeof TrayStatus);
  char ini[300];
  FILE* f = cfg_install_file(ini, sizeof ini, "agent.ini") ? fopen(ini, "rb") : nullptr;
  TraySettingsFileReadable = f != nullptr;
  if (f) {
    fclose(f);
    cfg_load(ini);
    TraySettingsFrom = TRAY_SETTINGS_FILE;
  } else {
    cfg_set_defaults();
    TraySettingsFrom = TRAY_SETTINGS_NONE;
  }
  tray_lang_load_strings();

  TrayWindow = win_create_window(kClassName, kWindowTitle);
  if (!TrayWindow) return false;
  desktop_close_on_session_end(TrayWindow);
  menu_check(CMD_STOP_SERVICE, g_settings.stop_service != 0);
  menu_check(CMD_SHOW_COUNTDOWN, TrayShowCountdown != 0);

  start_networking();
  if (!g_networking) return false;
  return win_set_timer(TrayWindow, TRAY_TIMER_ICON, 1000) && win_set_timer(TrayWindow, TRAY_TIMER_IDLE, 100);
}

void tray_end() {
  for (int i = 0; i < TRAY_SOCKET_SLOTS; ++i) tray_link_close_slot(i);
  if (TrayWindow) {
    win_kill_timer(TrayWindow, TRAY_TIMER_LINK);
    win_kill_timer(TrayWindow, TRAY_TIMER_ICON);
    win_kill_timer(TrayWindow, TRAY_TIMER_IDLE);
  }
  remove_web_page();
  instance_mutex_release(&g_mutex);
}

int tray_main() {
  if (!desktop_open(desktop_headless_request())) {
    fprintf(stderr, "Lumisk: no desktop to show the icon on (set DISPLAY)\n");
    return 1;
  }
  int result = 1;
  if (tray_start()) result = desktop_run_loop();
  tray_end();
  desktop_close();
  return result;
}
