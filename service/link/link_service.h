// Service side of the tray link: the listener on 127.0.0.1 port 5515, the ten client slots with a
// receive buffer each, the frames the service sends, and what it does with the frames it receives.
// Everything runs on the service's window thread.
#pragma once
#include <cstdint>

#include "common/settings.h"
#include "service/link/link_frames.h"

constexpr int LINK_CLIENT_SLOTS = 10;
// Slots one user who is no administrator may hold at a time; further connections are closed.
constexpr int LINK_WATCHER_SLOTS_PER_USER = 2;

// 0 no listener, 1 listening and no client accepted yet, 2 a client has been accepted (it stays 2
// after the clients have gone, until the listener closes).
extern int32_t LinkState;
// The listening socket, or INVALID_SOCKET.
extern int LinkListener;
// Connected tray programs; INVALID_SOCKET marks a free slot.
extern int LinkClients[LINK_CLIENT_SLOTS];
// Receive buffer of each client slot.
extern LinkRxBuffer LinkRxBuffers[LINK_CLIENT_SLOTS];
// 1 when the slot's peer process belongs to an administrator (root or the "sudo" group): it gets
// every frame and may send. Other peers only watch: they get VAL, LOG and a CFG without what
// link_settings_for_watcher removes, and anything they send closes their connection. A watching
// user holds at most LINK_WATCHER_SLOTS_PER_USER slots; when the table is full, an administrator's
// connection takes the slot of the oldest watching connection, which is closed.
extern uint8_t LinkClientAdmin[LINK_CLIENT_SLOTS];

// Closes an open listener, then opens a TCP socket bound to 127.0.0.1:5515. False when it cannot
// be created or bound.
bool link_listen_create();
// Registers the listener for FD_ACCEPT (WM_LINK_SOCKET on g_main_hwnd) and listens (backlog 2);
// LinkState := 1. False when the registration fails (listener left open) or listen fails
// (listener closed, LinkState 0).
bool link_listen_start();
// Closes the listener and sets LinkState to 0; the client slots stay.
void link_listen_close();
// Closes client slot i if it is open, marks it free and empties its receive buffer.
void link_client_close(int slot);
// WM_LINK_SOCKET handler: socket and the event word (event in the low 16 bits, error in the high).
void link_on_socket(uintptr_t socket, intptr_t event);
// Builds one frame of the kind (0 to 13) and sends it to every client; data is the UTF-8 text of
// LOG and DEL, unused otherwise. Only while LinkState is 2.
void link_send(uint32_t kind, uint32_t code, const char* data);
// Takes the complete frames out of the slot's receive buffer and acts on them; a bad frame closes
// the slot.
void link_parse(int slot);
// Formats an alarm line from the local time and sends it as LOG (while notify_enable is set).
void link_send_event_line(uint32_t level, const char16_t* source, const char16_t* message);

// True when a settings image from a tray program may replace the service's settings: every text
// ends inside its field and holds no control character (the texts stored one byte a character
// stay within U+00FF), and language, shutdown type, VMware script type, storing modes and web
// protocol bits lie in range.
bool link_settings_acceptable(const AgentSettings* image);
