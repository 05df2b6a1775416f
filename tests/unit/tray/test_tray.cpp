// The tray program on the headless desktop: frames read by its link client (a socket pair stands
// in for the service), the icon states and timers, the web monitor's address, the property page
// and the account dialog driven through the headless input file, the countdown text.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/desktop_internal.h"
#include "platform/socket.h"
#include "support/temp_dir.h"
#include "tray/tray.h"

namespace {

std::string frame(uint32_t kind, uint32_t code, const void* body = nullptr, int32_t len = 0) {
  std::vector<char> out(LINK_FRAME_MAX);
  int32_t n = link_frame_build(out.data(), int32_t(out.size()), kind, code, static_cast<const uint8_t*>(body), len);
  return std::string(out.data(), size_t(n));
}

std::string utf8(const char16_t* s) {
  char out[512];
  text_utf16_to_utf8(out, sizeof out, s);
  return out;
}

class Tray : public ::testing::Test {
 protected:
  TempDir dir;
  int peer = -1;

  void SetUp() override {
    use_install_dir(dir);
    std::string lang = dir.path + "/Language/English";
    std::filesystem::create_directories(lang);
    write_file(lang + "/language.ini", read_file(std::string(VELLMAR_SOURCE_DIR) + "/data/Language/English/language.ini"));
    cfg_load_install_path();
    codec_table_init();
    cfg_set_defaults();
    ASSERT_TRUE(desktop_open(dir.path.c_str()));
    static bool registered = win_register_class(u"TrayTestClass", tray_wnd_proc);
    ASSERT_TRUE(registered);
    static WindowHandle window = win_create_window(u"TrayTestClass", u"tray test");
    TrayWindow = window;
    tray_wnd_proc(TrayWindow, WM_CREATE, 0, 0);
    memset(&TrayStatus, 0, sizeof TrayStatus);
    TrayUserIsAdmin = 1;
    TrayShowCountdown = 1;
    TrayTaskbarHeld = false;
    TrayIconId = TRAY_FIRST_ICON_ID;
    TrayIconState = 0;
    TrayValAgeSeconds = 0;
    TraySettingsFrom = TRAY_SETTINGS_FRAME;
    TraySettingsFileReadable = false;
    TrayBroadcastWindow = TrayCountdownWindow = nullptr;
    tray_lang_reload();
    reconnect();
  }

  // A fresh connected link: slot 0 and its peer.
  void reconnect() {
    tray_link_reset();
    if (peer >= 0) close(peer);
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    TraySockets[0] = pair[0];
    peer = pair[1];
    TrayLinkState = 2;
  }

  void TearDown() override {
    tray_link_reset();
    if (peer >= 0) close(peer);
    desktop_close();
  }

  // Puts bytes into the receive buffer as a read would and parses them.
  void receive(const std::string& bytes) {
    ASSERT_LE(TrayRecvBuffer.fill + int32_t(bytes.size()), LINK_RX_BUFFER_SIZE);
    memcpy(TrayRecvBuffer.data + TrayRecvBuffer.fill, bytes.data(), bytes.size());
    TrayRecvBuffer.fill += int32_t(bytes.size());
    tray_link_parse();
  }

  std::string shown() const { return read_file(dir.file("shown.log")); }
  void input(const std::string& lines) { write_file(dir.file("input"), read_file(dir.file("input")) + lines); }

  // The frames the tray sent, as (kind, code) pairs with the last body.
  std::vector<LinkFrame> sent(std::vector<uint8_t>* last_body = nullptr) {
    std::vector<LinkFrame> out;
    static LinkRxBuffer rx;
    static uint8_t decode[LINK_DECODE_SIZE];
    rx.fill = 0;
    for (;;) {
      ssize_t n = recv(peer, rx.data + rx.fill, size_t(LINK_RX_BUFFER_SIZE - rx.fill), MSG_DONTWAIT);
      if (n <= 0) break;
      rx.fill += int32_t(n);
    }
    LinkFrame f;
    while (link_frame_next(&rx, decode, &f) == LINK_FRAME_OK) {
      out.push_back(f);
      if (last_body) last_body->assign(f.body, f.body + f.body_bytes);
    }
    return out;
  }

  const MenuItem& item(uint32_t id) {
    for (auto& m : TrayMenu)
      if (m.id == id) return m;
    static MenuItem none{};
    return none;
  }
};

TEST(TrayCountdown, TextAndColour) {
  struct Case {
    int32_t seconds;
    const char* text;
    uint32_t color;
  } cases[] = {
      {3725, "01:02:05", 0xFFFFFF}, {75, "01:15", 0xFFFF00}, {59, "00:59", 0xFF0000},
      {120, "02:00", 0xFFFFFF},     {60, "01:00", 0xFFFF00}, {0, "00:00", 0xFF0000},
  };
  for (const Case& c : cases) {
    char16_t text[32];
    uint32_t color = 0;
    tray_countdown_text(c.seconds, text, 32, &color);
    EXPECT_EQ(c.text, utf8(text)) << c.seconds;
    EXPECT_EQ(c.color, color) << c.seconds;
  }
}

TEST_F(Tray, StatusFrameMovesTheCancelCheckAndStateTenStopsTheCountdown) {
  StatusRecord s{};
  s.tray_state = 3;
  s.shutdown_cancelled = 1;
  s.countdown_left = 100;
  TrayValAgeSeconds = 5;
  receive(frame(LINK_KIND_VAL, 0, &s, sizeof s));
  EXPECT_EQ(0, TrayValAgeSeconds);
  EXPECT_TRUE(item(CMD_CANCEL_COUNTDOWN).checked);
  EXPECT_EQ(100, TrayStatus.countdown_left);
  s.shutdown_cancelled = 0;
  s.tray_state = 10;
  receive(frame(LINK_KIND_VAL, 0, &s, sizeof s));
  EXPECT_FALSE(item(CMD_CANCEL_COUNTDOWN).checked);
  EXPECT_EQ(0, TrayStatus.countdown_left);
}

TEST_F(Tray, SettingsFrameSetsTheStopCheckAndAnOutOfRangeLanguageNamesEnglish) {
  AgentSettings s = g_settings;
  s.stop_service = 1;
  s.language = 9;
  TraySettingsFrom = TRAY_SETTINGS_NONE;
  receive(frame(LINK_KIND_CFG, 0, &s, sizeof s));
  EXPECT_EQ(TRAY_SETTINGS_FRAME, TraySettingsFrom);
  EXPECT_TRUE(item(CMD_STOP_SERVICE).checked);
  char path[400];
  tray_lang_path(path, sizeof path);
  EXPECT_EQ(dir.path + "/Language/English/language.ini", path);
  EXPECT_EQ("Configuration", utf8(TrayLangStrings[0]));
}

TEST_F(Tray, ServiceSettingsChangeReloadsTheFileOrTakesTheFrame) {
  AgentSettings s = g_settings;
  s.http_port = 9090;
  TraySettingsFileReadable = false;
  receive(frame(LINK_KIND_UPC, 0, &s, sizeof s));
  EXPECT_EQ(9090, g_settings.http_port);
  write_file(dir.file("agent.ini"), "[Format]\r\nVersion=8\r\n[Web]\r\nHTTP Port=7070\r\n[End]\r\n");
  TraySettingsFileReadable = true;
  receive(frame(LINK_KIND_UPC, 0, &s, sizeof s));
  EXPECT_EQ(7070, g_settings.http_port);
  EXPECT_EQ(TRAY_SETTINGS_FILE, TraySettingsFrom);
}

TEST_F(Tray, AlarmLinesGoToTheBroadcastWindowNewestFirst) {
  const char no_space[] = "nospace";
  receive(frame(LINK_KIND_LOG, 0, no_space, sizeof no_space));
  EXPECT_EQ(nullptr, TrayBroadcastWindow);
  EXPECT_EQ(std::string::npos, shown().find("screensaver"));
  const char first[] = "3 01/02/2026 10:00:00 <10.0.0.9>: Power failure";
  const char second[] = "1 01/02/2026 10:00:05 <10.0.0.9>: Power restored";
  receive(frame(LINK_KIND_LOG, 0, first, sizeof first) + frame(LINK_KIND_LOG, 0, second, sizeof second));
  ASSERT_NE(nullptr, TrayBroadcastWindow);
  EXPECT_NE(std::string::npos, shown().find("screensaver off"));
  std::string log = shown();
  size_t a = log.find("list 176 13 first 01/02/2026 10:00:00 <10.0.0.9>: Power failure");
  size_t b = log.find("list 176 13 first 01/02/2026 10:00:05 <10.0.0.9>: Power restored");
  ASSERT_NE(std::string::npos, a);
  ASSERT_NE(std::string::npos, b);
  EXPECT_LT(a, b);
}

TEST_F(Tray, ABadFrameClosesTheLinkAndDropsTheBuffer) {
  StatusRecord s{};
  std::string good = frame(LINK_KIND_VAL, 0, &s, sizeof s);
  std::string header_xyz = "OrvikSNMP:XYZ00,00,00000 ";
  std::string short_val = "OrvikSNMP:VAL00,00,00004 ....";
  std::string not_crypt = good;
  not_crypt[LINK_HEADER_SIZE + 10] = '#';
  std::string long_text = "OrvikSNMP:LOG00,00,30000 ";
  std::string minus = "OrvikSNMP:LOG00,00,-0004 ";
  for (const std::string& bad : {header_xyz, short_val, not_crypt, long_text, minus}) {
    reconnect();
    TrayStatus.tray_state = 7;
    receive(bad + good);
    EXPECT_EQ(INVALID_SOCKET, TraySockets[0]) << bad.substr(0, 25);
    EXPECT_EQ(0, TrayRecvBuffer.fill);
    EXPECT_EQ(7, TrayStatus.tray_state) << "a frame behind a bad one was taken";
  }
}

TEST_F(Tray, RequestsOfTheServiceKindsAreConsumedWithoutEffect) {
  AgentSettings before = g_settings;
  receive(frame(LINK_KIND_SYS, 2) + frame(LINK_KIND_STP, 1) + frame(LINK_KIND_DEL, 0, "x y", 4) +
          frame(LINK_KIND_T01, 0, &before, sizeof before));
  EXPECT_EQ(0, memcmp(&before, &g_settings, sizeof before));
  EXPECT_NE(INVALID_SOCKET, TraySockets[0]);
  EXPECT_EQ(0, TrayRecvBuffer.fill);
}

TEST_F(Tray, WebMonitorAddress) {
  char16_t url[512];
  ASSERT_TRUE(tray_web_address(url, 512));
  std::string admin = utf8(url);
  EXPECT_EQ(0u, admin.find("http://127.0.0.1:80?encrypt=1&account=admin&password=")) << admin;
  EXPECT_GT(admin.size(), strlen("http://127.0.0.1:80?encrypt=1&account=admin&password="));
  text_copy16(g_settings.account_user[0], 33, u"a&b c");
  ASSERT_TRUE(tray_web_address(url, 512));
  EXPECT_NE(std::string::npos, utf8(url).find("account=a%26b%20c&password="));
  TrayUserIsAdmin = 0;
  ASSERT_TRUE(tray_web_address(url, 512));
  EXPECT_EQ("http://127.0.0.1:80", utf8(url));
  g_settings.web_protocols = 2;
  g_settings.https_port = 8443;
  ASSERT_TRUE(tray_web_address(url, 512));
  EXPECT_EQ("https://127.0.0.1:8443", utf8(url));
  g_settings.web_protocols = 0;
  EXPECT_FALSE(tray_web_address(url, 512));
  tray_command(CMD_WEB_MONITOR);
  EXPECT_NE(std::string::npos, shown().find("msgbox error"));
}

// The administrator's web monitor: the browser is handed a page that only this user may read,
// which leads on to the login address; no password or token is on its command line, and the page
// goes 60 s (timer 1 ticks) later. A watcher's plain address needs no page.
TEST_F(Tray, WebMonitorHandsTheBrowserAPrivatePageThatGoesAfterAMinute) {
  const char* saved_run = getenv("XDG_RUNTIME_DIR");
  const char* saved_home = getenv("HOME");
  std::string old_run = saved_run ? saved_run : "", old_home = saved_home ? saved_home : "";
  std::filesystem::create_directories(dir.file("run"));
  std::filesystem::create_directories(dir.file("home/.vellmar-tray"));
  ASSERT_EQ(chmod(dir.file("home/.vellmar-tray").c_str(), 0755), 0);
  setenv("HOME", dir.file("home").c_str(), 1);
  std::string page_name = "web-monitor-" + std::to_string(getpid()) + ".html";
  struct Case {
    bool runtime_dir;
    const char* folder;   // where the page goes, under the test folder
  } cases[] = {{true, "run/vellmar-tray"}, {false, "home/.vellmar-tray"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    if (c.runtime_dir) setenv("XDG_RUNTIME_DIR", dir.file("run").c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
    std::string page = dir.file(std::string(c.folder) + "/" + page_name);
    size_t from = shown().size();
    tray_command(CMD_WEB_MONITOR);
    std::string opened = shown().substr(from);
    EXPECT_EQ("open " + page + "\n", opened);
    EXPECT_EQ(std::string::npos, opened.find("password")) << opened;
    EXPECT_EQ(page, TrayWebPage);
    struct stat st;
    ASSERT_EQ(stat(page.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(stat(dir.file(c.folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    std::string html = read_file(page);
    EXPECT_NE(std::string::npos, html.find("url=http://127.0.0.1:80?encrypt=1&amp;account=admin&amp;password=")) << html;
    for (int tick = 1; tick < TRAY_WEB_PAGE_SECONDS; ++tick) tray_timer_icon();
    EXPECT_TRUE(fs_exists(page)) << "kept for a minute";
    tray_timer_icon();
    EXPECT_FALSE(fs_exists(page)) << "removed after a minute";
    EXPECT_STREQ("", TrayWebPage);
  }
  TrayUserIsAdmin = 0;
  size_t from = shown().size();
  tray_command(CMD_WEB_MONITOR);
  EXPECT_EQ("open http://127.0.0.1:80\n", shown().substr(from));
  EXPECT_STREQ("", TrayWebPage);
  if (saved_run) setenv("XDG_RUNTIME_DIR", old_run.c_str(), 1);
  else unsetenv("XDG_RUNTIME_DIR");
  if (saved_home) setenv("HOME", old_home.c_str(), 1);
  else unsetenv("HOME");
}

TEST_F(Tray, WatcherCommandsThatActDoNothing) {
  TrayUserIsAdmin = 0;
  tray_command(CMD_CANCEL_COUNTDOWN);
  tray_command(CMD_STOP_SERVICE);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(0, g_settings.stop_service);
}

TEST_F(Tray, StopServiceSendsStopAndResumeOnlyWithKnownSettings) {
  tray_command(CMD_STOP_SERVICE);
  auto frames = sent();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(LINK_KIND_STP, frames[0].kind);
  EXPECT_EQ(1u, frames[0].code);
  EXPECT_TRUE(item(CMD_STOP_SERVICE).checked);
  tray_command(CMD_STOP_SERVICE);
  frames = sent();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(0u, frames[0].code);
  TraySettingsFrom = TRAY_SETTINGS_NONE;
  tray_command(CMD_STOP_SERVICE);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(0, g_settings.stop_service);
  tray_command(CMD_CANCEL_COUNTDOWN);
  frames = sent();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(LINK_KIND_SYS, frames[0].kind);
  EXPECT_EQ(2u, frames[0].code);
}

TEST_F(Tray, PropertyPageKeepsTheLanguageWithNoSelectionAndSendsTheRecord) {
  g_settings.language = 3;
  input("set 112 1157 65535\nselect 112 1162 -1\ncheck 112 1077 0\npress 112 1\n");
  tray_open_property_sheet();
  EXPECT_EQ(65535, g_settings.http_port);
  EXPECT_EQ(3, g_settings.language);
  EXPECT_EQ(1, g_settings.web_protocols);
  std::vector<uint8_t> body;
  auto frames = sent(&body);
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(LINK_KIND_UPC, frames[0].kind);
  ASSERT_GE(body.size(), sizeof(AgentSettings));
  AgentSettings got;
  memcpy(&got, body.data(), sizeof got);
  EXPECT_EQ(65535, got.http_port);
  EXPECT_EQ(3, got.language);
}

// A port the service would refuse is named in a message box and the page stays open on that
// field with the other edits; nothing is kept or sent until it is put right, and Cancel keeps nothing.
TEST_F(Tray, PropertyPageRefusesPortsOutsideTheirRange) {
  const char* typed[][2] = {
      {"1157", "70000"}, {"1157", "99999"}, {"1157", ""}, {"1157", "0"}, {"1158", "44a"},
      {"1158", "65536"}, {"1158", "-1"}, {"1158", "4.4"},
  };
  for (const auto& t : typed) {
    AgentSettings before = g_settings;
    size_t from = shown().size();
    input(std::string("set 112 ") + t[0] + " " + t[1] + "\npress 112 1\npress 112 2\n");
    tray_open_property_sheet();
    EXPECT_EQ(0, memcmp(&before, &g_settings, sizeof before)) << t[0] << " " << t[1];
    EXPECT_TRUE(sent().empty()) << t[0] << " " << t[1];
    std::string log = shown().substr(from);
    size_t box = log.find("msgbox error Configuration: Port must be a number from 1 to 65535.");
    size_t focus = log.find(std::string("focus 112 ") + t[0] + "\n");
    size_t cancel = log.find("press 112 2\n");
    ASSERT_NE(box, std::string::npos) << log;
    EXPECT_NE(focus, std::string::npos) << log;
    EXPECT_LT(box, focus) << log;
    EXPECT_LT(focus, cancel) << log;
    EXPECT_EQ(log.find("dialog close 112"), log.find("dialog close 112", cancel)) << "closed only by Cancel: " << log;
  }
  // Put right on the page that stayed open: the other edits are taken with it.
  input("set 112 1158 8443\ncheck 112 1077 0\nset 112 1157 70000\npress 112 1\nset 112 1157 1\npress 112 1\n");
  tray_open_property_sheet();
  EXPECT_EQ(1, g_settings.http_port);
  EXPECT_EQ(8443, g_settings.https_port);
  EXPECT_EQ(0, g_settings.web_protocols & 2);
  EXPECT_EQ(1u, sent().size());
  EXPECT_EQ(std::string::npos, shown().find("refused")) << shown();
}

TEST_F(Tray, PropertyPageSendsNothingWithoutKnownSettingsOrLink) {
  input("set 112 1157 8080\npress 112 1\n");
  TraySettingsFrom = TRAY_SETTINGS_NONE;
  tray_open_property_sheet();
  EXPECT_EQ(8080, g_settings.http_port);
  EXPECT_TRUE(sent().empty());
  TraySettingsFrom = TRAY_SETTINGS_FRAME;
  TrayLinkState = 1;
  input("set 112 1157 8081\npress 112 1\n");
  tray_open_property_sheet();
  EXPECT_TRUE(sent().empty());
}

TEST_F(Tray, AccountDialogRefusesEmptyFieldsAndCutsLongNames) {
  input(
      "press 112 1081\n"
      "set 1110 1159 abcdefghijklmnopqrst\n"
      "set 1110 1160 \n"
      "set 1110 1163 viewer\n"
      "press 1110 1085\n"
      "press 112 2\n");
  tray_open_property_sheet();
  EXPECT_EQ("abcdefghijklmnop", utf8(g_settings.account_user[0]));
  EXPECT_EQ("quillbox", utf8(g_settings.account_password[0]));
  EXPECT_EQ("viewer", utf8(g_settings.account_user[2]));
  std::string log = shown();
  EXPECT_NE(std::string::npos, log.find("msgbox error Account: The account or password can't be empty."));
  auto frames = sent();
  ASSERT_EQ(1u, frames.size());
  EXPECT_EQ(LINK_KIND_UPC, frames[0].kind);
}

TEST_F(Tray, IconIsAddedWhenTheTaskbarComesAndShowsTheStopState) {
  g_settings.stop_service = 1;
  tray_lang_reload();
  tray_timer_icon();
  EXPECT_TRUE(TrayTaskbarHeld);
  std::string log = shown();
  EXPECT_NE(std::string::npos, log.find("icon add id=1001 icon=150 tip=Vellmar 2012"));
  EXPECT_NE(std::string::npos, log.find("icon modify id=1001 icon=151 tip=Service stopped"));
  // The tray goes away for a tick and comes back: the icon is added again.
  input("taskbar 0\n");
  desktop_pump(false);
  tray_timer_icon();
  EXPECT_FALSE(TrayTaskbarHeld);
  input("taskbar 1\n");
  desktop_pump(false);
  size_t before = shown().size();
  tray_timer_icon();
  EXPECT_NE(std::string::npos, shown().find("icon add id=1001", before));
}

TEST_F(Tray, IconAddRetriesAreBounded) {
  // Other icons fill the shell's room: every add is refused.
  NotifyIconData other{};
  other.window = reinterpret_cast<WindowHandle>(&other);
  for (uint32_t id = 1; id <= 4; ++id) {
    other.id = id;
    ASSERT_TRUE(desktop_notify_icon(NIM_ADD, &other));
  }
  tray_timer_icon();
  std::string log = shown();
  size_t refused = 0;
  for (size_t at = log.find("icon add refused"); at != std::string::npos; at = log.find("icon add refused", at + 1))
    ++refused;
  EXPECT_EQ(size_t(TRAY_ICON_ADD_TRIES), refused);
}

TEST_F(Tray, NoStatusForElevenSecondsShowsStateTen) {
  tray_timer_icon();
  TrayValAgeSeconds = 0;
  TrayStatus.tray_state = 3;
  TrayStatus.countdown_left = 50;
  for (int i = 0; i < 10; ++i) tray_timer_icon();
  EXPECT_EQ(3, TrayStatus.tray_state);
  tray_timer_icon();
  EXPECT_EQ(10, TrayStatus.tray_state);
  EXPECT_EQ(0, TrayStatus.countdown_left);
  EXPECT_NE(std::string::npos, shown().find("icon modify id=1001 icon=151 tip=No connection"));
}

TEST_F(Tray, SilentLinkIsDroppedAfterElevenSecondsWithItsHalfFrame) {
  receive("OrvikSNMP:VAL00,00,06040 abc");   // half a frame waits
  EXPECT_EQ(28, TrayRecvBuffer.fill);
  for (int i = 0; i < 10; ++i) tray_link_step();
  EXPECT_EQ(2, TrayLinkState);
  tray_link_step();
  EXPECT_EQ(0, TrayLinkState);
  EXPECT_EQ(INVALID_SOCKET, TraySockets[0]);
  // The next connection's stream starts clean.
  EXPECT_EQ(0, TrayRecvBuffer.fill);
}

TEST_F(Tray, CountdownWindowFollowsTheShowCountdownItem) {
  TrayStatus.countdown_left = 75;
  tray_timer_link();
  ASSERT_NE(nullptr, TrayCountdownWindow);
  EXPECT_NE(std::string::npos, shown().find("draw 240 01:14 fg=ffff00"));
  tray_command(CMD_SHOW_COUNTDOWN);
  EXPECT_EQ(nullptr, TrayCountdownWindow);
  EXPECT_FALSE(item(CMD_SHOW_COUNTDOWN).checked);
  tray_timer_link();
  EXPECT_EQ(nullptr, TrayCountdownWindow);
  tray_command(CMD_SHOW_COUNTDOWN);
  EXPECT_NE(nullptr, TrayCountdownWindow);
  TrayStatus.countdown_left = 0;
  tray_timer_link();
  EXPECT_EQ(nullptr, TrayCountdownWindow);
}

// The countdown window follows the service's cancel flag: it closes when the countdown is cancelled
// (the seconds the service keeps stand still) and comes back when the cancel is withdrawn while
// the countdown runs; it closes when the countdown ends.
TEST_F(Tray, CountdownWindowClosesOnCancelAndComesBackWhenWithdrawn) {
  StatusRecord s{};
  s.tray_state = 2;
  s.countdown_left = 90;
  struct Step {
    uint8_t cancelled;
    int32_t left;
    bool open;
  } steps[] = {{0, 90, true}, {1, 88, false}, {1, 88, false}, {0, 88, true}, {0, -1, false}};
  for (const Step& step : steps) {
    s.shutdown_cancelled = step.cancelled;
    s.countdown_left = step.left;
    receive(frame(LINK_KIND_VAL, 0, &s, sizeof s));
    if (step.cancelled) {
      EXPECT_EQ(nullptr, TrayCountdownWindow) << "closed as the frame comes";
    }
    tray_timer_link();
    tray_timer_link();
    EXPECT_EQ(step.open, TrayCountdownWindow != nullptr) << int(step.cancelled) << " " << step.left;
  }
  // Shown again from the item while cancelled: nothing opens.
  s.shutdown_cancelled = 1;
  s.countdown_left = 60;
  receive(frame(LINK_KIND_VAL, 0, &s, sizeof s));
  tray_command(CMD_SHOW_COUNTDOWN);
  tray_command(CMD_SHOW_COUNTDOWN);
  EXPECT_EQ(nullptr, TrayCountdownWindow);
  EXPECT_TRUE(item(CMD_SHOW_COUNTDOWN).checked);
}

// A watcher's tray keeps none of the account names, VMware server and account, vCLI folder and
// command file, even when a settings frame carries them; an administrator's keeps the record whole.
TEST_F(Tray, WatcherKeepsOnlyWhatItShowsOfTheSettings) {
  AgentSettings s = g_settings;
  text_copy16(s.account_user[0], 33, u"admin");
  text_copy16(s.account_password[0], 33, u"secret");
  text_copy16(s.vm_server, 129, u"esx.example");
  text_copy16(s.vm_account, 33, u"vmadmin");
  text_copy16(s.vcli_path, 256, u"/opt/vcli");
  text_copy16(s.command_file, 256, u"/opt/reaction.sh");
  s.http_port = 8088;
  s.stop_service = 1;
  for (int admin : {1, 0}) {
    SCOPED_TRACE(admin);
    TrayUserIsAdmin = admin;
    receive(frame(LINK_KIND_CFG, 0, &s, sizeof s));
    bool kept = admin == 1;
    EXPECT_EQ(kept, g_settings.account_user[0][0] != 0);
    EXPECT_EQ(kept, g_settings.account_password[0][0] != 0);
    EXPECT_EQ(kept, g_settings.vm_server[0] != 0);
    EXPECT_EQ(kept, g_settings.vm_account[0] != 0);
    EXPECT_EQ(kept, g_settings.vcli_path[0] != 0);
    EXPECT_EQ(kept, g_settings.command_file[0] != 0);
    EXPECT_EQ(8088, g_settings.http_port);
    EXPECT_TRUE(item(CMD_STOP_SERVICE).checked);
    char16_t url[512];
    ASSERT_TRUE(tray_web_address(url, 512));
    std::string address = utf8(url);
    if (kept) EXPECT_EQ(0u, address.rfind("http://127.0.0.1:8088?encrypt=1&account=admin&", 0)) << address;
    else EXPECT_EQ("http://127.0.0.1:8088", address);
  }
}

}  // namespace
