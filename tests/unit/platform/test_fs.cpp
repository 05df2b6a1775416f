// Private files and folders: their modes do not depend on the umask, an existing open folder or
// file is closed to others, a symbolic link is not followed. Reads that take regular files only.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/fs.h"
#include "tests/support/temp_dir.h"

namespace {

unsigned mode_of(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

TEST(PrivateFiles, ModesWhateverTheUmask) {
  TempDir dir;
  mode_t old = umask(0);
  std::string fresh = dir.file("fresh"), open_dir = dir.file("open");
  EXPECT_TRUE(fs_create_private_directory(fresh.c_str()));
  ASSERT_EQ(mkdir(open_dir.c_str(), 0777), 0);
  EXPECT_TRUE(fs_create_private_directory(open_dir.c_str()));
  write_file(dir.file("open/old.txt"), "old text");
  chmod(dir.file("open/old.txt").c_str(), 0666);
  for (const char* name : {"open/new.txt", "open/old.txt"}) {
    FILE* f = fs_open_private(dir.file(name).c_str(), "w");
    ASSERT_NE(f, nullptr) << name;
    fputs("new", f);
    fclose(f);
    EXPECT_EQ(mode_of(dir.file(name)), 0600u) << name;
    EXPECT_EQ(read_file(dir.file(name)), "new") << name;
  }
  std::string copy = dir.file("open/copy.txt");
  EXPECT_TRUE(fs_copy_file(dir.file("open/new.txt").c_str(), copy.c_str(), false, FS_PRIVATE));
  EXPECT_EQ(mode_of(copy), 0600u);
  umask(old);
  EXPECT_EQ(mode_of(fresh), 0700u);
  EXPECT_EQ(mode_of(open_dir), 0700u);
}

TEST(PrivateFiles, LinksAndFilesAreNotTaken) {
  TempDir dir;
  write_file(dir.file("target"), "keep");
  chmod(dir.file("target").c_str(), 0644);
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
  EXPECT_EQ(fs_open_private(dir.file("link").c_str(), "w"), nullptr);
  EXPECT_EQ(read_file(dir.file("target")), "keep");
  EXPECT_FALSE(fs_create_private_directory(dir.file("target").c_str()));
  EXPECT_FALSE(fs_create_private_directory(dir.file("link").c_str()));
  EXPECT_EQ(mode_of(dir.file("target")), 0644u);
}

TEST(PrivateFiles, AWrittenPrivateFileReplacesALinkAndLeavesItsTarget) {
  TempDir dir;
  write_file(dir.file("target"), "keep");
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("copy").c_str()), 0);
  EXPECT_TRUE(fs_write_private_file(dir.file("copy").c_str(), "bytes", 5));
  EXPECT_EQ(read_file(dir.file("target")), "keep");
  struct stat st;
  ASSERT_EQ(lstat(dir.file("copy").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(mode_of(dir.file("copy")), 0600u);
  EXPECT_EQ(read_file(dir.file("copy")), "bytes");
}

// A FIFO (no writer), a device, a folder: refused at once, nothing read.
TEST(ReadRegular, OnlyRegularFilesUpToTheirLimit) {
  TempDir dir;
  write_file(dir.file("small"), "0123456789");
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
  const struct {
    const char* name;
    size_t max;
    FsReadResult result;
    const char* text;
  } cases[] = {
      {"small", 10, FS_READ_OK, "0123456789"},     {"small", 4, FS_READ_TOO_LARGE, "0123"},
      {"fifo", 10, FS_READ_NOT_REGULAR, ""},       {"zero", 10, FS_READ_NOT_REGULAR, ""},
      {"folder", 10, FS_READ_NOT_REGULAR, ""},     {"absent", 10, FS_READ_MISSING, ""},
  };
  for (const auto& c : cases) {
    std::string text;
    int error = 0;
    EXPECT_EQ(fs_read_regular(dir.file(c.name).c_str(), c.max, &text, &error), c.result) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
    FsReadResult opened;
    FILE* f = fs_open_regular(dir.file(c.name).c_str(), c.max, &opened, &error);
    EXPECT_EQ(f != nullptr, c.result == FS_READ_OK) << c.name;
    if (f) fclose(f);
  }
}

}  // namespace
