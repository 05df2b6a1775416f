// Between the desktop layer's shared part (dialog state, loop, headless back end) and its GTK back
// end (platform-internal).
#pragma once
#include <string>
#include <vector>

#include "platform/desktop.h"

constexpr int DESKTOP_MAX_CONTROLS = 24;
constexpr int DESKTOP_TEXT_ROOM = 256;
constexpr int DESKTOP_LIST_MAX = 200;   // oldest list entries go beyond this

struct DialogItem {
  const DialogControl* def;
  std::u16string text;
  bool checked;
  int32_t selection;                 // list and drop-down list: selected entry, -1 none
  std::vector<std::u16string> entries;
  void* widget;                      // GTK widget
};

struct Dialog {
  bool in_use;
  bool modal;
  bool ended;
  bool sheet;                        // a property sheet around the page
  intptr_t result;
  const DialogTemplate* tmpl;
  DialogProc proc;
  std::u16string title;
  std::u16string tab_title;
  DialogItem items[DESKTOP_MAX_CONTROLS];
  int32_t item_count;
  // drawn text
  std::u16string drawn;
  uint32_t bg, fg;
  int32_t font_px;
  // headless geometry, pixels
  int32_t x, y, w, h;
  void* window;                      // GTK window
  void* area;                        // GTK drawing area of a drawn dialog
};

// Pixels of dialog units (the page's font at 96 dpi).
inline int32_t dlu_x(int32_t u) { return u * 7 / 4; }
inline int32_t dlu_y(int32_t u) { return u * 2; }

// Shared part, called by the GTK back end when the user acts.
void desktop_user_command(Dialog* d, int32_t id);    // a button, or IDOK/IDCANCEL of the frame
void desktop_user_text(Dialog* d, int index, const std::u16string& text);
void desktop_user_check(Dialog* d, int index, bool checked);
void desktop_user_select(Dialog* d, int index, int32_t selection);
void desktop_post_menu_command(WindowHandle owner, uint32_t id);
// Runs pending window messages and toolkit events once (modal loops of the back end); false once
// WM_QUIT has come.
bool desktop_pump(bool wait);
// Appends a line to the record file, when one is open.
void desktop_record(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// X11 calls of the GTK back end (desktop_x11.cpp).
bool x11_tray_present();
void x11_screen_saver_off();

// GTK back end.
bool gtkd_open();
void gtkd_close();
// Handles pending toolkit events; with wait, sleeps until one arrives or at most 10 ms.
void gtkd_pump(bool wait);
bool gtkd_taskbar_present();
bool gtkd_notify_icon(uint32_t action, const NotifyIconData* data);
void gtkd_popup_menu(const MenuItem* items, int32_t count, WindowHandle owner);
void gtkd_message_box(const char16_t* text, const char16_t* caption, bool error);
void gtkd_screen_saver_off();
void gtkd_screen_size(int32_t* width, int32_t* height);
bool gtkd_dialog_create(Dialog* d, Dialog* owner);
void gtkd_dialog_destroy(Dialog* d);
// The shared state of item index changed; the widget follows it.
void gtkd_item_changed(Dialog* d, int index);
void gtkd_focus_item(Dialog* d, int index);
void gtkd_list_inserted(Dialog* d, int index, bool first);
void gtkd_set_title(Dialog* d);
void gtkd_show_top(Dialog* d);
void gtkd_redraw(Dialog* d);
void gtkd_measure(const std::u16string& text, int32_t font_px, int32_t* w, int32_t* h);
void gtkd_window_rect(Dialog* d, int32_t* x, int32_t* y, int32_t* w, int32_t* h);
void gtkd_client_size(Dialog* d, int32_t* w, int32_t* h);
void gtkd_move(Dialog* d, int32_t x, int32_t y, int32_t w, int32_t h);
