// The tray's side of the link to the service: connect to 127.0.0.1:5515, reconnect and idle
// time-out, the frames read into the tray's own records (with the service's strict reader), and
// the requests sent.
#include "tray/tray.h"

#include <cstring>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/socket.h"

int TraySockets[TRAY_SOCKET_SLOTS] = {INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET,
                                      INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET,
                                      INVALID_SOCKET, INVALID_SOCKET};
int32_t TrayLinkState = 0;
LinkRxBuffer TrayRecvBuffer;
int32_t TrayLinkIdleSeconds = 0;

namespace {

const uint8_t kLoopback[4] = {127, 0, 0, 1};
constexpr uint32_t kLinkEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

char TraySendBuffer[LINK_HEADER_SIZE + LINK_SETTINGS_BODY];
uint8_t TrayDecodeArea[LINK_DECODE_SIZE];

int slot_of(int s) {
  if (s == INVALID_SOCKET) return -1;
  for (int i = 0; i < TRAY_SOCKET_SLOTS; ++i)
    if (TraySockets[i] == s) return i;
  return -1;
}

void on_status(const LinkFrame& f) {
  memcpy(&TrayStatus, f.body, sizeof TrayStatus);
  TrayValAgeSeconds = 0;
  for (auto& m : TrayMenu)
    if (m.id == CMD_CANCEL_COUNTDOWN) m.checked = TrayStatus.shutdown_cancelled != 0;
  if (TrayStatus.tray_state == 10) TrayStatus.countdown_left = 0;
  if (TrayStatus.shutdown_cancelled || TrayStatus.countdown_left <= 0) tray_countdown_destroy();
}

void on_alarm_line(const LinkFrame& f) {
  const char* text = reinterpret_cast<const char*>(f.body);
  const char* space = static_cast<const char*>(memchr(text, ' ', strnlen(text, size_t(f.body_bytes))));
  if (!space) return;
  desktop_screen_saver_off();
  char16_t line[256];
  text_utf8_to_utf16(line, 256, space + 1);
  tray_broadcast_add(line);
}

// Settings of the service, whole; a watcher's tray keeps only what it shows and opens.
void on_settings(const LinkFrame& f) {
  memcpy(&g_settings, f.body, sizeof g_settings);
  if (!TrayUserIsAdmin) link_settings_for_watcher(&g_settings);
  TraySettingsFrom = TRAY_SETTINGS_FRAME;
  tray_settings_changed();
}

void handle_frame(const LinkFrame& f) {
  switch (f.kind) {
    case LINK_KIND_VAL:
      on_status(f);
      break;
    case LINK_KIND_LOG:
      on_alarm_line(f);
      break;
    case LINK_KIND_PRO:
      if (TrayWindow) win_send_message(TrayWindow, WM_COMMAND, CMD_PROPERTY, 0);
      break;
    case LINK_KIND_UPC:
      // The service changed its settings: read the file again, or, when the tray cannot read
      // it, take the record the frame carries.
      if (TraySettingsFileReadable) {
        cfg_load(nullptr);
        TraySettingsFrom = TRAY_SETTINGS_FILE;
        tray_settings_changed();
      } else {
        on_settings(f);
      }
      tray_lang_reload();
      break;
    case LINK_KIND_CFG:
      on_settings(f);
      break;
    default:
      break;   // the other kinds mean nothing to the tray
  }
}

void on_read(int slot) {
  TrayLinkIdleSeconds = 0;
  LinkRxBuffer& rx = TrayRecvBuffer;
  int room = LINK_RX_BUFFER_SIZE - rx.fill;
  if (room <= 0) {
    tray_link_close_slot(slot);
    return;
  }
  int n = sock_recv(TraySockets[slot], rx.data + rx.fill, room);
  if (n < 0) {
    if (sock_last_error() != SOCK_EWOULDBLOCK) tray_link_close_slot(slot);
    return;
  }
  if (n == 0) {
    tray_link_close_slot(slot);
    return;
  }
  rx.fill += n;
  tray_link_parse();
}

}  // namespace

void tray_link_reset() {
  for (int i = 0; i < TRAY_SOCKET_SLOTS; ++i) tray_link_close_slot(i);
  TrayLinkState = 0;
  TrayLinkIdleSeconds = 0;
}

void tray_link_close_slot(int slot) {
  if (slot < 0 || slot >= TRAY_SOCKET_SLOTS) return;
  if (TraySockets[slot] != INVALID_SOCKET) sock_close(TraySockets[slot]);
  TraySockets[slot] = INVALID_SOCKET;
  // Bytes of a closed connection never join the next one's stream.
  if (slot == 0) TrayRecvBuffer.fill = 0;
}

int tray_link_connect() {
  int s = TraySockets[0];
  if (s == INVALID_SOCKET) return 0;
  if (!win_async_select(s, TrayWindow, WM_TRAY_SOCKET, kLinkEvents)) return 0;
  if (!sock_connect(s, INET_FAMILY_IPV4, kLoopback, LINK_PORT)) {
    tray_link_close_slot(0);
    return 0;
  }
  TrayLinkState = 1;
  return 1;
}

void tray_link_on_socket_event(uintptr_t socket, intptr_t event) {
  int slot = slot_of(int(socket));
  uint32_t what = uint32_t(event) & 0xFFFF;
  uint32_t error = (uint32_t(event) >> 16) & 0xFFFF;
  if (error && slot >= 0) {
    tray_link_close_slot(slot);
    return;
  }
  switch (what) {
    case FD_CONNECT:
      if (slot >= 0) TrayLinkState = 2;
      break;
    case FD_READ:
      if (TrayLinkState == 2 && slot >= 0) on_read(slot);
      break;
    case FD_CLOSE:
      tray_link_close_slot(slot);
      break;
    default:
      break;
  }
}

void tray_link_parse() {
  while (TraySockets[0] != INVALID_SOCKET) {
    LinkFrame frame;
    LinkFrameResult r = link_frame_next(&TrayRecvBuffer, TrayDecodeArea, &frame);
    if (r == LINK_FRAME_NEED_MORE) return;
    if (r == LINK_FRAME_BAD) {
      tray_link_close_slot(0);
      return;
    }
    handle_frame(frame);
  }
}

void tray_link_send(uint32_t kind, uint32_t code, const uint8_t* body, int32_t length) {
  int32_t size = link_frame_build(TraySendBuffer, int32_t(sizeof TraySendBuffer), kind, code, body, length);
  if (size == 0) return;
  for (int i = 0; i < TRAY_SOCKET_SLOTS; ++i) {
    if (TraySockets[i] == INVALID_SOCKET) continue;
    int n = sock_send(TraySockets[i], TraySendBuffer, size);
    // Half a frame would put the service's reader out of step: such a link is closed too.
    if (n < 0 ? sock_last_error() != SOCK_EWOULDBLOCK : n != size) tray_link_close_slot(i);
  }
}

void tray_link_step() {
  if (TrayLinkState == 0 && TraySockets[0] == INVALID_SOCKET) {
    TraySockets[0] = sock_tcp_open(INET_FAMILY_IPV4);
    if (TraySockets[0] != INVALID_SOCKET) tray_link_connect();
    TrayLinkIdleSeconds = 1;
  } else {
    TrayLinkIdleSeconds += 1;
  }
  if (TrayLinkIdleSeconds > 10) {
    TrayLinkIdleSeconds = 0;
    tray_link_close_slot(0);
    TrayLinkState = 0;
  }
}

bool tray_send_settings() {
  if (TrayLinkState != 2 || TraySettingsFrom == TRAY_SETTINGS_NONE) return false;
  tray_link_send(LINK_KIND_UPC, 0, reinterpret_cast<const uint8_t*>(&g_settings), int32_t(sizeof g_settings));
  return true;
}
