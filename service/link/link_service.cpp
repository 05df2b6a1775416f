// Tray link. Until it is built there is no listener and nothing is sent.
#include "service/link/link_service.h"

int32_t LinkState = 0;

bool link_listen_create() { return false; }
bool link_listen_start() { return false; }
void link_listen_close() { LinkState = 0; }
void link_on_socket(uintptr_t, intptr_t) {}
void link_send(uint32_t, uint32_t, const char*) {}
void link_send_event_line(uint32_t, const char16_t*, const char16_t*) {}
