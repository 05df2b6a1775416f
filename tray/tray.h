// The tray status program Lumisk: its process-wide state (one thread touches it), the hidden
// window's messages and timers, the icon and menu, and the entry points of its link client and
// windows.
#pragma once
#include <cstdint>

#include "platform/desktop.h"
#include "platform/window.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"
#include "service/link/link_frames.h"

enum : uint32_t {
  WM_TRAY_SOCKET = WM_USER + 1,       // link socket events
  WM_TRAY_CALLBACK = WM_USER + 100,   // notification-icon events (0x464)
};

enum : uintptr_t { TRAY_TIMER_ICON = 1, TRAY_TIMER_IDLE = 3, TRAY_TIMER_LINK = 4 };

enum : uint32_t {
  CMD_WEB_MONITOR = 40002,
  CMD_STOP_SERVICE = 40003,
  CMD_PROPERTY = 40007,
  CMD_SHOW_COUNTDOWN = 40016,
  CMD_CANCEL_COUNTDOWN = 40017,
};

enum : int32_t {
  TRAY_LANG_TEXTS = 26,
  TRAY_LANG_ROOM = 256,
  TRAY_FIRST_ICON_ID = 1001,
  TRAY_ICON_ADD_TRIES = 32,           // identifiers tried before an add gives up for this tick
  TRAY_MENU_ITEMS = 6,                // five items and the separator
  TRAY_SOCKET_SLOTS = 10,
  TRAY_WEB_PAGE_SECONDS = 60,         // the web monitor's page is removed this long after it opened
};

// Where the tray's settings came from: nothing yet (factory values in memory), agent.ini, or a
// settings frame of the service. Requests that send the whole record wait for one of the last two.
enum TraySettingsSource : int32_t { TRAY_SETTINGS_NONE = 0, TRAY_SETTINGS_FILE = 1, TRAY_SETTINGS_FRAME = 2 };

// ---- Window, icon and menu
extern WindowHandle TrayWindow;
extern char16_t TrayLangStrings[TRAY_LANG_TEXTS][TRAY_LANG_ROOM];  // entry k: key T_(k+1) of [Sys]
extern int32_t TrayUserIsAdmin;
extern int32_t TrayShowCountdown;
extern bool TrayTaskbarHeld;         // a notification area was found on the last look
extern uint32_t TrayIconId;
extern int32_t TrayIconState;
extern int32_t TrayValAgeSeconds;
extern MenuItem TrayMenu[TRAY_MENU_ITEMS];
extern StatusRecord TrayStatus;      // the service's status as the last VAL gave it
extern TraySettingsSource TraySettingsFrom;
extern bool TraySettingsFileReadable;  // agent.ini could be read at start (the tray never writes it)
extern char16_t TrayHostName[64];
extern char TrayWebPage[512];        // the web monitor's page while it waits for removal, or empty
extern int32_t TrayWebPageAge;       // its seconds (timer 1 ticks) since it was opened

// ---- Link client
extern int TraySockets[TRAY_SOCKET_SLOTS];
extern int32_t TrayLinkState;        // 0 no link, 1 connect pending, 2 connected
extern LinkRxBuffer TrayRecvBuffer;
extern int32_t TrayLinkIdleSeconds;

// ---- Windows
extern int32_t TrayPageMaxW, TrayPageMaxH;
extern DialogHandle TrayBroadcastWindow;
extern DialogHandle TrayCountdownWindow;
extern LocalAddressTable TrayAddresses;

// Program entry: returns the final quit message's value, or 1 when the start failed.
int tray_main();
// The start without the loop (steps up to the timers); false when the program must end.
bool tray_start();
// The end after the loop.
void tray_end();
intptr_t tray_wnd_proc(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
void tray_set_icon_state(int32_t code);
void tray_lang_load_strings();
void tray_lang_apply_menu();
// Path of language.ini of the tray's language (a value outside 0-3 names English).
void tray_lang_path(char* out, uint32_t room);
// The two timer steps and the menu commands.
void tray_timer_icon();
void tray_timer_link();
void tray_command(uint32_t id);
// The web monitor's address into out (room units); false when no protocol is on.
bool tray_web_address(char16_t* out, uint32_t room);
// The tray's settings have become known (from a frame or the file): check marks follow them.
void tray_settings_changed();
// Reloads the texts and renames the menu (after settings were sent or reloaded).
void tray_lang_reload();

// ---- Link client
void tray_link_reset();
int tray_link_connect();
void tray_link_on_socket_event(uintptr_t socket, intptr_t event);
void tray_link_parse();
// Builds one frame of the kind (SYS, STP or UPC) and sends it to every open slot.
void tray_link_send(uint32_t kind, uint32_t code, const uint8_t* body, int32_t length);
void tray_link_step();
void tray_link_close_slot(int slot);
// Sends the tray's whole settings record as UPC (only while connected); true when sent.
bool tray_send_settings();

// ---- Windows
void tray_open_property_sheet();
void tray_countdown_show(int32_t seconds);
void tray_countdown_destroy();
// "%02d:%02d" or "%02d:%02d:%02d" and the colour (0xRRGGBB) of s seconds left.
void tray_countdown_text(int32_t seconds, char16_t* out, uint32_t room, uint32_t* color);
void tray_broadcast_add(const char16_t* line);
void tray_list_adapter_addresses();
