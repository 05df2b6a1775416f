// A web server over a temporary installation folder, driven without listeners: requests are
// handed to a slot as received bytes and the answer is read back from the slot.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/web/form_data.h"
#include "service/web/http_request.h"
#include "service/web/http_server.h"
#include "service/web/session.h"
#include "tests/support/temp_dir.h"

inline uint32_t g_test_seconds = 1000;
inline uint32_t test_clock() { return g_test_seconds; }

class WebTest : public ::testing::Test {
 protected:
  TempDir dir;
  static constexpr uint8_t kClient[4] = {127, 0, 0, 1};

  void SetUp() override {
    namespace fs = std::filesystem;
    std::string data = std::string(VELLMAR_SOURCE_DIR) + "/data";
    fs::copy(data + "/Language", dir.file("Language"), fs::copy_options::recursive);
    fs::copy(data + "/httpd", dir.file("httpd"), fs::copy_options::recursive);
    // Any cert.pem spares the start the making of a key.
    write_file(dir.file("httpd/cert.pem"), "not a certificate\n");
    snprintf(InstallDir, sizeof InstallDir, "%s", dir.path.c_str());
    text_utf8_to_utf16(InstallDirW, 260, InstallDir);
    use_install_dir(dir);
    cfg_set_defaults();
    codec_table_init();
    sched_init();
    evt_init(InstallDirW, u"English");
    http_server_init(0x402, nullptr, InstallDir, nullptr, nullptr);
    g_test_seconds = 1000;
    http_clock_seconds = test_clock;
  }

  void TearDown() override {
    for (auto& c : HttpConnectionTable) http_conn_close(&c, 1);
    evt_free_definitions();
  }

  // A reading slot with no socket for a client address.
  HttpConnection* slot(const uint8_t* ip = kClient) {
    HttpConnection* c = &HttpConnectionTable[0];
    http_conn_close(c, 1);
    uint8_t peer[16] = {};
    memcpy(peer, ip, 4);
    http_conn_start(c, -1, 2, peer);
    return c;
  }

  // The answer to one request: the response head and any file content; empty when none.
  std::string request(const std::string& raw, const uint8_t* ip = kClient) {
    HttpConnection* c = slot(ip);
    if (http_conn_take(c, raw.data(), uint32_t(raw.size())) != 1) return "<not complete>";
    http_handle_request(c);
    if (c->state != 2) return "";
    std::string out(reinterpret_cast<char*>(c->send_buffer), size_t(c->send_pending));
    if (c->file) {
      char buf[65536];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, c->file)) > 0) out.append(buf, n);
    }
    http_conn_close(c, 1);
    return out;
  }

  std::string get(const std::string& path, const std::string& cookie = "") {
    std::string raw = "GET " + path + " HTTP/1.1\r\nHost: unit\r\n";
    if (!cookie.empty()) raw += "Cookie: " + cookie + "\r\n";
    return request(raw + "\r\n");
  }

  std::string post(const std::string& path, const std::string& body, const std::string& cookie = "") {
    std::string raw = "POST " + path + " HTTP/1.1\r\nHost: unit\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (!cookie.empty()) raw += "Cookie: " + cookie + "\r\n";
    return request(raw + "\r\n" + body);
  }

  static std::string between(const std::string& text, const std::string& before, const std::string& after) {
    size_t a = text.find(before);
    if (a == std::string::npos) return "";
    a += before.size();
    size_t b = text.find(after, a);
    return b == std::string::npos ? "" : text.substr(a, b - a);
  }

  static std::string md5hex(const std::string& text) {
    Md5Context ctx;
    uint8_t d[16];
    md5_init(&ctx);
    md5_update(&ctx, reinterpret_cast<const uint8_t*>(text.data()), uint16_t(text.size()));
    md5_final(&ctx, d);
    char hex[33];
    for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", d[i]);
    return hex;
  }

  // Logs in through the login page's challenge; the cookie "Vellmar=<id>", empty when refused.
  std::string login(const std::string& user, const std::string& password) {
    std::string challenge = between(get("/login.asp"), "id=\"challenge\" value=\"", "\"");
    std::string answer = post("/orvik/login", "Username=" + user + "&Response=" + md5hex(user + password + challenge));
    return between(answer, "Set-Cookie: ", ";");
  }

  std::string token(const std::string& cookie, const std::string& page = "/en/sys_info.asp") {
    return between(get(page, cookie), "name=\"SYS_UCTOKEN\" value=\"", "\"");
  }
};
