// Fuzz target of the request reader and router: the input arrives at a connection slot in pieces
// (sizes from its first byte, whose top bit adds a live session cookie after the request line),
// and every complete request is routed and answered into the slot over a small document folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/web/http_request.h"
#include "service/web/http_server.h"
#include "service/web/session.h"

static std::string g_cookie;
static std::string g_dir;
static void remove_dir() { if (system(("rm -rf '" + g_dir + "'").c_str()) != 0) return; }
static uint32_t fixed_clock() { return 5000; }
static void log_nothing(const char16_t*, uint32_t, const char16_t*, ...) {}

static void put(const std::string& path, const char* text) {
  FILE* f = fopen(path.c_str(), "w");
  if (f) {
    fputs(text, f);
    fclose(f);
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/fuzz-http-XXXXXX";
  if (!mkdtemp(dir)) abort();
  std::string d = dir;
  g_dir = d;
  atexit(remove_dir);
  std::string docs = d + "/httpd/htdocs";
  if (system(("mkdir -p '" + docs + "/en' '" + docs + "/tmp'").c_str()) != 0) abort();
  put(docs + "/login.asp", "<% LIN_CHALLENGE_VALUE %><% LIN_ACCOUNT %><% LIN_PASSWORD %><% LIN_SUBMIT %><% #a# %>");
  put(docs + "/en/sys_user.asp", "<% SYS_UCTOKEN %><% USR_ACCOUNT1 %><% INF_NAME %><% WEB_HTTP_PORT %><% X_Y %>");
  put(docs + "/message.asp", "<% ERR_TITLE %><% ERR_MSG %><% ERR_PATH %>");
  put(docs + "/a.css", "body{}");
  put(d + "/httpd/cert.pem", "none");
  snprintf(InstallDir, sizeof InstallDir, "%s", dir);
  codec_table_init();
  sched_init();
  cfg_set_defaults();
  http_server_init(0x402, nullptr, dir, nullptr, nullptr);
  http_clock_seconds = fixed_clock;
  EventApi.evt_log = log_nothing;
  g_cookie = std::string("\r\nCookie: Vellmar=") + SessionApi.sess_create(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = (data[0] & 0x7F) ? size_t(data[0] & 0x7F) * 13 : size;
  std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 0x80) {
    size_t eol = input.find("\r\n");
    if (eol != std::string::npos) input.insert(eol, g_cookie);
  }
  HttpConnection* c = &HttpConnectionTable[0];
  static const uint8_t kPeer[16] = {127, 0, 0, 1};
  http_conn_start(c, -1, 2, kPeer);
  size_t off = 0;
  while (off < input.size() && c->state == 1) {
    size_t n = input.size() - off < piece ? input.size() - off : piece;
    int r = http_conn_take(c, input.data() + off, uint32_t(n));
    off += n;
    if (r == 1) {
      http_handle_request(c);
      if (c->state == 2 && c->file) {
        char buf[4096];
        while (fread(buf, 1, sizeof buf, c->file) > 0) {
        }
      }
      break;
    }
  }
  http_conn_close(c, 1);
  return 0;
}
