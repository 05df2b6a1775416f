// Fuzzes the trap decoder over whole datagrams, walked as the poll walks them (at most ten
// messages, each matched to the sender 127.0.0.1 first). Each input is decoded three times: as
// it is; with the digest made right by the harness, so that mutations get past the digest check;
// and with the encrypted PDU first encrypted by the harness, so that mutated plaintext reaches
// the ScopedPDU decoder. Users: "upsuser" (auth and privacy), "authuser" (auth), "plain".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/cipher.h"
#include "common/digest.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/snmp/ber.h"
#include "service/snmp/trap_receiver.h"
#include "service/snmp/trap_state.h"

namespace {

// The engine id of the seed traps; the harness signs and encrypts only for this one.
const uint8_t kEngine[] = {0x80, 0x00, 0x1f, 0x88, 0x80, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6, 0x07, 0x18};

struct UserKeys {
  const char* name;
  uint8_t auth[16];
  uint8_t priv[16];
};
UserKeys g_keys[2] = {{"upsuser", {}, {}}, {"authuser", {}, {}}};

void localise(uint8_t key[16], const char* pass) {
  Md5Context ctx;
  usm_password_to_key_md5(&ctx, key, reinterpret_cast<const uint8_t*>(pass), uint8_t(std::strlen(pass)), kEngine,
                          sizeof kEngine);
}

void setup() {
  cfg_set_defaults();
  g_source_ips.count = 2;
  text_copy8(g_source_ips.ip[0], 52, "127.0.0.1");
  text_copy8(g_source_ips.community[0], 17, "public");
  text_copy8(g_source_ips.ip[1], 52, "10.0.0.1");
  g_usm.count = 3;
  const char* users[] = {"upsuser", "authuser", "plain"};
  const uint8_t levels[] = {2, 1, 0};
  const char* auth[] = {"authpass1", "authpass2", ""};
  const char* priv[] = {"privpass1", "", ""};
  for (int i = 0; i < 3; ++i) {
    text_copy8(g_usm.user[i], 17, users[i]);
    g_usm.security[i] = levels[i];
    text_copy8(g_usm.auth[i], 17, auth[i]);
    text_copy8(g_usm.priv[i], 17, priv[i]);
  }
  g_settings.kestra_enable = 1;
  trap_init();
  localise(g_keys[0].auth, "authpass1");
  localise(g_keys[0].priv, "privpass1");
  localise(g_keys[1].auth, "authpass2");
}

// Where the harness writes: the first message's digest and its encrypted PDU.
struct Layout {
  uint32_t size;             // bytes of the outer SEQUENCE
  const UserKeys* keys;      // null for a user the harness has no keys for
  uint8_t* auth;             // the 12 authentication bytes, or null
  uint8_t* cipher;           // the encrypted PDU's content, or null
  size_t cipher_length;
  uint8_t salt[8];
};

bool locate(uint8_t* data, size_t size, Layout* out) {
  std::memset(out, 0, sizeof *out);
  BerReader all = ber_reader(data, size), msg, global, wrapped, security;
  if (!ber_read_inner(&all, BER_SEQUENCE, &msg, BER_NOT_EMPTY)) return false;
  out->size = uint32_t(all.pos - data);
  int32_t value = 0;
  if (!ber_read_integer(&msg, BER_INTEGER, &value, BER_NOT_EMPTY) || value != 3) return false;
  if (!ber_read_inner(&msg, BER_SEQUENCE, &global, BER_NOT_EMPTY)) return false;
  if (!ber_read_inner(&msg, BER_OCTET_STRING, &wrapped, BER_NOT_EMPTY)) return false;
  if (!ber_read_inner(&wrapped, BER_SEQUENCE, &security, BER_NOT_EMPTY)) return false;
  uint8_t engine[32], user[32];
  SnmpOctets e = {engine, 0}, u = {user, 0};
  uint16_t engine_length = 0, user_length = 0;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &e, 32, &engine_length, BER_MAY_BE_EMPTY)) return false;
  if (engine_length != sizeof kEngine || std::memcmp(engine, kEngine, sizeof kEngine) != 0) return false;
  if (!ber_read_integer(&security, BER_INTEGER, &value, BER_MAY_BE_EMPTY) ||
      !ber_read_integer(&security, BER_INTEGER, &value, BER_MAY_BE_EMPTY) ||
      !ber_read_octets(&security, BER_OCTET_STRING, &u, 32, &user_length, BER_MAY_BE_EMPTY))
    return false;
  for (const UserKeys& k : g_keys)
    if (user_length == std::strlen(k.name) && std::memcmp(user, k.name, user_length) == 0) out->keys = &k;
  BerReader auth;
  if (!ber_read_inner(&security, BER_OCTET_STRING, &auth, BER_MAY_BE_EMPTY)) return false;
  if (ber_reader_left(&auth) == 12) out->auth = data + (auth.pos - data);
  SnmpOctets salt = {out->salt, 0};
  uint16_t salt_length = 0;
  if (!ber_read_octets(&security, BER_OCTET_STRING, &salt, 8, &salt_length, BER_MAY_BE_EMPTY)) return true;
  BerReader cipher;
  if (salt_length == 8 && ber_read_inner(&msg, BER_OCTET_STRING, &cipher, BER_NOT_EMPTY)) {
    out->cipher = data + (cipher.pos - data);
    out->cipher_length = ber_reader_left(&cipher);
  }
  return true;
}

void sign(uint8_t* data, const Layout& l) {
  if (l.keys == nullptr || l.auth == nullptr || l.size > 0xFFFF) return;
  std::memset(l.auth, 0, 12);
  Md5Context ctx;
  uint8_t digest[16];
  hmac_md5(&ctx, data, uint16_t(l.size), l.keys->auth, digest);
  std::memcpy(l.auth, digest, 12);
}

void encrypt(const Layout& l) {
  if (l.keys == nullptr || l.cipher == nullptr || l.cipher_length % 8 != 0) return;
  uint8_t iv[8];
  for (int i = 0; i < 8; ++i) iv[i] = uint8_t(l.keys->priv[8 + i] ^ l.salt[i]);
  des_cbc_encrypt(l.cipher, l.cipher_length, l.keys->priv, iv);
}

// The poll's walk over one datagram.
void walk(uint8_t* data, size_t size) {
  static const uint8_t kSender[4] = {127, 0, 0, 1};
  size_t offset = 0;
  for (uint32_t m = 0; m < TRAP_MESSAGES_MAX && offset < size; ++m) {
    trap_match_source(kSender, 4);
    uint32_t used = 0;
    if (trap_decode(data + offset, uint32_t(size - offset), &used)) {
      if (TrapState.source_index < 0 || TrapState.source_index >= g_source_ips.count) std::abort();
      if (TrapState.engine_id.length > TRAP_OCTETS_MAX || TrapState.user_name.length > TRAP_OCTETS_MAX) std::abort();
    }
    if (used > size - offset) std::abort();
    if (used == 0) break;
    offset += used;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    setup();
    ready = true;
  }
  if (size > TRAP_DATAGRAM_MAX) size = TRAP_DATAGRAM_MAX;
  // Heap copies of exactly the input's size, so a read past it is caught.
  for (int variant = 0; variant < 3; ++variant) {
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (copy == nullptr) return 0;
    if (size) std::memcpy(copy, data, size);
    Layout layout;
    if (variant > 0 && !locate(copy, size, &layout)) {
      std::free(copy);
      break;
    }
    if (variant == 2) encrypt(layout);
    if (variant > 0) sign(copy, layout);
    walk(copy, size);
    std::free(copy);
  }
  return 0;
}
