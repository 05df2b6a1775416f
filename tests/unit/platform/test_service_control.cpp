#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/stat.h>

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

TEST_F(SmallManagerTest, FailuresAndTheLastWordsOfAServiceThatEndedAreTold) {
  ScHandle manager = sc_open_manager();
  EXPECT_EQ(sc_open_service(manager, u"Vellmar"), nullptr);
  EXPECT_STREQ(sc_last_failure(), "the service Vellmar is not installed");
  ScHandle service = sc_create_service(manager, u"Vellmar", "sh -c 'echo starting; echo agent.ini is a folder >&2; exit 1'");
  ASSERT_NE(service, nullptr);
  ServiceStatus status;
  EXPECT_FALSE(sc_control(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_STREQ(sc_last_failure(), "Vellmar does not run");
  ASSERT_TRUE(sc_start(service));
  EXPECT_STREQ(sc_last_failure(), "") << "a call that works leaves no failure";
  ASSERT_TRUE(wait_state(service, SERVICE_STOPPED));
  char why[128];
  ASSERT_TRUE(sc_stop_reason(service, why, sizeof why));
  EXPECT_STREQ(why, "agent.ini is a folder");
  ASSERT_TRUE(sc_stop_reason(service, why, 6));
  EXPECT_STREQ(why, "agent") << "cut to its room";
  sc_delete(service);
  sc_close(service);
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

namespace {

// A systemctl stand-in: logs its arguments, answers "show" from files in its folder.
struct SystemdTest : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    write_file(dir.file("systemctl"),
               "#!/bin/sh\n"
               "d=$(dirname \"$0\")\n"
               "echo \"$*\" >> \"$d/calls\"\n"
               "case \"$1 $2\" in\n"
               "  'show --property=LoadState') cat \"$d/load\" ;;\n"
               "  'show --property=ActiveState') cat \"$d/active\" ;;\n"
               "  'show --property=FragmentPath') echo \"$d/Vellmar.service\" ;;\n"
               "  'show --property=Result') cat \"$d/result\" ;;\n"
               "  'show --property=StatusText') cat \"$d/status\" ;;\n"
               "  'start --no-block') [ ! -f \"$d/start-fails\" ] || exit 5 ;;\n"
               "esac\n");
    chmod(dir.file("systemctl").c_str(), 0755);
    write_file(dir.file("load"), "loaded\n");
    write_file(dir.file("active"), "active\n");
    write_file(dir.file("Vellmar.service"), "[Service]\n");
    setenv("VELLMAR_SYSTEMCTL", dir.file("systemctl").c_str(), 1);
    unsetenv("VELLMAR_SERVICE_STATE");
  }
  void TearDown() override { unsetenv("VELLMAR_SYSTEMCTL"); }
  std::string calls() {
    std::string c = read_file(dir.file("calls"));
    std::string kept;
    // Only the calls that act; the "show" queries are how the state is read.
    size_t at = 0;
    while (at < c.size()) {
      size_t end = c.find('\n', at);
      std::string line = c.substr(at, end - at);
      if (line.rfind("show ", 0) != 0) kept += line + "\n";
      at = end + 1;
    }
    return kept;
  }
};

TEST_F(SystemdTest, TheUnitIsDrivenThroughSystemctl) {
  ScHandle manager = sc_open_manager();
  ASSERT_NE(manager, nullptr);
  ScHandle service = sc_open_service(manager, u"Vellmar");
  ASSERT_NE(service, nullptr);
  EXPECT_EQ(state_of(service), uint32_t(SERVICE_RUNNING));
  EXPECT_EQ(sc_create_service(manager, u"Other", "true"), nullptr) << "units are installed by the install script";
  ServiceStatus status;
  EXPECT_TRUE(sc_control(service, SERVICE_CONTROL_STOP, &status));
  EXPECT_FALSE(sc_start(service)) << "it has not stopped yet";
  write_file(dir.file("active"), "deactivating\n");
  EXPECT_EQ(state_of(service), uint32_t(SERVICE_STOP_PENDING));
  write_file(dir.file("active"), "failed\n");
  EXPECT_EQ(state_of(service), uint32_t(SERVICE_STOPPED));
  EXPECT_TRUE(sc_start(service));
  EXPECT_TRUE(sc_delete(service));
  EXPECT_FALSE(fs_exists(dir.file("Vellmar.service")));
  EXPECT_EQ(calls(), "stop --no-block Vellmar.service\nstart --no-block Vellmar.service\n"
                     "disable Vellmar.service\ndaemon-reload\n");
  sc_close(service);
  write_file(dir.file("load"), "not-found\n");
  EXPECT_EQ(sc_open_service(manager, u"Vellmar"), nullptr);
  sc_close(manager);
}

TEST_F(SystemdTest, TheManagersReasonsAreKept) {
  ScHandle manager = sc_open_manager();
  write_file(dir.file("load"), "masked\n");
  EXPECT_EQ(sc_open_service(manager, u"Vellmar"), nullptr);
  EXPECT_STREQ(sc_last_failure(), "Vellmar.service is masked");
  write_file(dir.file("load"), "loaded\n");
  ScHandle service = sc_open_service(manager, u"Vellmar");
  ASSERT_NE(service, nullptr);
  EXPECT_FALSE(sc_start(service));
  EXPECT_STREQ(sc_last_failure(), "Vellmar.service is active");
  write_file(dir.file("active"), "failed\n");
  write_file(dir.file("start-fails"), "");
  EXPECT_FALSE(sc_start(service));
  EXPECT_STREQ(sc_last_failure(), "systemctl start Vellmar.service ended with exit code 5");
  write_file(dir.file("result"), "exit-code\n");
  write_file(dir.file("status"), "Web: NOK\n");
  char why[128];
  ASSERT_TRUE(sc_stop_reason(service, why, sizeof why));
  EXPECT_STREQ(why, "result exit-code: Web: NOK");
  sc_close(service);
  sc_close(manager);
}

}  // namespace
