// Linux back end of the socket calls.
#include "platform/socket.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/window.h"
#include "platform/window_internal.h"

static thread_local int t_last_error;

static int set_error(int err) {
  switch (err) {
    case EAGAIN: t_last_error = SOCK_EWOULDBLOCK; break;
    case EINPROGRESS: t_last_error = SOCK_EWOULDBLOCK; break;
    case ECONNRESET: t_last_error = SOCK_ECONNRESET; break;
    case EADDRINUSE: t_last_error = SOCK_EADDRINUSE; break;
    default: t_last_error = err ? 10000 + err : 0; break;
  }
  return -1;
}

int sock_last_error() { return t_last_error; }

const char* sock_error_text(int error) {
  int err = error == SOCK_EWOULDBLOCK ? EAGAIN
            : error == SOCK_ECONNRESET ? ECONNRESET
            : error == SOCK_EADDRINUSE ? EADDRINUSE
            : error > 10000 ? error - 10000 : error;
  const char* text = strerrordesc_np(err);
  return text ? text : "Unknown error";
}

static int open_socket(uint16_t family, int type) {
  int domain = family == INET_FAMILY_IPV4 ? AF_INET : family == INET_FAMILY_IPV6 ? AF_INET6 : -1;
  if (domain < 0) return INVALID_SOCKET;
  int s = socket(domain, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    set_error(errno);
    return INVALID_SOCKET;
  }
  if (domain == AF_INET6) {
    int one = 1;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  }
  return s;
}

int sock_udp_open(uint16_t family) { return open_socket(family, SOCK_DGRAM); }

int sock_tcp_open(uint16_t family) {
  int s = open_socket(family, SOCK_STREAM);
  if (s >= 0) {
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  return s;
}

bool sock_bind(int s, uint16_t family, const uint8_t* address, uint16_t port) {
  static const uint8_t any[16] = {};
  uint8_t sa[INET_SOCKADDR_MAX];
  uint32_t len = inet_make_sockaddr(sa, sizeof sa, family, address ? address : any, port, 0);
  if (!len) return false;
  if (bind(s, reinterpret_cast<sockaddr*>(sa), len) != 0) return set_error(errno), false;
  return true;
}

bool sock_listen(int s, int backlog) {
  if (listen(s, backlog) != 0) return set_error(errno), false;
  return true;
}

int sock_accept(int s, uint8_t* peer, uint32_t* peer_length) {
  sockaddr_storage from;
  socklen_t len = sizeof from;
  int c = accept4(s, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  int err = errno;
  win_socket_rearm(s, FD_ACCEPT);
  if (c < 0) {
    set_error(err);
    return INVALID_SOCKET;
  }
  if (peer) {
    uint32_t n = len < INET_SOCKADDR_MAX ? uint32_t(len) : INET_SOCKADDR_MAX;
    memset(peer, 0, INET_SOCKADDR_MAX);
    memcpy(peer, &from, n);
    if (peer_length) *peer_length = n;
  }
  return c;
}

bool sock_connect(int s, uint16_t family, const uint8_t* address, uint16_t port) {
  uint8_t sa[INET_SOCKADDR_MAX];
  uint32_t len = inet_make_sockaddr(sa, sizeof sa, family, address, port, 0);
  if (!len) return false;
  if (connect(s, reinterpret_cast<sockaddr*>(sa), len) == 0) return true;
  set_error(errno);
  return errno == EINPROGRESS;
}

int sock_recv(int s, void* buffer, int length) {
  ssize_t n = recv(s, buffer, size_t(length > 0 ? length : 0), MSG_DONTWAIT);
  int err = errno;
  win_socket_rearm(s, FD_READ);
  if (n < 0) return set_error(err);
  return int(n);
}

int sock_send(int s, const void* buffer, int length) {
  ssize_t n = send(s, buffer, size_t(length > 0 ? length : 0), MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0) {
    int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) win_socket_rearm(s, FD_WRITE);
    return set_error(err);
  }
  return int(n);
}

int sock_recvfrom(int s, void* buffer, int length, uint8_t* from, uint32_t* from_length) {
  sockaddr_storage sa;
  socklen_t len = sizeof sa;
  ssize_t n = recvfrom(s, buffer, size_t(length > 0 ? length : 0), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&sa), &len);
  int err = errno;
  win_socket_rearm(s, FD_READ);
  if (n < 0) return set_error(err);
  if (from) {
    uint32_t k = len < INET_SOCKADDR_MAX ? uint32_t(len) : INET_SOCKADDR_MAX;
    memset(from, 0, INET_SOCKADDR_MAX);
    memcpy(from, &sa, k);
    if (from_length) *from_length = k;
  }
  return int(n);
}

int sock_sendto(int s, const void* buffer, int length, const uint8_t* to, uint32_t to_length) {
  ssize_t n = sendto(s, buffer, size_t(length > 0 ? length : 0), MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(to), socklen_t(to_length));
  if (n < 0) return set_error(errno);
  return int(n);
}

bool sock_readable(int s) {
  if (s < 0) return false;
  pollfd p{s, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLERR | POLLHUP));
}

bool sock_set_receive_buffer(int s, int bytes) {
  if (setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return set_error(errno), false;
  return true;
}

void sock_close(int s) {
  if (s < 0) return;
  win_socket_forget(s);
  close(s);
}

uint16_t sock_local_port(int s) {
  sockaddr_storage sa;
  socklen_t len = sizeof sa;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  uint16_t port = 0;
  uint8_t addr[16];
  inet_sockaddr_address(&sa, uint32_t(len), addr, &port, nullptr);
  return port;
}
