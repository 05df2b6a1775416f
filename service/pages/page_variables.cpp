// Template variables of the UPS pages. The group is chosen by the name's first three characters;
// within it the first table name that the requested name begins with wins. Data texts are
// HTML-escaped, and JavaScript-escaped inside the rows' onclick calls. Communities are shown to
// the administrator and the device manager only; pass phrases and passwords to nobody.
#include "service/pages/page_variables.h"

#include <cstdlib>
#include <cstring>

#include "common/settings.h"
#include "common/text.h"
#include "platform/clock.h"
#include "service/alarm/alarm_state.h"
#include "service/alarm/status.h"
#include "service/core/host_metrics.h"
#include "service/events/event_defs.h"
#include "service/events/event_log.h"
#include "service/events/event_views.h"
#include "service/web/asp_template.h"
#include "service/web/request_state.h"
#include "service/web/session.h"

int32_t NOT_DELAY = 5;

namespace {

enum Var {
  SUM_HOST_NAME, SUM_OS_DESC, SUM_TRAP_PORT, SUM_OS_COUNTDOWN, SUM_SHUT_TYPE, SUM_SOURCE_LIST, SUM_SLOG_LIST,
  SUM_SOURCE_NUM, SUM_SLOG_NUM, SUM_OS_CANCEL,
  LOG_PAGE, LOG_BUTTON, LOG_ISPAGE, LOG_ISDATE, LOG_FROM, LOG_TO, LOG_SELECTID,
  HCG_MAX_EVENTNUM, HCG_EMPTY,
  CFG_ENABLE, CFG_MSG_EN, CFG_CMD_EN, CFG_DELAY, CFG_SRC_LIST, CFG_MSG_PERIOD, CFG_CMD_FILE, CFG_CMD_BEFORE,
  CFG_FUNC_LOAD, CFG_SRC_LOGICAL, CFG_TRAP_PORT, CFG_SHUT_TYPE, CFG_SNMP_PORT, CFG_USM_CONTEXT, CFG_MAG_EN,
  CFG_VM_EN, CFG_VM_TYPE, CFG_VM_HOST, CFG_VM_ACCOUNT, CFG_VM_PASSWORD, CFG_VM_VCLI, CFG_CLUSTER_LIST, CFG_GS_EN,
  FWD_TARGET_LIST, FWD_FUNC_LOAD, ACS_SOURCE_LIST, ACS_FUNC_LOAD, USM_USER_LIST, USM_FUNC_LOAD, NOT_DELAY_VAR,
  DBG_EMPTY,
};

struct Entry {
  const char* name;
  Var var;
  int arg;  // condition index of the enable and delay entries
};

struct Group {
  const Entry* entries;
  int count;
};

const Entry kSum[] = {
    {"SUM_HOST_NAME", SUM_HOST_NAME, 0},   {"SUM_OS_DESC", SUM_OS_DESC, 0},
    {"SUM_TRAP_PORT", SUM_TRAP_PORT, 0},   {"SUM_OS_COUNTDOWN", SUM_OS_COUNTDOWN, 0},
    {"SUM_SHUT_TYPE", SUM_SHUT_TYPE, 0},   {"SUM_SOURCE_LIST", SUM_SOURCE_LIST, 0},
    {"SUM_SLOG_LIST", SUM_SLOG_LIST, 0},   {"SUM_SOURCE_NUM", SUM_SOURCE_NUM, 0},
    {"SUM_SLOG_NUM", SUM_SLOG_NUM, 0},     {"SUM_OS_CANCEL", SUM_OS_CANCEL, 0},
};
const Entry kLog[] = {
    {"LOG_PAGE", LOG_PAGE, 0}, {"LOG_BUTTON", LOG_BUTTON, 0}, {"LOG_ISPAGE", LOG_ISPAGE, 0},
    {"LOG_ISDATE", LOG_ISDATE, 0}, {"LOG_FROM", LOG_FROM, 0}, {"LOG_TO", LOG_TO, 0},
    {"LOG_SELECTID", LOG_SELECTID, 0},
};
const Entry kHcg[] = {
    {"HCG_MAX_EVENTNUM", HCG_MAX_EVENTNUM, 0}, {"HCG_MAX_DATANUM", HCG_EMPTY, 0},
    {"HCG_AE_INTERVAL", HCG_EMPTY, 0}, {"HCG_AE_PATH", HCG_EMPTY, 0},
};
const Entry kCfg[] = {
    {"CFG_PF_EN", CFG_ENABLE, 0},         {"CFG_BL_EN", CFG_ENABLE, 1},
    {"CFG_OL_EN", CFG_ENABLE, 2},         {"CFG_BP_EN", CFG_ENABLE, 3},
    {"CFG_SS_EN", CFG_ENABLE, 4},         {"CFG_MSG_EN", CFG_MSG_EN, 0},
    {"CFG_CMD_EN", CFG_CMD_EN, 0},        {"CFG_OSD_PF", CFG_DELAY, 0},
    {"CFG_OSD_BL", CFG_DELAY, 1},         {"CFG_OSD_OL", CFG_DELAY, 2},
    {"CFG_OSD_BP", CFG_DELAY, 3},         {"CFG_OSD_SS", CFG_DELAY, 4},
    {"CFG_SRC_LIST", CFG_SRC_LIST, 0},    {"CFG_MSG_EN", CFG_MSG_EN, 0},
    {"CFG_MSG_PERIOD", CFG_MSG_PERIOD, 0}, {"CFG_CMD_EN", CFG_CMD_EN, 0},
    {"CFG_CMD_FILE", CFG_CMD_FILE, 0},    {"CFG_CMD_BEFORE", CFG_CMD_BEFORE, 0},
    {"CFG_FUNC_LOAD", CFG_FUNC_LOAD, 0},  {"CFG_SRC_LOGICAL", CFG_SRC_LOGICAL, 0},
    {"CFG_TRAP_PORT", CFG_TRAP_PORT, 0},  {"CFG_SHUT_TYPE", CFG_SHUT_TYPE, 0},
    {"CFG_SNMP_PORT", CFG_SNMP_PORT, 0},  {"CFG_USM_CONTEXT", CFG_USM_CONTEXT, 0},
    {"CFG_MAG_EN", CFG_MAG_EN, 0},        {"CFG_VM_EN", CFG_VM_EN, 0},
    {"CFG_VM_TYPE", CFG_VM_TYPE, 0},      {"CFG_VM_HOST", CFG_VM_HOST, 0},
    {"CFG_VM_ACCOUNT", CFG_VM_ACCOUNT, 0}, {"CFG_VM_PASSWORD", CFG_VM_PASSWORD, 0},
    {"CFG_VM_VCLI", CFG_VM_VCLI, 0},      {"CFG_CLUSTER_LIST", CFG_CLUSTER_LIST, 0},
    {"CFG_GS_EN", CFG_GS_EN, 0},
};
const Entry kFwd[] = {{"FWD_TARGET_LIST", FWD_TARGET_LIST, 0}, {"FWD_FUNC_LOAD", FWD_FUNC_LOAD, 0}};
const Entry kAcs[] = {{"ACS_SOURCE_LIST", ACS_SOURCE_LIST, 0}, {"ACS_FUNC_LOAD", ACS_FUNC_LOAD, 0}};
const Entry kUsm[] = {{"USM_USER_LIST", USM_USER_LIST, 0}, {"USM_FUNC_LOAD", USM_FUNC_LOAD, 0}};
const Entry kNot[] = {{"NOT_DELAY", NOT_DELAY_VAR, 0}};
const Entry kDbg[] = {
    {"DBG_TX_OK", DBG_EMPTY, 0},       {"DBG_TX_ERR", DBG_EMPTY, 0},       {"DBG_RX_OK", DBG_EMPTY, 0},
    {"DBG_RX_TIMEOUT", DBG_EMPTY, 0},  {"DBG_RX_CSERR", DBG_EMPTY, 0},     {"DBG_RX_OVERFLOW", DBG_EMPTY, 0},
    {"DBG_RX_PARSEERR", DBG_EMPTY, 0}, {"DBG_VER_OS", DBG_EMPTY, 0},       {"DBG_VER_NMC", DBG_EMPTY, 0},
    {"DBG_VER_UPS", DBG_EMPTY, 0},     {"DBG_COM_LOG", DBG_EMPTY, 0},      {"DBG_COM_FILE", DBG_EMPTY, 0},
};

#define GROUP(t) {t, int(sizeof t / sizeof t[0])}
// FIFO_GROUP_ASP: the groups in the order they are tried.
const Group FIFO_GROUP_ASP[] = {GROUP(kSum), GROUP(kLog), GROUP(kHcg), GROUP(kCfg), GROUP(kFwd),
                                GROUP(kAcs), GROUP(kUsm), GROUP(kNot), GROUP(kDbg)};
#undef GROUP

const char kFixedCommunity[] = "fenwix";

int clamp_count(int count, int max) { return count < 0 ? 0 : count > max ? max : count; }

// A single value: formatted into g_reply, then written out.
void put_number(FILE* out, long long value) {
  snprintf(g_reply, sizeof g_reply, "%lld", value);
  fputs(g_reply, out);
}

// A data text: kept in g_reply as it is, written HTML-escaped.
void put_text(FILE* out, const char* text) {
  text_copy8(g_reply, sizeof g_reply, text);
  asp_write_text(out, g_reply);
}

// A fixed-room 8-bit field as a terminated text.
const char* field8(char* buf, size_t room, const char* field, size_t field_room) {
  size_t n = text_len8_in(field, field_room);
  if (n >= room) n = room - 1;
  memcpy(buf, field, n);
  buf[n] = 0;
  return buf;
}

// A UTF-16 field stored one byte a character: units below U+0100 become their byte, others '?'.
void put_bytes_text(FILE* out, const char16_t* field, size_t units) {
  char16_t copy[260];
  size_t n = text_len16_in(field, units);
  if (n >= sizeof copy / sizeof copy[0]) n = sizeof copy / sizeof copy[0] - 1;
  memcpy(copy, field, n * sizeof(char16_t));
  copy[n] = 0;
  char bytes[260];
  text_utf16_to_bytes(bytes, sizeof bytes, copy);
  put_text(out, bytes);
}

void put_script(FILE* out, const char* text) { asp_write_script_text(out, text); }

void put_date(FILE* out, uint32_t month, uint32_t day, uint32_t year) {
  if (month == 0 && day == 0 && year == 0) {
    SystemTime now;
    clock_local_time(&now);
    snprintf(g_reply, sizeof g_reply, "%02d/%02d/%04d", now.month, now.day, now.year);
  } else {
    snprintf(g_reply, sizeof g_reply, "%02d/%02d/%04d", int(month), int(day), int(year) + 2000);
  }
  fputs(g_reply, out);
}

uint32_t session_var(int i) { return SessionApi.sess_var_get ? SessionApi.sess_var_get(i) : 0; }

// A stored community as the session may see it: empty below the device manager's level (the
// read-only account would read the communities that let a manager write over SNMP).
const char* community_shown(const char* community) {
  int level = sess_current_level();
  return level == 0 || level == 1 ? community : "";
}

// The history page of the session; the log may have shrunk since it was chosen, and then its
// last page is shown.
uint32_t shown_page() {
  uint32_t page = session_var(0), pages = (evt_line_count() + EVENT_PAGE_LINES - 1) / EVENT_PAGE_LINES;
  return page < pages ? page : pages ? pages - 1 : 0;
}

void sum_source_list(FILE* out) {
  int n = clamp_count(g_source_ips.count, SOURCE_IP_MAX);
  char buf[64];
  for (int i = 0; i < n; ++i) {
    fputs("<SUM_SOURCE_IP>", out);
    asp_write_text(out, field8(buf, sizeof buf, g_source_ips.ip[i], sizeof g_source_ips.ip[i]));
    fputs("</SUM_SOURCE_IP>\n<SUM_SOURCE_COMM>", out);
    const char* community = field8(buf, sizeof buf, g_source_ips.community[i], sizeof g_source_ips.community[i]);
    asp_write_text(out, community_shown(community));
    fprintf(out, "</SUM_SOURCE_COMM>\n<SUM_SOURCE_STS>%d</SUM_SOURCE_STS>\n<SUM_SOURCE_EVT>",
            g_status.max_level[i + 1]);
    char alarms[256] = "";
    alarm_text_list(i, alarms, sizeof alarms, 1);
    asp_write_text(out, alarms[0] ? alarms : "-1");
    fputs("</SUM_SOURCE_EVT>\n", out);
  }
}

void sum_slog_list(FILE* out) {
  uint32_t c = evt_line_count();
  uint32_t shown = c < 5 ? c : 5;
  for (uint32_t k = 0; k < shown; ++k) {
    char line[EVENT_LOG_LINE_BYTES];
    if (!EventApi.evt_read_recent_line || !EventApi.evt_read_recent_line(k, line)) continue;
    char *source, *level, *date, *time, *message;
    if (!EventApi.evt_split_line(line, &source, &level, &date, &time, &message)) continue;
    fputs("<SUM_SLOG_IP>", out);
    asp_write_text(out, strcmp(source, "0.0.0.0") == 0 ? "Local" : source);
    fprintf(out, "</SUM_SLOG_IP>\n<SUM_SLOG_LEVEL>%d</SUM_SLOG_LEVEL>\n<SUM_SLOG_TIME>", atoi(level));
    asp_write_text(out, date);
    fputs(" ", out);
    asp_write_text(out, time);
    fputs("</SUM_SLOG_TIME>\n<SUM_SLOG_EVENT>", out);
    asp_write_text(out, message);
    fputs("</SUM_SLOG_EVENT>\n", out);
  }
}

// The selection call of a trap source row (also the first call of CFG_FUNC_LOAD).
void source_call(FILE* out, int row, const char* ip, const char* community, const char* user, int real) {
  fprintf(out, "Func_Select(%d,'", row);
  put_script(out, ip);
  fputs("','", out);
  put_script(out, community);
  fputs("','", out);
  put_script(out, user);
  fprintf(out, "',%d);", real);
}

void source_row(FILE* out, int row, const char* ip, const char* community, const char* user, int real) {
  fprintf(out, "<tr align=center><td>%d</td><td><a href=\"#\" id=\"%d\" onclick=\"", row, row);
  source_call(out, row, ip, community, user, real);
  fputs("\">", out);
  asp_write_text(out, ip);
  fputs("</a></td><td>", out);
  asp_write_text(out, community);
  fputs("</td><td>", out);
  asp_write_text(out, user);
  fputs("</td></tr>\n", out);
}

void cfg_src_list(FILE* out) {
  int n = clamp_count(g_source_ips.count, SOURCE_IP_MAX);
  if (n == 0) source_row(out, 1, "0.0.0.0", kFixedCommunity, "", 0);
  char ip[64], comm[32], user[32];
  for (int i = 0; i < n; ++i)
    source_row(out, i + 1, field8(ip, sizeof ip, g_source_ips.ip[i], sizeof g_source_ips.ip[i]),
               community_shown(field8(comm, sizeof comm, g_source_ips.community[i], sizeof g_source_ips.community[i])),
               field8(user, sizeof user, g_source_ips.usm_user[i], sizeof g_source_ips.usm_user[i]), 1);
}

void cluster_call(FILE* out, int row, const char* vcenter, const char* account, const char* cluster, int real) {
  fprintf(out, "Func_SelectCluster(%d,'", row);
  put_script(out, vcenter);
  fputs("','", out);
  put_script(out, account);
  fputs("','','", out);
  put_script(out, cluster);
  fprintf(out, "',%d);", real);
}

void cluster_row(FILE* out, int row, const char* vcenter, const char* account, const char* cluster, int real) {
  fprintf(out, "<tr align=center><td>%d</td><td><a href=\"#\" id=\"Cluster%d\" onclick=\"", row, row);
  cluster_call(out, row, vcenter, account, cluster, real);
  fputs("\">", out);
  asp_write_text(out, vcenter);
  fputs("</a></td><td>", out);
  asp_write_text(out, account);
  fputs("</td><td></td><td>", out);
  asp_write_text(out, cluster);
  fputs("</td></tr>\n", out);
}

void cfg_cluster_list(FILE* out) {
  if (g_clusters.count < 0) return;
  int n = clamp_count(g_clusters.count, CLUSTER_MAX);
  if (n == 0) cluster_row(out, 1, "0.0.0.0", "", "", 0);
  char vc[64], acc[40], cl[40];
  for (int i = 0; i < n; ++i)
    cluster_row(out, i + 1, field8(vc, sizeof vc, g_clusters.vcenter[i], sizeof g_clusters.vcenter[i]),
                field8(acc, sizeof acc, g_clusters.account[i], sizeof g_clusters.account[i]),
                field8(cl, sizeof cl, g_clusters.cluster[i], sizeof g_clusters.cluster[i]), 1);
}

void cfg_func_load(FILE* out) {
  char a[64], b[40], c[40];
  if (clamp_count(g_source_ips.count, SOURCE_IP_MAX) > 0)
    source_call(out, 1, field8(a, sizeof a, g_source_ips.ip[0], sizeof g_source_ips.ip[0]),
                community_shown(field8(b, sizeof b, g_source_ips.community[0], sizeof g_source_ips.community[0])),
                field8(c, sizeof c, g_source_ips.usm_user[0], sizeof g_source_ips.usm_user[0]), 1);
  else
    source_call(out, 1, "0.0.0.0", kFixedCommunity, "", 0);
  fputs("\n", out);
  if (g_clusters.count > 0)
    cluster_call(out, 1, field8(a, sizeof a, g_clusters.vcenter[0], sizeof g_clusters.vcenter[0]),
                 field8(b, sizeof b, g_clusters.account[0], sizeof g_clusters.account[0]),
                 field8(c, sizeof c, g_clusters.cluster[0], sizeof g_clusters.cluster[0]), 1);
  else
    cluster_call(out, 1, "0.0.0.0", "", "", 0);
  fputs("\n", out);
}

void target_call(FILE* out, int row, const char* ip, int port, int real) {
  fprintf(out, "Func_Select(%d,'", row);
  put_script(out, ip);
  fprintf(out, "',%d,%d);", port, real);
}

void fwd_target_row(FILE* out, int row, const char* ip, int port, int real) {
  fprintf(out, "<tr align=center><td>%d</td><td><a href=\"#\" id=\"%d\" onclick=\"", row, row);
  target_call(out, row, ip, port, real);
  fputs("\">", out);
  asp_write_text(out, ip);
  fprintf(out, "</a></td><td>%d</td></tr>\n", port);
}

void manager_call(FILE* out, int row, const char* ip, const char* community, int permission, int real) {
  fprintf(out, "Func_Select(%d,'", row);
  put_script(out, ip);
  fputs("','", out);
  put_script(out, community);
  fprintf(out, "',%d,%d);", permission, real);
}

void manager_row(FILE* out, int row, const char* ip, const char* community, int permission, int real) {
  fprintf(out, "<tr align=center><td>%d</td><td><a href=\"#\" id=\"%d\" onclick=\"", row, row);
  manager_call(out, row, ip, community, permission, real);
  fputs("\">", out);
  asp_write_text(out, ip);
  fputs("</a></td><td>", out);
  asp_write_text(out, community);
  fprintf(out, "</td><td>%d</td></tr>\n", permission);
}

void user_call(FILE* out, int row, const char* user, int security, const char* auth, const char* priv,
               int permission, int real) {
  fprintf(out, "Func_Select(%d,'", row);
  put_script(out, user);
  fprintf(out, "',%d,'", security);
  put_script(out, auth);
  fputs("','", out);
  put_script(out, priv);
  fprintf(out, "',%d,%d);", permission, real);
}

void user_row(FILE* out, int row, const char* user, int security, const char* auth, const char* priv,
              int permission, int real) {
  fprintf(out, "<tr align=center><td>%d</td><td><a href=\"#\" id=\"%d\" onclick=\"", row, row);
  user_call(out, row, user, security, auth, priv, permission, real);
  fputs("\">", out);
  asp_write_text(out, user);
  fprintf(out, "</a></td><td>%d</td><td>", security);
  asp_write_text(out, auth);
  fputs("</td><td>", out);
  asp_write_text(out, priv);
  fprintf(out, "</td><td>%d</td></tr>\n", permission);
}

void write_var(FILE* out, const Entry& e) {
  char buf[300];
  switch (e.var) {
    case SUM_HOST_NAME: put_text(out, g_host_name); break;
    case SUM_OS_DESC:
      text_utf16_to_utf8(buf, 128, g_status.os_description);
      put_text(out, buf);
      break;
    case SUM_TRAP_PORT: case CFG_TRAP_PORT: put_number(out, g_source_ips.listen_port); break;
    case SUM_OS_COUNTDOWN: put_number(out, g_status.countdown_left); break;
    case SUM_SHUT_TYPE: case CFG_SHUT_TYPE: put_number(out, g_settings.shutdown_type); break;
    case SUM_SOURCE_LIST: sum_source_list(out); break;
    case SUM_SLOG_LIST: sum_slog_list(out); break;
    case SUM_SOURCE_NUM: put_number(out, g_source_ips.count); break;
    case SUM_SLOG_NUM: put_number(out, evt_line_count() < 5 ? evt_line_count() : 5); break;
    case SUM_OS_CANCEL: put_number(out, g_status.shutdown_cancelled); break;
    case LOG_PAGE:
      if (session_var(1) != 0) {
        uint32_t page = shown_page();
        snprintf(g_reply, sizeof g_reply, "Page%u", unsigned(page) + 1);
        fputs(g_reply, out);
        if (EventApi.evt_render_page) EventApi.evt_render_page(page);
      } else {
        uint8_t from[3] = {uint8_t(session_var(2)), uint8_t(session_var(3)), uint8_t(session_var(4))};
        uint8_t to[3] = {uint8_t(session_var(5)), uint8_t(session_var(6)), uint8_t(session_var(7))};
        snprintf(g_reply, sizeof g_reply, "%02d/%02d/%04d ~ %02d/%02d/%04d", from[0], from[1], from[2] + 2000,
                 to[0], to[1], to[2] + 2000);
        fputs(g_reply, out);
        if (EventApi.evt_render_range) EventApi.evt_render_range(from, to);
      }
      break;
    case LOG_BUTTON:
      g_reply[0] = 0;
      if (EventApi.evt_render_pager) EventApi.evt_render_pager(g_reply, int32_t(shown_page()));
      fputs(g_reply, out);
      break;
    case LOG_ISPAGE: fputs(session_var(1) != 0 ? "Checked" : "", out); break;
    case LOG_ISDATE: fputs(session_var(1) == 0 ? "Checked" : "", out); break;
    case LOG_FROM: put_date(out, session_var(2), session_var(3), session_var(4)); break;
    case LOG_TO: put_date(out, session_var(5), session_var(6), session_var(7)); break;
    case LOG_SELECTID: {
      uint32_t low = session_var(8), high = session_var(9);
      for (int n = 0; n < 32; ++n) g_reply[n] = (low >> n & 1) ? '1' : '0';
      g_reply[32] = (high & 1) ? '1' : '0';
      g_reply[33] = 0;
      fputs(g_reply, out);
      break;
    }
    case HCG_MAX_EVENTNUM: put_number(out, EVENT_LOG_MAX_LINES); break;
    case HCG_EMPTY: case DBG_EMPTY: case CFG_VM_PASSWORD: g_reply[0] = 0; break;
    case CFG_ENABLE: put_number(out, g_settings.condition_enable[e.arg]); break;
    case CFG_MSG_EN: put_number(out, g_settings.notify_enable); break;
    case CFG_CMD_EN: put_number(out, g_settings.command_enable); break;
    case CFG_DELAY: put_number(out, int32_t(g_settings.condition_delay[e.arg])); break;
    case CFG_SRC_LIST: cfg_src_list(out); break;
    case CFG_MSG_PERIOD: put_number(out, g_settings.notify_period); break;
    case CFG_CMD_FILE: {
      char16_t copy[256];
      size_t n = text_len16_in(g_settings.command_file, 256);
      memcpy(copy, g_settings.command_file, (n < 255 ? n : 255) * sizeof(char16_t));
      copy[n < 255 ? n : 255] = 0;
      text_utf16_to_utf8(buf, 250, copy);
      put_text(out, buf);
      break;
    }
    case CFG_CMD_BEFORE: put_number(out, int32_t(g_settings.command_before)); break;
    case CFG_FUNC_LOAD: cfg_func_load(out); break;
    case CFG_SRC_LOGICAL: put_number(out, g_source_ips.logical); break;
    case CFG_SNMP_PORT: put_number(out, g_snmp_agent.listen_port); break;
    case CFG_USM_CONTEXT: put_text(out, field8(buf, sizeof buf, g_usm.context_name, sizeof g_usm.context_name)); break;
    case CFG_MAG_EN: put_number(out, int32_t(g_settings.manageable)); break;
    case CFG_VM_EN: put_number(out, g_settings.vm_enable); break;
    case CFG_VM_TYPE: put_number(out, g_settings.vm_type); break;
    case CFG_VM_HOST: put_bytes_text(out, g_settings.vm_server, 129); break;
    case CFG_VM_ACCOUNT: put_bytes_text(out, g_settings.vm_account, 33); break;
    case CFG_VM_VCLI: put_bytes_text(out, g_settings.vcli_path, 256); break;
    case CFG_CLUSTER_LIST: cfg_cluster_list(out); break;
    case CFG_GS_EN: put_number(out, g_settings.guest_enable); break;
    case FWD_TARGET_LIST: {
      int n = clamp_count(g_forward_traps.count, FORWARD_TRAP_MAX);
      if (n == 0) fwd_target_row(out, 1, "0.0.0.0", 162, 0);
      for (int i = 0; i < n; ++i)
        fwd_target_row(out, i + 1, field8(buf, sizeof buf, g_forward_traps.ip[i], sizeof g_forward_traps.ip[i]),
                       g_forward_traps.port[i], 1);
      break;
    }
    case FWD_FUNC_LOAD:
      if (g_forward_traps.count > 0)
        target_call(out, 1, field8(buf, sizeof buf, g_forward_traps.ip[0], sizeof g_forward_traps.ip[0]),
                    g_forward_traps.port[0], 1);
      else
        target_call(out, 1, "0.0.0.0", 162, 0);
      fputs("\n", out);
      break;
    case ACS_SOURCE_LIST: {
      int n = clamp_count(g_snmp_agent.count, SNMP_MANAGER_MAX);
      if (n == 0) manager_row(out, 1, "0.0.0.0", kFixedCommunity, 0, 0);
      char comm[32];
      for (int i = 0; i < n; ++i)
        manager_row(out, i + 1, field8(buf, sizeof buf, g_snmp_agent.ip[i], sizeof g_snmp_agent.ip[i]),
                    community_shown(
                        field8(comm, sizeof comm, g_snmp_agent.community[i], sizeof g_snmp_agent.community[i])),
                    g_snmp_agent.permission[i], 1);
      break;
    }
    case ACS_FUNC_LOAD: {
      char comm[32];
      if (g_snmp_agent.count > 0)
        manager_call(out, 1, field8(buf, sizeof buf, g_snmp_agent.ip[0], sizeof g_snmp_agent.ip[0]),
                     community_shown(
                         field8(comm, sizeof comm, g_snmp_agent.community[0], sizeof g_snmp_agent.community[0])),
                     g_snmp_agent.permission[0], 1);
      else
        manager_call(out, 1, "0.0.0.0", kFixedCommunity, 0, 0);
      fputs("\n", out);
      break;
    }
    case USM_USER_LIST: {
      int n = clamp_count(g_usm.count, USM_USER_MAX);
      if (n == 0) user_row(out, 1, "", 0, "auth", "priv", 0, 0);
      for (int i = 0; i < n; ++i)
        user_row(out, i + 1, field8(buf, sizeof buf, g_usm.user[i], sizeof g_usm.user[i]), g_usm.security[i], "",
                 "", g_usm.permission[i], 1);
      break;
    }
    case USM_FUNC_LOAD:
      if (g_usm.count > 0)
        user_call(out, 1, field8(buf, sizeof buf, g_usm.user[0], sizeof g_usm.user[0]), g_usm.security[0], "", "",
                  g_usm.permission[0], 1);
      else
        user_call(out, 1, "", 0, "auth", "priv", 0, 0);
      fputs("\n", out);
      break;
    case NOT_DELAY_VAR: put_number(out, NOT_DELAY); break;
  }
}

}  // namespace

void asp_page_variable(FILE* out, const char* name, int, QueryPair*) {
  if (!out || !name) return;
  g_reply[0] = 0;
  for (const Group& g : FIFO_GROUP_ASP) {
    if (strncmp(name, g.entries[0].name, 3) != 0) continue;
    for (int i = 0; i < g.count; ++i) {
      size_t n = strlen(g.entries[i].name);
      if (strncmp(name, g.entries[i].name, n) == 0) {
        write_var(out, g.entries[i]);
        return;
      }
    }
    return;
  }
}
