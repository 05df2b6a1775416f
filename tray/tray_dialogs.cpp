// The tray's windows besides the icon: the property sheet's "Configuration" page, the
// "Web Login Account" dialog, the broadcast window of alarm lines and the countdown window.
#include "tray/tray.h"

#include <cstdio>
#include <cstring>

#include "common/install.h"
#include "common/settings.h"
#include "common/settings_ranges.h"
#include "common/text.h"
#include "platform/profile.h"

int32_t TrayPageMaxW = 0, TrayPageMaxH = 0;
DialogHandle TrayBroadcastWindow = nullptr;
DialogHandle TrayCountdownWindow = nullptr;
LocalAddressTable TrayAddresses;

namespace {

constexpr char kFont[] = "DejaVu Sans";

const DialogControl kPageControls[] = {
    {1145, CTL_STATIC, u"Vellmar", 23, 19, 97, 10},
    {1064, CTL_PICTURE, u"140", 10, 124, 56, 55},
    {1110, CTL_STATIC, u"Version 1.2", 23, 33, 94, 10},
    {2001, CTL_GROUP, u"System", 11, 7, 115, 41},
    {2002, CTL_GROUP, u"Host Information", 10, 53, 198, 64},
    {2004, CTL_STATIC_RIGHT, u"IP Address= ", 15, 67, 54, 10},
    {2003, CTL_GROUP, u"Web", 72, 120, 136, 62},
    {1076, CTL_CHECK, u"HTTP", 86, 131, 33, 10},
    {1157, CTL_EDIT, u"", 156, 130, 40, 14},
    {-1, CTL_STATIC, u"Port=", 130, 132, 23, 8},
    {1077, CTL_CHECK, u"HTTPS", 86, 147, 33, 10},
    {1158, CTL_EDIT, u"", 156, 146, 40, 14},
    {-1, CTL_STATIC, u"Port=", 130, 148, 23, 8},
    {1081, CTL_BUTTON, u"Login Account...", 105, 162, 74, 16},
    {1162, CTL_DROPLIST, u"", 133, 30, 75, 30},
    {2006, CTL_STATIC, u"Language:", 135, 17, 57, 10},
    {1170, CTL_LIST, u"", 77, 64, 124, 35},
    {2005, CTL_STATIC_RIGHT, u"Host Name= ", 14, 102, 55, 10},
    {1171, CTL_STATIC, u"", 77, 102, 124, 10},
};

const DialogControl kAccountControls[] = {
    {1085, CTL_BUTTON, u"&Save", 136, 178, 46, 14},
    {2001, CTL_GROUP, u"Administrator", 7, 3, 175, 53},
    {2002, CTL_STATIC_RIGHT, u"Account:", 19, 17, 38, 8},
    {2003, CTL_STATIC_RIGHT, u"Password:", 20, 35, 37, 8},
    {1159, CTL_EDIT, u"", 65, 17, 102, 12},
    {1160, CTL_PASSWORD, u"", 65, 33, 102, 12},
    {2004, CTL_GROUP, u"Device Manager", 7, 61, 175, 53},
    {2005, CTL_STATIC_RIGHT, u"Account:", 19, 75, 38, 8},
    {2006, CTL_STATIC_RIGHT, u"Password:", 20, 93, 37, 8},
    {1161, CTL_EDIT, u"", 65, 75, 102, 12},
    {1162, CTL_PASSWORD, u"", 65, 91, 102, 12},
    {2007, CTL_GROUP, u"Read Only User", 7, 119, 175, 53},
    {2008, CTL_STATIC_RIGHT, u"Account:", 19, 133, 38, 8},
    {2009, CTL_STATIC_RIGHT, u"Password:", 20, 151, 37, 8},
    {1163, CTL_EDIT, u"", 65, 133, 102, 12},
    {1164, CTL_PASSWORD, u"", 65, 149, 102, 12},
};

const DialogControl kBroadcastControls[] = {
    {2001, CTL_STATIC, u"Broadcast Message", 4, 3, 319, 8},
    {13, CTL_LIST, u"", 4, 14, 319, 61},
};

char g_bitmap_path[300];

DialogTemplate g_page = {112, u"Configuration", 215, 185, kFont, 8, false, 0,
                         kPageControls, int32_t(sizeof kPageControls / sizeof kPageControls[0]), g_bitmap_path};
const DialogTemplate kAccount = {1110, u"Web Login Account", 191, 199, kFont, 8, false, DLG_TOOL,
                                 kAccountControls, int32_t(sizeof kAccountControls / sizeof kAccountControls[0]),
                                 nullptr};
const DialogTemplate kBroadcast = {176, u"Vellmar 2012", 325, 81, kFont, 8, false, DLG_TOOL | DLG_CENTER,
                                   kBroadcastControls, 2, nullptr};
const DialogTemplate kCountdown = {240, u"Vellmar", 26, 10, "DejaVu Sans Mono", 16, true, DLG_TOPMOST | DLG_TOOL,
                                   nullptr, 0, nullptr};

// A text of language.ini for the windows: room for 128 units, empty when missing.
void lang_text(const char16_t* section, const char* key8, char16_t* out) {
  char path[400];
  tray_lang_path(path, sizeof path);
  char16_t key[16];
  text_utf8_to_utf16(key, 16, key8);
  profile_get_string(section, key, u"", out, 128, path);
}

void set_from_lang(DialogHandle d, int32_t id, const char16_t* section, const char* key) {
  char16_t text[128];
  lang_text(section, key, text);
  dlg_set_item_text(d, id, text);
}

// The port a control holds: its whole text a decimal number inside the range of the setting.
bool read_port(DialogHandle d, int32_t id, SettingId setting, uint16_t* port) {
  char16_t text[16];
  dlg_get_item_text(d, id, text, 16);
  char digits[16];
  size_t n = 0;
  for (; text[n] && n + 1 < sizeof digits; ++n) {
    if (text[n] > 0x7F) return false;
    digits[n] = char(text[n]);
  }
  if (text[n]) return false;   // longer than any port
  int64_t v;
  if (settings_value_from_text(setting, digits, n, &v) != SETTING_OK) return false;
  *port = uint16_t(v);
  return true;
}

void write_port(DialogHandle d, int32_t id, uint16_t port) {
  char text[8];
  snprintf(text, sizeof text, "%u", unsigned(port));
  char16_t text16[8];
  text_utf8_to_utf16(text16, 8, text);
  dlg_set_item_text(d, id, text16);
}

void after_settings_sent() {
  if (tray_send_settings()) tray_lang_reload();
}

intptr_t account_proc(DialogHandle d, uint32_t message, uintptr_t wparam, intptr_t) {
  static const int32_t kUsers[3] = {1159, 1161, 1163};
  static const int32_t kPasswords[3] = {1160, 1162, 1164};
  if (message == WM_INITDIALOG) {
    for (int i = 0; i < 3; ++i) {
      dlg_set_item_text(d, kUsers[i], g_settings.account_user[i]);
      dlg_set_item_text(d, kPasswords[i], g_settings.account_password[i]);
    }
    char16_t title[128];
    lang_text(u"WebAccount-Screen", "Title", title);
    dlg_set_title(d, title);
    for (int k = 1; k <= 9; ++k) {
      char key[8];
      snprintf(key, sizeof key, "L_%d", k);
      set_from_lang(d, 2000 + k, u"WebAccount-Screen", key);
    }
    set_from_lang(d, 1085, u"WebAccount-Screen", "B_1");
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  if (wparam == IDCANCEL) {
    dlg_end(d, IDCANCEL);
  } else if (wparam == 1085) {
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < 3; ++i) {
        char16_t text[17];   // at most 16 characters
        dlg_get_item_text(d, pass ? kPasswords[i] : kUsers[i], text, 17);
        if (text[0] == 0) {
          desktop_message_box(u"The account or password can't be empty.", u"Account", true);
          continue;
        }
        text_copy16(pass ? g_settings.account_password[i] : g_settings.account_user[i], 33, text);
      }
    }
    after_settings_sent();
    dlg_end(d, IDOK);
  }
  return 1;
}

intptr_t page_proc(DialogHandle d, uint32_t message, uintptr_t wparam, intptr_t) {
  switch (message) {
    case WM_INITDIALOG: {
      // The sheet: at the bottom right of the desktop, sized for the largest page seen.
      int32_t page_w = g_page.w * 7 / 4, page_h = g_page.h * 2;
      if (page_w > TrayPageMaxW) TrayPageMaxW = page_w;
      if (page_h > TrayPageMaxH) TrayPageMaxH = page_h;
      const int32_t b = 1, c = 22, button_h = 25;
      int32_t sw = TrayPageMaxW + 4 * b + 20, sh = TrayPageMaxH + 2 * c + 4 * b + button_h + 25;
      int32_t screen_w, screen_h;
      desktop_screen_size(&screen_w, &screen_h);
      dlg_move(d, screen_w - sw, screen_h - sh, sw, sh);

      tray_list_adapter_addresses();
      for (int32_t i = 0; i < TrayAddresses.count; ++i) dlg_list_add(d, 1170, TrayAddresses.entries[i].text);
      dlg_set_item_text(d, 1171, TrayHostName);
      dlg_check(d, 1076, (g_settings.web_protocols & 1) != 0);
      write_port(d, 1157, g_settings.http_port);
      dlg_check(d, 1077, (g_settings.web_protocols & 2) != 0);
      write_port(d, 1158, g_settings.https_port);
      dlg_list_add(d, 1162, TrayLangStrings[10]);
      for (int k = 11; k <= 13; ++k)
        if (TrayLangStrings[k][0]) dlg_list_add(d, 1162, TrayLangStrings[k]);
      // An index outside the list selects nothing.
      dlg_list_select(d, 1162, g_settings.language);
      for (int k = 1; k <= 6; ++k) {
        char key[8];
        snprintf(key, sizeof key, "L_%d", k);
        set_from_lang(d, 2000 + k, u"About-Screen", key);
      }
      set_from_lang(d, 1081, u"About-Screen", "B_1");
      dlg_set_item_text(d, 1145, u"Vellmar 2012");
      dlg_set_item_text(d, 1110, u"02.00.22");
      return 1;
    }
    case WM_COMMAND:
      if (wparam == 1081) dlg_run_modal(&kAccount, d, account_proc);
      return 1;
    case WM_NOTIFY_APPLY: {
      uint16_t http_port, https_port;
      // A port the service would refuse is neither kept nor sent: the page stays open on it with
      // the other edits.
      bool http_ok = read_port(d, 1157, SETTING_HTTP_PORT, &http_port);
      if (!http_ok || !read_port(d, 1158, SETTING_HTTPS_PORT, &https_port)) {
        desktop_message_box(u"Port must be a number from 1 to 65535.", u"Configuration", true);
        dlg_focus_item(d, http_ok ? 1158 : 1157);
        return PSNRET_INVALID_NOCHANGEPAGE;
      }
      g_settings.http_port = http_port;
      g_settings.web_protocols = uint8_t((g_settings.web_protocols & ~1u) | (dlg_is_checked(d, 1076) ? 1u : 0u));
      g_settings.https_port = https_port;
      g_settings.web_protocols = uint8_t((g_settings.web_protocols & ~2u) | (dlg_is_checked(d, 1077) ? 2u : 0u));
      // No selection keeps the language.
      int32_t selected = dlg_list_selection(d, 1162);
      if (selected >= 0 && selected <= 3) g_settings.language = uint8_t(selected);
      after_settings_sent();
      return PSNRET_NOERROR;
    }
    default:
      return 0;
  }
}

intptr_t broadcast_proc(DialogHandle d, uint32_t message, uintptr_t wparam, intptr_t) {
  if (message == WM_INITDIALOG) {
    set_from_lang(d, 2001, u"Broadcast-Screen", "L_1");
    return 1;
  }
  if (message == WM_COMMAND && (wparam == IDCANCEL || wparam == IDOK)) {
    dlg_end(d, IDCANCEL);
    TrayBroadcastWindow = nullptr;
  }
  return 1;
}

intptr_t countdown_proc(DialogHandle d, uint32_t message, uintptr_t wparam, intptr_t) {
  if (message == WM_INITDIALOG) {
    int32_t x, y, w, h, screen_w, screen_h;
    dlg_window_rect(d, &x, &y, &w, &h);
    desktop_screen_size(&screen_w, &screen_h);
    dlg_move(d, screen_w - w, screen_h - 40 - h, w, h);
    return 1;
  }
  if (message == WM_COMMAND && (wparam == IDCANCEL || wparam == IDOK)) {
    dlg_end(d, IDCANCEL);
    TrayCountdownWindow = nullptr;
  }
  return 1;
}

}  // namespace

void tray_open_property_sheet() {
  if (!cfg_install_file(g_bitmap_path, sizeof g_bitmap_path, "Icons/bitmap140.png")) g_bitmap_path[0] = 0;
  dlg_property_sheet(u"Vellmar - Property", TrayLangStrings[0], &g_page, page_proc);
}

void tray_countdown_text(int32_t s, char16_t* out, uint32_t room, uint32_t* color) {
  int32_t h = s / 3600, m = s / 60 - 60 * h, x = s % 60;
  char text[32];
  if (h <= 0) snprintf(text, sizeof text, "%02d:%02d", int(m), int(x));
  else snprintf(text, sizeof text, "%02d:%02d:%02d", int(h), int(m), int(x));
  text_utf8_to_utf16(out, room, text);
  *color = s < 60 ? 0xFF0000u : s < 120 ? 0xFFFF00u : 0xFFFFFFu;
}

void tray_countdown_show(int32_t seconds) {
  if (!dlg_is_open(TrayCountdownWindow)) TrayCountdownWindow = dlg_create(&kCountdown, TrayWindow, countdown_proc);
  if (!TrayCountdownWindow) return;
  char16_t text[32];
  uint32_t color;
  tray_countdown_text(seconds, text, 32, &color);
  int32_t tw, th, cw, ch;
  dlg_draw_centered_text(TrayCountdownWindow, text, 0x202020u, color, 24, &tw, &th);
  dlg_client_size(TrayCountdownWindow, &cw, &ch);
  int32_t grow_w = tw + 20 > cw ? tw + 20 - cw : 0;
  int32_t grow_h = th + 5 > ch ? th + 5 - ch : 0;
  if (grow_w || grow_h) {
    int32_t x, y, w, h;
    dlg_window_rect(TrayCountdownWindow, &x, &y, &w, &h);
    dlg_move(TrayCountdownWindow, x - grow_w, y - grow_h, w + grow_w, h + grow_h);
  }
}

void tray_countdown_destroy() {
  if (dlg_is_open(TrayCountdownWindow)) dlg_end(TrayCountdownWindow, IDCANCEL);
  TrayCountdownWindow = nullptr;
}

void tray_broadcast_add(const char16_t* line) {
  if (!dlg_is_open(TrayBroadcastWindow)) TrayBroadcastWindow = dlg_create(&kBroadcast, TrayWindow, broadcast_proc);
  if (!TrayBroadcastWindow) return;
  dlg_set_title(TrayBroadcastWindow, u"Vellmar 2012");
  dlg_list_insert_first(TrayBroadcastWindow, 13, line);
  dlg_show_top(TrayBroadcastWindow);
}

void tray_list_adapter_addresses() {
  net_list_local_addresses(TrayAddresses.entries, &TrayAddresses.count);
}
