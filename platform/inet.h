// Internet addresses: socket-address records and their text forms, and the host name.
// Socket addresses are kept as the system's own bytes (16 for IPv4, 28 for IPv6); the address
// family is given to callers in the service's terms, 2 for IPv4 and 23 for IPv6.
#pragma once
#include <cstdint>

enum : uint16_t {
  INET_FAMILY_IPV4 = 2,
  INET_FAMILY_IPV6 = 23,
};

enum : uint32_t {
  INET_SOCKADDR_IPV4_SIZE = 16,
  INET_SOCKADDR_IPV6_SIZE = 28,
  INET_SOCKADDR_MAX = 28,   // room that holds either
};

// Builds a socket address of family 2 (address 4 bytes) or 23 (16 bytes) with the port (host
// order) and, for IPv6, flow information 0 and the scope id. Returns its size, 0 for another
// family or too little room.
uint32_t inet_make_sockaddr(void* out, uint32_t room, uint16_t family, const uint8_t* address,
                            uint16_t port, uint32_t scope_id);
// Family of a socket address in the service's terms (2, 23), 0 when it is neither or too short.
uint16_t inet_sockaddr_family(const void* sockaddr, uint32_t length);
// Address bytes (out has room for 16), port (host order) and IPv6 scope id of a socket address.
// Either pointer for port or scope may be null. Returns 4, 16, or 0 when not IPv4/IPv6.
uint32_t inet_sockaddr_address(const void* sockaddr, uint32_t length, uint8_t* out,
                               uint16_t* port, uint32_t* scope_id);

// Text form of a socket address: "a.b.c.d" or the IPv6 text, an IPv6 address with a nonzero
// scope getting "%zone" (the interface name, or its number when it has none); a nonzero port
// gives "a.b.c.d:port" or "[text]:port". False, with out empty, when the address is not
// IPv4/IPv6 or the text (with terminator) does not fit in room units.
bool inet_address_to_string(const void* sockaddr, uint32_t length, char16_t* out, uint32_t room);
// Parses IPv6 text ("addr", "addr%zone", "[addr]", "[addr%zone]:port") into 16 bytes; the zone
// and port are dropped. False for anything else.
bool inet_string_to_ipv6(const char16_t* text, uint8_t out[16]);
// The host name as 8-bit text, cut to room - 1 bytes and terminated. False when it cannot be read.
bool inet_host_name(char* out, uint32_t room);
// The first address the name resolves to: family 2 or 23 into *family and its 4 or 16 bytes into
// out (room for 16). False, with *family 0, when it does not resolve.
bool inet_resolve_host(const char* name, uint16_t* family, uint8_t* out);
