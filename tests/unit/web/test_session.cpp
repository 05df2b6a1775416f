// Login sessions: expiry, cookies with two values, logout, challenges renewed by every attempt,
// tokens, and the login lock.
#include <string>
#include <vector>

#include "tests/unit/web/web_fixture.h"

namespace {

using Sessions = WebTest;

TEST_F(Sessions, SlidingExpiry) {
  std::string cookie = login("admin", "quillbox");
  ASSERT_EQ(cookie.size(), 8u + SESSION_ID_CHARS);
  for (int i = 0; i < 4; ++i) {
    g_test_seconds += 29 * 60;
    EXPECT_EQ(SessionApi.sess_from_cookie(cookie.c_str(), 0), 0) << i;
  }
  g_test_seconds += 1801;
  EXPECT_EQ(SessionApi.sess_from_cookie(cookie.c_str(), 0), -1);
  EXPECT_EQ(g_current_session, -1);
}

TEST_F(Sessions, TwoCookieValuesAndLogout) {
  std::string user = login("user", "quillbox");
  std::string admin = login("admin", "quillbox");
  std::string both = "Vellmar=AAAAAAAAAAAAAAAAAAAAAAAA; " + user;
  EXPECT_EQ(SessionApi.sess_from_cookie(both.c_str(), 0), 2);
  std::string pair = admin + "; " + user;
  EXPECT_EQ(SessionApi.sess_from_cookie(pair.c_str(), 1), -1);
  EXPECT_EQ(SessionApi.sess_from_cookie(admin.c_str(), 0), -1);  // the first value was dropped
  EXPECT_EQ(SessionApi.sess_from_cookie(user.c_str(), 0), 2);
  EXPECT_EQ(SessionApi.sess_from_cookie(nullptr, 0), -1);
}

TEST_F(Sessions, IdsAndChallengesAreRandomAndAttemptsRenewTheChallenge) {
  const char* a = SessionApi.sess_create(0);
  std::string first = a;
  std::string second = SessionApi.sess_create(0);
  EXPECT_NE(first, second);  // same second, still different
  const uint8_t client[16] = {10, 0, 0, 9};
  std::string c1 = SessionApi.sess_challenge_new(client);
  g_test_seconds += CHALLENGE_TIMEOUT_S;
  std::string c2 = SessionApi.sess_challenge_new(client);  // renewed while live: same text, new end
  EXPECT_EQ(c1.size(), 8u);
  EXPECT_EQ(c1, c2);
  g_test_seconds += CHALLENGE_TIMEOUT_S;
  EXPECT_STREQ(SessionApi.sess_challenge_get(client), c2.c_str());
  g_test_seconds += 1;
  EXPECT_EQ(SessionApi.sess_challenge_get(client), nullptr);
  EXPECT_NE(std::string(SessionApi.sess_challenge_new(client)), c1);
  // A login post, right or wrong, leaves a fresh challenge text.
  std::string challenge = between(get("/login.asp"), "id=\"challenge\" value=\"", "\"");
  std::string response = md5hex("adminquillbox" + challenge);
  EXPECT_NE(post("/orvik/login", "Username=admin&Response=" + response).find("Set-Cookie: Vellmar="), std::string::npos);
  const uint8_t local[16] = {127, 0, 0, 1};
  ASSERT_NE(SessionApi.sess_challenge_get(local), nullptr);
  EXPECT_NE(std::string(SessionApi.sess_challenge_get(local)), challenge);
  EXPECT_EQ(post("/orvik/login", "Username=admin&Response=" + response).find("Set-Cookie"), std::string::npos);
}

TEST_F(Sessions, TokensNeverMatchEmptyOrUnissued) {
  const uint8_t client[16] = {10, 0, 0, 7};
  EXPECT_EQ(SessionApi.sess_token_new(client), nullptr);  // no session
  EXPECT_EQ(SessionApi.sess_token_check(client, ""), 0);
  std::string other_id = SessionApi.sess_create(2);
  std::string other = SessionApi.sess_token_new(client);
  std::string id = SessionApi.sess_create(0);
  EXPECT_EQ(SessionApi.sess_token_check(client, ""), 0);
  EXPECT_EQ(SessionApi.sess_token_check(client, nullptr), 0);
  EXPECT_EQ(SessionApi.sess_token_check(client, "AAAAAAAAAAAAAAAAAAAAAAAA"), 0);
  std::string token = SessionApi.sess_token_new(client);
  ASSERT_EQ(token.size(), size_t(SESSION_ID_CHARS));
  EXPECT_NE(token, other);
  EXPECT_EQ(SessionApi.sess_token_check(client, token.c_str()), 1);
  EXPECT_EQ(SessionApi.sess_token_check(client, token.substr(0, 23).c_str()), 0);
  EXPECT_EQ(SessionApi.sess_token_check(client, other.c_str()), 0);  // another session's token
  // One token per session: a second page (or tab) shows the same one.
  EXPECT_EQ(std::string(SessionApi.sess_token_new(client)), token);
  // Logged out: the token goes with the session.
  std::string cookie = "Vellmar=" + id;
  SessionApi.sess_from_cookie(cookie.c_str(), 1);
  EXPECT_EQ(SessionApi.sess_token_check(client, token.c_str()), 0);
  (void)other_id;
}

TEST_F(Sessions, NoOtherClientVoidsTheToken) {
  std::string cookie = login("admin", "quillbox");
  std::string first = token(cookie);
  ASSERT_EQ(first.size(), size_t(SESSION_ID_CHARS));
  // The administrator's challenge expires; visitors from other addresses open the login page
  // and take every challenge slot, the administrator's among them.
  g_test_seconds += CHALLENGE_TIMEOUT_S + 5;
  for (uint8_t i = 1; i <= SESSION_SLOTS; ++i) {
    const uint8_t visitor[4] = {192, 0, 2, i};
    request("GET /login.asp HTTP/1.1\r\nHost: unit\r\n\r\n", visitor);
  }
  // A second tab of the same session: the same token, and the first tab's post still goes through.
  EXPECT_EQ(token(cookie, "/en/sys_user.asp"), first);
  std::string answer = post("/orvik/sys_info", "SYS_UCTOKEN=" + first + "&INF_NAME=Rack9", cookie);
  EXPECT_NE(answer.find("Location: http://unit/message.asp"), std::string::npos) << answer;
  EXPECT_STREQ(g_message_title, "Information");
  // The token alone, or another session's cookie with it, authorises nothing.
  std::string other = login("device", "quillbox");
  for (const std::string& c : {std::string(), other}) {
    g_message_title[0] = 0;
    post("/orvik/sys_info", "SYS_UCTOKEN=" + first + "&INF_NAME=Evil", c);
    EXPECT_STRNE(g_message_title, "Information") << c;
  }
  char16_t name[33];
  text_utf8_to_utf16(name, 33, "Rack9");
  EXPECT_EQ(std::u16string(g_settings.system_name), std::u16string(name));
}

TEST_F(Sessions, ANewLoginTakesTheSessionIdleLongest) {
  auto cookie = [](const std::string& id) { return "Vellmar=" + id; };
  std::string admin = cookie(SessionApi.sess_create(0));
  std::vector<std::string> others;
  for (int i = 1; i < SESSION_SLOTS; ++i) {
    g_test_seconds += 2;
    others.push_back(cookie(SessionApi.sess_create(2)));
  }
  // All slots in use: each further login takes the one idle longest, never the administrator
  // who keeps working.
  for (int round = 0; round < 3 * SESSION_SLOTS; ++round) {
    g_test_seconds += 2;
    ASSERT_EQ(SessionApi.sess_from_cookie(admin.c_str(), 0), 0) << round;
    g_test_seconds += 2;
    std::string oldest = others.front();
    others.erase(others.begin());
    others.push_back(cookie(SessionApi.sess_create(2)));
    EXPECT_EQ(SessionApi.sess_from_cookie(oldest.c_str(), 0), -1) << round;
    // Each check is a use: in this order, one second apart, the front stays the one idle longest.
    for (const std::string& c : others) {
      g_test_seconds += 1;
      EXPECT_EQ(SessionApi.sess_from_cookie(c.c_str(), 0), 2) << round;
    }
  }
  EXPECT_EQ(SessionApi.sess_from_cookie(admin.c_str(), 0), 0);
  // A free slot (a logout) and then an expired one are taken before the one idle longest.
  SessionApi.sess_from_cookie(others[5].c_str(), 1);
  for (WebSession& w : WebSessionTable)
    if (w.in_use && ("Vellmar=" + std::string(w.id)) == others[9]) w.expires = g_test_seconds - 1;
  SessionApi.sess_create(1);
  SessionApi.sess_create(1);
  for (size_t i = 0; i < others.size(); ++i) {
    if (i == 5 || i == 9) continue;
    EXPECT_EQ(SessionApi.sess_from_cookie(others[i].c_str(), 0), 2) << i;
  }
  EXPECT_EQ(SessionApi.sess_from_cookie(others[9].c_str(), 0), -1);
  EXPECT_EQ(SessionApi.sess_from_cookie(admin.c_str(), 0), 0);
}

TEST_F(Sessions, LoginLock) {
  g_settings.login_lock_enable = 1;
  g_settings.login_retry = 3;
  g_settings.login_lock_minutes = 1;
  EXPECT_TRUE(login("device", "wrong-one").empty());
  EXPECT_TRUE(login("device", "wrong-two").empty());
  EXPECT_STREQ(g_message_title, "Login Error");
  EXPECT_TRUE(login("device", "wrong-three").empty());
  EXPECT_STREQ(g_message_title, "Login Lock");
  const LoginLock* lock = nullptr;
  for (const LoginLock& l : LoginLockTable)
    if (l.in_use && l.account == 1 && memcmp(l.client, kClient, 4) == 0) lock = &l;
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(lock->lock_seconds, 60u);
  EXPECT_TRUE(login("device", "quillbox").empty());
  EXPECT_STREQ(g_message_title, "Login Lock");
  EXPECT_FALSE(login("admin", "quillbox").empty());  // other accounts stay open
  for (int i = 0; i < 12; ++i) sess_lock_tick(5);
  EXPECT_FALSE(login("device", "quillbox").empty());
  // With no lock time a locked account stays locked.
  g_settings.login_lock_minutes = 0;
  for (int i = 0; i < 3; ++i) login("user", "nope");
  for (int i = 0; i < 100; ++i) sess_lock_tick(5);
  EXPECT_TRUE(login("user", "quillbox").empty());
}

// An outsider's wrong responses lock the account for the outsider's address only: the
// administrator logs in from another address, and the outsider is refused even the right password.
TEST_F(Sessions, TheLockAppliesToTheAddressOfTheFailures) {
  g_settings.login_lock_enable = 1;
  g_settings.login_retry = 5;
  g_settings.login_lock_minutes = 10;
  const uint8_t outsider[4] = {127, 0, 0, 9};
  auto login_from = [this](const uint8_t* ip, const std::string& user, const std::string& password) {
    std::string page = request("GET /login.asp HTTP/1.1\r\nHost: unit\r\n\r\n", ip);
    std::string challenge = between(page, "id=\"challenge\" value=\"", "\"");
    std::string body = "Username=" + user + "&Response=" + md5hex(user + password + challenge);
    std::string answer = request("POST /orvik/login HTTP/1.1\r\nHost: unit\r\nContent-Length: " +
                                     std::to_string(body.size()) + "\r\n\r\n" + body, ip);
    return between(answer, "Set-Cookie: ", ";");
  };
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(login_from(outsider, "admin", "guess" + std::to_string(i)).empty());
  EXPECT_STREQ(g_message_title, "Login Lock");
  EXPECT_TRUE(login_from(outsider, "admin", "quillbox").empty()) << "the outsider's address is locked";
  EXPECT_STREQ(g_message_title, "Login Lock");
  EXPECT_FALSE(login_from(kClient, "admin", "quillbox").empty()) << "another address is not";
  // The administrator's own failures count apart, and a login clears them.
  for (int i = 0; i < 4; ++i) login_from(kClient, "admin", "typo");
  EXPECT_FALSE(login_from(kClient, "admin", "quillbox").empty());
  for (int i = 0; i < 4; ++i) login_from(kClient, "admin", "typo");
  EXPECT_FALSE(login_from(kClient, "admin", "quillbox").empty());
  // The outsider's lock runs out after its 10 minutes.
  for (int i = 0; i < 119; ++i) sess_lock_tick(5);
  EXPECT_TRUE(login_from(outsider, "admin", "quillbox").empty());
  sess_lock_tick(5);
  EXPECT_FALSE(login_from(outsider, "admin", "quillbox").empty());
}

// The login challenges: a client that asks again keeps its own; when every slot is live, many
// addresses of one network take each other's, never that of a client elsewhere.
TEST_F(Sessions, ManyAddressesOfOneNetworkDoNotTakeAnotherClientsChallenge) {
  const uint8_t admin[16] = {198, 51, 100, 7};
  std::string mine = SessionApi.sess_challenge_new(admin);
  for (int round = 0; round < 3; ++round) {
    for (uint8_t i = 1; i <= 40; ++i) {
      const uint8_t v4[16] = {192, 0, 2, i};
      uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1};
      v6[15] = i;
      ASSERT_NE(SessionApi.sess_challenge_new(v4), nullptr);
      ASSERT_NE(SessionApi.sess_challenge_new(v6), nullptr);
      g_test_seconds += i % 8 == 0;
    }
  }
  ASSERT_NE(SessionApi.sess_challenge_get(admin), nullptr) << "the administrator's challenge was taken";
  EXPECT_EQ(std::string(SessionApi.sess_challenge_get(admin)), mine);
  EXPECT_EQ(std::string(SessionApi.sess_challenge_new(admin)), mine) << "asking again keeps it";
  int held = 0;
  for (const LoginChallenge& ch : LoginChallengeTable) held += ch.in_use && memcmp(ch.client, admin, 16) == 0;
  EXPECT_EQ(held, 1);
  // Sixteen clients of sixteen networks: a seventeenth takes the slot renewed longest ago.
  for (uint8_t i = 0; i < SESSION_SLOTS; ++i) {
    const uint8_t other[16] = {10, i, 0, 1};
    g_test_seconds += 1;
    SessionApi.sess_challenge_new(other);
  }
  const uint8_t first[16] = {10, 0, 0, 1}, late[16] = {172, 16, 0, 1};
  SessionApi.sess_challenge_new(late);
  EXPECT_EQ(SessionApi.sess_challenge_get(first), nullptr);
  EXPECT_NE(SessionApi.sess_challenge_get(late), nullptr);
}

TEST_F(Sessions, DefaultPasswordMask) {
  EXPECT_EQ(sess_default_password_mask(), 7u);
  text_utf8_to_utf16(g_settings.account_password[1], 33, "changed-pw");
  EXPECT_EQ(sess_default_password_mask(), 5u);
}

}  // namespace
