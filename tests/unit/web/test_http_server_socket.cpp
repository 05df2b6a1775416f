// The web server on real sockets with the loop driven by hand and no poll: a response is on the
// client's socket once its request's notification has been handled, a response larger than the
// socket takes goes on at FD_WRITE, and a rendered page leaves no file behind.
#include <filesystem>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/window.h"
#include "tests/unit/web/web_fixture.h"

namespace {

constexpr uint32_t kWebMessage = WM_USER + 2;

intptr_t web_window_proc(WindowHandle w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == kWebMessage) {
    WebServerOps.http_on_socket_message(wparam, lparam);
    return 0;
  }
  return win_def_window_proc(w, message, wparam, lparam);
}

uint16_t free_tcp_port() {
  int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
  close(probe);
  return ntohs(a.sin_port);
}

class WebSocketTest : public WebTest {
 protected:
  WindowHandle window = nullptr;
  uint16_t port = 0;

  void SetUp() override {
    WebTest::SetUp();
    static bool registered = win_register_class(u"web-socket-test", web_window_proc);
    ASSERT_TRUE(registered);
    window = win_create_window(u"web-socket-test", u"web-socket-test");
    ASSERT_NE(window, nullptr);
    http_server_init(kWebMessage, window, InstallDir, nullptr, nullptr);
    port = free_tcp_port();
    WebServerOps.http_open_listeners(port, 0, 1, 0);
  }

  void TearDown() override {
    WebServerOps.http_server_stop();
    if (window) win_destroy_window(window);
    WindowMessage m;
    while (win_peek_message(&m)) {
    }
    WebTest::TearDown();
  }

  // Sends the request, then dispatches messages (never the poll) and reads until the server closes
  // the connection or a generous limit passes. Reading starts only after `hold` messages, so that
  // a large response finds the socket full.
  std::string exchange(const std::string& raw, int hold = 0) {
    int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    EXPECT_EQ(send(client, raw.data(), raw.size(), 0), ssize_t(raw.size()));
    std::string answer;
    uint32_t end = clock_tick_count() + 10000;
    WindowMessage m;
    int handled = 0;
    bool closed = false;
    while (!closed && int32_t(end - clock_tick_count()) > 0) {
      bool any = win_peek_message(&m);
      if (any) {
        win_dispatch_message(&m);
        ++handled;
      }
      if (handled < hold) {
        if (!any) clock_sleep_ms(1);
        continue;
      }
      char buf[65536];
      ssize_t n = recv(client, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) answer.append(buf, size_t(n));
      else if (n == 0) closed = true;
      else if (!any) clock_sleep_ms(1);
    }
    close(client);
    return answer;
  }
};

TEST_F(WebSocketTest, ResponseLeavesWithoutThePoll) {
  struct Case {
    const char* path;
    const char* type;
  };
  const Case cases[] = {
      {"/template.css", "Content-Type: text/css\r\n"},
      {"/message.asp", "Content-Type: text/html\r\n"},
      {"/nowhere.asp", "Content-Type: text/html\r\n"},   // the login page
  };
  for (const Case& c : cases) {
    std::string raw = std::string("GET ") + c.path + " HTTP/1.1\r\nHost: unit\r\n\r\n";
    std::string answer = exchange(raw);
    ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << c.path;
    EXPECT_NE(answer.find(c.type), std::string::npos) << c.path;
    // The whole body came, and it is what the router made of the request.
    std::string expected = request(raw);
    size_t body = answer.find("\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    std::string length = between(answer, "Content-Length: ", "\r\n");
    EXPECT_EQ(answer.size() - body - 4, std::stoul(length)) << c.path;
    if (std::string(c.path) != "/nowhere.asp") {   // the login page's challenge differs each time
      EXPECT_EQ(answer.substr(body), expected.substr(expected.find("\r\n\r\n"))) << c.path;
    }
  }
  // Rendering leaves nothing on disk.
  std::filesystem::path tmp = dir.file("httpd/htdocs/tmp");
  if (std::filesystem::exists(tmp)) {
    for (auto& entry : std::filesystem::directory_iterator(tmp))
      EXPECT_EQ(entry.path().filename().string().rfind("tmp_web_", 0), std::string::npos) << entry.path();
  }
}

TEST_F(WebSocketTest, LargeResponseGoesOnAtWriteNotifications) {
  std::string content;
  for (int i = 0; content.size() < 12u << 20; ++i) content += "line " + std::to_string(i) + "\n";
  write_file(dir.file("httpd/htdocs/large.css"), content);
  // Several messages go by before the client reads: the server's first sends fill the socket.
  std::string answer = exchange("GET /large.css HTTP/1.1\r\nHost: unit\r\n\r\n", 3);
  size_t body = answer.find("\r\n\r\n");
  ASSERT_NE(body, std::string::npos);
  EXPECT_EQ(answer.size() - body - 4, content.size());
  EXPECT_TRUE(answer.substr(body + 4) == content);
}

}  // namespace
