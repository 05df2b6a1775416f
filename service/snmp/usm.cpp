// User-based security: key localisation with its two caches, HMAC-MD5-96 and DES-CBC with a
// salt counter that starts at a random value.
#include "service/snmp/usm.h"

#include <openssl/rand.h>

#include <cstring>

#include "common/cipher.h"
#include "common/digest.h"
#include "common/settings.h"

uint32_t g_usm_key_localisations;

namespace {

// A localised key and the pass phrase it was made from ("" while not made).
struct LocalisedKey {
  char pass[USM_PASS_MAX + 1];
  uint8_t key[16];
};

// Keys of one user towards one foreign engine.
struct KeyCacheEntry {
  uint8_t in_use;
  uint8_t user_length;
  uint8_t engine_id_length;
  uint8_t user[USM_PASS_MAX];
  uint8_t engine_id[USM_ENGINE_ID_MAX];
  LocalisedKey auth;
  LocalisedKey priv;
};

KeyCacheEntry g_key_cache[USM_KEY_CACHE_SIZE];
uint32_t g_key_cache_next;   // entry replaced next when no entry fits

// Keys of the configured users towards the engine id they were last asked for.
struct LocalUserKeys {
  uint8_t engine_id_length;
  uint8_t engine_id[USM_ENGINE_ID_MAX];
  LocalisedKey auth;
  LocalisedKey priv;
};

LocalUserKeys g_local_keys[USM_USER_MAX];

uint16_t g_salt_counter;
bool g_salt_seeded;

size_t pass_length(const char* pass) { return strnlen(pass, USM_PASS_MAX); }

// The key of pass in slot, localised again when slot was made from another pass phrase.
const uint8_t* localise(LocalisedKey* slot, const char* pass, const uint8_t* engine_id, uint8_t engine_id_length) {
  size_t n = pass_length(pass);
  if (strnlen(slot->pass, sizeof slot->pass) != n || std::memcmp(slot->pass, pass, n) != 0) {
    Md5Context ctx;
    usm_password_to_key_md5(&ctx, slot->key, reinterpret_cast<const uint8_t*>(pass), static_cast<uint8_t>(n),
                            engine_id, engine_id_length);
    ++g_usm_key_localisations;
    std::memcpy(slot->pass, pass, n);
    slot->pass[n] = 0;
  }
  return slot->key;
}

void make_iv(const uint8_t priv_key[16], const uint8_t salt[USM_SALT_SIZE], uint8_t iv[8]) {
  for (int i = 0; i < 8; ++i) iv[i] = static_cast<uint8_t>(priv_key[8 + i] ^ salt[i]);
}

}  // namespace

const uint8_t* usm_cached_key(const uint8_t* user, uint8_t user_length, const uint8_t* engine_id,
                              uint8_t engine_id_length, const char* pass, bool privacy) {
  if (user_length > USM_PASS_MAX) user_length = USM_PASS_MAX;
  if (engine_id_length > USM_ENGINE_ID_MAX) engine_id_length = USM_ENGINE_ID_MAX;
  KeyCacheEntry* e = nullptr;
  for (KeyCacheEntry& c : g_key_cache) {
    if (c.in_use && c.user_length == user_length && c.engine_id_length == engine_id_length &&
        std::memcmp(c.user, user, user_length) == 0 && std::memcmp(c.engine_id, engine_id, engine_id_length) == 0) {
      e = &c;
      break;
    }
  }
  if (e == nullptr) {
    e = &g_key_cache[g_key_cache_next];
    g_key_cache_next = (g_key_cache_next + 1) % USM_KEY_CACHE_SIZE;
    std::memset(e, 0, sizeof *e);
    e->in_use = 1;
    e->user_length = user_length;
    e->engine_id_length = engine_id_length;
    std::memcpy(e->user, user, user_length);
    std::memcpy(e->engine_id, engine_id, engine_id_length);
  }
  return localise(privacy ? &e->priv : &e->auth, pass, engine_id, engine_id_length);
}

const uint8_t* usm_local_key(uint32_t index, bool privacy, const uint8_t* engine_id, uint8_t engine_id_length) {
  if (index >= USM_USER_MAX || engine_id_length > USM_ENGINE_ID_MAX) return nullptr;
  const char* pass = privacy ? g_usm.priv[index] : g_usm.auth[index];
  if (pass_length(pass) == 0) return nullptr;
  LocalUserKeys& k = g_local_keys[index];
  if (k.engine_id_length != engine_id_length || std::memcmp(k.engine_id, engine_id, engine_id_length) != 0) {
    std::memset(&k, 0, sizeof k);
    k.engine_id_length = engine_id_length;
    std::memcpy(k.engine_id, engine_id, engine_id_length);
  }
  return localise(privacy ? &k.priv : &k.auth, pass, engine_id, engine_id_length);
}

void usm_local_keys_clear() { std::memset(g_local_keys, 0, sizeof g_local_keys); }

bool usm_digest_ok(const uint8_t* message, size_t length, const uint8_t key[16],
                   const uint8_t expected[USM_DIGEST_SIZE]) {
  if (length > 0xFFFF) return false;
  Md5Context ctx;
  uint8_t digest[16];
  hmac_md5(&ctx, message, static_cast<uint16_t>(length), key, digest);
  uint8_t diff = 0;
  for (uint32_t i = 0; i < USM_DIGEST_SIZE; ++i) diff |= static_cast<uint8_t>(digest[i] ^ expected[i]);
  return diff == 0;
}

void usm_sign(const uint8_t* message, size_t length, const uint8_t key[16], uint8_t* params) {
  Md5Context ctx;
  uint8_t digest[16];
  hmac_md5(&ctx, message, static_cast<uint16_t>(length > 0xFFFF ? 0xFFFF : length), key, digest);
  std::memcpy(params, digest, USM_DIGEST_SIZE);
}

void usm_next_salt(uint16_t engine_boots, uint8_t salt[USM_SALT_SIZE]) {
  if (!g_salt_seeded) {
    uint8_t seed[2] = {0, 0};
    if (RAND_bytes(seed, sizeof seed) == 1) g_salt_counter = static_cast<uint16_t>(seed[0] << 8 | seed[1]);
    g_salt_seeded = true;
  }
  ++g_salt_counter;
  salt[0] = static_cast<uint8_t>(engine_boots);
  salt[1] = static_cast<uint8_t>(g_salt_counter);
  salt[2] = static_cast<uint8_t>(engine_boots >> 8);
  salt[3] = static_cast<uint8_t>(g_salt_counter >> 8);
  std::memset(salt + 4, 0, 4);
}

void usm_set_salt_counter(uint16_t counter) {
  g_salt_counter = counter;
  g_salt_seeded = true;
}

bool usm_encrypt(uint8_t* data, size_t length, const uint8_t priv_key[16], const uint8_t salt[USM_SALT_SIZE]) {
  uint8_t iv[8];
  make_iv(priv_key, salt, iv);
  return des_cbc_encrypt(data, length, priv_key, iv);
}

bool usm_decrypt(uint8_t* data, size_t length, const uint8_t priv_key[16], const uint8_t salt[USM_SALT_SIZE]) {
  uint8_t iv[8];
  make_iv(priv_key, salt, iv);
  return des_cbc_decrypt(data, length, priv_key, iv);
}
