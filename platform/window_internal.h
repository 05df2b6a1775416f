// Hooks between the socket calls and the window layer's notifications (platform-internal).
#pragma once
#include <cstdint>

#include "platform/window.h"

// Lets the next FD_READ, FD_ACCEPT or FD_WRITE of a registered socket be posted.
void win_socket_rearm(int socket, uint32_t event);
// Drops the registration of a socket that is being closed.
void win_socket_forget(int socket);

// Hooks of the cross-process endpoints (window_endpoint.cpp): a titled window gets one at creation
// and loses it before it is destroyed.
void win_endpoint_open(WindowHandle window, const char16_t* title);
void win_endpoint_close(WindowHandle window);
