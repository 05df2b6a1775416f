// MIB registry (a sorted list over a fixed pool of nodes) and the service's MIB: 28 variables
// under 1.3.6.1.4.1.7342.2.200 and the 7 scalars of the MIB-II system group, read from the live
// status and settings; an accepted SET changes the setting and saves agent.ini at once.
#include "service/snmp/snmp_mib.h"

#include <cstring>

#include "common/settings.h"
#include "common/settings_file.h"
#include "common/settings_ranges.h"
#include "common/text.h"
#include "service/alarm/status.h"
#include "service/core/host_metrics.h"
#include "service/core/net_address.h"
#include "service/snmp/snmp_agent.h"

const AgentMibRow AGENT_MIB_OIDS[AGENT_MIB_COUNT] = {
    {"1.3.6.1.4.1.7342.2.200.1.1.0", 1},        {"1.3.6.1.4.1.7342.2.200.1.2.0", 2},
    {"1.3.6.1.4.1.7342.2.200.1.3.0", 3},        {"1.3.6.1.4.1.7342.2.200.1.4.0", 4},
    {"1.3.6.1.4.1.7342.2.200.1.5.0", 5},        {"1.3.6.1.4.1.7342.2.200.1.6.0", 6},
    {"1.3.6.1.4.1.7342.2.200.2.1.0", 7},        {"1.3.6.1.4.1.7342.2.200.2.2.0", 8},
    {"1.3.6.1.4.1.7342.2.200.2.3.0", 9},        {"1.3.6.1.4.1.7342.2.200.2.4.0", 10},
    {"1.3.6.1.4.1.7342.2.200.2.5.0", 11},       {"1.3.6.1.4.1.7342.2.200.2.6.0", 12},
    {"1.3.6.1.4.1.7342.2.200.2.7.0", 13},       {"1.3.6.1.4.1.7342.2.200.2.8.0", 14},
    {"1.3.6.1.4.1.7342.2.200.2.9.0", 15},       {"1.3.6.1.4.1.7342.2.200.2.10.0", 16},
    {"1.3.6.1.4.1.7342.2.200.2.11.0", 17},      {"1.3.6.1.4.1.7342.2.200.3.1.0", 18},
    {"1.3.6.1.4.1.7342.2.200.4.1.1.2.1", 19},   {"1.3.6.1.4.1.7342.2.200.4.1.1.2.2", 20},
    {"1.3.6.1.4.1.7342.2.200.4.1.1.2.3", 21},   {"1.3.6.1.4.1.7342.2.200.4.1.1.2.4", 22},
    {"1.3.6.1.4.1.7342.2.200.4.1.1.2.5", 23},   {"1.3.6.1.4.1.7342.2.200.4.1.1.2.6", 24},
    {"1.3.6.1.4.1.7342.2.200.4.1.1.2.7", 25},   {"1.3.6.1.4.1.7342.2.200.4.1.1.2.8", 26},
    {"1.3.6.1.4.1.7342.2.200.4.2.0", 27},       {"1.3.6.1.4.1.7342.2.200.4.3.0", 28},
    {"1.3.6.1.2.1.1.1.0", 29},                  {"1.3.6.1.2.1.1.2.0", 30},
    {"1.3.6.1.2.1.1.3.0", 31},                  {"1.3.6.1.2.1.1.4.0", 32},
    {"1.3.6.1.2.1.1.5.0", 33},                  {"1.3.6.1.2.1.1.6.0", 34},
    {"1.3.6.1.2.1.1.7.0", 35},
};

namespace {

MibNode g_pool[MIB_NODE_MAX];
MibNode* g_free;      // unused nodes, linked by next
MibNode* g_head;      // the registry in ascending order
bool g_pool_ready;

// Answer buffers: each value stays valid until the answer is encoded.
char g_os_text[128];
char g_contact_text[33];
char g_name_text[33];
char g_location_text[33];
const char kVersionText[] = "02.00.22";
const char kProductText[] = "Vellmar";
uint32_t g_enterprise_oid[] = {1, 3, 6, 1, 4, 1, 7342, 2, 200};

void pool_init() {
  if (g_pool_ready) return;
  g_free = nullptr;
  for (uint32_t i = MIB_NODE_MAX; i > 0; --i) {
    g_pool[i - 1].next = g_free;
    g_free = &g_pool[i - 1];
  }
  g_head = nullptr;
  g_pool_ready = true;
}

// -1, 0 or 1 as a is before, equal to or after b; a proper prefix is before its extensions.
int compare(const uint32_t* a, uint32_t a_count, const uint32_t* b, uint32_t b_count) {
  uint32_t n = a_count < b_count ? a_count : b_count;
  for (uint32_t i = 0; i < n; ++i) {
    if (a[i] < b[i]) return -1;
    if (a[i] > b[i]) return 1;
  }
  if (a_count == b_count) return 0;
  return a_count < b_count ? -1 : 1;
}

// The first node not before oid, or null.
MibNode* first_not_before(const uint32_t* oid, uint32_t count) {
  for (MibNode* n = g_head; n != nullptr; n = n->next)
    if (compare(oid, count, n->oid, n->length) <= 0) return n;
  return nullptr;
}

// ---- The service's variables ----

void answer_integer(SnmpVarBind* b, int32_t value) {
  b->tag = BER_INTEGER;
  b->value.integer = value;
}

void answer_text(SnmpVarBind* b, const char* text, size_t length) {
  b->tag = BER_OCTET_STRING;
  b->value.octets.data = reinterpret_cast<uint8_t*>(const_cast<char*>(text));
  b->value.octets.length = static_cast<uint16_t>(length);
}

// A settings text answered as UTF-8 of at most 32 bytes, cut at a character boundary.
void answer_setting_text(SnmpVarBind* b, char* buffer, const char16_t* field) {
  answer_text(b, buffer, text_utf16_to_utf8(buffer, 33, field));
}

// A SET text goes into the field when it fits, holds no control character and nothing that
// would be markup on a page; otherwise the field stays as it was. True when it was stored.
bool set_text(const SnmpVarBind* b, char16_t* field, size_t room) {
  const SnmpOctets& v = b->value.octets;
  char text[SNMP_SET_AREA + 1];
  if (v.length > SNMP_SET_AREA) return false;
  std::memcpy(text, v.data, v.length);
  text[v.length] = 0;
  for (uint16_t i = 0; i < v.length; ++i) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;
  }
  if (util_has_html_special(text)) return false;
  char16_t converted[SNMP_SET_AREA + 2];
  size_t units = text_utf8_to_utf16(converted, sizeof converted / sizeof converted[0], text, v.length);
  if (units + 1 > room) return false;
  text_copy16(field, room, converted);
  return true;
}

// The saves a SET asks for wait until all its varbinds are handled, then go out as one.
bool g_set_save;           // a varbind changed (or asked to save) the file's settings
bool g_set_save_outside;   // a varbind asked to save only state that is not in the file
AgentSettings g_set_before;

void set_save() { g_set_save = true; }

// SET of an enable: 1 on, 2 off, other values leave it; the file is saved for every INTEGER.
void set_enable(uint8_t* flag, int32_t value) {
  if (value == 1) *flag = 1;
  else if (value == 2) *flag = 0;
  set_save();
}

// The five delays share one range.
void set_delay(uint32_t* delay, int32_t value) {
  int64_t used = 0;
  if (settings_clamp(SETTING_DELAY_POWER_FAIL, value, &used) != SETTING_OK) return;
  *delay = static_cast<uint32_t>(used);
  set_save();
}

}  // namespace

void snmp_mib_set_begin() {
  g_set_save = false;
  g_set_save_outside = false;
  g_set_before = g_settings;
}

bool snmp_mib_set_commit() {
  if (g_set_save) {
    if (cfg_save()) return true;
    // Nothing of the SET stays that the file does not hold.
    g_settings = g_set_before;
    return false;
  }
  // Only the cancel asked for a save: a failed one does not undo it.
  if (g_set_save_outside) cfg_save();
  return true;
}

uint32_t snmp_oid_parse_dotted(const char* text, uint32_t out[MIB_OID_MAX]) {
  if (std::strchr(text, '.') == nullptr) return 0;
  uint32_t count = 0;
  const char* p = text;
  while (count < MIB_OID_MAX) {
    uint32_t v = 0;
    while (*p >= '0' && *p <= '9') v = v * 10 + static_cast<uint32_t>(*p++ - '0');
    out[count++] = v;
    if (*p != '.') break;
    ++p;
  }
  return count;
}

int snmp_mib_locate(const uint32_t* oid, uint32_t count, MibNode** node) {
  pool_init();
  MibNode* after = nullptr;
  for (MibNode* n = g_head; n != nullptr; n = n->next) {
    int c = compare(oid, count, n->oid, n->length);
    if (c == 0) {
      *node = n;
      return 1;
    }
    if (c < 0) break;
    after = n;
  }
  *node = after;
  return 0;
}

int snmp_mib_register(const char* oid_text, int id) {
  uint32_t oid[MIB_OID_MAX];
  uint32_t count = snmp_oid_parse_dotted(oid_text, oid);
  if (count == 0) return 0;
  MibNode* after = nullptr;
  if (snmp_mib_locate(oid, count, &after)) return 1;
  if (g_free == nullptr) return 0;
  MibNode* n = g_free;
  g_free = n->next;
  std::memcpy(n->oid, oid, count * sizeof oid[0]);
  n->length = static_cast<uint8_t>(count);
  n->id = static_cast<uint16_t>(id);
  n->prev = after;
  n->next = after != nullptr ? after->next : g_head;
  if (n->next != nullptr) n->next->prev = n;
  if (after != nullptr) after->next = n;
  else g_head = n;
  return 1;
}

int snmp_mib_unregister(const char* oid_text) {
  uint32_t oid[MIB_OID_MAX];
  uint32_t count = snmp_oid_parse_dotted(oid_text, oid);
  MibNode* n = nullptr;
  if (count == 0 || !snmp_mib_locate(oid, count, &n)) return 0;
  if (n->prev != nullptr) n->prev->next = n->next;
  else g_head = n->next;
  if (n->next != nullptr) n->next->prev = n->prev;
  n->next = g_free;
  g_free = n;
  return 1;
}

uint32_t snmp_mib_find(const uint32_t* oid, uint32_t count) {
  MibNode* n = nullptr;
  return snmp_mib_locate(oid, count, &n) ? uint32_t{n->id} : uint32_t{MIB_NOT_FOUND};
}

uint32_t snmp_mib_find_next(const uint32_t* oid, uint32_t count, uint32_t* out, uint32_t* out_count) {
  pool_init();
  MibNode* n = first_not_before(oid, count);
  if (n != nullptr && compare(oid, count, n->oid, n->length) == 0) n = n->next;
  if (n == nullptr) return MIB_NOT_FOUND;
  std::memcpy(out, n->oid, n->length * sizeof n->oid[0]);
  *out_count = n->length;
  return n->id;
}

void snmp_mib_clear() {
  g_pool_ready = false;
  pool_init();
}

int snmp_agent_register_mib() {
  for (const AgentMibRow& row : AGENT_MIB_OIDS)
    if (!SnmpAgentApi.snmp_mib_register(row.oid, row.id)) return 0;
  return 1;
}

int snmp_agent_mib_handler(SnmpVarBind* b) {
  uint8_t pdu = g_snmp_request.pdu_type;
  uint32_t id;
  if (pdu == SNMP_PDU_GET || pdu == SNMP_PDU_SET) {
    id = SnmpAgentApi.snmp_mib_find(b->name.ids, b->name.count);
  } else if (pdu == SNMP_PDU_GET_NEXT) {
    uint32_t next[MIB_OID_MAX];
    uint32_t next_count = 0;
    id = SnmpAgentApi.snmp_mib_find_next(b->name.ids, b->name.count, next, &next_count);
    if (id != MIB_NOT_FOUND) {
      std::memcpy(b->name.ids, next, next_count * sizeof next[0]);
      b->name.count = next_count;
    }
  } else {
    return 0;
  }
  if (id == MIB_NOT_FOUND) return 0;
  if (id < 1 || id > AGENT_MIB_COUNT) return 1;

  bool set_int = pdu == SNMP_PDU_SET && b->tag == BER_INTEGER;
  bool set_text_value = pdu == SNMP_PDU_SET && b->tag == BER_OCTET_STRING;
  int32_t v = b->value.integer;
  AgentSettings& s = g_settings;
  switch (id) {
    case 1:
      answer_text(b, g_os_text, text_utf16_to_utf8(g_os_text, sizeof g_os_text, g_status.os_description));
      break;
    case 2:
      answer_text(b, kVersionText, sizeof kVersionText - 1);
      break;
    case 3:
      answer_integer(b, g_status.countdown_left >= 0 ? 1 : 2);
      break;
    case 4:
      answer_integer(b, g_status.countdown_left);
      break;
    case 5:
      answer_integer(b, g_status.countdown_index + 1);
      break;
    case 6:
      answer_text(b, g_host_name, strnlen(g_host_name, sizeof g_host_name));
      break;
    case 7:
      if (set_int && v >= 1 && v <= 3) {
        s.shutdown_type = static_cast<uint8_t>(v - 1);
        set_save();
      }
      answer_integer(b, s.shutdown_type + 1);
      break;
    case 8: case 10: case 12: case 14: case 16: {
      uint32_t c = (id - 8) / 2;
      if (set_int) set_enable(&s.condition_enable[c], v);
      answer_integer(b, s.condition_enable[c] ? 1 : 2);
      break;
    }
    case 9: case 11: case 13: case 15: case 17: {
      uint32_t c = (id - 9) / 2;
      if (set_int) set_delay(&s.condition_delay[c], v);
      answer_integer(b, static_cast<int32_t>(s.condition_delay[c]));
      break;
    }
    case 18:
      if (set_int) {
        // The cancel lives outside the file: it takes effect whether or not the save succeeds.
        bool file_save = g_set_save;
        set_enable(&g_status.shutdown_cancelled, v);
        g_set_save = file_save;
        g_set_save_outside = true;
      }
      answer_integer(b, g_status.shutdown_cancelled ? 1 : 2);
      break;
    case 19: case 20: case 21: case 22: case 23: case 24: case 25: case 26:
      answer_integer(b, static_cast<int32_t>(g_status.disk_used[id - 19] * 100));
      break;
    case 27:
      answer_integer(b, static_cast<int32_t>(g_status.memory_load));
      break;
    case 28:
      answer_integer(b, static_cast<int32_t>(g_status.cpu_load));
      break;
    case 29:
      answer_text(b, kProductText, sizeof kProductText - 1);
      break;
    case 30:
      b->tag = BER_OID;
      b->value.oid = {sizeof g_enterprise_oid / sizeof g_enterprise_oid[0], g_enterprise_oid};
      break;
    case 31:
      answer_integer(b, static_cast<int32_t>(g_status.sys_uptime));
      break;
    case 32:
      if (set_text_value && set_text(b, s.contactor, 33)) set_save();
      answer_setting_text(b, g_contact_text, s.contactor);
      break;
    case 33:
      if (set_text_value && set_text(b, s.system_name, 33)) set_save();
      answer_setting_text(b, g_name_text, s.system_name);
      break;
    case 34:
      if (set_text_value && set_text(b, s.location, 65)) set_save();
      answer_setting_text(b, g_location_text, s.location);
      break;
    default:
      answer_integer(b, 0);
      break;
  }
  return 1;
}
