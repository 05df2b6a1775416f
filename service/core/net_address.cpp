// The host's address list and the address, date and form-input text helpers.
#include "service/core/net_address.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "platform/adapters.h"
#include "platform/inet.h"

LocalAddressTable g_local_addresses;

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of the leading decimal digits of s (0 when none), saturating at 2^32 - 1.
uint32_t leading_number(const char* s) {
  uint64_t v = 0;
  for (; is_digit(*s); ++s) {
    v = v * 10 + static_cast<uint64_t>(*s - '0');
    if (v > 0xFFFFFFFFu) v = 0xFFFFFFFFu;
  }
  return static_cast<uint32_t>(v);
}

}  // namespace

void net_list_local_addresses(LocalAddress* table, int32_t* count) {
  AdapterAddress found[LOCAL_ADDRESS_MAX];
  int n = adapters_get_addresses(found, LOCAL_ADDRESS_MAX);
  if (n < 0) n = 0;
  for (int i = 0; i < n; ++i) {
    LocalAddress* entry = &table[i];
    std::memset(entry, 0, sizeof *entry);
    std::memcpy(entry->sockaddr, found[i].sockaddr, found[i].sockaddr_length);
    entry->prefix_len = found[i].prefix_length;
    inet_address_to_string(found[i].sockaddr, found[i].sockaddr_length, entry->text,
                           LOCAL_ADDRESS_TEXT);
    std::memcpy(entry->mac, found[i].mac, sizeof entry->mac);
  }
  *count = n;
}

uint16_t net_local_family(const LocalAddress* entry) {
  return inet_sockaddr_family(entry->sockaddr, LOCAL_SOCKADDR_SIZE);
}

uint32_t net_local_address(const LocalAddress* entry, uint8_t* out) {
  return inet_sockaddr_address(entry->sockaddr, LOCAL_SOCKADDR_SIZE, out, nullptr, nullptr);
}

int net_addr_to_wstring(uint16_t family, const uint8_t* address, char16_t* out, uint32_t size) {
  if (out != nullptr && size > 0) out[0] = 0;
  if (address == nullptr || (family != INET_FAMILY_IPV4 && family != INET_FAMILY_IPV6)) return 0;
  uint8_t sa[INET_SOCKADDR_MAX];
  uint32_t length = inet_make_sockaddr(sa, sizeof sa, family, address, 0, 0);
  if (length == 0) return 0;
  return inet_address_to_string(sa, length, out, size) ? 1 : 0;
}

int net_parse_ipv4(uint8_t out[4], const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  for (int part = 0; part < 3; ++part) {
    const char* dot = std::strchr(p, '.');
    if (dot == nullptr) return 0;
    for (const char* c = p; c < dot && c < p + 3; ++c)
      if (!is_digit(*c)) return 0;
    out[part] = static_cast<uint8_t>(leading_number(p));
    p = dot + 1;
  }
  out[3] = static_cast<uint8_t>(leading_number(p));
  return 1;
}

int net_format_ipv4(char* out, const uint8_t address[4]) {
  std::snprintf(out, NET_IPV4_TEXT_SIZE, "%d.%d.%d.%d", address[0], address[1], address[2],
                address[3]);
  return 1;
}

int net_parse_ipv6(uint8_t out[16], const char* text) {
  if (text == nullptr || std::strlen(text) > NET_IPV6_TEXT_SIZE - 1) return 0;
  char16_t wide[NET_IPV6_TEXT_SIZE];
  text_utf8_to_utf16(wide, NET_IPV6_TEXT_SIZE, text);
  return inet_string_to_ipv6(wide, out) ? 1 : 0;
}

int net_format_ipv6(char* out, const uint8_t address[16], uint32_t size) {
  if (out == nullptr || size == 0) return 0;
  out[0] = 0;
  if (size > NET_IPV6_TEXT_SIZE) size = NET_IPV6_TEXT_SIZE;
  char16_t wide[NET_IPV6_TEXT_SIZE];
  if (net_addr_to_wstring(INET_FAMILY_IPV6, address, wide, NET_IPV6_TEXT_SIZE) == 0) return 0;
  text_utf16_to_utf8(out, size, wide);
  return 1;
}

int net_prefix_match(const uint8_t* a, int32_t bits, const uint8_t* b, uint32_t address_length) {
  if (bits <= 0) return 1;
  uint32_t n = static_cast<uint32_t>(bits);
  if (n > address_length * 8) n = address_length * 8;
  uint32_t whole = n / 8;
  if (std::memcmp(a, b, whole) != 0) return 0;
  uint32_t rest = n % 8;
  if (rest == 0) return 1;
  uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask) ? 1 : 0;
}

int util_parse_date(const char* text, uint8_t out[3], int month_first) {
  if (text == nullptr) return 0;
  const char* first_slash = std::strchr(text, '/');
  if (first_slash == nullptr) return 0;
  const char* second_slash = std::strchr(first_slash + 1, '/');
  if (second_slash == nullptr) return 1;
  uint32_t part1 = leading_number(text);
  uint32_t part2 = leading_number(first_slash + 1);
  uint32_t part3 = leading_number(second_slash + 1);
  uint32_t month, day, year;
  if (month_first) {
    month = part1;
    day = part2;
    year = part3;
  } else {
    year = part1;
    month = part2;
    day = part3;
  }
  out[0] = static_cast<uint8_t>(month);
  out[1] = static_cast<uint8_t>(day);
  out[2] = static_cast<uint8_t>(year - 2000);
  bool valid = month >= 1 && month <= 12 && day >= 1 && day <= 31 && year >= 2000;
  return valid ? 3 : -1;
}

int util_has_control(const char* text) {
  if (text == nullptr) return 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
    if (*p < 0x20 || *p == 0x7F) return 1;
  return 0;
}

int util_has_html_special(const char* text) {
  if (text == nullptr) return 0;
  return std::strpbrk(text, "<>&'\"") != nullptr ? 1 : 0;
}
