// Shared set-up of the UPS page tests: the alarm engine's installation folder and records, a
// session stand-in with its eleven integers and the token "tok", a form parser for URL-encoded
// bodies, and counters for the listener closes and key localisations the forms cause.
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

inline int hex(char c) { return c >= '0' && c <= '9' ? c - '0' : (c | 32) - 'a' + 10; }

// URL-encoded body into FormFieldTable, cut in place: '+' is a space and %XX a byte.
inline void parse_form(char* body, const char*) {
  FormFieldTable.count = 0;
  char* p = body;
  while (*p && FormFieldTable.count < FORM_FIELDS_MAX) {
    char* eq = strchr(p, '=');
    if (!eq) break;
    *eq = 0;
    char* value = eq + 1;
    char* amp = strchr(value, '&');
    if (amp) *amp = 0;
    char* w = value;
    for (char* r = value; *r; ++r) {
      if (*r == '+') *w++ = ' ';
      else if (*r == '%' && r[1] && r[2]) {
        *w++ = char(hex(r[1]) * 16 + hex(r[2]));
        r += 2;
      } else *w++ = *r;
    }
    *w = 0;
    FormFieldTable.rows[FormFieldTable.count++] = FormField{p, nullptr, value, nullptr};
    if (!amp) break;
    p = amp + 1;
  }
}

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
    WebServerOps.http_parse_form_data = parse_form;
    TrapReceiverApi.trap_close = fake_trap_close;
    SnmpAgentApi.snmp_agent_close = fake_agent_close;
    SnmpAgentApi.snmp_usm_localize_keys = fake_localize;
    NOT_DELAY = 5;
    cfg_save();
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
    web_form_post(&c, 0);
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
};

}  // namespace pages_test
