// HTTP load for bench/web_vs_nginx.sh: CLIENTS threads, each sending one GET per connection
// (Connection: close, as ab without keep-alive) and reading the answer to its end; connection i
// is bound to source address 127.0.0.(2 + i % 4), so that no address holds more than a quarter of
// the connections. With "https" each connection makes a full TLS 1.2 handshake (no resumption).
// Usage: web_load http|https PORT PATH CLIENTS REQUESTS
// Prints "requests failed seconds".
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<long> g_next{0};
std::atomic<long> g_failed{0};

bool one_request(int index, int port, const std::string& request, SSL_CTX* tls) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return false;
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = htonl(0x7F000002u + uint32_t(index % 4));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = htonl(0x7F000001u);
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  bool ok = bind(s, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
            connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  SSL* ssl = nullptr;
  if (ok && tls) {
    ssl = SSL_new(tls);
    SSL_set_fd(ssl, s);
    ok = SSL_connect(ssl) == 1;
  }
  size_t got = 0;
  if (ok) {
    int n = ssl ? SSL_write(ssl, request.data(), int(request.size())) : int(send(s, request.data(), request.size(), 0));
    ok = n == int(request.size());
  }
  char buffer[65536];
  bool head_ok = false;
  while (ok) {
    int n = ssl ? SSL_read(ssl, buffer, sizeof buffer) : int(recv(s, buffer, sizeof buffer, 0));
    if (n <= 0) break;
    if (got == 0) head_ok = n >= 12 && std::memcmp(buffer, "HTTP/1.1 200", 12) == 0;
    got += size_t(n);
  }
  if (ssl) {
    SSL_free(ssl);
    ERR_clear_error();
  }
  close(s);
  return ok && head_ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: web_load http|https PORT PATH CLIENTS REQUESTS\n");
    return 2;
  }
  bool https = std::strcmp(argv[1], "https") == 0;
  int port = std::atoi(argv[2]);
  std::string request = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  int clients = std::atoi(argv[4]);
  long requests = std::atol(argv[5]);
  SSL_CTX* tls = nullptr;
  if (https) {
    tls = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(tls, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(tls, TLS1_2_VERSION);
    SSL_CTX_set_session_cache_mode(tls, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(tls, SSL_OP_NO_TICKET);
  }
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([=] {
      while (g_next.fetch_add(1) < requests)
        if (!one_request(c, port, request, tls)) g_failed.fetch_add(1);
    });
  for (auto& t : threads) t.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld %ld %.6f\n", requests, g_failed.load(), seconds);
  if (tls) SSL_CTX_free(tls);
  return 0;
}
