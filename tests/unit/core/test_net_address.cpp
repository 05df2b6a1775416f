// Address, date and form-input helpers, and the invariants of the host's address list.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/inet.h"
#include "service/core/net_address.h"

namespace {

std::u16string u16(const char16_t* s) { return std::u16string(s); }

TEST(NetPrefix, ComparesWholeBytesThenTopBits) {
  const uint8_t a[4] = {192, 168, 0x1F, 1};
  struct Case {
    uint8_t b[4];
    int32_t bits;
    int match;
  } cases[] = {
      {{192, 168, 0x10, 9}, 20, 1},    // top four bits of the third byte agree
      {{192, 168, 0x2F, 1}, 20, 0},    // they differ
      {{192, 169, 0x1F, 1}, 20, 0},    // second byte differs
      {{192, 168, 0x1F, 2}, 24, 1},
      {{192, 168, 0x1F, 2}, 32, 0},
      {{10, 0, 0, 0}, 0, 1},           // no bits: everything agrees
      {{10, 0, 0, 0}, -3, 1},
      {{192, 168, 0x1F, 1}, 200, 1},   // capped at the address length
      {{192, 168, 0x1F, 0}, 200, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(net_prefix_match(a, c.bits, c.b, 4), c.match) << c.bits << " " << int(c.b[2]);
}

TEST(NetIpv4, ParsesByTheLaxRules) {
  struct Case {
    const char* text;
    int result;
    uint8_t out[4];
  } cases[] = {
      {"192.168.1.10", 1, {192, 168, 1, 10}},
      {"192.168.1", 0, {}},
      {"a192.168.1.10", 0, {}},
      {"192.x68.1.10", 0, {}},
      {"300.1.2.3", 1, {44, 1, 2, 3}},        // low 8 bits
      {"..1.2", 1, {0, 0, 1, 2}},             // empty parts are 0
      {"1234.5.6.7", 1, {210, 5, 6, 7}},      // only the first three characters are checked
      {"1.2.3.4junk", 1, {1, 2, 3, 4}},       // the fourth part is not checked
      {"1.2.3.", 1, {1, 2, 3, 0}},
      {"", 0, {}},
  };
  for (const Case& c : cases) {
    uint8_t out[4] = {};
    EXPECT_EQ(net_parse_ipv4(out, c.text), c.result) << c.text;
    if (c.result == 1) {
      EXPECT_EQ(std::memcmp(out, c.out, 4), 0) << c.text;
    }
  }
  uint8_t out[4];
  EXPECT_EQ(net_parse_ipv4(out, nullptr), 0);
}

TEST(NetIpv4, Formats) {
  const uint8_t a[4] = {255, 0, 10, 1};
  char text[NET_IPV4_TEXT_SIZE];
  EXPECT_EQ(net_format_ipv4(text, a), 1);
  EXPECT_STREQ(text, "255.0.10.1");
}

TEST(NetIpv6, ParsesWithAndWithoutZone) {
  const uint8_t link_local[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const uint8_t doc[16] = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34};
  struct Case {
    const char* text;
    int result;
    const uint8_t* expected;
  } cases[] = {
      {"fe80::1", 1, link_local},
      {"fe80::1%eth0", 1, link_local},
      {"fe80::1%12", 1, link_local},
      {"[fe80::1%3]:162", 1, link_local},
      {"2001:db8::1234", 1, doc},
      {"fe80::1%", 0, nullptr},
      {"192.168.1.10", 0, nullptr},
      {"fe80::1 ", 0, nullptr},
      {"2001:db8::12345", 0, nullptr},
      {"[2001:db8::1234]:99999", 0, nullptr},
      {"", 0, nullptr},
  };
  for (const Case& c : cases) {
    uint8_t out[16] = {};
    EXPECT_EQ(net_parse_ipv6(out, c.text), c.result) << c.text;
    if (c.expected != nullptr) {
      EXPECT_EQ(std::memcmp(out, c.expected, 16), 0) << c.text;
    }
  }
  std::string too_long = "fe80::1%" + std::string(60, 'x');
  uint8_t out[16];
  EXPECT_EQ(net_parse_ipv6(out, too_long.c_str()), 0);
}

TEST(NetIpv6, FormatsAndBackAgain) {
  const uint8_t doc[16] = {0x20, 0x01, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34};
  char text[NET_IPV6_TEXT_SIZE];
  ASSERT_EQ(net_format_ipv6(text, doc, sizeof text), 1);
  EXPECT_STREQ(text, "2001:db8::1234");
  uint8_t back[16];
  ASSERT_EQ(net_parse_ipv6(back, text), 1);
  EXPECT_EQ(std::memcmp(back, doc, 16), 0);
  char small[6];
  ASSERT_EQ(net_format_ipv6(small, doc, sizeof small), 1);
  EXPECT_STREQ(small, "2001:");   // cut and terminated
}

TEST(NetAddrText, ByFamily) {
  const uint8_t v4[4] = {10, 1, 2, 3};
  const uint8_t v6[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  char16_t out[LOCAL_ADDRESS_TEXT];
  ASSERT_EQ(net_addr_to_wstring(INET_FAMILY_IPV4, v4, out, LOCAL_ADDRESS_TEXT), 1);
  EXPECT_EQ(u16(out), u"10.1.2.3");
  ASSERT_EQ(net_addr_to_wstring(INET_FAMILY_IPV6, v6, out, LOCAL_ADDRESS_TEXT), 1);
  EXPECT_EQ(u16(out), u"fe80::1");   // zone 0: no suffix
  EXPECT_EQ(net_addr_to_wstring(10, v6, out, LOCAL_ADDRESS_TEXT), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(net_addr_to_wstring(INET_FAMILY_IPV4, v4, out, 8), 0);   // does not fit
  EXPECT_EQ(out[0], 0);
}

TEST(InetText, PortsAndZones) {
  const uint8_t v4[4] = {192, 0, 2, 7};
  const uint8_t v6[16] = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  uint8_t sa[INET_SOCKADDR_MAX];
  char16_t out[64];
  uint32_t n = inet_make_sockaddr(sa, sizeof sa, INET_FAMILY_IPV4, v4, 162, 0);
  ASSERT_EQ(n, INET_SOCKADDR_IPV4_SIZE);
  EXPECT_EQ(inet_sockaddr_family(sa, n), INET_FAMILY_IPV4);
  ASSERT_TRUE(inet_address_to_string(sa, n, out, 64));
  EXPECT_EQ(u16(out), u"192.0.2.7:162");

  // Scope 999999 names no interface: its number is the zone.
  n = inet_make_sockaddr(sa, sizeof sa, INET_FAMILY_IPV6, v6, 0, 999999);
  ASSERT_EQ(n, INET_SOCKADDR_IPV6_SIZE);
  ASSERT_TRUE(inet_address_to_string(sa, n, out, 64));
  EXPECT_EQ(u16(out), u"fe80::1%999999");
  n = inet_make_sockaddr(sa, sizeof sa, INET_FAMILY_IPV6, v6, 5515, 999999);
  ASSERT_TRUE(inet_address_to_string(sa, n, out, 64));
  EXPECT_EQ(u16(out), u"[fe80::1%999999]:5515");

  uint8_t bytes[16];
  uint16_t port = 0;
  uint32_t scope = 0;
  EXPECT_EQ(inet_sockaddr_address(sa, n, bytes, &port, &scope), 16u);
  EXPECT_EQ(port, 5515);
  EXPECT_EQ(scope, 999999u);
  EXPECT_EQ(inet_sockaddr_address(sa, 10, bytes, nullptr, nullptr), 0u);   // too short
}

TEST(UtilDate, ParsesBothOrders) {
  struct Case {
    const char* text;
    int month_first;
    int result;
    uint8_t out[3];
  } cases[] = {
      {"03/05/2024", 1, 3, {3, 5, 24}},
      {"03/05/2024", 0, -1, {5, 2024 & 0xFF, (3 - 2000) & 0xFF}},   // day 2024
      {"2024/13/01", 0, -1, {13, 1, 24}},
      {"2024/12/31", 0, 3, {12, 31, 24}},
      {"12/31/1999", 1, -1, {12, 31, (1999 - 2000) & 0xFF}},
      {"00/10/2024", 1, -1, {0, 10, 24}},
      {"01/32/2024", 1, -1, {1, 32, 24}},
      {"02/31/2024", 1, 3, {2, 31, 24}},   // the day is not checked against the month
      {"20240101", 0, 0, {}},
      {"2024/0101", 0, 1, {}},
  };
  for (const Case& c : cases) {
    uint8_t out[3] = {0xAA, 0xAA, 0xAA};
    EXPECT_EQ(util_parse_date(c.text, out, c.month_first), c.result) << c.text;
    if (c.result == 3 || c.result == -1) {
      EXPECT_EQ(std::memcmp(out, c.out, 3), 0) << c.text;
    }
  }
}

TEST(UtilHtml, FindsTheFiveCharacters) {
  struct Case {
    const char* text;
    int result;
  } cases[] = {
      {"a&b", 1}, {"a-b", 0}, {"<tag", 1}, {"x>", 1}, {"it's", 1}, {"say \"hi\"", 1}, {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(util_has_html_special(c.text), c.result) << c.text;
}

TEST(UtilControl, FindsLineBreaksAndOtherControlCharacters) {
  struct Case {
    const char* text;
    int result;
  } cases[] = {
      {"plain & <text>", 0}, {"a\rb", 1}, {"a\n", 1}, {"\t", 1}, {"x\x7f", 1}, {"\xc3\xa9", 0}, {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(util_has_control(c.text), c.result) << c.text;
}

TEST(NetLocalAddresses, HoldsAtMostSixteenRunningNonLoopbackAddresses) {
  LocalAddress table[LOCAL_ADDRESS_MAX + 1];
  std::memset(table, 0x5A, sizeof table);
  int32_t count = -1;
  net_list_local_addresses(table, &count);
  ASSERT_GE(count, 0);
  ASSERT_LE(count, static_cast<int32_t>(LOCAL_ADDRESS_MAX));
  for (int32_t i = 0; i < count; ++i) {
    const LocalAddress& e = table[i];
    uint16_t family = net_local_family(&e);
    ASSERT_TRUE(family == INET_FAMILY_IPV4 || family == INET_FAMILY_IPV6) << i;
    uint8_t bytes[16];
    uint32_t size = net_local_address(&e, bytes);
    ASSERT_EQ(size, family == INET_FAMILY_IPV4 ? 4u : 16u);
    if (family == INET_FAMILY_IPV4) {
      EXPECT_NE(bytes[0], 127) << i;
      EXPECT_LE(e.prefix_len, 32u);
    } else {
      static const uint8_t loopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
      EXPECT_NE(std::memcmp(bytes, loopback6, 16), 0) << i;
      EXPECT_LE(e.prefix_len, 128u);
    }
    // Behind the socket address the field is zero.
    uint32_t used = family == INET_FAMILY_IPV4 ? INET_SOCKADDR_IPV4_SIZE : INET_SOCKADDR_IPV6_SIZE;
    for (uint32_t b = used; b < LOCAL_SOCKADDR_SIZE; ++b) ASSERT_EQ(e.sockaddr[b], 0) << i;
    // The text is terminated inside its field and parses back to the same address.
    size_t len = 0;
    while (len < LOCAL_ADDRESS_TEXT && e.text[len] != 0) ++len;
    ASSERT_LT(len, LOCAL_ADDRESS_TEXT);
    char narrow[LOCAL_ADDRESS_TEXT];
    for (size_t k = 0; k <= len; ++k) narrow[k] = static_cast<char>(e.text[k]);
    uint8_t parsed[16];
    if (family == INET_FAMILY_IPV4) {
      ASSERT_EQ(net_parse_ipv4(parsed, narrow), 1) << narrow;
    } else {
      ASSERT_EQ(net_parse_ipv6(parsed, narrow), 1) << narrow;
    }
    EXPECT_EQ(std::memcmp(parsed, bytes, size), 0) << narrow;
  }
  // Nothing is written beyond the sixteenth entry.
  const uint8_t* past = reinterpret_cast<const uint8_t*>(&table[LOCAL_ADDRESS_MAX]);
  for (size_t b = 0; b < sizeof(LocalAddress); ++b) ASSERT_EQ(past[b], 0x5A);
}

}  // namespace
