// GTK 3 back end of the desktop layer on X11. The notification icon is a GtkStatusIcon, which GTK 3
// deprecates; this file alone is allowed the deprecated calls. A system tray is present while some
// client owns the _NET_SYSTEM_TRAY_S<screen> selection; when it goes, the icons go with it, as a
// shell's do when its taskbar restarts.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include "platform/desktop_internal.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <gtk/gtk.h>

#include "platform/text.h"

namespace {

constexpr int kMaxIcons = 4;

struct Icon {
  GtkStatusIcon* icon;
  WindowHandle window;
  uint32_t id;
  uint32_t callback_message;
  bool embedded_reported;
};

Icon g_icons[kMaxIcons];
GtkWidget* g_menu = nullptr;
GdkEvent* g_last_press = nullptr;   // the icon click that opens the menu: its time and device grab
guint g_wakeup = 0;
bool g_updating = false;   // widgets being set from the shared state: their signals are ignored

std::string utf8(const char16_t* s) {
  char out[2048];
  text_utf16_to_utf8(out, sizeof out, s ? s : u"");
  return out;
}

std::u16string utf16(const char* s) {
  char16_t out[DESKTOP_TEXT_ROOM * 2];
  text_utf8_to_utf16(out, sizeof out / sizeof out[0], s ? s : "");
  return out;
}

// "&Save" becomes the mnemonic form "_Save".
std::string mnemonic(const std::u16string& s) {
  std::string t = utf8(s.c_str());
  for (char& c : t)
    if (c == '&') c = '_';
  return t;
}

gboolean keep_waking(gpointer) { return G_SOURCE_CONTINUE; }

void drop_icon(Icon& i) {
  if (i.icon) g_object_unref(i.icon);
  i = Icon{};
}

// ---- Icon signals

// The last left press on an icon: a second one close to it in time and place is a double click,
// wherever it lands (the menu that the first press opened holds the pointer by then).
struct LeftPress {
  bool valid;
  bool doubled;    // the double click has been posted: the rest of the sequence is ignored
  guint32 time;
  double x, y;     // screen pixels
  int icon;        // index in g_icons
};
LeftPress g_left_press;

bool second_press(const GdkEventButton* event) {
  if (!g_left_press.valid || event->button != 1) return false;
  gint time = 400, distance = 5;
  g_object_get(gtk_settings_get_default(), "gtk-double-click-time", &time, "gtk-double-click-distance", &distance,
               nullptr);
  return event->time - g_left_press.time <= guint32(time) && fabs(event->x_root - g_left_press.x) <= distance &&
         fabs(event->y_root - g_left_press.y) <= distance;
}

// A left double click: the menu that the first press opened closes, and the icon's window gets
// WM_LBUTTONDBLCLK once.
void post_double_click() {
  g_left_press.doubled = true;
  if (g_menu && gtk_widget_get_visible(g_menu)) gtk_menu_shell_deactivate(GTK_MENU_SHELL(g_menu));
  int k = g_left_press.icon;
  if (k < 0 || k >= kMaxIcons || !g_icons[k].icon) return;
  win_post_message(g_icons[k].window, g_icons[k].callback_message, g_icons[k].id, intptr_t(WM_LBUTTONDBLCLK));
}

gboolean icon_pressed(GtkStatusIcon* icon, GdkEventButton* event, gpointer) {
  for (int k = 0; k < kMaxIcons; ++k) {
    Icon& i = g_icons[k];
    if (i.icon != icon) continue;
    if (event->type == GDK_3BUTTON_PRESS) return TRUE;
    if (second_press(event) && g_left_press.icon == k) {
      // The second press, or its double-press event: one double click.
      if (!g_left_press.doubled) post_double_click();
      return TRUE;
    }
    if (event->type == GDK_2BUTTON_PRESS) return TRUE;   // of a pair that was not a double click
    if (event->button == 1) g_left_press = LeftPress{true, false, event->time, event->x_root, event->y_root, k};
    else g_left_press.valid = false;
    uint32_t mouse = event->button == 3 ? WM_RBUTTONDOWN : WM_LBUTTONDOWN;
    if (g_last_press) gdk_event_free(g_last_press);
    g_last_press = gdk_event_copy(reinterpret_cast<GdkEvent*>(event));
    win_post_message(i.window, i.callback_message, i.id, intptr_t(mouse));
    return TRUE;
  }
  return FALSE;
}

// A press while the menu is open: the second press of a double click on the icon closes the menu
// and opens what a double click opens; any other press is the menu's.
gboolean menu_pressed(GtkWidget*, GdkEventButton* event, gpointer) {
  if (event->type == GDK_3BUTTON_PRESS || !second_press(event)) return FALSE;
  if (!g_left_press.doubled) post_double_click();
  return TRUE;
}

void menu_closed(GtkMenuShell*, gpointer) { desktop_record("menu closed"); }

void icon_embedded(GObject* object, GParamSpec*, gpointer) {
  GtkStatusIcon* icon = GTK_STATUS_ICON(object);
  for (Icon& i : g_icons) {
    if (i.icon != icon) continue;
    GdkRectangle area{};
    bool embedded = gtk_status_icon_is_embedded(icon);
    if (embedded) gtk_status_icon_get_geometry(icon, nullptr, &area, nullptr);
    desktop_record("icon embedded id=%u %d at %d %d %d %d", i.id, embedded ? 1 : 0, area.x, area.y, area.width,
                   area.height);
  }
}

// ---- Menu

void menu_item_chosen(GtkMenuItem* item, gpointer owner) {
  uint32_t id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "vellmar-id"));
  desktop_post_menu_command(static_cast<WindowHandle>(owner), id);
}

// The menu has been drawn on the screen (so its items have their places): the items and where
// each one is, in screen pixels; once per popup.
bool g_menu_reported = false;
gboolean menu_drawn(GtkWidget* menu, cairo_t*, gpointer) {
  if (g_menu_reported) return FALSE;
  g_menu_reported = true;
  GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(menu));
  int ox = 0, oy = 0;
  if (GdkWindow* w = gtk_widget_get_window(top)) gdk_window_get_origin(w, &ox, &oy);
  GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
  int items = 0, separators = 0;
  for (GList* c = children; c; c = c->next) {
    GtkWidget* item = GTK_WIDGET(c->data);
    if (GTK_IS_SEPARATOR_MENU_ITEM(item)) {
      ++separators;
      continue;
    }
    ++items;
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(item, top, 0, 0, &x, &y);
    GtkAllocation a;
    gtk_widget_get_allocation(item, &a);
    desktop_record("menu item at %u %d %d %d %d", GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "vellmar-id")),
                   ox + x, oy + y, a.width, a.height);
  }
  g_list_free(children);
  desktop_record("menu shown items=%d separators=%d", items, separators);
  return FALSE;
}

// ---- Dialog signals

Dialog* dialog_of(gpointer p) { return static_cast<Dialog*>(p); }

int item_of(Dialog* d, GtkWidget* w) {
  for (int i = 0; i < d->item_count; ++i)
    if (d->items[i].widget == w) return i;
  return -1;
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer p) {
  desktop_user_command(dialog_of(p), IDCANCEL);
  return TRUE;
}

gboolean on_key(GtkWidget*, GdkEventKey* event, gpointer p) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  desktop_user_command(dialog_of(p), IDCANCEL);
  return TRUE;
}

void on_clicked(GtkButton* b, gpointer p) {
  Dialog* d = dialog_of(p);
  int i = item_of(d, GTK_WIDGET(b));
  if (i >= 0) desktop_user_command(d, d->items[i].def->id);
}

void on_ok(GtkButton*, gpointer p) { desktop_user_command(dialog_of(p), IDOK); }
void on_cancel(GtkButton*, gpointer p) { desktop_user_command(dialog_of(p), IDCANCEL); }

void on_toggled(GtkToggleButton* b, gpointer p) {
  if (g_updating) return;
  Dialog* d = dialog_of(p);
  int i = item_of(d, GTK_WIDGET(b));
  if (i >= 0) desktop_user_check(d, i, gtk_toggle_button_get_active(b));
}

void on_changed(GtkEditable* e, gpointer p) {
  if (g_updating) return;
  Dialog* d = dialog_of(p);
  int i = item_of(d, GTK_WIDGET(e));
  if (i >= 0) desktop_user_text(d, i, utf16(gtk_entry_get_text(GTK_ENTRY(e))));
}

void on_combo(GtkComboBox* c, gpointer p) {
  if (g_updating) return;
  Dialog* d = dialog_of(p);
  int i = item_of(d, GTK_WIDGET(c));
  if (i >= 0) desktop_user_select(d, i, gtk_combo_box_get_active(c));
}

gboolean on_draw(GtkWidget* area, cairo_t* cr, gpointer p) {
  Dialog* d = dialog_of(p);
  int w = gtk_widget_get_allocated_width(area), h = gtk_widget_get_allocated_height(area);
  cairo_set_source_rgb(cr, ((d->bg >> 16) & 255) / 255.0, ((d->bg >> 8) & 255) / 255.0, (d->bg & 255) / 255.0);
  cairo_rectangle(cr, 0, 0, w + 1, h + 1);
  cairo_fill(cr);
  if (d->drawn.empty()) return TRUE;
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(d->tmpl->font);
  pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
  pango_font_description_set_absolute_size(font, d->font_px * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, utf8(d->drawn.c_str()).c_str(), -1);
  int tw, th;
  pango_layout_get_pixel_size(layout, &tw, &th);
  cairo_set_source_rgb(cr, ((d->fg >> 16) & 255) / 255.0, ((d->fg >> 8) & 255) / 255.0, (d->fg & 255) / 255.0);
  cairo_move_to(cr, (w - tw) / 2.0, (h - th) / 2.0);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
  return TRUE;
}

GtkWidget* make_list(bool selectable) {
  GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view), FALSE);
  GtkCellRenderer* cell = gtk_cell_renderer_text_new();
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", cell, "text", 0, nullptr);
  gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)),
                              selectable ? GTK_SELECTION_SINGLE : GTK_SELECTION_NONE);
  return view;
}

GtkWidget* make_control(Dialog* d, int index, GtkWidget** placed) {
  DialogItem& it = d->items[index];
  const DialogControl& c = *it.def;
  std::string text = utf8(it.text.c_str());
  GtkWidget* w = nullptr;
  *placed = nullptr;
  switch (c.kind) {
    case CTL_STATIC:
    case CTL_STATIC_RIGHT:
      w = gtk_label_new(text.c_str());
      gtk_label_set_xalign(GTK_LABEL(w), c.kind == CTL_STATIC_RIGHT ? 1.0f : 0.0f);
      break;
    case CTL_GROUP:
      w = gtk_frame_new(text.c_str());
      break;
    case CTL_CHECK:
      w = gtk_check_button_new_with_label(text.c_str());
      g_signal_connect(w, "toggled", G_CALLBACK(on_toggled), d);
      break;
    case CTL_EDIT:
    case CTL_PASSWORD:
      w = gtk_entry_new();
      gtk_entry_set_text(GTK_ENTRY(w), text.c_str());
      gtk_entry_set_width_chars(GTK_ENTRY(w), 1);
      if (c.kind == CTL_PASSWORD) gtk_entry_set_visibility(GTK_ENTRY(w), FALSE);
      g_signal_connect(w, "changed", G_CALLBACK(on_changed), d);
      break;
    case CTL_BUTTON:
      w = gtk_button_new_with_mnemonic(mnemonic(it.text).c_str());
      g_signal_connect(w, "clicked", G_CALLBACK(on_clicked), d);
      break;
    case CTL_DROPLIST:
      w = gtk_combo_box_text_new();
      g_signal_connect(w, "changed", G_CALLBACK(on_combo), d);
      break;
    case CTL_LIST: {
      w = make_list(c.id == 13);
      GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
      gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_IN);
      gtk_container_add(GTK_CONTAINER(scroll), w);
      *placed = scroll;
      break;
    }
    case CTL_PICTURE: {
      const char* path = d->tmpl->picture_path;
      GdkPixbuf* pix = path && *path ? gdk_pixbuf_new_from_file_at_scale(path, dlu_x(c.w), dlu_y(c.h), TRUE, nullptr)
                                     : nullptr;
      w = pix ? gtk_image_new_from_pixbuf(pix) : gtk_image_new();
      if (pix) g_object_unref(pix);
      break;
    }
  }
  if (!*placed) *placed = w;
  // A drop-down list's height counts its open list; closed it is one line high.
  gtk_widget_set_size_request(*placed, dlu_x(c.w), dlu_y(c.kind == CTL_DROPLIST && c.h > 14 ? 14 : c.h));
  return w;
}

GtkWidget* make_page(Dialog* d) {
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, dlu_x(d->tmpl->w), dlu_y(d->tmpl->h));
  for (int i = 0; i < d->item_count; ++i) {
    GtkWidget* placed;
    d->items[i].widget = make_control(d, i, &placed);
    gtk_fixed_put(GTK_FIXED(fixed), placed, dlu_x(d->items[i].def->x), dlu_y(d->items[i].def->y));
  }
  return fixed;
}

// The template's face for this dialog's widgets only (a rule keyed by the window's name).
void apply_font(GtkWidget* window, const DialogTemplate* t) {
  char name[32];
  snprintf(name, sizeof name, "vellmar-%d", int(t->resource));
  gtk_widget_set_name(window, name);
  static int32_t done[16];
  static int done_count = 0;
  for (int i = 0; i < done_count; ++i)
    if (done[i] == t->resource) return;
  if (done_count < 16) done[done_count++] = t->resource;
  GtkCssProvider* css = gtk_css_provider_new();
  char rule[256];
  snprintf(rule, sizeof rule, "#%s, #%s * { font-family: \"%s\"; font-size: %dpt; }", name, name, t->font,
           int(t->font_points));
  gtk_css_provider_load_from_data(css, rule, -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
}

}  // namespace

bool gtkd_open() {
  if (!gtk_init_check(nullptr, nullptr)) return false;
  g_wakeup = g_timeout_add(10, keep_waking, nullptr);
  return true;
}

void gtkd_close() {
  for (Icon& i : g_icons) drop_icon(i);
  if (g_last_press) gdk_event_free(g_last_press);
  g_last_press = nullptr;
  if (g_menu) gtk_widget_destroy(g_menu);
  g_menu = nullptr;
  if (g_wakeup) g_source_remove(g_wakeup);
  g_wakeup = 0;
  while (g_main_context_iteration(nullptr, FALSE)) {}
}

void gtkd_pump(bool wait) {
  if (wait) g_main_context_iteration(nullptr, TRUE);
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

bool gtkd_taskbar_present() {
  bool present = x11_tray_present();
  if (!present)
    for (Icon& i : g_icons) drop_icon(i);
  return present;
}

bool gtkd_notify_icon(uint32_t action, const NotifyIconData* data) {
  Icon* found = nullptr;
  for (Icon& i : g_icons)
    if (i.icon && i.window == data->window && i.id == data->id) found = &i;
  if (action == NIM_ADD) {
    if (found || !gtkd_taskbar_present()) return false;
    for (Icon& i : g_icons) {
      if (i.icon) continue;
      i.icon = gtk_status_icon_new_from_file(data->icon_path);
      i.window = data->window;
      i.id = data->id;
      i.callback_message = data->callback_message;
      gtk_status_icon_set_title(i.icon, "Lumisk");
      gtk_status_icon_set_tooltip_text(i.icon, utf8(data->tip).c_str());
      g_signal_connect(i.icon, "button-press-event", G_CALLBACK(icon_pressed), nullptr);
      g_signal_connect(i.icon, "notify::embedded", G_CALLBACK(icon_embedded), nullptr);
      g_signal_connect(i.icon, "notify::size", G_CALLBACK(icon_embedded), nullptr);
      gtk_status_icon_set_visible(i.icon, TRUE);
      return true;
    }
    return false;
  }
  if (!found) return false;
  if (action == NIM_DELETE) {
    drop_icon(*found);
    return true;
  }
  if (action != NIM_MODIFY) return false;
  if (data->flags & NIF_ICON) gtk_status_icon_set_from_file(found->icon, data->icon_path);
  if (data->flags & NIF_TIP) gtk_status_icon_set_tooltip_text(found->icon, utf8(data->tip).c_str());
  if (data->flags & NIF_MESSAGE) found->callback_message = data->callback_message;
  return true;
}

void gtkd_popup_menu(const MenuItem* items, int32_t count, WindowHandle owner) {
  // The first press of a double click that is already over: no menu.
  if (g_last_press && g_left_press.valid && g_left_press.doubled &&
      gdk_event_get_time(g_last_press) == g_left_press.time) {
    gdk_event_free(g_last_press);
    g_last_press = nullptr;
    return;
  }
  if (g_menu) gtk_widget_destroy(g_menu);
  g_menu = gtk_menu_new();
  for (int32_t k = 0; k < count; ++k) {
    GtkWidget* item;
    if (items[k].id == 0) {
      item = gtk_separator_menu_item_new();
    } else {
      std::string label = utf8(items[k].text);
      if (items[k].checked) {
        item = gtk_check_menu_item_new_with_label(label.c_str());
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
      } else {
        item = gtk_menu_item_new_with_label(label.c_str());
      }
      gtk_widget_set_sensitive(item, items[k].enabled);
      g_object_set_data(G_OBJECT(item), "vellmar-id", GUINT_TO_POINTER(items[k].id));
      g_signal_connect(item, "activate", G_CALLBACK(menu_item_chosen), owner);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(g_menu), item);
  }
  gtk_widget_show_all(g_menu);
  g_menu_reported = false;
  g_signal_connect_after(g_menu, "draw", G_CALLBACK(menu_drawn), nullptr);
  g_signal_connect(g_menu, "button-press-event", G_CALLBACK(menu_pressed), nullptr);
  g_signal_connect(g_menu, "deactivate", G_CALLBACK(menu_closed), nullptr);
  GtkStatusIcon* at = nullptr;
  for (Icon& i : g_icons)
    if (i.icon && i.window == owner) at = i.icon;
  // Opened by a click on the icon: at the pointer, grabbing with that click's device and time.
  if (g_last_press) {
    gtk_menu_popup_at_pointer(GTK_MENU(g_menu), g_last_press);
    gdk_event_free(g_last_press);
    g_last_press = nullptr;
    return;
  }
  gtk_menu_popup(GTK_MENU(g_menu), nullptr, nullptr, at ? gtk_status_icon_position_menu : nullptr, at, 0,
                 gtk_get_current_event_time());
}

void gtkd_message_box(const char16_t* text, const char16_t* caption, bool error) {
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO,
                                          GTK_BUTTONS_OK, "%s", utf8(text).c_str());
  gtk_window_set_title(GTK_WINDOW(box), utf8(caption).c_str());
  gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  bool done = false;
  g_signal_connect_swapped(box, "response", G_CALLBACK(+[](gpointer flag) { *static_cast<bool*>(flag) = true; }),
                           &done);
  gtk_widget_show_all(box);
  while (!done && desktop_pump(true)) {}
  gtk_widget_destroy(box);
}

void gtkd_screen_saver_off() { x11_screen_saver_off(); }

void gtkd_screen_size(int32_t* width, int32_t* height) {
  *width = 1024;
  *height = 768;
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  *width = area.x + area.width;
  *height = area.y + area.height;
}

bool gtkd_dialog_create(Dialog* d, Dialog* owner) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  d->window = window;
  apply_font(window, d->tmpl);
  gtk_window_set_title(GTK_WINDOW(window), utf8(d->title.c_str()).c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), d->tmpl->count == 0);
  if (d->tmpl->style & DLG_TOPMOST) gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
  if (d->tmpl->style & DLG_TOOL) {
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), TRUE);
  }
  if (d->tmpl->style & DLG_CENTER) gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  if (owner && owner->window) gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(owner->window));
  if (d->modal) gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  g_signal_connect(window, "delete-event", G_CALLBACK(on_delete), d);
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key), d);

  if (d->tmpl->count == 0) {
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_size_request(area, dlu_x(d->tmpl->w), dlu_y(d->tmpl->h));
    g_signal_connect(area, "draw", G_CALLBACK(on_draw), d);
    gtk_container_add(GTK_CONTAINER(window), area);
    d->area = area;
  } else if (d->sheet) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(box), 6);
    GtkWidget* book = gtk_notebook_new();
    gtk_notebook_append_page(GTK_NOTEBOOK(book), make_page(d), gtk_label_new(utf8(d->tab_title.c_str()).c_str()));
    gtk_box_pack_start(GTK_BOX(box), book, TRUE, TRUE, 0);
    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_box_set_spacing(GTK_BOX(buttons), 5);
    GtkWidget* ok = gtk_button_new_with_label("OK");
    GtkWidget* cancel = gtk_button_new_with_label("Cancel");
    g_signal_connect(ok, "clicked", G_CALLBACK(on_ok), d);
    g_signal_connect(cancel, "clicked", G_CALLBACK(on_cancel), d);
    gtk_container_add(GTK_CONTAINER(buttons), ok);
    gtk_container_add(GTK_CONTAINER(buttons), cancel);
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
  } else {
    gtk_container_add(GTK_CONTAINER(window), make_page(d));
  }
  gtk_widget_show_all(window);
  return true;
}

void gtkd_dialog_destroy(Dialog* d) {
  if (!d->window) return;
  GtkWidget* window = static_cast<GtkWidget*>(d->window);
  d->window = nullptr;
  d->area = nullptr;
  for (int i = 0; i < d->item_count; ++i) d->items[i].widget = nullptr;
  g_signal_handlers_disconnect_matched(window, G_SIGNAL_MATCH_DATA, 0, 0, nullptr, nullptr, d);
  gtk_widget_destroy(window);
}

void gtkd_item_changed(Dialog* d, int index) {
  DialogItem& it = d->items[index];
  GtkWidget* w = static_cast<GtkWidget*>(it.widget);
  if (!w) return;
  g_updating = true;
  std::string text = utf8(it.text.c_str());
  switch (it.def->kind) {
    case CTL_STATIC: case CTL_STATIC_RIGHT: gtk_label_set_text(GTK_LABEL(w), text.c_str()); break;
    case CTL_GROUP: gtk_frame_set_label(GTK_FRAME(w), text.c_str()); break;
    case CTL_CHECK:
      gtk_button_set_label(GTK_BUTTON(w), text.c_str());
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), it.checked);
      break;
    case CTL_EDIT: case CTL_PASSWORD: gtk_entry_set_text(GTK_ENTRY(w), text.c_str()); break;
    case CTL_BUTTON: gtk_button_set_label(GTK_BUTTON(w), mnemonic(it.text).c_str()); break;
    case CTL_DROPLIST: gtk_combo_box_set_active(GTK_COMBO_BOX(w), it.selection); break;
    case CTL_LIST: case CTL_PICTURE: break;
  }
  g_updating = false;
}

void gtkd_focus_item(Dialog* d, int index) {
  GtkWidget* w = static_cast<GtkWidget*>(d->items[index].widget);
  if (!w) return;
  if (d->window) gtk_window_present(GTK_WINDOW(d->window));
  gtk_widget_grab_focus(w);
  if (GTK_IS_EDITABLE(w)) gtk_editable_select_region(GTK_EDITABLE(w), 0, -1);
}

void gtkd_list_inserted(Dialog* d, int index, bool first) {
  DialogItem& it = d->items[index];
  GtkWidget* w = static_cast<GtkWidget*>(it.widget);
  if (!w || it.entries.empty()) return;
  std::string text = utf8((first ? it.entries.front() : it.entries.back()).c_str());
  g_updating = true;
  if (it.def->kind == CTL_DROPLIST) {
    if (first) gtk_combo_box_text_prepend_text(GTK_COMBO_BOX_TEXT(w), text.c_str());
    else gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w), text.c_str());
  } else if (it.def->kind == CTL_LIST) {
    GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(w)));
    GtkTreeIter row;
    if (first) gtk_list_store_insert(store, &row, 0);
    else gtk_list_store_append(store, &row);
    gtk_list_store_set(store, &row, 0, text.c_str(), -1);
    int rows = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr);
    if (rows > DESKTOP_LIST_MAX && gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &row, nullptr, rows - 1))
      gtk_list_store_remove(store, &row);
  }
  g_updating = false;
}

void gtkd_set_title(Dialog* d) {
  if (d->window) gtk_window_set_title(GTK_WINDOW(d->window), utf8(d->title.c_str()).c_str());
}

void gtkd_show_top(Dialog* d) {
  if (d->window) gtk_window_present(GTK_WINDOW(d->window));
}

void gtkd_redraw(Dialog* d) {
  if (d->area) gtk_widget_queue_draw(static_cast<GtkWidget*>(d->area));
}

void gtkd_measure(const std::u16string& text, int32_t font_px, int32_t* w, int32_t* h) {
  PangoFontMap* map = pango_cairo_font_map_get_default();
  PangoContext* context = pango_font_map_create_context(map);
  PangoLayout* layout = pango_layout_new(context);
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans Mono Bold");
  pango_font_description_set_absolute_size(font, font_px * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, utf8(text.c_str()).c_str(), -1);
  int tw, th;
  pango_layout_get_pixel_size(layout, &tw, &th);
  *w = tw;
  *h = th;
  pango_font_description_free(font);
  g_object_unref(layout);
  g_object_unref(context);
}

void gtkd_window_rect(Dialog* d, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
  if (!d->window) return;
  int px, py, pw, ph;
  gtk_window_get_position(GTK_WINDOW(d->window), &px, &py);
  gtk_window_get_size(GTK_WINDOW(d->window), &pw, &ph);
  *x = px;
  *y = py;
  *w = pw;
  *h = ph;
}

void gtkd_client_size(Dialog* d, int32_t* w, int32_t* h) {
  GtkWidget* inner = static_cast<GtkWidget*>(d->area ? d->area : d->window);
  if (!inner) return;
  int pw = 0, ph = 0;
  if (d->area) {
    gtk_widget_get_size_request(inner, &pw, &ph);
  } else {
    gtk_window_get_size(GTK_WINDOW(inner), &pw, &ph);
  }
  *w = pw;
  *h = ph;
}

void gtkd_move(Dialog* d, int32_t x, int32_t y, int32_t w, int32_t h) {
  if (!d->window) return;
  if (d->area) gtk_widget_set_size_request(static_cast<GtkWidget*>(d->area), w, h);
  gtk_window_move(GTK_WINDOW(d->window), x, y);
  gtk_window_resize(GTK_WINDOW(d->window), w, h);
}
