// User-based security module: keys of the configured users made once per pass phrase and engine
// id, the digest and signature, DES-CBC with the salt's IV, and the salt's layout.
#include <gtest/gtest.h>

#include <cstring>

#include "common/digest.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/snmp/usm.h"

namespace {

const uint8_t kEngine[5] = {0x80, 0, 0x1C, 0xAE, 9};
const uint8_t kOther[5] = {0x80, 0, 0x1C, 0xAE, 8};

class Usm : public ::testing::Test {
 protected:
  void SetUp() override {
    cfg_set_defaults();
    usm_local_keys_clear();
  }
};

TEST_F(Usm, LocalKeysAreMadeOncePerPassPhraseAndEngine) {
  uint32_t before = g_usm_key_localisations;
  const uint8_t* key = usm_local_key(0, false, kEngine, 5);
  ASSERT_NE(key, nullptr);
  uint8_t expected[16];
  Md5Context ctx;
  usm_password_to_key_md5(&ctx, expected, reinterpret_cast<const uint8_t*>("mq472816"), 8, kEngine, 5);
  EXPECT_EQ(std::memcmp(key, expected, 16), 0);
  usm_local_key(0, false, kEngine, 5);
  EXPECT_EQ(g_usm_key_localisations - before, 1u);
  text_copy8(g_usm.auth[0], 17, "changed1");
  usm_local_key(0, false, kEngine, 5);
  EXPECT_EQ(g_usm_key_localisations - before, 2u);
  usm_local_key(0, false, kOther, 5);
  EXPECT_EQ(g_usm_key_localisations - before, 3u);
  g_usm.priv[0][0] = 0;
  EXPECT_EQ(usm_local_key(0, true, kEngine, 5), nullptr);   // an emptied pass phrase has no key
  EXPECT_EQ(usm_local_key(USM_USER_MAX, false, kEngine, 5), nullptr);
}

TEST_F(Usm, SignatureAndDigestCheck) {
  uint8_t message[40] = {1, 2, 3};
  const uint8_t* key = usm_local_key(0, false, kEngine, 5);
  uint8_t* params = message + 20;
  usm_sign(message, sizeof message, key, params);
  uint8_t received[12];
  std::memcpy(received, params, 12);
  std::memset(params, 0, 12);
  EXPECT_TRUE(usm_digest_ok(message, sizeof message, key, received));
  received[11] ^= 1;
  EXPECT_FALSE(usm_digest_ok(message, sizeof message, key, received));
}

TEST_F(Usm, DesCbcWithTheSaltsIv) {
  const uint8_t* key = usm_local_key(0, true, kEngine, 5);
  uint8_t salt[8] = {1, 2, 3, 4, 0, 0, 0, 0};
  uint8_t data[16] = "scoped pdu text";
  uint8_t copy[16];
  std::memcpy(copy, data, 16);
  ASSERT_TRUE(usm_encrypt(data, 16, key, salt));
  EXPECT_NE(std::memcmp(data, copy, 16), 0);
  uint8_t other_salt[8] = {1, 2, 3, 5, 0, 0, 0, 0};
  uint8_t wrong[16];
  std::memcpy(wrong, data, 16);
  usm_decrypt(wrong, 16, key, other_salt);
  EXPECT_NE(std::memcmp(wrong, copy, 16), 0);
  ASSERT_TRUE(usm_decrypt(data, 16, key, salt));
  EXPECT_EQ(std::memcmp(data, copy, 16), 0);
  EXPECT_FALSE(usm_encrypt(data, 12, key, salt));
}

TEST_F(Usm, SaltLayoutAndWrap) {
  usm_set_salt_counter(0xFFFF);
  uint8_t salt[8];
  usm_next_salt(0x0302, salt);
  const uint8_t expected[8] = {0x02, 0x00, 0x03, 0x00, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(salt, expected, 8), 0);
  usm_next_salt(0x0302, salt);
  EXPECT_EQ(salt[1], 1);
}

}  // namespace
