// Installation folder and browser shortcut.
#include "common/install.h"

#include <cstdio>
#include <cstring>

#include "common/settings.h"
#include "common/text.h"
#include "platform/fs.h"
#include "platform/registry.h"

char16_t InstallDirW[260];
char InstallDir[260];

static InstallPathState g_install_path_state = INSTALL_PATH_NO_ENTRY;

InstallPathState cfg_install_path_state() { return g_install_path_state; }

static const char16_t kProductKey[] = u"Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main";

void cfg_load_install_path() {
  // The value is read with room for 260 bytes: at most 129 characters.
  if (reg_read_string(kProductKey, u"Path", InstallDirW, 260)) {
    text_utf16_to_utf8(InstallDir, sizeof InstallDir, InstallDirW);
    // Every file is named from this folder, also after the change of directory: it must be absolute.
    if (InstallDir[0] != '/') g_install_path_state = INSTALL_PATH_RELATIVE;
    else g_install_path_state = fs_set_current_directory(InstallDir) ? INSTALL_PATH_REGISTRY : INSTALL_PATH_NOT_A_FOLDER;
  } else {
    g_install_path_state = reg_file_problem() ? INSTALL_PATH_BAD_REGISTRY : INSTALL_PATH_NO_ENTRY;
    if (!fs_current_directory(InstallDir, sizeof InstallDir)) InstallDir[0] = 0;
  }
  text_utf8_to_utf16(InstallDirW, 260, InstallDir);
  size_t n = strlen(InstallDir);
  if (n > 1 && (InstallDir[n - 1] == '/' || InstallDir[n - 1] == '\\')) {
    InstallDir[n - 1] = 0;
    text_utf8_to_utf16(InstallDirW, 260, InstallDir);
  }
}

bool cfg_install_file(char* out, unsigned room, const char* name) {
  int n = snprintf(out, room, "%s/%s", InstallDir, name);
  return n >= 0 && unsigned(n) < room;
}

void cfg_write_url_shortcut() {
  char path[300];
  if (!cfg_install_file(path, sizeof path, "Vellmar.url")) return;
  char text[128];
  int n = snprintf(text, sizeof text, "[InternetShortcut]\r\n");
  if (g_settings.web_protocols & 1)
    n += snprintf(text + n, sizeof text - n, "URL=http://%s:%d\r\n", "127.0.0.1", g_settings.http_port);
  else if (g_settings.web_protocols & 2)
    n += snprintf(text + n, sizeof text - n, "URL=https://%s:%d\r\n", "127.0.0.1", g_settings.https_port);
  fs_replace_file(path, text, size_t(n));
}
