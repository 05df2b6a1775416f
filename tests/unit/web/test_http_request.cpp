// Routing: method and version answers, cleaned paths, the session gate, templates, escaping and
// the reply-line protocol.
#include <string>

#include "service/web/asp_template.h"
#include "tests/unit/web/web_fixture.h"

namespace {

using Router = WebTest;

bool is_login_page(const std::string& answer) {
  return answer.rfind("HTTP/1.1 200 OK", 0) == 0 && answer.find("id=\"challenge\"") != std::string::npos;
}

TEST_F(Router, ErrorAnswers) {
  EXPECT_EQ(request("DELETE / HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 48\r\nConnection: close\r\n\r\n"
            "Error 400: Bad Request\nCan not parse request: []");
  for (const char* raw : {"GET / HTTP/2.0\r\n\r\n", "GET / HTTP/0.9\r\n\r\n", "GET / FTP\r\n\r\n"})
    EXPECT_EQ(request(raw).rfind("HTTP/1.1 505 HTTP version not supported\r\n", 0), 0u) << raw;
  EXPECT_EQ(request("PUT /x HTTP/1.1\r\n\r\n"), "");
}

TEST_F(Router, PathsAreCleaned) {
  char cases[][40] = {"/a//b\\\\c", "/../../agent.ini", "/x/..../y", "/./a", "/a/..", "/a/./b/.", "/.hidden/.x", "\\.\\tmp\\"};
  const char* expected[] = {"/a/b/c", "/agent.ini", "/x/y", "/a", "/a/", "/a/b/", "/.hidden/.x", "/tmp/"};
  for (int i = 0; i < 8; ++i) {
    http_path_normalize(cases[i]);
    EXPECT_STREQ(cases[i], expected[i]);
  }
  write_file(dir.file("agent.ini"), "secret");
  EXPECT_EQ(get("/%2e%2e/%2e%2e/agent.ini").find("secret"), std::string::npos);
}

TEST_F(Router, SessionGate) {
  // Free: style sheets, images, the message page.
  EXPECT_NE(get("/template.css").find("Content-Type: text/css"), std::string::npos);
  EXPECT_FALSE(is_login_page(get("/message.asp")));
  // Gated, in any letter case, and everything under /tmp/.
  write_file(dir.file("httpd/htdocs/tmp/iframe_log.htm"), "log lines");
  for (const char* p : {"/en/sys_user.asp", "/en/sys_user.ASP", "/tmp/iframe_log.htm", "/x.CSV", "/a.Txt", "/"})
    EXPECT_TRUE(is_login_page(get(p))) << p;
  std::string cookie = login("admin", "quillbox");
  ASSERT_FALSE(cookie.empty());
  EXPECT_NE(get("/tmp/iframe_log.htm", cookie).find("log lines"), std::string::npos);
  EXPECT_NE(get("/en/sys_user.asp", cookie).find("value=\"admin\""), std::string::npos);
  // A request without a cookie does not inherit the previous visitor's level.
  get("/home.asp", cookie);
  get("/template.css");
  EXPECT_EQ(g_session_check, -1);
  EXPECT_EQ(g_current_session, -1);
}

TEST_F(Router, HeadOfTemplateHasItsOwnSize) {
  std::string answer = request("HEAD /login.asp HTTP/1.0\r\n\r\n");
  std::string size = std::to_string(std::filesystem::file_size(dir.file("httpd/htdocs/login.asp")));
  EXPECT_NE(answer.find("Cache-Control: private, no-store, no-cache\r\n"), std::string::npos);
  EXPECT_EQ(answer.substr(answer.size() - size.size() - 4), size + "\r\n\r\n");
}

TEST_F(Router, TemplateTags) {
  write_file(dir.file("httpd/htdocs/t.asp"),
             "[<% LIN_REFRESH %>][<%LIN_REFRESH%>][<% #page# %>][<% page %>][<% LIN_ACCOUNT %>][<% " +
                 std::string(600, 'N') + " %>][<% ");
  std::string cookie = login("admin", "quillbox");
  std::string page = get("/t.asp?page=LIN_REFRESH&account=%3Cb%3E&x=<i>", cookie);
  // A value from the query is written escaped; a #name# becomes the query value before the lookup.
  EXPECT_NE(page.find("[30][<%LIN_REFRESH%>][30][LIN_REFRESH][%3Cb%3E][<% NNN"), std::string::npos) << page;
  EXPECT_NE(page.find(" %>][<% "), std::string::npos);
  page = get("/t.asp?page=2&account=<script>", cookie);
  EXPECT_NE(page.find("[&lt;script&gt;]"), std::string::npos) << page;
}

TEST_F(Router, OnlyPlainQueryValuesReplaceTags) {
  write_file(dir.file("httpd/htdocs/t.asp"), "[<% v %>][<% LIN_#v# %>]");
  std::string cookie = login("admin", "quillbox");
  struct Case {
    const char* value;
    const char* shown;
  };
  const Case cases[] = {
      {"7", "[7][]"},
      {"REFRESH", "[REFRESH][30]"},
      {"a_b.c-D9", "[a_b.c-D9][]"},
      {"alert(1)//", "[][]"},
      {"%3Cb%3E", "[][]"},
      {"a+b", "[][]"},
      {"x'y", "[][]"},
      {"REFRESH;", "[][]"},
  };
  for (const Case& c : cases) {
    std::string page = get(std::string("/t.asp?v=") + c.value, cookie);
    EXPECT_NE(page.find(c.shown), std::string::npos) << c.value << "\n" << page;
  }
}

TEST_F(Router, MessageTextsComeOnlyFromFormReplies) {
  std::string page = get("/message.asp?ERR_PATH=alert(document.domain)//&ERR_TITLE=Hi&ERR_MSG=There");
  EXPECT_EQ(page.find("alert(document.domain)"), std::string::npos) << page;
  EXPECT_EQ(page.find(">Hi<"), std::string::npos) << page;
  EXPECT_EQ(page.find(">There<"), std::string::npos) << page;
  // A reply of the service: its action is written escaped for the attribute.
  get("/login.asp");
  post("/orvik/login", "Username=admin&Response=wrong");
  page = get("/message.asp?ERR_PATH=alert(1)");
  EXPECT_NE(page.find("onclick=\"window.location=&#39;/login.asp&#39;\""), std::string::npos) << page;
}

TEST_F(Router, ReplaceTokens) {
  QueryPair pairs[2] = {{const_cast<char*>("page"), const_cast<char*>("3")}, {const_cast<char*>("a"), const_cast<char*>("b")}};
  char out[64];
  EXPECT_EQ(asp_replace_tokens("LOG_#page#", sizeof out, out, 2, pairs), 5);
  EXPECT_STREQ(out, "LOG_3");
  EXPECT_EQ(asp_replace_tokens("no tokens", sizeof out, out, 2, pairs), 0);
  EXPECT_EQ(asp_replace_tokens("x#page #", sizeof out, out, 2, pairs), 0);
  EXPECT_EQ(asp_replace_tokens("#page#", 1, out, 2, pairs), 0);
}

TEST_F(Router, EscapingHelpers) {
  char out[64];
  EXPECT_EQ(asp_escape_html(out, sizeof out, "<a href='x'>&\"</a>"), 47u);
  EXPECT_STREQ(out, "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;");
  EXPECT_EQ(asp_escape_html(out, 6, "a&b"), 1u);  // never half an entity
  // A script string: backslash and quote escaped, everything else that could end the string, the
  // script block or the attribute as \uXXXX (UTF-8 read as code points, a bad byte as U+FFFD).
  struct Case {
    const char* text;
    const char* written;
  };
  const Case cases[] = {
      {"x');alert(1)//\n</script>", "x\\');alert(1)//\\u000A\\u003C/script\\u003E"},
      {"a\\b\"c&d", "a\\\\b\\u0022c\\u0026d"},
      {"\x7F\t", "\\u007F\\u0009"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\\u00E9\\u20AC\\uD83D\\uDE00"},
      {"\xC3(\xFF\xE2\x82", "\\uFFFD(\\uFFFD\\uFFFD\\uFFFD"},
  };
  std::string path = dir.file("esc.txt");
  for (const Case& c : cases) {
    FILE* f = fopen(path.c_str(), "w");
    asp_write_script_text(f, c.text);
    fclose(f);
    EXPECT_EQ(read_file(path), c.written) << c.text;
  }
}

TEST_F(Router, FormRepliesBecomeAnswers) {
  std::string answer = post("/orvik/nothing", "a=1");
  EXPECT_NE(answer.find("Location: http://unit/login.asp\r\n"), std::string::npos) << answer;
  std::string cookie = login("admin", "quillbox");
  // A Referer of this host gives the base of the redirect.
  std::string raw = "POST /orvik/sys_info HTTP/1.1\r\nHost: h:8443\r\nReferer: https://h:8443/en/x.asp\r\nCookie: " +
                    cookie + "\r\nContent-Length: 3\r\n\r\na=1";
  answer = request(raw);
  EXPECT_NE(answer.find("Location: https://h:8443/message.asp\r\n"), std::string::npos) << answer;
  // No token: no reply line; the cleared buffer gives the "not defined" message.
  EXPECT_STREQ(g_message_body, "upsd reply: Not defined.");
}

TEST_F(Router, DownloadsAreAttachmentsWithTheirNames) {
  std::string cookie = login("admin", "quillbox");
  struct Case {
    const char* file;
    const char* disposition;
  };
  const Case cases[] = {
      {"agent.ini", "\r\nContent-Disposition: attachment; filename=\"agent.ini\"\r\n"},
      {"event_log.csv", "\r\nContent-Disposition: attachment; filename=\"event_log.csv\"\r\n"},
      {"iframe_log.htm", nullptr},
      {"events.txt", nullptr},
  };
  for (const Case& c : cases) {
    write_file(dir.file(std::string("httpd/htdocs/tmp/") + c.file), "[End]\r\n");
    std::string answer = get(std::string("/tmp/") + c.file, cookie);
    ASSERT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << answer;
    if (c.disposition) EXPECT_NE(answer.find(c.disposition), std::string::npos) << answer;
    else EXPECT_EQ(answer.find("Content-Disposition"), std::string::npos) << answer;
  }
  EXPECT_EQ(get("/en/sys_info.asp", cookie).find("Content-Disposition"), std::string::npos);
}

TEST_F(Router, OnlyThisHostIsARedirectTarget) {
  struct Case {
    const char* host;
    const char* referer;
    const char* location;
  };
  const Case cases[] = {
      {"unit", nullptr, "http://unit/login.asp"},
      {"unit", "http://unit/en/x.asp", "http://unit/login.asp"},
      {"UNIT", "https://unit:8443/en/x.asp?a=b", "https://unit:8443/login.asp"},
      {"[::1]", "http://[::1]:8080/x", "http://[::1]:8080/login.asp"},
      {"unit", "no-slashes-here", "http://unit/login.asp"},
      {"unit", "https://evil.example/en/x.asp", "http://unit/"},
      {"unit", "http://unit.evil.example/", "http://unit/"},
      {"unit", "http://unit@evil.example/", "http://unit/"},
      {"unit", "http://evil.example@unit/", "http://unit/"},
      {"unit", "http://unit:80@evil.example/", "http://unit/"},
      {"unit", "javascript://unit/%0aalert(1)", "http://unit/"},
      {"unit", "//evil.example/x", "http://unit/login.asp"},  // no "//" behind the scheme: not a base
      {"unit", "http://unit\\evil.example/", "http://unit/"},
      {"unit", "http://unit:80x/", "http://unit/"},
      {"[::1]", "http://[::1/", "http://[::1]/"},
  };
  for (const Case& c : cases) {
    std::string raw = std::string("POST /orvik/nothing HTTP/1.1\r\nHost: ") + c.host + "\r\n";
    if (c.referer) raw += std::string("Referer: ") + c.referer + "\r\n";
    std::string answer = request(raw + "Content-Length: 3\r\n\r\na=1");
    EXPECT_NE(answer.find(std::string("\r\nLocation: ") + c.location + "\r\n"), std::string::npos)
        << (c.referer ? c.referer : "(none)") << "\n" << answer;
  }
}

}  // namespace
