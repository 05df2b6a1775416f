// The list editors of the UPS pages. Each page is described by a table: its action and data
// fields, the columns they fill, its key, limit and messages; one routine edits every list.
#include "service/pages/list_forms.h"

#include <cstring>

#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "service/alarm/alarm_state.h"
#include "service/alarm/shutdown_actions.h"
#include "service/alarm/source_rows.h"
#include "service/events/event_defs.h"
#include "service/pages/form_handlers.h"
#include "service/snmp/snmp_agent.h"
#include "service/web/request_state.h"
#include "service/web/session.h"
#include "service/web/system_pages.h"

namespace {

const char E1[] = "Message: Title=Error\nBody=<font color=#F00000>Exceed the maximum number of Trap source!</font>\n";
const char E2[] = "Message: Title=Error\nBody=<font color=#F00000>IP Addess already in use!</font>\n";
const char E3[] = "Message: Title=Error\nBody=<font color=#F00000>Cannot delete anymore!</font>\n";
const char E4[] = "Message: Title=Error\nBody=<font color=#F00000>Exceed the maximum number of Trap target!</font>\n";
const char E5[] = "Message: Title=Error\nBody=<font color=#F00000>Exceed the maximum number of SNMP access!</font>\n";
const char E6[] = "Message: Title=Error\nBody=<font color=#F00000>The password must longer than 8 bytes!</font>\n";
const char E7[] = "Message: Title=Error\nBody=<font color=#F00000>Exceed the maximum number of USM users!</font>\n";
const char E8[] = "Message: Title=Error\nBody=<font color=#F00000>User Name already in use!</font>\n";
const char E9[] = "Message: Title=Error\nBody=<font color=#F00000>Cannot edit the manager!</font>\n";
const char E10[] = "Message: Title=Error\nBody=<font color=#F00000>Cannot delete the manager!</font>\n";
const char E11[] = "Message: Title=Error\nBody=<font color=#F00000>Exceed the maximum number of vCenter!</font>\n";
const char F1[] =
    "Message: Redirect=/en/device/dev_forward.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const char F2[] =
    "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Please wait until the "
    "command is sent completely.</font>\n";
const char kBadRow[] = "Message: Title=Error\nBody=<font color=#F00000>Incorrect row number!</font>\n";

enum ColumnKind : uint8_t {
  TEXT,    // 8-bit text cut to its room
  SECRET,  // text written only when the posted value is not empty
  U8,
  U16,
};

struct Column {
  const char* field;
  ColumnKind kind;
  uint8_t* base;   // row 0 of the column
  size_t stride;   // bytes from one row to the next
  SettingId setting;  // the range of a number (SETTING_COUNT for a text)
};

// The address column of a list: what it must hold to be written.
enum AddressRule : uint8_t {
  NO_ADDRESS,
  HOST,      // one IPv4 or IPv6 host
  ANY_HOST,  // the same, or 0.0.0.0 / :: for any sender
};

enum Action { NONE, ADD, EDIT, DEL, TEST };

struct ListPage {
  int page;
  const char* actions[4];  // ADD, EDIT, DEL, TEST (null: none)
  const char* checked[3];  // input check names
  int checked_count;
  Column columns[5];
  int column_count;
  int key;                 // column compared on ADD and EDIT, -1 none
  AddressRule address;     // of column 0
  int limit;
  const char* full;
  const char* duplicate;
  const char* success;
};

#define COL(f, k, arr) {f, k, reinterpret_cast<uint8_t*>(&arr[0]), sizeof arr[0], SETTING_COUNT}
#define NUM(f, k, arr, id) {f, k, reinterpret_cast<uint8_t*>(&arr[0]), sizeof arr[0], id}

const ListPage kPages[] = {
    {POST_DEV_ISOURCE, {"CFG_DEV_ADD", "CFG_DEV_EDIT", "CFG_DEV_DEL", nullptr},
     {"CFG_DEV_IP", "CFG_DEV_COMM", "CFG_DEV_USER"}, 3,
     {COL("CFG_DEV_IP", TEXT, g_source_ips.ip), COL("CFG_DEV_COMM", TEXT, g_source_ips.community),
      COL("CFG_DEV_USER", TEXT, g_source_ips.usm_user)},
     3, 0, HOST, SOURCE_IP_MAX, E1, E2, REPLY_CONFIG_UPDATED},
    {POST_DEV_IFORWARD, {"FWD_TARGET_ADD", "FWD_TARGET_EDIT", "FWD_TARGET_DEL", nullptr},
     {"FWD_TARGET_IP"}, 1,
     {COL("FWD_TARGET_IP", TEXT, g_forward_traps.ip),
      NUM("FWD_TARGET_PORT", U16, g_forward_traps.port, SETTING_FORWARD_PORT)},
     2, 0, HOST, FORWARD_TRAP_MAX, E4, E2, F1},
    {POST_DEV_IACCESS, {"CFG_DEV_ADD", "CFG_DEV_EDIT", "CFG_DEV_DEL", nullptr},
     {"CFG_DEV_IP", "CFG_DEV_COMM"}, 2,
     {COL("CFG_DEV_IP", TEXT, g_snmp_agent.ip), COL("CFG_DEV_COMM", TEXT, g_snmp_agent.community),
      NUM("CFG_DEV_PERMISSION", U8, g_snmp_agent.permission, SETTING_MANAGER_PERMISSION)},
     3, 0, ANY_HOST, SNMP_MANAGER_MAX, E5, E2, REPLY_SNMPV1_UPDATED},
    {POST_DEV_IUSM, {"CFG_DEV_ADD", "CFG_DEV_EDIT", "CFG_DEV_DEL", nullptr},
     {"CFG_USM_USER", "CFG_USM_AUTH", "CFG_USM_PRIV"}, 3,
     {COL("CFG_USM_USER", TEXT, g_usm.user), NUM("CFG_USM_SECURITY", U8, g_usm.security, SETTING_USM_SECURITY),
      COL("CFG_USM_AUTH", SECRET, g_usm.auth), COL("CFG_USM_PRIV", SECRET, g_usm.priv),
      NUM("CFG_USM_PERMISSION", U8, g_usm.permission, SETTING_USM_PERMISSION)},
     5, 0, NO_ADDRESS, USM_USER_MAX, E7, E8, REPLY_SNMPV3_UPDATED},
    {POST_DEV_ICLUSTER, {"CFG_CLUSTER_ADD", "CFG_CLUSTER_EDIT", "CFG_CLUSTER_DEL", "CFG_CLUSTER_TST"},
     {"CFG_CLUSTER_IP", "CFG_CLUSTER_ACCOUNT", "CFG_CLUSTER_NAME"}, 3,
     {COL("CFG_CLUSTER_IP", TEXT, g_clusters.vcenter), COL("CFG_CLUSTER_ACCOUNT", TEXT, g_clusters.account),
      COL("CFG_CLUSTER_PASSWORD", SECRET, g_clusters.password), COL("CFG_CLUSTER_NAME", TEXT, g_clusters.cluster)},
     4, -1, NO_ADDRESS, CLUSTER_MAX, E11, nullptr, REPLY_CONFIG_UPDATED},
};

#undef COL
#undef NUM

int list_count(int page) {
  switch (page) {
    case POST_DEV_ISOURCE: return g_source_ips.count;
    case POST_DEV_IFORWARD: return g_forward_traps.count;
    case POST_DEV_IACCESS: return g_snmp_agent.count;
    case POST_DEV_IUSM: return g_usm.count;
    default: return g_clusters.count < 0 ? 0 : g_clusters.count;
  }
}

void set_list_count(int page, int n) {
  switch (page) {
    case POST_DEV_ISOURCE: g_source_ips.count = uint8_t(n); break;
    case POST_DEV_IFORWARD: g_forward_traps.count = uint8_t(n); break;
    case POST_DEV_IACCESS: g_snmp_agent.count = uint8_t(n); break;
    case POST_DEV_IUSM: g_usm.count = uint8_t(n); break;
    default: g_clusters.count = n; break;
  }
}

uint8_t* cell(const Column& c, int row) { return c.base + size_t(row) * c.stride; }

// The posted value cut to the column's room, as it would be stored.
void stored_form(const Column& c, const char* value, char* out) { text_copy8(out, c.stride, value ? value : ""); }

// True when every posted number is inside its range and the address is one the list takes.
bool values_acceptable(const ListPage& p, const char* const* values) {
  for (int k = 0; k < p.column_count; ++k) {
    int64_t n;
    if (p.columns[k].setting != SETTING_COUNT && values[k] && !http_form_setting(p.columns[k].setting, values[k], &n))
      return false;
  }
  if (p.address == NO_ADDRESS) return true;
  const char* address = values[0] ? values[0] : "";
  return strlen(address) < p.columns[0].stride && http_form_address(address, p.address == ANY_HOST);
}

// Writes the posted columns into the row (an edited row keeps the numbers that were not posted;
// a new row takes their factory values, which give the least access); with secrets_only, only
// the posted pass phrases and passwords.
void write_row(const ListPage& p, int row, const char* const* values, bool new_row, bool secrets_only = false) {
  for (int k = 0; k < p.column_count; ++k) {
    const Column& c = p.columns[k];
    if (secrets_only && c.kind != SECRET) continue;
    const char* v = values[k] ? values[k] : "";
    uint8_t* at = cell(c, row);
    int64_t n = 0;
    if (c.setting != SETTING_COUNT) {
      if (values[k]) http_form_setting(c.setting, v, &n);
      else if (new_row) n = settings_range(c.setting).factory;
      else continue;
    }
    switch (c.kind) {
      case TEXT: text_copy8(reinterpret_cast<char*>(at), c.stride, v); break;
      case SECRET:
        if (*v) text_copy8(reinterpret_cast<char*>(at), c.stride, v);
        break;
      case U8: *at = uint8_t(n); break;
      case U16: {
        uint16_t port = uint16_t(n);
        memcpy(at, &port, sizeof port);
        break;
      }
    }
  }
}

void clear_row(const ListPage& p, int row) {
  for (int k = 0; k < p.column_count; ++k) memset(cell(p.columns[k], row), 0, p.columns[k].stride);
}

// True when a row other than `except` holds the posted key.
bool key_in_use(const ListPage& p, int count, const char* value, int except) {
  if (p.key < 0) return false;
  const Column& c = p.columns[p.key];
  char posted[64];
  stored_form(c, value, posted);
  for (int r = 0; r < count; ++r)
    if (r != except && strncmp(reinterpret_cast<const char*>(cell(c, r)), posted, c.stride) == 0) return true;
  return false;
}

// A pass phrase of 1 to 7 characters is refused.
bool short_phrase(const char* value) { return value && *value && strlen(value) < 8; }

}  // namespace

void list_form_post(int page) {
  const ListPage* p = nullptr;
  for (const ListPage& candidate : kPages)
    if (candidate.page == page) p = &candidate;
  if (!p) {
    form_reply(REPLY_NOT_FOUND);
    return;
  }
  if (!form_token_ok()) return;
  if (http_form_check_inputs(p->checked_count, p->checked[0], p->checked[1], p->checked[2]) ||
      form_refuse_controls(p->checked_count, p->checked))
    return;
  if (FormFieldTable.count == 0) {
    form_reply(REPLY_NOT_FOUND);
    return;
  }
  Action action = NONE;
  int n = 0;
  const char* values[5] = {};
  for (int i = 0; i < FormFieldTable.count; ++i) {
    const FormField& f = FormFieldTable.rows[i];
    if (!f.name) continue;
    bool matched = false;
    for (int a = 0; a < 4 && !matched; ++a) {
      const char* name = p->actions[a];
      if (!name || strncmp(f.name, name, strlen(name)) != 0) continue;
      action = Action(ADD + a);
      int64_t row = 0;
      n = http_form_decimal(f.name + strlen(name), 1, 255, &row) ? int(row) : 0;
      matched = true;
    }
    for (int k = 0; k < p->column_count && !matched; ++k) {
      if (strncmp(f.name, p->columns[k].field, strlen(p->columns[k].field)) != 0) continue;
      values[k] = f.value ? f.value : "";
      matched = true;
    }
  }
  if (action == NONE) {
    form_reply(REPLY_NOT_FOUND);
    return;
  }
  int count = list_count(page);
  if (count > p->limit) count = p->limit;
  bool usm = page == POST_DEV_IUSM;
  if (usm && (action == ADD || action == EDIT) && (short_phrase(values[2]) || short_phrase(values[3]))) {
    form_reply(E6);
    return;
  }
  if (action == DEL && count == 0) {
    form_reply(E3);
    return;
  }
  // Rows outside the list are refused: they would be written outside the tables.
  if (action != ADD && (n < 1 || n > count)) {
    form_reply(kBadRow);
    return;
  }
  // The manager user keeps its row and its name; the administrator may give it new pass phrases.
  bool manager = usm && n == 1;
  if (manager && action == DEL) {
    form_reply(E10);
    return;
  }
  if (manager && action == EDIT) {
    char posted[sizeof g_usm.user[0]];
    stored_form(p->columns[0], values[0], posted);
    if (sess_current_level() != 0 || (values[0] && strncmp(posted, g_usm.user[0], sizeof posted) != 0)) {
      form_reply(E9);
      return;
    }
  }
  switch (action) {
    case ADD:
      if (count >= p->limit) {
        form_reply(p->full);
        return;
      }
      if (key_in_use(*p, count, values[p->key < 0 ? 0 : p->key], -1)) {
        form_reply(p->duplicate);
        return;
      }
      if (!values_acceptable(*p, values)) {
        form_reply(REPLY_BAD_INPUT);
        return;
      }
      clear_row(*p, count);
      write_row(*p, count, values, true);
      set_list_count(page, count + 1);
      break;
    case EDIT:
      if (manager) {
        write_row(*p, 0, values, false, true);
        break;
      }
      if (key_in_use(*p, count, values[p->key < 0 ? 0 : p->key], n - 1)) {
        form_reply(p->duplicate);
        return;
      }
      if (!values_acceptable(*p, values)) {
        form_reply(REPLY_BAD_INPUT);
        return;
      }
      write_row(*p, n - 1, values, false);
      break;
    case DEL:
      for (int r = n - 1; r + 1 < count; ++r)
        for (int k = 0; k < p->column_count; ++k)
          memcpy(cell(p->columns[k], r), cell(p->columns[k], r + 1), p->columns[k].stride);
      clear_row(*p, count - 1);
      set_list_count(page, count - 1);
      break;
    case TEST:
      form_reply(F2);
      EventApi.evt_log(u"0.0.0.0", 0, u"Execute the VMWare cluster shutdown command.", nullptr);
      vm_run_cluster_script(0, n - 1);
      return;
    case NONE:
      return;
  }
  // A list that could not be stored stays as it was, and so does the alarm state of its sources.
  if (!http_settings_save()) return;
  if (page == POST_DEV_ISOURCE && action == EDIT) ups_source_reset(uint8_t(n - 1));
  if (page == POST_DEV_ISOURCE && action == DEL) ups_source_remove(uint8_t(n - 1), uint8_t(count));
  form_reply(p->success);
  if (usm && SnmpAgentApi.snmp_usm_localize_keys) SnmpAgentApi.snmp_usm_localize_keys();
}
