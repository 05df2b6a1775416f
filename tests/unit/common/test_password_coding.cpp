#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/settings_file.h"
#include "common/text.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

namespace {

class PasswordCoding : public ::testing::Test {
 protected:
  void SetUp() override { codec_table_init(); }
  std::string code(uint8_t mode, const std::string& plain) {
    char out[256];
    cfg_code_secret(mode, plain.data(), int(plain.size()), out);
    return out;
  }
  std::string decode(uint8_t mode, const std::string& stored) {
    char out[256];
    cfg_decode_secret(mode, stored.c_str(), out);
    return out;
  }
};

TEST_F(PasswordCoding, ModeOneIsCrypt64) {
  EXPECT_EQ(code(1, "abc"), "V7qM");
  EXPECT_EQ(decode(1, "V7qM"), "abc");
  EXPECT_EQ(code(0, "abc"), "abc");
  EXPECT_EQ(decode(0, "abc"), "abc");
}

TEST_F(PasswordCoding, ModeOneDropsATrailingLineFeed) {
  std::string stored = code(1, "pw\n");
  EXPECT_EQ(decode(1, stored), "pw");
}

TEST_F(PasswordCoding, ModeTwoIsWholeAesBlocksInCrypt64) {
  struct Case {
    size_t length;
    size_t characters;
  } cases[] = {{5, 24}, {16, 24}, {17, 44}, {32, 44}, {0, 0}};
  for (const Case& c : cases) {
    std::string plain;
    for (size_t i = 0; i < c.length; ++i) plain += char('a' + i % 26);
    std::string stored = code(2, plain);
    EXPECT_EQ(stored.size(), c.characters) << c.length;
    EXPECT_EQ(decode(2, stored), plain) << c.length;
  }
}

TEST_F(PasswordCoding, ModeTwoReadsBackWhateverBytesTheCipherMade) {
  // Many passwords, so that some cipher texts hold zero bytes: the decoder counts blocks from the
  // decoded length, not from a terminator.
  for (int i = 0; i < 2000; ++i) {
    std::string plain = "pw" + std::to_string(i * 7919);
    EXPECT_EQ(decode(2, code(2, plain)), plain);
  }
}

TEST_F(PasswordCoding, BadStoredTextReadsAsEmpty) {
  EXPECT_EQ(decode(2, "V7qMV."), "") << "six characters";
  EXPECT_EQ(decode(1, "V7q!"), "");
  EXPECT_EQ(decode(2, std::string(400, 'A')), "");
}

TEST_F(PasswordCoding, LoginTokenIsModeTwoAsText) {
  char16_t token[32];
  cfg_encrypt_password(u"quillbox", token, 32);
  EXPECT_EQ(text_len16(token), 24u);
  char token8[64];
  text_utf16_to_utf8(token8, sizeof token8, token);
  EXPECT_EQ(decode(2, token8), "quillbox");
}

class StoredSettings : public ::testing::TestWithParam<int> {
 protected:
  TempDir dir;
  void SetUp() override {
    codec_table_init();
    text_copy8(InstallDir, sizeof InstallDir, dir.path.c_str());
    text_utf8_to_utf16(InstallDirW, 260, InstallDir);
    IniVersion = 0;
    cfg_set_defaults();
  }
};

TEST_P(StoredSettings, EveryGroupLoadsBackToTheSamePlainPasswords) {
  uint8_t mode = uint8_t(GetParam());
  g_settings.web_password_mode = mode;
  g_settings.vm_password_mode = mode;
  g_usm.password_mode = mode;
  text_utf8_to_utf16(g_settings.account_password[0], 33, "S\xC3\xA9same-ouvre-toi-123456789");  // 27 bytes
  text_utf8_to_utf16(g_settings.vm_password, 33, "esx-secret");
  text_copy8(g_usm.auth[0], 17, "authpassphrase16");
  memset(g_usm.priv[0], 0, 17);  // no bytes of the factory phrase behind the new one
  text_copy8(g_usm.priv[0], 17, "p");
  g_clusters.count = 1;
  text_copy8(g_clusters.password[0], 33, "cluster-password-of-32-bytes-xyz");
  cfg_save();
  std::string file = read_file(dir.file("agent.ini"));
  if (mode != 0) {
    EXPECT_EQ(file.find("esx-secret"), std::string::npos);
  }
  AgentSettings saved = g_settings;
  UsmSettings saved_usm = g_usm;
  ClusterList saved_clusters = g_clusters;
  memset(&g_settings, 0, sizeof g_settings);
  memset(&g_usm, 0, sizeof g_usm);
  memset(&g_clusters, 0, sizeof g_clusters);
  cfg_load(nullptr);
  EXPECT_EQ(memcmp(&saved, &g_settings, sizeof saved), 0);
  EXPECT_EQ(memcmp(&saved_usm, &g_usm, sizeof saved_usm), 0);
  EXPECT_EQ(memcmp(&saved_clusters, &g_clusters, sizeof saved_clusters), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, StoredSettings, ::testing::Values(0, 1, 2));

TEST(StoredSettingsModes, ModeAboveTwoLeavesOutTheGroupsLines) {
  TempDir dir;
  codec_table_init();
  text_copy8(InstallDir, sizeof InstallDir, dir.path.c_str());
  cfg_set_defaults();
  g_settings.web_password_mode = 3;
  cfg_save();
  std::string file = read_file(dir.file("agent.ini"));
  size_t web = file.find("[Web]"), shutdown = file.find("[Shutdown]");
  std::string section = file.substr(web, shutdown - web);
  EXPECT_EQ(section.find("Password"), std::string::npos) << section;
  EXPECT_NE(section.find("User2=user"), std::string::npos);
}

class InstallFolder : public ::testing::Test {
 protected:
  TempDir dir;
  char saved_cwd[4096];
  void SetUp() override { ASSERT_NE(getcwd(saved_cwd, sizeof saved_cwd), nullptr); }
  void TearDown() override { ASSERT_EQ(chdir(saved_cwd), 0); }
};

TEST_F(InstallFolder, TrailingSeparatorIsRemovedFromBothForms) {
  std::string reg = dir.file("registry");
  write_file(reg, "[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=" + dir.path + "/\n");
  setenv("VELLMAR_REGISTRY", reg.c_str(), 1);
  cfg_load_install_path();
  EXPECT_EQ(std::string(InstallDir), dir.path);
  char back[300];
  text_utf16_to_utf8(back, sizeof back, InstallDirW);
  EXPECT_EQ(std::string(back), dir.path);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(std::string(cwd), dir.path) << "the folder becomes the current directory";
}

TEST_F(InstallFolder, MissingOrTooLongValueTakesTheCurrentDirectory) {
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  std::string reg = dir.file("registry");
  write_file(reg, "[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=/" + std::string(200, 'x') + "\n");
  setenv("VELLMAR_REGISTRY", reg.c_str(), 1);
  cfg_load_install_path();
  EXPECT_EQ(std::string(InstallDir), dir.path);
  setenv("VELLMAR_REGISTRY", dir.file("absent").c_str(), 1);
  cfg_load_install_path();
  EXPECT_EQ(std::string(InstallDir), dir.path);
}

// A relative folder, and a registry file that is no file or too large, are told apart from a
// missing entry (the service refuses to start on them); none changes the current directory.
TEST_F(InstallFolder, RelativeFoldersAndUnusableRegistryFilesAreNamed) {
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  mkdir(dir.file("rel").c_str(), 0700);
  std::string reg = dir.file("registry");
  write_file(reg, "[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=rel\n");
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("/dev/zero", dir.file("zero").c_str()), 0);
  write_file(dir.file("huge"), std::string(FS_TEXT_FILE_MAX + 1, '\n'));
  const struct {
    const char* registry;
    InstallPathState state;
  } cases[] = {
      {"registry", INSTALL_PATH_RELATIVE}, {"fifo", INSTALL_PATH_BAD_REGISTRY}, {"zero", INSTALL_PATH_BAD_REGISTRY},
      {"huge", INSTALL_PATH_BAD_REGISTRY}, {"absent", INSTALL_PATH_NO_ENTRY},
  };
  for (const auto& c : cases) {
    setenv("VELLMAR_REGISTRY", dir.file(c.registry).c_str(), 1);
    cfg_load_install_path();
    EXPECT_EQ(cfg_install_path_state(), c.state) << c.registry;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), dir.path) << c.registry;
  }
}

TEST_F(InstallFolder, ShortcutPointsAtTheLocalWebInterface) {
  text_copy8(InstallDir, sizeof InstallDir, dir.path.c_str());
  struct Case {
    uint8_t protocols;
    uint16_t http, https;
    const char* text;
  } cases[] = {
      {3, 8080, 443, "[InternetShortcut]\r\nURL=http://127.0.0.1:8080\r\n"},
      {2, 80, 443, "[InternetShortcut]\r\nURL=https://127.0.0.1:443\r\n"},
      {0, 80, 443, "[InternetShortcut]\r\n"},
  };
  for (const Case& c : cases) {
    g_settings.web_protocols = c.protocols;
    g_settings.http_port = c.http;
    g_settings.https_port = c.https;
    cfg_write_url_shortcut();
    EXPECT_EQ(read_file(dir.file("Vellmar.url")), c.text);
  }
}

}  // namespace
