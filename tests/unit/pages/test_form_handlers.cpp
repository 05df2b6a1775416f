// Tests of the UPS form handlers: page dispatch, the token and input checks, the history view,
// the device settings and commands, the SNMP port and context, the settings download and upload,
// and the debug page.
#include <gtest/gtest.h>

#include "common/settings_file.h"
#include "pages_fixture.h"
#include "service/core/scheduler.h"
#include "service/events/event_views.h"
#include "service/snmp/trap_state.h"
#include "service/web/system_pages.h"

namespace pages_test {
namespace {

const std::string R1 = "OK: Redirect=/en/hist_log.asp";
const std::string R2 =
    "Message: Redirect=/en/hist_log.asp\nTitle=Incorrect Date Format\nBody=<font color=#808000>The date format is "
    "not correct, please check it again.</font>\n";
const std::string R4 =
    "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const std::string R6 =
    "Message: Redirect=/en/device/dev_control.asp\nTitle=Information\nBody=<font color=#008000>Command "
    "submitted.</font>\n";
const std::string R10 =
    "Message: Redirect=/en/sys_batch.asp\nTitle=Error\nBody=<font color=#800000>File format mismatched or "
    "error.</font>\n";
const std::string RN = "Message: Title=Error\nBody=<font color=#F00000>FIFO_GROUP_POST not found!</font>\n";
const std::string BAD = "Message: Title=Error\nBody=<font color=#F00000>Incorrect input!</font>\n";
const std::string NONE = "-";

class FormHandlers : public PagesFixture {
 protected:
  // The factory listener ports, stored.
  void store_ports() {
    g_source_ips.listen_port = 162;
    g_snmp_agent.listen_port = 161;
    cfg_save();
  }
  void log_lines(int n) {
    for (int i = 0; i < n; ++i) EventApi.evt_log(u"0.0.0.0", 1, u"x", nullptr);
  }
};

TEST_F(FormHandlers, PagesAreFoundByTheStartOfTheLastSegment) {
  EXPECT_EQ(post("/en/device/unknown_page", "a=1"), RN);
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok"), RN);  // no sub-form
  EXPECT_EQ(post("/en/device/dev_config2", "SYS_UCTOKEN=tok&SUB_SHUTDOWN=1&CFG_PF_EN=1"), R4);
  EXPECT_EQ(post("/debug", "DBG_REFRESH=1"), "OK: Redirect=/debug.asp");
  EXPECT_EQ(post("/debug", "DBG_HOME=1"), "OK: Redirect=/home.asp");
  EXPECT_EQ(post("/debug", "OTHER=1"), NONE);
}

TEST_F(FormHandlers, TokenIsCheckedBeforeAnythingChanges) {
  g_settings.condition_enable[0] = 1;
  std::string before = ini();
  const char* bodies[] = {"SUB_SHUTDOWN=1", "SYS_UCTOKEN=&SUB_SHUTDOWN=1", "SYS_UCTOKEN=bad&SUB_SHUTDOWN=1"};
  for (const char* body : bodies) {
    EXPECT_EQ(post("/en/device/dev_config", body), NONE) << body;
    EXPECT_EQ(g_settings.condition_enable[0], 1) << body;
  }
  EXPECT_EQ(post("/en/device/dev_control", "SYS_UCTOKEN=nope&SIM_POWERFAIL=1"), NONE);
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_TRAP_FORWARD));
  EXPECT_EQ(post("/en/device/dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.9.9.9&CFG_DEV_COMM=x&CFG_DEV_PERMISSION=2"),
            NONE);
  EXPECT_EQ(ini(), before);
}

TEST_F(FormHandlers, HistoryPaging) {
  struct Case {
    int lines;
    const char* body;
    uint32_t page;
  } cases[] = {
      {61, "LOG_BUTTON=%3E%3E", 2},
      {0, "LOG_BUTTON=%3E%3E", 0},
      {61, "LOG_BUT3=+3+", 2},
      {61, "LOG_BUTTON=%3C%3C", 0},
      {61, "LOG_BUT1=+0+", 0},
      // Out of the log: its first or last page, however many digits.
      {61, "LOG_BUT1=2147483648", 2},
      {61, "LOG_BUT1=99999999999999999999999", 2},
      {61, "LOG_BUT1=-5", 0},
      {61, "LOG_BUT1=abc", 0},
      {0, "LOG_BUT1=7", 0},
  };
  for (const Case& c : cases) {
    evt_clear_log();
    log_lines(c.lines);
    counters().vars[0] = 99;
    counters().vars[1] = 0;
    EXPECT_EQ(post("/en/hist_log", c.body), R1) << c.body;
    EXPECT_EQ(counters().vars[0], c.page) << c.body;
    EXPECT_EQ(counters().vars[1], 1u) << c.body;
  }
  EXPECT_EQ(post("/en/hist_log", ""), R1);
  // A page chosen before the log shrank shows the last page there is.
  evt_clear_log();
  log_lines(61);
  counters().vars[0] = 4000000000u;
  counters().vars[1] = 1;
  EXPECT_EQ(var("LOG_PAGE").substr(0, 5), "Page3");
}

// A number that is no decimal number or lies outside its range refuses the whole post: nothing
// changes, nothing is saved, no listener is closed.
TEST_F(FormHandlers, NumbersOutsideTheirRangeAreRefused) {
  store_ports();
  std::string before = ini();
  Stored records = stored();
  const char* posts[][2] = {
      {"dev_config", "SUB_SHUTDOWN=1&CFG_PF_EN=on&CFG_OSD_PF=abc"},
      {"dev_config", "SUB_SHUTDOWN=1&CFG_OSD_PF=999999999999"},
      {"dev_config", "SUB_SHUTDOWN=1&CFG_OSD_BL=100000"},
      {"dev_config", "SUB_SHUTDOWN=1&CFG_OSD_OL=-5"},
      {"dev_config", "SUB_SHUTDOWN=1&CFG_OSD_BP="},
      {"dev_config", "SUB_SHUTDOWN=1&CFG_OSD_SS=+3+"},
      {"dev_config", "SUB_SHUTDOWN=1&CFG_OSD_PF=60&CFG_SHUT_TYPE=4"},
      {"dev_config", "SUB_REACTION=1&CFG_MSG_EN=on&CFG_MSG_PERIOD=65536"},
      {"dev_config", "SUB_REACTION=1&CFG_CMD_BEFORE=99999999999999999999999"},
      {"dev_config", "SUB_LOGICAL=1&CFG_TRAP_PORT=0"},
      {"dev_config", "SUB_LOGICAL=1&CFG_TRAP_PORT=70000"},
      {"dev_config", "SUB_LOGICAL=1&CFG_TRAP_PORT=1162&CFG_SRC_LOGICAL=x"},
      {"dev_config", "SUB_VM=1&CFG_VM_EN=on&CFG_VM_TYPE=3"},
      {"dev_snmpv1", "SUB_PORT=1&CFG_SNMP_PORT=0"},
      {"dev_snmpv1", "SUB_PORT=1&CFG_SNMP_PORT=65536"},
      {"dev_snmpv1", "SUB_PORT=1&CFG_SNMP_PORT=16x"},
  };
  for (const auto& p : posts) {
    EXPECT_EQ(post(std::string("/en/device/") + p[0], std::string("SYS_UCTOKEN=tok&") + p[1]), BAD) << p[1];
    EXPECT_TRUE(unchanged(records)) << p[1];
  }
  EXPECT_EQ(ini(), before);
  EXPECT_EQ(counters().trap_close, 0);
  EXPECT_EQ(counters().agent_close, 0);

  // The ends of each range are taken.
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_SHUTDOWN=1&CFG_OSD_PF=0&CFG_OSD_BL=99999"), R4);
  EXPECT_EQ(g_settings.condition_delay[0], 0u);
  EXPECT_EQ(g_settings.condition_delay[1], 99999u);
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_LOGICAL=1&CFG_TRAP_PORT=65535"), R4);
  EXPECT_EQ(g_source_ips.listen_port, 65535);
  EXPECT_EQ(post("/en/device/dev_snmpv1", "SYS_UCTOKEN=tok&SUB_PORT=1&CFG_SNMP_PORT=1"),
            "Message: Redirect=/en/device/dev_snmpv1.asp\nTitle=Information\nBody=<font color=#008000>Update "
            "successful.</font>\n");
  EXPECT_EQ(g_snmp_agent.listen_port, 1);
}

TEST_F(FormHandlers, HistorySelectionMarks) {
  counters().vars[8] = 0xFFFF;
  EXPECT_EQ(post("/en/hist_log", "LOG_SELID0=on&LOG_SELID32=on&LOG_SELID65=on"), R1);
  EXPECT_EQ(counters().vars[8], 0x3u);
  EXPECT_EQ(counters().vars[9], 0x1u);
  EXPECT_EQ(var("LOG_SELECTID"), "11" + std::string(30, '0') + "1");
  post("/en/hist_log", "OTHER=1");
  EXPECT_EQ(counters().vars[8], 0u);
}

TEST_F(FormHandlers, HistoryDateRange) {
  counters().vars[1] = 1;
  EXPECT_EQ(post("/en/hist_log", "BUT_APPLY=1&LOG_FROM=03%2F04%2F2026&LOG_TO=12%2F31%2F2026"), R1);
  uint32_t expect[] = {0, 3, 4, 26, 12, 31, 26};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(counters().vars[1 + i], expect[i]) << i;

  const char* refused[] = {
      "BUT_APPLY=1&LOG_FROM=13%2F04%2F2026&LOG_TO=12%2F31%2F2026",
      "BUT_APPLY=1&LOG_FROM=03%2F04%2F1999&LOG_TO=12%2F31%2F2026",
      "BUT_APPLY=1&LOG_FROM=03%2F04%2F2026",
      "BUT_APPLY=1&LOG_TO=12%2F31%2F2026&LOG_FROM=03%2F04%2F2026",
      "BUT_APPLY=1&LOG_FROM=garbage&LOG_TO=12%2F31%2F2026",
  };
  for (const char* body : refused) {
    EXPECT_EQ(post("/en/hist_log", body), R2) << body;
    for (int i = 0; i < 7; ++i) EXPECT_EQ(counters().vars[1 + i], expect[i]) << body;
  }
  EXPECT_EQ(post("/en/hist_log", "BUT_APPLY=1&LOG_FROM=01%2F31%2F2030&LOG_TO=02%2F31%2F2030"), R1);
  EXPECT_EQ(counters().vars[3], 31u);
}

TEST_F(FormHandlers, HistoryExportAndClear) {
  log_lines(3);
  EXPECT_EQ(post("/en/hist_log", "DLLOG_BUTTON=Export"), R1);
  EXPECT_EQ(NOT_DELAY, 3);
  EXPECT_EQ(var("NOT_DELAY"), "3");
  EXPECT_EQ(read_file(dir.file("httpd/htdocs/tmp/event_log.csv")).substr(0, 3), "\xEF\xBB\xBF");

  EXPECT_EQ(post("/en/hist_config", "SYS_UCTOKEN=tok&CLEAR_LOG=1"),
            "Message: Redirect=/en/hist_config.asp\nTitle=Information\nBody=<font color=#008000>Update "
            "successful.</font>\n");
  EXPECT_EQ(event_log_line_count, 0u);
  EXPECT_FALSE(fs_exists(dir.file("_FILE_LOG.TXT")));
}

TEST_F(FormHandlers, ShutdownSettings) {
  memset(g_settings.condition_enable, 1, 5);
  EXPECT_EQ(post("/en/device/dev_config",
                 "SYS_UCTOKEN=tok&CFG_SHUT_TYPE=3&CFG_PF_EN=on&CFG_SS_EN=&CFG_OSD_PF=90&CFG_OSD_BP=99999&SUB_"
                 "SHUTDOWN=Apply"),
            R4);
  uint8_t enables[5] = {1, 0, 0, 0, 1};
  EXPECT_EQ(memcmp(g_settings.condition_enable, enables, 5), 0);
  EXPECT_EQ(g_settings.shutdown_type, 3);
  EXPECT_EQ(g_settings.condition_delay[0], 90u);
  EXPECT_EQ(g_settings.condition_delay[3], 99999u);
  std::string file = ini();
  EXPECT_NE(file.find("Bypass Enable=No"), std::string::npos);
  EXPECT_NE(file.find("Power Fail Delay=90"), std::string::npos);
}

TEST_F(FormHandlers, ReactionSettings) {
  EXPECT_EQ(post("/en/device/dev_config",
                 "SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_MSG_EN=on&CFG_MSG_PERIOD=65535&CFG_CMD_BEFORE=30&CFG_CMD_FILE=%2Fopt%"
                 "2F%C3%A9.sh"),
            R4);
  EXPECT_EQ(g_settings.notify_enable, 1);
  EXPECT_EQ(g_settings.command_enable, 0);
  EXPECT_EQ(g_settings.notify_period, 65535);
  EXPECT_EQ(g_settings.command_before, 30u);
  EXPECT_TRUE(text_equal16(g_settings.command_file, u"/opt/\u00e9.sh"));
  for (const char* value : {"a%3Cb", "a%0Db", "a%0Ab", "x%22"}) {
    std::string body = std::string("SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_CMD_FILE=") + value;
    EXPECT_EQ(post("/en/device/dev_config", body), BAD) << value;
    EXPECT_TRUE(text_equal16(g_settings.command_file, u"/opt/\u00e9.sh")) << value;
  }
}

TEST_F(FormHandlers, TrapListenerAndManageable) {
  g_source_ips.listen_port = 162;
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_LOGICAL=1&CFG_TRAP_PORT=162&CFG_SRC_LOGICAL=1"), R4);
  EXPECT_EQ(counters().trap_close, 0);
  EXPECT_EQ(g_source_ips.logical, 1);
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_LOGICAL=1&CFG_TRAP_PORT=10162"), R4);
  EXPECT_EQ(counters().trap_close, 1);
  EXPECT_EQ(g_source_ips.listen_port, 10162);

  g_settings.manageable = 1;
  g_usm.permission[0] = 2;
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_MAG=1"), R4);
  EXPECT_EQ(g_settings.manageable, 0u);
  EXPECT_EQ(g_usm.permission[0], 0);
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&CFG_MAG_EN=on&SUB_MAG=1"), R4);
  EXPECT_EQ(g_usm.permission[0], 2);
}

TEST_F(FormHandlers, VmwareHost) {
  text_copy16(g_settings.vm_password, 33, u"stored-pass");
  EXPECT_EQ(post("/en/device/dev_config",
                 "SYS_UCTOKEN=tok&SUB_VM=1&CFG_VM_TYPE=1&CFG_VM_EN=on&CFG_VM_HOST=h%C3%A9&CFG_VM_ACCOUNT=root&CFG_VM_"
                 "PASSWORD=&CFG_VM_VCLI=%2Fopt%2Fvcli"),
            R4);
  EXPECT_TRUE(text_equal16(g_settings.vm_password, u"stored-pass"));
  EXPECT_TRUE(text_equal16(g_settings.vm_server, u"h\u00c3\u00a9"));  // one unit a byte
  EXPECT_EQ(var("CFG_VM_HOST"), "h\xC3\xA9");
  EXPECT_EQ(g_settings.vm_enable, 1);
  EXPECT_EQ(g_settings.guest_enable, 0);
  EXPECT_EQ(g_settings.vm_type, 1);
  for (const char* value : {"CFG_VM_HOST=a%27b", "CFG_VM_ACCOUNT=a%0D%0Aecho", "CFG_VM_PASSWORD=x%09y",
                            "CFG_VM_VCLI=%7F"}) {
    std::string body = std::string("SYS_UCTOKEN=tok&SUB_VM=1&") + value;
    EXPECT_EQ(post("/en/device/dev_config", body), BAD) << value;
    EXPECT_EQ(g_settings.vm_enable, 1) << value;
  }
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_VM=1&CFG_VM_PASSWORD=n%C3%A9w"), R4);
  EXPECT_TRUE(text_equal16(g_settings.vm_password, u"n\u00c3\u00a9w"));
}

// The paths the service runs as root are the administrator's: a device manager's post that
// would change one is refused whole; posting them as stored leaves the other fields, and the
// command file's switch, open.
TEST_F(FormHandlers, OnlyTheAdministratorChangesWhatTheServiceRuns) {
  const std::string kCommand =
      "Message: Title=Error\nBody=<font color=#F00000>Only the administrator may change the command file.</font>\n";
  const std::string kVcli =
      "Message: Title=Error\nBody=<font color=#F00000>Only the administrator may change the vCLI path.</font>\n";
  text_copy16(g_settings.command_file, 256, u"/opt/cmd.sh");
  g_settings.command_enable = 1;
  text_copy16(g_settings.vcli_path, 256, u"/opt/vcli");
  g_settings.notify_period = 30;
  g_settings.vm_type = 0;
  cfg_save();
  const std::string stored_reaction = "SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_CMD_EN=on&CFG_CMD_FILE=%2Fopt%2Fcmd.sh";
  const std::string stored_vm = "SYS_UCTOKEN=tok&SUB_VM=1&CFG_VM_VCLI=%2Fopt%2Fvcli";
  struct Case {
    std::string body;
    std::string reply;
  } refused[] = {
      {"SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_CMD_EN=on&CFG_MSG_PERIOD=60&CFG_CMD_FILE=%2Ftmp%2Fx.sh", kCommand},
      {"SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_CMD_EN=on&CFG_MSG_PERIOD=60&CFG_CMD_FILE=", kCommand},
      {"SYS_UCTOKEN=tok&SUB_VM=1&CFG_VM_TYPE=1&CFG_VM_VCLI=%2Ftmp%2Fmine", kVcli},
  };
  session_level(1);
  std::string before = ini();
  for (const Case& c : refused) {
    EXPECT_EQ(post("/en/device/dev_config", c.body), c.reply) << c.body;
    EXPECT_EQ(ini(), before) << c.body;
    EXPECT_TRUE(text_equal16(g_settings.command_file, u"/opt/cmd.sh")) << c.body;
    EXPECT_EQ(g_settings.command_enable, 1) << c.body;
    EXPECT_TRUE(text_equal16(g_settings.vcli_path, u"/opt/vcli")) << c.body;
    EXPECT_EQ(g_settings.notify_period, 30) << c.body;
    EXPECT_EQ(g_settings.vm_type, 0) << c.body;
  }
  EXPECT_EQ(post("/en/device/dev_config", stored_reaction + "&CFG_MSG_PERIOD=60"), R4);
  EXPECT_EQ(g_settings.notify_period, 60);
  EXPECT_EQ(post("/en/device/dev_config", stored_vm + "&CFG_VM_TYPE=1&CFG_VM_HOST=esx"), R4);
  EXPECT_EQ(g_settings.vm_type, 1);
  // The switch of the stored command file is the device manager's too.
  EXPECT_EQ(post("/en/device/dev_config",
                 "SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_MSG_PERIOD=60&CFG_CMD_FILE=%2Fopt%2Fcmd.sh"),
            R4);
  EXPECT_EQ(g_settings.command_enable, 0);
  EXPECT_TRUE(text_equal16(g_settings.command_file, u"/opt/cmd.sh"));
  EXPECT_EQ(post("/en/device/dev_config", stored_reaction), R4);
  EXPECT_EQ(g_settings.command_enable, 1);

  session_level(0);
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_REACTION=1&CFG_CMD_FILE=%2Fopt%2Fother.sh"), R4);
  EXPECT_TRUE(text_equal16(g_settings.command_file, u"/opt/other.sh"));
  EXPECT_EQ(g_settings.command_enable, 0);
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_VM=1&CFG_VM_VCLI=%2Fopt%2Fvcli2"), R4);
  EXPECT_TRUE(text_equal16(g_settings.vcli_path, u"/opt/vcli2"));
}

// A change whose save fails answers an error, and nothing of it is in use: the records, the
// listeners and the file stay as they were.
TEST_F(FormHandlers, FailedSaveChangesNothing) {
  const std::string kFailed =
      "Message: Title=Error\nBody=<font color=#F00000>The settings file could not be written: nothing was "
      "changed.</font>\n";
  store_ports();
  std::string before = ini();
  Stored records = stored();
  const char* posts[][2] = {
      {"/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_SHUTDOWN=1&CFG_OSD_PF=90"},
      {"/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_LOGICAL=1&CFG_TRAP_PORT=10162&CFG_SRC_LOGICAL=1"},
      {"/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_MAG=1"},
      {"/en/device/dev_snmpv1", "SYS_UCTOKEN=tok&SUB_PORT=1&CFG_SNMP_PORT=1161"},
      {"/en/device/dev_snmpv3", "SYS_UCTOKEN=tok&SUB_CONTEXT=1&CFG_USM_CONTEXT=other"},
      {"/en/device/dev_isource", "SYS_UCTOKEN=tok&CFG_DEV_DEL1=1"},
      {"/en/device/dev_iusm", "SYS_UCTOKEN=tok&CFG_DEV_ADD1=1&CFG_USM_USER=new&CFG_USM_SECURITY=0&CFG_USM_PERMISSION=1"},
  };
  cfg_set_read_only(true);  // every save fails
  for (const auto& p : posts) {
    EXPECT_EQ(post(p[0], p[1]), kFailed) << p[1];
    EXPECT_TRUE(unchanged(records)) << p[1];
  }
  cfg_set_read_only(false);
  EXPECT_EQ(ini(), before);
  EXPECT_EQ(counters().trap_close, 0);
  EXPECT_EQ(counters().agent_close, 0);
  EXPECT_EQ(counters().localize, 0);
  // With room again the same change is taken.
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_LOGICAL=1&CFG_TRAP_PORT=10162"), R4);
  EXPECT_EQ(counters().trap_close, 1);
  EXPECT_NE(ini().find("Listen Port=10162"), std::string::npos);
}

TEST_F(FormHandlers, VmwareTestShutdown) {
  std::string before = ini();
  EXPECT_EQ(post("/en/device/dev_config", "SYS_UCTOKEN=tok&SUB_TSH=1"),
            "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Command "
            "received successfully.</font>\n");
  EXPECT_EQ(log_count("Execute the VMWare ESXi shutdown command."), 1);
  EXPECT_EQ(ini(), before);
}

TEST_F(FormHandlers, DeviceCommands) {
  g_status.shutdown_cancelled = 0;
  EXPECT_EQ(post("/en/device/dev_control", "SYS_UCTOKEN=tok&SHUT_CANCEL=1"), R6);
  EXPECT_EQ(g_status.shutdown_cancelled, 1);

  trap(0, 0, 5);  // starts a repeating notice when the period is set
  g_settings.notify_period = 30;
  trap(1, 0, 5);
  EXPECT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_ALARM_BROADCAST));
  EXPECT_EQ(post("/en/device/dev_control", "SYS_UCTOKEN=tok&PAUSE_BROAD=1"), R6);
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_ALARM_BROADCAST));
  for (auto& group : g_status.notice_handle)
    for (auto& source : group)
      for (uint8_t h : source) ASSERT_EQ(h, SCHED_NONE);
  EXPECT_EQ(log_count(name(EVT_GROUP_COMMON, EVT_COMMON_NOTICES_PAUSED)), 1);

  for (int specific : {3, 4}) {
    sched_init();
    TrapState.version = 3;
    TrapState.source_index = 5;
    std::string body = std::string("SYS_UCTOKEN=tok&") + (specific == 3 ? "SIM_POWERFAIL=1" : "SIM_POWERRESTORE=1");
    EXPECT_EQ(post("/en/device/dev_control", body), R6);
    EXPECT_EQ(TrapState.version, 0);
    EXPECT_EQ(TrapState.source_index, 0);
    EXPECT_EQ(TrapState.trap_group, 0);
    EXPECT_EQ(TrapState.generic_trap, 6);
    EXPECT_EQ(TrapState.specific_trap, specific);
    EXPECT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_TRAP_FORWARD));
  }
  EXPECT_EQ(post("/en/device/dev_control", "SYS_UCTOKEN=tok&OTHER=1"), NONE);
}

TEST_F(FormHandlers, SnmpPortAndContext) {
  g_snmp_agent.listen_port = 161;
  EXPECT_EQ(post("/en/device/dev_snmpv1", "SYS_UCTOKEN=tok&CFG_SNMP_PORT=1161"), NONE);
  EXPECT_EQ(post("/en/device/dev_snmpv1", "SYS_UCTOKEN=tok&SUB_PORT=1"), NONE);
  EXPECT_EQ(g_snmp_agent.listen_port, 161);
  const std::string R7 =
      "Message: Redirect=/en/device/dev_snmpv1.asp\nTitle=Information\nBody=<font color=#008000>Update "
      "successful.</font>\n";
  EXPECT_EQ(post("/en/device/dev_snmpv1", "SYS_UCTOKEN=tok&SUB_PORT=1&CFG_SNMP_PORT=161"), R7);
  EXPECT_EQ(counters().agent_close, 0);
  EXPECT_EQ(post("/en/device/dev_snmpv1", "SYS_UCTOKEN=tok&SUB_PORT=1&CFG_SNMP_PORT=1161"), R7);
  EXPECT_EQ(counters().agent_close, 1);
  EXPECT_EQ(g_snmp_agent.listen_port, 1161);

  const std::string R8 =
      "Message: Redirect=/en/device/dev_snmpv3.asp\nTitle=Information\nBody=<font color=#008000>Update "
      "successful.</font>\n";
  EXPECT_EQ(post("/en/device/dev_snmpv3", "SYS_UCTOKEN=tok&SUB_CONTEXT=1&CFG_USM_CONTEXT=abcdefghijklmnopqrst"), R8);
  EXPECT_STREQ(g_usm.context_name, "abcdefghijklmnop");
  EXPECT_EQ(post("/en/device/dev_snmpv3", "SYS_UCTOKEN=tok&SUB_CONTEXT=1&CFG_USM_CONTEXT=a%3Eb"), BAD);
  EXPECT_EQ(post("/en/device/dev_snmpv3", "SYS_UCTOKEN=tok&SUB_CONTEXT=1&CFG_USM_CONTEXT=a%0Ab"), BAD);
  EXPECT_STREQ(g_usm.context_name, "abcdefghijklmnop");
}

TEST_F(FormHandlers, SettingsDownload) {
  std::string copy = dir.file("httpd/htdocs/tmp/agent.ini");
  EXPECT_EQ(post("/en/sys_batch", "SYS_UCTOKEN=tok&DL_SYSTEM=1"), "OK: Redirect=/tmp/agent.ini");
  EXPECT_EQ(read_file(copy), ini());
  // A copy that fails is reported, and no older copy is left to be served.
  write_file(copy, "old copy");
  std::filesystem::rename(dir.file("agent.ini"), dir.file("agent.moved"));
  std::string reply = post("/en/sys_batch", "SYS_UCTOKEN=tok&DL_SYSTEM=1");
  EXPECT_NE(reply.find("Title=Error"), std::string::npos) << reply;
  EXPECT_FALSE(fs_exists(copy));
}

TEST_F(FormHandlers, SettingsUploadRefusals) {
  std::string before = ini();
  EXPECT_EQ(post("/en/sys_batch", "SYS_UCTOKEN=tok&UL_SYSTEM=1"), R10);
  EXPECT_EQ(post("/en/sys_batch", "SYS_UCTOKEN=tok&UL_SYSTEM=1&UL_F_SYSTEM="), R10);
  EXPECT_EQ(post("/en/sys_batch", "SYS_UCTOKEN=tok&UL_SYSTEM=1&UL_F_SYSTEM=%5BConfiguration%5D%0D%0AStop+Service%3DYes"),
            R10);
  EXPECT_EQ(ini(), before);
  EXPECT_EQ(counters().localize, 0);
  EXPECT_EQ(post("/en/sys_batch", "SYS_UCTOKEN=tok"), NONE);

  // A refused value is named after the message (markup in it escaped); agent.ini stays byte for byte.
  const std::string refused = R10.substr(0, R10.size() - 8);
  const struct {
    const char* upload;
    std::string reply;
  } cases[] = {
      {"%5BFormat%5D%0AVersion%3D7%0A%5BWeb%5D%0AHTTP+Port%3D99999%0A%5BEnd%5D%0A",
       refused + " Key [Web] HTTP Port has value 99999.</font>\n"},
      {"%5BFormat%5D%0AVersion%3D8%0A%5BShutdown%5D%0APower+Fail+Delay%3D%3Cb%3E%0A%5BEnd%5D%0A",
       refused + " Key [Shutdown] Power Fail Delay has value &lt;b&gt;.</font>\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(post("/en/sys_batch", std::string("SYS_UCTOKEN=tok&UL_SYSTEM=1&UL_F_SYSTEM=") + c.upload), c.reply);
    EXPECT_EQ(ini(), before);
  }
  // A save that cannot replace agent.ini says so.
  std::filesystem::rename(dir.file("agent.ini"), dir.file("agent.moved"));
  std::filesystem::create_directory(dir.file("agent.ini"));
  EXPECT_EQ(post("/en/sys_batch", "SYS_UCTOKEN=tok&UL_SYSTEM=1&UL_F_SYSTEM=%5BFormat%5D%0AVersion%3D7%0A%5BEnd%5D%0A"),
            REPLY_SAVE_FAILED);
  EXPECT_EQ(counters().localize, 0);
}

// A multipart upload of the service's own file applies it and its effects follow.
TEST_F(FormHandlers, SettingsUploadApplied) {
  g_snmp_agent.listen_port = 161;
  g_source_ips.listen_port = 162;
  g_settings.condition_delay[0] = 1234;
  cfg_save();
  std::string file = ini();
  AgentSettings settings = g_settings;
  SourceIpList sources = g_source_ips;
  ForwardTrapList targets = g_forward_traps;
  SnmpAgentSettings agent = g_snmp_agent;
  UsmSettings usm = g_usm;
  ClusterList clusters = g_clusters;
  g_settings.condition_delay[0] = 1;
  g_snmp_agent.listen_port = 2161;  // the upload brings 161 back: the agent closes
  std::string boundary = "----b0undary";
  std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"SYS_UCTOKEN\"\r\n\r\ntok\r\n--" +
                     boundary + "\r\nContent-Disposition: form-data; name=\"UL_F_SYSTEM\"; filename=\"agent.ini\"\r\n" +
                     "Content-Type: application/octet-stream\r\n\r\n" + file + "\r\n--" + boundary +
                     "\r\nContent-Disposition: form-data; name=\"UL_SYSTEM\"\r\n\r\nUpload\r\n--" + boundary + "--\r\n";
  std::string param = "; boundary=" + boundary;
  std::string p = "/en/sys_batch";
  std::vector<char> b(body.begin(), body.end());
  b.push_back(0);
  HttpConnection c{};
  c.path = p.data();
  c.body = b.data();
  c.body_fill = uint32_t(body.size());
  c.boundary = param.data();
  web_form_post(&c);
  EXPECT_EQ(std::string(g_reply),
            "Message: Redirect=/en/sys_batch.asp\nTitle=Information\nBody=<font color=#008000>Upload "
            "successful.</font>\n");
  EXPECT_EQ(ini(), file);
  // Every stored field comes back; the run-time ones are not in the file.
  memcpy(settings.login_fail_count, g_settings.login_fail_count, sizeof settings.login_fail_count);
  memcpy(settings.login_lock_seconds, g_settings.login_lock_seconds, sizeof settings.login_lock_seconds);
  agent.engine_time = g_snmp_agent.engine_time;
  agent.engine_boots = g_snmp_agent.engine_boots;
  EXPECT_EQ(memcmp(&settings, &g_settings, sizeof settings), 0);
  EXPECT_EQ(memcmp(&sources, &g_source_ips, sizeof sources), 0);
  EXPECT_EQ(memcmp(&targets, &g_forward_traps, sizeof targets), 0);
  EXPECT_EQ(memcmp(&agent, &g_snmp_agent, sizeof agent), 0);
  EXPECT_EQ(memcmp(&usm, &g_usm, sizeof usm), 0);
  EXPECT_EQ(memcmp(&clusters, &g_clusters, sizeof clusters), 0);
  EXPECT_EQ(g_settings.condition_delay[0], 1234u);
  EXPECT_EQ(g_snmp_agent.listen_port, 161);
  EXPECT_EQ(counters().agent_close, 1);
  EXPECT_EQ(counters().trap_close, 0);
  EXPECT_EQ(counters().localize, 1);
  EXPECT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_RELOAD_EVENTS));
}

}  // namespace
}  // namespace pages_test
