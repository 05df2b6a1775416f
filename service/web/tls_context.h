// The HTTPS side: a TLS 1.2 server context from one PEM file, the self-signed certificate of a
// fresh installation, and connection objects that read and write through the platform's sockets.
#pragma once
#include <cstdint>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

// A TLS 1.2-only server context with the certificate and key of the PEM file; a file that fails
// to load logs its event and leaves the context without them. Null when none can be made.
SSL_CTX* tls_context_new(const char* pem_path);
// Makes a self-signed certificate for the host name and its key, both into the one file (mode
// 0600). 1 on success.
int tls_make_self_signed(const char* pem_path, const char* host_name);
// A server connection object on the socket, its handshake started. Null when the handshake failed.
SSL* tls_accept(SSL_CTX* ctx, int socket);
