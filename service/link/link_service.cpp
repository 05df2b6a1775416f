// Service side of the tray link: listener, client slots, sending the status, settings and alarm
// lines, and acting on the tray programs' requests (cancel toggle, stop and resume of the
// reactions, edited settings).
#include "service/link/link_service.h"

#include <cstring>
#include <mutex>

#include "common/install.h"
#include "common/settings_file.h"
#include "common/settings_ranges.h"
#include "common/text.h"
#include "platform/account.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "service/alarm/countdown.h"
#include "service/alarm/shutdown_actions.h"
#include "service/alarm/status.h"
#include "service/core/agent.h"
#include "service/core/listener_status.h"
#include "service/core/net_address.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/web/request_state.h"

static_assert(sizeof(StatusRecord) == LINK_STATUS_RECORD);
static_assert(sizeof(AgentSettings) == LINK_SETTINGS_RECORD);

int32_t LinkState = 0;
int LinkListener = INVALID_SOCKET;
int LinkClients[LINK_CLIENT_SLOTS] = {INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET,
                                      INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET,
                                      INVALID_SOCKET, INVALID_SOCKET};
LinkRxBuffer LinkRxBuffers[LINK_CLIENT_SLOTS];
uint8_t LinkClientAdmin[LINK_CLIENT_SLOTS];

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};
constexpr uint32_t kClientEvents = FD_READ | FD_WRITE | FD_CLOSE;

char LinkTxBuffer[LINK_FRAME_MAX];      // the frame being sent
char LinkTxWatcher[LINK_FRAME_MAX];     // its copy for the clients that may only watch
AgentSettings LinkWatcherSettings;      // the settings a watching client may see
uint8_t LinkDecodeArea[LINK_DECODE_SIZE];  // decoded body of the frame being handled

constexpr uint32_t kUnknownUser = 0xFFFFFFFFu;
uint32_t LinkClientUid[LINK_CLIENT_SLOTS];      // owner of each slot's peer (kUnknownUser: not found)
uint32_t LinkClientSerial[LINK_CLIENT_SLOTS];   // accept order of each slot: the oldest is lowest
uint32_t LinkAcceptSerial;

int slot_of(int s) {
  if (s == INVALID_SOCKET) return -1;
  for (int i = 0; i < LINK_CLIENT_SLOTS; ++i)
    if (LinkClients[i] == s) return i;
  return -1;
}

// The slot for a new connection: a free one; for an administrator, when none is free, the slot of
// the oldest watching connection, which is closed. -1 when the connection is to be turned away:
// the table is full of administrators, or a watching user already holds LINK_WATCHER_SLOTS_PER_USER.
int slot_for(bool admin, uint32_t uid) {
  if (!admin) {
    int held = 0;
    for (int i = 0; i < LINK_CLIENT_SLOTS; ++i)
      held += LinkClients[i] != INVALID_SOCKET && !LinkClientAdmin[i] && LinkClientUid[i] == uid;
    if (held >= LINK_WATCHER_SLOTS_PER_USER) return -1;
  }
  for (int i = 0; i < LINK_CLIENT_SLOTS; ++i)
    if (LinkClients[i] == INVALID_SOCKET) return i;
  if (!admin) return -1;
  int oldest = -1;
  for (int i = 0; i < LINK_CLIENT_SLOTS; ++i)
    if (!LinkClientAdmin[i] && (oldest < 0 || int32_t(LinkClientSerial[i] - LinkClientSerial[oldest]) < 0)) oldest = i;
  if (oldest >= 0) link_client_close(oldest);
  return oldest;
}

void on_accept() {
  int s = sock_accept(LinkListener, nullptr, nullptr);
  if (s == INVALID_SOCKET) return;
  // Every local user can reach the port: only an administrator's tray program may act.
  uint32_t uid = kUnknownUser;
  if (!account_peer_user(s, &uid)) uid = kUnknownUser;
  bool admin = uid != kUnknownUser && account_is_administrator(uid);
  int slot = slot_for(admin, uid);
  if (slot < 0 || slot >= LINK_CLIENT_SLOTS) {
    // Turned away at once instead of left in the backlog, where it would hold back every later
    // accept.
    sock_close(s);
    return;
  }
  LinkClients[slot] = s;
  LinkRxBuffers[slot].fill = 0;
  LinkClientAdmin[slot] = admin ? 1 : 0;
  LinkClientUid[slot] = uid;
  LinkClientSerial[slot] = ++LinkAcceptSerial;
  if (win_async_select(s, g_main_hwnd, WM_LINK_SOCKET, kClientEvents)) LinkState = 2;
  else link_client_close(slot);
}

void on_read(int slot) {
  if (!LinkClientAdmin[slot]) {   // a watching client has nothing to say
    link_client_close(slot);
    return;
  }
  LinkRxBuffer& rx = LinkRxBuffers[slot];
  int room = LINK_RX_BUFFER_SIZE - rx.fill;
  if (room <= 0) {   // the reader never leaves a full buffer behind
    link_client_close(slot);
    return;
  }
  int n = sock_recv(LinkClients[slot], rx.data + rx.fill, room);
  if (n < 0) {
    if (sock_last_error() != SOCK_EWOULDBLOCK) link_client_close(slot);
    return;
  }
  if (n == 0) {   // the peer has gone
    link_client_close(slot);
    return;
  }
  rx.fill += n;
  link_parse(slot);
}

void stop_reactions() {
  g_settings.stop_service = 1;
  agent_kill_reaction_timers();
  WebServerOps.http_server_stop();
  TrapReceiverApi.trap_close();
  SnmpAgentApi.snmp_agent_close();
  g_status.tray_state = 9;
  cfg_save();
}

void resume_reactions() {
  g_settings.stop_service = 0;
  agent_start_reaction_timers();
  g_status.tray_state = 100;
  cfg_save();
}

void apply_settings(const uint8_t* body) {
  AgentSettings image;
  memcpy(&image, body, sizeof image);
  if (!link_settings_acceptable(&image)) return;
  cfg_keep_run_time_state(&image);

  bool web_changed = image.web_protocols != g_settings.web_protocols || image.http_port != g_settings.http_port ||
                     image.https_port != g_settings.https_port;
  bool language_changed = image.language != g_settings.language;
  // Settings that could not be stored are not taken (the save observer logs the failure): the
  // tray gets no acknowledgement, and the next settings frame shows it what is in use.
  static AgentSettings before;
  before = g_settings;
  g_settings = image;
  if (!cfg_save()) {
    g_settings = before;
    return;
  }
  if (web_changed) WebServerOps.http_server_stop();
  if (language_changed) {
    util_install_manual(image.language);
    std::lock_guard<std::recursive_mutex> lock(g_state_lock);
    SchedulerApi.sched_add_once(SCHED_KIND_RELOAD_EVENTS, 1);
  }
  link_send(LINK_KIND_UPC, 0, nullptr);
  cfg_write_url_shortcut();
  // While the reactions are stopped the web server stays closed; the resume's timers open it.
  if (web_changed && !g_settings.stop_service)
    WebServerOps.http_open_listeners(g_settings.http_port, g_settings.https_port, g_settings.web_protocols & 1,
                                     (g_settings.web_protocols >> 1) & 1);
}

void handle_frame(const LinkFrame& f) {
  switch (f.kind) {
    case LINK_KIND_SYS:
      if (f.code == 2) shutdown_cancel_toggle();
      break;
    case LINK_KIND_STP:
      if (f.code == 0) resume_reactions();
      else if (f.code == 1) stop_reactions();
      else cfg_save();
      break;
    case LINK_KIND_UPC:
      apply_settings(f.body);
      break;
    default:
      // VAL and CFG are the service's own state going out: a client does not overwrite them.
      // The other kinds mean nothing to the service.
      break;
  }
}

bool text16_ends(const char16_t* s, size_t room) { return text_len16_in(s, room) < room; }
bool text8_ends(const char* s, size_t room) { return text_len8_in(s, room) < room; }

// No control character (a line break would end a line of the settings file); pages and scripts
// escape or quote the rest. A text stored one byte a character stays within U+00FF.
bool text16_plain(const char16_t* s, char16_t highest) {
  for (const char16_t* p = s; *p; ++p)
    if (*p < 0x20 || *p == 0x7F || *p > highest) return false;
  return true;
}

bool text8_plain(const char* s) { return !util_has_control(s); }

}  // namespace

bool link_settings_acceptable(const AgentSettings* s) {
  struct Field16 {
    const char16_t* text;
    size_t room;
    char16_t highest;   // U+00FF for the texts stored one byte a character
  };
  const Field16 fields[] = {
      {s->vm_server, 129, 0xFF},         {s->vm_account, 33, 0xFF},         {s->vm_password, 33, 0xFF},
      {s->vcli_path, 256, 0xFF},         {s->command_file, 256, 0xFFFF},    {s->account_user[0], 33, 0xFFFF},
      {s->account_user[1], 33, 0xFFFF},  {s->account_user[2], 33, 0xFFFF},  {s->account_password[0], 33, 0xFFFF},
      {s->account_password[1], 33, 0xFFFF}, {s->account_password[2], 33, 0xFFFF}, {s->install_date, 33, 0xFFFF},
      {s->description, 129, 0xFFFF},     {s->contactor, 33, 0xFFFF},        {s->system_name, 33, 0xFFFF},
      {s->location, 65, 0xFFFF},
  };
  for (const Field16& f : fields)
    if (!text16_ends(f.text, f.room) || !text16_plain(f.text, f.highest)) return false;
  for (const auto& disk : s->disk_name)
    if (!text16_ends(disk, 17) || !text16_plain(disk, 0xFFFF)) return false;
  if (!text8_ends(s->kestra_power_fail, 33) || !text8_ends(s->kestra_battery_low, 33) ||
      !text8_plain(s->kestra_power_fail) || !text8_plain(s->kestra_battery_low))
    return false;
  // The numbers the settings table gives a range.
  struct Number {
    SettingId id;
    int64_t value;
  };
  const Number numbers[] = {
      {SETTING_LANGUAGE, s->language},
      {SETTING_HTTP_PORT, s->http_port},
      {SETTING_HTTPS_PORT, s->https_port},
      {SETTING_WEB_REFRESH, s->web_refresh},
      {SETTING_LOGIN_RETRY, s->login_retry},
      {SETTING_LOGIN_LOCK_MINUTES, s->login_lock_minutes},
      {SETTING_SHUTDOWN_TYPE, s->shutdown_type},
      {SETTING_DELAY_POWER_FAIL, s->condition_delay[0]},
      {SETTING_DELAY_BATTERY_LOW, s->condition_delay[1]},
      {SETTING_DELAY_OVERLOAD, s->condition_delay[2]},
      {SETTING_DELAY_BYPASS, s->condition_delay[3]},
      {SETTING_DELAY_SMART_SHUTDOWN, s->condition_delay[4]},
      {SETTING_VM_TYPE, s->vm_type},
      {SETTING_NOTIFY_PERIOD, s->notify_period},
      {SETTING_COMMAND_BEFORE, s->command_before},
  };
  int64_t used;
  for (const Number& n : numbers)
    if (settings_clamp(n.id, n.value, &used) != SETTING_OK) return false;
  return s->vm_password_mode <= 2 && s->web_password_mode <= 2 && s->web_protocols <= 3;
}

// The listener's status line, the first time it opens or fails and again when that changes.
static void log_listener(bool opened, int error) {
  bool due = opened ? listener_opened(LISTENER_TRAY_LINK) : listener_failed(LISTENER_TRAY_LINK, LINK_PORT, error);
  if (due && EventApi.evt_log != nullptr)
    EventApi.evt_log(u"0.0.0.0", EVENT_LEVEL_SYSTEM, opened ? u"Tray-Link: OK" : u"Tray-Link: NOK", nullptr);
}

bool link_listen_create() {
  // A failing listener keeps its problem in the service status while it is retried.
  if (LinkListener != INVALID_SOCKET) link_listen_close();
  LinkState = 0;
  int s = sock_tcp_open(INET_FAMILY_IPV4);
  if (s == INVALID_SOCKET) return false;
  if (!sock_bind(s, INET_FAMILY_IPV4, kLoopback, LINK_PORT)) {
    log_listener(false, sock_last_error());
    sock_close(s);
    return false;
  }
  LinkListener = s;
  return true;
}

bool link_listen_start() {
  if (LinkListener == INVALID_SOCKET) return false;
  if (!win_async_select(LinkListener, g_main_hwnd, WM_LINK_SOCKET, FD_ACCEPT)) return false;
  if (!sock_listen(LinkListener, 2)) {
    int error = sock_last_error();
    link_listen_close();
    log_listener(false, error);
    return false;
  }
  LinkState = 1;
  log_listener(true, 0);
  return true;
}

void link_listen_close() {
  if (LinkListener != INVALID_SOCKET) sock_close(LinkListener);
  LinkListener = INVALID_SOCKET;
  LinkState = 0;
  listener_closed(LISTENER_TRAY_LINK);
}

void link_client_close(int slot) {
  if (slot < 0 || slot >= LINK_CLIENT_SLOTS) return;
  if (LinkClients[slot] != INVALID_SOCKET) sock_close(LinkClients[slot]);
  LinkClients[slot] = INVALID_SOCKET;
  LinkClientAdmin[slot] = 0;
  LinkClientUid[slot] = kUnknownUser;
  LinkRxBuffers[slot].fill = 0;
}

void link_on_socket(uintptr_t socket, intptr_t event) {
  int s = int(socket);
  uint32_t what = uint32_t(event) & 0xFFFF;
  uint32_t error = (uint32_t(event) >> 16) & 0xFFFF;
  bool is_listener = s != INVALID_SOCKET && s == LinkListener;
  int slot = slot_of(s);
  if (error) {
    if (is_listener) {
      link_listen_close();
      return;
    }
    if (slot >= 0) {
      link_client_close(slot);
      return;
    }
  }
  switch (what) {
    case FD_ACCEPT:
      if (is_listener) on_accept();
      break;
    case FD_READ:
      if (LinkState >= 2 && slot >= 0) on_read(slot);
      break;
    case FD_CONNECT:
      LinkState = 2;
      break;
    case FD_CLOSE:
      if (is_listener) link_listen_close();
      else if (slot >= 0) link_client_close(slot);
      break;
    default:
      break;
  }
}

void link_send(uint32_t kind, uint32_t code, const char* data) {
  if (LinkState != 2 || kind >= LINK_KIND_COUNT) return;
  const uint8_t* body = nullptr;
  int32_t length = 0;
  switch (kind) {
    case LINK_KIND_VAL:
      body = reinterpret_cast<const uint8_t*>(&g_status);
      length = int32_t(sizeof g_status);
      break;
    case LINK_KIND_LOG: case LINK_KIND_DEL:
      if (!data) return;
      body = reinterpret_cast<const uint8_t*>(data);
      length = int32_t(strnlen(data, LINK_TEXT_MAX + 1)) + 1;
      break;
    case LINK_KIND_UHD: case LINK_KIND_UPC: case LINK_KIND_CFG:
    case LINK_KIND_T01: case LINK_KIND_T02: case LINK_KIND_T03:
      body = reinterpret_cast<const uint8_t*>(&g_settings);
      length = int32_t(sizeof g_settings);
      break;
    default:
      break;
  }
  int32_t size = link_frame_build(LinkTxBuffer, int32_t(sizeof LinkTxBuffer), kind, code, body, length);
  if (size == 0) return;
  // Watching clients get the status, the alarm lines and the settings without their secrets.
  int32_t watcher_size = 0;
  if (kind == LINK_KIND_VAL || kind == LINK_KIND_LOG) {
    memcpy(LinkTxWatcher, LinkTxBuffer, size_t(size));
    watcher_size = size;
  } else if (kind == LINK_KIND_CFG) {
    LinkWatcherSettings = g_settings;
    link_settings_for_watcher(&LinkWatcherSettings);
    watcher_size = link_frame_build(LinkTxWatcher, int32_t(sizeof LinkTxWatcher), kind, code,
                                    reinterpret_cast<const uint8_t*>(&LinkWatcherSettings), length);
    memset(&LinkWatcherSettings, 0, sizeof LinkWatcherSettings);
  }
  for (int i = 0; i < LINK_CLIENT_SLOTS; ++i) {
    if (LinkClients[i] == INVALID_SOCKET) continue;
    const char* frame = LinkClientAdmin[i] ? LinkTxBuffer : LinkTxWatcher;
    int32_t frame_size = LinkClientAdmin[i] ? size : watcher_size;
    if (frame_size == 0) continue;
    int n = sock_send(LinkClients[i], frame, frame_size);
    // A full send queue refuses the whole frame and that client misses it; a short write would
    // leave half a frame in its stream, so that client is closed like one that failed.
    if (n < 0 ? sock_last_error() != SOCK_EWOULDBLOCK : n != frame_size) link_client_close(i);
  }
}

void link_parse(int slot) {
  if (slot < 0 || slot >= LINK_CLIENT_SLOTS) return;
  while (LinkClients[slot] != INVALID_SOCKET) {
    LinkFrame frame;
    LinkFrameResult r = link_frame_next(&LinkRxBuffers[slot], LinkDecodeArea, &frame);
    if (r == LINK_FRAME_NEED_MORE) return;
    if (r == LINK_FRAME_BAD) {
      link_client_close(slot);
      return;
    }
    handle_frame(frame);
  }
}

void link_send_event_line(uint32_t level, const char16_t* source, const char16_t* message) {
  if (!g_settings.notify_enable) return;
  char source8[64];
  char message8[256];
  text_utf16_to_utf8(source8, sizeof source8, source ? source : u"");
  text_utf16_to_utf8(message8, sizeof message8, message ? message : u"");
  SystemTime now;
  clock_local_time(&now);
  char line[LINK_ALARM_LINE_SIZE];
  link_format_alarm_line(line, sizeof line, level, &now, source8, message8);
  link_send(LINK_KIND_LOG, 0, line);
}
