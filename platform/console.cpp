// Linux back end of the console: termios raw mode on standard input, restored at exit and on the
// signals that end the program.
#include "platform/console.h"

#include <cerrno>
#include <initializer_list>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <termios.h>
#include <unistd.h>

static termios g_saved;
static bool g_raw;
static bool g_hooks_set;

static void restore() {
  if (g_raw) tcsetattr(0, TCSAFLUSH, &g_saved);
  g_raw = false;
}

static void restore_and_die(int sig) {
  restore();
  signal(sig, SIG_DFL);
  raise(sig);
}

void console_raw_begin() {
  if (g_raw || !isatty(0) || tcgetattr(0, &g_saved) != 0) return;
  if (!g_hooks_set) {
    g_hooks_set = true;
    atexit(restore);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, restore_and_die);
  }
  termios raw = g_saved;
  raw.c_lflag &= ~tcflag_t(ICANON | ECHO | IEXTEN);
  raw.c_iflag &= ~tcflag_t(ICRNL | INLCR | IGNCR | IXON);
  raw.c_oflag &= ~tcflag_t(OPOST);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSAFLUSH, &raw) == 0) g_raw = true;
}

void console_raw_end() { restore(); }

int console_get_key() {
  unsigned char c;
  for (;;) {
    ssize_t n = read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return CONSOLE_KEY_END;
    if (c == '\r' || c == '\n') return CONSOLE_KEY_ENTER;
    if (c == 8 || c == 127) return CONSOLE_KEY_BACKSPACE;
    return c;
  }
}

void console_put_char(char c) {
  fputc(c, stdout);
  fflush(stdout);
}

void console_write(const char* text) {
  fputs(text, stdout);
  fflush(stdout);
}

void console_message_box(const char* text, const char* caption) {
  if (caption && *caption) fprintf(stderr, "%s: ", caption);
  fputs(text, stderr);
  fflush(stderr);
}
