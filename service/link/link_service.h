// Service side of the tray link: the listener on port 5515, the client slots, and the frames the
// service sends and acts on.
#pragma once
#include <cstdint>

enum : uint32_t {
  LINK_KIND_VAL = 0, LINK_KIND_LOG = 1, LINK_KIND_UHD = 2, LINK_KIND_PRO = 3, LINK_KIND_SYS = 4,
  LINK_KIND_STP = 5, LINK_KIND_UPC = 6, LINK_KIND_ICO = 7, LINK_KIND_ADO = 8, LINK_KIND_DEL = 9,
  LINK_KIND_CFG = 10, LINK_KIND_T01 = 11, LINK_KIND_T02 = 12, LINK_KIND_T03 = 13,
};

// 0 no listener, 1 listening, 2 a client has been accepted.
extern int32_t LinkState;

bool link_listen_create();
bool link_listen_start();
void link_listen_close();
void link_on_socket(uintptr_t socket, intptr_t event);
void link_send(uint32_t kind, uint32_t code, const char* data);
void link_send_event_line(uint32_t level, const char16_t* source, const char16_t* message);
