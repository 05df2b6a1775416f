// Account look-ups: the owner of a loopback peer, the administrator test.
#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/account.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace {

// A loopback connection of the family; *accepted is the listener's end, *client the other.
void connect_pair(uint16_t family, int* accepted, int* client) {
  uint8_t loopback[16] = {};
  if (family == INET_FAMILY_IPV4) {
    loopback[0] = 127;
    loopback[3] = 1;
  } else {
    loopback[15] = 1;
  }
  int l = sock_tcp_open(family);
  ASSERT_TRUE(sock_bind(l, family, loopback, 0));
  ASSERT_TRUE(sock_listen(l, 1));
  *client = sock_tcp_open(family);
  ASSERT_TRUE(sock_connect(*client, family, loopback, sock_local_port(l)));
  *accepted = INVALID_SOCKET;
  for (int tries = 0; tries < 5000 && *accepted == INVALID_SOCKET; ++tries) {
    *accepted = sock_accept(l, nullptr, nullptr);
    if (*accepted == INVALID_SOCKET) clock_sleep_ms(1);
  }
  sock_close(l);
  ASSERT_NE(*accepted, INVALID_SOCKET);
}

TEST(Account, PeerUserOfALoopbackConnection) {
  for (uint16_t family : {INET_FAMILY_IPV4, INET_FAMILY_IPV6}) {
    int accepted = INVALID_SOCKET, client = INVALID_SOCKET;
    connect_pair(family, &accepted, &client);
    uint32_t uid = 12345;
    EXPECT_TRUE(account_peer_user(accepted, &uid)) << family;
    EXPECT_EQ(uid, uint32_t(geteuid())) << family;
    // And from the other end, the listener's owner.
    uid = 12345;
    EXPECT_TRUE(account_peer_user(client, &uid)) << family;
    EXPECT_EQ(uid, uint32_t(geteuid())) << family;
    sock_close(accepted);
    sock_close(client);
  }
  // Not a connected socket.
  int s = sock_udp_open(INET_FAMILY_IPV4);
  uint32_t uid = 0;
  EXPECT_FALSE(account_peer_user(s, &uid));
  sock_close(s);
  EXPECT_FALSE(account_peer_user(-1, &uid));
}

TEST(Account, RootIsAnAdministratorNobodyIsNot) {
  EXPECT_TRUE(account_is_administrator(0));
  EXPECT_FALSE(account_is_administrator(65534));
  EXPECT_FALSE(account_is_administrator(4000000000u));   // no such user
}

}  // namespace
