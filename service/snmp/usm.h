// User-based security (HMAC-MD5-96 and DES-CBC) shared by the agent, the trap receiver and the
// forwarder: localised keys, made once per user, pass phrase and engine id and then cached;
// the digest check and signature; DES-CBC privacy with its salt.
#pragma once
#include <cstddef>
#include <cstdint>

enum : uint32_t {
  USM_KEY_CACHE_SIZE = 32,   // key pairs kept for foreign engines, by user and engine id
  USM_ENGINE_ID_MAX = 32,    // longest engine id
  USM_DIGEST_SIZE = 12,      // bytes of msgAuthenticationParameters
  USM_SALT_SIZE = 8,         // bytes of msgPrivacyParameters
  USM_PASS_MAX = 16,         // characters of a pass phrase field (17 bytes with terminator)
};

// Pass phrases localised so far by this process (each costs 1 MiB of MD5).
extern uint32_t g_usm_key_localisations;

// The localised key of pass (a 17-byte settings field, non-empty) towards a foreign engine, for
// the user; made only when the cache holds none for this user, engine id and pass phrase. Entries
// are replaced round robin. Never null.
const uint8_t* usm_cached_key(const uint8_t* user, uint8_t user_length, const uint8_t* engine_id,
                              uint8_t engine_id_length, const char* pass, bool privacy);

// The key of UsmSettings user index (0-based) localised to engine_id, made again only when the
// user's pass phrase or the engine id changed since the last call. Null when the pass phrase is
// empty or the index is out of range.
const uint8_t* usm_local_key(uint32_t index, bool privacy, const uint8_t* engine_id, uint8_t engine_id_length);
// Forgets every key of usm_local_key (they are made again when next asked for).
void usm_local_keys_clear();

// True when HMAC-MD5-96 of the message (its authentication parameters already zero) is expected.
// Constant time.
bool usm_digest_ok(const uint8_t* message, size_t length, const uint8_t key[16],
                   const uint8_t expected[USM_DIGEST_SIZE]);
// Writes HMAC-MD5-96 of the message (with 12 zero bytes at params) into params.
void usm_sign(const uint8_t* message, size_t length, const uint8_t key[16], uint8_t* params);

// The next salt of this process: [boots low, counter low, boots high, counter high, 0, 0, 0, 0].
// The counter starts at a random value and is shared by every sender, so no IV repeats under a
// key across restarts or between the agent and the forwarder.
void usm_next_salt(uint16_t engine_boots, uint8_t salt[USM_SALT_SIZE]);
// Sets the counter (the next salt uses counter + 1); for tests.
void usm_set_salt_counter(uint16_t counter);

// DES-CBC in place with the privacy key (DES key bytes 0-7, IV bytes 8-15 XOR salt). length must
// be a multiple of 8; false otherwise.
bool usm_encrypt(uint8_t* data, size_t length, const uint8_t priv_key[16], const uint8_t salt[USM_SALT_SIZE]);
bool usm_decrypt(uint8_t* data, size_t length, const uint8_t priv_key[16], const uint8_t salt[USM_SALT_SIZE]);
