// Single-instance mutex scoped to a folder: every spelling of one folder meets the same mutex.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "platform/instance_mutex.h"
#include "support/temp_dir.h"

namespace {

TEST(InstanceMutex, EverySpellingOfAFolderMeetsTheSameMutex) {
  TempDir dir;
  std::string folder = dir.file("install");
  std::string other = dir.file("other");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
  ASSERT_EQ(symlink(folder.c_str(), dir.file("link").c_str()), 0);

  InstanceMutex held;
  ASSERT_EQ(instance_mutex_create_for_folder(u"Vellmar-Test", folder.c_str(), &held), INSTANCE_MUTEX_CREATED);
  for (const std::string& spelling : {folder, folder + "/", folder + "/.", dir.file("other/../install"),
                                      dir.file("link"), dir.file("link/")}) {
    InstanceMutex second;
    EXPECT_EQ(instance_mutex_create_for_folder(u"Vellmar-Test", spelling.c_str(), &second), INSTANCE_MUTEX_EXISTS)
        << spelling;
    EXPECT_EQ(second.handle, -1);
  }
  // Another folder, or another name, is another mutex.
  InstanceMutex apart;
  EXPECT_EQ(instance_mutex_create_for_folder(u"Vellmar-Test", other.c_str(), &apart), INSTANCE_MUTEX_CREATED);
  instance_mutex_release(&apart);
  EXPECT_EQ(instance_mutex_create_for_folder(u"Vellmar-Other", folder.c_str(), &apart), INSTANCE_MUTEX_CREATED);
  instance_mutex_release(&apart);
  // Released, it can be taken again.
  instance_mutex_release(&held);
  EXPECT_EQ(instance_mutex_create_for_folder(u"Vellmar-Test", dir.file("link").c_str(), &held), INSTANCE_MUTEX_CREATED);
  instance_mutex_release(&held);
}

}  // namespace
