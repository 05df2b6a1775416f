// SNMP agent: SNMPv1 access by manager list, varbind processing and the MIB's GET/GETNEXT/SET rules;
// SNMPv3 discovery, security levels, digests, privacy, time window, Reports and contexts; the
// engine id, boots across starts and the salt; a table of malformed datagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "common/cipher.h"
#include "common/codec.h"
#include "common/digest.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/inet.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/snmp_mib.h"
#include "service/snmp/usm.h"
#include "support/agent_setup.h"
#include "support/ber_build.h"
#include "support/snmp_request.h"
#include "support/temp_dir.h"

namespace {

const Ids kE = {1, 3, 6, 1, 4, 1, 7342, 2, 200};
const Ids kSysDescr = {1, 3, 6, 1, 2, 1, 1, 1, 0};
const Ids kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const Ids kSysContact = {1, 3, 6, 1, 2, 1, 1, 4, 0};
const Ids kSysServices = {1, 3, 6, 1, 2, 1, 1, 7, 0};
const Ids kUsmStats = {1, 3, 6, 1, 6, 3, 15, 1, 1};
const uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const Bytes kEngine = kRequestEngine;

Ids E(std::initializer_list<uint32_t> tail) { return kE + Ids(tail); }
Ids stats(uint32_t counter) { return kUsmStats + Ids{counter, 0}; }
Bytes null_value() { return tlv(0x05, {}); }
Bytes vb(const Ids& name, const Bytes& value = null_value()) { return seq({oid(name), value}); }
Bytes pdu(uint8_t tag, const std::vector<Bytes>& binds, int32_t request_id = 42) {
  return tlv(tag, cat({integer(request_id), integer(0), integer(0), seq_of(binds)}));
}
Bytes v1(const std::string& community, const Bytes& p, int version = 0) {
  return seq({integer(version), octets(community), p});
}

// A decoded varbind of an answer.
struct Bind {
  Ids name;
  uint8_t tag = 0;
  int64_t number = 0;
  std::string text;
  Ids oid_value;
};

// A decoded answer (SNMPv1 or the plain scoped PDU of SNMPv3).
struct Answer {
  int version = -1;
  std::string community;
  uint8_t flags = 0;
  int32_t msg_id = 0;
  Bytes engine_id;
  int32_t boots = 0, time = 0;
  std::string user;
  Bytes auth_params, priv_params;
  std::string context;
  uint8_t pdu = 0;
  int32_t request_id = 0, error_status = 0, error_index = 0;
  std::vector<Bind> binds;
  bool digest_ok = false;
};


Ids read_oid(BerReader* r) {
  uint32_t ids[SNMP_OID_MAX];
  SnmpOid o = {0, ids};
  EXPECT_TRUE(ber_read_oid(r, &o, SNMP_OID_MAX));
  return Ids(ids, ids + o.count);
}

std::string read_text(BerReader* r, uint8_t tag = 0x04) {
  uint8_t buffer[4096];
  SnmpOctets o = {buffer, 0};
  EXPECT_TRUE(ber_read_octets(r, tag, &o, sizeof buffer, nullptr, BER_MAY_BE_EMPTY));
  return std::string(buffer, buffer + o.length);
}

int32_t read_int(BerReader* r) {
  int32_t v = 0;
  EXPECT_TRUE(ber_read_integer(r, 0x02, &v, BER_MAY_BE_EMPTY));
  return v;
}

void read_pdu(BerReader* r, Answer* a) {
  a->pdu = uint8_t(ber_peek_tag(r));
  BerReader p, list;
  ASSERT_TRUE(ber_read_inner(r, a->pdu, &p, BER_NOT_EMPTY));
  a->request_id = read_int(&p);
  a->error_status = read_int(&p);
  a->error_index = read_int(&p);
  ASSERT_TRUE(ber_read_inner(&p, 0x30, &list, BER_MAY_BE_EMPTY));
  while (ber_reader_left(&list) > 0) {
    BerReader b;
    ASSERT_TRUE(ber_read_inner(&list, 0x30, &b, BER_NOT_EMPTY));
    Bind bind;
    bind.name = read_oid(&b);
    bind.tag = uint8_t(ber_peek_tag(&b));
    if (bind.tag == 0x02 || bind.tag == 0x43) {
      int32_t v = 0;
      ASSERT_TRUE(ber_read_integer(&b, bind.tag, &v, BER_NOT_EMPTY));
      bind.number = v;
    } else if (bind.tag == 0x04) {
      bind.text = read_text(&b);
    } else if (bind.tag == 0x06) {
      bind.oid_value = read_oid(&b);
    }
    a->binds.push_back(bind);
  }
}

// Decodes an answer; SNMPv3 answers are decrypted and checked with the factory user's keys.
Answer parse(Bytes m, const std::string& auth = "mq472816", const std::string& priv = "hv305749") {
  Answer a;
  BerReader whole = ber_reader(m.data(), m.size()), msg;
  EXPECT_TRUE(ber_read_inner(&whole, 0x30, &msg, BER_NOT_EMPTY));
  a.version = read_int(&msg);
  if (a.version == 0) {
    a.community = read_text(&msg);
    read_pdu(&msg, &a);
    return a;
  }
  BerReader global, wrapped, sec;
  EXPECT_TRUE(ber_read_inner(&msg, 0x30, &global, BER_NOT_EMPTY));
  a.msg_id = read_int(&global);
  EXPECT_EQ(read_int(&global), 4096);
  a.flags = uint8_t(read_text(&global)[0]);
  EXPECT_EQ(read_int(&global), 3);
  EXPECT_TRUE(ber_read_inner(&msg, 0x04, &wrapped, BER_NOT_EMPTY));
  EXPECT_TRUE(ber_read_inner(&wrapped, 0x30, &sec, BER_NOT_EMPTY));
  std::string e = read_text(&sec);
  a.engine_id = Bytes(e.begin(), e.end());
  a.boots = read_int(&sec);
  a.time = read_int(&sec);
  a.user = read_text(&sec);
  size_t auth_at = size_t(sec.pos - m.data()) + 2;
  std::string ap = read_text(&sec), pp = read_text(&sec);
  a.auth_params = Bytes(ap.begin(), ap.end());
  a.priv_params = Bytes(pp.begin(), pp.end());
  if (a.flags & 1) {
    Bytes copy = m;
    std::fill(copy.begin() + long(auth_at), copy.begin() + long(auth_at) + 12, 0);
    Bytes key = localized_key(auth);
    Md5Context ctx;
    uint8_t digest[16];
    hmac_md5(&ctx, copy.data(), uint16_t(copy.size()), key.data(), digest);
    a.digest_ok = a.auth_params.size() == 12 && std::equal(digest, digest + 12, a.auth_params.begin());
  }
  BerReader body = msg;
  Bytes plain;
  if (a.flags & 2) {
    std::string c = read_text(&body);
    plain = Bytes(c.begin(), c.end());
    EXPECT_EQ(plain.size() % 8, 0u);
    Bytes key = localized_key(priv);
    uint8_t iv[8];
    for (int i = 0; i < 8; ++i) iv[i] = uint8_t(key[8 + i] ^ a.priv_params[size_t(i)]);
    des_cbc_decrypt(plain.data(), plain.size(), key.data(), iv);
    body = ber_reader(plain.data(), plain.size());
  }
  BerReader scoped;
  EXPECT_TRUE(ber_read_inner(&body, 0x30, &scoped, BER_NOT_EMPTY));
  EXPECT_EQ(read_text(&scoped), std::string(kEngine.begin(), kEngine.end()));
  a.context = read_text(&scoped);
  read_pdu(&scoped, &a);
  return a;
}

void collect(const uint8_t* answer, uint32_t length, void* context) {
  static_cast<std::vector<Bytes>*>(context)->push_back(Bytes(answer, answer + length));
}

class AgentTest : public ::testing::Test {
 protected:
  TempDir dir;
  int refused = 0;

  void SetUp() override {
    agent_setup_records(dir.path);
    g_local_addresses.count = 2;
    inet_make_sockaddr(g_local_addresses.entries[0].sockaddr, LOCAL_SOCKADDR_SIZE, INET_FAMILY_IPV4,
                       Bytes{10, 0, 0, 1}.data(), 0, 0);
    inet_make_sockaddr(g_local_addresses.entries[1].sockaddr, LOCAL_SOCKADDR_SIZE, INET_FAMILY_IPV4,
                       Bytes{10, 0, 0, 2}.data(), 0, 0);
    std::memcpy(g_local_addresses.entries[1].mac, kMac, 6);
    ASSERT_TRUE(agent_setup_start());
  }

  // The answers to one datagram from the sender.
  std::vector<Bytes> send(Bytes datagram, const char* sender = "127.0.0.1") {
    uint8_t address[16];
    uint16_t family = INET_FAMILY_IPV4;
    if (!net_parse_ipv6(address, sender) || std::strchr(sender, ':') == nullptr) net_parse_ipv4(address, sender);
    else family = INET_FAMILY_IPV6;
    uint8_t from[INET_SOCKADDR_MAX];
    uint32_t from_length = inet_make_sockaddr(from, sizeof from, family, address, 40000, 0);
    std::vector<Bytes> answers;
    refused = !snmp_agent_handle(datagram.data(), uint32_t(datagram.size()), from, from_length, collect, &answers);
    return answers;
  }

  // The one answer of a datagram, decoded.
  Answer ask(Bytes datagram, const char* sender = "127.0.0.1") {
    std::vector<Bytes> answers = send(datagram, sender);
    EXPECT_EQ(answers.size(), 1u);
    if (answers.empty()) return Answer{};
    return parse(answers[0]);
  }

  Answer ask_v3(V3Request v) { return ask(build_v3_request(v)); }
};

// ---- SNMPv1 ----

TEST_F(AgentTest, V1GetOfTheFactoryCommunityFromAnyAddress) {
  Answer a = ask(v1("fenwix", pdu(0xA0, {vb(kSysDescr), vb(kSysUpTime)})));
  EXPECT_EQ(a.version, 0);
  EXPECT_EQ(a.community, "fenwix");
  EXPECT_EQ(a.pdu, 0xA2);
  EXPECT_EQ(a.request_id, 42);
  ASSERT_EQ(a.binds.size(), 2u);
  EXPECT_EQ(a.binds[0].text, "Vellmar");
  EXPECT_EQ(a.binds[1].tag, 0x02);   // sysUpTime answers as INTEGER
}

struct AccessCase {
  const char* sender;
  const char* community;
  uint8_t pdu;
  bool answered;
  int32_t error_status;
};

TEST_F(AgentTest, V1ManagersListDecides) {
  g_snmp_agent.count = 4;
  const char* ips[] = {"0.0.0.0", "10.0.0.7", "::", "10.0.0.9"};
  const char* communities[] = {"fenwix", "rw", "six", "none"};
  const uint8_t permissions[] = {1, 2, 1, 0};
  for (int i = 0; i < 4; ++i) {
    text_copy8(g_snmp_agent.ip[i], 52, ips[i]);
    text_copy8(g_snmp_agent.community[i], 17, communities[i]);
    g_snmp_agent.permission[i] = permissions[i];
  }
  const AccessCase cases[] = {
      {"127.0.0.1", "fenwix", 0xA0, true, 0},
      {"127.0.0.1", "fenwix", 0xA3, true, 5},   // read only: nothing set
      {"10.0.0.7", "rw", 0xA3, true, 0},
      {"10.0.0.8", "rw", 0xA0, false, 0},       // listed for another address
      {"127.0.0.1", "FENWIX", 0xA0, false, 0},
      {"10.0.0.9", "none", 0xA0, false, 0},     // permission 0
      {"::1", "six", 0xA0, true, 0},
      {"::1", "fenwix", 0xA0, false, 0},        // "0.0.0.0" is no IPv6 entry
  };
  for (const AccessCase& c : cases) {
    g_settings.condition_delay[0] = 300;
    Bytes value = c.pdu == 0xA3 ? integer(120) : null_value();
    std::vector<Bytes> answers = send(v1(c.community, pdu(c.pdu, {vb(E({2, 3, 0}), value)})), c.sender);
    ASSERT_EQ(answers.size(), c.answered ? 1u : 0u) << c.sender << " " << c.community;
    EXPECT_EQ(refused, c.answered ? 0 : 1);
    if (!c.answered) continue;
    Answer a = parse(answers[0]);
    EXPECT_EQ(a.error_status, c.error_status) << c.sender << " " << c.community;
    bool applied = c.pdu == 0xA3 && c.error_status == 0;
    EXPECT_EQ(g_settings.condition_delay[0], applied ? 120u : 300u);
  }
}

TEST_F(AgentTest, V1NoManagersNoAnswer) {
  g_snmp_agent.count = 0;
  EXPECT_TRUE(send(v1("fenwix", pdu(0xA0, {vb(kSysDescr)}))).empty());
}

TEST_F(AgentTest, V1UnknownNameGivesNoSuchNameAtItsPosition) {
  Answer a = ask(v1("fenwix", pdu(0xA0, {vb(kSysDescr), vb(E({1, 1})), vb(kSysUpTime)})));
  EXPECT_EQ(a.error_status, 2);
  EXPECT_EQ(a.error_index, 2);
  ASSERT_EQ(a.binds.size(), 3u);
  EXPECT_EQ(a.binds[0].text, "Vellmar");
  EXPECT_EQ(a.binds[2].tag, 0x05);   // left as received
}

struct NextCase {
  Ids from;
  Ids expected;   // empty: past the end
};

TEST_F(AgentTest, GetNextFollowsTheSortedRegistry) {
  const NextCase cases[] = {
      {E({2, 9, 0}), E({2, 10, 0})},
      {kE, E({1, 1, 0})},
      {kSysServices, E({1, 1, 0})},
      {{1, 3, 6, 1}, kSysDescr},
      {E({4, 1, 1, 2, 8}), E({4, 2, 0})},
      {E({4, 3, 0}), {}},
  };
  for (const NextCase& c : cases) {
    Answer a = ask(v1("fenwix", pdu(0xA1, {vb(c.from)})));
    ASSERT_EQ(a.binds.size(), 1u);
    if (c.expected.empty()) {
      EXPECT_EQ(a.error_status, 2);
    } else {
      EXPECT_EQ(a.error_status, 0);
      EXPECT_EQ(a.binds[0].name, c.expected);
    }
  }
}

TEST_F(AgentTest, WalkListsThe35VariablesInOrder) {
  std::vector<Ids> seen;
  Ids at = {1, 3, 6, 1};
  for (int i = 0; i < 40; ++i) {
    Answer a = ask(v1("fenwix", pdu(0xA1, {vb(at)})));
    if (a.error_status != 0) break;
    at = a.binds[0].name;
    seen.push_back(at);
  }
  ASSERT_EQ(seen.size(), 35u);
  EXPECT_EQ(seen[0], kSysDescr);
  EXPECT_EQ(seen[6], kSysServices);
  EXPECT_EQ(seen[7], E({1, 1, 0}));
  EXPECT_EQ(seen[22], E({2, 10, 0}));
  EXPECT_EQ(seen[34], E({4, 3, 0}));
}

TEST_F(AgentTest, RegistryKeepsTheFirstIdAndRefusesTextsWithoutDot) {
  EXPECT_EQ(snmp_mib_register("1.3.6.1.2.1.1.1.0", 99), 1);
  uint32_t descr[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};
  EXPECT_EQ(snmp_mib_find(descr, 9), 29u);
  EXPECT_EQ(snmp_mib_register("13", 5), 0);
  EXPECT_EQ(snmp_mib_unregister("1.3.6.1.2.1.1.1.0"), 1);
  EXPECT_EQ(snmp_mib_find(descr, 9), MIB_NOT_FOUND);
  EXPECT_EQ(snmp_mib_unregister("1.3.6.1.2.1.1.1.0"), 0);
}

struct SetCase {
  Ids name;
  Bytes value;
  int64_t answered;       // number answered (texts: -1)
  const char* text;       // text answered
};

TEST_F(AgentTest, SetRulesOfTheMib) {
  g_snmp_agent.permission[0] = 2;
  const SetCase cases[] = {
      {E({2, 1, 0}), integer(4), 1, nullptr},         // no OS action is not settable
      {E({2, 1, 0}), integer(3), 3, nullptr},
      {E({2, 3, 0}), integer(100000), 300, nullptr},
      {E({2, 3, 0}), integer(-1), 300, nullptr},
      {E({2, 3, 0}), integer(99999), 99999, nullptr},
      {E({2, 3, 0}), octets("12"), 99999, nullptr},    // wrong tag: current value
      {E({2, 2, 0}), integer(3), 1, nullptr},
      {E({2, 2, 0}), integer(2), 2, nullptr},
      {E({3, 1, 0}), integer(1), 1, nullptr},
      {E({1, 2, 0}), octets("x"), -1, "02.00.22"},     // read only
      {kSysContact, octets("ops desk"), -1, "ops desk"},
      {kSysContact, octets(std::string(33, 'a')), -1, "ops desk"},   // too long
      {kSysContact, octets("<script>"), -1, "ops desk"},            // markup
      {kSysContact, octets("a\r\nb"), -1, "ops desk"},              // control characters
  };
  for (const SetCase& c : cases) {
    Answer a = ask(v1("fenwix", pdu(0xA3, {vb(c.name, c.value)})));
    ASSERT_EQ(a.binds.size(), 1u);
    EXPECT_EQ(a.error_status, 0);
    if (c.text) EXPECT_EQ(a.binds[0].text, c.text);
    else EXPECT_EQ(a.binds[0].number, c.answered);
  }
  EXPECT_EQ(g_settings.shutdown_type, 2);
  EXPECT_EQ(g_settings.condition_delay[0], 99999u);
  EXPECT_EQ(g_status.shutdown_cancelled, 1);
  std::string ini = read_file(dir.file("agent.ini"));
  EXPECT_NE(ini.find("Power Fail Delay=99999"), std::string::npos);
}

TEST_F(AgentTest, EnableSetToAnOtherValueStillSaves) {
  g_snmp_agent.permission[0] = 2;
  std::remove(dir.file("agent.ini").c_str());
  Answer a = ask(v1("fenwix", pdu(0xA3, {vb(E({2, 2, 0}), integer(3))})));
  EXPECT_EQ(a.binds[0].number, 1);
  EXPECT_TRUE(fs_exists(dir.file("agent.ini")));
}

// agent.ini cannot be replaced (a folder stands in its place): a SET is answered as failed, every
// varbind of it goes back to the stored value together, and the countdown cancel still holds.
TEST_F(AgentTest, SetWhoseSaveFailsIsAnsweredAsFailedAndUndone) {
  g_snmp_agent.permission[0] = 2;
  cfg_save();
  ASSERT_EQ(std::remove(dir.file("agent.ini").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("agent.ini").c_str(), 0700), 0);
  const std::vector<Bytes> binds = {vb(E({2, 1, 0}), integer(2)), vb(E({2, 3, 0}), integer(45)),
                                    vb(kSysContact, octets("ops desk")), vb(E({3, 1, 0}), integer(1))};
  Answer a = ask(v1("fenwix", pdu(0xA3, binds)));
  EXPECT_EQ(a.error_status, 5) << "genErr";
  EXPECT_EQ(a.error_index, 1);
  ASSERT_EQ(a.binds.size(), 4u);
  EXPECT_EQ(a.binds[0].number, 1) << "the stored type";
  EXPECT_EQ(a.binds[1].number, 300) << "the stored delay";
  EXPECT_EQ(a.binds[2].text, "");
  EXPECT_EQ(a.binds[3].number, 1) << "the cancel took effect";
  EXPECT_EQ(g_settings.shutdown_type, 0);
  EXPECT_EQ(g_settings.condition_delay[0], 300u);
  EXPECT_EQ(g_settings.contactor[0], 0);
  EXPECT_EQ(g_status.shutdown_cancelled, 1);

  // A cancel alone is not refused for a save that does not hold it.
  Answer c = ask(v1("fenwix", pdu(0xA3, {vb(E({3, 1, 0}), integer(2))})));
  EXPECT_EQ(c.error_status, 0);
  EXPECT_EQ(g_status.shutdown_cancelled, 0);

  V3Request v;
  v.pdu = pdu(0xA3, {vb(E({2, 5, 0}), integer(45))});
  Answer three = ask_v3(v);
  EXPECT_EQ(three.error_status, 14) << "commitFailed";
  ASSERT_EQ(three.binds.size(), 1u);
  EXPECT_EQ(three.binds[0].number, 30);
  EXPECT_EQ(g_settings.condition_delay[1], 30u);

  // Once the file can be written again the same SET is stored.
  ASSERT_EQ(rmdir(dir.file("agent.ini").c_str()), 0);
  three = ask_v3(v);
  EXPECT_EQ(three.error_status, 0);
  EXPECT_EQ(three.binds[0].number, 45);
  EXPECT_NE(read_file(dir.file("agent.ini")).find("Battery Low Delay=45"), std::string::npos);
}

TEST_F(AgentTest, HostFiguresAreAnswered) {
  g_status.disk_used[0] = 0.4567;
  g_status.memory_load = 63;
  g_status.sys_uptime = 1000;
  text_utf8_to_utf16(g_status.os_description, 128, std::string(140, 'x').c_str());
  Answer a = ask(v1("fenwix", pdu(0xA0, {vb(E({4, 1, 1, 2, 1})), vb(E({4, 2, 0})), vb(kSysUpTime),
                                         vb(E({1, 1, 0}))})));
  ASSERT_EQ(a.binds.size(), 4u);
  EXPECT_EQ(a.binds[0].number, 45);
  EXPECT_EQ(a.binds[1].number, 63);
  EXPECT_EQ(a.binds[2].number, 1000);
  EXPECT_EQ(a.binds[3].text.size(), 127u);
}

// ---- Malformed datagrams ----

struct BadCase {
  const char* what;
  Bytes datagram;
  int answers;             // 0 or 1
  int32_t error_status;    // of the answer
  size_t binds;            // of the answer
};

TEST_F(AgentTest, MalformedDatagrams) {
  g_snmp_agent.permission[0] = 2;
  Bytes good = v1("fenwix", pdu(0xA0, {vb(kSysDescr)}));
  Bytes lying = good;
  lying[1] = uint8_t(lying[1] + 5);
  Bytes inner_lying = good;
  inner_lying[inner_lying.size() - 13] = 0x7F;   // a varbind's length past its list
  Bytes pdu_lying = good;
  ASSERT_EQ(pdu_lying[13], 0xA0);
  pdu_lying[14] = uint8_t(pdu_lying[14] + 5);     // the PDU's length past the message
  std::vector<Bytes> many(81, vb(kSysDescr));
  std::vector<Bytes> eighty(80, vb(kSysDescr));
  Bytes big_value = v1("fenwix", pdu(0xA3, {vb(kSysContact, octets(std::string(119, 'a')))}));
  Bytes spread = v1("fenwix", pdu(0xA3, {vb(kSysContact, octets(std::string(60, 'a'))),
                                         vb(E({2, 3, 0}), integer(5)),
                                         vb(kSysContact, octets(std::string(60, 'b')))}));
  Bytes bad_name = v1("fenwix", tlv(0xA0, cat({integer(1), integer(0), integer(0), seq({seq({octets("x"), null_value()})})})));
  const BadCase cases[] = {
      {"empty", {}, 0, 0, 0},
      {"not a sequence", {0x04, 0x01, 0x00}, 0, 0, 0},
      {"truncated", Bytes(good.begin(), good.end() - 4), 0, 0, 0},
      {"outer length past the end", lying, 0, 0, 0},
      {"PDU length past the message", pdu_lying, 0, 0, 0},
      {"varbind length past its list", inner_lying, 1, 9, 0},
      {"SNMPv2c", v1("fenwix", pdu(0xA0, {vb(kSysDescr)}), 1), 0, 0, 0},
      {"empty community", v1("", pdu(0xA0, {vb(kSysDescr)})), 0, 0, 0},
      {"GetResponse", v1("fenwix", pdu(0xA2, {vb(kSysDescr)})), 0, 0, 0},
      {"Trap", v1("fenwix", tlv(0xA4, {0x06, 0x01, 0x2B})), 0, 0, 0},
      {"80 varbinds", v1("fenwix", pdu(0xA0, eighty)), 1, 0, 80},
      {"81 varbinds", v1("fenwix", pdu(0xA0, many)), 1, 9, 0},
      {"name not an OID", bad_name, 1, 9, 0},
      {"oversize SET value", big_value, 1, 9, 0},
      {"SET values beyond the value area", spread, 1, 9, 0},
      {"two messages in one datagram", cat({good, good}), 1, 0, 1},
  };
  for (const BadCase& c : cases) {
    g_settings.condition_delay[0] = 300;
    std::vector<Bytes> answers = send(c.datagram);
    ASSERT_EQ(int(answers.size()), c.answers) << c.what;
    EXPECT_EQ(g_settings.condition_delay[0], 300u) << c.what;
    if (answers.empty()) continue;
    Answer a = parse(answers[0]);
    EXPECT_EQ(a.error_status, c.error_status) << c.what;
    EXPECT_EQ(a.binds.size(), c.binds) << c.what;
  }
}

// ---- SNMPv3 ----

TEST_F(AgentTest, EngineIdFromTheFirstNonzeroMac) {
  EXPECT_EQ(Bytes(g_snmp_engine_id, g_snmp_engine_id + 11), kEngine);
}

TEST_F(AgentTest, DiscoveryIsAnsweredByAnUnauthenticatedReport) {
  V3Request v;
  v.user = "";
  v.engine = {};
  v.flags = 4;
  v.context = "";
  v.pdu = pdu(0xA0, {});
  for (int32_t expected = 1; expected <= 2; ++expected) {
    Answer a = ask_v3(v);
    EXPECT_EQ(a.flags, 0);
    EXPECT_EQ(a.msg_id, 0x4321);
    EXPECT_EQ(a.engine_id, kEngine);
    EXPECT_EQ(a.boots, g_snmp_agent.engine_boots);
    EXPECT_EQ(a.pdu, 0xA8);
    ASSERT_EQ(a.binds.size(), 1u);
    EXPECT_EQ(a.binds[0].name, stats(4));
    EXPECT_EQ(a.binds[0].number, expected);
  }
}

TEST_F(AgentTest, AuthPrivGetAndSet) {
  V3Request v;
  v.pdu = pdu(0xA0, {vb(kSysDescr), vb(E({9, 9, 0}))});
  Answer a = ask_v3(v);
  EXPECT_EQ(a.flags, 3);
  EXPECT_TRUE(a.digest_ok);
  EXPECT_EQ(a.context, "rt5830");
  EXPECT_EQ(a.pdu, 0xA2);
  EXPECT_EQ(a.error_status, 0);
  ASSERT_EQ(a.binds.size(), 2u);
  EXPECT_EQ(a.binds[0].text, "Vellmar");
  EXPECT_EQ(a.binds[1].tag, 0x80);   // noSuchObject, processing went on

  v.pdu = pdu(0xA3, {vb(E({2, 5, 0}), integer(45))});
  a = ask_v3(v);
  EXPECT_EQ(a.binds[0].number, 45);
  EXPECT_EQ(g_settings.condition_delay[1], 45u);
  EXPECT_NE(read_file(dir.file("agent.ini")).find("Battery Low Delay=45"), std::string::npos);

  v.pdu = pdu(0xA1, {vb(E({4, 3, 0}))});
  a = ask_v3(v);
  EXPECT_EQ(a.error_status, 0);
  EXPECT_EQ(a.binds[0].tag, 0x82);   // endOfMibView
}

struct WindowCase {
  int32_t boots_delta;
  int32_t time_delta;
  bool inside;
};

TEST_F(AgentTest, TimeWindowOfAuthenticatedRequests) {
  g_snmp_agent.engine_time = 1000;
  const WindowCase cases[] = {{0, 150, true}, {0, -150, true}, {0, 151, false}, {0, -151, false},
                              {1, 0, false},  {-1, 0, false}};
  for (const WindowCase& c : cases) {
    g_settings.condition_delay[0] = 300;
    V3Request v;
    v.boots = g_snmp_agent.engine_boots + c.boots_delta;
    v.time = 1000 + c.time_delta;
    v.pdu = pdu(0xA3, {vb(E({2, 3, 0}), integer(10))});
    Answer a = ask_v3(v);
    if (c.inside) {
      EXPECT_EQ(a.pdu, 0xA2);
      EXPECT_EQ(g_settings.condition_delay[0], 10u);
    } else {
      EXPECT_EQ(a.pdu, 0xA8) << c.boots_delta << " " << c.time_delta;
      EXPECT_EQ(a.flags, 1);   // authenticated, not encrypted
      EXPECT_TRUE(a.digest_ok);
      EXPECT_EQ(a.time, 1000);
      ASSERT_EQ(a.binds.size(), 1u);
      EXPECT_EQ(a.binds[0].name, stats(2));
      EXPECT_EQ(g_settings.condition_delay[0], 300u);
    }
  }
}

struct LevelCase {
  const char* what;
  V3Request request;
  Ids report;   // the usmStats counter of the Report
};

TEST_F(AgentTest, SecurityFailuresGetUnauthenticatedReportsAndChangeNothing) {
  Bytes set = pdu(0xA3, {vb(E({2, 2, 0}), integer(2))});
  V3Request base;
  base.pdu = set;
  V3Request noauth = base, authonly = base, wrong = base, empty_params = base, stranger = base, badpriv = base;
  noauth.flags = 4;
  authonly.flags = 5;
  wrong.auth = "wrongpass";
  empty_params.empty_auth_params = true;
  stranger.user = "stranger";
  badpriv.priv = "wrongpriv";
  V3Request foreign = base;
  foreign.engine = {0x80, 0, 0, 0, 1};
  const LevelCase cases[] = {
      {"no authentication for an authPriv user", noauth, stats(1)},
      {"no privacy for an authPriv user", authonly, stats(1)},
      {"wrong auth pass phrase", wrong, stats(5)},
      {"auth flag without parameters", empty_params, stats(5)},
      {"unknown user", stranger, stats(3)},
      {"wrong privacy pass phrase", badpriv, stats(6)},
      {"foreign engine id", foreign, stats(4)},
  };
  for (const LevelCase& c : cases) {
    Answer a = ask_v3(c.request);
    EXPECT_EQ(a.pdu, 0xA8) << c.what;
    EXPECT_EQ(a.flags, 0) << c.what;
    EXPECT_TRUE(a.auth_params.empty()) << c.what;
    ASSERT_EQ(a.binds.size(), 1u) << c.what;
    EXPECT_EQ(a.binds[0].name, c.report) << c.what;
    EXPECT_EQ(g_settings.condition_enable[0], 1) << c.what;
  }
}

TEST_F(AgentTest, UserOfLevelNoneNeedsNoTimeWindow) {
  g_usm.count = 2;
  text_copy8(g_usm.user[1], 17, "viewer");
  g_usm.security[1] = 0;
  g_usm.permission[1] = 1;
  V3Request v;
  v.user = "viewer";
  v.flags = 4;
  v.time = 30000;
  v.pdu = pdu(0xA3, {vb(E({2, 3, 0}), integer(10))});
  Answer a = ask_v3(v);
  EXPECT_EQ(a.pdu, 0xA2);
  EXPECT_EQ(a.flags, 0);
  EXPECT_EQ(a.error_status, 5);   // read only
  EXPECT_EQ(g_settings.condition_delay[0], 300u);
}

TEST_F(AgentTest, ContextNamesAcceptedAndRefused) {
  V3Request v;
  v.pdu = pdu(0xA0, {vb(kSysDescr)});
  v.context = "default";
  EXPECT_EQ(ask_v3(v).pdu, 0xA2);
  v.context = "";
  Answer a = ask_v3(v);
  EXPECT_EQ(a.pdu, 0xA0);   // sent back unprocessed
  EXPECT_EQ(a.binds[0].tag, 0x05);
  // The configured name is read when it is used.
  text_copy8(g_usm.context_name, 17, "longer-context");
  v.context = "longer-context";
  EXPECT_EQ(ask_v3(v).pdu, 0xA2);
  v.context = "rt5830";
  EXPECT_EQ(ask_v3(v).pdu, 0xA0);
}

TEST_F(AgentTest, SecondEntryOfTheSameNameWhenTheFirstHasNoPermission) {
  g_usm.count = 2;
  g_usm.user[1][0] = 0;
  std::memcpy(&g_usm.user[1], g_usm.user[0], 17);
  std::memcpy(&g_usm.auth[1], g_usm.auth[0], 17);
  std::memcpy(&g_usm.priv[1], g_usm.priv[0], 17);
  g_usm.security[1] = 2;
  g_usm.permission[1] = 2;
  g_usm.permission[0] = 0;
  text_copy8(g_usm.auth[0], 17, "otherpass");
  V3Request v;
  v.pdu = pdu(0xA3, {vb(E({2, 3, 0}), integer(11))});
  EXPECT_EQ(ask_v3(v).error_status, 0);
  EXPECT_EQ(g_settings.condition_delay[0], 11u);
}

TEST_F(AgentTest, SaltCountsUpFromTheCounter) {
  usm_set_salt_counter(55105);
  V3Request v;
  v.pdu = pdu(0xA0, {vb(kSysDescr)});
  Answer a = ask_v3(v);
  uint16_t boots = g_snmp_agent.engine_boots;
  EXPECT_EQ(a.priv_params, (Bytes{uint8_t(boots), 0x42, uint8_t(boots >> 8), 0xD7, 0, 0, 0, 0}));
  a = ask_v3(v);
  EXPECT_EQ(a.priv_params[1], 0x43);
}

TEST_F(AgentTest, BootsRiseAcrossStartsAndPersistOnTheirOwn) {
  uint16_t first = g_snmp_agent.engine_boots;
  EXPECT_EQ(read_file(dir.file("snmp_engine_boots.txt")), std::to_string(first) + "\r\n");
  snmp_agent_init(snmp_agent_mib_handler);
  EXPECT_EQ(g_snmp_agent.engine_boots, first + 1);
  EXPECT_EQ(read_file(dir.file("snmp_engine_boots.txt")), std::to_string(first + 1) + "\r\n");
  // A request captured before the restart is out of the window now.
  V3Request v;
  v.boots = first;
  v.pdu = pdu(0xA0, {vb(kSysDescr)});
  EXPECT_EQ(ask_v3(v).pdu, 0xA8);
}

TEST_F(AgentTest, BootsRaisedByTheTimeWrapAreSavedByThePoll) {
  uint16_t boots = g_snmp_agent.engine_boots;
  g_snmp_agent.engine_boots = uint16_t(boots + 1);   // the second timer wrapped engine time
  SnmpAgentApi.snmp_agent_poll();
  EXPECT_EQ(read_file(dir.file("snmp_engine_boots.txt")), std::to_string(boots + 1) + "\r\n");
}

TEST_F(AgentTest, KeysAreLocalisedOnceNotPerRequest) {
  uint32_t before = g_usm_key_localisations;
  V3Request v;
  v.pdu = pdu(0xA0, {vb(kSysDescr)});
  for (int i = 0; i < 3; ++i) ask_v3(v);
  EXPECT_EQ(g_usm_key_localisations, before);
  text_copy8(g_usm.auth[0], 17, "newpass12");
  v.auth = "newpass12";
  Answer a = parse(send(build_v3_request(v))[0], "newpass12");
  EXPECT_TRUE(a.digest_ok);
  EXPECT_EQ(g_usm_key_localisations, before + 1);
}

}  // namespace
