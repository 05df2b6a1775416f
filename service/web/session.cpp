// Login sessions: 16 session slots and 16 challenge slots, anti-forgery tokens, the session
// integers of the pages and the login lock per account and client address.
#include "service/web/session.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstring>

#include "common/codec.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/clock.h"

WebSession WebSessionTable[SESSION_SLOTS];
LoginChallenge LoginChallengeTable[SESSION_SLOTS];
LoginLock LoginLockTable[LOGIN_LOCK_SLOTS];
SessionApiTable SessionApi;

static const char kFactoryPassword[] = "quillbox";
// The pass phrases the SNMPv3 manager user had in every installation of earlier builds.
static const char kFactoryManagerAuth[] = "mq472816";
static const char kFactoryManagerPriv[] = "hv305749";

// n crypt64 characters of fresh random bytes (n a multiple of 4: 3n/4 bytes), terminated.
static void sess_random_text(char* out, int n) {
  uint8_t bytes[18];
  int count = n / 4 * 3;
  if (RAND_bytes(bytes, count) != 1) {
    // The generator never fails once seeded; a clock-based fallback keeps the text unique.
    uint32_t t = clock_tick_count();
    for (int i = 0; i < count; ++i) bytes[i] = uint8_t((t >> (8 * (i % 4))) ^ (i * 131));
  }
  CodecApi.codec_crypt64_encode(out, bytes, count);
  out[n] = 0;
}

static int sess_equal(const char* a, const char* b, size_t n) {
  return strnlen(a, n) == n && strnlen(b, n) == n && CRYPTO_memcmp(a, b, n) == 0;
}

static int sess_find(const char* id) {
  for (int i = 0; i < SESSION_SLOTS; ++i)
    if (WebSessionTable[i].in_use && sess_equal(WebSessionTable[i].id, id, SESSION_ID_CHARS)) return i;
  return -1;
}

static int sess_find_challenge(const uint8_t* client) {
  for (int i = 0; i < SESSION_SLOTS; ++i)
    if (LoginChallengeTable[i].in_use && memcmp(LoginChallengeTable[i].client, client, 16) == 0) return i;
  return -1;
}

static const char* sess_create(uint8_t level) {
  uint32_t now = http_clock_seconds();
  SystemTime utc;
  clock_system_time(&utc);
  // A free or expired slot, else the session idle longest (its expiry, renewed at every use, is
  // the earliest): a login never takes a session that is in use when an idle one exists.
  int slot = 0;
  for (int i = 0; i < SESSION_SLOTS; ++i) {
    if (!WebSessionTable[i].in_use || now > WebSessionTable[i].expires) {
      slot = i;
      break;
    }
    if (WebSessionTable[i].expires < WebSessionTable[slot].expires) slot = i;
  }
  WebSession& s = WebSessionTable[slot];
  sess_random_text(s.id, SESSION_ID_CHARS);
  sess_random_text(s.token, SESSION_ID_CHARS);
  s.expires = now + SESSION_TIMEOUT_S;
  s.in_use = 1;
  s.level = level;
  uint32_t year = utc.year >= 2000 ? utc.year - 2000u : 0;
  s.var[0] = 0;
  s.var[1] = 1;
  s.var[2] = s.var[5] = utc.month;
  s.var[3] = s.var[6] = utc.day;
  s.var[4] = s.var[7] = year;
  g_current_session = slot;
  return s.id;
}

static int sess_touch(const char* id) {
  int i = sess_find(id);
  if (i < 0) return -1;
  uint32_t now = http_clock_seconds();
  if (now <= WebSessionTable[i].expires) {
    WebSessionTable[i].expires = now + SESSION_TIMEOUT_S;
    g_current_session = i;
    return WebSessionTable[i].level;
  }
  memset(&WebSessionTable[i], 0, sizeof WebSessionTable[i]);
  g_current_session = -1;
  return -1;
}

static void sess_drop(const char* id) {
  int i = sess_find(id);
  if (i < 0) return;
  WebSessionTable[i].in_use = 0;
  memset(WebSessionTable[i].id, 0, sizeof WebSessionTable[i].id);
  memset(WebSessionTable[i].token, 0, sizeof WebSessionTable[i].token);
  if (g_current_session == i) g_current_session = -1;
}

static int sess_from_cookie(const char* header, int logout) {
  if (!header) return -1;
  static const char kName[] = "Vellmar=";
  const char* first = strstr(header, kName);
  if (!first) return -1;
  first += sizeof kName - 1;
  const char* second = strstr(first, kName);
  if (second) second += sizeof kName - 1;
  if (logout) {
    sess_drop(first);
    return -1;
  }
  int level = sess_touch(first);
  if (level >= 0) return level;
  if (second) level = sess_touch(second);
  return level >= 0 ? level : -1;
}

static const char* sess_challenge_get(const uint8_t* client) {
  int i = sess_find_challenge(client);
  if (i < 0) return nullptr;
  if (http_clock_seconds() <= LoginChallengeTable[i].expires) return LoginChallengeTable[i].text;
  LoginChallengeTable[i].in_use = 0;
  return nullptr;
}

// The network of a client key: an IPv4 address (the last 12 bytes zero) by its first 3 bytes,
// an IPv6 address by its first 8.
static bool sess_same_network(const uint8_t* a, const uint8_t* b) {
  static const uint8_t kZero[12] = {};
  bool v4 = memcmp(a + 4, kZero, 12) == 0;
  if (v4 != (memcmp(b + 4, kZero, 12) == 0)) return false;
  return memcmp(a, b, v4 ? 3 : 8) == 0;
}

// The slot a new client's challenge takes: a free or expired one; when all are live, the oldest
// (renewed longest ago) of the networks that hold more than one, else the oldest of all, so that
// many addresses of one network crowd out only each other.
static int sess_challenge_slot(uint32_t now) {
  int oldest = 0, crowded = -1;
  for (int k = 0; k < SESSION_SLOTS; ++k) {
    const LoginChallenge& ch = LoginChallengeTable[k];
    if (!ch.in_use || now > ch.expires) return k;
    if (ch.expires < LoginChallengeTable[oldest].expires) oldest = k;
    int neighbours = 0;
    for (int j = 0; j < SESSION_SLOTS; ++j)
      if (j != k && LoginChallengeTable[j].in_use && sess_same_network(LoginChallengeTable[j].client, ch.client))
        ++neighbours;
    if (neighbours > 0 && (crowded < 0 || ch.expires < LoginChallengeTable[crowded].expires)) crowded = k;
  }
  return crowded >= 0 ? crowded : oldest;
}

static const char* sess_challenge_new(const uint8_t* client) {
  uint32_t now = http_clock_seconds();
  int i = sess_find_challenge(client);
  // A live challenge keeps its text (a page and the files it loads may render it more than
  // once); the text changes with every login attempt instead.
  if (i >= 0 && now <= LoginChallengeTable[i].expires) {
    LoginChallengeTable[i].expires = now + CHALLENGE_TIMEOUT_S;
    return LoginChallengeTable[i].text;
  }
  // A client that asks again keeps its slot: one address never holds two.
  int slot = i >= 0 ? i : sess_challenge_slot(now);
  LoginChallenge& ch = LoginChallengeTable[slot];
  sess_random_text(ch.text, CHALLENGE_CHARS);
  ch.expires = now + CHALLENGE_TIMEOUT_S;
  ch.in_use = 1;
  memcpy(ch.client, client, 16);
  return ch.text;
}

void sess_challenge_renew(const uint8_t* client) {
  int i = sess_find_challenge(client);
  if (i >= 0) sess_random_text(LoginChallengeTable[i].text, CHALLENGE_CHARS);
}

static void md5_feed(Md5Context* ctx, const char* text) {
  CodecApi.md5_update(ctx, reinterpret_cast<const uint8_t*>(text), uint16_t(strnlen(text, 65535)));
}

static int sess_verify_login(const char* response, const char* user, const char* password, const uint8_t* client) {
  const char* challenge = sess_challenge_get(client);
  if (!challenge || !response) return 0;
  Md5Context ctx;
  uint8_t digest[16];
  CodecApi.md5_init(&ctx);
  md5_feed(&ctx, user);
  md5_feed(&ctx, password);
  md5_feed(&ctx, challenge);
  CodecApi.md5_final(&ctx, digest);
  char hex[33];
  for (int i = 0; i < 16; ++i) CodecApi.codec_byte_to_hex(digest[i], hex + 2 * i, 0);
  hex[32] = 0;
  return sess_equal(response, hex, 32);
}

static uint32_t sess_var_get(int i) {
  if (i < 0 || i >= SESSION_VARS || g_current_session < 0 || g_current_session >= SESSION_SLOTS) return 0;
  return WebSessionTable[g_current_session].var[i];
}

static void sess_var_set(int i, uint32_t value) {
  if (i < 0 || i >= SESSION_VARS || g_current_session < 0 || g_current_session >= SESSION_SLOTS) return;
  WebSessionTable[g_current_session].var[i] = value;
}

// The token lives with its session: nothing another client does (a login page, a challenge taking
// a slot) changes it, and every tab of the session shows the same one. The cookie picks the
// session; the token posted must be that session's.
static WebSession* sess_current() {
  if (g_current_session < 0 || g_current_session >= SESSION_SLOTS) return nullptr;
  WebSession* s = &WebSessionTable[g_current_session];
  return s->in_use ? s : nullptr;
}

static const char* sess_token_new(const uint8_t*) {
  WebSession* s = sess_current();
  if (!s) return nullptr;
  if (s->token[0] == 0) sess_random_text(s->token, SESSION_ID_CHARS);
  return s->token;
}

static int sess_token_check(const uint8_t*, const char* token) {
  const WebSession* s = sess_current();
  if (!s || !token || s->token[0] == 0) return 0;
  return sess_equal(token, s->token, SESSION_ID_CHARS);
}

int sess_current_level() {
  if (g_current_session < 0 || g_current_session >= SESSION_SLOTS) return -1;
  const WebSession& s = WebSessionTable[g_current_session];
  return s.in_use ? s.level : -1;
}

uint32_t sess_default_password_mask() {
  uint32_t mask = 0;
  for (int i = 0; i < 3; ++i) {
    char utf8[3 * 33 + 1];
    text_utf16_to_utf8(utf8, sizeof utf8, g_settings.account_password[i]);
    if (strcmp(utf8, kFactoryPassword) == 0) mask |= 1u << i;
  }
  return mask;
}

bool sess_manager_keys_factory() {
  if (g_usm.count < 1) return false;
  return strncmp(g_usm.auth[0], kFactoryManagerAuth, sizeof g_usm.auth[0]) == 0 ||
         strncmp(g_usm.priv[0], kFactoryManagerPriv, sizeof g_usm.priv[0]) == 0;
}

static LoginLock* sess_find_lock(int account, const uint8_t* client) {
  for (LoginLock& l : LoginLockTable)
    if (l.in_use && l.account == account && memcmp(l.client, client, 16) == 0) return &l;
  return nullptr;
}

bool sess_login_locked(int account, const uint8_t* client) {
  if (!g_settings.login_lock_enable) return false;
  const LoginLock* l = sess_find_lock(account, client);
  return (l ? l->fails : 0) >= g_settings.login_retry;
}

bool sess_login_failed(int account, const uint8_t* client) {
  if (!g_settings.login_lock_enable) return false;
  LoginLock* l = sess_find_lock(account, client);
  if (!l) {
    // A free slot, else the one whose last failure is oldest, unlocked ones first.
    l = &LoginLockTable[0];
    for (LoginLock& c : LoginLockTable) {
      if (!c.in_use) {
        l = &c;
        break;
      }
      bool locked = c.fails >= g_settings.login_retry, chosen_locked = l->fails >= g_settings.login_retry;
      if (locked != chosen_locked ? !locked : c.last < l->last) l = &c;
    }
    *l = LoginLock{1, uint8_t(account), {}, 0, 0, 0};
    memcpy(l->client, client, 16);
  }
  l->last = http_clock_seconds();
  ++l->fails;
  if (l->fails == g_settings.login_retry) {
    l->lock_seconds = uint32_t(g_settings.login_lock_minutes) * 60;
    return true;
  }
  if (l->fails > g_settings.login_retry) l->fails = uint16_t(g_settings.login_retry + 1);
  return false;
}

void sess_login_succeeded(int account, const uint8_t* client) {
  if (LoginLock* l = sess_find_lock(account, client)) *l = LoginLock{};
}

void sess_lock_tick(uint32_t seconds) {
  for (LoginLock& l : LoginLockTable) {
    if (!l.in_use || l.lock_seconds == 0) continue;
    if (l.lock_seconds > seconds) l.lock_seconds -= seconds;
    else l = LoginLock{};
  }
}

void sess_init() {
  memset(WebSessionTable, 0, sizeof WebSessionTable);
  memset(LoginChallengeTable, 0, sizeof LoginChallengeTable);
  memset(LoginLockTable, 0, sizeof LoginLockTable);
  g_current_session = -1;
  SessionApi = SessionApiTable{sess_create,    sess_challenge_get, sess_challenge_new,
                               sess_verify_login, sess_var_get,   sess_var_set,
                               sess_token_new, sess_token_check,   sess_from_cookie};
}
