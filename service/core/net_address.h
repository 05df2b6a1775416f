// The host's own addresses (refreshed once a minute, read by the SNMP engine id and the trap
// forwarder) and the small text helpers for addresses, dates and form input.
// Socket addresses are kept in the system's own layout; net_local_family gives their family
// in the service's terms (2 IPv4, 23 IPv6).
#pragma once
#include <cstdint>

enum : uint32_t {
  LOCAL_ADDRESS_MAX = 16,        // entries of the table
  LOCAL_ADDRESS_TEXT = 52,       // UTF-16 units of an address text, terminator included
  LOCAL_SOCKADDR_SIZE = 128,     // room of the socket-address field
  NET_IPV4_TEXT_SIZE = 16,       // "255.255.255.255" and terminator
  NET_IPV6_TEXT_SIZE = 65,       // largest IPv6 text buffer, terminator included
};

// One address of a running adapter.
struct LocalAddress {
  uint8_t sockaddr[LOCAL_SOCKADDR_SIZE];   // system socket address (16 or 28 bytes), zero behind
  char16_t text[LOCAL_ADDRESS_TEXT];       // address text; a link-local IPv6 one has "%zone"
  uint32_t prefix_len;                     // on-link prefix length, bits
  uint8_t mac[6];                          // adapter's hardware address, zero when none
};

struct LocalAddressTable {
  LocalAddress entries[LOCAL_ADDRESS_MAX];
  int32_t count;   // entries in use, 0 to 16
};

// The host's address list, filled at start and on the first second of every minute.
extern LocalAddressTable g_local_addresses;

// Fills table (room for LOCAL_ADDRESS_MAX) with the unicast IPv4/IPv6 addresses of running,
// non-loopback adapters in the system's order; *count := entries written. A list that cannot
// be read gives 0.
void net_list_local_addresses(LocalAddress* table, int32_t* count);
// Family of an entry: 2 (IPv4), 23 (IPv6), 0 for an empty one.
uint16_t net_local_family(const LocalAddress* entry);
// Address bytes of an entry into out (room for 16); returns 4, 16 or 0.
uint32_t net_local_address(const LocalAddress* entry, uint8_t* out);

// Text of a family 2 (4 bytes) or 23 (16 bytes) address into out (size units). 1, or 0 for
// another family or a text that does not fit.
int net_addr_to_wstring(uint16_t family, const uint8_t* address, char16_t* out, uint32_t size);
// Lax dotted IPv4: three parts each followed by '.', the first up to three characters of each
// of them digits; part values are their leading digits (empty 0), low 8 bits; the fourth part
// and anything after it unchecked. 1, or 0 (out may hold a partial result).
int net_parse_ipv4(uint8_t out[4], const char* text);
// "%d.%d.%d.%d" into out (NET_IPV4_TEXT_SIZE bytes). Always 1.
int net_format_ipv4(char* out, const uint8_t address[4]);
// IPv6 text (UTF-8, at most 64 bytes, zone suffix allowed and dropped) into 16 bytes. 1 or 0.
int net_parse_ipv6(uint8_t out[16], const char* text);
// IPv6 text of 16 bytes into out, UTF-8, at most size bytes (size at most 65). 1 or 0.
int net_format_ipv6(char* out, const uint8_t address[16], uint32_t size);
// 1 when the first bits bits of a and b agree (bits <= 0 always agree). bits is capped at the
// address length in bytes (4 or 16) times 8.
int net_prefix_match(const uint8_t* a, int32_t bits, const uint8_t* b, uint32_t address_length);

// Date text with two '/' into {month, day, year - 2000 (low 8 bits)}: year/month/day when
// month_first is 0, month/day/year when 1. out is written before the check. Returns 3 when
// month 1-12, day 1-31 and year >= 2000; -1 otherwise; 0 when the text has no '/', 1 for one.
int util_parse_date(const char* text, uint8_t out[3], int month_first);
// 1 when the text holds one of < > & ' and the double quote, else 0.
int util_has_html_special(const char* text);
// 1 when the text holds a control character (below 0x20, or 0x7F): a line break would end a line
// of the settings file.
int util_has_control(const char* text);
