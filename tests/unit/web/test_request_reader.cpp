// Request reading: heads in pieces, the head and body limits, Content-Length rules, and the
// idle limits of reading and sending slots.
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/unit/web/web_fixture.h"

namespace {

using RequestReader = WebTest;

TEST_F(RequestReader, HeadInPiecesIsAssembled) {
  HttpConnection* c = slot();
  std::string raw = "GET /a.css HTTP/1.1\r\nHost: example:8080\r\nConnection: keep-alive\r\n\r\n";
  for (size_t i = 0; i + 1 < raw.size(); ++i) ASSERT_EQ(http_conn_take(c, &raw[i], 1), 0) << i;
  ASSERT_EQ(http_conn_take(c, &raw.back(), 1), 1);
  EXPECT_STREQ(c->method, "GET");
  EXPECT_STREQ(c->path, "/a.css");
  EXPECT_EQ(c->version_major, 1);
  EXPECT_EQ(c->version_minor, 1);
  EXPECT_STREQ(c->headers[HDR_HOST], "example");
  EXPECT_EQ(c->keep_alive, 1);
}

TEST_F(RequestReader, HeadWithoutBlankLineWithin8192BytesCloses) {
  HttpConnection* c = slot();
  std::string head = "GET / HTTP/1.1\r\nX: " + std::string(8192, 'a');
  EXPECT_EQ(http_conn_take(c, head.data(), 8191), 0);
  EXPECT_EQ(http_conn_take(c, head.data() + 8191, 1), -1);
  EXPECT_EQ(c->state, 0u);
}

TEST_F(RequestReader, BodyLimits) {
  struct Case {
    long length;
    int result;
  } cases[] = {{8388608, 0}, {8388609, -1}, {2097152, 0}, {-5, 1}};
  for (const auto& k : cases) {
    HttpConnection* c = slot();
    std::string raw = "POST /x HTTP/1.1\r\nContent-Length: " + std::to_string(k.length) + "\r\n\r\n";
    EXPECT_EQ(http_conn_take(c, raw.data(), uint32_t(raw.size())), k.result) << k.length;
  }
  // The largest body arrives whole in a heap block.
  HttpConnection* c = slot();
  std::string raw = "POST /x HTTP/1.1\r\nContent-Length: 8388608\r\n\r\n";
  ASSERT_EQ(http_conn_take(c, raw.data(), uint32_t(raw.size())), 0);
  std::vector<char> body(8388608, 'b');
  EXPECT_EQ(http_conn_take(c, body.data(), uint32_t(body.size())), 1);
  EXPECT_NE(c->body, reinterpret_cast<char*>(c->send_buffer));
  EXPECT_EQ(c->body_fill, 8388608u);
}

TEST_F(RequestReader, SmugglingCases) {
  // The last Content-Length counts; Transfer-Encoding is not read; bytes past the body are not
  // part of the request.
  HttpConnection* c = slot();
  std::string raw =
      "POST /x HTTP/1.1\r\nContent-Length: 50\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
      "abcGET /admin HTTP/1.1\r\n\r\n";
  ASSERT_EQ(http_conn_take(c, raw.data(), uint32_t(raw.size())), 1);
  EXPECT_EQ(c->content_length, 3);
  EXPECT_STREQ(c->body, "abc");
  // Without Content-Length the body is exactly what came with the head.
  c = slot();
  raw = "POST /x HTTP/1.1\r\n\r\nname=v";
  ASSERT_EQ(http_conn_take(c, raw.data(), uint32_t(raw.size())), 1);
  EXPECT_STREQ(c->body, "name=v");
}

TEST_F(RequestReader, ControlCharactersNeverReachAnAnswer) {
  g_settings.force_https = 1;
  HttpListenHttpsEnabled = 1;
  HttpListenHttpsPort = 443;
  std::string answer = request("GET /missing?a=1\nSet-Cookie:x HTTP/1.1\r\nHost: h\nX-Evil: 1\r\n\r\n");
  EXPECT_NE(answer.find("Location: https://h:443/?a=1\r\n"), std::string::npos) << answer;
  EXPECT_EQ(answer.find("Evil"), std::string::npos);
  EXPECT_EQ(answer.find("Set-Cookie"), std::string::npos);
}

TEST_F(RequestReader, MalformedRequestLinesClose) {
  for (const char* raw : {"\r\n\r\n", "GET\r\n\r\n", "GET  \r\n\r\n"}) {
    HttpConnection* c = slot();
    EXPECT_EQ(http_conn_take(c, raw, uint32_t(strlen(raw))), -1) << raw;
    EXPECT_EQ(c->state, 0u);
  }
}

TEST_F(RequestReader, SlowHeadIsClosedAtItsDeadline) {
  HttpConnection* c = slot();
  const char* poll_ops_first = "G";
  for (int i = 0; i < 19; ++i) {
    g_test_seconds += 1;
    ASSERT_EQ(http_conn_take(c, poll_ops_first, 1), 0);
    WebServerOps.http_poll();
    ASSERT_EQ(c->state, 1u) << i;
  }
  // Every byte refreshed the activity time, but the head had 20 s in all.
  g_test_seconds += 1;
  WebServerOps.http_poll();
  EXPECT_EQ(c->state, 0u);
}

TEST_F(RequestReader, ActivityLaterInTheSamePollIsNotIdle) {
  // A send late in a poll may stamp the slot with the next second; the poll's own time is then
  // behind the slot's, which is no idle time at all.
  HttpConnection* c = slot();
  c->last_activity = c->head_started = g_test_seconds + 1;
  WebServerOps.http_poll();
  EXPECT_EQ(c->state, 1u);
}

TEST_F(RequestReader, StalledSendingSlotIsClosed) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  HttpConnection* c = slot();
  c->socket = pair[0];
  http_conn_printf(c, "%s", std::string(HTTP_BUFFER_SIZE - 1, 'x').c_str());
  ASSERT_EQ(c->state, 2u);
  for (int i = 0; i < 5; ++i) WebServerOps.http_poll();
  EXPECT_EQ(c->state, 2u);  // the peer reads nothing
  g_test_seconds += HTTP_IDLE_S;
  WebServerOps.http_poll();
  EXPECT_EQ(c->state, 0u);
  close(pair[1]);
}

TEST_F(RequestReader, KeepAliveSlotReadsAgainAfterTheResponse) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  HttpConnection* c = slot();
  c->socket = pair[0];
  std::string raw = "GET /template.css HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n";
  ASSERT_EQ(http_conn_take(c, raw.data(), uint32_t(raw.size())), 1);
  http_handle_request(c);
  ASSERT_EQ(c->state, 2u);
  for (int i = 0; i < 10 && c->state == 2; ++i) WebServerOps.http_poll();
  EXPECT_EQ(c->state, 1u);
  EXPECT_EQ(c->socket, pair[0]);
  char buf[8192];
  ssize_t n = read(pair[1], buf, sizeof buf - 1);
  ASSERT_GT(n, 0);
  buf[n] = 0;
  EXPECT_EQ(std::string(buf).find("HTTP/1.1 200 OK"), 0u);
  close(pair[1]);
}

}  // namespace
