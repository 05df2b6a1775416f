// SNMP agent on its sockets: what waits is answered at the socket's notification and by one
// poll pass, refused and malformed datagrams are dropped without ending the pass, and an empty
// datagram leaves the notification working. The loop is driven by hand; no timer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/window.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/snmp_mib.h"
#include "support/agent_setup.h"
#include "support/ber_build.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t kAgentMessage = WM_USER + 3;
const Ids kSysDescr = {1, 3, 6, 1, 2, 1, 1, 1, 0};

int g_notifications;
uint32_t frozen_clock() { return 5000; }

intptr_t agent_window_proc(WindowHandle w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == kAgentMessage) {
    ++g_notifications;
    snmp_agent_on_socket(wparam, lparam);
    return 0;
  }
  return win_def_window_proc(w, message, wparam, lparam);
}

// A v1 Get of sysDescr; the request id tells the answers apart.
Bytes get_request(const std::string& community, int32_t request_id) {
  Bytes varbind = seq({oid(kSysDescr), tlv(0x05, {})});
  return seq({integer(0), octets(community), tlv(0xA0, cat({integer(request_id), integer(0), integer(0), seq({varbind})}))});
}

class AgentSocketTest : public ::testing::Test {
 protected:
  TempDir dir;
  WindowHandle window = nullptr;
  int client = -1;
  uint16_t port = 0;

  void SetUp() override {
    agent_setup_records(dir.path);
    ASSERT_TRUE(agent_setup_start());
    static bool registered = win_register_class(u"agent-socket-test", agent_window_proc);
    ASSERT_TRUE(registered);
    window = win_create_window(u"agent-socket-test", u"agent-socket-test");
    ASSERT_NE(window, nullptr);
    drain_messages();
    g_notifications = 0;

    // A free port for the agent: one the system picked for a socket that is closed again.
    int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    socklen_t len = sizeof any;
    getsockname(probe, reinterpret_cast<sockaddr*>(&any), &len);
    port = ntohs(any.sin_port);
    close(probe);
    g_snmp_agent.listen_port = port;
    snmp_agent_notify_to(window, kAgentMessage);
    SnmpAgentApi.snmp_agent_open();

    client = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(client, 0);
    // A busy machine must not end a pass on time: only the datagram budget counts here.
    snmp_agent_clock_ms = frozen_clock;
  }

  void TearDown() override {
    snmp_agent_clock_ms = clock_tick_count;
    SnmpAgentApi.snmp_agent_close();
    snmp_agent_notify_to(nullptr, 0);
    if (client >= 0) close(client);
    if (window) win_destroy_window(window);
    drain_messages();
  }

  static void drain_messages() {
    WindowMessage m;
    while (win_peek_message(&m)) {
    }
  }

  void send_datagram(const Bytes& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(client, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              ssize_t(datagram.size()));
  }

  // Request ids of the answers waiting on the client socket.
  std::vector<int32_t> answered() {
    std::vector<int32_t> ids;
    uint8_t buffer[4096];
    for (;;) {
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      Bytes answer(buffer, buffer + n);
      for (int32_t id = 0x01020300; id < 0x01020310; ++id) {
        Bytes encoded = integer(id);
        if (std::search(answer.begin(), answer.end(), encoded.begin(), encoded.end()) != answer.end()) ids.push_back(id);
      }
    }
    return ids;
  }

  // Dispatches messages (no timer is set) until `want` answers came or a generous limit passed.
  std::vector<int32_t> pump_until(size_t want) {
    std::vector<int32_t> ids;
    uint32_t end = clock_tick_count() + 5000;
    WindowMessage m;
    while (ids.size() < want && int32_t(end - clock_tick_count()) > 0) {
      if (win_peek_message(&m)) win_dispatch_message(&m);
      else clock_sleep_ms(1);
      std::vector<int32_t> more = answered();
      ids.insert(ids.end(), more.begin(), more.end());
    }
    return ids;
  }
};

TEST_F(AgentSocketTest, QueuedDatagramsAreAllAnsweredByOnePollPass) {
  // The loop is not run: the datagrams wait in the socket for the poll.
  for (int32_t i = 0; i < 6; ++i) send_datagram(get_request("fenwix", 0x01020300 + i));
  SnmpAgentApi.snmp_agent_poll();
  std::vector<int32_t> ids = answered();
  EXPECT_EQ(ids, (std::vector<int32_t>{0x01020300, 0x01020301, 0x01020302, 0x01020303, 0x01020304, 0x01020305}));
}

TEST_F(AgentSocketTest, OnePassAnswersAtMostItsBudget) {
  for (int32_t i = 0; i < 40; ++i) send_datagram(get_request("fenwix", 0x01020300 + (i % 16)));
  SnmpAgentApi.snmp_agent_poll();
  EXPECT_EQ(answered().size(), 32u);
  SnmpAgentApi.snmp_agent_poll();
  EXPECT_EQ(answered().size(), 8u);
}

TEST_F(AgentSocketTest, DroppedDatagramsDoNotEndThePass) {
  struct Case {
    const char* what;
    Bytes datagram;
  };
  const Case cases[] = {
      {"refused community", get_request("unknown", 0x0102030F)},
      {"not BER", Bytes{0x01, 0x02, 0x03}},
      {"empty", Bytes{}},
      {"unknown version", seq({integer(2), octets("fenwix")})},
  };
  int32_t id = 0x01020300;
  for (const Case& c : cases) {
    send_datagram(c.datagram);
    send_datagram(get_request("fenwix", id));
    SnmpAgentApi.snmp_agent_poll();
    EXPECT_EQ(answered(), (std::vector<int32_t>{id})) << c.what;
    ++id;
  }
}

TEST_F(AgentSocketTest, RequestIsAnsweredAtTheNotificationWithoutAPoll) {
  send_datagram(get_request("fenwix", 0x01020301));
  EXPECT_EQ(pump_until(1), (std::vector<int32_t>{0x01020301}));
  EXPECT_GE(g_notifications, 1);
  // The notification comes again for the next request.
  send_datagram(get_request("fenwix", 0x01020302));
  send_datagram(get_request("fenwix", 0x01020303));
  EXPECT_EQ(pump_until(2), (std::vector<int32_t>{0x01020302, 0x01020303}));
}

TEST_F(AgentSocketTest, EmptyDatagramDoesNotSilenceTheNotification) {
  send_datagram(Bytes{});
  uint32_t end = clock_tick_count() + 5000;
  WindowMessage m;
  while (g_notifications == 0 && int32_t(end - clock_tick_count()) > 0) {
    if (win_peek_message(&m)) win_dispatch_message(&m);
    else clock_sleep_ms(1);
  }
  ASSERT_GE(g_notifications, 1);
  send_datagram(get_request("fenwix", 0x01020304));
  EXPECT_EQ(pump_until(1), (std::vector<int32_t>{0x01020304}));
}

TEST_F(AgentSocketTest, NewBootsAreSavedBeforeTheAnswerAtTheNotification) {
  uint16_t boots = g_snmp_agent.engine_boots;
  g_snmp_agent.engine_boots = uint16_t(boots + 1);   // the engine time wrapped
  send_datagram(get_request("fenwix", 0x01020305));
  EXPECT_EQ(pump_until(1), (std::vector<int32_t>{0x01020305}));
  EXPECT_EQ(read_file(dir.file("snmp_engine_boots.txt")), std::to_string(boots + 1) + "\r\n");
}

}  // namespace
