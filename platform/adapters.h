// The host's adapter-addresses list: the unicast IPv4 and IPv6 addresses of the adapters that
// are running (up, with a link) and are not loopback, adapter by adapter in the system's order,
// each adapter's addresses in the order the system lists them.
#pragma once
#include <cstdint>

#include "platform/inet.h"

enum : uint32_t {
  ADAPTER_NAME_SIZE = 16,   // interface name with terminator
  ADAPTER_MAC_SIZE = 6,
};

// One unicast address of a running adapter.
struct AdapterAddress {
  uint8_t sockaddr[INET_SOCKADDR_MAX];  // system socket address, zero-filled behind it (port 0)
  uint32_t sockaddr_length;             // 16 (IPv4) or 28 (IPv6)
  uint16_t family;                      // INET_FAMILY_IPV4 (2) or INET_FAMILY_IPV6 (23)
  uint32_t prefix_length;               // on-link prefix length in bits, from the netmask
  uint8_t mac[ADAPTER_MAC_SIZE];        // adapter's hardware address; all zero when it has none
  char name[ADAPTER_NAME_SIZE];         // interface name, the zone of a link-local IPv6 address
};

// Fills out with at most room addresses. Returns the number written, or -1 when the list
// cannot be read.
int adapters_get_addresses(AdapterAddress* out, int room);
