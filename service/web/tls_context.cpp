// TLS through OpenSSL: a TLS 1.2 server context, a self-signed certificate for a fresh
// installation, and a BIO that moves the bytes through the platform's socket calls.
#include "service/web/tls_context.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstring>

#include "platform/fs.h"
#include "platform/socket.h"
#include "service/events/event_defs.h"

static BIO_METHOD* g_socket_bio;

static int tls_bio_write(BIO* b, const char* data, int length) {
  BIO_clear_retry_flags(b);
  int n = sock_send(int(BIO_get_fd(b, nullptr)), data, length);
  if (n < 0 && sock_last_error() == SOCK_EWOULDBLOCK) BIO_set_retry_write(b);
  return n;
}

static int tls_bio_read(BIO* b, char* data, int length) {
  BIO_clear_retry_flags(b);
  int n = sock_recv(int(BIO_get_fd(b, nullptr)), data, length);
  if (n < 0 && sock_last_error() == SOCK_EWOULDBLOCK) BIO_set_retry_read(b);
  return n;
}

static long tls_bio_ctrl(BIO* b, int cmd, long num, void* ptr) {
  switch (cmd) {
    case BIO_C_SET_FD:
      BIO_set_data(b, reinterpret_cast<void*>(intptr_t(*static_cast<int*>(ptr))));
      BIO_set_init(b, 1);
      return 1;
    case BIO_C_GET_FD:
      if (ptr) *static_cast<int*>(ptr) = int(intptr_t(BIO_get_data(b)));
      return long(intptr_t(BIO_get_data(b)));
    case BIO_CTRL_FLUSH:
      return 1;
    default:
      (void)num;
      return 0;
  }
}

static BIO_METHOD* tls_socket_bio_method() {
  if (!g_socket_bio) {
    g_socket_bio = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "platform socket");
    BIO_meth_set_write(g_socket_bio, tls_bio_write);
    BIO_meth_set_read(g_socket_bio, tls_bio_read);
    BIO_meth_set_ctrl(g_socket_bio, tls_bio_ctrl);
  }
  return g_socket_bio;
}

static void tls_log(const char16_t* text) { EventApi.evt_log(u"0.0.0.0", 0, text, nullptr); }

// Forward secrecy and authenticated encryption only: ECDHE with AES-GCM or ChaCha20-Poly1305. The
// certificate's key picks the ECDSA or the RSA half.
static const char kCipherList[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:"
    "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

SSL_CTX* tls_context_new(const char* pem_path) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) return nullptr;
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION);
  if (SSL_CTX_set_cipher_list(ctx, kCipherList) != 1 || SSL_CTX_set1_groups_list(ctx, "X25519:P-256:P-384") != 1) {
    SSL_CTX_free(ctx);
    ERR_clear_error();
    return nullptr;
  }
  SSL_CTX_set_options(ctx, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
  // The send pump moves the unsent rest to the front of its buffer between writes.
  SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
  if (SSL_CTX_use_certificate_file(ctx, pem_path, SSL_FILETYPE_PEM) != 1) {
    tls_log(u"SSL: Failed to load cert file.");
  } else if (SSL_CTX_use_PrivateKey_file(ctx, pem_path, SSL_FILETYPE_PEM) != 1) {
    tls_log(u"SSL: Failed to load key file.");
  }
  ERR_clear_error();
  return ctx;
}

int tls_make_self_signed(const char* pem_path, const char* host_name) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = X509_new();
  BIO* mem = BIO_new(BIO_s_mem());
  int ok = key && cert && mem;
  if (ok) {
    X509_set_version(cert, 2);
    uint8_t serial[8];
    ok = RAND_bytes(serial, sizeof serial) == 1;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    if (bn) {
      BN_set_bit(bn, 0);
      BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
      BN_free(bn);
    }
    X509_gmtime_adj(X509_getm_notBefore(cert), -86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    const char* cn = host_name && host_name[0] ? host_name : "localhost";
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    ok = ok && X509_sign(cert, key, EVP_sha256()) > 0;
    ok = ok && PEM_write_bio_X509(mem, cert) == 1 && PEM_write_bio_PrivateKey(mem, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  }
  if (ok) {
    char* data = nullptr;
    long length = BIO_get_mem_data(mem, &data);
    ok = length > 0 && fs_write_private_file(pem_path, data, size_t(length));
  }
  BIO_free(mem);
  X509_free(cert);
  EVP_PKEY_free(key);
  ERR_clear_error();
  return ok ? 1 : 0;
}

SSL* tls_accept(SSL_CTX* ctx, int socket) {
  if (!ctx) return nullptr;
  SSL* ssl = SSL_new(ctx);
  if (!ssl) return nullptr;
  BIO* bio = BIO_new(tls_socket_bio_method());
  if (!bio) {
    SSL_free(ssl);
    return nullptr;
  }
  BIO_set_fd(bio, socket, BIO_NOCLOSE);
  SSL_set_bio(ssl, bio, bio);
  int r = SSL_accept(ssl);
  if (r != 1 && SSL_get_error(ssl, r) != SSL_ERROR_WANT_READ) {
    SSL_free(ssl);
    ERR_clear_error();
    return nullptr;
  }
  return ssl;
}
