// Shared set-up of the UPS page tests: the alarm engine's installation folder and records, a
// session stand-in with its eleven integers and the token "tok", the web layer's form parser,
// and counters for the listener closes and key localisations the forms cause.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../alarm/alarm_fixture.h"
#include "common/settings_file.h"
#include "service/events/event_log.h"
#include "service/pages/form_handlers.h"
#include "service/pages/page_variables.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/web/http_request.h"
#include "service/web/form_data.h"
#include "service/web/session.h"
#include "service/web/system_pages.h"

namespace pages_test {

struct Counters {
  int trap_close, agent_close, localize;
  uint32_t vars[11];
};

inline Counters& counters() {
  static Counters c;
  return c;
}

inline uint32_t fake_var_get(int i) { return i >= 0 && i < 11 ? counters().vars[i] : 0; }
inline void fake_var_set(int i, uint32_t v) {
  if (i >= 0 && i < 11) counters().vars[i] = v;
}
inline int fake_token_check(const uint8_t*, const char* token) { return token && strcmp(token, "tok") == 0; }
inline int fake_trap_close() {
  ++counters().trap_close;
  return 0;
}
inline void fake_agent_close() { ++counters().agent_close; }
inline void fake_localize() { ++counters().localize; }

class PagesFixture : public alarm_test::AlarmFixture {
 protected:
  std::vector<char> body_;

  void SetUp() override {
    AlarmFixture::SetUp();
    std::filesystem::create_directories(dir.file("httpd/htdocs/tmp"));
    counters() = Counters{};
    counters().vars[1] = 0;
    SessionApi.sess_var_get = fake_var_get;
    SessionApi.sess_var_set = fake_var_set;
    SessionApi.sess_token_check = fake_token_check;
    WebServerOps.http_parse_form_data = http_parse_form_data;
    TrapReceiverApi.trap_close = fake_trap_close;
    SnmpAgentApi.snmp_agent_close = fake_agent_close;
    SnmpAgentApi.snmp_usm_localize_keys = fake_localize;
    NOT_DELAY = 5;
    session_level(0);
    cfg_save();
  }

  void TearDown() override {
    g_current_session = -1;
    WebSessionTable[0] = WebSession{};
    AlarmFixture::TearDown();
  }

  // The posts come from a session of this access level (0 administrator, 1 device manager).
  void session_level(int level) {
    WebSessionTable[0] = WebSession{};
    WebSessionTable[0].in_use = 1;
    WebSessionTable[0].level = uint8_t(level);
    g_current_session = 0;
  }

  // Posts the body to the page (the last segment of path) and gives the reply line; "-" when
  // the handler left none.
  std::string post(const std::string& path, const std::string& body) {
    std::string p = path;
    body_.assign(body.begin(), body.end());
    body_.push_back(0);
    HttpConnection c{};
    c.path = p.data();
    c.body = body_.data();
    c.body_fill = uint32_t(body.size());
    snprintf(g_reply, sizeof g_reply, "-");
    web_form_post(&c);
    return g_reply;
  }

  // The value a template variable writes.
  std::string var(const char* name) {
    char* buf = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buf, &size);
    asp_page_variable(f, name, 0, nullptr);
    fclose(f);
    std::string s(buf, size);
    free(buf);
    return s;
  }

  std::string ini() { return read_file(dir.file("agent.ini")); }

  // Every stored record, to show that a refused post changed none of them.
  using Stored = StoredRecords;
  static Stored stored() { return cfg_records_copy(); }
  static bool unchanged(const Stored& s) {
    return memcmp(&s.settings, &g_settings, sizeof s.settings) == 0 &&
           memcmp(&s.sources, &g_source_ips, sizeof s.sources) == 0 &&
           memcmp(&s.targets, &g_forward_traps, sizeof s.targets) == 0 &&
           memcmp(&s.agent, &g_snmp_agent, sizeof s.agent) == 0 && memcmp(&s.usm, &g_usm, sizeof s.usm) == 0 &&
           memcmp(&s.clusters, &g_clusters, sizeof s.clusters) == 0;
  }

  // Empties the four lists that the factory settings fill (the SNMPv3 users keep the manager).
  void empty_lists() {
    g_source_ips.count = 0;
    g_forward_traps.count = 0;
    g_snmp_agent.count = 0;
    g_clusters.count = 0;
  }
};

}  // namespace pages_test
