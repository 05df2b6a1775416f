// Linux back end of the trust check of files the service runs: the path is walked element by
// element, as the kernel resolves it, so that every folder and link on the way is looked at.
#include "platform/file_trust.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's limit (ELOOP)

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

// The end of the walk: of the kind asked, and safe.
bool end_safe(const char* path, const struct stat& st, FileTrustKind kind, char* reason, size_t reason_room) {
  bool is_folder = S_ISDIR(st.st_mode);
  if (kind == TRUST_FILE && is_folder) {
    snprintf(reason, reason_room, "%s is a folder, not a file", path);
    return false;
  }
  if (kind == TRUST_FILE && !S_ISREG(st.st_mode)) {
    snprintf(reason, reason_room, "%s is not a regular file", path);
    return false;
  }
  if (kind == TRUST_FOLDER && !is_folder) {
    snprintf(reason, reason_room, "%s is not a folder", path);
    return false;
  }
  return element_safe(path, st, is_folder, reason, reason_room);
}

// done without its last element ("/" stays "/").
void drop_last(char* done) {
  char* slash = strrchr(done, '/');
  if (slash == done) done[1] = 0;
  else if (slash) *slash = 0;
}

}  // namespace

FileTrust file_trusted(const char* path, FileTrustKind kind, char* resolved, size_t room, char* reason,
                       size_t reason_room) {
  char dummy[8];
  if (!reason || reason_room == 0) {
    reason = dummy;
    reason_room = sizeof dummy;
  }
  reason[0] = 0;
  if (resolved && room) resolved[0] = 0;
  if (!path || !*path) {
    snprintf(reason, reason_room, "no file named");
    return FILE_NOT_TRUSTED;
  }
  // rest: what is left to walk; done: the folders walked so far (links resolved), each one safe.
  char rest[2 * PATH_MAX], next[2 * PATH_MAX], done[PATH_MAX], target[PATH_MAX];
  if (path[0] == '/') {
    snprintf(rest, sizeof rest, "%s", path);
  } else {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd) || snprintf(rest, sizeof rest, "%s/%s", cwd, path) >= int(sizeof rest)) {
      snprintf(reason, reason_room, "%s: path too long", path);
      return FILE_NOT_TRUSTED;
    }
  }
  if (strlen(rest) >= PATH_MAX) {
    snprintf(reason, reason_room, "%s: path too long", path);
    return FILE_NOT_TRUSTED;
  }
  struct stat st;
  if (lstat("/", &st) != 0 || !element_safe("/", st, true, reason, reason_room)) return FILE_NOT_TRUSTED;
  snprintf(done, sizeof done, "/");
  int links = 0;
  const char* p = rest;
  for (;;) {
    while (*p == '/') ++p;
    if (!*p) break;
    const char* end = strchr(p, '/');
    size_t n = end ? size_t(end - p) : strlen(p);
    const char* after = p + n;
    while (*after == '/') ++after;
    bool last = *after == 0;
    if (n == 1 && p[0] == '.') {
      p = after;
      continue;
    }
    if (n == 2 && p[0] == '.' && p[1] == '.') {
      drop_last(done);
      p = after;
      continue;
    }
    char candidate[PATH_MAX];
    if (snprintf(candidate, sizeof candidate, "%s%s%.*s", done, strcmp(done, "/") ? "/" : "", int(n), p) >=
        int(sizeof candidate)) {
      snprintf(reason, reason_room, "%s: path too long", path);
      return FILE_NOT_TRUSTED;
    }
    if (lstat(candidate, &st) != 0) {
      if (errno != ENOENT) {
        snprintf(reason, reason_room, "%s: %s", candidate, strerror(errno));
        return FILE_NOT_TRUSTED;
      }
      // Missing: safe only where nobody else may add a name.
      struct stat folder;
      if (lstat(done, &folder) == 0 && (folder.st_mode & S_ISVTX)) {
        snprintf(reason, reason_room, "%s does not exist, and others may make it in %s", candidate, done);
        return FILE_NOT_TRUSTED;
      }
      snprintf(reason, reason_room, "%s does not exist", candidate);
      return FILE_ABSENT;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++links > kMaxLinks) {
        snprintf(reason, reason_room, "%s: too many links", path);
        return FILE_NOT_TRUSTED;
      }
      if (!trusted_owner(st.st_uid)) {
        snprintf(reason, reason_room, "link %s is owned by uid %u, not by root", candidate, unsigned(st.st_uid));
        return FILE_NOT_TRUSTED;
      }
      ssize_t t = readlink(candidate, target, sizeof target - 1);
      if (t <= 0) {
        snprintf(reason, reason_room, "%s: %s", candidate, t < 0 ? strerror(errno) : "empty link");
        return FILE_NOT_TRUSTED;
      }
      target[t] = 0;
      // The link's target takes its place; an absolute one is walked from "/" again.
      if (snprintf(next, sizeof next, "%s/%s", target, after) >= int(sizeof next)) {
        snprintf(reason, reason_room, "%s: path too long", path);
        return FILE_NOT_TRUSTED;
      }
      memcpy(rest, next, strlen(next) + 1);
      if (target[0] == '/') snprintf(done, sizeof done, "/");
      p = rest;
      continue;
    }
    if (last) {
      if (!end_safe(candidate, st, kind, reason, reason_room)) return FILE_NOT_TRUSTED;
    } else if (!S_ISDIR(st.st_mode)) {
      snprintf(reason, reason_room, "%s is not a folder", candidate);
      return FILE_NOT_TRUSTED;
    } else if (!element_safe(candidate, st, true, reason, reason_room)) {
      return FILE_NOT_TRUSTED;
    }
    memcpy(done, candidate, strlen(candidate) + 1);
    p = after;
  }
  // The end is where the walk stopped (also after a last "." or "..", or a path of "/" alone).
  if (lstat(done, &st) != 0 || !end_safe(done, st, kind, reason, reason_room)) return FILE_NOT_TRUSTED;
  if (resolved && room) {
    size_t n = strlen(done);
    if (n >= room) {
      snprintf(reason, reason_room, "path too long");
      return FILE_NOT_TRUSTED;
    }
    memcpy(resolved, done, n + 1);
  }
  return FILE_TRUSTED;
}
