// Outcome of each listener's opening: its status line ("IPv4-Trap: NOK") is due the first time it
// opens or fails and again only when that changes. A failure is printed once to standard error
// and stays in the service status (systemd's STATUS=) until the listener opens or is closed.
#pragma once
#include <cstdint>

enum ListenerId : int {
  LISTENER_SNMP_V4,
  LISTENER_SNMP_V6,
  LISTENER_TRAP_V4,
  LISTENER_TRAP_V6,
  LISTENER_HTTP_V4,
  LISTENER_HTTP_V6,
  LISTENER_HTTPS_V4,
  LISTENER_HTTPS_V6,
  LISTENER_TRAY_LINK,
  LISTENER_COUNT,
};

// The listener opened; true when its status line is due.
bool listener_opened(int id);
// The listener could not bind or listen on the port (error as sock_last_error gives it); true when
// its status line is due, and then one line goes to standard error.
bool listener_failed(int id, uint16_t port, int error);
// The listener was closed on purpose (stop, port change): its problem leaves the service status.
void listener_closed(int id);
// Forgets every outcome, as at start.
void listener_status_reset();
