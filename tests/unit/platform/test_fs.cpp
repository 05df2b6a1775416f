// Private files and folders: their modes do not depend on the umask, an existing open folder or
// file is closed to others, a symbolic link is not followed.
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

}  // namespace
