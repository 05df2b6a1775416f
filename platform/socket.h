// Sockets in the service's terms: UDP and TCP over IPv4 (family 2) and IPv6 (family 23), socket
// addresses as the system's bytes (see inet.h), select with a zero time-out, and errors as the
// numbers the service's algorithms compare (SOCK_EWOULDBLOCK and the like). Receiving or
// accepting lets the next FD_READ or FD_ACCEPT notification of win_async_select be posted.
#pragma once
#include <cstdint>

#include "platform/inet.h"

constexpr int INVALID_SOCKET = -1;

enum : int {
  SOCK_EWOULDBLOCK = 10035,
  SOCK_ECONNRESET = 10054,
  SOCK_EADDRINUSE = 10048,
};

// A new socket of the family (2 or 23), non-blocking, or INVALID_SOCKET.
int sock_udp_open(uint16_t family);
int sock_tcp_open(uint16_t family);
// Binds to the address (4 or 16 bytes; null for the unspecified address) and port. An IPv6
// socket is bound IPv6-only, so it never takes the IPv4 port of its twin.
bool sock_bind(int s, uint16_t family, const uint8_t* address, uint16_t port);
bool sock_listen(int s, int backlog);
// Accepts a connection (non-blocking); its peer's socket address into peer (room
// INET_SOCKADDR_MAX) when given. INVALID_SOCKET when none is waiting or on error.
int sock_accept(int s, uint8_t* peer, uint32_t* peer_length);
// Starts a non-blocking connect; true when it completed or is in progress.
bool sock_connect(int s, uint16_t family, const uint8_t* address, uint16_t port);
// Bytes received, 0 when the peer closed, -1 on error (see sock_last_error).
int sock_recv(int s, void* buffer, int length);
int sock_send(int s, const void* buffer, int length);
// One datagram; the sender's socket address into from (room INET_SOCKADDR_MAX), its size into
// *from_length. -1 on error.
int sock_recvfrom(int s, void* buffer, int length, uint8_t* from, uint32_t* from_length);
int sock_sendto(int s, const void* buffer, int length, const uint8_t* to, uint32_t to_length);
// select() with a zero time-out: true when a read would not block.
bool sock_readable(int s);
// Asks for a kernel receive queue of the given size (the system may grant less); false on error.
bool sock_set_receive_buffer(int s, int bytes);
// Closes the socket and drops its notification registration.
void sock_close(int s);
// The error of the calling thread's last socket call.
int sock_last_error();
// The system's text for an error of sock_last_error ("Address already in use").
const char* sock_error_text(int error);
// The local port a socket is bound to (0 when unknown).
uint16_t sock_local_port(int s);
