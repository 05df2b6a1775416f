// The installation folder, in the two forms the programs hold it, and the browser shortcut file.
#pragma once

extern char16_t InstallDirW[260];  // UTF-16, no trailing separator
extern char InstallDir[260];       // UTF-8, no trailing separator

// Reads the folder from the registry value "Path" of the product's key; the current directory when
// the value is missing or too long. A folder read from the registry becomes the current directory;
// a relative one is not taken (not even as the current directory).
void cfg_load_install_path();
// Where the last cfg_load_install_path found the folder.
enum InstallPathState : unsigned char {
  INSTALL_PATH_REGISTRY,       // the registry's value, a folder
  INSTALL_PATH_NO_ENTRY,       // no usable registry value: the current directory
  INSTALL_PATH_NOT_A_FOLDER,   // the registry's value names no folder (InstallDir holds it)
  INSTALL_PATH_RELATIVE,       // the registry's value is no absolute path (InstallDir holds it)
  INSTALL_PATH_BAD_REGISTRY,   // the registry file is no regular file or too large: the current directory
};
InstallPathState cfg_install_path_state();
// Rewrites <install>/Vellmar.url pointing at the local web interface.
void cfg_write_url_shortcut();
// Forms "<install>/<name>" into out; false when it does not fit.
bool cfg_install_file(char* out, unsigned room, const char* name);
