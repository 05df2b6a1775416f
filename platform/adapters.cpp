// Linux adapter-addresses list over getifaddrs: AF_INET / AF_INET6 entries of interfaces that
// are up, running and not loopback, grouped by interface in the order interfaces first appear,
// with the hardware address taken from the interface's AF_PACKET entry.
#include "platform/adapters.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// Interface names of alias addresses carry a ":label" suffix; the adapter is the part before it.
size_t base_name_length(const char* name) {
  const char* colon = std::strchr(name, ':');
  return colon != nullptr ? static_cast<size_t>(colon - name) : std::strlen(name);
}

bool same_adapter(const char* a, const char* b) {
  size_t n = base_name_length(a);
  return n == base_name_length(b) && std::strncmp(a, b, n) == 0;
}

bool is_candidate(const ifaddrs* ifa) {
  if (ifa->ifa_addr == nullptr || ifa->ifa_netmask == nullptr || ifa->ifa_name == nullptr)
    return false;
  int family = ifa->ifa_addr->sa_family;
  if (family != AF_INET && family != AF_INET6) return false;
  unsigned flags = ifa->ifa_flags;
  return (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
}

uint32_t count_prefix_bits(const uint8_t* mask, size_t bytes) {
  uint32_t bits = 0;
  for (size_t i = 0; i < bytes; ++i) {
    uint8_t b = mask[i];
    while (b & 0x80) {
      ++bits;
      b = static_cast<uint8_t>(b << 1);
    }
    if (mask[i] != 0xFF) break;
  }
  return bits;
}

void fill_mac(const ifaddrs* list, const char* name, uint8_t* mac) {
  std::memset(mac, 0, ADAPTER_MAC_SIZE);
  for (const ifaddrs* p = list; p != nullptr; p = p->ifa_next) {
    if (p->ifa_addr == nullptr || p->ifa_name == nullptr) continue;
    if (p->ifa_addr->sa_family != AF_PACKET || !same_adapter(p->ifa_name, name)) continue;
    sockaddr_ll ll;
    std::memcpy(&ll, p->ifa_addr, sizeof ll);
    size_t n = ll.sll_halen;
    if (n > ADAPTER_MAC_SIZE) n = ADAPTER_MAC_SIZE;
    std::memcpy(mac, ll.sll_addr, n);
    return;
  }
}

void fill_entry(const ifaddrs* list, const ifaddrs* ifa, AdapterAddress* out) {
  std::memset(out, 0, sizeof *out);
  if (ifa->ifa_addr->sa_family == AF_INET) {
    std::memcpy(out->sockaddr, ifa->ifa_addr, sizeof(sockaddr_in));
    out->sockaddr_length = sizeof(sockaddr_in);
    out->family = INET_FAMILY_IPV4;
    sockaddr_in mask;
    std::memcpy(&mask, ifa->ifa_netmask, sizeof mask);
    out->prefix_length = count_prefix_bits(reinterpret_cast<const uint8_t*>(&mask.sin_addr), 4);
  } else {
    std::memcpy(out->sockaddr, ifa->ifa_addr, sizeof(sockaddr_in6));
    out->sockaddr_length = sizeof(sockaddr_in6);
    out->family = INET_FAMILY_IPV6;
    sockaddr_in6 mask;
    std::memcpy(&mask, ifa->ifa_netmask, sizeof mask);
    out->prefix_length = count_prefix_bits(mask.sin6_addr.s6_addr, 16);
  }
  size_t n = base_name_length(ifa->ifa_name);
  if (n > ADAPTER_NAME_SIZE - 1) n = ADAPTER_NAME_SIZE - 1;
  std::memcpy(out->name, ifa->ifa_name, n);
  fill_mac(list, ifa->ifa_name, out->mac);
}

}  // namespace

int adapters_get_addresses(AdapterAddress* out, int room) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return -1;
  int count = 0;
  // Each adapter at its first candidate entry; then all of that adapter's entries in order.
  for (const ifaddrs* first = list; first != nullptr && count < room; first = first->ifa_next) {
    if (!is_candidate(first)) continue;
    bool seen = false;
    for (const ifaddrs* p = list; p != first; p = p->ifa_next) {
      if (is_candidate(p) && same_adapter(p->ifa_name, first->ifa_name)) {
        seen = true;
        break;
      }
    }
    if (seen) continue;
    for (const ifaddrs* p = first; p != nullptr && count < room; p = p->ifa_next) {
      if (is_candidate(p) && same_adapter(p->ifa_name, first->ifa_name))
        fill_entry(list, p, &out[count++]);
    }
  }
  freeifaddrs(list);
  return count;
}
