// Desktop layer, shared part: the dialogs' control state (both back ends read and write it), the
// message loop that runs the hidden windows beside the toolkit, and the headless back end, which
// appends what would be shown to <dir>/shown.log and takes the user's actions from <dir>/input.
#include "platform/desktop.h"
#include "platform/desktop_internal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/text.h"
#include "platform/clock.h"
#include "platform/fs.h"

namespace {

constexpr int kMaxDialogs = 8;
constexpr int kMaxIcons = 4;
constexpr int kMaxMenuItems = 16;

bool g_headless = false;
bool g_quit = false;
int g_quit_code = 0;
Dialog g_dialogs[kMaxDialogs];

// Headless state.
FILE* g_record = nullptr;
char g_input_path[512];
long g_input_offset = 0;
bool g_taskbar = true;
NotifyIconData g_icons[kMaxIcons];
bool g_icon_used[kMaxIcons];
MenuItem g_menu[kMaxMenuItems];
int32_t g_menu_count = 0;
bool g_menu_open = false;
WindowHandle g_menu_owner = nullptr;

volatile sig_atomic_t g_session_ended = 0;
WindowHandle g_session_window = nullptr;

void on_session_end(int) { g_session_ended = 1; }

std::string utf8(const char16_t* s) {
  char out[2048];
  text_utf16_to_utf8(out, sizeof out, s ? s : u"");
  return out;
}

std::string utf8(const std::u16string& s) { return utf8(s.c_str()); }

std::u16string utf16(const char* s) {
  char16_t out[DESKTOP_TEXT_ROOM * 2];
  text_utf8_to_utf16(out, sizeof out / sizeof out[0], s);
  return out;
}


bool valid(DialogHandle d) { return d >= g_dialogs && d < g_dialogs + kMaxDialogs && d->in_use; }

int item_index(Dialog* d, int32_t id) {
  if (!valid(d)) return -1;
  for (int i = 0; i < d->item_count; ++i)
    if (d->items[i].def->id == id && id != -1) return i;
  return -1;
}

// The topmost open dialog of a resource (the one opened last).
Dialog* dialog_of(int32_t resource) {
  Dialog* found = nullptr;
  for (auto& d : g_dialogs)
    if (d.in_use && d.tmpl->resource == resource && (!found || &d > found)) found = &d;
  return found;
}

Dialog* dialog_new(const DialogTemplate* tmpl, DialogProc proc, bool modal) {
  for (auto& d : g_dialogs) {
    if (d.in_use) continue;
    d = Dialog{};
    d.in_use = true;
    d.modal = modal;
    d.tmpl = tmpl;
    d.proc = proc;
    d.title = tmpl->title ? tmpl->title : u"";
    d.item_count = tmpl->count < DESKTOP_MAX_CONTROLS ? tmpl->count : DESKTOP_MAX_CONTROLS;
    for (int i = 0; i < d.item_count; ++i) {
      d.items[i].def = &tmpl->controls[i];
      if (tmpl->controls[i].kind != CTL_PICTURE && tmpl->controls[i].text) d.items[i].text = tmpl->controls[i].text;
      d.items[i].selection = -1;
    }
    d.w = dlu_x(tmpl->w);
    d.h = dlu_y(tmpl->h);
    return &d;
  }
  return nullptr;
}

void dialog_free(Dialog* d) {
  if (!g_headless) gtkd_dialog_destroy(d);
  desktop_record("dialog close %d", d->tmpl->resource);
  *d = Dialog{};
}

void close_menu() {
  g_menu_open = false;
}

WindowHandle icon_window() {
  for (int i = 0; i < kMaxIcons; ++i)
    if (g_icon_used[i]) return g_icons[i].window;
  return nullptr;
}

void post_icon_mouse(uint32_t mouse) {
  for (int i = 0; i < kMaxIcons; ++i) {
    if (!g_icon_used[i]) continue;
    win_post_message(g_icons[i].window, g_icons[i].callback_message, g_icons[i].id, intptr_t(mouse));
    return;
  }
}

// One line of the input file.
void headless_command(char* line) {
  char* args = strchr(line, ' ');
  if (args) *args++ = 0; else args = line + strlen(line);
  int a = 0, b = 0;
  int consumed = 0;
  if (!strcmp(line, "click") || !strcmp(line, "rclick") || !strcmp(line, "dblclick")) {
    uint32_t mouse = line[0] == 'c' ? WM_LBUTTONDOWN : line[0] == 'r' ? WM_RBUTTONDOWN : WM_LBUTTONDBLCLK;
    if (icon_window()) post_icon_mouse(mouse);
    else desktop_record("click refused: no icon");
  } else if (!strcmp(line, "menu")) {
    uint32_t id = uint32_t(atoi(args));
    bool ok = false;
    for (int i = 0; g_menu_open && i < g_menu_count; ++i)
      if (g_menu[i].id == id && g_menu[i].enabled) ok = true;
    desktop_record("menu %s %u", ok ? "chose" : "refused", id);
    if (ok) desktop_post_menu_command(g_menu_owner, id);
    close_menu();
  } else if (!strcmp(line, "taskbar")) {
    g_taskbar = atoi(args) != 0;
    if (!g_taskbar)
      for (bool& used : g_icon_used) used = false;   // the icons go with the tray
    desktop_record("taskbar %d", g_taskbar ? 1 : 0);
  } else if (sscanf(args, "%d %d %n", &a, &b, &consumed) >= 2) {
    Dialog* d = dialog_of(a);
    int index = d ? item_index(d, b) : -1;
    if (!strcmp(line, "press")) {
      if (d && (b == IDOK || b == IDCANCEL || index >= 0)) desktop_user_command(d, b);
      else desktop_record("press refused %d %d", a, b);
    } else if (index < 0) {
      desktop_record("%s refused %d %d", line, a, b);
    } else if (!strcmp(line, "set")) {
      desktop_user_text(d, index, utf16(args + consumed));
    } else if (!strcmp(line, "check")) {
      desktop_user_check(d, index, atoi(args + consumed) != 0);
    } else if (!strcmp(line, "select")) {
      desktop_user_select(d, index, atoi(args + consumed));
    }
  } else if (!strcmp(line, "close")) {
    Dialog* d = dialog_of(atoi(args));
    if (d) desktop_user_command(d, IDCANCEL);
  }
}

// Takes the next complete line written to the input, if any: one per turn of the loop, so the
// messages a line posts are handled before the next line. A command may open a modal dialog whose
// loop reads the lines behind it.
void headless_read_input() {
  FILE* f = fopen(g_input_path, "rb");
  if (!f) return;
  char line[1024];
  bool got = fseek(f, g_input_offset, SEEK_SET) == 0 && fgets(line, sizeof line, f);
  fclose(f);
  if (!got) return;
  size_t n = strlen(line);
  if (n == 0 || line[n - 1] != '\n') return;   // an incomplete line waits
  g_input_offset += long(n);
  line[--n] = 0;
  if (n && line[n - 1] == '\r') line[--n] = 0;
  if (n) headless_command(line);
}

// Runs the pending window messages and the desktop's events once; with wait, sleeps a little
// when nothing was pending. False once WM_QUIT has come.
bool pump(bool wait) {
  WindowMessage m;
  bool any = false;
  if (g_session_ended && g_session_window) {
    g_session_ended = 0;
    win_post_message(g_session_window, WM_CLOSE, 0, 0);
  }
  while (!g_quit && win_peek_message(&m)) {
    any = true;
    if (m.message == WM_QUIT && !m.window) {
      g_quit = true;
      g_quit_code = int(m.wparam);
      break;
    }
    win_translate_message(&m);
    win_dispatch_message(&m);
  }
  if (g_quit) return false;
  if (g_headless) {
    headless_read_input();
    if (wait && !any) clock_sleep_ms(10);
  } else {
    gtkd_pump(wait && !any);
  }
  return !g_quit;
}

void init_dialog(Dialog* d) {
  desktop_record("dialog open %d %s", d->tmpl->resource, utf8(d->title).c_str());
  d->proc(d, WM_INITDIALOG, 0, 0);
}

intptr_t run_modal(Dialog* d) {
  while (d->in_use && !d->ended && pump(true)) {}
  intptr_t result = d->ended ? d->result : intptr_t(IDCANCEL);
  if (d->in_use) dialog_free(d);
  return result;
}

// Items of the headless geometry measure: 12 pixels a character, font_px high.
void headless_measure(const std::u16string& text, int32_t font_px, int32_t* w, int32_t* h) {
  *w = int32_t(text.size()) * font_px / 2;
  *h = font_px;
}

}  // namespace

// ---- Called by the back ends

void desktop_record(const char* fmt, ...) {
  if (!g_record) return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(g_record, fmt, ap);
  va_end(ap);
  fputc('\n', g_record);
  fflush(g_record);
}

bool desktop_pump(bool wait) { return pump(wait); }

void desktop_user_command(Dialog* d, int32_t id) {
  if (!valid(d)) return;
  desktop_record("press %d %d", d->tmpl->resource, id);
  if (d->sheet && (id == IDOK || id == IDCANCEL)) {
    if (id == IDOK && d->proc(d, WM_NOTIFY_APPLY, 0, 0) == PSNRET_INVALID_NOCHANGEPAGE) return;
    if (valid(d)) dlg_end(d, id);
    return;
  }
  d->proc(d, WM_COMMAND, uintptr_t(id), 0);
}

void desktop_user_text(Dialog* d, int index, const std::u16string& text) {
  d->items[index].text = text.substr(0, DESKTOP_TEXT_ROOM - 1);
  desktop_record("typed %d %d %s", d->tmpl->resource, d->items[index].def->id, utf8(text).c_str());
}

void desktop_user_check(Dialog* d, int index, bool checked) {
  d->items[index].checked = checked;
  desktop_record("clicked %d %d %d", d->tmpl->resource, d->items[index].def->id, checked ? 1 : 0);
}

void desktop_user_select(Dialog* d, int index, int32_t selection) {
  DialogItem& it = d->items[index];
  it.selection = selection >= 0 && selection < int32_t(it.entries.size()) ? selection : -1;
  desktop_record("chose %d %d %d", d->tmpl->resource, it.def->id, it.selection);
}

void desktop_post_menu_command(WindowHandle owner, uint32_t id) {
  win_post_message(owner, WM_COMMAND, id, 0);
}

// ---- Start and loop

const char* desktop_headless_request() {
  const char* dir = getenv("VELLMAR_TRAY_HEADLESS");
  return dir && *dir ? dir : nullptr;
}

bool desktop_test_watcher() {
  const char* w = getenv("VELLMAR_TRAY_WATCHER");
  return g_headless && w && strcmp(w, "1") == 0;
}

bool desktop_open(const char* record_dir) {
  g_quit = false;
  if (record_dir) {
    g_headless = true;
    char path[512];
    snprintf(path, sizeof path, "%s/shown.log", record_dir);
    g_record = fopen(path, "ab");
    snprintf(g_input_path, sizeof g_input_path, "%s/input", record_dir);
    // Only what is written from now on is taken.
    FILE* f = fopen(g_input_path, "rb");
    g_input_offset = 0;
    if (f) {
      if (fseek(f, 0, SEEK_END) == 0) g_input_offset = ftell(f);
      fclose(f);
    }
    g_taskbar = true;
    return g_record != nullptr;
  }
  g_headless = false;
  // A record of what is shown may be kept beside the real desktop too (for tests).
  const char* record_file = getenv("VELLMAR_TRAY_RECORD");
  if (record_file && *record_file) g_record = fopen(record_file, "ab");
  return gtkd_open();
}

void desktop_close() {
  for (auto& d : g_dialogs)
    if (d.in_use) dialog_free(&d);
  if (!g_headless) gtkd_close();
  if (g_record) fclose(g_record);
  g_record = nullptr;
  for (bool& used : g_icon_used) used = false;
}

bool desktop_is_headless() { return g_headless; }

void desktop_close_on_session_end(WindowHandle window) {
  g_session_window = window;
  struct sigaction sa {};
  sa.sa_handler = on_session_end;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGTERM, SIGHUP, SIGINT}) sigaction(s, &sa, nullptr);
}

int desktop_run_loop() {
  while (pump(true)) {}
  return g_quit_code;
}

// ---- Icon

bool desktop_taskbar_present() { return g_headless ? g_taskbar : gtkd_taskbar_present(); }

bool desktop_notify_icon(uint32_t action, const NotifyIconData* data) {
  const char* names[] = {"add", "modify", "delete"};
  if (!g_headless) {
    bool ok = gtkd_notify_icon(action, data);
    if (action <= NIM_DELETE)
      desktop_record("icon %s%s id=%u icon=%d tip=%s", names[action], ok ? "" : " refused", data->id, data->icon,
                     utf8(data->tip).c_str());
    return ok;
  }
  int slot = -1;
  for (int i = 0; i < kMaxIcons; ++i)
    if (g_icon_used[i] && g_icons[i].window == data->window && g_icons[i].id == data->id) slot = i;
  bool ok = g_taskbar;
  if (ok && action == NIM_ADD) {
    ok = slot < 0;
    for (int i = 0; ok && slot < 0 && i < kMaxIcons; ++i)
      if (!g_icon_used[i]) slot = i;
    ok = ok && slot >= 0;
    if (ok) {
      g_icons[slot] = *data;
      g_icon_used[slot] = true;
    }
  } else if (ok && action == NIM_MODIFY) {
    ok = slot >= 0;
    if (ok) {
      if (data->flags & NIF_ICON) {
        g_icons[slot].icon = data->icon;
        memcpy(g_icons[slot].icon_path, data->icon_path, sizeof data->icon_path);
      }
      if (data->flags & NIF_TIP) memcpy(g_icons[slot].tip, data->tip, sizeof data->tip);
      if (data->flags & NIF_MESSAGE) g_icons[slot].callback_message = data->callback_message;
    }
  } else if (ok && action == NIM_DELETE) {
    ok = slot >= 0;
    if (ok) g_icon_used[slot] = false;
  } else {
    ok = false;
  }
  if (action <= NIM_DELETE) {
    const NotifyIconData& shown = ok && action != NIM_DELETE ? g_icons[slot] : *data;
    desktop_record("icon %s%s id=%u icon=%d tip=%s", names[action], ok ? "" : " refused", data->id, shown.icon,
           utf8(shown.tip).c_str());
  }
  return ok;
}

// ---- Menu, boxes, browser

void desktop_track_popup_menu(const MenuItem* items, int32_t count, WindowHandle owner) {
  g_menu_count = count < kMaxMenuItems ? count : kMaxMenuItems;
  memcpy(g_menu, items, sizeof(MenuItem) * size_t(g_menu_count));
  g_menu_open = true;
  g_menu_owner = owner;
  desktop_record("menu open %d", g_menu_count);
  for (int i = 0; i < g_menu_count; ++i) {
    if (g_menu[i].id == 0) desktop_record("menu separator");
    else
      desktop_record("menu item %u checked=%d enabled=%d %s", g_menu[i].id, g_menu[i].checked ? 1 : 0,
             g_menu[i].enabled ? 1 : 0, utf8(g_menu[i].text).c_str());
  }
  if (!g_headless) gtkd_popup_menu(items, count, owner);
}

void desktop_message_box(const char16_t* text, const char16_t* caption, bool error) {
  desktop_record("msgbox %s%s: %s", error ? "error " : "", utf8(caption).c_str(), utf8(text).c_str());
  if (!g_headless) gtkd_message_box(text, caption, error);
}

namespace {

// Starts the browser on one argument (the address, or a page's path) and records it.
bool launch_browser(const char* argument) {
  desktop_record("open %s", argument);
  if (g_headless) return true;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // A grandchild of its own session, so nothing waits for the browser.
    if (fork() != 0) _exit(0);
    setsid();
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    execlp("xdg-open", "xdg-open", argument, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  return true;
}

// The folder of the pages, made 0700 and this user's own (room bytes); false when there is none.
bool page_folder(char* out, size_t room) {
  const char* places[2][2] = {{getenv("XDG_RUNTIME_DIR"), "vellmar-tray"}, {getenv("HOME"), ".vellmar-tray"}};
  for (const auto& place : places) {
    if (!place[0] || place[0][0] != '/') continue;
    if (snprintf(out, room, "%s/%s", place[0], place[1]) >= int(room)) continue;
    if (mkdir(out, 0700) != 0 && errno != EEXIST) continue;
    struct stat st;
    if (lstat(out, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) continue;
    if ((st.st_mode & 07777) == 0700 || chmod(out, 0700) == 0) return true;
  }
  return false;
}

// The address as an HTML attribute value.
std::string html_attribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

bool desktop_open_url(const char16_t* url) { return launch_browser(utf8(url).c_str()); }

bool desktop_open_url_by_page(const char16_t* url, char* page, uint32_t room) {
  if (room) page[0] = 0;
  char folder[512];
  if (!page_folder(folder, sizeof folder) ||
      snprintf(page, room, "%s/web-monitor-%d.html", folder, int(getpid())) >= int(room)) {
    if (room) page[0] = 0;
    desktop_record("open refused: no private folder for the page");
    return false;
  }
  std::string target = html_attribute(utf8(url));
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                     "<meta name=\"referrer\" content=\"no-referrer\">"
                     "<meta http-equiv=\"refresh\" content=\"0; url=" + target + "\"></head>\n"
                     "<body><a href=\"" + target + "\">Continue</a></body></html>\n";
  FILE* f = fs_open_private(page, "wb");
  bool written = f && fwrite(html.data(), 1, html.size(), f) == html.size();
  if (f && fclose(f) != 0) written = false;
  if (!written) {
    remove(page);
    page[0] = 0;
    desktop_record("open refused: the page could not be written");
    return false;
  }
  return launch_browser(page);
}

void desktop_remove_page(const char* page) {
  if (page && *page) unlink(page);
}

void desktop_screen_saver_off() {
  desktop_record("screensaver off");
  if (!g_headless) gtkd_screen_saver_off();
}

void desktop_session_key(char* out, uint32_t room) {
  const char* display = getenv("DISPLAY");
  snprintf(out, room, "%u:%s", unsigned(getuid()), display ? display : "");
}

void desktop_screen_size(int32_t* width, int32_t* height) {
  if (g_headless) {
    *width = 1024;
    *height = 768;
    return;
  }
  gtkd_screen_size(width, height);
}

// ---- Dialogs

DialogHandle dlg_create(const DialogTemplate* tmpl, WindowHandle, DialogProc proc) {
  Dialog* d = dialog_new(tmpl, proc, false);
  if (!d) return nullptr;
  if (!g_headless && !gtkd_dialog_create(d, nullptr)) {
    *d = Dialog{};
    return nullptr;
  }
  init_dialog(d);
  return valid(d) ? d : nullptr;
}

intptr_t dlg_run_modal(const DialogTemplate* tmpl, DialogHandle owner, DialogProc proc) {
  Dialog* d = dialog_new(tmpl, proc, true);
  if (!d) return -1;
  if (!g_headless && !gtkd_dialog_create(d, valid(owner) ? owner : nullptr)) {
    *d = Dialog{};
    return -1;
  }
  init_dialog(d);
  return run_modal(d);
}

intptr_t dlg_property_sheet(const char16_t* caption, const char16_t* tab_title, const DialogTemplate* page,
                            DialogProc proc) {
  Dialog* d = dialog_new(page, proc, true);
  if (!d) return -1;
  d->sheet = true;
  d->title = caption ? caption : u"";
  d->tab_title = tab_title ? tab_title : u"";
  if (!g_headless && !gtkd_dialog_create(d, nullptr)) {
    *d = Dialog{};
    return -1;
  }
  desktop_record("sheet %s tab=%s", utf8(d->title).c_str(), utf8(d->tab_title).c_str());
  init_dialog(d);
  return run_modal(d);
}

void dlg_end(DialogHandle d, intptr_t result) {
  if (!valid(d)) return;
  if (d->modal) {
    d->ended = true;
    d->result = result;
    if (!g_headless) gtkd_dialog_destroy(d);   // the modal loop frees the record
    return;
  }
  dialog_free(d);
}

bool dlg_is_open(DialogHandle d) { return valid(d) && !d->ended; }

void dlg_set_title(DialogHandle d, const char16_t* title) {
  if (!valid(d)) return;
  d->title = title ? title : u"";
  desktop_record("title %d %s", d->tmpl->resource, utf8(d->title).c_str());
  if (!g_headless) gtkd_set_title(d);
}

void dlg_show_top(DialogHandle d) {
  if (!valid(d)) return;
  desktop_record("raise %d", d->tmpl->resource);
  if (!g_headless) gtkd_show_top(d);
}

void dlg_set_item_text(DialogHandle d, int32_t id, const char16_t* text) {
  int i = item_index(d, id);
  if (i < 0) return;
  d->items[i].text = text ? text : u"";
  if (d->items[i].text.size() >= DESKTOP_TEXT_ROOM) d->items[i].text.resize(DESKTOP_TEXT_ROOM - 1);
  desktop_record("text %d %d %s", d->tmpl->resource, id, utf8(d->items[i].text).c_str());
  if (!g_headless) gtkd_item_changed(d, i);
}

void dlg_focus_item(DialogHandle d, int32_t id) {
  int i = item_index(d, id);
  if (i < 0) return;
  desktop_record("focus %d %d", d->tmpl->resource, id);
  if (!g_headless) gtkd_focus_item(d, i);
}

uint32_t dlg_get_item_text(DialogHandle d, int32_t id, char16_t* out, uint32_t room) {
  if (room == 0) return 0;
  out[0] = 0;
  int i = item_index(d, id);
  if (i < 0) return 0;
  return uint32_t(text_copy16(out, room, d->items[i].text.c_str()));
}

void dlg_check(DialogHandle d, int32_t id, bool checked) {
  int i = item_index(d, id);
  if (i < 0) return;
  d->items[i].checked = checked;
  desktop_record("check %d %d %d", d->tmpl->resource, id, checked ? 1 : 0);
  if (!g_headless) gtkd_item_changed(d, i);
}

bool dlg_is_checked(DialogHandle d, int32_t id) {
  int i = item_index(d, id);
  return i >= 0 && d->items[i].checked;
}

void dlg_list_add(DialogHandle d, int32_t id, const char16_t* text) {
  int i = item_index(d, id);
  if (i < 0 || int32_t(d->items[i].entries.size()) >= DESKTOP_LIST_MAX) return;
  d->items[i].entries.push_back(text ? text : u"");
  desktop_record("list %d %d add %s", d->tmpl->resource, id, utf8(text).c_str());
  if (!g_headless) gtkd_list_inserted(d, i, false);
}

void dlg_list_insert_first(DialogHandle d, int32_t id, const char16_t* text) {
  int i = item_index(d, id);
  if (i < 0) return;
  auto& e = d->items[i].entries;
  e.insert(e.begin(), text ? text : u"");
  if (int32_t(e.size()) > DESKTOP_LIST_MAX) e.pop_back();
  desktop_record("list %d %d first %s", d->tmpl->resource, id, utf8(text).c_str());
  if (!g_headless) gtkd_list_inserted(d, i, true);
}

void dlg_list_select(DialogHandle d, int32_t id, int32_t index) {
  int i = item_index(d, id);
  if (i < 0) return;
  DialogItem& it = d->items[i];
  it.selection = index >= 0 && index < int32_t(it.entries.size()) ? index : -1;
  desktop_record("select %d %d %d", d->tmpl->resource, id, it.selection);
  if (!g_headless) gtkd_item_changed(d, i);
}

int32_t dlg_list_selection(DialogHandle d, int32_t id) {
  int i = item_index(d, id);
  return i < 0 ? -1 : d->items[i].selection;
}

void dlg_draw_centered_text(DialogHandle d, const char16_t* text, uint32_t bg, uint32_t fg, int32_t font_px,
                            int32_t* text_w, int32_t* text_h) {
  *text_w = *text_h = 0;
  if (!valid(d)) return;
  d->drawn = text ? text : u"";
  d->bg = bg;
  d->fg = fg;
  d->font_px = font_px;
  desktop_record("draw %d %s fg=%06x bg=%06x", d->tmpl->resource, utf8(d->drawn).c_str(), unsigned(fg), unsigned(bg));
  if (g_headless) {
    headless_measure(d->drawn, font_px, text_w, text_h);
  } else {
    gtkd_measure(d->drawn, font_px, text_w, text_h);
    gtkd_redraw(d);
  }
}

void dlg_client_size(DialogHandle d, int32_t* width, int32_t* height) {
  *width = *height = 0;
  if (!valid(d)) return;
  if (g_headless) {
    *width = d->w;
    *height = d->h;
  } else {
    gtkd_client_size(d, width, height);
  }
}

void dlg_window_rect(DialogHandle d, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  *x = *y = *width = *height = 0;
  if (!valid(d)) return;
  if (g_headless) {
    *x = d->x;
    *y = d->y;
    *width = d->w;
    *height = d->h;
  } else {
    gtkd_window_rect(d, x, y, width, height);
  }
}

void dlg_move(DialogHandle d, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!valid(d)) return;
  d->x = x;
  d->y = y;
  d->w = width;
  d->h = height;
  desktop_record("move %d %d %d %d %d", d->tmpl->resource, x, y, width, height);
  if (!g_headless) gtkd_move(d, x, y, width, height);
}
