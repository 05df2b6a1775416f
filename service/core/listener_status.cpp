// Listener outcomes, their problem texts in the service status and the line on standard error.
#include "service/core/listener_status.h"

#include <cstdio>

#include "platform/service_manager.h"
#include "platform/socket.h"

namespace {

enum : uint8_t { OUTCOME_NONE, OUTCOME_OPEN, OUTCOME_FAILED };

struct Listener {
  const char* name;       // status key and the start of its status line
  const char* protocol;
  const char* family;
};

const Listener kListeners[LISTENER_COUNT] = {
    {"IPv4-SNMP", "UDP", "IPv4"},  {"IPv6-SNMP", "UDP", "IPv6"},  {"IPv4-Trap", "UDP", "IPv4"},
    {"IPv6-Trap", "UDP", "IPv6"},  {"IPv4-HTTP", "TCP", "IPv4"},  {"IPv6-HTTP", "TCP", "IPv6"},
    {"IPv4-HTTPS", "TCP", "IPv4"}, {"IPv6-HTTPS", "TCP", "IPv6"}, {"Tray-Link", "TCP", "IPv4"},
};

uint8_t g_outcome[LISTENER_COUNT];

bool valid(int id) { return id >= 0 && id < LISTENER_COUNT; }

}  // namespace

bool listener_opened(int id) {
  if (!valid(id)) return false;
  svc_status_problem(kListeners[id].name, nullptr);
  bool due = g_outcome[id] != OUTCOME_OPEN;
  g_outcome[id] = OUTCOME_OPEN;
  return due;
}

bool listener_failed(int id, uint16_t port, int error) {
  if (!valid(id)) return false;
  const Listener& l = kListeners[id];
  char text[160];
  std::snprintf(text, sizeof text, "%s: NOK, %s port %u (%s): %s", l.name, l.protocol, unsigned(port), l.family,
                sock_error_text(error));
  svc_status_problem(l.name, text);
  bool due = g_outcome[id] != OUTCOME_FAILED;
  g_outcome[id] = OUTCOME_FAILED;
  if (due) std::fprintf(stderr, "%s\n", text);
  return due;
}

void listener_closed(int id) {
  if (valid(id)) svc_status_problem(kListeners[id].name, nullptr);
}

void listener_status_reset() {
  for (uint8_t& o : g_outcome) o = OUTCOME_NONE;
  for (const Listener& l : kListeners) svc_status_problem(l.name, nullptr);
}
