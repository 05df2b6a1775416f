// The system pages' forms: tokens, access levels, input checks, the account form's all-or-nothing
// rule, the language range, and the form field helpers.
#include <string>

#include "common/settings_file.h"
#include "service/web/system_pages.h"
#include "tests/unit/web/web_fixture.h"

namespace {

class SystemPages : public WebTest {
 protected:
  // Posts the form of a page (its path under /en/, as shown) with a fresh token; the answer.
  std::string post_form(const std::string& cookie, const std::string& page, const std::string& form) {
    std::string tok = token(cookie, page);
    std::string name = page.substr(4, page.size() - 8);
    return post("/orvik/" + name, "SYS_UCTOKEN=" + tok + "&" + form, cookie);
  }
};

std::string utf8(const char16_t* s) {
  char out[200];
  text_utf16_to_utf8(out, sizeof out, s);
  return out;
}

TEST_F(SystemPages, SysInfoNeedsTokenAndLevel) {
  std::string admin = login("admin", "quillbox");
  std::string tok = token(admin);
  ASSERT_EQ(tok.size(), 24u);
  post("/orvik/sys_info", "INF_NAME=NoToken", admin);
  post("/orvik/sys_info", "SYS_UCTOKEN=&INF_NAME=Empty", admin);
  EXPECT_NE(utf8(g_settings.system_name), "NoToken");
  EXPECT_NE(utf8(g_settings.system_name), "Empty");
  post("/orvik/sys_info", "SYS_UCTOKEN=" + tok + "&INF_NAME=%3Cscript%3E", admin);
  EXPECT_STREQ(g_message_body, "<font color=#F00000>Incorrect input!</font>");
  post("/orvik/sys_info", "SYS_UCTOKEN=" + tok + "&INF_NAME=Rack+7&INF_CONTACTOR=Ops", admin);
  EXPECT_EQ(utf8(g_settings.system_name), "Rack 7");
  EXPECT_EQ(utf8(g_settings.contactor), "Ops");
  EXPECT_NE(read_file(dir.file("agent.ini")).find("Name=Rack 7"), std::string::npos);
  tok = token(admin);
  post("/orvik/sys_info", "SYS_UCTOKEN=" + tok + "&INF_NAME=" + std::string(40, 'n'), admin);
  EXPECT_EQ(utf8(g_settings.system_name), std::string(31, 'n'));
  // The user account may look but not post.
  std::string user = login("user", "quillbox");
  tok = token(user);
  post("/orvik/sys_info", "SYS_UCTOKEN=" + tok + "&INF_NAME=ByUser", user);
  EXPECT_EQ(utf8(g_settings.system_name), std::string(31, 'n'));
  EXPECT_EQ(http_post_required_level("hist_log"), 2);
  EXPECT_EQ(http_post_required_level("dev_config"), 1);
  EXPECT_EQ(http_post_required_level("sys_batch"), 0);
  EXPECT_EQ(http_post_required_level("login"), 3);
}

// Which account may post which page: accounts, web settings and the settings file are the
// administrator's; the debug page's buttons (they change nothing) and the language every account's.
TEST_F(SystemPages, AccessLevelsOfThePosts) {
  const char kRefused[] = "<font color=#F00000>This account may not change this page.</font>";
  std::string cookies[3] = {login("admin", "quillbox"), login("device", "quillbox"), login("user", "quillbox")};
  struct Row {
    const char* page;  // posted to /orvik/<page>, its form rendered from /en/<page>.asp for the token
    const char* form;
    bool allowed[3];   // administrator, device manager, user
  } rows[] = {
      {"sys_user", "USR_ACCOUNT1=admin", {true, false, false}},
      {"sys_web", "WEB_REFRESH=10", {true, false, false}},
      {"sys_batch", "DL_SYSTEM=Download", {true, false, false}},
      {"sys_info", "INF_NAME=Rack", {true, true, false}},
      {"dev_config", "SUB_SHUTDOWN=1", {true, true, false}},
      {"language", "LANG=0", {true, true, true}},
      {"debug", "DBG_REFRESH=Refresh", {true, true, true}},
      {"debug", "DBG_HOME=Home", {true, true, true}},
      {"hist_log", "LOG_BUTTON=%3C%3C", {true, true, true}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(http_post_required_level(r.page), r.allowed[2] ? 2 : r.allowed[1] ? 1 : 0) << r.page;
    for (int level = 0; level < 3; ++level) {
      std::string tok = token(cookies[level], "/en/sys_info.asp");
      g_message_body[0] = 0;
      post(std::string("/orvik/") + r.page, "SYS_UCTOKEN=" + tok + "&" + r.form, cookies[level]);
      EXPECT_EQ(std::string(g_message_body) != kRefused, r.allowed[level])
          << r.page << " " << r.form << " at level " << level;
    }
  }
}

// The administrator's pages warn while the SNMPv3 manager keeps a pass phrase every installation
// had, and stop once both are changed; the other accounts are not told.
TEST_F(SystemPages, FactoryManagerPassPhrasesAreWarnedOf) {
  g_usm.count = 1;
  snprintf(g_usm.user[0], 17, "manager");
  snprintf(g_usm.auth[0], 17, "mq472816");
  snprintf(g_usm.priv[0], 17, "hv305749");
  std::string admin = login("admin", "quillbox"), device = login("device", "quillbox");
  std::string user = login("user", "quillbox");
  const std::string kShown = "Number(\"1\") !== 0) document.getElementById(\"factory-usm\")";
  const std::string kHidden = "Number(\"0\") !== 0) document.getElementById(\"factory-usm\")";
  for (const char* page : {"/home.asp", "/en/device/dev_snmpv3.asp"}) {
    EXPECT_NE(get(page, admin).find(kShown), std::string::npos) << page;
    EXPECT_NE(get(page, admin).find(kShown), std::string::npos) << page << ", every time";
    EXPECT_NE(get(page, device).find(kHidden), std::string::npos) << page;
    EXPECT_NE(get(page, user).find(kHidden), std::string::npos) << page;
  }
  snprintf(g_usm.auth[0], 17, "changed-auth");
  EXPECT_NE(get("/home.asp", admin).find(kShown), std::string::npos) << "the factory privacy pass phrase is left";
  snprintf(g_usm.priv[0], 17, "changed-priv");
  EXPECT_NE(get("/home.asp", admin).find(kHidden), std::string::npos);
}

// The message page shows a reply only to whom it was made for: a session's reply to that
// session, a reply without a session to that client address, each the newest of its own.
TEST_F(SystemPages, TheMessagePageShowsEachItsOwnReply) {
  const uint8_t outsider[4] = {127, 0, 0, 9};
  auto title = [this](const uint8_t* ip, const std::string& cookie) {
    std::string raw = "GET /message.asp HTTP/1.1\r\nHost: unit\r\n";
    if (!cookie.empty()) raw += "Cookie: " + cookie + "\r\n";
    return between(request(raw + "\r\n", ip), "<h1 id=\"title\">", "</h1>");
  };
  std::string admin = login("admin", "quillbox"), device = login("device", "quillbox");
  post("/orvik/sys_info", "SYS_UCTOKEN=" + token(admin) + "&INF_NAME=Rack", admin);
  std::string body = "Username=admin&Response=00";
  request("GET /login.asp HTTP/1.1\r\nHost: unit\r\n\r\n", outsider);
  request("POST /orvik/login HTTP/1.1\r\nHost: unit\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
              body,
          outsider);
  EXPECT_EQ(title(outsider, ""), "Login Error") << "the outsider's own reply";
  EXPECT_EQ(title(kClient, admin), "Information") << "the administrator's reply, not the outsider's";
  EXPECT_EQ(title(kClient, ""), "") << "a session's reply is not shown without it";
  EXPECT_EQ(title(kClient, device), "") << "nor to another session of the same address";
  EXPECT_EQ(title(outsider, admin), "Login Error") << "a cookie from elsewhere shows its address's newer reply";
  // A reply without a session (a failed login) comes after the session's: the newer one shows.
  login("admin", "wrong-password");
  EXPECT_EQ(title(kClient, admin), "Login Error");
  post("/orvik/sys_info", "SYS_UCTOKEN=" + token(admin) + "&INF_NAME=%3Cb%3E", admin);
  EXPECT_EQ(title(kClient, admin), "Error");
  EXPECT_EQ(title(kClient, ""), "Login Error");
}

TEST_F(SystemPages, SysUserChangesNothingOnAnError) {
  std::string admin = login("admin", "quillbox");
  std::string tok = token(admin, "/en/sys_user.asp");
  post("/orvik/sys_user", "SYS_UCTOKEN=" + tok + "&USR_ACCOUNT1=root&USR_PASSWD2=short&USR_RETRY=9&USR_LOCK=1", admin);
  EXPECT_STREQ(g_message_body, "<font color=#F00000>Incorrect password length!</font>");
  EXPECT_EQ(utf8(g_settings.account_user[0]), "admin");
  EXPECT_EQ(g_settings.login_retry, 5);
  tok = token(admin, "/en/sys_user.asp");
  post("/orvik/sys_user", "SYS_UCTOKEN=" + tok + "&USR_ACCOUNT1=root&USR_PASSWD2=longenough&USR_RETRY=9", admin);
  EXPECT_EQ(utf8(g_settings.account_user[0]), "root");
  EXPECT_EQ(utf8(g_settings.account_password[1]), "longenough");
  EXPECT_EQ(utf8(g_settings.account_password[0]), "quillbox");  // empty field: unchanged
  EXPECT_EQ(g_settings.login_lock_enable, 0);  // an unticked box clears the lock
  EXPECT_EQ(g_settings.login_retry, 9);
}

// A line break stored in a value would start a line of its own in agent.ini.
TEST_F(SystemPages, LineBreaksAreRefusedEverywhere) {
  std::string admin = login("admin", "quillbox");
  struct Case {
    const char* page;
    const char* form;
  } cases[] = {
      {"/en/sys_info.asp", "INF_NAME=Rack%0D%0A%5BShutdown%5D%0D%0AType%3D0"},
      {"/en/sys_info.asp", "INF_LOCATION=Hall%0A1"},
      {"/en/sys_user.asp", "USR_ACCOUNT1=ro%0Dot"},
      {"/en/sys_user.asp", "USR_PASSWD1=longenough%0A"},
  };
  for (const Case& c : cases) {
    post_form(admin, c.page, c.form);
    EXPECT_STREQ(g_message_body, "<font color=#F00000>Incorrect input!</font>") << c.form;
  }
  EXPECT_EQ(utf8(g_settings.account_user[0]), "admin");
  EXPECT_EQ(utf8(g_settings.account_password[0]), "quillbox");
  EXPECT_EQ(utf8(g_settings.system_name).find("Rack"), std::string::npos);
  EXPECT_EQ(utf8(g_settings.location).find("Hall"), std::string::npos);
}

TEST_F(SystemPages, LanguageOnlyZeroToThree) {
  std::string admin = login("admin", "quillbox");
  for (const char* v : {"9", "-1", "x", "4"}) {
    post("/orvik/language", "SYS_UCTOKEN=" + token(admin, "/en/language.asp") + "&LANG=" + v, admin);
    EXPECT_EQ(g_settings.language, 0) << v;
  }
  std::string answer = post("/orvik/language", "SYS_UCTOKEN=" + token(admin, "/en/language.asp") + "&LANG=3", admin);
  EXPECT_EQ(g_settings.language, 3);
  EXPECT_NE(answer.find("Location: http://unit/en/device/index.asp"), std::string::npos);
}

// Numbers of the system pages: a value that is no decimal number or lies outside its range
// refuses the post, and nothing changes.
TEST_F(SystemPages, NumbersOutsideTheirRangeAreRefused) {
  std::string admin = login("admin", "quillbox");
  std::string before = read_file(dir.file("agent.ini"));
  AgentSettings settings = g_settings;
  struct Case {
    const char* page;
    const char* form;
  } cases[] = {
      {"/en/sys_web.asp", "WEB_HTTP_PORT=0&WEB_REFRESH=10"},
      {"/en/sys_web.asp", "WEB_HTTP_PORT=70000&WEB_REFRESH=10"},
      {"/en/sys_web.asp", "WEB_HTTPS_PORT=44x&WEB_REFRESH=10"},
      {"/en/sys_web.asp", "WEB_HTTP_PORT=8080&WEB_REFRESH=65536"},
      {"/en/sys_web.asp", "HTTP_WEB=2&WEB_REFRESH=10"},
      {"/en/sys_web.asp", "WEB_FORCEHTTPS=yes&WEB_REFRESH=10"},
      {"/en/sys_user.asp", "USR_ACCOUNT1=admin&USR_RETRY=abc"},
      {"/en/sys_user.asp", "USR_ACCOUNT1=admin&USR_LOCK=1&USR_LTIME=99999999999999999999"},
      {"/en/language.asp", "LANG=99999999999999999999"},
  };
  for (const Case& c : cases) {
    post_form(admin, c.page, c.form);
    EXPECT_STREQ(g_message_body, "<font color=#F00000>Incorrect input!</font>") << c.form;
    EXPECT_EQ(memcmp(&settings, &g_settings, sizeof settings), 0) << c.form;
  }
  EXPECT_EQ(read_file(dir.file("agent.ini")), before);
  post_form(admin, "/en/sys_web.asp", "WEB_HTTPS_PORT=65535&WEB_REFRESH=1");
  EXPECT_EQ(g_settings.https_port, 65535);
  EXPECT_EQ(g_settings.web_refresh, 1);
}

// A change whose save fails is answered with an error and is not in use.
TEST_F(SystemPages, FailedSaveChangesNothing) {
  std::string admin = login("admin", "quillbox");
  AgentSettings settings = g_settings;
  cfg_set_read_only(true);
  struct Case {
    const char* page;
    const char* form;
  } cases[] = {
      {"/en/sys_info.asp", "INF_NAME=Rack+9"},
      {"/en/sys_user.asp", "USR_ACCOUNT1=root&USR_RETRY=3"},
      {"/en/sys_web.asp", "WEB_REFRESH=20"},
      {"/en/language.asp", "LANG=2"},
  };
  for (const Case& c : cases) {
    std::string answer = post_form(admin, c.page, c.form);
    EXPECT_NE(answer.find("Location: http://unit/message.asp"), std::string::npos) << c.form;
    EXPECT_STREQ(g_message_title, "Error") << c.form;
    EXPECT_STREQ(g_message_body, "<font color=#F00000>The settings file could not be written: nothing was changed.</font>")
        << c.form;
    EXPECT_EQ(memcmp(&settings, &g_settings, sizeof settings), 0) << c.form;
  }
  cfg_set_read_only(false);
}

TEST_F(SystemPages, EmptyLoginPostNeverReusesTheLastReply) {
  std::string admin = login("admin", "quillbox");
  ASSERT_FALSE(admin.empty());
  std::string answer = post("/orvik/login", "");
  EXPECT_EQ(answer.find("Set-Cookie"), std::string::npos);
  answer = post("/orvik/login", "Username=admin");
  EXPECT_EQ(answer.find("Set-Cookie"), std::string::npos);
}

TEST_F(SystemPages, FieldHelpers) {
  char body[] = "SYS_UCTOKEN_X=1&INF_NAME=a%27b&other=<";
  http_parse_form_data(body, nullptr);
  EXPECT_EQ(http_find_field("SYS_UCTOKEN"), 0);
  EXPECT_EQ(http_find_field("missing"), -1);
  g_reply[0] = 0;
  EXPECT_EQ(http_form_check_inputs(1, "INF_NAME"), 1);
  EXPECT_STREQ(g_reply, "Message: Title=Error\nBody=<font color=#F00000>Incorrect input!</font>\n");
  EXPECT_EQ(http_form_check_inputs(1, "SYS_UCTOKEN"), 0);
  EXPECT_EQ(http_form_check_inputs(16, "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p"), 1);
}

TEST_F(SystemPages, DecryptPasswordUndoesTheLinkCoding) {
  char16_t token16[100];
  cfg_encrypt_password(u"secret-password-of-32-characters", token16, 100);
  char coded[100], plain[100];
  text_utf16_to_utf8(coded, sizeof coded, token16);
  cfg_decrypt_password(coded, plain, sizeof plain);
  EXPECT_STREQ(plain, "secret-password-of-32-characters");
  std::string page = get(std::string("/login.asp?encrypt=1&account=admin&password=") + coded);
  EXPECT_NE(page.find("value=\"secret-password-of-32-characters\""), std::string::npos);
  page = get("/login.asp?encrypt=0&account=admin&password=plain%22");
  EXPECT_NE(page.find("value=\"plain%22\""), std::string::npos);
}

}  // namespace
