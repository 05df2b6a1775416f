// SNMP agent engine: sockets and poll, SNMPv1 access by community and manager address, SNMPv3
// user-based security (engine id, boots and time, digest, privacy, time window, Reports), the
// varbind processing and the answer. Every element is read with the bounded BER reader inside the
// element that encloses it; answers are written backwards into the send buffer.
#include "service/snmp/snmp_agent.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/install.h"
#include "common/settings.h"
#include "platform/fs.h"
#include "platform/clock.h"
#include "platform/inet.h"
#include "platform/socket.h"
#include "service/core/listener_status.h"
#include "platform/window.h"
#include "service/core/net_address.h"
#include "service/events/event_defs.h"
#include "service/snmp/snmp_mib.h"
#include "service/snmp/usm.h"

SnmpAgentApiTable SnmpAgentApi;
uint32_t (*snmp_agent_clock_ms)() = clock_tick_count;
SnmpRequest g_snmp_request;
uint8_t g_snmp_engine_id[SNMP_ENGINE_ID_SIZE];
const char kSnmpFixedContext[8] = "default";

namespace {

enum : int { SOCKET_V4, SOCKET_V6 };

enum : uint8_t {
  FLAG_AUTH = 0x01,
  FLAG_PRIV = 0x02,
  FLAG_REPORTABLE = 0x04,
};

// The usmStats counters of the Reports.
enum ReportKind : int {
  REPORT_UNSUPPORTED_SEC_LEVEL,  // 1.3.6.1.6.3.15.1.1.1
  REPORT_NOT_IN_TIME_WINDOW,     // .2
  REPORT_UNKNOWN_USER,           // .3
  REPORT_UNKNOWN_ENGINE,         // .4
  REPORT_WRONG_DIGEST,           // .5
  REPORT_DECRYPTION_ERROR,       // .6
  REPORT_KINDS,
};

// What the decoding of a PDU found.
enum PduResult {
  PDU_NONE,        // not a request, or malformed before the varbinds: nothing is sent
  PDU_REQUEST,     // a decoded request
  PDU_REFUSED,     // too many varbinds or one that does not decode: error 9, no varbinds
};

const uint16_t kFamilies[2] = {INET_FAMILY_IPV4, INET_FAMILY_IPV6};
const uint32_t kEnterprise = 7342;

int g_sockets[2] = {INVALID_SOCKET, INVALID_SOCKET};
uint8_t g_bound_bits;
SnmpVarHandler g_handler;
uint8_t g_receive[SNMP_AGENT_DATAGRAM_MAX + 1];   // one byte more shows a datagram that is too long
uint8_t g_send[SNMP_AGENT_SEND_MAX];
uint16_t g_usm_stats[REPORT_KINDS];
uint16_t g_saved_boots;   // engine boots last written to the state file
WindowHandle g_notify_window;   // where the sockets' read notifications go, null for none
uint32_t g_notify_message;

// Storage of the request record's fields.
uint8_t g_community[SNMP_COMMUNITY_KEPT];
uint8_t g_flags[1];
uint8_t g_engine_id[SNMP_REQUEST_OCTETS];
uint8_t g_user_name[SNMP_REQUEST_OCTETS];
uint8_t g_auth_params[USM_DIGEST_SIZE];
uint8_t g_priv_params[USM_SALT_SIZE];
uint8_t g_context_engine_id[SNMP_REQUEST_OCTETS];
uint8_t g_context_name[SNMP_REQUEST_OCTETS];
uint32_t g_names[SNMP_MAX_VARBINDS][SNMP_OID_MAX];
uint8_t g_set_area[SNMP_SET_AREA];
uint32_t g_set_oids[SNMP_SET_AREA / 2];   // OBJECT IDENTIFIER values of a SetRequest

SnmpRequest& R = g_snmp_request;

size_t field_length(const char* text, size_t room) { return strnlen(text, room); }

void request_reset() {
  R.community = {g_community, 0};
  R.community_length = 0;
  R.msg_flags = {g_flags, 1};
  g_flags[0] = 0;
  R.msg_engine_id = {g_engine_id, 0};
  R.msg_engine_id_length = 0;
  R.user_name = {g_user_name, 0};
  R.user_name_length = 0;
  R.auth_params = {g_auth_params, 0};
  R.priv_params = {g_priv_params, 0};
  R.context_engine_id = {g_context_engine_id, 0};
  R.context_name = {g_context_name, 0};
  R.context_name_length = 0;
  R.set_used = 0;
  for (uint32_t i = 0; i < SNMP_MAX_VARBINDS; ++i) R.varbinds[i].name.ids = g_names[i];
}

// ---- Decoding ----

// Reads the element after a varbind's name without keeping it.
bool skip_element(BerReader* r) {
  uint8_t tag = 0;
  uint16_t length = 0;
  if (!ber_read_any_header(r, &tag, &length)) return false;
  r->pos += length;
  return true;
}

// One varbind into R.varbinds[i]; SET values go into the value area.
bool decode_varbind(BerReader* list, uint32_t i, uint32_t* oids_used) {
  BerReader vb;
  SnmpVarBind& b = R.varbinds[i];
  b.name.count = 0;
  if (!ber_read_inner(list, BER_SEQUENCE, &vb, BER_NOT_EMPTY)) return false;
  if (!ber_read_oid(&vb, &b.name, SNMP_OID_MAX)) return false;
  if (R.pdu_type != SNMP_PDU_SET) {
    b.tag = BER_NULL;
    return skip_element(&vb);
  }
  // A value is taken only while it leaves 10 bytes of the area free; no SET is applied unless
  // every value decoded.
  if (R.set_used + 10u > SNMP_SET_AREA) return false;
  b.value.octets = {g_set_area + R.set_used, 0};
  b.value.oid = {0, g_set_oids + *oids_used};
  uint16_t octet_room = static_cast<uint16_t>(SNMP_SET_AREA - 10u - R.set_used);
  uint32_t oid_room = SNMP_SET_AREA / 2 - *oids_used;
  if (!ber_read_value(&vb, &b, octet_room, oid_room)) return false;
  if (b.tag == BER_OCTET_STRING || b.tag == BER_IP_ADDRESS) R.set_used = static_cast<uint8_t>(R.set_used + b.value.octets.length);
  if (b.tag == BER_OID) {
    *oids_used += b.value.oid.count;
    // Two bytes of the area per sub-identifier.
    uint32_t used = R.set_used + 2u * b.value.oid.count;
    if (used > SNMP_SET_AREA) return false;
    R.set_used = static_cast<uint8_t>(used);
  }
  return true;
}

// The PDU of a request: Get, GetNext or Set, its three integers and the varbinds. The varbinds
// are counted inside their list only.
PduResult decode_pdu(BerReader* body) {
  int tag = ber_peek_tag(body);
  if (tag != SNMP_PDU_GET && tag != SNMP_PDU_GET_NEXT && tag != SNMP_PDU_SET) return PDU_NONE;
  BerReader pdu, list;
  if (!ber_read_inner(body, static_cast<uint8_t>(tag), &pdu, BER_NOT_EMPTY)) return PDU_NONE;
  R.pdu_type = static_cast<uint8_t>(tag);
  R.varbind_count = 0;
  if (!ber_read_integer(&pdu, BER_INTEGER, &R.request_id, BER_NOT_EMPTY) ||
      !ber_read_integer(&pdu, BER_INTEGER, &R.error_status, BER_NOT_EMPTY) ||
      !ber_read_integer(&pdu, BER_INTEGER, &R.error_index, BER_NOT_EMPTY) ||
      !ber_read_inner(&pdu, BER_SEQUENCE, &list, BER_MAY_BE_EMPTY))
    return PDU_NONE;

  uint32_t count = 0;
  for (BerReader probe = list; ber_reader_left(&probe) > 0; ++count) {
    BerReader unused;
    if (count == SNMP_MAX_VARBINDS || !ber_read_inner(&probe, BER_SEQUENCE, &unused, BER_MAY_BE_EMPTY))
      return PDU_REFUSED;
  }
  uint32_t oids_used = 0;
  for (uint32_t i = 0; i < count; ++i)
    if (!decode_varbind(&list, i, &oids_used)) return PDU_REFUSED;
  R.varbind_count = static_cast<uint16_t>(count);
  return PDU_REQUEST;
}

// ---- Processing ----

void handle_varbinds() {
  for (uint32_t i = 0; i < R.varbind_count; ++i) {
    SnmpVarBind& b = R.varbinds[i];
    if (!g_handler(&b)) {
      if (R.version == 3 && R.error_status == 0) {
        b.tag = R.pdu_type == SNMP_PDU_GET_NEXT ? BER_END_OF_MIB_VIEW : BER_NO_SUCH_OBJECT;
        continue;
      }
      R.error_status = 2;
    }
    if (R.error_status != 0) {
      R.error_index = static_cast<int32_t>(i + 1);
      return;
    }
  }
}

void process_varbinds() {
  if (R.error_status == 0) R.error_index = 0;
  bool set = R.pdu_type == SNMP_PDU_SET;
  if (set) snmp_mib_set_begin();
  handle_varbinds();
  if (!set || snmp_mib_set_commit() || R.error_status != 0) return;
  // The settings could not be stored: the SET is answered as failed (commitFailed, genErr in
  // SNMPv1) with the values in force, which are the stored ones again.
  R.pdu_type = SNMP_PDU_GET;
  for (uint32_t i = 0; i < R.varbind_count; ++i) g_handler(&R.varbinds[i]);
  R.pdu_type = SNMP_PDU_SET;
  R.error_status = R.version == 3 ? 14 : 5;
  R.error_index = 1;
}

// Marks a request as refused with error 9 and no varbinds.
void refuse_request() {
  R.error_status = 9;
  R.varbind_count = 0;
}

// ---- Encoding ----

// The PDU with R's type, integers and varbinds.
bool put_pdu(BerWriter* w) {
  uint8_t* pdu_mark = w->pos;
  for (uint32_t i = R.varbind_count; i > 0; --i) {
    const SnmpVarBind& b = R.varbinds[i - 1];
    uint8_t* mark = w->pos;
    ber_put_value(w, &b);
    ber_put_oid(w, b.name.ids, b.name.count);
    ber_put_wrap(w, BER_SEQUENCE, mark);
  }
  ber_put_wrap(w, BER_SEQUENCE, pdu_mark);
  ber_put_integer(w, BER_INTEGER, R.error_index);
  ber_put_integer(w, BER_INTEGER, R.error_status);
  ber_put_integer(w, BER_INTEGER, R.request_id);
  ber_put_wrap(w, R.pdu_type, pdu_mark);
  return w->ok;
}

void send_v1(SnmpAnswerSink sink, void* context) {
  BerWriter w = ber_writer(g_send, sizeof g_send);
  uint8_t* end = w.pos;
  put_pdu(&w);
  ber_put_octets(&w, BER_OCTET_STRING, R.community.data, R.community.length);
  ber_put_integer(&w, BER_INTEGER, 0);
  ber_put_wrap(&w, BER_SEQUENCE, end);
  if (w.ok) sink(w.pos, static_cast<uint32_t>(end - w.pos), context);
}

// The SNMPv3 message around R's PDU, with the given flags (authentication and privacy with the
// keys of the user in use).
void send_v3(uint8_t flags, SnmpAnswerSink sink, void* context) {
  const uint8_t* auth_key = nullptr;
  const uint8_t* priv_key = nullptr;
  if (flags & (FLAG_AUTH | FLAG_PRIV)) {
    if (R.user_index >= USM_USER_MAX) return;
    auth_key = usm_local_key(R.user_index, false, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
    if (auth_key == nullptr) return;
    if (flags & FLAG_PRIV) {
      priv_key = usm_local_key(R.user_index, true, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
      if (priv_key == nullptr) return;
    }
  }
  BerWriter w = ber_writer(g_send, sizeof g_send);
  uint8_t* end = w.pos;

  uint8_t* scoped_mark = w.pos;
  put_pdu(&w);
  ber_put_octets(&w, BER_OCTET_STRING, R.context_name.data, R.context_name.length);
  ber_put_octets(&w, BER_OCTET_STRING, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
  ber_put_wrap(&w, BER_SEQUENCE, scoped_mark);
  uint8_t salt[USM_SALT_SIZE] = {};
  if ((flags & FLAG_PRIV) && w.ok) {
    size_t length = static_cast<size_t>(scoped_mark - w.pos);
    size_t pad = (8 - length % 8) % 8;
    uint8_t* p = ber_put_space(&w, pad);
    if (p == nullptr) return;
    std::memmove(p, p + pad, length);
    std::memset(p + length, 0, pad);
    usm_next_salt(g_snmp_agent.engine_boots, salt);
    usm_encrypt(p, length + pad, priv_key, salt);
    ber_put_wrap(&w, BER_OCTET_STRING, scoped_mark);
  }

  uint8_t* security_mark = w.pos;
  static const uint8_t kZeros[USM_DIGEST_SIZE] = {};
  ber_put_octets(&w, BER_OCTET_STRING, salt, (flags & FLAG_PRIV) ? size_t{USM_SALT_SIZE} : size_t{0});
  ber_put_octets(&w, BER_OCTET_STRING, kZeros, (flags & FLAG_AUTH) ? size_t{USM_DIGEST_SIZE} : size_t{0});
  uint8_t* digest = w.pos + 2;
  ber_put_octets(&w, BER_OCTET_STRING, R.user_name.data, R.user_name.length);
  ber_put_integer(&w, BER_INTEGER, g_snmp_agent.engine_time);
  ber_put_integer(&w, BER_INTEGER, g_snmp_agent.engine_boots);
  ber_put_octets(&w, BER_OCTET_STRING, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
  ber_put_wrap(&w, BER_SEQUENCE, security_mark);
  ber_put_wrap(&w, BER_OCTET_STRING, security_mark);

  uint8_t* global_mark = w.pos;
  ber_put_integer(&w, BER_INTEGER, R.msg_security_model);
  ber_put_octets(&w, BER_OCTET_STRING, &flags, 1);
  ber_put_integer(&w, BER_INTEGER, SNMP_AGENT_SEND_MAX);
  ber_put_integer(&w, BER_INTEGER, R.msg_id);
  ber_put_wrap(&w, BER_SEQUENCE, global_mark);
  ber_put_integer(&w, BER_INTEGER, 3);
  ber_put_wrap(&w, BER_SEQUENCE, end);
  if (!w.ok) return;

  uint32_t length = static_cast<uint32_t>(end - w.pos);
  if (R.msg_max_size > 0 && length > static_cast<uint32_t>(R.msg_max_size)) return;
  if (flags & FLAG_AUTH) usm_sign(w.pos, length, auth_key, digest);
  sink(w.pos, length, context);
}

// A Report of the counter; only a notInTimeWindows Report is authenticated, never encrypted.
// The counter is named with its instance (.0), as managers look it up.
void send_report(ReportKind kind, SnmpAnswerSink sink, void* context) {
  static const uint32_t kCounterOid[11] = {1, 3, 6, 1, 6, 3, 15, 1, 1, 0, 0};
  ++g_usm_stats[kind];
  R.pdu_type = SNMP_PDU_REPORT;
  R.error_status = 0;
  R.error_index = 0;
  R.varbind_count = 1;
  SnmpVarBind& b = R.varbinds[0];
  std::memcpy(b.name.ids, kCounterOid, sizeof kCounterOid);
  b.name.ids[9] = static_cast<uint32_t>(kind + 1);
  b.name.count = 11;
  b.tag = BER_INTEGER;
  b.value.integer = g_usm_stats[kind];
  send_v3(kind == REPORT_NOT_IN_TIME_WINDOW ? FLAG_AUTH : 0, sink, context);
}

// ---- SNMPv1 ----

// The permission of the first manager entry that matches the community and sender: 1, 2, or
// 0 when none matches or the entry refuses.
int v1_permission(const uint8_t* sender, uint32_t sender_length) {
  uint8_t address[16];
  uint32_t address_length = inet_sockaddr_address(sender, sender_length, address, nullptr, nullptr);
  if (address_length != 4 && address_length != 16) return 0;
  int count = g_snmp_agent.count;
  for (int i = 0; i < count; ++i) {
    size_t n = field_length(g_snmp_agent.community[i], sizeof g_snmp_agent.community[i]);
    if (n != R.community_length || std::memcmp(g_snmp_agent.community[i], R.community.data, n) != 0) continue;
    char text[sizeof g_snmp_agent.ip[0] + 1];
    std::memcpy(text, g_snmp_agent.ip[i], sizeof g_snmp_agent.ip[0]);
    text[sizeof g_snmp_agent.ip[0]] = 0;
    uint8_t listed[16];
    int ok = address_length == 4 ? net_parse_ipv4(listed, text) : net_parse_ipv6(listed, text);
    if (!ok) continue;
    static const uint8_t kAny[16] = {};
    if (std::memcmp(listed, address, address_length) != 0 && std::memcmp(listed, kAny, address_length) != 0) continue;
    uint8_t permission = g_snmp_agent.permission[i];
    return permission == 1 || permission == 2 ? permission : 0;
  }
  return 0;
}

int handle_v1(BerReader* msg, const uint8_t* sender, uint32_t sender_length, SnmpAnswerSink sink, void* context) {
  uint16_t community_length = 0;
  if (!ber_read_octets(msg, BER_OCTET_STRING, &R.community, SNMP_COMMUNITY_KEPT, &community_length,
                       BER_MAY_BE_EMPTY) ||
      community_length == 0)
    return 1;
  R.community_length = community_length;
  PduResult result = decode_pdu(msg);
  if (result == PDU_NONE) return 1;
  int permission = v1_permission(sender, sender_length);
  if (permission == 0) return 0;
  if (result == PDU_REFUSED) refuse_request();
  else if (R.pdu_type == SNMP_PDU_SET && permission < 2) R.error_status = 5;
  else process_varbinds();
  R.pdu_type = SNMP_PDU_RESPONSE;
  send_v1(sink, context);
  return 1;
}

// ---- SNMPv3 ----

// The first configured user of the received name with a permission, or 255.
uint8_t find_user() {
  if (R.user_name_length == 0 || R.user_name_length > USM_PASS_MAX) return 255;
  int count = g_usm.count < USM_USER_MAX ? g_usm.count : USM_USER_MAX;
  for (int i = 0; i < count; ++i) {
    size_t n = field_length(g_usm.user[i], sizeof g_usm.user[i]);
    if (n == R.user_name_length && std::memcmp(g_usm.user[i], R.user_name.data, n) == 0 && g_usm.permission[i] != 0)
      return static_cast<uint8_t>(i);
  }
  return 255;
}

// The context name and request id of a plain scoped PDU, for a Report sent before the PDU is
// decoded; the request id stays `fallback` when they cannot be read.
void peek_plain_pdu(BerReader rest, int32_t fallback) {
  R.request_id = fallback;
  BerReader scoped, pdu;
  uint16_t full = 0;
  if (!ber_read_inner(&rest, BER_SEQUENCE, &scoped, BER_NOT_EMPTY) ||
      !ber_read_octets(&scoped, BER_OCTET_STRING, &R.context_engine_id, SNMP_REQUEST_OCTETS, nullptr, BER_MAY_BE_EMPTY) ||
      !ber_read_octets(&scoped, BER_OCTET_STRING, &R.context_name, SNMP_REQUEST_OCTETS, &full, BER_MAY_BE_EMPTY))
    return;
  R.context_name_length = full;
  int tag = ber_peek_tag(&scoped);
  int32_t id = 0;
  if (tag >= 0xA0 && tag <= 0xA8 && ber_read_inner(&scoped, static_cast<uint8_t>(tag), &pdu, BER_NOT_EMPTY) &&
      ber_read_integer(&pdu, BER_INTEGER, &id, BER_NOT_EMPTY))
    R.request_id = id;
}

bool context_accepted() {
  uint32_t n = 0;
  const char* configured = snmp_context_name(&n);
  if (R.context_name_length == n && std::memcmp(R.context_name.data, configured, n) == 0) return true;
  uint32_t fixed = sizeof kSnmpFixedContext - 1;
  return R.context_name_length == fixed && std::memcmp(R.context_name.data, kSnmpFixedContext, fixed) == 0;
}

bool in_time_window() {
  if (R.msg_engine_boots != g_snmp_agent.engine_boots) return false;
  int32_t diff = R.msg_engine_time - static_cast<int32_t>(g_snmp_agent.engine_time);
  return diff >= -static_cast<int32_t>(SNMP_TIME_WINDOW) && diff <= static_cast<int32_t>(SNMP_TIME_WINDOW);
}

void handle_v3(uint8_t* message, uint32_t message_length, BerReader* msg, SnmpAnswerSink sink, void* context) {
  BerReader global, wrapped, security;
  uint16_t flags_length = 0;
  if (!ber_read_inner(msg, BER_SEQUENCE, &global, BER_NOT_EMPTY) ||
      !ber_read_integer(&global, BER_INTEGER, &R.msg_id, BER_NOT_EMPTY) ||
      !ber_read_integer(&global, BER_INTEGER, &R.msg_max_size, BER_NOT_EMPTY) ||
      !ber_read_octets(&global, BER_OCTET_STRING, &R.msg_flags, 1, &flags_length, BER_NOT_EMPTY) || flags_length != 1 ||
      !ber_read_integer(&global, BER_INTEGER, &R.msg_security_model, BER_NOT_EMPTY) ||
      !ber_read_inner(msg, BER_OCTET_STRING, &wrapped, BER_NOT_EMPTY) ||
      !ber_read_inner(&wrapped, BER_SEQUENCE, &security, BER_NOT_EMPTY))
    return;
  uint16_t engine_length = 0, user_length = 0, auth_length = 0, priv_length = 0;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &R.msg_engine_id, SNMP_REQUEST_OCTETS, &engine_length,
                       BER_MAY_BE_EMPTY) ||
      !ber_read_integer(&security, BER_INTEGER, &R.msg_engine_boots, BER_MAY_BE_EMPTY) ||
      !ber_read_integer(&security, BER_INTEGER, &R.msg_engine_time, BER_MAY_BE_EMPTY) ||
      !ber_read_octets(&security, BER_OCTET_STRING, &R.user_name, SNMP_REQUEST_OCTETS, &user_length, BER_MAY_BE_EMPTY))
    return;
  R.msg_engine_id_length = engine_length;
  R.user_name_length = user_length;
  BerReader auth = security;
  if (!ber_read_header(&auth, BER_OCTET_STRING, &auth_length) || (auth_length != 0 && auth_length != USM_DIGEST_SIZE))
    return;
  uint8_t* digest = message + (auth.pos - message);
  ber_copy_octets(digest, &R.auth_params, auth_length);
  security.pos = auth.pos + auth_length;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &R.priv_params, USM_SALT_SIZE, &priv_length, BER_MAY_BE_EMPTY) ||
      (priv_length != 0 && priv_length != USM_SALT_SIZE))
    return;

  uint8_t flags = R.msg_flags.data[0];
  bool auth_flag = flags & FLAG_AUTH, priv_flag = flags & FLAG_PRIV;
  if (priv_flag && !auth_flag) return;

  if (engine_length != SNMP_ENGINE_ID_SIZE || std::memcmp(R.msg_engine_id.data, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE) != 0) {
    peek_plain_pdu(*msg, 0);
    send_report(REPORT_UNKNOWN_ENGINE, sink, context);
    return;
  }
  R.user_index = find_user();
  if (R.user_index == 255) {
    peek_plain_pdu(*msg, 1005);
    send_report(REPORT_UNKNOWN_USER, sink, context);
    return;
  }
  // The request's level must meet the user's, and a claimed level needs its pass phrase.
  uint8_t u = R.user_index;
  uint8_t level = g_usm.security[u];
  if ((level >= 1 && !auth_flag) || (level >= 2 && !priv_flag) ||
      (auth_flag && field_length(g_usm.auth[u], sizeof g_usm.auth[u]) == 0) ||
      (priv_flag && field_length(g_usm.priv[u], sizeof g_usm.priv[u]) == 0)) {
    peek_plain_pdu(*msg, 0);
    send_report(REPORT_UNSUPPORTED_SEC_LEVEL, sink, context);
    return;
  }
  if (auth_flag) {
    peek_plain_pdu(*msg, 0);
    const uint8_t* key = usm_local_key(u, false, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
    if (auth_length != USM_DIGEST_SIZE) {
      send_report(REPORT_WRONG_DIGEST, sink, context);
      return;
    }
    std::memset(digest, 0, USM_DIGEST_SIZE);
    if (key == nullptr || !usm_digest_ok(message, message_length, key, R.auth_params.data)) {
      send_report(REPORT_WRONG_DIGEST, sink, context);
      return;
    }
    if (!in_time_window()) {
      send_report(REPORT_NOT_IN_TIME_WINDOW, sink, context);
      return;
    }
  }

  BerReader body = *msg;
  if (priv_flag) {
    BerReader encrypted;
    const uint8_t* key = usm_local_key(u, true, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
    if (priv_length != USM_SALT_SIZE || key == nullptr ||
        !ber_read_inner(&body, BER_OCTET_STRING, &encrypted, BER_NOT_EMPTY) ||
        ber_reader_left(&encrypted) % 8 != 0) {
      send_report(REPORT_DECRYPTION_ERROR, sink, context);
      return;
    }
    usm_decrypt(message + (encrypted.pos - message), ber_reader_left(&encrypted), key, R.priv_params.data);
    body = encrypted;
  }
  BerReader scoped;
  uint16_t context_length = 0;
  if (!ber_read_inner(&body, BER_SEQUENCE, &scoped, BER_NOT_EMPTY) ||
      !ber_read_octets(&scoped, BER_OCTET_STRING, &R.context_engine_id, SNMP_REQUEST_OCTETS, nullptr, BER_MAY_BE_EMPTY) ||
      !ber_read_octets(&scoped, BER_OCTET_STRING, &R.context_name, SNMP_REQUEST_OCTETS, &context_length,
                       BER_MAY_BE_EMPTY)) {
    if (priv_flag) send_report(REPORT_DECRYPTION_ERROR, sink, context);
    return;
  }
  R.context_name_length = context_length;
  PduResult result = decode_pdu(&scoped);
  if (result == PDU_NONE) return;
  uint8_t answer_flags = static_cast<uint8_t>(flags & (FLAG_AUTH | FLAG_PRIV));
  if (result == PDU_REFUSED) {
    refuse_request();
  } else if (!context_accepted()) {
    send_v3(answer_flags, sink, context);   // sent back unprocessed, as decoded
    return;
  } else if (R.pdu_type == SNMP_PDU_SET && g_usm.permission[u] < 2) {
    R.error_status = 5;
  } else {
    process_varbinds();
  }
  R.pdu_type = SNMP_PDU_RESPONSE;
  send_v3(answer_flags, sink, context);
}

// ---- Engine boots state ----

uint16_t read_saved_boots() {
  char path[300];
  if (!snmp_engine_state_path(path, sizeof path)) return 0;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return 0;
  char text[16] = {};
  size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  text[n] = 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || value > 0xFFFF) return 0;
  return static_cast<uint16_t>(value);
}

void save_boots() {
  char path[300];
  g_saved_boots = g_snmp_agent.engine_boots;
  if (!snmp_engine_state_path(path, sizeof path)) return;
  char text[16];
  int n = std::snprintf(text, sizeof text, "%u\r\n", static_cast<unsigned>(g_saved_boots));
  fs_replace_file(path, text, static_cast<size_t>(n));
}

// ---- Table operations ----

void agent_close() {
  for (int& s : g_sockets) {
    if (s != INVALID_SOCKET) sock_close(s);
    s = INVALID_SOCKET;
  }
  listener_closed(LISTENER_SNMP_V4);
  listener_closed(LISTENER_SNMP_V6);
}

void append_text(char16_t* out, size_t room, size_t* n, const char16_t* text) {
  while (*text && *n + 1 < room) out[(*n)++] = *text++;
  out[*n] = 0;
}

void agent_open() {
  uint8_t bits = g_bound_bits;
  bool due = false;
  char16_t text[40];
  size_t n = 0;
  text[0] = 0;
  static const char16_t* const kOk[2] = {u"IPv4-SNMP: OK", u" IPv6-SNMP: OK"};
  static const char16_t* const kNok[2] = {u"IPv4-SNMP: NOK", u" IPv6-SNMP: NOK"};
  for (int f = SOCKET_V4; f <= SOCKET_V6; ++f) {
    if (g_sockets[f] != INVALID_SOCKET) continue;
    int s = sock_udp_open(kFamilies[f]);
    if (s == INVALID_SOCKET) continue;
    int id = f == SOCKET_V4 ? LISTENER_SNMP_V4 : LISTENER_SNMP_V6;
    if (sock_bind(s, kFamilies[f], nullptr, g_snmp_agent.listen_port)) {
      g_sockets[f] = s;
      if (g_notify_window != nullptr) win_async_select(s, g_notify_window, g_notify_message, FD_READ);
      bits = static_cast<uint8_t>(bits | (1u << f));
      append_text(text, 40, &n, kOk[f]);
      due = listener_opened(id) || due;
    } else {
      due = listener_failed(id, g_snmp_agent.listen_port, sock_last_error()) || due;
      sock_close(s);
      append_text(text, 40, &n, kNok[f]);
    }
  }
  g_bound_bits = bits;
  // Logged the first time each socket binds or fails, and again only when that changes.
  if (n == 0 || !due) return;
  if (EventApi.evt_log != nullptr) EventApi.evt_log(u"0.0.0.0", EVENT_LEVEL_SYSTEM, text, nullptr);
}

struct SocketAnswer {
  int socket;
  const uint8_t* to;
  uint32_t to_length;
};

void send_to_sender(const uint8_t* answer, uint32_t length, void* context) {
  const SocketAnswer* a = static_cast<const SocketAnswer*>(context);
  sock_sendto(a->socket, answer, static_cast<int>(length), a->to, a->to_length);
}

// Datagrams one socket answers per pass, and the time a pass may take, so that a flood on the
// port cannot hold the loop; what is left brings the next notification or waits for the poll.
constexpr int kPassDatagrams = 32;
constexpr uint32_t kPassMs = 2;

// Answers what waits on one socket, within the budget. A datagram that is refused, malformed or
// of a bad length is dropped and the pass goes on with the next one.
void answer_waiting(int s) {
  uint32_t started = snmp_agent_clock_ms();
  for (int i = 0; i < kPassDatagrams; ++i) {
    if (i > 0 && snmp_agent_clock_ms() - started >= kPassMs) return;
    uint8_t from[INET_SOCKADDR_MAX];
    uint32_t from_length = 0;
    int n = sock_recvfrom(s, g_receive, sizeof g_receive, from, &from_length);
    if (n < 0) {
      if (sock_last_error() == SOCK_EWOULDBLOCK) return;
      continue;   // an error the socket reported (an ICMP answer to an earlier send)
    }
    if (n == 0 || n > static_cast<int>(SNMP_AGENT_DATAGRAM_MAX)) continue;
    // An answer that carries a new boots value goes only after the value is saved.
    if (g_snmp_agent.engine_boots != g_saved_boots) save_boots();
    SocketAnswer answer = {s, from, from_length};
    snmp_agent_handle(g_receive, static_cast<uint32_t>(n), from, from_length, send_to_sender, &answer);
  }
}

void agent_poll() {
  if (g_snmp_agent.engine_boots != g_saved_boots) save_boots();
  for (int s : g_sockets)
    if (s != INVALID_SOCKET) answer_waiting(s);
}

void localize_keys() {
  // The keys are made again for every pass phrase that changed; those of users that no longer
  // qualify are dropped.
  usm_local_keys_clear();
  int count = g_usm.count < USM_USER_MAX ? g_usm.count : USM_USER_MAX;
  for (int i = 0; i < count; ++i) {
    if (g_usm.security[i] >= 1) usm_local_key(static_cast<uint32_t>(i), false, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
    if (g_usm.security[i] >= 2) usm_local_key(static_cast<uint32_t>(i), true, g_snmp_engine_id, SNMP_ENGINE_ID_SIZE);
  }
  R.user_index = 255;
}

}  // namespace

void snmp_build_engine_id() {
  g_snmp_engine_id[0] = static_cast<uint8_t>(0x80 | (kEnterprise >> 24));
  g_snmp_engine_id[1] = static_cast<uint8_t>(kEnterprise >> 16);
  g_snmp_engine_id[2] = static_cast<uint8_t>(kEnterprise >> 8);
  g_snmp_engine_id[3] = static_cast<uint8_t>(kEnterprise);
  g_snmp_engine_id[4] = 3;
  std::memset(g_snmp_engine_id + 5, 0, 6);
  static const uint8_t kZeroMac[6] = {};
  int count = g_local_addresses.count < static_cast<int32_t>(LOCAL_ADDRESS_MAX) ? g_local_addresses.count
                                                                                  : static_cast<int32_t>(LOCAL_ADDRESS_MAX);
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(g_local_addresses.entries[i].mac, kZeroMac, 6) != 0) {
      std::memcpy(g_snmp_engine_id + 5, g_local_addresses.entries[i].mac, 6);
      return;
    }
  }
}

const char* snmp_context_name(uint32_t* length) {
  *length = static_cast<uint32_t>(field_length(g_usm.context_name, sizeof g_usm.context_name));
  return g_usm.context_name;
}

bool snmp_engine_state_path(char* out, uint32_t room) { return cfg_install_file(out, room, "snmp_engine_boots.txt"); }

int snmp_agent_handle(uint8_t* datagram, uint32_t length, const uint8_t* sender, uint32_t sender_length,
                      SnmpAnswerSink sink, void* context) {
  request_reset();
  BerReader whole = ber_reader(datagram, length);
  BerReader msg;
  // Only the first message of a datagram is read; what follows it is ignored.
  if (!ber_read_inner(&whole, BER_SEQUENCE, &msg, BER_NOT_EMPTY)) return 1;
  uint32_t message_length = static_cast<uint32_t>(whole.pos - datagram);
  if (!ber_read_integer(&msg, BER_INTEGER, &R.version, BER_NOT_EMPTY)) return 1;
  if (R.version == 0) return handle_v1(&msg, sender, sender_length, sink, context);
  if (R.version == 3) handle_v3(datagram, message_length, &msg, sink, context);
  return 1;
}

void snmp_agent_notify_to(WindowHandle window, uint32_t message) {
  g_notify_window = window;
  g_notify_message = message;
}

void snmp_agent_on_socket(uintptr_t socket, intptr_t) {
  for (int s : g_sockets)
    if (s != INVALID_SOCKET && uintptr_t(s) == socket) answer_waiting(s);
}

void snmp_agent_init(SnmpVarHandler handler) {
  // Boots rise across starts, so an authenticated request captured before a restart is stale.
  uint16_t saved = read_saved_boots();
  g_snmp_agent.engine_time = 0;
  g_snmp_agent.engine_boots = saved == 0xFFFF ? saved : static_cast<uint16_t>(saved + 1);
  save_boots();
  snmp_build_engine_id();
  localize_keys();
  request_reset();
  g_handler = handler;
  SnmpAgentApi = SnmpAgentApiTable{agent_close,       agent_open,          agent_poll,    localize_keys,
                                   snmp_mib_register, snmp_mib_unregister, snmp_mib_find, snmp_mib_find_next};
}
