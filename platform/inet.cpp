// Linux side of the internet-address helpers: sockaddr_in / sockaddr_in6 records,
// inet_ntop / inet_pton text forms with zones and ports, and gethostname.
#include "platform/inet.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

static_assert(sizeof(sockaddr_in) == INET_SOCKADDR_IPV4_SIZE);
static_assert(sizeof(sockaddr_in6) == INET_SOCKADDR_IPV6_SIZE);

namespace {

// Longest text handled: an IPv6 address, a zone name and a bracketed port.
constexpr size_t kTextMax = 128;

bool read_family(const void* sockaddr, uint32_t length, sa_family_t* family) {
  if (sockaddr == nullptr || length < sizeof(sa_family_t)) return false;
  std::memcpy(family, sockaddr, sizeof(sa_family_t));
  return true;
}

// ASCII text into UTF-16 units; false when it does not fit with its terminator.
bool widen(const char* in, char16_t* out, uint32_t room) {
  size_t n = std::strlen(in);
  if (out == nullptr || n + 1 > room) return false;
  for (size_t i = 0; i <= n; ++i) out[i] = static_cast<unsigned char>(in[i]);
  return true;
}

}  // namespace

uint32_t inet_make_sockaddr(void* out, uint32_t room, uint16_t family, const uint8_t* address,
                            uint16_t port, uint32_t scope_id) {
  if (out == nullptr || address == nullptr) return 0;
  if (family == INET_FAMILY_IPV4 && room >= sizeof(sockaddr_in)) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    std::memcpy(&sa.sin_addr, address, 4);
    std::memcpy(out, &sa, sizeof sa);
    return sizeof sa;
  }
  if (family == INET_FAMILY_IPV6 && room >= sizeof(sockaddr_in6)) {
    sockaddr_in6 sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    std::memcpy(&sa.sin6_addr, address, 16);
    sa.sin6_scope_id = scope_id;
    std::memcpy(out, &sa, sizeof sa);
    return sizeof sa;
  }
  return 0;
}

uint16_t inet_sockaddr_family(const void* sockaddr, uint32_t length) {
  sa_family_t family;
  if (!read_family(sockaddr, length, &family)) return 0;
  if (family == AF_INET && length >= sizeof(sockaddr_in)) return INET_FAMILY_IPV4;
  if (family == AF_INET6 && length >= sizeof(sockaddr_in6)) return INET_FAMILY_IPV6;
  return 0;
}

uint32_t inet_sockaddr_address(const void* sockaddr, uint32_t length, uint8_t* out,
                               uint16_t* port, uint32_t* scope_id) {
  uint16_t family = inet_sockaddr_family(sockaddr, length);
  if (family == INET_FAMILY_IPV4) {
    sockaddr_in sa;
    std::memcpy(&sa, sockaddr, sizeof sa);
    std::memcpy(out, &sa.sin_addr, 4);
    if (port != nullptr) *port = ntohs(sa.sin_port);
    if (scope_id != nullptr) *scope_id = 0;
    return 4;
  }
  if (family == INET_FAMILY_IPV6) {
    sockaddr_in6 sa;
    std::memcpy(&sa, sockaddr, sizeof sa);
    std::memcpy(out, &sa.sin6_addr, 16);
    if (port != nullptr) *port = ntohs(sa.sin6_port);
    if (scope_id != nullptr) *scope_id = sa.sin6_scope_id;
    return 16;
  }
  return 0;
}

bool inet_address_to_string(const void* sockaddr, uint32_t length, char16_t* out, uint32_t room) {
  if (out != nullptr && room > 0) out[0] = 0;
  uint8_t address[16];
  uint16_t port = 0;
  uint32_t scope = 0;
  uint32_t size = inet_sockaddr_address(sockaddr, length, address, &port, &scope);
  char text[kTextMax];
  char numeric[INET6_ADDRSTRLEN];
  if (size == 4) {
    if (inet_ntop(AF_INET, address, numeric, sizeof numeric) == nullptr) return false;
    if (port != 0) std::snprintf(text, sizeof text, "%s:%u", numeric, port);
    else std::snprintf(text, sizeof text, "%s", numeric);
  } else if (size == 16) {
    if (inet_ntop(AF_INET6, address, numeric, sizeof numeric) == nullptr) return false;
    char zone[IF_NAMESIZE + 2] = "";
    if (scope != 0) {
      char name[IF_NAMESIZE];
      if (if_indextoname(scope, name) != nullptr) std::snprintf(zone, sizeof zone, "%%%s", name);
      else std::snprintf(zone, sizeof zone, "%%%u", scope);
    }
    if (port != 0) std::snprintf(text, sizeof text, "[%s%s]:%u", numeric, zone, port);
    else std::snprintf(text, sizeof text, "%s%s", numeric, zone);
  } else {
    return false;
  }
  if (!widen(text, out, room)) {
    if (out != nullptr && room > 0) out[0] = 0;
    return false;
  }
  return true;
}

bool inet_string_to_ipv6(const char16_t* text, uint8_t out[16]) {
  if (text == nullptr) return false;
  char narrow[kTextMax];
  size_t n = 0;
  for (; text[n] != 0; ++n) {
    if (n + 1 >= sizeof narrow || text[n] > 0x7E || text[n] <= 0x20) return false;
    narrow[n] = static_cast<char>(text[n]);
  }
  narrow[n] = 0;

  char* address = narrow;
  if (narrow[0] == '[') {
    char* close = std::strchr(narrow, ']');
    if (close == nullptr) return false;
    *close = 0;
    address = narrow + 1;
    const char* rest = close + 1;
    if (*rest != 0) {
      // ":port", 1 to 5 digits, at most 65535.
      if (*rest++ != ':' || *rest == 0) return false;
      unsigned port = 0;
      size_t digits = 0;
      for (; *rest != 0; ++rest, ++digits) {
        if (*rest < '0' || *rest > '9' || digits >= 5) return false;
        port = port * 10 + static_cast<unsigned>(*rest - '0');
      }
      if (port > 65535) return false;
    }
  }
  char* percent = std::strchr(address, '%');
  if (percent != nullptr) {
    if (percent[1] == 0 || std::strchr(percent + 1, '%') != nullptr) return false;
    *percent = 0;
  }
  in6_addr parsed;
  if (inet_pton(AF_INET6, address, &parsed) != 1) return false;
  std::memcpy(out, &parsed, 16);
  return true;
}

bool inet_host_name(char* out, uint32_t room) {
  if (out == nullptr || room == 0) return false;
  char name[256];
  if (gethostname(name, sizeof name) != 0) {
    out[0] = 0;
    return false;
  }
  name[sizeof name - 1] = 0;
  size_t n = std::strlen(name);
  if (n > room - 1) n = room - 1;
  std::memcpy(out, name, n);
  out[n] = 0;
  return true;
}

bool inet_resolve_host(const char* name, uint16_t* family, uint8_t* out) {
  *family = 0;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (name == nullptr || getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return false;
  bool found = false;
  if (list->ai_family == AF_INET) {
    std::memcpy(out, &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr, 4);
    *family = INET_FAMILY_IPV4;
    found = true;
  } else if (list->ai_family == AF_INET6) {
    std::memcpy(out, &reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr, 16);
    *family = INET_FAMILY_IPV6;
    found = true;
  }
  freeaddrinfo(list);
  return found;
}
