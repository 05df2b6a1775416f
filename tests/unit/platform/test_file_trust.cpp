// The trust check of files the service runs: every folder and link on the way is looked at, a
// missing element is absent only where nobody else could make it, and the end is of the kind asked.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/file_trust.h"
#include "support/temp_dir.h"

namespace {

struct Outcome {
  FileTrust trust;
  std::string resolved;
  std::string reason;
};

Outcome check(const std::string& path, FileTrustKind kind) {
  char resolved[4096], reason[600];
  Outcome o;
  o.trust = file_trusted(path.c_str(), kind, resolved, sizeof resolved, reason, sizeof reason);
  o.resolved = resolved;
  o.reason = reason;
  return o;
}

class FileTrustTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string real;   // a safe folder with a safe file in it

  void SetUp() override {
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    real = dir.file("real");
    ASSERT_EQ(mkdir(real.c_str(), 0755), 0);
    write_file(real + "/run.sh", "exit 0\n");
    ASSERT_EQ(chmod((real + "/run.sh").c_str(), 0755), 0);
  }

  void link(const std::string& target, const std::string& name, uid_t owner = 0) {
    ASSERT_EQ(symlink(target.c_str(), dir.file(name).c_str()), 0);
    if (owner) {
      ASSERT_EQ(lchown(dir.file(name).c_str(), owner, owner), 0);
    }
  }
  void folder(const std::string& name, mode_t mode) {
    ASSERT_EQ(mkdir(dir.file(name).c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.file(name).c_str(), mode), 0);
  }
};

TEST_F(FileTrustTest, LinksOnTheWayAreWalkedAndMustBeSafe) {
  bool root = geteuid() == 0;
  link(real + "/run.sh", "to-file");
  link("real", "to-folder");
  link("../real/run.sh", "real/up-and-back");
  folder("open", 0777);
  link(real + "/run.sh", "open/to-file");
  if (root) {
    link(real + "/run.sh", "nobody-to-file", 65534);
    link(real, "nobody-to-folder", 65534);
  }
  struct Case {
    const char* path;   // under the test folder
    bool needs_root;
    FileTrust trust;
    const char* resolved_or_reason;   // the resolved path under the folder, or a part of the reason
  } cases[] = {
      {"real/run.sh", false, FILE_TRUSTED, "real/run.sh"},
      {"to-file", false, FILE_TRUSTED, "real/run.sh"},
      {"to-folder/run.sh", false, FILE_TRUSTED, "real/run.sh"},
      {"to-folder/../real/./run.sh", false, FILE_TRUSTED, "real/run.sh"},
      {"real/up-and-back", false, FILE_TRUSTED, "real/run.sh"},
      {"open/to-file", false, FILE_NOT_TRUSTED, "open is writable by group or others"},
      {"nobody-to-file", true, FILE_NOT_TRUSTED, "nobody-to-file is owned by uid 65534"},
      {"nobody-to-folder/run.sh", true, FILE_NOT_TRUSTED, "nobody-to-folder is owned by uid 65534"},
  };
  for (const Case& c : cases) {
    if (c.needs_root && !root) continue;
    Outcome o = check(dir.file(c.path), TRUST_FILE);
    EXPECT_EQ(o.trust, c.trust) << c.path << ": " << o.reason;
    if (c.trust == FILE_TRUSTED) EXPECT_EQ(o.resolved, dir.file(c.resolved_or_reason)) << c.path;
    else EXPECT_NE(o.reason.find(c.resolved_or_reason), std::string::npos) << c.path << ": " << o.reason;
  }
}

TEST_F(FileTrustTest, MissingIsAbsentOnlyWhereNobodyElseCouldMakeIt) {
  bool root = geteuid() == 0;
  folder("sticky", 01777);
  link(dir.file("sticky/gone"), "to-sticky");
  struct Case {
    const char* path;
    bool needs_root;
    FileTrust trust;
    const char* reason;
  } cases[] = {
      {"real/missing.sh", false, FILE_ABSENT, "real/missing.sh does not exist"},
      {"missing/bin/tool", false, FILE_ABSENT, "missing does not exist"},
      {"sticky/planted.sh", true, FILE_NOT_TRUSTED, "others may make it in"},
      {"to-sticky", true, FILE_NOT_TRUSTED, "others may make it in"},
  };
  for (const Case& c : cases) {
    if (c.needs_root && !root) continue;
    Outcome o = check(dir.file(c.path), TRUST_FILE);
    EXPECT_EQ(o.trust, c.trust) << c.path << ": " << o.reason;
    EXPECT_NE(o.reason.find(c.reason), std::string::npos) << c.path << ": " << o.reason;
  }
}

TEST_F(FileTrustTest, TheEndIsOfTheKindAsked) {
  struct Case {
    const char* path;
    FileTrustKind kind;
    FileTrust trust;
    const char* reason;
  } cases[] = {
      {"real", TRUST_FOLDER, FILE_TRUSTED, ""},
      {"real/", TRUST_FOLDER, FILE_TRUSTED, ""},
      {"real", TRUST_FILE, FILE_NOT_TRUSTED, "is a folder, not a file"},
      {"real/run.sh", TRUST_FOLDER, FILE_NOT_TRUSTED, "is not a folder"},
      {"real/run.sh/x", TRUST_FILE, FILE_NOT_TRUSTED, "is not a folder"},
      {"", TRUST_FILE, FILE_NOT_TRUSTED, "no file named"},
  };
  for (const Case& c : cases) {
    Outcome o = check(c.path[0] ? dir.file(c.path) : "", c.kind);
    EXPECT_EQ(o.trust, c.trust) << c.path << ": " << o.reason;
    EXPECT_NE(o.reason.find(c.reason), std::string::npos) << c.path << ": " << o.reason;
  }
  EXPECT_EQ(check("/dev/null", TRUST_FILE).trust, FILE_NOT_TRUSTED);
  // A relative path is walked from the current folder.
  char cwd[4096];
  bool had_cwd = getcwd(cwd, sizeof cwd) != nullptr;
  ASSERT_EQ(chdir(real.c_str()), 0);
  Outcome o = check("run.sh", TRUST_FILE);
  if (!had_cwd || chdir(cwd) != 0) {
    EXPECT_EQ(chdir("/"), 0);
  }
  EXPECT_EQ(o.trust, FILE_TRUSTED) << o.reason;
  EXPECT_EQ(o.resolved, real + "/run.sh");
}

}  // namespace
