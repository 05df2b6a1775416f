// Single-instance lock of a file: every spelling of its folder meets the same lock, the holder's
// pid is told, and only a plain file of this user, never a link, is taken.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/instance_mutex.h"
#include "support/temp_dir.h"

namespace {

InstanceMutexResult take(const std::string& path, InstanceMutex* lock, int* holder, std::string* reason = nullptr) {
  char text[160];
  InstanceMutexResult r = instance_mutex_create_file(path.c_str(), lock, holder, text, sizeof text);
  if (reason) *reason = text;
  return r;
}

TEST(InstanceMutex, EverySpellingOfAFolderMeetsTheSameLock) {
  TempDir dir;
  std::string folder = dir.file("install");
  std::string other = dir.file("other");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  ASSERT_EQ(symlink(folder.c_str(), dir.file("link").c_str()), 0);

  InstanceMutex held;
  int holder = -1;
  ASSERT_EQ(take(folder + "/Test.lock", &held, &holder), INSTANCE_MUTEX_CREATED);
  EXPECT_EQ(holder, 0);
  EXPECT_EQ(read_file(folder + "/Test.lock"), std::to_string(getpid()) + "\n");
  for (const std::string& spelling : {folder + "//Test.lock", folder + "/./Test.lock", dir.file("other/../install/Test.lock"),
                                      dir.file("link/Test.lock")}) {
    InstanceMutex second;
    EXPECT_EQ(take(spelling, &second, &holder), INSTANCE_MUTEX_EXISTS) << spelling;
    EXPECT_EQ(second.handle, -1);
    EXPECT_EQ(holder, int(getpid())) << "the holder's pid is told";
  }
  // Another folder, or another file, is another lock.
  InstanceMutex apart;
  EXPECT_EQ(take(other + "/Test.lock", &apart, &holder), INSTANCE_MUTEX_CREATED);
  instance_mutex_release(&apart);
  EXPECT_EQ(take(folder + "/Other.lock", &apart, &holder), INSTANCE_MUTEX_CREATED);
  instance_mutex_release(&apart);
  // Released, it can be taken again.
  instance_mutex_release(&held);
  EXPECT_EQ(take(dir.file("link/Test.lock"), &held, &holder), INSTANCE_MUTEX_CREATED);
  instance_mutex_release(&held);
}

TEST(InstanceMutex, LockFileIsPrivateAndAHeldOneWithoutAPidIsStillHeld) {
  TempDir dir;
  std::string path = dir.file("Test.lock");
  mode_t old_mask = umask(0);
  InstanceMutex held;
  int holder = -1;
  ASSERT_EQ(take(path, &held, &holder), INSTANCE_MUTEX_CREATED);
  umask(old_mask);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  // A pid that is not whole is not told.
  for (const char* text : {"", "12", "x\n", "-5\n"}) {
    write_file(path, text);
    InstanceMutex second;
    EXPECT_EQ(take(path, &second, &holder), INSTANCE_MUTEX_EXISTS) << text;
    EXPECT_EQ(holder, 0) << text;
  }
  instance_mutex_release(&held);
  // An existing file open to others is closed to them.
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(take(path, &held, &holder), INSTANCE_MUTEX_CREATED);
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  instance_mutex_release(&held);
}

// A path that is a link, a folder or another user's file is not taken, and nothing is written.
TEST(InstanceMutex, OnlyAPlainFileOfThisUserIsTaken) {
  TempDir dir;
  write_file(dir.file("target"), "kept");
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link.lock").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("folder.lock").c_str(), 0700), 0);
  write_file(dir.file("theirs.lock"), "4321\n");
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(dir.file("theirs.lock").c_str(), 65534, 65534), 0);
  }
  struct Case {
    const char* name;
    bool needs_root;
  } cases[] = {{"link.lock", false}, {"folder.lock", false}, {"theirs.lock", true}};
  for (const Case& c : cases) {
    if (c.needs_root && !root) continue;
    InstanceMutex lock;
    int holder = -1;
    std::string reason;
    EXPECT_EQ(take(dir.file(c.name), &lock, &holder, &reason), INSTANCE_MUTEX_FAILED) << c.name;
    EXPECT_EQ(lock.handle, -1) << c.name;
    EXPECT_FALSE(reason.empty()) << c.name;
  }
  EXPECT_EQ(read_file(dir.file("target")), "kept");
  EXPECT_EQ(read_file(dir.file("theirs.lock")), "4321\n");
  InstanceMutex lock;
  int holder = -1;
  EXPECT_EQ(take(dir.file("missing/Test.lock"), &lock, &holder), INSTANCE_MUTEX_FAILED);
}

}  // namespace
