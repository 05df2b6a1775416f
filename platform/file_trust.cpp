// Linux back end of the trust check of files the service runs.
#include "platform/file_trust.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool trusted_owner(uid_t uid) { return uid == 0 || uid == geteuid(); }

// Checks one resolved path element; false with the reason filled in.
bool element_safe(const char* path, const struct stat& st, bool is_folder, char* reason, size_t reason_room) {
  const char* what = is_folder ? "folder" : "file";
  if (!trusted_owner(st.st_uid)) {
    snprintf(reason, reason_room, "%s %s is owned by uid %u, not by root", what, path, unsigned(st.st_uid));
    return false;
  }
  // A sticky folder of root's lets others add files but not rename or remove root's.
  bool sticky_root = is_folder && (st.st_mode & S_ISVTX) && st.st_uid == 0;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !sticky_root) {
    snprintf(reason, reason_room, "%s %s is writable by group or others", what, path);
    return false;
  }
  return true;
}

}  // namespace

bool file_trusted(const char* path, char* resolved, size_t room, char* reason, size_t reason_room) {
  char dummy[8];
  if (!reason || reason_room == 0) {
    reason = dummy;
    reason_room = sizeof dummy;
  }
  reason[0] = 0;
  if (resolved && room) resolved[0] = 0;
  if (!path || !*path) {
    snprintf(reason, reason_room, "no file named");
    return false;
  }
  char real[PATH_MAX];
  if (!realpath(path, real)) {
    snprintf(reason, reason_room, "%s", strerror(errno));
    return false;
  }
  struct stat st;
  if (stat(real, &st) != 0) {
    snprintf(reason, reason_room, "%s", strerror(errno));
    return false;
  }
  bool is_folder = S_ISDIR(st.st_mode);
  if (!is_folder && !S_ISREG(st.st_mode)) {
    snprintf(reason, reason_room, "%s is not a regular file", real);
    return false;
  }
  if (!element_safe(real, st, is_folder, reason, reason_room)) return false;

  char folder[PATH_MAX];
  memcpy(folder, real, strlen(real) + 1);
  while (strcmp(folder, "/") != 0) {
    char* slash = strrchr(folder, '/');
    if (!slash) break;
    if (slash == folder) slash[1] = 0;
    else *slash = 0;
    if (stat(folder, &st) != 0) {
      snprintf(reason, reason_room, "folder %s: %s", folder, strerror(errno));
      return false;
    }
    if (!element_safe(folder, st, true, reason, reason_room)) return false;
  }
  if (resolved && room) {
    size_t n = strlen(real);
    if (n >= room) {
      snprintf(reason, reason_room, "path too long");
      return false;
    }
    memcpy(resolved, real, n + 1);
  }
  return true;
}
