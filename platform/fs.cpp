// Linux back end of the file-system calls.
#include "platform/fs.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool fs_flush_file(FILE* f) {
  if (fflush(f) != 0) return false;
  return fsync(fileno(f)) == 0;
}

static void sync_directory_of(const char* path) {
  std::string dir(path);
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

static int g_last_error;

const char* fs_error_text(int error) { return strerror(error); }

const char* fs_last_error_text() { return strerror(g_last_error); }

FILE* fs_open_regular(const char* path, size_t max_bytes, FsReadResult* result, int* error) {
  *error = 0;
  // Without O_NONBLOCK the open of a FIFO waits for a writer.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    *result = errno == ENOENT ? FS_READ_MISSING : FS_READ_FAILED;
    return nullptr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = errno;
    *result = FS_READ_FAILED;
  } else if (!S_ISREG(st.st_mode)) {
    *result = FS_READ_NOT_REGULAR;
  } else if (uint64_t(st.st_size) > max_bytes) {
    *result = FS_READ_TOO_LARGE;
  } else {
    FILE* f = fdopen(fd, "rb");
    if (f) {
      *result = FS_READ_OK;
      return f;
    }
    *error = errno;
    *result = FS_READ_FAILED;
  }
  close(fd);
  return nullptr;
}

FsReadResult fs_read_regular(const char* path, size_t max_bytes, std::string* out, int* error) {
  FsReadResult result;
  FILE* f = fs_open_regular(path, max_bytes, &result, error);
  if (!f && result != FS_READ_TOO_LARGE) return result;
  if (!f) {
    // Its first max_bytes, for a copy of what it held.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    f = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (!f) {
      if (fd >= 0) close(fd);
      *error = errno;
      return FS_READ_FAILED;
    }
  }
  // A file that grows while it is read still ends at max_bytes.
  char buf[16384];
  size_t taken = 0;
  bool more = false;
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    size_t room = max_bytes - taken;
    if (n > room) {
      n = room;
      more = true;
    }
    out->append(buf, n);
    taken += n;
    if (more) break;
  }
  if (ferror(f)) {
    *error = EIO;
    result = FS_READ_FAILED;
  } else if (more) {
    result = FS_READ_TOO_LARGE;
  }
  fclose(f);
  return result;
}

const char* fs_read_problem(FsReadResult result, int error) {
  switch (result) {
    case FS_READ_NOT_REGULAR: return "it is not a regular file";
    case FS_READ_TOO_LARGE: return "it is larger than 4 MiB";
    default: return strerror(error);
  }
}

bool fs_is_directory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the bytes to a fresh copy beside path, flushes it and renames it over path. keep_old:
// the copy takes the mode (masked by old_mask) and owner of a regular file it replaces; any other
// file, and a link, is replaced as a new one with new_mode.
static bool replace_durably(const char* path, const void* data, size_t length, bool keep_old, mode_t old_mask,
                            mode_t new_mode) {
  std::string tmp = std::string(path) + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    g_last_error = errno;
    return false;
  }
  struct stat old;
  if (keep_old && lstat(path, &old) == 0 && S_ISREG(old.st_mode)) {
    // As root the owner is kept too; otherwise a foreign owner stays as the rename leaves it.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {}
    fchmod(fd, old.st_mode & old_mask);
  } else {
    fchmod(fd, new_mode);
  }
  FILE* f = fdopen(fd, "wb");
  if (!f) {
    g_last_error = errno;
    close(fd);
    remove(tmp.c_str());
    return false;
  }
  errno = 0;
  bool ok = fwrite(data, 1, length, f) == length;
  ok = fs_flush_file(f) && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok) g_last_error = errno ? errno : EIO;
  if (ok && rename(tmp.c_str(), path) != 0) {
    g_last_error = errno;
    ok = false;
  }
  if (!ok) {
    remove(tmp.c_str());
    return false;
  }
  sync_directory_of(path);
  return true;
}

bool fs_replace_file(const char* path, const void* data, size_t length, FsFileAccess access) {
  // A private file keeps its owner's and group's bits but is never left open to others.
  return replace_durably(path, data, length, true, access == FS_PRIVATE ? 0770 : 07777,
                         access == FS_PRIVATE ? 0600 : 0644);
}

bool fs_create_directory(const char* path) { return mkdir(path, 0755) == 0; }

bool fs_file_exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

bool fs_copy_file(const char* from, const char* to, bool fail_if_exists, FsFileAccess access) {
  if (fail_if_exists && fs_file_exists(to)) return false;
  FILE* in = fopen(from, "rb");
  if (!in) return false;
  std::string data;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, in)) > 0) data.append(buf, n);
  bool ok = !ferror(in);
  fclose(in);
  return ok && fs_replace_file(to, data.data(), data.size(), access);
}

bool fs_current_directory(char* out, size_t room) { return getcwd(out, room) != nullptr; }

bool fs_set_current_directory(const char* path) { return chdir(path) == 0; }

bool fs_write_private_file(const char* path, const void* data, size_t length) {
  return replace_durably(path, data, length, false, 0, 0600);
}

FILE* fs_open_private(const char* path, const char* mode) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  FILE* f = fchmod(fd, 0600) == 0 ? fdopen(fd, mode) : nullptr;
  if (!f) close(fd);
  return f;
}

bool fs_create_private_directory(const char* path) {
  if (mkdir(path, 0700) == 0) return chmod(path, 0700) == 0;
  struct stat st;
  if (errno != EEXIST || lstat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return (st.st_mode & 07777) == 0700 || chmod(path, 0700) == 0;
}

bool fs_remove_file(const char* path) { return unlink(path) == 0 || errno == ENOENT; }

// mkstemp's suffix: six letters or digits.
static bool is_temporary_suffix(const char* s) {
  for (int i = 0; i < 6; ++i) {
    char c = s[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return s[6] == 0;
}

int fs_remove_temporary_copies(const char* path) {
  char dir[1024];
  const char* slash = strrchr(path, '/');
  const char* base = slash ? slash + 1 : path;
  size_t dir_len = slash ? size_t(slash - path) : 0;
  if (dir_len >= sizeof dir) return 0;
  if (!slash) snprintf(dir, sizeof dir, ".");
  else if (dir_len == 0) snprintf(dir, sizeof dir, "/");
  else snprintf(dir, sizeof dir, "%.*s", int(dir_len), path);
  size_t base_len = strlen(base);
  DIR* d = opendir(dir);
  if (!d) return 0;
  int removed = 0;
  while (dirent* e = readdir(d)) {
    const char* name = e->d_name;
    if (strncmp(name, base, base_len) != 0 || name[base_len] != '.') continue;
    if (!is_temporary_suffix(name + base_len + 1)) continue;
    char full[2048];
    int n = snprintf(full, sizeof full, "%s/%s", dir, name);
    if (n < 0 || size_t(n) >= sizeof full) continue;
    struct stat st;
    if (lstat(full, &st) == 0 && S_ISREG(st.st_mode) && unlink(full) == 0) ++removed;
  }
  closedir(d);
  return removed;
}

// Writes all bytes at offset; false on a short or failed write (errno set).
static bool write_all_at(int fd, const char* p, size_t length, off_t offset) {
  while (length > 0) {
    ssize_t n = pwrite(fd, p, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    length -= size_t(n);
    offset += n;
  }
  return true;
}

static void state_of(const struct stat& st, FsFileState* out) {
  out->exists = true;
  out->device = st.st_dev;
  out->inode = st.st_ino;
  out->size = static_cast<unsigned long long>(st.st_size);
  out->modified_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

bool fs_file_state(const char* path, FsFileState* out) {
  *out = FsFileState{};
  struct stat st;
  if (stat(path, &st) != 0) return false;
  state_of(st, out);
  return true;
}

bool fs_same_state(const FsFileState& a, const FsFileState& b) {
  return a.exists == b.exists && a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modified_ns == b.modified_ns;
}

bool fs_make_private(const char* path) {
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ((st.st_mode & 07777) == 0600 || fchmod(fd, 0600) == 0);
  close(fd);
  return ok;
}

bool fs_append_whole(const char* path, const void* data, size_t length, bool new_line, int* error,
                     FsFileAccess access, FsFileState* before, FsFileState* after) {
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, access == FS_PRIVATE ? 0600 : 0666);
  if (fd < 0) {
    *error = errno;
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = errno;
    close(fd);
    return false;
  }
  if (before) state_of(st, before);
  off_t size = st.st_size;
  bool ok = true;
  off_t at = size;
  if (new_line && size > 0) {
    char last = 0;
    if (pread(fd, &last, 1, size - 1) == 1 && last != '\n') {
      ok = write_all_at(fd, "\r\n", 2, at);
      at += 2;
    }
  }
  ok = ok && write_all_at(fd, static_cast<const char*>(data), length, at);
  if (!ok) {
    *error = errno;
    // Nothing of a line that did not fit stays behind.
    if (ftruncate(fd, size) != 0) {}
  }
  if (after && fstat(fd, &st) == 0) state_of(st, after);
  close(fd);
  return ok;
}
