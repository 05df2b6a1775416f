#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/service_control.h"
#include "support/temp_dir.h"

namespace {

struct SmallManagerTest : ::testing::Test {
  TempDir dir;
  void SetUp() override { setenv("VELLMAR_SERVICE_STATE", dir.path.c_str(), 1); }
  void TearDown() override { unsetenv("VELLMAR_SERVICE_STATE"); }
};

uint32_t state_of(ScHandle service) {
  ServiceStatus s;
  return sc_query_status(service, &s) ? s.current_state : 0;
}

bool wait_state(ScHandle service, uint32_t state) {
  uint32_t start = clock_tick_count();
  while (state_of(service) != state) {
    if (clock_tick_count() - start > 10000) return false;
    clock_sleep_ms(20);
  }
  return true;
}

TEST_F(SmallManagerTest, CreateStartStopDelete) {
  ScHandle manager = sc_open_manager();
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(sc_open_service(manager, u"Vellmar"), nullptr) << "not installed yet";
  ScHandle service = sc_create_service(manager, u"Vellmar", "sleep 60");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(sc_create_service(manager, u"Vellmar", "sleep 60"), nullptr) << "installed twice";
  EXPECT_EQ(state_of(service), uint32_t(SERVICE_STOPPED));
  ServiceStatus status;
  EXPECT_FALSE(sc_control(service, SERVICE_CONTROL_STOP, &status)) << "a stopped service takes no stop";

  ASSERT_TRUE(sc_start(service));
  EXPECT_EQ(state_of(service), uint32_t(SERVICE_RUNNING));
  EXPECT_FALSE(sc_start(service)) << "it runs already";
  std::string pid = read_file(dir.file("Vellmar/pid"));
  EXPECT_FALSE(pid.empty());

  // A second handle sees the same service.
  ScHandle again = sc_open_service(manager, u"Vellmar");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(state_of(again), uint32_t(SERVICE_RUNNING));
  sc_close(again);

  ASSERT_TRUE(sc_control(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(status.current_state == SERVICE_STOP_PENDING || status.current_state == SERVICE_STOPPED);
  EXPECT_TRUE(wait_state(service, SERVICE_STOPPED));

  // Started again, then deleted while it runs: it goes on until stopped, and cannot be opened.
  ASSERT_TRUE(sc_start(service));
  EXPECT_NE(read_file(dir.file("Vellmar/pid")), pid);
  ASSERT_TRUE(sc_delete(service));
  EXPECT_EQ(sc_open_service(manager, u"Vellmar"), nullptr);
  EXPECT_EQ(state_of(service), uint32_t(SERVICE_RUNNING));
  ASSERT_TRUE(sc_control(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(wait_state(service, SERVICE_STOPPED));
  sc_close(service);
  sc_close(manager);
}

TEST_F(SmallManagerTest, ACommandThatEndsIsReportedStopped) {
  ScHandle manager = sc_open_manager();
  ScHandle service = sc_create_service(manager, u"Short", "true");
  ASSERT_NE(service, nullptr);
  ASSERT_TRUE(sc_start(service));
  EXPECT_TRUE(wait_state(service, SERVICE_STOPPED));
  ASSERT_TRUE(sc_delete(service));
  EXPECT_FALSE(fs_exists(dir.file("Short"))) << "a stopped service's folder goes with it";
  sc_close(service);
  sc_close(manager);
}

TEST_F(SmallManagerTest, NamesThatAreNotPlainWordsAreRefused) {
  ScHandle manager = sc_open_manager();
  for (const char16_t* name : {u"", u"..", u"a/b", u".hidden", u"two words"})
    EXPECT_EQ(sc_create_service(manager, name, "true"), nullptr);
  sc_close(manager);
}

TEST(ServiceControl, NoManagerWithoutItsFolderOrUnderTest) {
  setenv("VELLMAR_SERVICE_STATE", "/nonexistent/vellmar-state", 1);
  EXPECT_EQ(sc_open_manager(), nullptr);
  // Under test without a folder of its own, the machine's manager is never used.
  unsetenv("VELLMAR_SERVICE_STATE");
  const char* was = getenv("VELLMAR_TEST");
  std::string saved = was ? was : "";
  setenv("VELLMAR_TEST", "1", 1);
  EXPECT_EQ(sc_open_manager(), nullptr);
  if (was) setenv("VELLMAR_TEST", saved.c_str(), 1);
  else unsetenv("VELLMAR_TEST");
}

}  // namespace
