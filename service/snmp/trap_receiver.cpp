// Trap receiver: the two listeners and two sending sockets of the trap port, the poll that drains
// each listener, and the decoder of SNMPv1, SNMPv2c and SNMPv3 traps. Every element is
// read with the bounded BER reader inside the element that encloses it; a message that does not
// fit is dropped. SNMPv3 keys are localised once per user, engine id and pass phrase and cached.
#include "service/snmp/trap_receiver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_ranges.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/inet.h"
#include "platform/socket.h"
#include "service/core/listener_status.h"
#include "service/core/net_address.h"
#include "service/events/event_defs.h"
#include "service/snmp/ber.h"
#include "service/snmp/trap_forward.h"
#include "service/snmp/trap_state.h"
#include "service/snmp/usm.h"

TrapReceiverApiTable TrapReceiverApi;
uint8_t g_trap_open_bits;
void (*g_trap_process)();
uint32_t g_trap_key_localisations;
int64_t (*g_trap_clock)() = clock_unix_seconds;

namespace {

enum : int { LISTEN_V4, LISTEN_V6, SEND_V4, SEND_V6, SOCKET_COUNT };

enum : uint32_t {
  TEXT_ROOM = 32,        // bytes kept of a community or a text value
  ENGINE_ID_MAX = 32,    // longest SnmpEngineID
  FIELD_TEXT_MAX = 16,   // characters of a 17-byte settings text
  ADDRESS_TEXT_ROOM = 64,
};

enum : uint8_t {
  PDU_TRAP_V1 = 0xA4,
  PDU_TRAP_V2 = 0xA7,
  FLAG_AUTH = 0x01,
  FLAG_PRIV = 0x02,
};

const uint16_t kFamilies[2] = {INET_FAMILY_IPV4, INET_FAMILY_IPV6};

int g_sockets[SOCKET_COUNT] = {INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET, INVALID_SOCKET};
uint8_t g_datagram[TRAP_DATAGRAM_MAX];
char g_trace_path[512];   // VELLMAR_TRAP_TRACE at trap_init, "" for none

// The record a message is decoded into; it becomes TrapState only when the trap is accepted.
uint8_t g_scratch_flags[1];
uint8_t g_scratch_engine_id[TRAP_OCTETS_MAX];
uint8_t g_scratch_auth_params[TRAP_OCTETS_MAX];
uint8_t g_scratch_user_name[TRAP_OCTETS_MAX];
uint8_t g_scratch_priv_params[TRAP_OCTETS_MAX];
TrapStateRecord g_scratch = {0,  -1, 0, 0, 0, 0, 0, {g_scratch_flags, 1}, {g_scratch_engine_id, 0},
                             {g_scratch_auth_params, 0}, {g_scratch_user_name, 0},
                             {g_scratch_priv_params, 0}};
uint32_t g_scratch_tail[2];

// The address trap_match_source was given last (4 or 16 bytes; 0 for none).
uint8_t g_match_address[16];
uint32_t g_match_length;

// ---- Refused traps ----

// Why the message being decoded was refused; null when it was not, or was only malformed.
const char* g_refusal;

bool refuse(const char* reason) {
  g_refusal = reason;
  return false;
}

// Refusals since the last line: the count, and the last one's reason and sender.
struct Refusals {
  uint32_t count;
  const char* reason;
  uint8_t address[16];
  uint32_t address_length;
  bool logged;        // a line has been logged since start
  int64_t logged_at;  // g_trap_clock of that line
};
Refusals g_refusals;

constexpr int64_t kNoticeSeconds = 60;

bool notice_due(bool logged, int64_t at, int64_t now) {
  return !logged || now - at >= kNoticeSeconds || now < at;
}

void to_text16(const char* text, char16_t* out, size_t room) {
  size_t i = 0;
  for (; text[i] && i + 1 < room; ++i) out[i] = static_cast<unsigned char>(text[i]);
  out[i] = 0;
}

void address_text(const uint8_t* address, uint32_t length, char16_t* out, uint32_t room) {
  uint8_t sa[INET_SOCKADDR_MAX];
  uint16_t family = length == 4 ? INET_FAMILY_IPV4 : INET_FAMILY_IPV6;
  uint32_t n = length == 4 || length == 16 ? inet_make_sockaddr(sa, sizeof sa, family, address, 0, 0) : 0;
  if (n == 0 || !inet_address_to_string(sa, n, out, room)) to_text16("?", out, room);
}

// At most one line a minute: the last refusal and how many came since the previous line.
void refusals_notice() {
  if (g_refusals.count == 0) return;
  int64_t now = g_trap_clock();
  if (!notice_due(g_refusals.logged, g_refusals.logged_at, now)) return;
  char16_t reason[40], address[ADDRESS_TEXT_ROOM], count[12];
  to_text16(g_refusals.reason, reason, 40);
  address_text(g_refusals.address, g_refusals.address_length, address, ADDRESS_TEXT_ROOM);
  char digits[12];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(g_refusals.count));
  to_text16(digits, count, 12);
  g_refusals.count = 0;
  g_refusals.logged = true;
  g_refusals.logged_at = now;
  if (EventApi.evt_log != nullptr)
    EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, EVT_COMMON_TRAPS_REFUSED),
                     evt_name(EVT_GROUP_COMMON, EVT_COMMON_TRAPS_REFUSED), reason, address, count, nullptr);
}

void note_refusal(const char* reason, const uint8_t* address, uint32_t length) {
  ++g_refusals.count;
  g_refusals.reason = reason;
  std::memcpy(g_refusals.address, address, sizeof g_refusals.address);
  g_refusals.address_length = length;
}

// ---- Engines of SNMPv3 senders ----

enum : uint32_t {
  ENGINES_MAX = 64,                 // senders remembered; the one heard from longest ago makes room
  ENGINE_TIME_WINDOW = 150,         // seconds an engine time may lag behind the sender's clock
  ENGINES_SAVE_SECONDS = 60,        // a newer engine time alone is saved at most this often
  ENGINES_FILE_MAX = ENGINES_MAX * 120,
};

// The highest boots of one sender engine, the engine time last taken and the wall-clock second it
// came, so that the sender's clock can be told at any moment.
struct EngineSeen {
  uint8_t id[ENGINE_ID_MAX];
  uint8_t id_length;
  int32_t boots;
  int32_t time;
  int64_t arrived;
  bool refusal_logged;
  int64_t refusal_logged_at;
};

EngineSeen g_engines[ENGINES_MAX];
uint32_t g_engine_count;
bool g_engines_dirty;         // a newer engine time waits to be saved
int64_t g_engines_saved_at;
char g_engines_path[300];     // "" while no installation folder is known

bool hex_digit(char c, uint8_t* v) {
  if (c >= '0' && c <= '9') *v = static_cast<uint8_t>(c - '0');
  else if (c >= 'a' && c <= 'f') *v = static_cast<uint8_t>(c - 'a' + 10);
  else if (c >= 'A' && c <= 'F') *v = static_cast<uint8_t>(c - 'A' + 10);
  else return false;
  return true;
}

// A decimal number of [p, end) up to the next space or line end, within [low, high].
bool read_number(const char** p, const char* end, int64_t low, int64_t high, int64_t* out) {
  const char* q = *p;
  while (q < end && *q != ' ' && *q != '\r') ++q;
  int64_t value = 0;
  if (settings_parse_decimal(*p, static_cast<size_t>(q - *p), &value) != SETTING_OK) return false;
  if (value < low || value > high) return false;
  *p = q;
  *out = value;
  return true;
}

// One line "<engine id hex> <boots> <time> <arrived>"; false when it does not read so.
bool read_engine_line(const char* p, const char* end, EngineSeen* e) {
  const char* hex = p;
  while (p < end && *p != ' ') ++p;
  size_t digits = static_cast<size_t>(p - hex);
  if (digits == 0 || digits % 2 != 0 || digits / 2 > ENGINE_ID_MAX) return false;
  for (size_t i = 0; i < digits / 2; ++i) {
    uint8_t hi = 0, lo = 0;
    if (!hex_digit(hex[2 * i], &hi) || !hex_digit(hex[2 * i + 1], &lo)) return false;
    e->id[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  e->id_length = static_cast<uint8_t>(digits / 2);
  int64_t boots = 0, time = 0, arrived = 0;
  if (p >= end || *p++ != ' ' || !read_number(&p, end, INT32_MIN, INT32_MAX, &boots)) return false;
  if (p >= end || *p++ != ' ' || !read_number(&p, end, INT32_MIN, INT32_MAX, &time)) return false;
  if (p >= end || *p++ != ' ' || !read_number(&p, end, INT64_MIN / 2, INT64_MAX / 2, &arrived)) return false;
  if (p < end && *p == '\r') ++p;
  if (p != end) return false;
  e->boots = static_cast<int32_t>(boots);
  e->time = static_cast<int32_t>(time);
  e->arrived = arrived;
  e->refusal_logged = false;
  return true;
}

void engines_load() {
  g_engine_count = 0;
  g_engines_dirty = false;
  if (g_engines_path[0] == 0) return;
  FILE* f = std::fopen(g_engines_path, "rb");
  if (f == nullptr) return;
  static char text[ENGINES_FILE_MAX];
  size_t n = std::fread(text, 1, sizeof text, f);
  std::fclose(f);
  const char* p = text;
  const char* end = text + n;
  while (p < end && g_engine_count < ENGINES_MAX) {
    const char* line_end = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    if (line_end == nullptr) line_end = end;
    if (read_engine_line(p, line_end, &g_engines[g_engine_count])) ++g_engine_count;
    p = line_end < end ? line_end + 1 : end;
  }
}

void engines_save() {
  g_engines_saved_at = g_trap_clock();
  g_engines_dirty = false;
  if (g_engines_path[0] == 0) return;
  static char text[ENGINES_FILE_MAX];
  size_t n = 0;
  for (uint32_t i = 0; i < g_engine_count; ++i) {
    const EngineSeen& e = g_engines[i];
    for (uint8_t k = 0; k < e.id_length && n + 2 < sizeof text; ++k) {
      std::snprintf(text + n, 3, "%02x", e.id[k]);
      n += 2;
    }
    int w = std::snprintf(text + n, sizeof text - n, " %d %d %lld\r\n", e.boots, e.time,
                          static_cast<long long>(e.arrived));
    if (w < 0 || static_cast<size_t>(w) >= sizeof text - n) break;
    n += static_cast<size_t>(w);
  }
  fs_replace_file(g_engines_path, text, n, FS_PRIVATE);
}

// Saves a newer engine time that has waited long enough (or at once with force).
void replay_save_due(bool force) {
  if (!g_engines_dirty) return;
  int64_t now = g_trap_clock();
  if (force || now - g_engines_saved_at >= ENGINES_SAVE_SECONDS || now < g_engines_saved_at) engines_save();
}

void replay_save() { replay_save_due(true); }

void log_replay(EngineSeen* e, int64_t now) {
  if (!notice_due(e->refusal_logged, e->refusal_logged_at, now)) return;
  e->refusal_logged = true;
  e->refusal_logged_at = now;
  char16_t address[ADDRESS_TEXT_ROOM];
  address_text(g_match_address, g_match_length, address, ADDRESS_TEXT_ROOM);
  char16_t hex[2 * ENGINE_ID_MAX + 1];
  static const char16_t kDigits[] = u"0123456789abcdef";
  for (uint8_t k = 0; k < e->id_length; ++k) {
    hex[2 * k] = kDigits[e->id[k] >> 4];
    hex[2 * k + 1] = kDigits[e->id[k] & 15];
  }
  hex[2 * e->id_length] = 0;
  if (EventApi.evt_log != nullptr)
    EventApi.evt_log(u"0.0.0.0", evt_level(EVT_GROUP_COMMON, EVT_COMMON_V3_REPLAY_REFUSED),
                     evt_name(EVT_GROUP_COMMON, EVT_COMMON_V3_REPLAY_REFUSED), address, hex, nullptr);
}

// An authenticated message of the sender engine: false (and logged) when its boots is lower than
// seen before, or equal with a time more than the window behind what the sender's clock shows
// now. Otherwise the engine's boots and time are taken; a higher boots is the sender's restart.
bool engine_fresh(const uint8_t* id, uint8_t id_length, int32_t boots, int32_t time) {
  int64_t now = g_trap_clock();
  EngineSeen* e = nullptr;
  for (uint32_t i = 0; i < g_engine_count && e == nullptr; ++i)
    if (g_engines[i].id_length == id_length && std::memcmp(g_engines[i].id, id, id_length) == 0) e = &g_engines[i];
  if (e == nullptr) {
    if (g_engine_count < ENGINES_MAX) {
      e = &g_engines[g_engine_count++];
    } else {
      e = &g_engines[0];
      for (uint32_t i = 1; i < ENGINES_MAX; ++i)
        if (g_engines[i].arrived < e->arrived) e = &g_engines[i];
    }
    std::memcpy(e->id, id, id_length);
    e->id_length = id_length;
    e->boots = boots;
    e->time = time;
    e->arrived = now;
    e->refusal_logged = false;
    engines_save();
    return true;
  }
  if (boots > e->boots) {
    e->boots = boots;
    e->time = time;
    e->arrived = now;
    engines_save();
    return true;
  }
  int64_t elapsed = now > e->arrived ? now - e->arrived : 0;
  if (boots < e->boots || int64_t{time} < int64_t{e->time} + elapsed - int64_t{ENGINE_TIME_WINDOW}) {
    log_replay(e, now);
    return false;
  }
  if (time > e->time) {
    e->time = time;
    e->arrived = now;
    g_engines_dirty = true;
  }
  return true;
}


const uint32_t kMakerPrefix[] = {1, 3, 6, 1, 4, 1, 7342, 2};
const uint32_t kColdStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 1};
const uint32_t kWarmStart[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 2};
const uint32_t kSnmpTrapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
const uint32_t kSysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const uint32_t kKestraTrap[] = {1, 3, 6, 1, 4, 1, 20246, 2, 3, 1, 1, 1, 3, 1, 0};
const uint32_t kKestraState[] = {1, 3, 6, 1, 4, 1, 20246, 2, 3, 1, 1, 1, 2, 2, 15, 0};
const uint32_t kKestraText[] = {1, 3, 6, 1, 4, 1, 20246, 2, 3, 1, 1, 1, 2, 2, 16, 0};

template <size_t N>
bool has_prefix(const SnmpOid& oid, const uint32_t (&prefix)[N]) {
  return snmp_oid_has_prefix(oid.ids, oid.count, prefix, N);
}

size_t field_length(const char* text) { return strnlen(text, FIELD_TEXT_MAX); }

// Event group of the first sub-identifier after the maker's prefix.
int32_t group_of(uint32_t a) { return a == 5 ? 1 : a == 500 ? 2 : 0; }

// ---- SNMPv3 keys ----

static_assert(uint32_t{TRAP_KEY_CACHE_SIZE} == uint32_t{USM_KEY_CACHE_SIZE});

// The localised key of pass for the trap's user and engine id, from the shared key cache.
const uint8_t* trap_key(const uint8_t* user, uint8_t user_length, const uint8_t* engine_id,
                        uint8_t engine_id_length, const char* pass, bool privacy) {
  uint32_t before = g_usm_key_localisations;
  const uint8_t* key = usm_cached_key(user, user_length, engine_id, engine_id_length, pass, privacy);
  g_trap_key_localisations += g_usm_key_localisations - before;
  return key;
}

// ---- Decoder steps ----

// An octet-string element of the given tag read without keeping it (may be empty).
bool skip_octets(BerReader* r) {
  BerReader unused;
  return ber_read_inner(r, BER_OCTET_STRING, &unused, BER_MAY_BE_EMPTY);
}

// Community check against source entry `source` (case matters; an empty configured community
// takes any). `held` has min(full_length, TEXT_ROOM) bytes.
bool community_matches(int32_t source, const uint8_t* held, uint16_t full_length) {
  const char* configured = g_source_ips.community[source];
  size_t n = field_length(configured);
  if (n == 0) return true;
  return full_length == n && std::memcmp(held, configured, n) == 0;
}

// Case-insensitive equality of a received text with a configured 33-byte text.
bool text_matches(const uint8_t* held, uint16_t full_length, const char* configured) {
  size_t n = strnlen(configured, TEXT_ROOM);
  if (full_length != n) return false;
  for (size_t i = 0; i < n; ++i) {
    uint8_t a = held[i], b = static_cast<uint8_t>(configured[i]);
    if (a >= 'A' && a <= 'Z') a = static_cast<uint8_t>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

// SNMPv1 Trap-PDU content. The community is checked against the source its agent-addr names.
bool decode_v1(BerReader* pdu, const uint8_t* community, uint16_t community_length) {
  uint32_t ids[SNMP_OID_MAX];
  SnmpOid enterprise = {0, ids};
  if (!ber_read_oid(pdu, &enterprise, SNMP_OID_MAX)) return false;
  // The tail needs sub-identifiers 9 and 10.
  if (!has_prefix(enterprise, kMakerPrefix) || enterprise.count < 10) return false;
  g_scratch_tail[0] = ids[8];
  g_scratch_tail[1] = ids[9];
  g_scratch.trap_group = group_of(ids[8]);

  uint8_t address[16];
  SnmpOctets agent = {address, 0};
  uint16_t agent_length = 0;
  if (!ber_read_octets(pdu, BER_IP_ADDRESS, &agent, sizeof address, &agent_length, BER_NOT_EMPTY))
    return false;
  if (agent_length != agent.length) return false;
  if (!trap_match_source(address, agent_length)) return refuse("source not listed");

  int32_t generic = 0, specific = 0;
  if (!ber_read_integer(pdu, BER_INTEGER, &generic, BER_NOT_EMPTY) ||
      !ber_read_integer(pdu, BER_INTEGER, &specific, BER_NOT_EMPTY))
    return false;
  g_scratch.generic_trap = generic & 0xFFFF;
  g_scratch.specific_trap = specific & 0xFFFF;
  if (!community_matches(g_scratch.source_index, community, community_length)) return refuse("wrong community");
  return true;
}

// Kinds of a variable binding's name.
enum VarKind { KIND_OTHER, KIND_UPTIME, KIND_TRAP_OID, KIND_KESTRA_STATE, KIND_KESTRA_TEXT };

// SNMPv2-Trap PDU content (SNMPv2c and SNMPv3): the bindings are scanned until one classifies
// the trap.
bool decode_v2_bindings(BerReader* pdu) {
  int32_t ignored = 0;
  for (int i = 0; i < 3; ++i)
    if (!ber_read_integer(pdu, BER_INTEGER, &ignored, BER_NOT_EMPTY)) return false;
  BerReader list;
  if (!ber_read_inner(pdu, BER_SEQUENCE, &list, BER_NOT_EMPTY)) return false;

  int32_t state = 0;
  uint32_t name_ids[SNMP_OID_MAX];
  uint32_t value_ids[SNMP_OID_MAX];
  uint8_t text[TEXT_ROOM];
  while (ber_reader_left(&list) > 0) {
    BerReader binding;
    if (!ber_read_inner(&list, BER_SEQUENCE, &binding, BER_NOT_EMPTY)) return false;
    SnmpOid name = {0, name_ids};
    if (!ber_read_oid(&binding, &name, SNMP_OID_MAX)) return false;
    VarKind kind = KIND_OTHER;
    if (has_prefix(name, kSysUpTime)) kind = KIND_UPTIME;
    else if (has_prefix(name, kSnmpTrapOid)) kind = KIND_TRAP_OID;
    else if (g_settings.kestra_enable && has_prefix(name, kKestraState)) kind = KIND_KESTRA_STATE;
    else if (g_settings.kestra_enable && has_prefix(name, kKestraText)) kind = KIND_KESTRA_TEXT;

    int tag = ber_peek_tag(&binding);
    bool is_integer = false;
    int32_t number = 0;
    SnmpOid oid = {0, value_ids};
    SnmpOctets octets = {text, 0};
    uint16_t text_length = 0;
    switch (tag) {
      case BER_INTEGER:
      case BER_GAUGE32:
      case BER_TIMETICKS:
        if (!ber_read_integer(&binding, static_cast<uint8_t>(tag), &number, BER_NOT_EMPTY)) return false;
        is_integer = true;
        break;
      case BER_OID:
        if (!ber_read_oid(&binding, &oid, SNMP_OID_MAX)) return false;
        break;
      case BER_OCTET_STRING:
        if (!ber_read_octets(&binding, BER_OCTET_STRING, &octets, TEXT_ROOM, &text_length, BER_NOT_EMPTY))
          return false;
        break;
      default:
        return false;
    }

    switch (kind) {
      case KIND_TRAP_OID:
        if (tag != BER_OID) return false;
        if (has_prefix(oid, kKestraTrap)) break;
        if (has_prefix(oid, kMakerPrefix)) {
          // 1.3.6.1.4.1.7342.2.a.b.s[.0]: the specific number is sub-identifier 11.
          if (oid.count < 11) return false;
          g_scratch.generic_trap = 6;
          g_scratch.specific_trap = static_cast<int32_t>(value_ids[10]);
          g_scratch_tail[0] = value_ids[8];
          g_scratch_tail[1] = value_ids[9];
          g_scratch.trap_group = group_of(value_ids[8]);
          return true;
        }
        if (has_prefix(oid, kColdStart)) {
          g_scratch.generic_trap = 0;
          return true;
        }
        if (has_prefix(oid, kWarmStart)) {
          g_scratch.generic_trap = 1;
          return true;
        }
        return false;
      case KIND_KESTRA_STATE:
        if (!is_integer) return false;
        state = number;
        break;
      case KIND_KESTRA_TEXT: {
        if (tag != BER_OCTET_STRING) break;
        int32_t set_event, clear_event;
        if (text_matches(text, text_length, g_settings.kestra_power_fail)) {
          set_event = 3;
          clear_event = 4;
        } else if (text_matches(text, text_length, g_settings.kestra_battery_low)) {
          set_event = 5;
          clear_event = 6;
        } else {
          break;
        }
        if (state != 3 && state != 1) return false;
        g_scratch.generic_trap = 6;
        g_scratch.specific_trap = state == 3 ? set_event : clear_event;
        g_scratch.trap_group = 0;
        return true;
      }
      case KIND_UPTIME:
      case KIND_OTHER:
        break;
    }
  }
  return false;
}

// SNMPv3 header, user, level, digest and privacy. On success *scoped spans the ScopedPDU's
// content from the PDU on (decrypted in place when the privacy flag is set).
bool decode_v3_header(uint8_t* message, uint32_t message_length, BerReader* msg, BerReader* scoped) {
  BerReader global;
  if (!ber_read_inner(msg, BER_SEQUENCE, &global, BER_NOT_EMPTY)) return false;
  int32_t msg_id = 0, max_size = 0, model = 0;
  uint16_t flags_length = 0;
  if (!ber_read_integer(&global, BER_INTEGER, &msg_id, BER_NOT_EMPTY) ||
      !ber_read_integer(&global, BER_INTEGER, &max_size, BER_NOT_EMPTY) ||
      !ber_read_octets(&global, BER_OCTET_STRING, &g_scratch.msg_flags, 1, &flags_length, BER_NOT_EMPTY) ||
      flags_length != 1 || !ber_read_integer(&global, BER_INTEGER, &model, BER_NOT_EMPTY))
    return false;
  g_scratch.msg_id = msg_id & 0xFFFF;
  g_scratch.security_model = model;
  uint8_t flags = g_scratch.msg_flags.data[0];

  BerReader wrapped, security;
  if (!ber_read_inner(msg, BER_OCTET_STRING, &wrapped, BER_NOT_EMPTY) ||
      !ber_read_inner(&wrapped, BER_SEQUENCE, &security, BER_NOT_EMPTY))
    return false;
  uint8_t engine_id[ENGINE_ID_MAX];
  SnmpOctets engine = {engine_id, 0};
  uint16_t engine_length = 0;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &engine, ENGINE_ID_MAX, &engine_length,
                       BER_MAY_BE_EMPTY) ||
      engine_length > ENGINE_ID_MAX)
    return false;
  int32_t boots = 0, engine_time = 0;
  if (!ber_read_integer(&security, BER_INTEGER, &boots, BER_MAY_BE_EMPTY) ||
      !ber_read_integer(&security, BER_INTEGER, &engine_time, BER_MAY_BE_EMPTY))
    return false;
  uint8_t user_name[TEXT_ROOM];
  SnmpOctets user = {user_name, 0};
  uint16_t user_length = 0;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &user, TEXT_ROOM, &user_length, BER_MAY_BE_EMPTY))
    return false;

  BerReader auth = security;
  uint16_t auth_length = 0;
  if (!ber_read_header(&auth, BER_OCTET_STRING, &auth_length) || (auth_length != 0 && auth_length != 12))
    return false;
  uint8_t* auth_bytes = message + (auth.pos - message);
  std::memcpy(g_scratch.auth_params.data, auth_bytes, auth_length);
  g_scratch.auth_params.length = auth_length;
  std::memset(auth_bytes, 0, auth_length);
  security.pos = auth.pos + auth_length;
  uint16_t priv_length = 0;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &g_scratch.priv_params, TRAP_OCTETS_MAX,
                       &priv_length, BER_MAY_BE_EMPTY) ||
      (priv_length != 0 && priv_length != 8))
    return false;

  const uint16_t kept = TRAP_OCTETS_MAX;
  ber_copy_octets(engine_id, &g_scratch.engine_id, engine_length < kept ? engine_length : kept);
  ber_copy_octets(user_name, &g_scratch.user_name, user_length < kept ? user_length : kept);

  // The source's own user, when it names one, then the first listed user of that name.
  const char* source_user = g_source_ips.usm_user[g_scratch.source_index];
  size_t source_user_length = field_length(source_user);
  if (source_user_length != 0 &&
      (source_user_length != user_length || std::memcmp(source_user, user_name, user_length) != 0))
    return refuse("unknown user");
  int u = -1;
  int users = g_usm.count < USM_USER_MAX ? g_usm.count : USM_USER_MAX;
  for (int i = 0; i < users && u < 0; ++i) {
    size_t n = field_length(g_usm.user[i]);
    if (n != 0 && n == user_length && std::memcmp(g_usm.user[i], user_name, n) == 0) u = i;
  }
  if (u < 0) return refuse("unknown user");

  // The level the user is configured for must be met, and a claimed level needs its pass phrase.
  bool auth_flag = flags & FLAG_AUTH, priv_flag = flags & FLAG_PRIV;
  uint8_t level = g_usm.security[u];
  if (priv_flag && !auth_flag) return false;
  if (level >= 1 && !auth_flag) return refuse("security level too low");
  if (level >= 2 && !priv_flag) return refuse("security level too low");
  if (auth_flag && field_length(g_usm.auth[u]) == 0) return refuse("no pass phrase for the security level");
  if (priv_flag && field_length(g_usm.priv[u]) == 0) return refuse("no pass phrase for the security level");

  uint8_t key_user_length = static_cast<uint8_t>(user_length);
  uint8_t key_engine_length = static_cast<uint8_t>(engine_length);
  if (auth_flag) {
    if (auth_length != 12) return refuse("wrong digest");
    const uint8_t* key = trap_key(user_name, key_user_length, engine_id, key_engine_length, g_usm.auth[u], false);
    if (!usm_digest_ok(message, message_length, key, g_scratch.auth_params.data)) return refuse("wrong digest");
    // A genuine message seen before is refused when its boots and time are older.
    if (!engine_fresh(engine_id, key_engine_length, boots, engine_time)) return false;
  }

  if (priv_flag) {
    if (priv_length != 8) return refuse("decryption failed");
    BerReader encrypted;
    if (!ber_read_inner(msg, BER_OCTET_STRING, &encrypted, BER_NOT_EMPTY)) return false;
    size_t length = ber_reader_left(&encrypted);
    if (length % 8 != 0) return refuse("decryption failed");
    const uint8_t* key = trap_key(user_name, key_user_length, engine_id, key_engine_length, g_usm.priv[u], true);
    usm_decrypt(message + (encrypted.pos - message), length, key, g_scratch.priv_params.data);
    *msg = encrypted;
  }

  // Text that does not read as a scoped PDU after decryption was not encrypted with our key.
  BerReader pdu_part;
  if (!ber_read_inner(msg, BER_SEQUENCE, &pdu_part, BER_NOT_EMPTY) || !skip_octets(&pdu_part) ||
      !skip_octets(&pdu_part))
    return priv_flag ? refuse("decryption failed") : false;
  *scoped = pdu_part;
  return true;
}

bool decode_message(uint8_t* message, uint32_t length, uint32_t* consumed) {
  BerReader datagram = ber_reader(message, length);
  BerReader msg;
  if (!ber_read_inner(&datagram, BER_SEQUENCE, &msg, BER_NOT_EMPTY)) return false;
  uint32_t size = static_cast<uint32_t>(datagram.pos - message);
  *consumed = size;

  int32_t version = 0;
  if (!ber_read_integer(&msg, BER_INTEGER, &version, BER_NOT_EMPTY)) return false;
  if (version != 0 && version != 1 && version != 3) return false;
  if (version != 0 && g_scratch.source_index < 0) return refuse("source not listed");
  g_scratch.version = version;

  uint8_t community[TEXT_ROOM];
  SnmpOctets held = {community, 0};
  uint16_t community_length = 0;
  BerReader body = msg;
  if (version < 3) {
    if (!ber_read_octets(&body, BER_OCTET_STRING, &held, TEXT_ROOM, &community_length, BER_NOT_EMPTY))
      return version == 1 ? refuse("wrong community") : false;
  } else if (!decode_v3_header(message, size, &msg, &body)) {
    return false;
  }

  BerReader pdu;
  if (!ber_read_inner(&body, version == 0 ? PDU_TRAP_V1 : PDU_TRAP_V2, &pdu, BER_NOT_EMPTY)) return false;
  if (version == 0) return decode_v1(&pdu, community, community_length);
  if (version == 1 && !community_matches(g_scratch.source_index, community, community_length))
    return refuse("wrong community");
  return decode_v2_bindings(&pdu);
}

void trace_accepted() {
  if (g_trace_path[0] == 0) return;
  FILE* f = std::fopen(g_trace_path, "a");
  if (f == nullptr) return;
  std::fprintf(f, "accepted version=%d source=%d group=%d generic=%d specific=%d\n", TrapState.version,
               TrapState.source_index, TrapState.trap_group, TrapState.generic_trap, TrapState.specific_trap);
  std::fclose(f);
}

// ---- Table operations ----

int trap_close() {
  for (int& s : g_sockets) {
    if (s != INVALID_SOCKET) sock_close(s);
    s = INVALID_SOCKET;
  }
  listener_closed(LISTENER_TRAP_V4);
  listener_closed(LISTENER_TRAP_V6);
  replay_save();
  return 0;
}

void append_text(char16_t* out, size_t room, size_t* n, const char16_t* text) {
  while (*text && *n + 1 < room) out[(*n)++] = *text++;
  out[*n] = 0;
}

// The status line joins the attempted listeners; it is logged when one of them opened or failed
// for the first time, or other than the last time.
void trap_open() {
  bool tried[2] = {false, false};
  bool bound[2] = {false, false};
  bool due = false;
  for (int l = LISTEN_V4; l <= LISTEN_V6; ++l) {
    if (g_sockets[l] != INVALID_SOCKET) continue;
    tried[l] = true;
    int id = l == LISTEN_V4 ? LISTENER_TRAP_V4 : LISTENER_TRAP_V6;
    int s = sock_udp_open(kFamilies[l]);
    if (s == INVALID_SOCKET) {
      due = listener_failed(id, g_source_ips.listen_port, sock_last_error()) || due;
      continue;
    }
    if (sock_bind(s, kFamilies[l], nullptr, g_source_ips.listen_port)) {
      sock_set_receive_buffer(s, TRAP_RECEIVE_BUFFER);
      g_sockets[l] = s;
      bound[l] = true;
      due = listener_opened(id) || due;
    } else {
      due = listener_failed(id, g_source_ips.listen_port, sock_last_error()) || due;
      sock_close(s);
    }
  }
  for (int k = 0; k < 2; ++k)
    if (g_sockets[SEND_V4 + k] == INVALID_SOCKET) g_sockets[SEND_V4 + k] = sock_udp_open(kFamilies[k]);

  g_trap_open_bits = static_cast<uint8_t>(g_trap_open_bits | (bound[0] ? 1 : 0) | (bound[1] ? 2 : 0));
  if (!due) return;
  char16_t text[40];
  size_t n = 0;
  text[0] = 0;
  if (tried[0]) append_text(text, 40, &n, bound[0] ? u"IPv4-Trap: OK" : u"IPv4-Trap: NOK");
  if (tried[1]) append_text(text, 40, &n, bound[1] ? u" IPv6-Trap: OK" : u" IPv6-Trap: NOK");
  if (EventApi.evt_log != nullptr) EventApi.evt_log(u"0.0.0.0", EVENT_LEVEL_SYSTEM, text, nullptr);
}

// Every message of one datagram, in order; the number accepted.
uint32_t walk_datagram(uint32_t n, const uint8_t* from, uint32_t from_length, uint8_t sender[28]) {
  std::memcpy(sender, from, INET_SOCKADDR_MAX);
  uint8_t address[16];
  uint32_t address_length = inet_sockaddr_address(from, from_length, address, nullptr, nullptr);
  uint32_t accepted = 0;
  uint32_t offset = 0;
  for (uint32_t m = 0; m < TRAP_MESSAGES_MAX && offset < n; ++m) {
    trap_match_source(address, address_length);
    uint32_t used = 0;
    if (trap_decode(g_datagram + offset, n - offset, &used)) {
      trace_accepted();
      TrapReceiverApi.trap_forward(sender);
      if (g_trap_process != nullptr) g_trap_process();
      ++accepted;
    } else if (g_refusal != nullptr) {
      note_refusal(g_refusal, address, address_length);
    }
    if (used == 0) break;
    offset += used;
  }
  return accepted;
}

// Each listener is read until its queue is empty or its time budget is spent, so a flood of
// junk cannot hold a real trap back for long.
uint32_t trap_poll(uint8_t sender[28]) {
  uint32_t accepted = 0;
  for (int l = LISTEN_V4; l <= LISTEN_V6; ++l) {
    int s = g_sockets[l];
    if (s == INVALID_SOCKET) continue;
    uint32_t start = clock_tick_count();
    do {
      uint8_t from[INET_SOCKADDR_MAX];
      uint32_t from_length = 0;
      int n = sock_recvfrom(s, g_datagram, TRAP_DATAGRAM_MAX, from, &from_length);
      if (n < 0) break;
      if (n > 0) accepted += walk_datagram(static_cast<uint32_t>(n), from, from_length, sender);
    } while (clock_tick_count() - start < TRAP_POLL_BUDGET_MS);
  }
  refusals_notice();
  replay_save_due(false);
  return accepted;
}

}  // namespace

int trap_send_socket(uint16_t family) {
  if (family == INET_FAMILY_IPV4) return g_sockets[SEND_V4];
  if (family == INET_FAMILY_IPV6) return g_sockets[SEND_V6];
  return INVALID_SOCKET;
}

int trap_match_source(const uint8_t* address, uint32_t length) {
  g_scratch.source_index = -1;
  g_match_length = 0;
  if (length != 4 && length != 16) return 0;
  std::memcpy(g_match_address, address, length);
  g_match_length = length;
  int count = g_source_ips.count < SOURCE_IP_MAX ? g_source_ips.count : SOURCE_IP_MAX;
  for (int i = 0; i < count; ++i) {
    char text[sizeof g_source_ips.ip[0] + 1];
    std::memcpy(text, g_source_ips.ip[i], sizeof g_source_ips.ip[0]);
    text[sizeof g_source_ips.ip[0]] = 0;
    uint8_t parsed[16];
    int ok = length == 4 ? net_parse_ipv4(parsed, text) : net_parse_ipv6(parsed, text);
    if (ok && std::memcmp(parsed, address, length) == 0) {
      g_scratch.source_index = i;
      return 1;
    }
  }
  return 0;
}

int trap_decode(uint8_t* message, uint32_t length, uint32_t* consumed) {
  *consumed = 0;
  g_refusal = nullptr;
  // An empty or indefinite-length outer SEQUENCE is refused and stepped over by its 2 bytes.
  if (length >= 2 && message[0] == BER_SEQUENCE && (message[1] == 0x00 || message[1] == 0x80)) {
    *consumed = 2;
    return 0;
  }
  if (length > 0xFFFF) length = 0xFFFF;   // the digest covers at most 65535 bytes
  int32_t source = g_scratch.source_index;
  trap_state_copy(&g_scratch, &TrapState);
  g_scratch.source_index = source;
  g_scratch_tail[0] = g_trap_enterprise_tail[0];
  g_scratch_tail[1] = g_trap_enterprise_tail[1];
  if (!decode_message(message, length, consumed)) return 0;
  trap_state_copy(&TrapState, &g_scratch);
  g_trap_enterprise_tail[0] = g_scratch_tail[0];
  g_trap_enterprise_tail[1] = g_scratch_tail[1];
  return 1;
}

void trap_init() {
  trap_state_reset();
  g_refusals = Refusals{};
  g_engines_path[0] = 0;
  if (InstallDir[0] != 0 && !cfg_install_file(g_engines_path, sizeof g_engines_path, "snmp_trap_engines.txt"))
    g_engines_path[0] = 0;
  engines_load();
  const char* trace = std::getenv("VELLMAR_TRAP_TRACE");
  std::snprintf(g_trace_path, sizeof g_trace_path, "%s", trace != nullptr ? trace : "");
  TrapReceiverApi = TrapReceiverApiTable{trap_close, trap_open, trap_poll, trap_forward};
}
