// Trap forwarding: the message of each version built from TrapState, the SNMPv3 forward's header,
// salt, encryption and digest under the service's engine id, the agent address chosen by prefix,
// and the sends to IPv4 and IPv6 targets over loopback.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/cipher.h"
#include "common/digest.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/inet.h"
#include "platform/socket.h"
#include "service/alarm/shutdown_actions.h"
#include "service/core/scheduler.h"
#include "service/core/net_address.h"
#include "service/snmp/ber.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_forward.h"
#include "service/snmp/trap_receiver.h"
#include "service/snmp/trap_state.h"
#include "service/snmp/usm.h"
#include "support/ber_build.h"

namespace {

const uint8_t kEngine[11] = {0x80, 0x00, 0x1C, 0xAE, 0x03, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

void add_local(const char* text, uint32_t prefix) {
  LocalAddress& e = g_local_addresses.entries[g_local_addresses.count++];
  uint8_t address[16];
  ASSERT_TRUE(net_parse_ipv4(address, text));
  inet_make_sockaddr(e.sockaddr, LOCAL_SOCKADDR_SIZE, INET_FAMILY_IPV4, address, 0, 0);
  e.prefix_len = prefix;
}

class ForwardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg_set_defaults();
    g_source_ips.count = 1;
    text_copy8(g_source_ips.ip[0], 52, "10.1.1.1");
    text_copy8(g_source_ips.community[0], 17, "upsside");
    g_usm.count = 2;
    text_copy8(g_usm.user[1], 17, "upsuser");
    g_usm.security[1] = 2;
    text_copy8(g_usm.auth[1], 17, "authpass1");
    text_copy8(g_usm.priv[1], 17, "privpass1");
    std::memcpy(g_snmp_engine_id, kEngine, 11);
    g_snmp_agent.engine_boots = 0x0102;
    g_snmp_agent.engine_time = 77;
    std::memset(&g_local_addresses, 0, sizeof g_local_addresses);
    g_source_ips.listen_port = 0;   // listeners on any free port; only the sending sockets matter
    trap_init();
    TrapState.source_index = 0;
    TrapState.version = 0;
    TrapState.generic_trap = 6;
    TrapState.specific_trap = 3;
    g_trap_enterprise_tail[0] = 4;
    g_trap_enterprise_tail[1] = 20;
  }

  Bytes encode(const uint8_t* address = reinterpret_cast<const uint8_t*>("\xc0\xa8\x01\x07"), uint32_t length = 4) {
    uint8_t buffer[TRAP_FORWARD_BUFFER];
    uint32_t size = sizeof buffer;
    if (!trap_encode_forward("upsside", address, length, buffer, &size)) return {};
    return Bytes(buffer, buffer + size);
  }
};

Ids read_oid(BerReader* r) {
  uint32_t ids[SNMP_OID_MAX];
  SnmpOid o = {0, ids};
  EXPECT_TRUE(ber_read_oid(r, &o, SNMP_OID_MAX));
  return Ids(ids, ids + o.count);
}

int32_t read_int(BerReader* r, uint8_t tag = 0x02) {
  int32_t v = 0;
  EXPECT_TRUE(ber_read_integer(r, tag, &v, BER_NOT_EMPTY));
  return v;
}

Bytes read_octets(BerReader* r, uint8_t tag = 0x04) {
  BerReader inner;
  EXPECT_TRUE(ber_read_inner(r, tag, &inner, BER_MAY_BE_EMPTY));
  return Bytes(inner.pos, inner.end);
}

// Request id and the trap OID of an SNMPv2-Trap PDU.
void read_v2_pdu(BerReader* r, int32_t* request_id, Ids* trap) {
  BerReader p, list, b;
  ASSERT_TRUE(ber_read_inner(r, 0xA7, &p, BER_NOT_EMPTY));
  *request_id = read_int(&p);
  EXPECT_EQ(read_int(&p), 0);
  EXPECT_EQ(read_int(&p), 0);
  ASSERT_TRUE(ber_read_inner(&p, 0x30, &list, BER_NOT_EMPTY));
  ASSERT_TRUE(ber_read_inner(&list, 0x30, &b, BER_NOT_EMPTY));
  EXPECT_EQ(read_oid(&b), (Ids{1, 3, 6, 1, 2, 1, 1, 3, 0}));
  read_int(&b, 0x43);
  ASSERT_TRUE(ber_read_inner(&list, 0x30, &b, BER_NOT_EMPTY));
  EXPECT_EQ(read_oid(&b), (Ids{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}));
  *trap = read_oid(&b);
}

TEST_F(ForwardTest, SimulatedPowerFailureBeforeAnyTrapIsAnSnmpV1Trap) {
  Bytes m = encode();
  ASSERT_FALSE(m.empty());
  BerReader all = ber_reader(m.data(), m.size()), msg, pdu, binds;
  ASSERT_TRUE(ber_read_inner(&all, 0x30, &msg, BER_NOT_EMPTY));
  EXPECT_EQ(read_int(&msg), 0);
  EXPECT_EQ(read_octets(&msg), (Bytes{'u', 'p', 's', 's', 'i', 'd', 'e'}));
  ASSERT_TRUE(ber_read_inner(&msg, 0xA4, &pdu, BER_NOT_EMPTY));
  EXPECT_EQ(read_oid(&pdu), (Ids{1, 3, 6, 1, 4, 1, 7342, 2, 4, 20}));
  EXPECT_EQ(read_octets(&pdu, 0x40), (Bytes{192, 168, 1, 7}));
  EXPECT_EQ(read_int(&pdu), 6);
  EXPECT_EQ(read_int(&pdu), 3);
  read_int(&pdu, 0x43);
  ASSERT_TRUE(ber_read_inner(&pdu, 0x30, &binds, BER_MAY_BE_EMPTY));
  EXPECT_EQ(ber_reader_left(&binds), 0u);
}

TEST_F(ForwardTest, SnmpV1WithOnlyAnIpv6AgentAddressIsNotSent) {
  uint8_t v6[16] = {0xfe, 0x80};
  EXPECT_TRUE(encode(v6, 16).empty());
}

struct V2Case {
  int32_t generic, specific;
  Ids trap;
};

TEST_F(ForwardTest, SnmpV2cTrapOids) {
  TrapState.version = 1;
  const V2Case cases[] = {
      {0, 0, {1, 3, 6, 1, 6, 3, 1, 1, 5, 1}},
      {1, 0, {1, 3, 6, 1, 6, 3, 1, 1, 5, 2}},
      {6, 7, {1, 3, 6, 1, 4, 1, 7342, 2, 4, 20, 7, 0}},
  };
  for (const V2Case& c : cases) {
    TrapState.generic_trap = c.generic;
    TrapState.specific_trap = c.specific;
    Bytes m = encode();
    BerReader all = ber_reader(m.data(), m.size()), msg;
    ASSERT_TRUE(ber_read_inner(&all, 0x30, &msg, BER_NOT_EMPTY));
    EXPECT_EQ(read_int(&msg), 1);
    EXPECT_EQ(read_octets(&msg).size(), 7u);
    int32_t id = 0;
    Ids trap;
    read_v2_pdu(&msg, &id, &trap);
    EXPECT_EQ(id, 1005);
    EXPECT_EQ(trap, c.trap);
  }
}

TEST_F(ForwardTest, SnmpV3ForwardUnderTheServiceEngine) {
  TrapState.version = 3;
  TrapState.msg_id = 0x2345;
  ber_copy_octets(reinterpret_cast<const uint8_t*>("upsuser"), &TrapState.user_name, 7);
  usm_set_salt_counter(55105);
  uint32_t before = g_usm_key_localisations;
  Bytes m = encode();
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(encode().empty(), false);
  EXPECT_LE(g_usm_key_localisations - before, 2u);   // made once, then cached

  BerReader all = ber_reader(m.data(), m.size()), msg, global, wrapped, sec;
  ASSERT_TRUE(ber_read_inner(&all, 0x30, &msg, BER_NOT_EMPTY));
  EXPECT_EQ(read_int(&msg), 3);
  ASSERT_TRUE(ber_read_inner(&msg, 0x30, &global, BER_NOT_EMPTY));
  EXPECT_EQ(read_int(&global), 0x2345);
  EXPECT_EQ(read_int(&global), 1024);
  EXPECT_EQ(read_octets(&global), (Bytes{3}));
  EXPECT_EQ(read_int(&global), 3);
  ASSERT_TRUE(ber_read_inner(&msg, 0x04, &wrapped, BER_NOT_EMPTY));
  ASSERT_TRUE(ber_read_inner(&wrapped, 0x30, &sec, BER_NOT_EMPTY));
  EXPECT_EQ(read_octets(&sec), Bytes(kEngine, kEngine + 11));
  EXPECT_EQ(read_int(&sec), 0x0102);
  EXPECT_EQ(read_int(&sec), 77);
  EXPECT_EQ(read_octets(&sec), (Bytes{'u', 'p', 's', 'u', 's', 'e', 'r'}));
  size_t digest_at = size_t(sec.pos - m.data()) + 2;
  Bytes digest = read_octets(&sec);
  Bytes salt = read_octets(&sec);
  EXPECT_EQ(salt, (Bytes{0x02, 0x42, 0x01, 0xD7, 0, 0, 0, 0}));
  Bytes cipher = read_octets(&msg);
  ASSERT_EQ(cipher.size() % 8, 0u);

  uint8_t auth_key[16], priv_key[16];
  Md5Context ctx;
  usm_password_to_key_md5(&ctx, auth_key, reinterpret_cast<const uint8_t*>("authpass1"), 9, kEngine, 11);
  usm_password_to_key_md5(&ctx, priv_key, reinterpret_cast<const uint8_t*>("privpass1"), 9, kEngine, 11);
  Bytes zeroed = m;
  std::fill(zeroed.begin() + long(digest_at), zeroed.begin() + long(digest_at) + 12, 0);
  uint8_t mac[16];
  hmac_md5(&ctx, zeroed.data(), uint16_t(zeroed.size()), auth_key, mac);
  EXPECT_EQ(digest, Bytes(mac, mac + 12));

  uint8_t iv[8];
  for (int i = 0; i < 8; ++i) iv[i] = uint8_t(priv_key[8 + i] ^ salt[size_t(i)]);
  des_cbc_decrypt(cipher.data(), cipher.size(), priv_key, iv);
  BerReader plain = ber_reader(cipher.data(), cipher.size()), scoped;
  ASSERT_TRUE(ber_read_inner(&plain, 0x30, &scoped, BER_NOT_EMPTY));
  EXPECT_EQ(read_octets(&scoped), Bytes(kEngine, kEngine + 11));
  EXPECT_EQ(read_octets(&scoped), (Bytes{'r', 't', '5', '8', '3', '0'}));
  int32_t id = 0;
  Ids trap;
  read_v2_pdu(&scoped, &id, &trap);
  EXPECT_EQ(trap, (Ids{1, 3, 6, 1, 4, 1, 7342, 2, 4, 20, 3, 0}));
}

TEST_F(ForwardTest, SnmpV3ForwardNeedsItsUserAndPassPhrases) {
  TrapState.version = 3;
  ber_copy_octets(reinterpret_cast<const uint8_t*>("nobody"), &TrapState.user_name, 6);
  EXPECT_TRUE(encode().empty());
  ber_copy_octets(reinterpret_cast<const uint8_t*>("upsuser"), &TrapState.user_name, 7);
  g_usm.priv[1][0] = 0;
  EXPECT_TRUE(encode().empty());
}

// A loopback receiver of forwards.
struct Catcher {
  int s;
  uint16_t port;
  Catcher(uint16_t family) {
    s = sock_udp_open(family);
    uint8_t loopback[16] = {};
    if (family == INET_FAMILY_IPV4) loopback[0] = 127, loopback[3] = 1;
    else loopback[15] = 1;
    EXPECT_TRUE(sock_bind(s, family, loopback, 0));
    port = sock_local_port(s);
  }
  ~Catcher() { sock_close(s); }
  Bytes next() {
    uint8_t buffer[2048];
    for (int i = 0; i < 200; ++i) {
      int n = sock_recvfrom(s, buffer, sizeof buffer, nullptr, nullptr);
      if (n > 0) return Bytes(buffer, buffer + n);
      clock_sleep_ms(10);
    }
    return {};
  }
};

// The agent-addr of an SNMPv1 forward.
Bytes agent_addr(const Bytes& m) {
  BerReader all = ber_reader(m.data(), m.size()), msg, pdu;
  if (!ber_read_inner(&all, 0x30, &msg, BER_NOT_EMPTY)) return {};
  read_int(&msg);
  read_octets(&msg);
  if (!ber_read_inner(&msg, 0xA4, &pdu, BER_NOT_EMPTY)) return {};
  read_oid(&pdu);
  return read_octets(&pdu, 0x40);
}

TEST_F(ForwardTest, AgentAddressByPrefixAndTargetsOfBothFamilies) {
  add_local("10.0.0.5", 8);
  add_local("192.168.1.7", 24);
  Catcher v4(INET_FAMILY_IPV4), v6(INET_FAMILY_IPV6);
  g_forward_traps.count = 3;
  text_copy8(g_forward_traps.ip[0], 52, "ups-manager.example");   // a name: skipped
  g_forward_traps.port[0] = v4.port;
  text_copy8(g_forward_traps.ip[1], 52, "127.0.0.1");
  g_forward_traps.port[1] = v4.port;
  text_copy8(g_forward_traps.ip[2], 52, "::1");
  g_forward_traps.port[2] = v6.port;
  TrapReceiverApi.trap_open();

  struct {
    const char* sender;
    Bytes expected;
  } cases[] = {{"192.168.1.20", {192, 168, 1, 7}}, {"172.16.0.1", {10, 0, 0, 5}}, {nullptr, {10, 0, 0, 5}}};
  for (const auto& c : cases) {
    uint8_t from[INET_SOCKADDR_MAX] = {};
    if (c.sender != nullptr) {
      uint8_t address[4];
      net_parse_ipv4(address, c.sender);
      inet_make_sockaddr(from, sizeof from, INET_FAMILY_IPV4, address, 162, 0);
    }
    TrapReceiverApi.trap_forward(c.sender != nullptr ? from : nullptr);
    EXPECT_EQ(agent_addr(v4.next()), c.expected) << (c.sender ? c.sender : "no sender");
    EXPECT_EQ(agent_addr(v6.next()), c.expected);
  }
  TrapReceiverApi.trap_close();
}

TEST_F(ForwardTest, SchedulerKind22SendsTheDevicePagesPowerFailure) {
  add_local("192.0.2.10", 24);
  Catcher v4(INET_FAMILY_IPV4);
  g_forward_traps.count = 1;
  text_copy8(g_forward_traps.ip[0], 52, "127.0.0.1");
  g_forward_traps.port[0] = v4.port;
  TrapReceiverApi.trap_open();
  action_execute(SCHED_KIND_TRAP_FORWARD);   // TrapState as the device page leaves it: 0, 6, 3
  Bytes m = v4.next();
  EXPECT_EQ(agent_addr(m), (Bytes{192, 0, 2, 10}));
  BerReader all = ber_reader(m.data(), m.size()), msg, pdu;
  ASSERT_TRUE(ber_read_inner(&all, 0x30, &msg, BER_NOT_EMPTY));
  read_int(&msg);
  read_octets(&msg);
  ASSERT_TRUE(ber_read_inner(&msg, 0xA4, &pdu, BER_NOT_EMPTY));
  EXPECT_EQ(read_oid(&pdu), (Ids{1, 3, 6, 1, 4, 1, 7342, 2, 4, 20}));
  read_octets(&pdu, 0x40);
  EXPECT_EQ(read_int(&pdu), 6);
  EXPECT_EQ(read_int(&pdu), 3);
  TrapReceiverApi.trap_close();
}

TEST_F(ForwardTest, NothingWithoutTargetsSourceOrAddress) {
  Catcher v4(INET_FAMILY_IPV4);
  g_forward_traps.count = 1;
  text_copy8(g_forward_traps.ip[0], 52, "127.0.0.1");
  g_forward_traps.port[0] = v4.port;
  TrapReceiverApi.trap_open();
  trap_forward(nullptr);   // no local address
  add_local("10.0.0.5", 8);
  TrapState.source_index = -1;
  trap_forward(nullptr);   // no source
  TrapState.source_index = 0;
  g_forward_traps.count = 0;
  trap_forward(nullptr);   // no target
  uint8_t buffer[64];
  clock_sleep_ms(50);
  EXPECT_EQ(sock_recvfrom(v4.s, buffer, sizeof buffer, nullptr, nullptr), -1);
  TrapReceiverApi.trap_close();
}

}  // namespace
