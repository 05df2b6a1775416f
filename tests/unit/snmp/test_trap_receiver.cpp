// Trap receiver: acceptance rules of the decoder over messages built by a small encoder and over
// datagrams captured from net-snmp's snmptrap, the SNMPv3 key cache, malformed input, and the
// poll over real loopback sockets (open log line, every queued datagram and every accepted
// message processed in order, ten messages, junk floods).
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "common/cipher.h"
#include "common/digest.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/inet.h"
#include "platform/service_manager.h"
#include "platform/socket.h"
#include "service/core/listener_status.h"
#include "service/core/net_address.h"
#include "service/events/event_defs.h"
#include "service/snmp/trap_receiver.h"
#include "service/snmp/trap_state.h"
#include "support/ber_build.h"
#include "support/captured_traps.h"
#include "support/temp_dir.h"

namespace {



const Ids kMaker = {1, 3, 6, 1, 4, 1, 7342, 2};
const Ids kColdStart = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
const Ids kWarmStart = {1, 3, 6, 1, 6, 3, 1, 1, 5, 2};
const Ids kTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const Ids kUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const Ids kKestraTrap = {1, 3, 6, 1, 4, 1, 20246, 2, 3, 1, 1, 1, 3, 1, 0};
const Ids kKestraState = {1, 3, 6, 1, 4, 1, 20246, 2, 3, 1, 1, 1, 2, 2, 15, 0};
const Ids kKestraText = {1, 3, 6, 1, 4, 1, 20246, 2, 3, 1, 1, 1, 2, 2, 16, 0};

Bytes ip4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return tlv(0x40, {a, b, c, d}); }

Bytes v1_trap(const std::string& community, const Ids& enterprise, const Bytes& agent, int generic,
              int specific, int version = 0) {
  return seq({integer(version), octets(community),
              tlv(0xA4, cat({oid(enterprise), agent, integer(generic), integer(specific),
                             integer(1234, 0x43), seq({})}))});
}

Bytes varbind(const Ids& name, const Bytes& value) { return seq({oid(name), value}); }
Bytes uptime() { return varbind(kUpTime, integer(5678, 0x43)); }
Bytes trap_oid(const Ids& value) { return varbind(kTrapOid, oid(value)); }

Bytes v2_pdu(const std::vector<Bytes>& bindings, uint8_t tag = 0xA7) {
  return tlv(tag, cat({integer(77), integer(0), integer(0), seq_of(bindings)}));
}

Bytes v2c_trap(const std::string& community, const std::vector<Bytes>& bindings, int version = 1,
               uint8_t tag = 0xA7) {
  return seq({integer(version), octets(community), v2_pdu(bindings, tag)});
}

Bytes kestra(int32_t state, const std::string& text) {
  return v2c_trap("public", {uptime(), trap_oid(kKestraTrap), varbind(kKestraState, integer(state)),
                             varbind(kKestraText, octets(text))});
}

// An SNMPv3 message, authenticated and encrypted as the fields say.
struct V3 {
  std::string user = "upsuser";
  Bytes engine = {0x80, 0x00, 0x1F, 0x88, 0x80, 0x11, 0x22, 0x33, 0x44, 0x55};
  uint8_t flags = 3;
  std::string auth = "authpass1";
  std::string priv = "privpass1";
  Bytes salt = {0, 0, 0, 1, 0, 0, 0, 9};
  Bytes pdu = v2_pdu({uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  int32_t msg_id = 0x12345;
  bool empty_auth_params = false;   // auth flag set but no parameters sent
  bool bad_digest = false;
  size_t cipher_extra = 0;          // bytes added to the ciphertext
  int32_t boots = 3;                // the sender engine's boots and time
  int32_t time = 4444;
};

Bytes localized(const std::string& pass, const Bytes& engine) {
  uint8_t key[16] = {};
  Md5Context ctx;
  usm_password_to_key_md5(&ctx, key, reinterpret_cast<const uint8_t*>(pass.data()), uint8_t(pass.size()),
                          engine.data(), uint16_t(engine.size()));
  return Bytes(key, key + 16);
}

Bytes build_v3(const V3& v) {
  Bytes scoped = seq({octets(v.engine), octets(std::string()), v.pdu});
  Bytes data = scoped;
  if (v.flags & 2) {
    Bytes key = localized(v.priv, v.engine);
    uint8_t iv[8];
    for (int i = 0; i < 8; ++i) iv[i] = uint8_t(key[8 + i] ^ v.salt[i]);
    Bytes plain = scoped;
    while (plain.size() % 8) plain.push_back(0);
    des_cbc_encrypt(plain.data(), plain.size(), key.data(), iv);
    for (size_t i = 0; i < v.cipher_extra; ++i) plain.push_back(0x5A);
    data = octets(plain);
  }
  bool auth = (v.flags & 1) && !v.empty_auth_params;
  Bytes security = seq({octets(v.engine), integer(v.boots), integer(v.time), octets(v.user),
                        octets(auth ? Bytes(12, 0) : Bytes{}), octets((v.flags & 2) ? v.salt : Bytes{})});
  Bytes msg = seq({integer(3), seq({integer(v.msg_id), integer(1500), octets(Bytes{v.flags}), integer(3)}),
                   octets(security), data});
  if (auth) {
    const uint8_t marker[14] = {0x04, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    auto at = std::search(msg.begin(), msg.end(), marker, marker + 14);
    EXPECT_NE(at, msg.end());
    Bytes key = localized(v.auth, v.engine);
    Md5Context ctx;
    uint8_t digest[16];
    hmac_md5(&ctx, msg.data(), uint16_t(msg.size()), key.data(), digest);
    if (v.bad_digest) digest[5] ^= 0x01;
    std::copy(digest, digest + 12, at + 2);
  }
  return msg;
}

// ---- Settings and decoding ----

// Sources: 0 127.0.0.1 "public"; 1 10.1.2.3 any community, USM user "upsuser"; 2 ::1 "public";
// 3 10.9.9.9 "x". Users: upsuser (auth+priv), authonly (auth), plain (none), nopass (auth+priv
// configured, both pass phrases empty), lowauth (none, auth pass phrase set).
void configure() {
  cfg_set_defaults();
  SourceIpList& s = g_source_ips;
  s.count = 4;
  const char* ips[] = {"127.0.0.1", "10.1.2.3", "::1", "10.9.9.9"};
  const char* communities[] = {"public", "", "public", "x"};
  const char* users[] = {"", "upsuser", "", ""};
  for (int i = 0; i < 4; ++i) {
    text_copy8(s.ip[i], sizeof s.ip[i], ips[i]);
    text_copy8(s.community[i], sizeof s.community[i], communities[i]);
    text_copy8(s.usm_user[i], sizeof s.usm_user[i], users[i]);
  }
  UsmSettings& u = g_usm;
  u.count = 5;
  const char* names[] = {"upsuser", "authonly", "plain", "nopass", "lowauth"};
  const uint8_t levels[] = {2, 1, 0, 2, 0};
  const char* auth[] = {"authpass1", "authpass2", "", "", "authpass5"};
  const char* priv[] = {"privpass1", "", "", "", ""};
  for (int i = 0; i < 5; ++i) {
    text_copy8(u.user[i], sizeof u.user[i], names[i]);
    u.security[i] = levels[i];
    text_copy8(u.auth[i], sizeof u.auth[i], auth[i]);
    text_copy8(u.priv[i], sizeof u.priv[i], priv[i]);
  }
  g_settings.kestra_enable = 1;
  text_copy8(g_settings.kestra_power_fail, 33, "S Mainsfailure");
  text_copy8(g_settings.kestra_battery_low, 33, "S Ua Low");
}

// A TrapState no test message produces, to see that a rejected trap leaves it alone.
void mark_state() {
  TrapState.version = 99;
  TrapState.source_index = 31;
  TrapState.trap_group = 9;
  TrapState.generic_trap = 9;
  TrapState.specific_trap = 999;
  g_trap_enterprise_tail[0] = 77;
  g_trap_enterprise_tail[1] = 88;
}

bool parse_address(const char* text, uint8_t out[16], uint32_t* length) {
  if (net_parse_ipv6(out, text)) {
    *length = 16;
    return true;
  }
  *length = 4;
  return net_parse_ipv4(out, text) == 1;
}

// Decodes msg as a message from sender; *consumed (when given) gets the consumed size.
int decode_from(const char* sender, Bytes msg, uint32_t* consumed = nullptr) {
  uint8_t address[16];
  uint32_t length = 0;
  EXPECT_TRUE(parse_address(sender, address, &length)) << sender;
  trap_match_source(address, length);
  uint32_t used = 0;
  int result = trap_decode(msg.data(), uint32_t(msg.size()), &used);
  if (consumed) *consumed = used;
  return result;
}

class TrapReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    configure();
    trap_init();
    mark_state();
  }
};

struct Expect {
  int32_t version, source, group, generic, specific;
};

struct Case {
  const char* what;
  const char* sender;
  Bytes message;
  bool accepted;
  Expect expect;   // when accepted
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mark_state();
    int result = decode_from(c.sender, c.message);
    EXPECT_EQ(result, c.accepted ? 1 : 0);
    if (c.accepted) {
      EXPECT_EQ(TrapState.version, c.expect.version);
      EXPECT_EQ(TrapState.source_index, c.expect.source);
      EXPECT_EQ(TrapState.trap_group, c.expect.group);
      EXPECT_EQ(TrapState.generic_trap, c.expect.generic);
      EXPECT_EQ(TrapState.specific_trap, c.expect.specific);
    } else {
      EXPECT_EQ(TrapState.version, 99);
      EXPECT_EQ(TrapState.source_index, 31);
      EXPECT_EQ(TrapState.specific_trap, 999);
      EXPECT_EQ(g_trap_enterprise_tail[0], 77u);
    }
  }
}

const Expect kAny = {0, 0, 0, 0, 0};

TEST_F(TrapReceiverTest, SnmpV1Rules) {
  Bytes local = ip4(127, 0, 0, 1);
  run_cases({
      {"listed agent-addr, unlisted host", "10.7.7.7", v1_trap("public", kMaker + Ids{4, 20}, local, 6, 3), true,
       {0, 0, 0, 6, 3}},
      {"listed host, unlisted agent-addr", "127.0.0.1", v1_trap("public", kMaker + Ids{4, 20}, ip4(10, 7, 7, 7), 6, 3),
       false, kAny},
      {"enterprise .5.1 is MIBv5", "127.0.0.1", v1_trap("public", kMaker + Ids{5, 1}, local, 6, 12), true,
       {0, 0, 1, 6, 12}},
      {"enterprise .500.x is Sensor", "127.0.0.1", v1_trap("public", kMaker + Ids{500, 3}, local, 6, 2), true,
       {0, 0, 2, 6, 2}},
      {"enterprise .4.20 is MIBv4", "127.0.0.1", v1_trap("public", kMaker + Ids{4, 20}, local, 6, 7), true,
       {0, 0, 0, 6, 7}},
      {"longer enterprise", "127.0.0.1", v1_trap("public", kMaker + Ids{4, 20, 1, 2}, local, 6, 7), true,
       {0, 0, 0, 6, 7}},
      {"generic cold start", "127.0.0.1", v1_trap("public", kMaker + Ids{4, 20}, local, 0, 0), true,
       {0, 0, 0, 0, 0}},
      {"specific kept as low 16 bits", "127.0.0.1", v1_trap("public", kMaker + Ids{4, 20}, local, 6, 0x10005), true,
       {0, 0, 0, 6, 5}},
      {"enterprise 1.3.6.1.4.1.7342", "127.0.0.1", v1_trap("public", {1, 3, 6, 1, 4, 1, 7342}, local, 6, 3), false,
       kAny},
      {"enterprise without a tail", "127.0.0.1", v1_trap("public", kMaker, local, 6, 3), false, kAny},
      {"enterprise with one tail id", "127.0.0.1", v1_trap("public", kMaker + Ids{4}, local, 6, 3), false, kAny},
      {"another enterprise", "127.0.0.1", v1_trap("public", {1, 3, 6, 1, 4, 1, 9999, 2, 4, 20}, local, 6, 3), false,
       kAny},
      {"agent-addr of source 3", "127.0.0.1", v1_trap("x", kMaker + Ids{4, 20}, ip4(10, 9, 9, 9), 6, 3), true,
       {0, 3, 0, 6, 3}},
      {"community of the sender, not of the agent-addr", "127.0.0.1",
       v1_trap("public", kMaker + Ids{4, 20}, ip4(10, 9, 9, 9), 6, 3), false, kAny},
      {"agent-addr of 5 bytes", "127.0.0.1", v1_trap("public", kMaker + Ids{4, 20}, tlv(0x40, {127, 0, 0, 1, 0}), 6, 3),
       false, kAny},
  });
}

TEST_F(TrapReceiverTest, EnterpriseTailOfAcceptedTrapOnly) {
  ASSERT_EQ(decode_from("127.0.0.1", v1_trap("public", kMaker + Ids{5, 1}, ip4(127, 0, 0, 1), 6, 3)), 1);
  EXPECT_EQ(g_trap_enterprise_tail[0], 5u);
  EXPECT_EQ(g_trap_enterprise_tail[1], 1u);
  EXPECT_EQ(decode_from("127.0.0.1", v1_trap("wrong", kMaker + Ids{500, 7}, ip4(127, 0, 0, 1), 6, 3)), 0);
  EXPECT_EQ(g_trap_enterprise_tail[0], 5u);
  EXPECT_EQ(g_trap_enterprise_tail[1], 1u);
  ASSERT_EQ(decode_from("127.0.0.1", v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{500, 2, 4, 0})})), 1);
  EXPECT_EQ(g_trap_enterprise_tail[0], 500u);
  EXPECT_EQ(g_trap_enterprise_tail[1], 2u);
}

TEST_F(TrapReceiverTest, Communities) {
  Ids ent = kMaker + Ids{4, 20};
  run_cases({
      {"v1 empty community", "127.0.0.1", v1_trap("", ent, ip4(127, 0, 0, 1), 6, 3), false, kAny},
      {"v1 empty community, source takes any", "10.1.2.3", v1_trap("", ent, ip4(10, 1, 2, 3), 6, 3), false, kAny},
      {"v1 any community for an empty configured one", "10.1.2.3", v1_trap("whatever", ent, ip4(10, 1, 2, 3), 6, 3),
       true, {0, 1, 0, 6, 3}},
      {"v1 letter case differs", "127.0.0.1", v1_trap("Public", ent, ip4(127, 0, 0, 1), 6, 3), false, kAny},
      {"v1 longer community", "127.0.0.1", v1_trap("public2", ent, ip4(127, 0, 0, 1), 6, 3), false, kAny},
      {"v1 prefix of the community", "127.0.0.1", v1_trap("publi", ent, ip4(127, 0, 0, 1), 6, 3), false, kAny},
      {"v1 community over 32 bytes", "10.1.2.3", v1_trap(std::string(40, 'c'), ent, ip4(10, 1, 2, 3), 6, 3), true,
       {0, 1, 0, 6, 3}},
      {"v2c empty community", "10.1.2.3", v2c_trap("", {uptime(), trap_oid(ent + Ids{3, 0})}), false, kAny},
      {"v2c any community", "10.1.2.3", v2c_trap("abc", {uptime(), trap_oid(ent + Ids{3, 0})}), true, {1, 1, 0, 6, 3}},
      {"v2c letter case differs", "127.0.0.1", v2c_trap("PUBLIC", {uptime(), trap_oid(ent + Ids{3, 0})}), false, kAny},
      {"v2c community checked against the sender", "10.9.9.9",
       v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}), false, kAny},
  });
}

TEST_F(TrapReceiverTest, SnmpV2cRules) {
  Ids ent = kMaker + Ids{4, 20};
  run_cases({
      {"maker trap OID", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}), true,
       {1, 0, 0, 6, 3}},
      {"maker trap OID, MIBv5", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{5, 1, 20, 0})}),
       true, {1, 0, 1, 6, 20}},
      {"maker trap OID of 11 ids", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{4})}), true,
       {1, 0, 0, 6, 4}},
      {"maker trap OID of 10 ids", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent)}), false, kAny},
      {"maker trap OID of 9 ids", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4})}), false, kAny},
      {"cold start", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(kColdStart)}), true, {1, 0, 9, 0, 999}},
      {"warm start", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(kWarmStart)}), true, {1, 0, 9, 1, 999}},
      {"over IPv6", "::1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}), true, {1, 2, 0, 6, 3}},
      {"unlisted sender", "10.7.7.7", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}), false, kAny},
      {"other trap OID", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid({1, 3, 6, 1, 4, 1, 9, 1})}), false, kAny},
      {"trap OID not an OID", "127.0.0.1", v2c_trap("public", {uptime(), varbind(kTrapOid, integer(5))}), false, kAny},
      {"no trap OID", "127.0.0.1", v2c_trap("public", {uptime()}), false, kAny},
      {"no bindings", "127.0.0.1", v2c_trap("public", {}), false, kAny},
      {"NULL value before the trap OID", "127.0.0.1",
       v2c_trap("public", {varbind({1, 3, 6, 1, 2, 1, 1, 5, 0}, tlv(0x05, {})), trap_oid(ent + Ids{3, 0})}), false, kAny},
      {"Counter32 value before the trap OID", "127.0.0.1",
       v2c_trap("public", {varbind({1, 3, 6, 1, 2, 1, 1, 5, 0}, integer(5, 0x41)), trap_oid(ent + Ids{3, 0})}), false,
       kAny},
      {"Gauge32 and text before the trap OID", "127.0.0.1",
       v2c_trap("public", {varbind({1, 3, 1}, integer(5, 0x42)), varbind({1, 3, 2}, octets("t")),
                           trap_oid(ent + Ids{3, 0})}),
       true, {1, 0, 0, 6, 3}},
      {"bindings after the classifying one are not read", "127.0.0.1",
       v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0}), varbind({1, 3, 1}, tlv(0x05, {}))}), true,
       {1, 0, 0, 6, 3}},
      {"inform", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}, 1, 0xA6), false, kAny},
      {"version 2", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}, 2, 0xA6), false, kAny},
      {"version 2 with a trap PDU", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}, 2), false,
       kAny},
      {"version 4", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}, 4), false, kAny},
      {"version -1", "127.0.0.1", v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}, -1), false, kAny},
      {"v1 PDU in a v2c message", "127.0.0.1", v1_trap("public", ent, ip4(127, 0, 0, 1), 6, 3, 1), false, kAny},
  });
}

TEST_F(TrapReceiverTest, KestraTraps) {
  run_cases({
      {"power fail set, other letter case", "127.0.0.1", kestra(3, "s MAINSfailure"), true, {1, 0, 0, 6, 3}},
      {"power fail cleared", "127.0.0.1", kestra(1, "S Mainsfailure"), true, {1, 0, 0, 6, 4}},
      {"battery low set", "127.0.0.1", kestra(3, "S Ua Low"), true, {1, 0, 0, 6, 5}},
      {"battery low cleared", "127.0.0.1", kestra(1, "s ua low"), true, {1, 0, 0, 6, 6}},
      {"state 2", "127.0.0.1", kestra(2, "S Mainsfailure"), false, kAny},
      {"text longer", "127.0.0.1", kestra(3, "S Mainsfailure!"), false, kAny},
      {"state as text", "127.0.0.1",
       v2c_trap("public", {uptime(), trap_oid(kKestraTrap), varbind(kKestraState, octets("3")),
                           varbind(kKestraText, octets("S Mainsfailure"))}),
       false, kAny},
      {"state as Gauge32", "127.0.0.1",
       v2c_trap("public", {uptime(), trap_oid(kKestraTrap), varbind(kKestraState, integer(3, 0x42)),
                           varbind(kKestraText, octets("S Mainsfailure"))}),
       true, {1, 0, 0, 6, 3}},
      {"text before the state", "127.0.0.1",
       v2c_trap("public", {uptime(), trap_oid(kKestraTrap), varbind(kKestraText, octets("S Mainsfailure")),
                           varbind(kKestraState, integer(3))}),
       false, kAny},
  });
  mark_state();
  g_settings.kestra_enable = 0;
  EXPECT_EQ(decode_from("127.0.0.1", kestra(3, "S Mainsfailure")), 0);
  EXPECT_EQ(TrapState.version, 99);
}

TEST_F(TrapReceiverTest, SnmpV3Rules) {
  V3 good;
  V3 auth_only;
  auth_only.flags = 1;
  V3 unknown = good;
  unknown.user = "stranger";
  V3 other_user = good;
  other_user.user = "authonly";
  other_user.auth = "authpass2";
  other_user.flags = 1;
  V3 empty_params = good;
  empty_params.empty_auth_params = true;
  V3 wrong_digest = good;
  wrong_digest.bad_digest = true;
  V3 wrong_auth_pass = good;
  wrong_auth_pass.auth = "authpassX";
  V3 wrong_priv_pass = good;
  wrong_priv_pass.priv = "privpassX";
  V3 odd_cipher = good;
  odd_cipher.cipher_extra = 3;
  V3 noauth = good;
  noauth.flags = 0;
  V3 priv_without_auth = good;
  priv_without_auth.flags = 2;
  V3 authonly_user = auth_only;
  authonly_user.user = "authonly";
  authonly_user.auth = "authpass2";
  V3 authonly_noauth = authonly_user;
  authonly_noauth.flags = 0;
  V3 plain_user = noauth;
  plain_user.user = "plain";
  V3 plain_claims_auth = plain_user;
  plain_claims_auth.flags = 1;
  plain_claims_auth.auth = "whatever1";
  V3 nopass_user = good;
  nopass_user.user = "nopass";
  V3 lowauth = auth_only;
  lowauth.user = "lowauth";
  lowauth.auth = "authpass5";
  V3 long_engine = good;
  long_engine.engine = Bytes(24, 0x42);
  V3 too_long_engine = good;
  too_long_engine.engine = Bytes(33, 0x42);
  V3 cold = good;
  cold.pdu = v2_pdu({uptime(), trap_oid(kColdStart)});
  V3 v1_pdu = good;
  v1_pdu.pdu = tlv(0xA4, cat({oid(kMaker + Ids{4, 20}), ip4(10, 1, 2, 3), integer(6), integer(3), integer(1, 0x43),
                              seq({})}));

  run_cases({
      {"authPriv", "10.1.2.3", build_v3(good), true, {3, 1, 0, 6, 3}},
      {"authNoPriv for a privacy user", "10.1.2.3", build_v3(auth_only), false, kAny},
      {"user not listed", "127.0.0.1", build_v3(unknown), false, kAny},
      {"not the source's USM user", "10.1.2.3", build_v3(other_user), false, kAny},
      {"other user for a source without USM user", "127.0.0.1", build_v3(authonly_user), true, {3, 0, 0, 6, 3}},
      {"auth flag with empty parameters", "10.1.2.3", build_v3(empty_params), false, kAny},
      {"wrong digest", "10.1.2.3", build_v3(wrong_digest), false, kAny},
      {"wrong auth pass phrase", "10.1.2.3", build_v3(wrong_auth_pass), false, kAny},
      {"wrong privacy pass phrase", "10.1.2.3", build_v3(wrong_priv_pass), false, kAny},
      {"encrypted length not a multiple of 8", "10.1.2.3", build_v3(odd_cipher), false, kAny},
      {"noAuth for a privacy user", "10.1.2.3", build_v3(noauth), false, kAny},
      {"noAuth for an auth user", "127.0.0.1", build_v3(authonly_noauth), false, kAny},
      {"privacy without auth", "10.1.2.3", build_v3(priv_without_auth), false, kAny},
      {"noAuth for a user without security", "127.0.0.1", build_v3(plain_user), true, {3, 0, 0, 6, 3}},
      {"auth claimed with an empty pass phrase", "127.0.0.1", build_v3(plain_claims_auth), false, kAny},
      {"auth and privacy claimed with empty pass phrases", "127.0.0.1", build_v3(nopass_user), false, kAny},
      {"auth above the configured level", "127.0.0.1", build_v3(lowauth), true, {3, 0, 0, 6, 3}},
      {"engine id of 24 bytes", "10.1.2.3", build_v3(long_engine), true, {3, 1, 0, 6, 3}},
      {"engine id of 33 bytes", "10.1.2.3", build_v3(too_long_engine), false, kAny},
      {"cold start", "10.1.2.3", build_v3(cold), true, {3, 1, 9, 0, 999}},
      {"Trap-PDU inside SNMPv3", "10.1.2.3", build_v3(v1_pdu), false, kAny},
      {"unlisted sender", "10.7.7.7", build_v3(good), false, kAny},
  });
}

TEST_F(TrapReceiverTest, SnmpV3FieldsKept) {
  V3 v;
  v.engine = Bytes(20, 0x61);
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(v)), 1);
  EXPECT_EQ(TrapState.msg_id, 0x2345);
  EXPECT_EQ(TrapState.security_model, 3);
  ASSERT_EQ(TrapState.msg_flags.length, 1);
  EXPECT_EQ(TrapState.msg_flags.data[0], 3);
  EXPECT_EQ(TrapState.engine_id.length, 16);   // the first 16 bytes are kept
  EXPECT_EQ(Bytes(TrapState.engine_id.data, TrapState.engine_id.data + 16), Bytes(16, 0x61));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(TrapState.user_name.data), TrapState.user_name.length), "upsuser");
  EXPECT_EQ(TrapState.auth_params.length, 12);
  EXPECT_EQ(Bytes(TrapState.priv_params.data, TrapState.priv_params.data + TrapState.priv_params.length), v.salt);
}

TEST_F(TrapReceiverTest, KeysAreCachedPerUserAndEngine) {
  V3 v;
  v.engine = {0x80, 0x00, 0x1F, 0x88, 0x80, 0xCA, 0xCE, 0x01};
  uint32_t before = g_trap_key_localisations;
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(v)), 1);
  EXPECT_EQ(g_trap_key_localisations - before, 2u);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(decode_from("10.1.2.3", build_v3(v)), 1);
  EXPECT_EQ(g_trap_key_localisations - before, 2u);

  // A forged digest is refused from the cached key too.
  V3 forged = v;
  forged.bad_digest = true;
  EXPECT_EQ(decode_from("10.1.2.3", build_v3(forged)), 0);

  // Another engine has keys of its own.
  V3 other = v;
  other.engine.back() = 0x02;
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(other)), 1);
  EXPECT_EQ(g_trap_key_localisations - before, 4u);

  // A changed pass phrase drops the old key: the old digest fails, the new one holds.
  text_copy8(g_usm.auth[0], 17, "newauthpass");
  EXPECT_EQ(decode_from("10.1.2.3", build_v3(v)), 0);
  V3 renewed = v;
  renewed.auth = "newauthpass";
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(renewed)), 1);
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(renewed)), 1);
  // One auth localisation for the refused trap, none more for the two accepted ones.
  EXPECT_EQ(g_trap_key_localisations - before, 5u);
}

TEST_F(TrapReceiverTest, KeyCacheReplacesRoundRobin) {
  V3 v;
  v.engine = {0x80, 0x00, 0x1F, 0x88, 0x80, 0xEE, 0x00, 0x00};
  uint32_t before = g_trap_key_localisations;
  for (uint32_t i = 0; i <= TRAP_KEY_CACHE_SIZE; ++i) {
    v.engine.back() = uint8_t(i);
    ASSERT_EQ(decode_from("10.1.2.3", build_v3(v)), 1) << i;
  }
  EXPECT_EQ(g_trap_key_localisations - before, 2u * (TRAP_KEY_CACHE_SIZE + 1));
  // The newest engines are still there; the one replaced first is made again.
  v.engine.back() = uint8_t(TRAP_KEY_CACHE_SIZE);
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(v)), 1);
  EXPECT_EQ(g_trap_key_localisations - before, 2u * (TRAP_KEY_CACHE_SIZE + 1));
  v.engine.back() = 0;
  ASSERT_EQ(decode_from("10.1.2.3", build_v3(v)), 1);
  EXPECT_EQ(g_trap_key_localisations - before, 2u * (TRAP_KEY_CACHE_SIZE + 2));
}

TEST_F(TrapReceiverTest, CapturedFromSnmptrap) {
  // The captures' own sender was 127.0.0.1; source 1 names the captured v3 user.
  text_copy8(g_source_ips.ip[1], 52, "127.0.0.1");
  text_copy8(g_source_ips.ip[0], 52, "127.0.0.9");
  text_copy8(g_source_ips.community[1], 17, "public");
  auto bytes = [](const uint8_t* p, size_t n) { return Bytes(p, p + n); };
  run_cases({
      {"v1 enterprise 4.20 specific 3", "127.0.0.1", bytes(kCaptured_v1_enterprise, sizeof kCaptured_v1_enterprise),
       true, {0, 1, 0, 6, 3}},
      {"v2c 4.20.3.0", "127.0.0.1", bytes(kCaptured_v2c_enterprise, sizeof kCaptured_v2c_enterprise), true,
       {1, 1, 0, 6, 3}},
      {"v2c cold start", "127.0.0.1", bytes(kCaptured_v2c_coldstart, sizeof kCaptured_v2c_coldstart), true,
       {1, 1, 9, 0, 999}},
      {"v2c Kestra power fail", "127.0.0.1", bytes(kCaptured_v2c_kestra, sizeof kCaptured_v2c_kestra), true,
       {1, 1, 0, 6, 3}},
      {"v2c inform", "127.0.0.1", bytes(kCaptured_v2c_inform, sizeof kCaptured_v2c_inform), false, kAny},
      {"v3 authNoPriv for a privacy user", "127.0.0.1",
       bytes(kCaptured_v3_authnopriv, sizeof kCaptured_v3_authnopriv), false, kAny},
      {"v3 authPriv 4.20.3.0", "127.0.0.1", bytes(kCaptured_v3_authpriv, sizeof kCaptured_v3_authpriv), true,
       {3, 1, 0, 6, 3}},
      {"v3 noAuthNoPriv", "127.0.0.1", bytes(kCaptured_v3_noauth, sizeof kCaptured_v3_noauth), false, kAny},
  });
  // The same user configured for authentication only takes the authNoPriv trap (MIBv5 7).
  g_usm.security[0] = 1;
  run_cases({{"v3 authNoPriv", "127.0.0.1", bytes(kCaptured_v3_authnopriv, sizeof kCaptured_v3_authnopriv), true,
              {3, 1, 1, 6, 7}}});
}

TEST_F(TrapReceiverTest, ConsumedIsTheOuterSequence) {
  Bytes one = v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  uint32_t consumed = 0;
  EXPECT_EQ(decode_from("127.0.0.1", cat({one, Bytes{0xFF, 0xFF, 0xFF}}), &consumed), 1);
  EXPECT_EQ(consumed, one.size());
  Bytes bad = v2c_trap("nope", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  EXPECT_EQ(decode_from("127.0.0.1", cat({bad, one}), &consumed), 0);
  EXPECT_EQ(consumed, bad.size());
  // An outer SEQUENCE that cannot be read consumes nothing.
  EXPECT_EQ(decode_from("127.0.0.1", Bytes{0x30, 0x82, 0x01}, &consumed), 0);
  EXPECT_EQ(consumed, 0u);
}

TEST_F(TrapReceiverTest, MalformedMessagesAreDropped) {
  Bytes good_v1 = v1_trap("public", kMaker + Ids{4, 20}, ip4(127, 0, 0, 1), 6, 3);
  Bytes good_v2 = v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  V3 base;
  Bytes good_v3 = build_v3(base);
  V3 auth_v3;
  auth_v3.user = "authonly";
  auth_v3.auth = "authpass2";
  auth_v3.flags = 1;
  Bytes good_v3_auth = build_v3(auth_v3);
  struct Good {
    const char* what;
    const char* sender;
    Bytes message;
  } goods[] = {{"v1", "127.0.0.1", good_v1},
               {"v2c", "127.0.0.1", good_v2},
               {"v3 authPriv", "10.1.2.3", good_v3},
               {"v3 auth", "127.0.0.1", good_v3_auth}};
  for (const Good& g : goods) {
    SCOPED_TRACE(g.what);
    ASSERT_EQ(decode_from(g.sender, g.message), 1);
    // Every cut of the datagram is refused, read exactly to its end (the sanitizer build
    // sees a read past the heap copy).
    for (size_t n = 0; n < g.message.size(); ++n) {
      mark_state();
      Bytes cut(g.message.begin(), g.message.begin() + long(n));
      EXPECT_EQ(decode_from(g.sender, cut), 0) << n;
      EXPECT_EQ(TrapState.version, 99);
    }
    // Every single byte changed to a few telling values: never a crash, never a read past the end.
    for (size_t i = 0; i < g.message.size(); ++i) {
      for (uint8_t v : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0x80), uint8_t(0x84), uint8_t(0x85), uint8_t(0xFF)}) {
        Bytes changed = g.message;
        changed[i] = v;
        uint32_t consumed = 0;
        decode_from(g.sender, changed, &consumed);
        EXPECT_LE(consumed, changed.size());
      }
    }
    // The receiver still takes the good message.
    EXPECT_EQ(decode_from(g.sender, g.message), 1);
  }
  run_cases({
      {"empty datagram", "127.0.0.1", Bytes{}, false, kAny},
      {"zero-length outer sequence", "127.0.0.1", Bytes{0x30, 0x00}, false, kAny},
      {"indefinite length", "127.0.0.1", cat({Bytes{0x30, 0x80}, Bytes(good_v2.begin() + 2, good_v2.end()),
                                                 Bytes{0, 0}}), false, kAny},
      {"length octets of 5", "127.0.0.1", Bytes{0x30, 0x85, 0, 0, 0, 0, 0x10, 0x02, 0x01, 0x01}, false, kAny},
      {"outer length past the datagram", "127.0.0.1", cat({Bytes{0x30, uint8_t(good_v2[1] + 1)},
                                                           Bytes(good_v2.begin() + 2, good_v2.end())}), false, kAny},
      {"zero-length version", "127.0.0.1", seq({tlv(0x02, {}), octets("public"), v2_pdu({uptime()})}), false, kAny},
      {"five-byte version", "127.0.0.1", seq({tlv(0x02, {0, 0, 0, 0, 1}), octets("public"),
                                              v2_pdu({uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})})}), false, kAny},
      {"zero-length PDU", "127.0.0.1", seq({integer(1), octets("public"), tlv(0xA7, {})}), false, kAny},
      {"PDU reaching past the message", "127.0.0.1",
       seq({integer(1), octets("public"), Bytes{0xA7, 0x7F, 0x02, 0x01, 0x01}}), false, kAny},
      {"zero-length binding name", "127.0.0.1",
       v2c_trap("public", {seq({tlv(0x06, {}), integer(1)}), trap_oid(kMaker + Ids{4, 20, 3, 0})}), false, kAny},
      {"zero-length text value", "127.0.0.1",
       v2c_trap("public", {varbind({1, 3, 1}, octets(std::string())), trap_oid(kMaker + Ids{4, 20, 3, 0})}), false,
       kAny},
      {"binding reaching past its list", "127.0.0.1",
       seq({integer(1), octets("public"),
            tlv(0xA7, cat({integer(1), integer(0), integer(0), tlv(0x30, Bytes{0x30, 0x20, 0x06, 0x01, 0x2B})}))}),
       false, kAny},
      {"OID of 129 sub-identifiers", "127.0.0.1",
       v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3} + Ids(118, 1))}), false, kAny},
      {"OID of 128 sub-identifiers", "127.0.0.1",
       v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3} + Ids(117, 1))}), true, {1, 0, 0, 6, 3}},
  });
}

TEST_F(TrapReceiverTest, SnmpV3HeaderLengthsChecked) {
  V3 base;
  Bytes pdu = base.pdu;
  Bytes scoped = seq({octets(base.engine), octets(std::string()), pdu});
  auto message = [&](const Bytes& global, const Bytes& security) {
    return seq({integer(3), global, octets(security), scoped});
  };
  Bytes global = seq({integer(1), integer(1500), octets(Bytes{0}), integer(3)});
  auto params = [&](const Bytes& auth, const Bytes& priv) {
    return seq({octets(base.engine), integer(1), integer(1), octets(std::string("plain")), octets(auth), octets(priv)});
  };
  mark_state();
  ASSERT_EQ(decode_from("127.0.0.1", message(global, params({}, {}))), 1);
  run_cases({
      {"flags of 2 bytes", "127.0.0.1",
       message(seq({integer(1), integer(1500), octets(Bytes{0, 0}), integer(3)}), params({}, {})), false, kAny},
      {"flags empty", "127.0.0.1",
       message(seq({integer(1), integer(1500), octets(Bytes{}), integer(3)}), params({}, {})), false, kAny},
      {"auth parameters of 11 bytes", "127.0.0.1", message(global, params(Bytes(11, 0), {})), false, kAny},
      {"auth parameters of 13 bytes", "127.0.0.1", message(global, params(Bytes(13, 0), {})), false, kAny},
      {"privacy parameters of 7 bytes", "127.0.0.1", message(global, params({}, Bytes(7, 0))), false, kAny},
      {"security parameters not a sequence", "127.0.0.1",
       seq({integer(3), global, octets(std::string("abc")), scoped}), false, kAny},
      {"security parameters empty", "127.0.0.1", seq({integer(3), global, octets(Bytes{}), scoped}), false, kAny},
      {"security sequence reaching past its string", "127.0.0.1",
       seq({integer(3), global, octets(Bytes{0x30, 0x40, 0x04, 0x00}), scoped}), false, kAny},
      {"no scoped PDU", "127.0.0.1", seq({integer(3), global, octets(params({}, {}))}), false, kAny},
  });
}

// ---- Poll over loopback sockets ----

std::vector<std::u16string> g_logged;
void capture_log(const char16_t*, uint32_t, const char16_t* text, ...) { g_logged.push_back(text); }

int g_forwards;
uint8_t g_forward_sender[28];
// Source and specific number of every trap handed to the alarm engine, in order.
std::vector<std::pair<int32_t, int32_t>> g_processed;
void record_process() { g_processed.push_back({TrapState.source_index, TrapState.specific_trap}); }

void count_forward(const uint8_t* sender) {
  ++g_forwards;
  if (sender) std::memcpy(g_forward_sender, sender, 28);
}

uint16_t free_port() {
  int s = sock_udp_open(INET_FAMILY_IPV4);
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_TRUE(sock_bind(s, INET_FAMILY_IPV4, nullptr, 0));
  uint16_t port = sock_local_port(s);
  sock_close(s);
  return port;
}

class TrapPollTest : public TrapReceiverTest {
 protected:
  void SetUp() override {
    TrapReceiverTest::SetUp();
    saved_events_ = EventApi;
    EventApi.evt_log = capture_log;
    g_logged.clear();
    TrapReceiverApi.trap_forward = count_forward;
    g_forwards = 0;
    g_processed.clear();
    g_trap_process = record_process;
    g_source_ips.listen_port = free_port();
  }
  void TearDown() override {
    g_trap_process = nullptr;
    TrapReceiverApi.trap_close();
    EventApi = saved_events_;
  }
  // Sends one datagram from the loopback address of the family to the trap port.
  void send(uint16_t family, const Bytes& datagram) {
    int s = sock_udp_open(family);
    ASSERT_NE(s, INVALID_SOCKET);
    uint8_t address[16] = {};
    if (family == INET_FAMILY_IPV4) {
      address[0] = 127;
      address[3] = 1;
    } else {
      address[15] = 1;
    }
    uint8_t to[INET_SOCKADDR_MAX];
    uint32_t n = inet_make_sockaddr(to, sizeof to, family, address, g_source_ips.listen_port, 0);
    EXPECT_EQ(sock_sendto(s, datagram.data(), int(datagram.size()), to, n), int(datagram.size()));
    sock_close(s);
  }
  // Polls until something arrives (the loopback delivers at once; a few tries for safety).
  uint32_t poll() {
    uint8_t sender[28] = {};
    return TrapReceiverApi.trap_poll(sender);
  }
  EventApiTable saved_events_;
};

// A port held by another socket of the family.
int take_port(uint16_t family, uint16_t port) {
  int s = sock_udp_open(family);
  EXPECT_TRUE(sock_bind(s, family, nullptr, port));
  return s;
}

std::string status_text() {
  char text[2048];
  svc_status_text(text, sizeof text);
  return text;
}

TEST_F(TrapPollTest, OpenLogsEachListenerWhenItsOutcomeChanges) {
  listener_status_reset();   // as at start
  TrapReceiverApi.trap_open();
  ASSERT_EQ(g_logged.size(), 1u);
  EXPECT_EQ(g_logged[0], u"IPv4-Trap: OK IPv6-Trap: OK");
  EXPECT_EQ(g_trap_open_bits, 3);
  EXPECT_NE(trap_send_socket(INET_FAMILY_IPV4), INVALID_SOCKET);
  EXPECT_NE(trap_send_socket(INET_FAMILY_IPV6), INVALID_SOCKET);
  TrapReceiverApi.trap_open();
  TrapReceiverApi.trap_close();
  EXPECT_EQ(trap_send_socket(INET_FAMILY_IPV4), INVALID_SOCKET);
  TrapReceiverApi.trap_open();
  EXPECT_EQ(g_logged.size(), 1u);

  // A new start with the IPv4 port taken: the failure is logged, printed once and in the status
  // until the listener binds.
  TrapReceiverApi.trap_close();
  listener_status_reset();
  uint16_t port = g_source_ips.listen_port;
  std::string problem = "IPv4-Trap: NOK, UDP port " + std::to_string(port) + " (IPv4): Address already in use";
  int taker = take_port(INET_FAMILY_IPV4, port);
  ::testing::internal::CaptureStderr();
  TrapReceiverApi.trap_open();
  TrapReceiverApi.trap_open();   // still taken: nothing new
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), problem + "\n");
  ASSERT_EQ(g_logged.size(), 2u);
  EXPECT_EQ(g_logged[1], u"IPv4-Trap: NOK IPv6-Trap: OK");
  EXPECT_NE(status_text().find(problem), std::string::npos) << status_text();
  sock_close(taker);
  TrapReceiverApi.trap_open();
  ASSERT_EQ(g_logged.size(), 3u);
  EXPECT_EQ(g_logged[2], u"IPv4-Trap: OK");
  EXPECT_EQ(status_text().find("Trap"), std::string::npos) << status_text();

  // A listener that had bound and fails anew is logged again, the other one is not.
  TrapReceiverApi.trap_close();
  taker = take_port(INET_FAMILY_IPV6, port);
  ::testing::internal::CaptureStderr();
  TrapReceiverApi.trap_open();
  TrapReceiverApi.trap_open();
  std::string printed = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(g_logged.size(), 4u);
  EXPECT_EQ(g_logged[3], u"IPv4-Trap: OK IPv6-Trap: NOK");
  EXPECT_EQ(printed, "IPv6-Trap: NOK, UDP port " + std::to_string(port) + " (IPv6): Address already in use\n");
  // A deliberate close takes the problem out of the status.
  TrapReceiverApi.trap_close();
  EXPECT_EQ(status_text().find("Trap"), std::string::npos) << status_text();
  sock_close(taker);

  // A new start on which neither listener ever binds: one line for both.
  listener_status_reset();
  int takers[2] = {take_port(INET_FAMILY_IPV4, port), take_port(INET_FAMILY_IPV6, port)};
  ::testing::internal::CaptureStderr();
  TrapReceiverApi.trap_open();
  TrapReceiverApi.trap_open();
  ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(g_logged.size(), 5u);
  EXPECT_EQ(g_logged[4], u"IPv4-Trap: NOK IPv6-Trap: NOK");
  for (int t : takers) sock_close(t);
}

TEST_F(TrapPollTest, AcceptsFromBothListenersAndProcessesEach) {
  TrapReceiverApi.trap_open();
  Bytes v2 = v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  EXPECT_EQ(poll(), 0u);
  send(INET_FAMILY_IPV4, v2);
  send(INET_FAMILY_IPV6, v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{5, 1, 9, 0})}));
  uint8_t sender[28] = {};
  EXPECT_EQ(TrapReceiverApi.trap_poll(sender), 2u);
  EXPECT_EQ(g_forwards, 2);
  // Both reach the alarm engine, the IPv4 one first.
  EXPECT_EQ(g_processed, (std::vector<std::pair<int32_t, int32_t>>{{0, 3}, {2, 9}}));
  EXPECT_EQ(TrapState.source_index, 2);
  EXPECT_EQ(TrapState.trap_group, 1);
  EXPECT_EQ(inet_sockaddr_family(sender, 28), INET_FAMILY_IPV6);
  EXPECT_EQ(std::memcmp(g_forward_sender, sender, 28), 0);
  EXPECT_EQ(poll(), 0u);
}

TEST_F(TrapPollTest, EveryQueuedDatagramIsReadInOnePoll) {
  TrapReceiverApi.trap_open();
  for (int i = 1; i <= 3; ++i) send(INET_FAMILY_IPV4, v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, uint32_t(i), 0})}));
  EXPECT_EQ(poll(), 3u);
  EXPECT_EQ(g_forwards, 3);
  EXPECT_EQ(g_processed, (std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {0, 2}, {0, 3}}));
  EXPECT_EQ(poll(), 0u);
}

TEST_F(TrapPollTest, JunkFloodDoesNotHoldBackARealTrap) {
  TrapReceiverApi.trap_open();
  // 1000 junk datagrams, polled as they come (five polls, as in half a second), then a real trap.
  Bytes junk(64, 0x5A);
  for (int chunk = 0; chunk < 5; ++chunk) {
    for (int i = 0; i < 200; ++i) send(INET_FAMILY_IPV4, junk);
    EXPECT_EQ(poll(), 0u);
  }
  send(INET_FAMILY_IPV4, v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})}));
  // A busy machine may cut one poll short; a few polls must get through 1001 datagrams.
  uint32_t accepted = 0;
  for (int i = 0; i < 5 && accepted == 0; ++i) accepted = poll();
  EXPECT_EQ(accepted, 1u);
  EXPECT_EQ(g_processed, (std::vector<std::pair<int32_t, int32_t>>{{0, 3}}));
}

TEST_F(TrapPollTest, AtMostTenMessagesPerDatagram) {
  TrapReceiverApi.trap_open();
  std::vector<Bytes> parts;
  for (int i = 1; i <= 11; ++i) parts.push_back(v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, uint32_t(i), 0})}));
  Bytes datagram;
  for (const Bytes& p : parts) datagram.insert(datagram.end(), p.begin(), p.end());
  send(INET_FAMILY_IPV4, datagram);
  EXPECT_EQ(poll(), 10u);
  EXPECT_EQ(g_forwards, 10);
  ASSERT_EQ(g_processed.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(g_processed[i].second, i + 1);
}

TEST_F(TrapPollTest, BadMessageEndsOrSkipsButLaterGoodOnesCount) {
  TrapReceiverApi.trap_open();
  Bytes good = v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  Bytes refused = v2c_trap("wrong", {uptime(), trap_oid(kMaker + Ids{4, 20, 4, 0})});
  // A refused message is stepped over; a v1 message from an unlisted sender with a listed
  // agent-addr is taken, and the next message is matched against the sender again.
  Bytes v1 = v1_trap("x", kMaker + Ids{4, 20}, ip4(10, 9, 9, 9), 6, 8);
  send(INET_FAMILY_IPV4, cat({refused, v1, good}));
  EXPECT_NE(poll(), 0u);
  EXPECT_EQ(g_forwards, 2);
  EXPECT_EQ(TrapState.source_index, 0);
  EXPECT_EQ(TrapState.specific_trap, 3);
  // An unreadable outer sequence drops the rest of the datagram.
  g_forwards = 0;
  send(INET_FAMILY_IPV4, cat({Bytes{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}, good}));
  EXPECT_EQ(poll(), 0u);
  EXPECT_EQ(g_forwards, 0);
  // An empty or indefinite-length outer sequence is stepped over by its two bytes.
  send(INET_FAMILY_IPV4, cat({Bytes{0x30, 0x00}, good, Bytes{0x30, 0x80}, good}));
  EXPECT_EQ(poll(), 2u);
  EXPECT_EQ(g_forwards, 2);
  // Only refused: nothing.
  send(INET_FAMILY_IPV4, refused);
  EXPECT_EQ(poll(), 0u);
  // A zero-length datagram ends the turn quietly.
  send(INET_FAMILY_IPV4, {});
  EXPECT_EQ(poll(), 0u);
  send(INET_FAMILY_IPV4, good);
  EXPECT_NE(poll(), 0u);
}

TEST_F(TrapPollTest, LongDatagramIsReadCut) {
  TrapReceiverApi.trap_open();
  Bytes good = v2c_trap("public", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  // A good message, then one that reaches past byte 2048.
  Bytes filler = v2c_trap("public", {uptime(), varbind({1, 3, 9}, octets(std::string(2100, 'f'))),
                                     trap_oid(kMaker + Ids{4, 20, 5, 0})});
  send(INET_FAMILY_IPV4, cat({good, filler}));
  EXPECT_NE(poll(), 0u);
  EXPECT_EQ(g_forwards, 1);
  EXPECT_EQ(TrapState.specific_trap, 3);
  // A whole message of more than 2048 bytes is refused.
  send(INET_FAMILY_IPV4, filler);
  EXPECT_EQ(poll(), 0u);
  EXPECT_EQ(g_forwards, 1);
}

TEST_F(TrapPollTest, TraceFileGetsOneLinePerAcceptedTrap) {
  TempDir dir;
  std::string path = dir.file("trace.txt");
  setenv("VELLMAR_TRAP_TRACE", path.c_str(), 1);
  trap_init();
  unsetenv("VELLMAR_TRAP_TRACE");
  TrapReceiverApi.trap_forward = count_forward;
  TrapReceiverApi.trap_open();
  send(INET_FAMILY_IPV4, cat({v1_trap("public", kMaker + Ids{500, 1}, ip4(127, 0, 0, 1), 6, 4),
                              v2c_trap("nope", {uptime(), trap_oid(kColdStart)}),
                              v2c_trap("public", {uptime(), trap_oid(kColdStart)})}));
  EXPECT_NE(poll(), 0u);
  EXPECT_EQ(read_file(path),
            "accepted version=0 source=0 group=2 generic=6 specific=4\n"
            "accepted version=1 source=0 group=2 generic=0 specific=4\n");
  TrapReceiverApi.trap_close();
  trap_init();   // without the variable: no trace
  TrapReceiverApi.trap_open();
  send(INET_FAMILY_IPV4, v2c_trap("public", {uptime(), trap_oid(kWarmStart)}));
  EXPECT_NE(poll(), 0u);
  EXPECT_EQ(read_file(path).size(), 114u);
}

// ---- Notices of refused traps and replayed SNMPv3 traps ----

int64_t g_now;
int64_t fake_clock() { return g_now; }

struct Logged {
  uint32_t level;
  std::u16string text;
  std::vector<std::string> args;
};
std::vector<Logged> g_events;

void capture_event(const char16_t*, uint32_t level, const char16_t* text, ...) {
  Logged l{level, text, {}};
  va_list ap;
  va_start(ap, text);
  while (const char16_t* a = va_arg(ap, const char16_t*)) {
    char utf8[256];
    text_utf16_to_utf8(utf8, sizeof utf8, a);
    l.args.push_back(utf8);
  }
  va_end(ap);
  g_events.push_back(l);
}

// The events of one common number logged so far.
std::vector<Logged> events_of(uint32_t n) {
  std::vector<Logged> out;
  for (const Logged& l : g_events)
    if (l.text == evt_name(EVT_GROUP_COMMON, n)) out.push_back(l);
  return out;
}

class TrapNoticeTest : public TrapPollTest {
 protected:
  void SetUp() override {
    TrapPollTest::SetUp();
    char16_t data[600];
    text_utf8_to_utf16(data, 600, VELLMAR_SOURCE_DIR "/data");
    evt_init(data, u"English");
    EventApi.evt_log = capture_event;
    g_events.clear();
    g_now = 1800000000;
    g_trap_clock = fake_clock;
    trap_init();
    TrapReceiverApi.trap_forward = count_forward;
    TrapReceiverApi.trap_open();
  }
  void TearDown() override {
    TrapPollTest::TearDown();
    g_trap_clock = clock_unix_seconds;
    evt_free_definitions();
    InstallDir[0] = 0;
  }
};

TEST_F(TrapNoticeTest, EachRefusalReasonIsLoggedWithItsSender) {
  ASSERT_EQ(evt_level(EVT_GROUP_COMMON, EVT_COMMON_TRAPS_REFUSED), EVENT_LEVEL_WARNING);
  Ids ent = kMaker + Ids{4, 20};
  V3 unknown;
  unknown.user = "stranger";
  V3 low;   // an auth user's trap without authentication
  low.user = "authonly";
  low.auth = "authpass2";
  low.flags = 0;
  V3 forged = low;
  forged.flags = 1;
  forged.bad_digest = true;
  V3 wrong_priv;
  wrong_priv.priv = "privpassX";
  V3 odd_cipher;
  odd_cipher.cipher_extra = 3;
  struct Refusal {
    const char* reason;
    uint16_t family;
    Bytes message;
  } cases[] = {
      {"source not listed", INET_FAMILY_IPV4, v1_trap("public", ent, ip4(10, 7, 7, 7), 6, 3)},
      {"wrong community", INET_FAMILY_IPV4, v2c_trap("wrong", {uptime(), trap_oid(ent + Ids{3, 0})})},
      {"wrong community", INET_FAMILY_IPV6, v1_trap("wrong", ent, tlv(0x40, {127, 0, 0, 1}), 6, 3)},
      {"unknown user", INET_FAMILY_IPV4, build_v3(unknown)},
      {"security level too low", INET_FAMILY_IPV4, build_v3(low)},
      {"wrong digest", INET_FAMILY_IPV4, build_v3(forged)},
      {"decryption failed", INET_FAMILY_IPV4, build_v3(wrong_priv)},
      {"decryption failed", INET_FAMILY_IPV6, build_v3(odd_cipher)},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.reason);
    g_now += 60;
    g_events.clear();
    send(c.family, c.message);
    EXPECT_EQ(poll(), 0u);
    std::vector<Logged> lines = events_of(EVT_COMMON_TRAPS_REFUSED);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, EVENT_LEVEL_WARNING);
    EXPECT_EQ(lines[0].args,
              (std::vector<std::string>{c.reason, c.family == INET_FAMILY_IPV4 ? "127.0.0.1" : "::1", "1"}));
  }
  // Neither a good trap nor junk is a refused trap.
  g_now += 60;
  g_events.clear();
  send(INET_FAMILY_IPV4, v2c_trap("public", {uptime(), trap_oid(ent + Ids{3, 0})}));
  send(INET_FAMILY_IPV4, Bytes(64, 0x5A));
  EXPECT_EQ(poll(), 1u);
  EXPECT_TRUE(events_of(EVT_COMMON_TRAPS_REFUSED).empty());
}

TEST_F(TrapNoticeTest, AFloodIsOneLineAMinuteWithTheCountSinceTheLast) {
  Bytes wrong = v2c_trap("wrong", {uptime(), trap_oid(kMaker + Ids{4, 20, 3, 0})});
  int64_t first = g_now;
  send(INET_FAMILY_IPV4, wrong);
  poll();
  ASSERT_EQ(events_of(EVT_COMMON_TRAPS_REFUSED).size(), 1u);
  // 300 more within the minute, five to a datagram, the last one of another reason and sender.
  Bytes five = cat({wrong, wrong, wrong, wrong, wrong});
  for (int i = 0; i < 59; ++i) {
    send(INET_FAMILY_IPV4, five);
    if (i % 10 == 9) {
      g_now += 9;
      poll();
    }
  }
  V3 unknown;
  unknown.user = "stranger";
  send(INET_FAMILY_IPV6, cat({wrong, wrong, wrong, wrong, build_v3(unknown)}));
  for (int i = 0; i < 5; ++i) poll();
  EXPECT_EQ(events_of(EVT_COMMON_TRAPS_REFUSED).size(), 1u);
  g_now = first + 59;
  poll();
  EXPECT_EQ(events_of(EVT_COMMON_TRAPS_REFUSED).size(), 1u);
  g_now = first + 60;   // a minute after the first line
  poll();
  std::vector<Logged> lines = events_of(EVT_COMMON_TRAPS_REFUSED);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].args, (std::vector<std::string>{"unknown user", "::1", "300"}));
  // Nothing refused since: no line in the next minutes.
  g_now += 600;
  poll();
  EXPECT_EQ(events_of(EVT_COMMON_TRAPS_REFUSED).size(), 2u);
}

// An authPriv trap of the sender engine with the given boots and engine time.
Bytes engine_trap(int32_t boots, int32_t time) {
  V3 v;
  v.engine = {0x80, 0x00, 0x1F, 0x88, 0x80, 0xAB, 0xCD, 0xEF};
  v.boots = boots;
  v.time = time;
  return build_v3(v);
}

struct Step {
  const char* what;
  int64_t advance;   // seconds of the local clock before the trap
  int32_t boots, time;
  bool accepted;
  bool logged;       // a replay notice is logged for it
};

void run_steps(const std::vector<Step>& steps) {
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    g_now += s.advance;
    size_t before = events_of(EVT_COMMON_V3_REPLAY_REFUSED).size();
    EXPECT_EQ(decode_from("10.1.2.3", engine_trap(s.boots, s.time)), s.accepted ? 1 : 0);
    std::vector<Logged> notices = events_of(EVT_COMMON_V3_REPLAY_REFUSED);
    ASSERT_EQ(notices.size(), before + (s.logged ? 1 : 0));
    if (s.logged) {
      EXPECT_EQ(notices.back().level, EVENT_LEVEL_WARNING);
      EXPECT_EQ(notices.back().args, (std::vector<std::string>{"10.1.2.3", "80001f8880abcdef"}));
    }
  }
}

TEST_F(TrapNoticeTest, ReplayedV3TrapsAreRefused) {
  run_steps({
      {"first trap of the engine", 0, 3, 1000, true, false},
      {"the same trap at once", 0, 3, 1000, true, false},
      {"the same trap 200 s later", 200, 3, 1000, false, true},
      {"again within the minute: not logged again", 10, 3, 1000, false, false},
      {"the sender's clock now", 0, 3, 1210, true, false},
      {"a time 150 s behind", 0, 3, 1060, true, false},
      {"a lower boots", 0, 2, 9000, false, false},
      {"a lower boots a minute after the notice", 60, 2, 9000, false, true},
      {"the sender restarted", 5, 4, 0, true, false},
      {"the old boots after the restart", 0, 3, 1300, false, false},
      {"the restart trap 100 s later", 100, 4, 0, true, false},
      {"the restart trap 200 s later", 100, 4, 0, false, true},
  });
  // A trap without authentication carries no proof of its boots and time: not compared.
  V3 plain;
  plain.user = "plain";
  plain.flags = 0;
  plain.engine = {0x80, 0x00, 0x1F, 0x88, 0x80, 0xAB, 0xCD, 0xEF};
  plain.boots = 1;
  EXPECT_EQ(decode_from("127.0.0.1", build_v3(plain)), 1);
  // Another engine has a clock of its own.
  V3 other;
  other.boots = 1;
  other.time = 5;
  EXPECT_EQ(decode_from("10.1.2.3", build_v3(other)), 1);
}

TEST_F(TrapNoticeTest, ReplayRefusalsAreNotCountedAsRefusedTraps) {
  send(INET_FAMILY_IPV4, engine_trap(3, 1000));
  EXPECT_EQ(poll(), 1u);
  g_now += 200;
  send(INET_FAMILY_IPV4, engine_trap(3, 1000));
  EXPECT_EQ(poll(), 0u);
  EXPECT_EQ(events_of(EVT_COMMON_V3_REPLAY_REFUSED).size(), 1u);
  g_now += 600;
  poll();
  EXPECT_TRUE(events_of(EVT_COMMON_TRAPS_REFUSED).empty());
}

TEST_F(TrapNoticeTest, SeenEnginesSurviveARestart) {
  TempDir dir;
  text_copy8(InstallDir, sizeof InstallDir, dir.path.c_str());
  std::string path = dir.file("snmp_trap_engines.txt");
  trap_init();
  ASSERT_EQ(decode_from("10.1.2.3", engine_trap(7, 1000)), 1);
  // A new engine is saved at once, readable by the owner only.
  EXPECT_EQ(read_file(path), "80001f8880abcdef 7 1000 1800000000\r\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A newer time alone waits for the minute, or for the close.
  g_now += 20;
  ASSERT_EQ(decode_from("10.1.2.3", engine_trap(7, 1020)), 1);
  EXPECT_EQ(read_file(path), "80001f8880abcdef 7 1000 1800000000\r\n");
  TrapReceiverApi.trap_close();
  EXPECT_EQ(read_file(path), "80001f8880abcdef 7 1020 1800000020\r\n");

  // After a restart the captured trap is still too old, the current one is taken.
  g_now += 200;
  trap_init();
  run_steps({
      {"the captured trap after a restart", 0, 7, 1020, false, true},
      {"the sender's clock now", 0, 7, 1220, true, false},
      {"the sender restarted", 0, 8, 3, true, false},
  });
  EXPECT_EQ(read_file(path), "80001f8880abcdef 8 3 1800000220\r\n");

  // Lines that do not read are skipped; the others count.
  write_file(path, "zz 1 2 3\r\n80001f8880abcdef 9 100 1800000220\r\n0102 x 1 1\n\n80 1 2\n");
  trap_init();
  run_steps({{"boots of the readable line", 0, 8, 3, false, true}});
}

}  // namespace
