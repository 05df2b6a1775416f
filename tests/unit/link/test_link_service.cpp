// Service side of the tray link: listener and slots, what is sent, and what received frames do.
// Client connections are socket pairs placed in the slots; the listener case uses the real port.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/window.h"
#include "service/alarm/status.h"
#include "service/core/agent.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/link/link_service.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/web/request_state.h"
#include "support/temp_dir.h"

namespace {

// Calls the service made into the other modules' tables.
struct Calls {
  int http_stop, http_open, trap_close, snmp_close;
  uint16_t http_port, https_port;
  uint8_t http_on, https_on;
} g_calls;

void fake_http_stop() { ++g_calls.http_stop; }
void fake_http_open(uint16_t http_port, uint16_t https_port, uint8_t http_on, uint8_t https_on) {
  ++g_calls.http_open;
  g_calls.http_port = http_port;
  g_calls.https_port = https_port;
  g_calls.http_on = http_on;
  g_calls.https_on = https_on;
}
int fake_trap_close() { return ++g_calls.trap_close, 0; }
void fake_snmp_close() { ++g_calls.snmp_close; }

intptr_t link_test_proc(WindowHandle w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == WM_LINK_SOCKET) {
    link_on_socket(wparam, lparam);
    return 0;
  }
  return win_def_window_proc(w, message, wparam, lparam);
}

WindowHandle test_window() {
  static WindowHandle w = [] {
    win_register_class(u"LinkTestWindow", link_test_proc);
    return win_create_window(u"LinkTestWindow", u"link test");
  }();
  return w;
}

template <class Stop>
bool pump(uint32_t ms, Stop stop) {
  uint32_t end = clock_tick_count() + ms;
  WindowMessage m;
  while (!stop()) {
    if (int32_t(end - clock_tick_count()) <= 0) return false;
    if (win_peek_message(&m)) win_dispatch_message(&m);
    else clock_sleep_ms(1);
  }
  return true;
}

std::string frame(uint32_t kind, uint32_t code, const void* body = nullptr, int32_t len = 0) {
  std::vector<char> out(LINK_FRAME_MAX);
  int32_t n = link_frame_build(out.data(), int32_t(out.size()), kind, code, static_cast<const uint8_t*>(body), len);
  return std::string(out.data(), size_t(n));
}

std::string upc(const AgentSettings& s) { return frame(LINK_KIND_UPC, 0, &s, sizeof s); }

// Reads one whole frame out of bytes a client received; its body stays valid until the next call.
bool decode_frame(const std::string& bytes, LinkFrame* frame) {
  static LinkRxBuffer rx;
  static uint8_t decode[LINK_DECODE_SIZE];
  if (bytes.size() > sizeof rx.data) return false;
  memcpy(rx.data, bytes.data(), bytes.size());
  rx.fill = int32_t(bytes.size());
  return link_frame_next(&rx, decode, frame) == LINK_FRAME_OK;
}

class LinkService : public ::testing::Test {
 protected:
  TempDir dir;
  WebServerOpsTable saved_web;
  TrapReceiverApiTable saved_trap;
  SnmpAgentApiTable saved_snmp;
  WindowHandle saved_hwnd;
  int peer[LINK_CLIENT_SLOTS];

  void SetUp() override {
    use_install_dir(dir);
    cfg_load_install_path();
    codec_table_init();
    sched_init();
    evt_init(InstallDirW, u"English");
    cfg_set_defaults();
    status_reset();
    saved_web = WebServerOps;
    saved_trap = TrapReceiverApi;
    saved_snmp = SnmpAgentApi;
    WebServerOps.http_server_stop = fake_http_stop;
    WebServerOps.http_open_listeners = fake_http_open;
    TrapReceiverApi.trap_close = fake_trap_close;
    SnmpAgentApi.snmp_agent_close = fake_snmp_close;
    g_calls = Calls{};
    saved_hwnd = g_main_hwnd;
    g_main_hwnd = test_window();
    ASSERT_NE(g_main_hwnd, nullptr);
    for (int& p : peer) p = -1;
    LinkState = 2;
  }

  void TearDown() override {
    for (int i = 0; i < LINK_CLIENT_SLOTS; ++i) {
      link_client_close(i);
      if (peer[i] >= 0) close(peer[i]);
    }
    link_listen_close();
    agent_kill_reaction_timers();
    g_main_hwnd = saved_hwnd;
    WebServerOps = saved_web;
    TrapReceiverApi = saved_trap;
    SnmpAgentApi = saved_snmp;
    EventApi.evt_free_definitions();
  }

  // A tray program in slot i over loopback TCP (an ephemeral port); peer[i] is its end.
  void connect_slot_tcp(int i) {
    const uint8_t loopback[4] = {127, 0, 0, 1};
    int l = sock_tcp_open(INET_FAMILY_IPV4);
    ASSERT_TRUE(sock_bind(l, INET_FAMILY_IPV4, loopback, 0));
    ASSERT_TRUE(sock_listen(l, 1));
    int c = sock_tcp_open(INET_FAMILY_IPV4);
    ASSERT_TRUE(sock_connect(c, INET_FAMILY_IPV4, loopback, sock_local_port(l)));
    int a = INVALID_SOCKET;
    for (int tries = 0; tries < 1000 && a == INVALID_SOCKET; ++tries) {
      a = sock_accept(l, nullptr, nullptr);
      if (a == INVALID_SOCKET) clock_sleep_ms(1);
    }
    sock_close(l);
    ASSERT_NE(a, INVALID_SOCKET);
    LinkClients[i] = a;
    LinkRxBuffers[i].fill = 0;
    LinkClientAdmin[i] = 1;
    peer[i] = c;
  }

  // A connected tray program in slot i; peer[i] is its end.
  void connect_slot(int i) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
    LinkClients[i] = sv[0];
    LinkRxBuffers[i].fill = 0;
    LinkClientAdmin[i] = 1;
    peer[i] = sv[1];
  }

  // The tray program of slot i sends bytes; the service reads what has arrived.
  void deliver(int i, const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size() && LinkClients[i] != INVALID_SOCKET) {
      ssize_t n = send(peer[i], bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      off += size_t(n);
      while (LinkClients[i] != INVALID_SOCKET && sock_readable(LinkClients[i]))
        link_on_socket(uintptr_t(LinkClients[i]), FD_READ);
    }
  }

  // Everything the service has sent to slot i so far.
  std::string received(int i) {
    std::string out;
    char buf[65536];
    for (;;) {
      ssize_t n = recv(peer[i], buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      out.append(buf, size_t(n));
    }
    return out;
  }

  // True when the service has closed slot i's connection.
  bool peer_closed(int i) {
    char c;
    return recv(peer[i], &c, 1, MSG_DONTWAIT) == 0;
  }

  std::string ini() { return read_file(dir.file("agent.ini")); }
};

TEST_F(LinkService, StatusFrameGoesToEveryClient) {
  connect_slot(0);
  connect_slot(7);
  g_status.tray_state = 4;
  g_status.countdown_left = 123;
  link_send(LINK_KIND_VAL, 0, nullptr);
  for (int i : {0, 7}) {
    std::string got = received(i);
    ASSERT_EQ(got.size(), 6065u);
    LinkFrame f;
    ASSERT_TRUE(decode_frame(got, &f));
    EXPECT_EQ(f.kind, LINK_KIND_VAL);
    EXPECT_EQ(memcmp(f.body, &g_status, sizeof g_status), 0);
  }
}

TEST_F(LinkService, NothingIsSentBeforeAClientWasAccepted) {
  connect_slot(0);
  for (int32_t state : {0, 1}) {
    LinkState = state;
    link_send(LINK_KIND_CFG, 0, nullptr);
    link_send(LINK_KIND_LOG, 0, "text");
  }
  LinkState = 2;
  link_send(LINK_KIND_ICO, 0, nullptr);
  link_send(LINK_KIND_ADO, 0, nullptr);
  link_send(14, 0, nullptr);
  EXPECT_EQ(received(0), "");
  link_send(LINK_KIND_CFG, 0, nullptr);
  EXPECT_EQ(received(0).size(), 3797u);
}

TEST_F(LinkService, AlarmLineFollowsTheNotifyFlag) {
  connect_slot(0);
  g_settings.notify_enable = 0;
  link_send_event_line(2, u"10.0.0.5", u"Power failure");
  EXPECT_EQ(received(0), "");
  g_settings.notify_enable = 1;
  link_send_event_line(2, u"10.0.0.5", u"Power failure");
  std::string got = received(0);
  ASSERT_GE(got.size(), 25u);
  EXPECT_EQ(got.substr(0, 19), "OrvikSNMP:LOG00,00,");
  LinkFrame f;
  ASSERT_TRUE(decode_frame(got, &f));
  std::string line(reinterpret_cast<const char*>(f.body));
  EXPECT_TRUE(std::regex_match(line, std::regex(R"(2 \d\d/\d\d/\d{4} \d\d:\d\d:\d\d <10\.0\.0\.5>: Power failure)")))
      << line;
}

TEST_F(LinkService, StopAndResumeTheReactions) {
  ASSERT_TRUE(agent_start_reaction_timers());
  connect_slot(0);
  deliver(0, frame(LINK_KIND_STP, 1));
  EXPECT_EQ(g_settings.stop_service, 1);
  EXPECT_EQ(g_status.tray_state, 9);
  for (uintptr_t id = TIMER_POLL; id <= TIMER_HOUSEKEEPING; ++id) EXPECT_FALSE(win_timer_is_set(g_main_hwnd, id));
  EXPECT_EQ(g_calls.http_stop, 1);
  EXPECT_EQ(g_calls.trap_close, 1);
  EXPECT_EQ(g_calls.snmp_close, 1);
  EXPECT_NE(ini().find("Stop Service=Yes\r\n"), std::string::npos);

  // A second stop finds the timers stopped, sets the tray state again and saves again.
  g_status.tray_state = 1;
  remove(dir.file("agent.ini").c_str());
  deliver(0, frame(LINK_KIND_STP, 1));
  EXPECT_EQ(g_status.tray_state, 9);
  EXPECT_NE(ini().find("Stop Service=Yes\r\n"), std::string::npos);

  deliver(0, frame(LINK_KIND_STP, 0));
  EXPECT_EQ(g_settings.stop_service, 0);
  EXPECT_EQ(g_status.tray_state, 100);
  for (uintptr_t id = TIMER_POLL; id <= TIMER_HOUSEKEEPING; ++id) EXPECT_TRUE(win_timer_is_set(g_main_hwnd, id));
  EXPECT_NE(ini().find("Stop Service=No\r\n"), std::string::npos);

  // Any other code only saves.
  remove(dir.file("agent.ini").c_str());
  deliver(0, frame(LINK_KIND_STP, 7));
  EXPECT_EQ(g_status.tray_state, 100);
  EXPECT_TRUE(fs_exists(dir.file("agent.ini")));
  EXPECT_NE(LinkClients[0], INVALID_SOCKET);
}

TEST_F(LinkService, CancelToggleOnCodeTwoOnly) {
  connect_slot(0);
  deliver(0, frame(LINK_KIND_SYS, 3));
  EXPECT_EQ(g_status.shutdown_cancelled, 0);
  deliver(0, frame(LINK_KIND_SYS, 2));
  EXPECT_EQ(g_status.shutdown_cancelled, 1);
  deliver(0, frame(LINK_KIND_SYS, 2));
  EXPECT_EQ(g_status.shutdown_cancelled, 0);
}

TEST_F(LinkService, SplitFrameAndSeveralFramesInOneRead) {
  connect_slot(0);
  std::string stop = frame(LINK_KIND_STP, 1);
  deliver(0, stop.substr(0, 10));
  EXPECT_EQ(g_settings.stop_service, 0);
  EXPECT_EQ(LinkRxBuffers[0].fill, 10);
  deliver(0, stop.substr(10));
  EXPECT_EQ(g_settings.stop_service, 1);
  EXPECT_EQ(LinkRxBuffers[0].fill, 0);

  // An icon frame is consumed without effect; the resume behind it, in the same read, is handled.
  deliver(0, "OrvikSNMP:ICO00,00,00000 " + frame(LINK_KIND_STP, 0) + frame(LINK_KIND_STP, 1));
  EXPECT_EQ(g_settings.stop_service, 1);
  EXPECT_EQ(g_status.tray_state, 9);
  EXPECT_EQ(g_calls.trap_close, 2);
  EXPECT_NE(LinkClients[0], INVALID_SOCKET);
}

TEST_F(LinkService, StatusAndSettingsFromAClientAreIgnored) {
  connect_slot(0);
  StatusRecord status_before = g_status;
  AgentSettings settings_before = g_settings;
  StatusRecord fake_status;
  memset(&fake_status, 0x41, sizeof fake_status);
  AgentSettings fake_settings = g_settings;
  fake_settings.http_port = 1;
  fake_settings.stop_service = 1;
  deliver(0, frame(LINK_KIND_VAL, 0, &fake_status, sizeof fake_status) +
                 frame(LINK_KIND_CFG, 0, &fake_settings, sizeof fake_settings) +
                 frame(LINK_KIND_T01, 0, &fake_settings, sizeof fake_settings) + frame(LINK_KIND_LOG, 0, "x", 2) +
                 frame(LINK_KIND_PRO, 0));
  EXPECT_EQ(memcmp(&g_status, &status_before, sizeof g_status), 0);
  EXPECT_EQ(memcmp(&g_settings, &settings_before, sizeof g_settings), 0);
  EXPECT_FALSE(fs_exists(dir.file("agent.ini")));
  EXPECT_NE(LinkClients[0], INVALID_SOCKET);
}

TEST_F(LinkService, BadFrameClosesOnlyItsClient) {
  AgentSettings s = g_settings;
  std::string good_upc = upc(s);
  std::string foreign = good_upc;
  foreign[300] = '#';
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"unknown kind before a good frame", "OrvikSNMP:XYZ00,00,00000 " + frame(LINK_KIND_STP, 1)},
      {"wrong prefix", "HelloSNMP:STP01,00,00000 "},
      {"non-digit length", "OrvikSNMP:STP01,00,0x000 "},
      {"oversize length", "OrvikSNMP:LOG00,00,30000 "},
      {"settings of the wrong size", "OrvikSNMP:UPC00,00,03776 " + good_upc.substr(25) + "...."},
      {"not crypt64", foreign},
      {"junk", std::string(30 * 1024, 'Z')},
  };
  for (const Case& c : cases) {
    connect_slot(0);
    connect_slot(1);
    AgentSettings before = g_settings;
    deliver(1, c.bytes);
    EXPECT_EQ(LinkClients[1], INVALID_SOCKET) << c.what;
    EXPECT_EQ(LinkRxBuffers[1].fill, 0) << c.what;
    EXPECT_TRUE(peer_closed(1)) << c.what;
    EXPECT_EQ(memcmp(&g_settings, &before, sizeof before), 0) << c.what;
    EXPECT_FALSE(fs_exists(dir.file("agent.ini"))) << c.what;
    // The other tray program is still served and still heard.
    ASSERT_NE(LinkClients[0], INVALID_SOCKET) << c.what;
    link_send(LINK_KIND_CFG, 0, nullptr);
    EXPECT_EQ(received(0).size(), 3797u) << c.what;
    deliver(0, frame(LINK_KIND_STP, 9));
    EXPECT_TRUE(fs_exists(dir.file("agent.ini"))) << c.what;
    remove(dir.file("agent.ini").c_str());
    link_client_close(0);
    close(peer[0]);
    close(peer[1]);
    peer[0] = peer[1] = -1;
  }
}

TEST_F(LinkService, SettingsWithANewWebPortRestartTheWebServer) {
  connect_slot(0);
  g_settings.login_fail_count[1] = 3;
  g_settings.login_lock_seconds[1] = 540;
  AgentSettings s = g_settings;
  s.http_port = 8080;
  text_copy16(s.location, 65, u"Server room 2");
  s.login_fail_count[1] = 0;
  s.login_lock_seconds[1] = 0;
  s.stop_service = 1;
  deliver(0, upc(s));
  EXPECT_EQ(g_settings.http_port, 8080);
  EXPECT_TRUE(text_equal16(g_settings.location, u"Server room 2"));
  EXPECT_EQ(g_settings.login_fail_count[1], 3);
  EXPECT_EQ(g_settings.login_lock_seconds[1], 540u);
  EXPECT_EQ(g_settings.stop_service, 0);
  EXPECT_EQ(g_calls.http_stop, 1);
  EXPECT_EQ(g_calls.http_open, 1);
  EXPECT_EQ(g_calls.http_port, 8080);
  EXPECT_EQ(g_calls.https_port, 443);
  EXPECT_EQ(g_calls.http_on, 1);
  EXPECT_EQ(g_calls.https_on, 1);
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_RELOAD_EVENTS));
  EXPECT_NE(ini().find("HTTP Port=8080\r\n"), std::string::npos);
  EXPECT_NE(read_file(dir.file("Vellmar.url")).find("URL=http://127.0.0.1:8080"), std::string::npos);
}

TEST_F(LinkService, SettingsWithANewLanguageQueueOneReload) {
  connect_slot(0);
  AgentSettings s = g_settings;
  s.language = 3;
  deliver(0, upc(s));
  EXPECT_EQ(g_settings.language, 3);
  EXPECT_EQ(g_calls.http_stop, 0);
  EXPECT_EQ(g_calls.http_open, 0);
  EXPECT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_RELOAD_EVENTS));
  EXPECT_EQ(sched_once_ring.count, 1);
  EXPECT_NE(ini().find("Language=3\r\n"), std::string::npos);
}

TEST_F(LinkService, WebServerStaysClosedWhileTheReactionsAreStopped) {
  connect_slot(0);
  deliver(0, frame(LINK_KIND_STP, 1));
  AgentSettings s = g_settings;
  s.https_port = 8443;
  deliver(0, upc(s));
  EXPECT_EQ(g_settings.https_port, 8443);
  EXPECT_EQ(g_calls.http_open, 0);
}

TEST_F(LinkService, UnsoundSettingsAreRefused) {
  struct Case {
    const char* what;
    void (*change)(AgentSettings&);
  } cases[] = {
      {"language 9", [](AgentSettings& s) { s.language = 9; }},
      {"shutdown type 4", [](AgentSettings& s) { s.shutdown_type = 4; }},
      {"vm password mode 3", [](AgentSettings& s) { s.vm_password_mode = 3; }},
      {"web password mode 3", [](AgentSettings& s) { s.web_password_mode = 3; }},
      {"web protocol bit 2", [](AgentSettings& s) { s.web_protocols = 7; }},
      {"unterminated vm_server", [](AgentSettings& s) { for (auto& c : s.vm_server) c = u'a'; }},
      {"unterminated account password", [](AgentSettings& s) { for (auto& c : s.account_password[2]) c = u'p'; }},
      {"unterminated disk name", [](AgentSettings& s) { for (auto& c : s.disk_name[7]) c = u'd'; }},
      {"unterminated location", [](AgentSettings& s) { for (auto& c : s.location) c = u'l'; }},
      {"unterminated kestra text", [](AgentSettings& s) { memset(s.kestra_battery_low, 'k', 33); }},
      {"vm type 3", [](AgentSettings& s) { s.vm_type = 3; }},
      {"line break in command file", [](AgentSettings& s) { text_copy16(s.command_file, 256, u"x.cmd\nrm"); }},
      {"carriage return in location", [](AgentSettings& s) { text_copy16(s.location, 65, u"a\rType=3"); }},
      {"control in disk name", [](AgentSettings& s) { text_copy16(s.disk_name[0], 17, u"C:\x1b"); }},
      {"line break in kestra text", [](AgentSettings& s) { memcpy(s.kestra_power_fail, "a\nb", 4); }},
      {"vm password beyond U+00FF", [](AgentSettings& s) { text_copy16(s.vm_password, 33, u"pa\u0101"); }},
      {"vcli path beyond U+00FF", [](AgentSettings& s) { text_copy16(s.vcli_path, 256, u"/opt/\u4e2d"); }},
      {"delete in system name", [](AgentSettings& s) { text_copy16(s.system_name, 33, u"a\x7f"); }},
      {"control in install date", [](AgentSettings& s) { text_copy16(s.install_date, 33, u"\x01"); }},
      // Numbers outside the ranges of the settings table.
      {"http port 0", [](AgentSettings& s) { s.http_port = 0; }},
      {"https port 0", [](AgentSettings& s) { s.https_port = 0; }},
      {"web refresh 0", [](AgentSettings& s) { s.web_refresh = 0; }},
      {"power fail delay 100000", [](AgentSettings& s) { s.condition_delay[0] = 100000; }},
      {"smart shutdown delay 2^32-1", [](AgentSettings& s) { s.condition_delay[4] = 0xFFFFFFFFu; }},
      {"command before 100000", [](AgentSettings& s) { s.command_before = 100000; }},
  };
  connect_slot(0);
  EXPECT_TRUE(link_settings_acceptable(&g_settings));
  for (const Case& c : cases) {
    AgentSettings s = g_settings;
    c.change(s);
    EXPECT_FALSE(link_settings_acceptable(&s)) << c.what;
    AgentSettings before = g_settings;
    deliver(0, upc(s));
    EXPECT_EQ(memcmp(&g_settings, &before, sizeof before), 0) << c.what;
    EXPECT_FALSE(fs_exists(dir.file("agent.ini"))) << c.what;
    EXPECT_EQ(g_calls.http_stop, 0) << c.what;
    EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_RELOAD_EVENTS)) << c.what;
  }
  // Pages and scripts escape and quote what they show: page-special characters are taken, and
  // one of them in a stored value does not block later edits.
  const struct {
    const char* what;
    void (*change)(AgentSettings&);
  } fine[] = {
      {"page special in description", [](AgentSettings& s) { text_copy16(s.description, 129, u"<script>"); }},
      {"quote in vm_account", [](AgentSettings& s) { text_copy16(s.vm_account, 33, u"root\"x"); }},
      {"ampersand in vm_password", [](AgentSettings& s) { text_copy16(s.vm_password, 33, u"a&b'\u00ff"); }},
      {"greater-than in vcli path", [](AgentSettings& s) { text_copy16(s.vcli_path, 256, u"C:\\a>b"); }},
      {"web password", [](AgentSettings& s) { text_copy16(s.account_password[0], 33, u"p&ss<w>rd'\""); }},
      {"wide characters in location", [](AgentSettings& s) { text_copy16(s.location, 65, u"\u4e2d\u6587"); }},
      // The 16-bit ends of the login lock, as the file and the web form take them.
      {"login retry 65535", [](AgentSettings& s) { s.login_retry = 65535; }},
      {"lock time 1440 minutes", [](AgentSettings& s) { s.login_lock_minutes = 1440; }},
      {"vm type 2", [](AgentSettings& s) { s.vm_type = 2; }},
  };
  AgentSettings all = g_settings;
  for (const auto& c : fine) {
    AgentSettings s = g_settings;
    c.change(s);
    c.change(all);
    EXPECT_TRUE(link_settings_acceptable(&s)) << c.what;
  }
  all.http_port = 8181;
  deliver(0, upc(all));
  EXPECT_EQ(g_settings.http_port, 8181);
  all.http_port = 8282;
  deliver(0, upc(all));
  EXPECT_EQ(g_settings.http_port, 8282);
}

// Settings that cannot be stored are not taken: nothing changes and the tray gets no
// acknowledgement. A stored change is acknowledged with the settings frame UPC.
TEST_F(LinkService, SettingsThatCannotBeStoredAreNotTaken) {
  connect_slot(0);
  AgentSettings before = g_settings;
  AgentSettings s = g_settings;
  s.http_port = 8080;
  s.language = 2;
  cfg_set_read_only(true);  // every save fails
  deliver(0, upc(s));
  cfg_set_read_only(false);
  EXPECT_EQ(memcmp(&g_settings, &before, sizeof before), 0);
  EXPECT_EQ(received(0), "");
  EXPECT_EQ(g_calls.http_stop, 0);
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_RELOAD_EVENTS));

  deliver(0, upc(s));
  EXPECT_EQ(g_settings.http_port, 8080);
  LinkFrame f;
  ASSERT_TRUE(decode_frame(received(0), &f));
  EXPECT_EQ(f.kind, LINK_KIND_UPC);
  AgentSettings acknowledged;
  memcpy(&acknowledged, f.body, sizeof acknowledged);
  EXPECT_EQ(acknowledged.http_port, 8080);
}

// A client whose peer is not an administrator only watches.
TEST_F(LinkService, WatchingClientGetsStatusAlarmsAndSettingsWithoutSecrets) {
  connect_slot(0);
  connect_slot(1);
  LinkClientAdmin[1] = 0;
  text_copy16(g_settings.account_password[0], 33, u"adminpw");
  text_copy16(g_settings.account_password[2], 33, u"userpw");
  text_copy16(g_settings.vm_password, 33, u"vmpw");
  text_copy16(g_settings.vm_server, 129, u"esx.example");
  text_copy16(g_settings.vm_account, 33, u"vmadmin");
  text_copy16(g_settings.vcli_path, 256, u"/opt/vcli");
  text_copy16(g_settings.command_file, 256, u"/opt/reaction.sh");
  g_settings.http_port = 8088;
  g_settings.notify_enable = 1;

  link_send(LINK_KIND_VAL, 0, nullptr);
  link_send_event_line(2, u"10.0.0.5", u"Power failure");
  link_send(LINK_KIND_UPC, 0, nullptr);
  link_send(LINK_KIND_CFG, 0, nullptr);
  std::string admin = received(0), watcher = received(1);
  std::vector<uint32_t> kinds;
  LinkFrame f;
  for (const std::string* got : {&admin, &watcher}) {
    std::string rest = *got;
    kinds.clear();
    while (!rest.empty()) {
      ASSERT_TRUE(decode_frame(rest, &f));
      kinds.push_back(f.kind);
      size_t size = 25 + size_t(std::stoi(rest.substr(19, 5)));
      if (f.kind == LINK_KIND_CFG) {
        AgentSettings s;
        memcpy(&s, f.body, sizeof s);
        bool zeroed = got == &watcher;
        EXPECT_EQ(s.account_password[0][0] == 0, zeroed);
        EXPECT_EQ(s.account_password[2][0] == 0, zeroed);
        EXPECT_EQ(s.vm_password[0] == 0, zeroed);
        // Nor the account names, the VMware server and account, the vCLI folder or the command file.
        for (int a = 0; a < 3; ++a) EXPECT_EQ(s.account_user[a][0] == 0, zeroed) << a;
        EXPECT_EQ(s.vm_server[0] == 0, zeroed);
        EXPECT_EQ(s.vm_account[0] == 0, zeroed);
        EXPECT_EQ(s.vcli_path[0] == 0, zeroed);
        EXPECT_EQ(s.command_file[0] == 0, zeroed);
        if (zeroed) {
          AgentSettings expected = g_settings;
          memset(expected.account_user, 0, sizeof expected.account_user);
          memset(expected.account_password, 0, sizeof expected.account_password);
          memset(expected.vm_server, 0, sizeof expected.vm_server);
          memset(expected.vm_account, 0, sizeof expected.vm_account);
          memset(expected.vm_password, 0, sizeof expected.vm_password);
          memset(expected.vcli_path, 0, sizeof expected.vcli_path);
          memset(expected.command_file, 0, sizeof expected.command_file);
          EXPECT_EQ(memcmp(&s, &expected, sizeof s), 0) << "the rest stays";
          EXPECT_EQ(s.http_port, 8088);
        }
      }
      rest = rest.substr(size);
    }
    if (got == &admin) {
      EXPECT_EQ(kinds, (std::vector<uint32_t>{LINK_KIND_VAL, LINK_KIND_LOG, LINK_KIND_UPC, LINK_KIND_CFG}));
    } else {
      EXPECT_EQ(kinds, (std::vector<uint32_t>{LINK_KIND_VAL, LINK_KIND_LOG, LINK_KIND_CFG}));
    }
  }
  // The service's own settings keep their passwords.
  EXPECT_EQ(text_len16_in(g_settings.vm_password, 33), 4u);

  // Anything a watching client sends closes it and changes nothing.
  for (uint32_t kind : {LINK_KIND_STP, LINK_KIND_SYS, LINK_KIND_UPC}) {
    connect_slot(1);
    LinkClientAdmin[1] = 0;
    AgentSettings s = g_settings;
    s.http_port = 9090;
    text_copy16(s.command_file, 256, u"/tmp/mine.sh");
    deliver(1, kind == LINK_KIND_UPC ? upc(s) : frame(kind, kind == LINK_KIND_STP ? 1 : 2));
    EXPECT_EQ(LinkClients[1], INVALID_SOCKET) << kind;
    close(peer[1]);
    peer[1] = -1;
    EXPECT_EQ(g_settings.stop_service, 0);
    EXPECT_NE(g_settings.http_port, 9090);
    EXPECT_EQ(g_status.shutdown_cancelled, 0);
    EXPECT_FALSE(fs_exists(dir.file("agent.ini")));
  }
  EXPECT_NE(LinkClients[0], INVALID_SOCKET);
}

TEST_F(LinkService, ShortWriteClosesTheClient) {
  connect_slot_tcp(0);
  connect_slot(1);
  // Slot 0's tray program reads nothing; its queue fills until a frame no longer fits whole.
  for (int i = 0; i < 100000 && LinkClients[0] != INVALID_SOCKET; ++i) {
    link_send(LINK_KIND_VAL, 0, nullptr);
    received(1);
  }
  EXPECT_EQ(LinkClients[0], INVALID_SOCKET);
  EXPECT_NE(LinkClients[1], INVALID_SOCKET);
  // What slot 0 did get is a run of whole frames and then at most the start of one.
  std::string got = received(0);
  EXPECT_GT(got.size(), 0u);
  EXPECT_TRUE(peer_closed(0));
}

TEST_F(LinkService, CloseAndErrorEventsFreeTheSlot) {
  connect_slot(2);
  connect_slot(3);
  link_on_socket(uintptr_t(LinkClients[2]), FD_CLOSE);
  EXPECT_EQ(LinkClients[2], INVALID_SOCKET);
  link_on_socket(uintptr_t(LinkClients[3]), intptr_t(10054u << 16 | FD_READ));
  EXPECT_EQ(LinkClients[3], INVALID_SOCKET);
  EXPECT_EQ(LinkState, 2);
  // Sending to nobody is fine.
  link_send(LINK_KIND_VAL, 0, nullptr);
}

TEST_F(LinkService, ReadsOnlyAfterAClientWasAccepted) {
  connect_slot(0);
  LinkState = 1;
  std::string stop = frame(LINK_KIND_STP, 1);
  ASSERT_EQ(send(peer[0], stop.data(), stop.size(), MSG_NOSIGNAL), ssize_t(stop.size()));
  link_on_socket(uintptr_t(LinkClients[0]), FD_READ);
  EXPECT_EQ(g_settings.stop_service, 0);
  EXPECT_EQ(LinkRxBuffers[0].fill, 0);
}

TEST_F(LinkService, ListenerOnLoopbackOnly) {
  LinkState = 0;
  if (!link_listen_create()) {
    if (sock_last_error() == SOCK_EADDRINUSE) GTEST_SKIP() << "port 5515 is in use on this machine";
    FAIL() << "listener not created: " << sock_last_error();
  }
  ASSERT_TRUE(link_listen_start());
  EXPECT_EQ(LinkState, 1);

  const uint8_t loopback[4] = {127, 0, 0, 1};
  const uint8_t other[4] = {127, 0, 0, 2};
  int refused = sock_tcp_open(INET_FAMILY_IPV4);
  sock_connect(refused, INET_FAMILY_IPV4, other, LINK_PORT);
  int clients[LINK_CLIENT_SLOTS + 1];
  auto used = [] {
    int n = 0;
    for (int s : LinkClients) n += s != INVALID_SOCKET;
    return n;
  };
  // One at a time, as tray programs come: the backlog is only 2.
  for (int i = 0; i < LINK_CLIENT_SLOTS; ++i) {
    clients[i] = sock_tcp_open(INET_FAMILY_IPV4);
    ASSERT_TRUE(sock_connect(clients[i], INET_FAMILY_IPV4, loopback, LINK_PORT));
    ASSERT_TRUE(pump(5000, [&] { return used() == i + 1; })) << i;
  }
  EXPECT_EQ(LinkState, 2);
  // The eleventh connection is turned away, not left waiting in the backlog.
  int& eleventh = clients[LINK_CLIENT_SLOTS];
  eleventh = sock_tcp_open(INET_FAMILY_IPV4);
  ASSERT_TRUE(sock_connect(eleventh, INET_FAMILY_IPV4, loopback, LINK_PORT));
  EXPECT_TRUE(pump(10000, [&] {
    char c;
    return recv(eleventh, &c, 1, MSG_DONTWAIT) == 0;
  }));
  EXPECT_EQ(used(), LINK_CLIENT_SLOTS);
  // 127.0.0.2 is a local address too, but nothing listens there.
  int refused_error = 0;
  EXPECT_TRUE(pump(3000, [&] {
    char c;
    if (recv(refused, &c, 1, MSG_DONTWAIT) >= 0 || errno == EAGAIN) return false;
    refused_error = errno;
    return true;
  }));
  EXPECT_EQ(refused_error, ECONNREFUSED);

  // A freed slot takes the next connection.
  link_client_close(4);
  int late = sock_tcp_open(INET_FAMILY_IPV4);
  ASSERT_TRUE(sock_connect(late, INET_FAMILY_IPV4, loopback, LINK_PORT));
  EXPECT_TRUE(pump(10000, [&] { return used() == LINK_CLIENT_SLOTS; }));

  // Closing the listener leaves the clients; LinkState goes to 0.
  link_listen_close();
  EXPECT_EQ(LinkState, 0);
  EXPECT_EQ(used(), LINK_CLIENT_SLOTS);
  for (int s : clients) sock_close(s);
  sock_close(refused);
  sock_close(late);
}

}  // namespace
