// Tests of the shutdown actions and the VMware scripts: the action kinds, the shutdown types with
// the simulated power actions, hibernation and its resume, the scripts run against recording
// stand-ins of the vSphere tools, template filling and its refusals, the file helpers, the
// starting of command files and the guards of the real power actions.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "alarm_fixture.h"
#include "platform/clock.h"
#include "platform/power.h"
#include "platform/shell.h"
#include "service/alarm/shutdown_actions.h"
#include "service/core/agent.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/trap_receiver.h"
#include "service/web/request_state.h"

namespace {

using alarm_test::AlarmFixture;
using alarm_test::sent_lines;

std::vector<std::string>& calls() {
  static std::vector<std::string> v;
  return v;
}
std::string g_power_log_path;

void note(const std::string& what) {
  // Each stopped listener notes whether the machine was already asleep.
  calls().push_back(what + (read_file(g_power_log_path).empty() ? "" : " after the power action"));
}
void fake_web_stop() { note("web stop"); }
int fake_trap_close() {
  note("trap close");
  return 0;
}
void fake_agent_close() { note("agent close"); }
void fake_forward(const uint8_t* sender) { calls().push_back(sender ? "forward sender" : "forward null"); }

class ShutdownActions : public AlarmFixture {
 protected:
  WebServerOpsTable saved_web;
  TrapReceiverApiTable saved_trap;
  SnmpAgentApiTable saved_agent;
  std::string record;  // what the vCLI stand-ins were called with, one line per call

  void SetUp() override {
    AlarmFixture::SetUp();
    saved_web = WebServerOps;
    saved_trap = TrapReceiverApi;
    saved_agent = SnmpAgentApi;
    WebServerOps.http_server_stop = fake_web_stop;
    TrapReceiverApi.trap_close = fake_trap_close;
    TrapReceiverApi.trap_forward = fake_forward;
    SnmpAgentApi.snmp_agent_close = fake_agent_close;
    calls().clear();
    g_power_log_path = dir.file("power.log");
    record = dir.file("vcli.record");
    make_vcli();
    text_utf8_to_utf16(g_settings.vcli_path, 256, dir.file("vcli").c_str());
  }
  void TearDown() override {
    WebServerOps = saved_web;
    TrapReceiverApi = saved_trap;
    SnmpAgentApi = saved_agent;
    AlarmFixture::TearDown();
  }

  void tool(const std::string& name, const std::string& extra) {
    std::string path = dir.file("vcli/" + name);
    write_file(path,
               "#!/bin/sh\n"
               "cfg=; prev=\n"
               "for a in \"$@\"; do [ \"$prev\" = --config ] && cfg=$a; prev=$a; done\n"
               "{ printf '%s' '" + name + "'\n"
               "  skip=; for a in \"$@\"; do\n"
               "    if [ -n \"$skip\" ]; then skip=; elif [ \"$a\" = --config ]; then skip=1; else printf ' [%s]' \"$a\"; fi\n"
               "  done\n"
               "  printf ' |'; [ -n \"$cfg\" ] && tr '\\n' ';' < \"$cfg\"\n"
               "  printf '\\n'; } >> '" + record + "'\n" + extra);
    chmod(path.c_str(), 0755);
  }

  void make_vcli() {
    std::filesystem::create_directories(dir.file("vcli"));
    tool("vicfg-hostops", "");
    std::string gone = dir.file("vcli/killed");
    tool("esxcli",
         "case \"$*\" in\n"
         "  *'vm process list'*) [ -f '" + gone + "' ] || printf 'guest-a\\n   World ID: 101\\n   Process ID: 0\\n' ;;\n"
         "  *'vm process kill'*) : > '" + gone + "' ;;\n"
         "esac\n");
    tool("vmware-cmd", "case \"$*\" in *' -l') printf '/vmfs/volumes/ds1/a b/a b.vmx\\n' ;; esac\n");
  }

  std::vector<std::string> recorded() {
    std::vector<std::string> v;
    std::string s = read_file(record);
    size_t at = 0;
    while (at < s.size()) {
      size_t nl = s.find('\n', at);
      v.push_back(s.substr(at, nl - at));
      at = nl + 1;
    }
    return v;
  }

  void add_cluster(const char* vcenter, const char* account, const char* password, const char* cluster) {
    int i = g_clusters.count++;
    snprintf(g_clusters.vcenter[i], 52, "%s", vcenter);
    snprintf(g_clusters.account[i], 33, "%s", account);
    snprintf(g_clusters.password[i], 33, "%s", password);
    snprintf(g_clusters.cluster[i], 33, "%s", cluster);
  }

  void esxi(const char* server, const char* account, const char* password) {
    text_utf8_to_utf16(g_settings.vm_server, 129, server);
    text_utf8_to_utf16(g_settings.vm_account, 33, account);
    text_utf8_to_utf16(g_settings.vm_password, 33, password);
  }

  // A shutdown (type 0) that first runs the scripts of one cluster and of an ESXi host without guests.
  void shutdown_with_one_cluster_and_host() {
    g_settings.shutdown_type = 0;
    g_settings.vm_enable = 1;
    g_settings.vm_type = 0;
    g_settings.guest_enable = 0;
    esxi("esx.example", "root", "pw");
    add_cluster("vc1.example", "a1", "p1", "One");
  }

  std::string common(uint32_t n) { return name(EVT_GROUP_COMMON, n); }

  // Index of the first log line holding the text, -1 none.
  int log_index(const std::string& part) {
    auto lines = log_lines();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find(part) != std::string::npos) return int(i);
    return -1;
  }
};

const std::string kHostShutdown = " [--operation] [shutdown] [--force] |";

bool starts(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST_F(ShutdownActions, TypeThreeWithTwoClustersRunsScriptsInOrderAndWipesTheState) {
  g_settings.shutdown_type = 3;
  g_settings.vm_enable = 1;
  g_settings.vm_type = 0;
  g_settings.guest_enable = 0;
  esxi("esx.example", "root", "hostpw");
  add_cluster("vc1.example", "admin1", "pw1", "Cluster A");
  add_cluster("vc2.example", "admin2", "pw2", "Cluster B");
  trap(0, 0, 3);
  status_aggregate();
  shutdown_countdown_tick(1);

  action_execute(SCHED_KIND_SHUTDOWN);

  auto r = recorded();
  ASSERT_EQ(r.size(), 3u) << read_file(record);
  EXPECT_EQ(r[0], "vicfg-hostops [--cluster] [Cluster A]" + kHostShutdown +
                      "VI_SERVER = vc1.example;VI_USERNAME = admin1;VI_PASSWORD = pw1;VI_PROTOCOL = https;");
  EXPECT_TRUE(starts(r[1], "vicfg-hostops [--cluster] [Cluster B]" + kHostShutdown)) << r[1];
  EXPECT_NE(r[1].find("VI_SERVER = vc2.example;VI_USERNAME = admin2;VI_PASSWORD = pw2;"), std::string::npos);
  EXPECT_EQ(r[2], "vicfg-hostops" + kHostShutdown +
                      "VI_SERVER = esx.example;VI_USERNAME = root;VI_PASSWORD = hostpw;VI_PROTOCOL = https;");
  int cluster_line = log_index("Execute the VMWare cluster shutdown command.");
  int esxi_line = log_index("Execute the VMWare ESXi shutdown command.");
  EXPECT_GE(cluster_line, 0);
  EXPECT_GT(esxi_line, cluster_line);
  EXPECT_EQ(log_count(common(9)), 0);
  EXPECT_EQ(power_log(), "");
  EXPECT_EQ(pending(0, 0), 0u);
  EXPECT_EQ(g_status.countdown_left, -1);
  EXPECT_EQ(g_status.countdown[0], 0u);
  EXPECT_EQ(g_status.notice_handle[0][0][1], SCHED_NONE);
  EXPECT_EQ(sched_repeat_ring.count, 0);
  EXPECT_EQ(g_status.mibv4_level[1], 3) << "levels are back after the wipe";
  // The variables files hold passwords: only the service's user may read them.
  struct stat st;
  ASSERT_EQ(stat(dir.file("command/SetVar.VMCluster.cmd").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(fs_exists(dir.file("command/SetVar.VMCluster.cmd.tmp")));
}

TEST_F(ShutdownActions, ShutdownAndPowerOffAreLoggedThenCarriedOut) {
  struct Case {
    uint8_t type;
    const char* line;
  } cases[] = {{0, "shutdown\n"}, {1, "poweroff\n"}};
  for (const Case& c : cases) {
    std::remove(dir.file("power.log").c_str());
    g_settings.shutdown_type = c.type;
    action_execute(SCHED_KIND_SHUTDOWN);
    EXPECT_EQ(power_log(), c.line);
  }
  EXPECT_EQ(log_count(common(9)), 2);
  EXPECT_TRUE(recorded().empty()) << "no VMware script without VM Enable";
}

// A power action that fails is logged as failed, keeps the alarm state and is tried again alone,
// once a minute, while the condition that asked for it lasts.
TEST_F(ShutdownActions, FailedPowerActionIsReportedAndRetriedWhileTheConditionLasts) {
  struct Case {
    uint8_t type;
    const char* name;
    const char* line;
  } cases[] = {{0, "halt", "shutdown\n"}, {1, "poweroff", "poweroff\n"}, {2, "hibernate", "hibernate\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sched_init();
    status_reset();
    EventApi.evt_clear_log();
    g_shutdown_condition = -1;
    g_settings.shutdown_type = c.type;
    g_settings.vm_enable = 1;
    g_settings.command_enable = 1;
    g_settings.condition_delay[0] = 1;
    trap(0, 0, 3);
    status_aggregate();
    shutdown_countdown_tick(1);
    ASSERT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_SHUTDOWN));
    EXPECT_EQ(g_shutdown_condition, 0);
    SchedulerApi.sched_remove_kind(SCHED_KIND_SHUTDOWN);
    // The simulation cannot record: the action fails.
    setenv("VELLMAR_POWER_SIMULATE", dir.path.c_str(), 1);
    std::string failed = common(14).substr(0, common(14).find('%'));
    int failed_before = log_count(failed);
    int started_before = log_count(common(1));
    action_execute(SCHED_KIND_SHUTDOWN);
    EXPECT_EQ(log_count(failed), failed_before + 1);
    EXPECT_EQ(log_count(failed + c.name), 1);
    // The action is logged once its privilege is there, before it is called.
    EXPECT_EQ(log_count(common(9)), 1) << "logged before the call";
    EXPECT_LT(log_index(common(9)), log_index(failed + c.name));
    EXPECT_EQ(log_count(common(1)), started_before) << "not logged as started again";
    EXPECT_EQ(pending(0, 0), 2u) << "the alarm state is kept";
    ASSERT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_POWER_RETRY));
    EXPECT_EQ(sched_once_ring.slot[sched_once_ring.head].countdown, POWER_RETRY_UNITS);
    // A second failure within the minute queues no second retry; failing retries do not log
    // the action again.
    action_execute(SCHED_KIND_POWER_RETRY);
    action_execute(SCHED_KIND_POWER_RETRY);
    EXPECT_EQ(sched_once_ring.count, 1);
    EXPECT_EQ(log_count(common(9)), 1);
    EXPECT_EQ(log_count(failed + c.name), 3);
    // The retry runs the operating-system action alone: no script, no command file.
    sched_init();
    auto scripts = recorded();
    setenv("VELLMAR_POWER_SIMULATE", dir.file("power.log").c_str(), 1);
    std::remove(dir.file("power.log").c_str());
    action_execute(SCHED_KIND_POWER_RETRY);
    EXPECT_EQ(power_log(), c.line);
    EXPECT_EQ(log_count(common(9)), 1);
    EXPECT_EQ(recorded(), scripts);
    EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_POWER_RETRY));
  }
  // Once the condition is over the retry stops.
  sched_init();
  status_reset();
  g_settings.shutdown_type = 0;
  trap(0, 0, 3);
  status_aggregate();
  g_shutdown_condition = 0;
  trap(0, 0, 4);
  status_aggregate();
  std::remove(dir.file("power.log").c_str());
  action_execute(SCHED_KIND_POWER_RETRY);
  EXPECT_EQ(power_log(), "");
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_POWER_RETRY));
}

// Without the shutdown privilege nothing is queued but the failure and its retry.
TEST_F(ShutdownActions, MissingPrivilegeIsReportedAndRetried) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a check as another user";
  ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
  g_settings.shutdown_type = 1;
  std::string failed = common(14).substr(0, common(14).find('%'));
  pid_t child = fork();
  if (child == 0) {
    // Not simulated, as a user that may not shut the machine down.
    unsetenv("VELLMAR_POWER_SIMULATE");
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    if (power_enable_shutdown_privilege()) _exit(11);
    shutdown_request();
    if (SchedulerApi.sched_find_kind(SCHED_KIND_SHUTDOWN)) _exit(12);
    if (!SchedulerApi.sched_find_kind(SCHED_KIND_POWER_RETRY)) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(log_count(failed + "poweroff"), 1);
  EXPECT_EQ(power_log(), "");
}

TEST_F(ShutdownActions, OtherShutdownTypeDoesNothing) {
  g_settings.shutdown_type = 4;
  trap(0, 0, 3);
  action_execute(SCHED_KIND_SHUTDOWN);
  EXPECT_EQ(power_log(), "");
  EXPECT_EQ(log_count(common(9)), 0);
  EXPECT_EQ(pending(0, 0), 2u);
}

TEST_F(ShutdownActions, HibernateSavesClosesSleepsAndComesBackWiped) {
  g_settings.shutdown_type = 2;
  g_settings.condition_delay[0] = 2;
  trap(0, 0, 3);
  trap(1, 2, 1);
  status_aggregate();
  shutdown_countdown_tick(1);
  shutdown_countdown_tick(1);
  ASSERT_TRUE(SchedulerApi.sched_find_kind(SCHED_KIND_SHUTDOWN));
  g_last_tick = 0;
  uint32_t before = clock_tick_count();

  action_execute(SCHED_KIND_SHUTDOWN);

  EXPECT_TRUE(fs_exists(dir.file("agent.ini")));
  EXPECT_EQ(calls(), (std::vector<std::string>{"web stop", "trap close", "agent close"}));
  EXPECT_EQ(power_log(), "hibernate\n");
  EXPECT_GE(g_last_tick, before);
  int shutdown_line = log_index(common(9));
  int started_line = log_index(common(1));
  EXPECT_GE(shutdown_line, 0);
  EXPECT_GT(started_line, shutdown_line);
  EXPECT_EQ(pending(0, 0), 0u);
  EXPECT_EQ(pending(1, 2), 0u);
  EXPECT_EQ(sched_repeat_ring.count, 0);
  EXPECT_EQ(g_status.notice_handle[2][1][0], SCHED_NONE);
  EXPECT_EQ(g_status.countdown_left, -1);
  // The next tick ends the wiped countdown without logging event 8.
  shutdown_countdown_tick(1);
  EXPECT_EQ(log_count(common(8)), 0);
}

TEST_F(ShutdownActions, VmTypeTwoStillStartsTheClusterScriptButNotTheEsxiOne) {
  g_settings.shutdown_type = 3;
  g_settings.vm_enable = 1;
  g_settings.vm_type = 2;
  esxi("esx.example", "root", "pw");
  add_cluster("vc1.example", "a1", "p1", "One");
  add_cluster("vc2.example", "a2", "p2", "Two");
  std::string on_disk =
      "VC_ACCOUNT='old'\nVC_PASSWORD='oldpw'\nVC_SERVER='old.example'\nVC_CLUSTER='Old'\nVCLI_PATH='" + dir.file("vcli") +
      "'\n";
  write_file(dir.file("command/SetVar.VMCluster.cmd"), on_disk);
  action_execute(SCHED_KIND_SHUTDOWN);
  auto r = recorded();
  ASSERT_EQ(r.size(), 2u) << read_file(record);
  for (const std::string& line : r) EXPECT_TRUE(starts(line, "vicfg-hostops [--cluster] [Old]" + kHostShutdown)) << line;
  EXPECT_EQ(read_file(dir.file("command/SetVar.VMCluster.cmd")), on_disk);
}

TEST_F(ShutdownActions, EsxiGuestsAreShutDownBeforeTheHost) {
  esxi("esx.example", "root", "pw");
  g_settings.guest_enable = 1;
  g_settings.vm_type = 0;
  vm_run_esxi_script(1);
  auto r = recorded();
  ASSERT_GE(r.size(), 4u) << read_file(record);
  EXPECT_TRUE(starts(r[0], "esxcli [vm] [process] [list] |VI_SERVER = esx.example;")) << r[0];
  EXPECT_TRUE(starts(r[1], "esxcli [vm] [process] [kill] [--type=soft] [--world-id=101] |")) << r[1];
  EXPECT_TRUE(starts(r.back(), "vicfg-hostops" + kHostShutdown)) << r.back();

  std::remove(record.c_str());
  g_settings.vm_type = 1;
  vm_run_esxi_script(1);
  r = recorded();
  ASSERT_EQ(r.size(), 3u) << read_file(record);
  EXPECT_TRUE(starts(r[0], "vmware-cmd [-l] |")) << r[0];
  EXPECT_TRUE(starts(r[1], "vmware-cmd [/vmfs/volumes/ds1/a b/a b.vmx] [stop] [soft] |")) << r[1];
  EXPECT_TRUE(starts(r[2], "vicfg-hostops" + kHostShutdown)) << r[2];

  std::remove(record.c_str());
  g_settings.guest_enable = 0;
  vm_run_esxi_script(1);
  r = recorded();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(starts(r[0], "vicfg-hostops" + kHostShutdown)) << r[0];
  EXPECT_NE(read_file(dir.file("command/SetVar.ESX65.cmd")).find("GUEST_ENABLE=0\n"), std::string::npos);
}

// A VMware script, the vCLI folder or a tool in it that others could have changed: no script of
// the shutdown runs, each refusal is logged with the path and the reason, and the operating-system
// action still follows.
TEST_F(ShutdownActions, ScriptsAndToolsThatOthersCouldChangeAreNotRun) {
  struct Case {
    const char* name;
    bool needs_root;
    const char* path;   // under the installation folder
    int mode;           // or -1 to give it to nobody
    const char* reason;
    const char* still_runs;   // the line of the script that is not concerned, if any
  } cases[] = {
      {"cluster script group-writable", false, "command/command.VMCluster.cmd", 0664, "writable by group or others",
       "vicfg-hostops [--operation]"},
      {"ESXi script writable by others", false, "command/command.ESX65.cmd", 0646, "writable by group or others",
       "vicfg-hostops [--cluster]"},
      {"command folder group-writable", false, "command", 0775, "writable by group or others", nullptr},
      {"vCLI folder writable by others", false, "vcli", 0757, "writable by group or others", nullptr},
      {"vCLI tool group-writable", false, "vcli/vicfg-hostops", 0775, "writable by group or others", nullptr},
      {"vCLI tool of nobody", true, "vcli/vicfg-hostops", -1, "owned by uid 65534", nullptr},
      {"vCLI bin folder of nobody", true, "vcli/bin", -1, "owned by uid 65534", nullptr},
      {"installation folder of nobody", true, "", -1, "owned by uid 65534", nullptr},
  };
  std::filesystem::create_directories(dir.file("vcli/bin"));
  shutdown_with_one_cluster_and_host();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && geteuid() != 0) continue;
    std::string path = c.path[0] ? dir.file(c.path) : dir.path;
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    int changed = c.mode >= 0 ? chmod(path.c_str(), mode_t(c.mode)) : chown(path.c_str(), 65534, 65534);
    ASSERT_EQ(changed, 0);
    EventApi.evt_clear_log();
    std::remove(record.c_str());
    std::remove(dir.file("power.log").c_str());
    action_execute(SCHED_KIND_SHUTDOWN);
    auto r = recorded();
    if (c.still_runs) {
      ASSERT_EQ(r.size(), 1u) << read_file(record);
      EXPECT_TRUE(starts(r[0], c.still_runs)) << r[0];
    } else {
      EXPECT_TRUE(r.empty()) << read_file(record);
    }
    EXPECT_GE(log_count(c.path[0] ? path + " " : path), 1) << "the path is named";
    std::string refused = common(15).substr(0, common(15).find('%'));
    EXPECT_GE(log_count(refused), 1);
    EXPECT_EQ(log_count(refused), log_count(c.reason));
    EXPECT_EQ(power_log(), "shutdown\n") << "the shutdown goes on";
    EXPECT_EQ(log_count(common(9)), 1);
    // Put back: the scripts run again.
    ASSERT_EQ(chown(path.c_str(), before.st_uid, before.st_gid), 0);
    ASSERT_EQ(chmod(path.c_str(), before.st_mode & 07777), 0);
    std::remove(record.c_str());
    action_execute(SCHED_KIND_SHUTDOWN);
    EXPECT_EQ(recorded().size(), 2u) << read_file(record);
  }
}

// A vCLI folder or a tool that is not there is no more trusted than one others could change: no
// VMware script runs (nothing is planted where it would look later), event 15 names what is
// missing, and the operating-system action still follows. So it goes with a link of another user
// on the way to the folder.
TEST_F(ShutdownActions, MissingVcliFolderOrToolRunsNoScript) {
  std::filesystem::create_directories(dir.file("sticky"));
  ASSERT_EQ(chmod(dir.file("sticky").c_str(), 01777), 0);
  struct Case {
    const char* name;
    bool needs_root;
    const char* vcli;    // under the test folder; empty: none set
    const char* named;   // the path event 15 names, under the test folder
    const char* reason;
    void (*spoil)(const std::string& dir);
    void (*mend)(const std::string& dir);
  } cases[] = {
      {"vCLI folder missing", false, "absent", "absent", "does not exist", nullptr, nullptr},
      {"vCLI folder missing in a sticky folder", true, "sticky/vcli", "sticky/vcli", "others may make it", nullptr,
       nullptr},
      {"no vCLI folder set", false, "", "command/command.VMCluster.cmd", "no vCLI folder is set", nullptr, nullptr},
      {"tool missing", false, "vcli", "vcli/vicfg-hostops", "no such tool",
       [](const std::string& d) { EXPECT_EQ(rename((d + "/vcli/vicfg-hostops").c_str(), (d + "/hostops").c_str()), 0); },
       [](const std::string& d) { EXPECT_EQ(rename((d + "/hostops").c_str(), (d + "/vcli/vicfg-hostops").c_str()), 0); }},
      {"link of nobody to the vCLI folder", true, "vcli-link", "vcli-link", "link ",
       [](const std::string& d) {
         EXPECT_EQ(symlink((d + "/vcli").c_str(), (d + "/vcli-link").c_str()), 0);
         EXPECT_EQ(lchown((d + "/vcli-link").c_str(), 65534, 65534), 0);
       },
       [](const std::string& d) { EXPECT_EQ(remove((d + "/vcli-link").c_str()), 0); }},
  };
  shutdown_with_one_cluster_and_host();
  std::string script_log = dir.file("command/vmware-shutdown.log");
  std::string refused = common(15).substr(0, common(15).find('%'));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && geteuid() != 0) continue;
    if (c.spoil) c.spoil(dir.path);
    text_utf8_to_utf16(g_settings.vcli_path, 256, c.vcli[0] ? dir.file(c.vcli).c_str() : "");
    EventApi.evt_clear_log();
    std::remove(record.c_str());
    std::remove(script_log.c_str());
    std::remove(dir.file("power.log").c_str());
    action_execute(SCHED_KIND_SHUTDOWN);
    EXPECT_TRUE(recorded().empty()) << read_file(record);
    EXPECT_FALSE(fs_exists(script_log)) << "a script started: " << read_file(script_log);
    EXPECT_EQ(log_count(refused), 2) << "the cluster and the ESXi script";
    EXPECT_EQ(log_count(refused + dir.file(c.named) + " not run: "), c.vcli[0] ? 2 : 1);
    EXPECT_EQ(log_count(c.reason), 2);
    EXPECT_EQ(power_log(), "shutdown\n") << "the shutdown goes on";
    if (c.mend) c.mend(dir.path);
  }
  // Put back: both scripts run, also through a link of root's.
  ASSERT_EQ(symlink(dir.file("vcli").c_str(), dir.file("vcli-link").c_str()), 0);
  text_utf8_to_utf16(g_settings.vcli_path, 256, dir.file("vcli-link").c_str());
  std::remove(record.c_str());
  action_execute(SCHED_KIND_SHUTDOWN);
  EXPECT_EQ(recorded().size(), 2u) << read_file(record);
}

// The scripts' log may name hosts and accounts: only the service's user reads it, whether the
// script makes it or it was there open to others; the start sets an existing one and makes none.
TEST_F(ShutdownActions, ScriptLogIsReadableByTheServiceOnly) {
  std::string log = dir.file("command/vmware-shutdown.log");
  add_cluster("vc1.example", "a1", "p1", "One");
  g_settings.vm_type = 0;
  mode_t old_mask = umask(022);
  struct Case {
    const char* name;
    const char* before;   // null: no log yet
  } cases[] = {{"no log yet", nullptr}, {"log open to others", "an older line\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(log.c_str());
    if (c.before) {
      write_file(log, c.before);
      ASSERT_EQ(chmod(log.c_str(), 0644), 0);
    }
    vm_run_cluster_script(1, 0);
    struct stat st;
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::string text = read_file(log);
    EXPECT_EQ(text.rfind(c.before ? c.before : "", 0), 0u) << text;
    EXPECT_NE(text.find("cluster One of vCenter vc1.example: shutdown started"), std::string::npos) << text;
  }
  umask(old_mask);
  ASSERT_EQ(chmod(log.c_str(), 0644), 0);
  vm_secure_log(false);
  struct stat st;
  ASSERT_EQ(stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  std::remove(log.c_str());
  vm_secure_log(false);
  EXPECT_FALSE(fs_exists(log)) << "none is made at start";
}

TEST_F(ShutdownActions, EsxiScriptNeedsAServerATemplateAndAKnownType) {
  g_settings.vm_type = 0;
  vm_run_esxi_script(1);  // no server
  esxi("esx.example", "root", "pw");
  g_settings.vm_type = 2;
  vm_run_esxi_script(1);
  g_settings.vm_type = 0;
  std::remove(dir.file("command/SetVar.ESX65.template").c_str());
  vm_run_esxi_script(1);
  EXPECT_TRUE(recorded().empty());
  EXPECT_FALSE(fs_exists(dir.file("command/SetVar.ESX65.cmd")));
}

TEST_F(ShutdownActions, ValuesThatTryToRunCommandsArePassedAsPlainText) {
  g_settings.vm_type = 0;
  const char* names[] = {"x'; touch pwned; '", "$(touch pwned)", "`touch pwned`", "a\\'b\"c"};
  for (const char* n : names) add_cluster("vc.example", "admin", "p'w$(touch pwned)", n);
  for (int i = 0; i < 4; ++i) vm_run_cluster_script(1, i);
  auto r = recorded();
  ASSERT_EQ(r.size(), 4u) << read_file(record);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(starts(r[i], std::string("vicfg-hostops [--cluster] [") + names[i] + "]" + kHostShutdown)) << r[i];
    EXPECT_NE(r[i].find("VI_PASSWORD = p'w$(touch pwned);"), std::string::npos) << r[i];
  }
  for (const char* where : {"pwned", "command/pwned", "vcli/pwned"}) EXPECT_FALSE(fs_exists(dir.file(where))) << where;
}

TEST_F(ShutdownActions, ValuesWithControlCharactersAreRefused) {
  g_settings.vm_type = 0;
  add_cluster("vc.example", "admin", "pw", "A\nB");
  add_cluster("vc.example", "admin", "pw\r", "C");
  add_cluster("vc.example", "adm\x7f", "pw", "D");
  for (int i = 0; i < 3; ++i) vm_run_cluster_script(1, i);
  esxi("esx\tserver", "root", "pw");
  vm_run_esxi_script(1);
  EXPECT_TRUE(recorded().empty());
  EXPECT_FALSE(fs_exists(dir.file("command/SetVar.VMCluster.cmd")));
  EXPECT_FALSE(fs_exists(dir.file("command/SetVar.ESX65.cmd")));
  vm_run_cluster_script(1, 3);  // beyond the list: nothing
  vm_run_cluster_script(1, -1);
  EXPECT_TRUE(recorded().empty());
}

TEST_F(ShutdownActions, TemplateFillingIsBoundedAndOrdered) {
  const TemplateArg args[5] = {{"acc", 0}, {"p'w", 0}, {"srv", 0}, {"/v", 0}, {nullptr, 1}};
  struct Case {
    const char* format;
    const char* filled;
  } cases[] = {
      {"A='%s' P='%s' S='%s' V='%s' G=%d", "A='acc' P='p'\\''w' S='srv' V='/v' G=1"},
      {"%d %s %s %s %s", "%d p'\\''w srv /v %s"},          // mismatched: copied, argument used up
      {"%s%s%s%s%d%s%d%n", "accp'\\''wsrv/v1%s%d%n"},      // more conversions than arguments
      {"%n%x%5s%ls %s %d", "%n%x%5s%ls %s %d"},               // other forms copied, positions used up
      {"100%% %s", "100% acc"},
      {"end %", "end %"},
      {"%-", "%-"},
      {"", ""},
  };
  for (const Case& c : cases) {
    char out[256];
    int64_t n = vm_fill_template(out, sizeof out, c.format, args, 5);
    EXPECT_EQ(std::string(out), c.filled) << c.format;
    EXPECT_EQ(n, int64_t(strlen(c.filled)));
  }
  char small[8];
  EXPECT_EQ(vm_fill_template(small, sizeof small, "%s and more", args, 5), -1);
  const TemplateArg bad[1] = {{"a\x1f", 0}};
  char out[64];
  EXPECT_EQ(vm_fill_template(out, sizeof out, "%s", bad, 1), -1);
}

TEST_F(ShutdownActions, NoticeActionRepeatsTheLineOfItsEvent) {
  sched_fired_param = SchedParam{0, 5, 2, 0};
  action_execute(SCHED_KIND_ALARM_BROADCAST);
  ASSERT_EQ(sent_lines().size(), 1u);
  EXPECT_EQ(sent_lines()[0].source, "127.0.0.1");
  EXPECT_EQ(sent_lines()[0].level, evt_level(EVT_GROUP_SENSOR, 5));
  EXPECT_EQ(sent_lines()[0].message, name(EVT_GROUP_SENSOR, 5));
  sched_fired_param = SchedParam{0, 5, 3, 0};
  action_execute(SCHED_KIND_ALARM_BROADCAST);
  action_execute(99);
  EXPECT_EQ(sent_lines().size(), 1u);
}

TEST_F(ShutdownActions, ReloadAndForwardActions) {
  std::string english = name(EVT_GROUP_COMMON, 1);
  g_settings.language = 3;
  action_execute(SCHED_KIND_RELOAD_EVENTS);
  EXPECT_NE(name(EVT_GROUP_COMMON, 1), english);
  EXPECT_FALSE(name(EVT_GROUP_COMMON, 1).empty());
  action_execute(SCHED_KIND_TRAP_FORWARD);
  EXPECT_EQ(calls(), std::vector<std::string>{"forward null"});
}

TEST_F(ShutdownActions, ShutdownRequestQueuesTheActionAfterOneUnit) {
  shutdown_request();
  ASSERT_EQ(sched_once_ring.count, 1);
  EXPECT_EQ(sched_once_ring.slot[sched_once_ring.head].kind, SCHED_KIND_SHUTDOWN);
  EXPECT_EQ(sched_once_ring.slot[sched_once_ring.head].countdown, 1u);
}

TEST_F(ShutdownActions, FileHelpers) {
  EXPECT_EQ(util_read_file(dir.file("missing").c_str()), nullptr);
  EXPECT_EQ(util_read_file(dir.path.c_str()), nullptr) << "a folder is not a file";
  write_file(dir.file("text"), std::string("a\r\nb\0c", 6));
  char* text = util_read_file(dir.file("text").c_str());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(memcmp(text, "a\r\nb\0c", 7), 0);
  free(text);

  EXPECT_EQ(util_create_directory(dir.file("tmp").c_str()), 1);
  EXPECT_EQ(util_create_directory(dir.file("tmp").c_str()), 0);
  EXPECT_EQ(util_create_directory(""), 0);

  std::string manual = dir.file("Language/Vellmar-UM.pdf");
  remove(manual.c_str());  // the installed data ships one; language 4 must not make one
  util_install_manual(4);
  EXPECT_FALSE(fs_exists(manual));
  util_install_manual(3);
  EXPECT_EQ(read_file(manual), read_file(dir.file("Language/Polish/Vellmar-2012_PO.pdf")));
  util_install_manual(0);
  EXPECT_EQ(read_file(manual), read_file(dir.file("Language/English/Vellmar-2012_EN.pdf")));
  EXPECT_EQ(read_file(manual).substr(0, 5), "%PDF-");
}

TEST_F(ShutdownActions, ShellOpenRunsInTheFilesFolderAndLeavesALateScriptRunning) {
  std::filesystem::create_directories(dir.file("sub dir"));
  std::string script = dir.file("sub dir/late.cmd");
  write_file(script, "pwd > where.txt\nsleep 1\necho done > done.txt\n");
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(shell_open(script.c_str(), 200));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::milliseconds(900));
  for (int i = 0; i < 300 && !fs_exists(dir.file("sub dir/done.txt")); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(read_file(dir.file("sub dir/done.txt")), "done\n") << "not killed after the limit";
  EXPECT_EQ(read_file(dir.file("sub dir/where.txt")), dir.file("sub dir") + "\n");

  write_file(dir.file("quick.sh"), "echo $$ > pid.txt\n");
  EXPECT_TRUE(shell_open(dir.file("quick.sh").c_str(), 5000));
  EXPECT_FALSE(read_file(dir.file("pid.txt")).empty()) << "waited until it ended";
  EXPECT_FALSE(shell_open(dir.file("nothing.cmd").c_str(), 0));
  EXPECT_FALSE(shell_open("", 0));
}

TEST_F(ShutdownActions, RealPowerActionsRefuseUnderTestAndBelowTmp) {
  // A stand-in systemctl first in PATH catches any call that got through.
  std::filesystem::create_directories(dir.file("bin"));
  std::string caught = dir.file("systemctl.called");
  write_file(dir.file("bin/systemctl"), "#!/bin/sh\necho \"$@\" >> '" + caught + "'\n");
  chmod(dir.file("bin/systemctl").c_str(), 0755);
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", dir.file("bin").c_str(), 1);
  unsetenv("VELLMAR_POWER_SIMULATE");
  EXPECT_FALSE(power_simulated());
  EXPECT_FALSE(power_shutdown("/opt/vellmar"));    // VELLMAR_TEST is set
  EXPECT_FALSE(power_hibernate("/opt/vellmar"));
  unsetenv("VELLMAR_TEST");
  EXPECT_FALSE(power_poweroff(dir.path.c_str()));  // under /tmp
  EXPECT_FALSE(power_shutdown("/tmp"));
  setenv("VELLMAR_TEST", "1", 1);
  setenv("VELLMAR_POWER_SIMULATE", dir.file("power.log").c_str(), 1);
  setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(fs_exists(caught));
  EXPECT_EQ(power_log(), "");
  EXPECT_TRUE(power_enable_shutdown_privilege());
  EXPECT_TRUE(power_hibernate(dir.path.c_str()));
  EXPECT_EQ(power_log(), "hibernate\n");
}

}  // namespace
