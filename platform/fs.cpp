// Linux back end of the file-system calls.
#include "platform/fs.h"

#include <cerrno>
#include <cstring>
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

bool fs_replace_file(const char* path, const void* data, size_t length, FsFileAccess access) {
  std::string tmp = std::string(path) + ".XXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  struct stat old;
  if (stat(path, &old) == 0) {
    // As root the owner is kept too; otherwise a foreign owner stays as the rename leaves it.
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {}
    fchmod(fd, old.st_mode & 07777);
  } else {
    fchmod(fd, access == FS_PRIVATE ? 0600 : 0644);
  }
  FILE* f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    remove(tmp.c_str());
    return false;
  }
  bool ok = fwrite(data, 1, length, f) == length;
  ok = fs_flush_file(f) && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok || rename(tmp.c_str(), path) != 0) {
    remove(tmp.c_str());
    return false;
  }
  sync_directory_of(path);
  return true;
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
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  const char* p = static_cast<const char*>(data);
  while (ok && length > 0) {
    ssize_t n = write(fd, p, length);
    if (n <= 0) {
      ok = false;
      break;
    }
    p += n;
    length -= size_t(n);
  }
  return close(fd) == 0 && ok;
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
