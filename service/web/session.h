// Login sessions, challenges, anti-forgery tokens and the login lock. Reached through SessionApi;
// only the web server and the housekeeping timer of the window thread use it.
#pragma once
#include <cstdint>

#include "service/web/request_state.h"

constexpr int SESSION_SLOTS = 16;
constexpr int SESSION_VARS = 11;
constexpr uint32_t SESSION_TIMEOUT_S = 1800;
constexpr uint32_t CHALLENGE_TIMEOUT_S = 60;
constexpr int SESSION_ID_CHARS = 24;
constexpr int CHALLENGE_CHARS = 8;

struct WebSession {
  uint8_t in_use;
  uint32_t expires;
  char id[SESSION_ID_CHARS + 1];
  uint8_t level;
  uint32_t var[SESSION_VARS];
  char token[SESSION_ID_CHARS + 1];  // the session's anti-forgery token, made with the session
};

struct LoginChallenge {
  uint8_t in_use;
  uint32_t expires;
  char text[CHALLENGE_CHARS + 1];
  uint8_t client[16];
};

// Failed logins of one account from one client address; the lock applies to that address only.
constexpr int LOGIN_LOCK_SLOTS = 256;
struct LoginLock {
  uint8_t in_use;
  uint8_t account;        // 0-2
  uint8_t client[16];     // the client key, as for the challenges
  uint16_t fails;         // failed logins, at most "Login Retry=" + 1
  uint32_t lock_seconds;  // left of the lock; 0 when none runs
  uint32_t last;          // when the last failure came (seconds of the web clock)
};

extern WebSession WebSessionTable[SESSION_SLOTS];
extern LoginChallenge LoginChallengeTable[SESSION_SLOTS];
extern LoginLock LoginLockTable[LOGIN_LOCK_SLOTS];

struct SessionApiTable {
  const char* (*sess_create)(uint8_t level);                        // 0
  const char* (*sess_challenge_get)(const uint8_t* client);         // 1: none = null
  const char* (*sess_challenge_new)(const uint8_t* client);         // 2
  int (*sess_verify_login)(const char* response, const char* user, const char* password,
                           const uint8_t* client);                  // 3
  uint32_t (*sess_var_get)(int i);                                   // 4
  void (*sess_var_set)(int i, uint32_t value);                       // 5
  // 6: the current session's token (the same for every page of the session); none = null
  const char* (*sess_token_new)(const uint8_t* client);
  // 7: 1 when token is the current session's
  int (*sess_token_check)(const uint8_t* client, const char* token);
  int (*sess_from_cookie)(const char* header, int logout);          // 8: level 0-2 or -1
};
extern SessionApiTable SessionApi;

void sess_init();
// Counts down the login locks by the given seconds (every 5 s); a lock that runs out clears its
// failures.
void sess_lock_tick(uint32_t seconds);
// With the lock enabled: true when the account is locked for this client address ("Login Retry="
// failures or more from it).
bool sess_login_locked(int account, const uint8_t* client);
// With the lock enabled, counts a failed login of the account from the client address; true when
// this failure locks it (its lock time then runs).
bool sess_login_failed(int account, const uint8_t* client);
// A login that succeeded clears the failures of the account from that address.
void sess_login_succeeded(int account, const uint8_t* client);
// Bit i set when account i keeps the factory password.
uint32_t sess_default_password_mask();
// True while the SNMPv3 manager user (row 1) keeps a pass phrase that every installation had.
bool sess_manager_keys_factory();
// Level of the current session (0-2), -1 when the request has none.
int sess_current_level();
// Gives the client's challenge a fresh text, keeping its slot.
void sess_challenge_renew(const uint8_t* client);
