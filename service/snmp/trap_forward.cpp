// Trap forwarding: the agent address, the forward message of each version written backwards into
// a 1024-byte buffer, and the sends through the trap receiver's two sending sockets.
#include "service/snmp/trap_forward.h"

#include <cstring>

#include "common/settings.h"
#include "platform/clock.h"
#include "platform/inet.h"
#include "platform/socket.h"
#include "service/core/net_address.h"
#include "service/snmp/ber.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/snmp/trap_state.h"
#include "service/snmp/usm.h"

namespace {

enum : uint8_t {
  PDU_TRAP_V1 = 0xA4,
  PDU_TRAP_V2 = 0xA7,
  FLAG_AUTH = 0x01,
  FLAG_PRIV = 0x02,
};

const uint32_t kSysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const uint32_t kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const uint32_t kColdStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
const uint32_t kWarmStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 2};

uint8_t g_send_buffer[TRAP_FORWARD_BUFFER];
const uint8_t* g_forward_auth_key;   // keys of the user of the SNMPv3 forward being built
const uint8_t* g_forward_priv_key;

int32_t uptime_ticks() { return static_cast<int32_t>(clock_tick_count() / 10); }

// The first local address of the family whose prefix holds the given address (null: any).
bool pick_address(uint16_t family, const uint8_t* match, uint8_t out[16], uint32_t* out_length) {
  int count = g_local_addresses.count < static_cast<int32_t>(LOCAL_ADDRESS_MAX) ? g_local_addresses.count
                                                                                  : static_cast<int32_t>(LOCAL_ADDRESS_MAX);
  for (int i = 0; i < count; ++i) {
    const LocalAddress& e = g_local_addresses.entries[i];
    if (net_local_family(&e) != family) continue;
    uint8_t address[16];
    uint32_t n = net_local_address(&e, address);
    if (n == 0) continue;
    if (match != nullptr && !net_prefix_match(address, static_cast<int32_t>(e.prefix_len), match, n)) continue;
    std::memcpy(out, address, n);
    *out_length = n;
    return true;
  }
  return false;
}

// The content of an SNMPv2-Trap PDU: request id 1005, no error, sysUpTime.0 and snmpTrapOID.0.
void put_v2_trap_pdu(BerWriter* w) {
  uint32_t trap_oid[12];
  uint32_t trap_count;
  if (TrapState.generic_trap == 0 || TrapState.generic_trap == 1) {
    std::memcpy(trap_oid, TrapState.generic_trap == 0 ? kColdStart : kWarmStart, sizeof kColdStart);
    trap_count = 10;
  } else {
    const uint32_t oid[12] = {1, 3, 6, 1, 4, 1, 7342, 2, g_trap_enterprise_tail[0], g_trap_enterprise_tail[1],
                              static_cast<uint32_t>(TrapState.specific_trap), 0};
    std::memcpy(trap_oid, oid, sizeof oid);
    trap_count = 12;
  }
  uint8_t* pdu_mark = w->pos;
  uint8_t* vb_mark = w->pos;
  ber_put_oid(w, trap_oid, trap_count);
  ber_put_oid(w, kSnmpTrapOid, sizeof kSnmpTrapOid / sizeof kSnmpTrapOid[0]);
  ber_put_wrap(w, BER_SEQUENCE, vb_mark);
  vb_mark = w->pos;
  ber_put_integer(w, BER_TIMETICKS, uptime_ticks());
  ber_put_oid(w, kSysUpTime, sizeof kSysUpTime / sizeof kSysUpTime[0]);
  ber_put_wrap(w, BER_SEQUENCE, vb_mark);
  ber_put_wrap(w, BER_SEQUENCE, pdu_mark);
  ber_put_integer(w, BER_INTEGER, 0);
  ber_put_integer(w, BER_INTEGER, 0);
  ber_put_integer(w, BER_INTEGER, 1005);
  ber_put_wrap(w, PDU_TRAP_V2, pdu_mark);
}

void put_v1_trap_pdu(BerWriter* w, const uint8_t* agent_address) {
  const uint32_t enterprise[10] = {1, 3, 6, 1, 4, 1, 7342, 2, g_trap_enterprise_tail[0], g_trap_enterprise_tail[1]};
  uint8_t* pdu_mark = w->pos;
  ber_put_header(w, BER_SEQUENCE, 0);
  ber_put_integer(w, BER_TIMETICKS, uptime_ticks());
  ber_put_integer(w, BER_INTEGER, TrapState.specific_trap);
  ber_put_integer(w, BER_INTEGER, TrapState.generic_trap);
  ber_put_octets(w, BER_IP_ADDRESS, agent_address, 4);
  ber_put_oid(w, enterprise, 10);
  ber_put_wrap(w, PDU_TRAP_V1, pdu_mark);
}

// The first configured user of the trap's user name, or -1.
int find_user() {
  const SnmpOctets& name = TrapState.user_name;
  int count = g_usm.count < USM_USER_MAX ? g_usm.count : USM_USER_MAX;
  for (int i = 0; i < count; ++i) {
    size_t n = strnlen(g_usm.user[i], sizeof g_usm.user[i]);
    if (n != 0 && n == name.length && std::memcmp(g_usm.user[i], name.data, n) == 0) return i;
  }
  return -1;
}

bool put_v3_message(BerWriter* w) {
  int u = find_user();
  if (u < 0) return false;
  uint8_t level = g_usm.security[u];
  uint8_t flags = level >= 2 ? (FLAG_AUTH | FLAG_PRIV) : level == 1 ? FLAG_AUTH : 0;
  if (flags && !trap_localize_forward_keys(static_cast<uint32_t>(u), g_snmp_engine_id, SNMP_ENGINE_ID_SIZE))
    return false;

  uint8_t* end = w->pos;
  uint8_t* scoped_mark = w->pos;
  put_v2_trap_pdu(w);
  uint32_t context_length = 0;
  const char* context = snmp_context_name(&context_length);
  ber_put_octets(w, BER_OCTET_STRING, reinterpret_cast<const uint8_t*>(context), context_length);
  ber_put_octets(w, BER_OCTET_STRING, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
  ber_put_wrap(w, BER_SEQUENCE, scoped_mark);
  uint8_t salt[USM_SALT_SIZE] = {};
  if ((flags & FLAG_PRIV) && w->ok) {
    size_t length = static_cast<size_t>(scoped_mark - w->pos);
    size_t pad = (8 - length % 8) % 8;
    uint8_t* p = ber_put_space(w, pad);
    if (p == nullptr) return false;
    std::memmove(p, p + pad, length);
    std::memset(p + length, 0, pad);
    usm_next_salt(g_snmp_agent.engine_boots, salt);
    usm_encrypt(p, length + pad, g_forward_priv_key, salt);
    ber_put_wrap(w, BER_OCTET_STRING, scoped_mark);
  }

  static const uint8_t kZeros[USM_DIGEST_SIZE] = {};
  uint8_t* security_mark = w->pos;
  ber_put_octets(w, BER_OCTET_STRING, salt, (flags & FLAG_PRIV) ? size_t{USM_SALT_SIZE} : size_t{0});
  ber_put_octets(w, BER_OCTET_STRING, kZeros, (flags & FLAG_AUTH) ? size_t{USM_DIGEST_SIZE} : size_t{0});
  uint8_t* digest = w->pos + 2;
  ber_put_octets(w, BER_OCTET_STRING, TrapState.user_name.data, TrapState.user_name.length);
  ber_put_integer(w, BER_INTEGER, g_snmp_agent.engine_time);
  ber_put_integer(w, BER_INTEGER, g_snmp_agent.engine_boots);
  ber_put_octets(w, BER_OCTET_STRING, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
  ber_put_wrap(w, BER_SEQUENCE, security_mark);
  ber_put_wrap(w, BER_OCTET_STRING, security_mark);

  uint8_t* global_mark = w->pos;
  ber_put_integer(w, BER_INTEGER, 3);
  ber_put_octets(w, BER_OCTET_STRING, &flags, 1);
  ber_put_integer(w, BER_INTEGER, TRAP_FORWARD_BUFFER);
  ber_put_integer(w, BER_INTEGER, TrapState.msg_id);
  ber_put_wrap(w, BER_SEQUENCE, global_mark);
  ber_put_integer(w, BER_INTEGER, 3);
  ber_put_wrap(w, BER_SEQUENCE, end);
  if (!w->ok) return false;
  if (flags & FLAG_AUTH) usm_sign(w->pos, static_cast<size_t>(end - w->pos), g_forward_auth_key, digest);
  return true;
}

}  // namespace

int trap_localize_forward_keys(uint32_t user, const uint8_t* engine_id, uint32_t engine_id_length) {
  if (engine_id_length > USM_ENGINE_ID_MAX) return 0;
  uint8_t n = static_cast<uint8_t>(engine_id_length);
  g_forward_priv_key = usm_local_key(user, true, engine_id, n);
  g_forward_auth_key = usm_local_key(user, false, engine_id, n);
  if (user >= USM_USER_MAX || g_forward_auth_key == nullptr) return 0;
  return g_usm.security[user] < 2 || g_forward_priv_key != nullptr;
}

int trap_encode_forward(const char* community, const uint8_t* agent_address, uint32_t address_length,
                        uint8_t* buffer, uint32_t* length) {
  BerWriter w = ber_writer(buffer, *length);
  uint8_t* end = w.pos;
  int32_t version = TrapState.version;
  if (version == 3) {
    if (!put_v3_message(&w)) return 0;
  } else if (version == 0 || version == 1) {
    if (version == 0) {
      // An SNMPv1 agent-addr holds an IPv4 address only.
      if (address_length != 4) return 0;
      put_v1_trap_pdu(&w, agent_address);
    } else {
      put_v2_trap_pdu(&w);
    }
    ber_put_octets(&w, BER_OCTET_STRING, reinterpret_cast<const uint8_t*>(community), strnlen(community, 17));
    ber_put_integer(&w, BER_INTEGER, version);
    ber_put_wrap(&w, BER_SEQUENCE, end);
  } else {
    return 0;
  }
  if (!w.ok) return 0;
  uint32_t size = static_cast<uint32_t>(end - w.pos);
  std::memmove(buffer, w.pos, size);
  *length = size;
  return 1;
}

void trap_forward_send(const uint8_t* agent_address, uint32_t address_length) {
  int count = g_forward_traps.count;
  int32_t source = TrapState.source_index;
  if (count == 0 || source < 0 || source >= SOURCE_IP_MAX) return;
  char community[sizeof g_source_ips.community[0] + 1];
  std::memcpy(community, g_source_ips.community[source], sizeof g_source_ips.community[0]);
  community[sizeof g_source_ips.community[0]] = 0;
  uint32_t length = sizeof g_send_buffer;
  if (!trap_encode_forward(community, agent_address, address_length, g_send_buffer, &length)) return;
  for (int i = 0; i < count; ++i) {
    char text[sizeof g_forward_traps.ip[0] + 1];
    std::memcpy(text, g_forward_traps.ip[i], sizeof g_forward_traps.ip[0]);
    text[sizeof g_forward_traps.ip[0]] = 0;
    uint8_t address[16];
    uint16_t family;
    if (net_parse_ipv4(address, text)) family = INET_FAMILY_IPV4;
    else if (net_parse_ipv6(address, text)) family = INET_FAMILY_IPV6;
    else continue;
    uint8_t to[INET_SOCKADDR_MAX];
    uint32_t to_length = inet_make_sockaddr(to, sizeof to, family, address, g_forward_traps.port[i], 0);
    int s = trap_send_socket(family);
    if (to_length == 0 || s == INVALID_SOCKET) continue;
    sock_sendto(s, g_send_buffer, static_cast<int>(length), to, to_length);
  }
}

void trap_forward(const uint8_t* sender) {
  uint8_t address[16];
  uint32_t length = 0;
  uint8_t from[16];
  uint16_t family = sender != nullptr ? inet_sockaddr_family(sender, INET_SOCKADDR_MAX) : 0;
  uint32_t from_length = family != 0 ? inet_sockaddr_address(sender, INET_SOCKADDR_MAX, from, nullptr, nullptr) : 0;
  bool found = from_length != 0 && pick_address(family, from, address, &length);
  if (!found) found = pick_address(INET_FAMILY_IPV4, nullptr, address, &length) ||
                      pick_address(INET_FAMILY_IPV6, nullptr, address, &length);
  if (found) trap_forward_send(address, length);
}
