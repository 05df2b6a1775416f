// The X11 calls of the GTK back end, apart because Xlib's names clash with the window layer's.
#include <cstdio>

#include <gdk/gdkx.h>
#include <X11/Xlib.h>

namespace {

Display* xdisplay() {
  GdkDisplay* d = gdk_display_get_default();
  return d && GDK_IS_X11_DISPLAY(d) ? gdk_x11_display_get_xdisplay(d) : nullptr;
}

}  // namespace

bool x11_tray_present() {
  Display* dpy = xdisplay();
  if (!dpy) return false;
  char name[64];
  snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", DefaultScreen(dpy));
  Atom tray = XInternAtom(dpy, name, False);
  return XGetSelectionOwner(dpy, tray) != None;
}

void x11_screen_saver_off() {
  Display* dpy = xdisplay();
  if (!dpy) return;
  int timeout, interval, blanking, exposures;
  XGetScreenSaver(dpy, &timeout, &interval, &blanking, &exposures);
  XSetScreenSaver(dpy, 0, interval, blanking, exposures);
  XFlush(dpy);
}
