// The desktop for the tray program: the notification-area icon, the popup menu, message boxes,
// dialogs built from resource tables, the browser, the screen saver and the desktop user's
// administrator test. Two back ends are chosen at start: GTK 3 on X11, and a headless one that
// records what would be shown into a file and takes the user's clicks and typing from another
// (for tests). Everything runs on the thread of the message loop.
#pragma once
#include <cstdint>

#include "platform/window.h"

enum : uint32_t {
  WM_NOTIFY_APPLY = WM_USER + 0x300,   // a property page's OK (the sheet's apply notification)
  WM_INITDIALOG = 0x0110,
  WM_COMMAND = 0x0111,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONDBLCLK = 0x0203,
  WM_RBUTTONDOWN = 0x0204,
};

enum : int32_t { IDOK = 1, IDCANCEL = 2 };

// A property page's answer to WM_NOTIFY_APPLY: the sheet closes, or stays open (the page has said
// what is wrong and put the focus on it).
enum : intptr_t { PSNRET_NOERROR = 0, PSNRET_INVALID_NOCHANGEPAGE = 2 };

// ---- Start and the loop

// The folder named by VELLMAR_TRAY_HEADLESS (the headless back end's files), or null for GTK.
const char* desktop_headless_request();
// Headless only, for tests: VELLMAR_TRAY_WATCHER=1 makes the desktop user count as no administrator.
bool desktop_test_watcher();
// Chooses the back end: headless when record_dir is given (the record file "shown.log" and the
// input file "input" live there), GTK otherwise. False when the display cannot be opened.
bool desktop_open(const char* record_dir);
void desktop_close();
bool desktop_is_headless();
// From now on the end of the session (SIGTERM, SIGHUP, SIGINT) becomes WM_CLOSE to the window.
void desktop_close_on_session_end(WindowHandle window);
// Runs the hidden windows' messages together with the desktop's events until WM_QUIT; returns its
// value. Modal dialogs run the same pump inside.
int desktop_run_loop();

// ---- Notification icon

enum : uint32_t { NIM_ADD = 0, NIM_MODIFY = 1, NIM_DELETE = 2 };
enum : uint32_t { NIF_MESSAGE = 1, NIF_ICON = 2, NIF_TIP = 4 };

struct NotifyIconData {
  WindowHandle window;        // receives callback_message, wParam the id, lParam the mouse message
  uint32_t id;
  uint32_t flags;             // NIF_ bits
  uint32_t callback_message;
  int32_t icon;               // resource number, also named in the record
  char icon_path[300];        // the picture (PNG), UTF-8
  char16_t tip[128];
};

// True while a notification area (system tray) is there to hold icons.
bool desktop_taskbar_present();
// Adds, modifies or deletes the icon; false when the shell refuses (no tray, id taken, unknown id).
bool desktop_notify_icon(uint32_t action, const NotifyIconData* data);

// ---- Popup menu

struct MenuItem {
  uint32_t id;                // 0: separator
  char16_t text[32];
  bool checked;
  bool enabled;
};

// Opens the menu at the pointer; a chosen item posts WM_COMMAND with its id to the owner.
void desktop_track_popup_menu(const MenuItem* items, int32_t count, WindowHandle owner);

// ---- Message box, browser, screen saver, user

// A modal message box with one OK button; error selects the error icon.
void desktop_message_box(const char16_t* text, const char16_t* caption, bool error);
// Opens the address with the desktop's default browser; false when nothing could be started.
bool desktop_open_url(const char16_t* url);
// Opens the address with the browser by way of a page only this user may read, so that the address
// (it may carry a login) is on no command line: the page, a redirect to the address, is written as
// "web-monitor-<pid>.html" into a 0700 folder "vellmar-tray" under $XDG_RUNTIME_DIR, else
// ".vellmar-tray" in the home folder, and the browser is handed its path. The path goes to page
// (room bytes) for desktop_remove_page. False when no page could be written or nothing started.
bool desktop_open_url_by_page(const char16_t* url, char* page, uint32_t room);
// Removes a page that desktop_open_url_by_page wrote.
void desktop_remove_page(const char* page);
// Switches the screen saver off.
void desktop_screen_saver_off();
// "<uid>:<display>" of the desktop session this process belongs to (room bytes), for names that
// must be unique per user and display.
void desktop_session_key(char* out, uint32_t room);
// Size of the desktop's work area in pixels.
void desktop_screen_size(int32_t* width, int32_t* height);

// ---- Dialogs

typedef struct Dialog* DialogHandle;
typedef intptr_t (*DialogProc)(DialogHandle dialog, uint32_t message, uintptr_t wparam, intptr_t lparam);

enum DialogControlKind : uint8_t {
  CTL_STATIC,          // text
  CTL_STATIC_RIGHT,    // right-aligned text
  CTL_GROUP,           // group box
  CTL_CHECK,           // auto check box
  CTL_EDIT,
  CTL_PASSWORD,        // edit that hides its text
  CTL_BUTTON,          // push button: WM_COMMAND with its id
  CTL_DROPLIST,        // drop-down list
  CTL_LIST,            // list box
  CTL_PICTURE,         // image from a file
};

struct DialogControl {
  int32_t id;          // -1 when the control has none
  DialogControlKind kind;
  const char16_t* text;  // resource text; for CTL_PICTURE the resource number as text
  int16_t x, y, w, h;    // dialog units
};

enum : uint32_t {
  DLG_TOPMOST = 1,     // stays above other windows
  DLG_TOOL = 2,        // tool-window frame
  DLG_CENTER = 4,
};

struct DialogTemplate {
  int32_t resource;    // resource number, names the dialog in the record
  const char16_t* title;
  int16_t w, h;        // dialog units
  const char* font;    // face the back end uses (a packaged substitute)
  int16_t font_points;
  bool bold;
  uint32_t style;      // DLG_ bits
  const DialogControl* controls;
  int32_t count;
  const char* picture_path;  // file of the CTL_PICTURE control, UTF-8, or null
};

// Modeless dialog: WM_INITDIALOG has been handled when it returns; null on failure.
DialogHandle dlg_create(const DialogTemplate* tmpl, WindowHandle owner, DialogProc proc);
// Modal dialog over its owner (a dialog or null); returns the value given to dlg_end.
intptr_t dlg_run_modal(const DialogTemplate* tmpl, DialogHandle owner, DialogProc proc);
// Property sheet with one page: the page gets WM_INITDIALOG, its controls' WM_COMMAND, and
// WM_NOTIFY_APPLY on OK before the sheet closes (unless it answers PSNRET_INVALID_NOCHANGEPAGE).
// Returns IDOK or IDCANCEL.
intptr_t dlg_property_sheet(const char16_t* caption, const char16_t* tab_title, const DialogTemplate* page,
                            DialogProc proc);
// Ends a modal dialog (its loop returns result) or destroys a modeless one.
void dlg_end(DialogHandle dialog, intptr_t result);
bool dlg_is_open(DialogHandle dialog);
void dlg_set_title(DialogHandle dialog, const char16_t* title);
void dlg_show_top(DialogHandle dialog);
void dlg_set_item_text(DialogHandle dialog, int32_t id, const char16_t* text);
// Puts the keyboard focus on the control, an edit's whole text selected.
void dlg_focus_item(DialogHandle dialog, int32_t id);
// The control's text into out (room units with the terminator); the units copied.
uint32_t dlg_get_item_text(DialogHandle dialog, int32_t id, char16_t* out, uint32_t room);
void dlg_check(DialogHandle dialog, int32_t id, bool checked);
bool dlg_is_checked(DialogHandle dialog, int32_t id);
void dlg_list_add(DialogHandle dialog, int32_t id, const char16_t* text);
void dlg_list_insert_first(DialogHandle dialog, int32_t id, const char16_t* text);
void dlg_list_select(DialogHandle dialog, int32_t id, int32_t index);
// Index of the selected entry, -1 when none.
int32_t dlg_list_selection(DialogHandle dialog, int32_t id);

// Drawn dialogs (no controls): fills the client area with bg and draws the text centred in fg
// (0xRRGGBB) with a bold face of font_px pixels; the text's size goes to text_w and text_h.
void dlg_draw_centered_text(DialogHandle dialog, const char16_t* text, uint32_t bg, uint32_t fg, int32_t font_px,
                            int32_t* text_w, int32_t* text_h);
void dlg_client_size(DialogHandle dialog, int32_t* width, int32_t* height);
// Window rectangle in screen pixels; moving and resizing.
void dlg_window_rect(DialogHandle dialog, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
void dlg_move(DialogHandle dialog, int32_t x, int32_t y, int32_t width, int32_t height);
