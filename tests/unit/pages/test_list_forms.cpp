// Tests of the list editors: add, edit, delete on every list, full and duplicate refusals, row
// numbers outside the list, the SNMPv3 users' pass phrases and manager row, the cluster test, and
// the alarm state that follows the trap source rows.
#include <gtest/gtest.h>

#include "pages_fixture.h"
#include "service/alarm/status.h"
#include "service/core/scheduler.h"

namespace pages_test {
namespace {

const std::string R4 =
    "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const std::string R7 =
    "Message: Redirect=/en/device/dev_snmpv1.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const std::string R8 =
    "Message: Redirect=/en/device/dev_snmpv3.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
const std::string F1 =
    "Message: Redirect=/en/device/dev_forward.asp\nTitle=Information\nBody=<font color=#008000>Update "
    "successful.</font>\n";
std::string error(const char* text) { return std::string("Message: Title=Error\nBody=<font color=#F00000>") + text + "</font>\n"; }
const std::string E2 = error("IP Addess already in use!");
const std::string E3 = error("Cannot delete anymore!");
const std::string E6 = error("The password must longer than 8 bytes!");
const std::string E8 = error("User Name already in use!");
const std::string BAD_ROW = error("Incorrect row number!");
const std::string RN = error("FIFO_GROUP_POST not found!");

class ListForms : public PagesFixture {
 protected:
  void SetUp() override {
    PagesFixture::SetUp();
    empty_lists();
    cfg_save();
  }
  std::string list(const char* page, const std::string& fields) {
    return post(std::string("/en/device/") + page, "SYS_UCTOKEN=tok&" + fields);
  }
};

// Every list takes rows up to its limit and refuses one more with its own message.
TEST_F(ListForms, FullListsAreRefused) {
  struct Case {
    const char* page;
    const char* add;  // printf format with the row number for a unique key
    int limit;
    const char* full;
    std::string ok;
  } cases[] = {
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.%d&CFG_DEV_COMM=c&CFG_DEV_USER=u", 32,
       "Exceed the maximum number of Trap source!", R4},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.%d.1&FWD_TARGET_PORT=162", 255,
       "Exceed the maximum number of Trap target!", F1},
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.1.%d.1&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=1", 255,
       "Exceed the maximum number of SNMP access!", R7},
      {"dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=user%d&CFG_USM_SECURITY=0&CFG_USM_PERMISSION=1", 32,
       "Exceed the maximum number of USM users!", R8},
      {"dev_icluster", "CFG_CLUSTER_ADD1=1&CFG_CLUSTER_IP=vc%d&CFG_CLUSTER_ACCOUNT=a&CFG_CLUSTER_NAME=c", 16,
       "Exceed the maximum number of vCenter!", R4},
  };
  g_usm.count = 1;  // the manager user
  for (const Case& c : cases) {
    for (int i = int(c.page == std::string("dev_iusm")); i < c.limit; ++i) {
      char fields[200];
      snprintf(fields, sizeof fields, c.add, i);
      ASSERT_EQ(list(c.page, fields), c.ok) << c.page << " row " << i + 1;
    }
    std::string before = ini();
    char fields[200];
    snprintf(fields, sizeof fields, c.add, 999);
    EXPECT_EQ(list(c.page, fields), error(c.full)) << c.page;
    EXPECT_EQ(ini(), before);
  }
  EXPECT_EQ(g_source_ips.count, 32);
  EXPECT_EQ(g_forward_traps.count, 255);
  EXPECT_EQ(g_snmp_agent.count, 255);
  EXPECT_EQ(g_usm.count, 32);
  EXPECT_EQ(g_clusters.count, 16);
  EXPECT_NE(ini().find("IP255=10.1.254.1"), std::string::npos);
}

TEST_F(ListForms, DuplicateKeys) {
  ASSERT_EQ(list("dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.1&FWD_TARGET_PORT=162"), F1);
  EXPECT_EQ(list("dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.1&FWD_TARGET_PORT=1162"), E2);
  EXPECT_EQ(g_forward_traps.count, 1);

  ASSERT_EQ(list("dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.1&CFG_DEV_COMM=a"), R4);
  ASSERT_EQ(list("dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.2&CFG_DEV_COMM=b"), R4);
  EXPECT_EQ(list("dev_isource", "CFG_DEV_EDIT2=1&CFG_DEV_IP=10.0.0.2&CFG_DEV_COMM=new"), R4);
  EXPECT_STREQ(g_source_ips.community[1], "new");
  EXPECT_EQ(list("dev_isource", "CFG_DEV_EDIT2=1&CFG_DEV_IP=10.0.0.1&CFG_DEV_COMM=x"), E2);
  EXPECT_STREQ(g_source_ips.ip[1], "10.0.0.2");
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=manager&CFG_USM_SECURITY=0"), E8);
  // Keys are compared as stored: a longer text equals its cut form.
  std::string longuser(20, 'u');
  ASSERT_EQ(list("dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=" + longuser + "&CFG_USM_SECURITY=0"), R8);
  EXPECT_EQ(std::string(g_usm.user[g_usm.count - 1]), longuser.substr(0, 16));
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=" + longuser + "x&CFG_USM_SECURITY=0"), E8);
  // Clusters have no key.
  ASSERT_EQ(list("dev_icluster", "CFG_CLUSTER_ADD1=1&CFG_CLUSTER_IP=vc&CFG_CLUSTER_NAME=c"), R4);
  EXPECT_EQ(list("dev_icluster", "CFG_CLUSTER_ADD1=1&CFG_CLUSTER_IP=vc&CFG_CLUSTER_NAME=c"), R4);
  EXPECT_EQ(g_clusters.count, 2);
}

TEST_F(ListForms, DeleteMovesTheRowsUp) {
  const char* rows[] = {"CFG_DEV_IP=10.0.0.1&CFG_DEV_COMM=one&CFG_DEV_PERMISSION=1",
                        "CFG_DEV_IP=10.0.0.2&CFG_DEV_COMM=two&CFG_DEV_PERMISSION=2",
                        "CFG_DEV_IP=10.0.0.3&CFG_DEV_COMM=three&CFG_DEV_PERMISSION=1"};
  for (const char* r : rows) ASSERT_EQ(list("dev_iaccess", std::string("CFG_DEV_ADD1=1&") + r), R7);
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_DEL1=1"), R7);
  ASSERT_EQ(g_snmp_agent.count, 2);
  EXPECT_STREQ(g_snmp_agent.ip[0], "10.0.0.2");
  EXPECT_STREQ(g_snmp_agent.community[0], "two");
  EXPECT_EQ(g_snmp_agent.permission[0], 2);
  EXPECT_STREQ(g_snmp_agent.ip[1], "10.0.0.3");
  EXPECT_STREQ(g_snmp_agent.community[1], "three");
  EXPECT_EQ(g_snmp_agent.permission[1], 1);
  EXPECT_STREQ(g_snmp_agent.ip[2], "");
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_DEL2=1"), R7);
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_DEL1=1"), R7);
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_DEL1=1"), E3);
}

// Row numbers outside 1..Number are refused and nothing is written anywhere.
TEST_F(ListForms, RowNumbersOutsideTheListAreRefused) {
  ASSERT_EQ(list("dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.1&FWD_TARGET_PORT=162"), F1);
  ASSERT_EQ(list("dev_icluster", "CFG_CLUSTER_ADD1=1&CFG_CLUSTER_IP=vc&CFG_CLUSTER_NAME=c"), R4);
  std::string before = ini();
  ForwardTrapList fwd = g_forward_traps;
  const char* posts[][2] = {
      {"dev_iforward", "FWD_TARGET_EDIT0=1&FWD_TARGET_IP=1.1.1.1"},
      {"dev_iforward", "FWD_TARGET_EDIT2=1&FWD_TARGET_IP=1.1.1.1"},
      {"dev_iforward", "FWD_TARGET_EDIT-5=1&FWD_TARGET_IP=1.1.1.1"},
      {"dev_iforward", "FWD_TARGET_EDIT99999=1&FWD_TARGET_IP=1.1.1.1"},
      {"dev_iforward", "FWD_TARGET_DEL2=1"},
      {"dev_iforward", "FWD_TARGET_DEL=1"},
      {"dev_isource", "CFG_DEV_EDIT33=1&CFG_DEV_IP=1.1.1.1"},
      {"dev_icluster", "CFG_CLUSTER_TST2=1"},
      {"dev_icluster", "CFG_CLUSTER_EDIT17=1&CFG_CLUSTER_IP=x"},
      {"dev_iusm", "CFG_DEV_EDIT40=1&CFG_USM_USER=x"},
  };
  for (auto& p : posts) EXPECT_EQ(list(p[0], p[1]), BAD_ROW) << p[1];
  EXPECT_EQ(memcmp(&fwd, &g_forward_traps, sizeof fwd), 0);
  EXPECT_EQ(ini(), before);
  EXPECT_EQ(log_count("cluster shutdown"), 0);
}

// Addresses must be hosts (or any host where the list allows it) and numbers inside their
// ranges; a refused row changes nothing.
TEST_F(ListForms, AddressesAndNumbersAreChecked) {
  const std::string BAD = error("Incorrect input!");
  std::string before = ini();
  const char* refused[][2] = {
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_COMM=c"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP="},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.256"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.1x"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.1+"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=ups.example"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=0.0.0.0"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=%3A%3A"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=%5B%3A%3A1%5D"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=fe80%3A%3A1%25abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwx"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=0.0.0.0&FWD_TARGET_PORT=162"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.9&FWD_TARGET_PORT=0"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.9&FWD_TARGET_PORT=70000"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.9&FWD_TARGET_PORT=abc"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.9&FWD_TARGET_PORT="},
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=1.2.3&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=1"},
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.9&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=3"},
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.9&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=-1"},
      {"dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=u&CFG_USM_SECURITY=3&CFG_USM_PERMISSION=1"},
      {"dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=u&CFG_USM_SECURITY=0&CFG_USM_PERMISSION=256"},
  };
  uint8_t users = g_usm.count;
  for (const auto& r : refused) {
    EXPECT_EQ(list(r[0], r[1]), BAD) << r[1];
    EXPECT_EQ(g_source_ips.count + g_forward_traps.count + g_snmp_agent.count, 0) << r[1];
    EXPECT_EQ(g_usm.count, users) << r[1];
  }
  EXPECT_EQ(ini(), before);

  const char* taken[][2] = {
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.1"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=2001%3Adb8%3A%3A5"},
      {"dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=fe80%3A%3A1%25lo"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.9&FWD_TARGET_PORT=65535"},
      {"dev_iforward", "FWD_TARGET_ADD1=1&FWD_TARGET_IP=10.0.0.10"},  // no port: the factory 162
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=0.0.0.0&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=1"},
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=%3A%3A&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=2"},
      {"dev_iaccess", "CFG_DEV_ADD1=1&CFG_DEV_IP=10.0.0.9&CFG_DEV_COMM=c"},  // no permission: none
  };
  for (const auto& t : taken) EXPECT_NE(list(t[0], t[1]).find("Update successful."), std::string::npos) << t[1];
  EXPECT_EQ(g_source_ips.count, 3);
  EXPECT_EQ(g_forward_traps.port[0], 65535);
  EXPECT_EQ(g_forward_traps.port[1], 162);
  EXPECT_EQ(g_snmp_agent.count, 3);
  EXPECT_EQ(g_snmp_agent.permission[2], 0);
  // An edit that posts no permission keeps the stored one; one that posts it sets it.
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_EDIT1=1&CFG_DEV_IP=0.0.0.0&CFG_DEV_COMM=d"), R7);
  EXPECT_EQ(g_snmp_agent.permission[0], 1);
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_EDIT1=1&CFG_DEV_IP=0.0.0.0&CFG_DEV_COMM=d&CFG_DEV_PERMISSION=0"), R7);
  EXPECT_EQ(g_snmp_agent.permission[0], 0);
  EXPECT_EQ(list("dev_iaccess", "CFG_DEV_EDIT1=1&CFG_DEV_IP=10.0.0.256&CFG_DEV_COMM=d"), BAD);
  EXPECT_STREQ(g_snmp_agent.ip[0], "0.0.0.0");
}

TEST_F(ListForms, MissingActionOrFields) {
  EXPECT_EQ(list("dev_iforward", "FWD_TARGET_IP=1.1.1.1"), RN);
  EXPECT_EQ(post("/en/device/dev_iforward", ""), "-");  // no token, nothing
  EXPECT_EQ(list("dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_IP=a%3Cb"), error("Incorrect input!"));
  EXPECT_EQ(list("dev_isource", "CFG_DEV_ADD1=1&CFG_DEV_COMM=a%0Ab"), error("Incorrect input!"));
  EXPECT_EQ(g_source_ips.count, 0);
}

TEST_F(ListForms, UsmUsers) {
  // The factory list holds the manager user in row 1.
  uint8_t users = g_usm.count;
  ASSERT_GE(users, 1);
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=u7&CFG_USM_AUTH=1234567&CFG_USM_SECURITY=1"), E6);
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_ADD1=1&CFG_USM_USER=u7&CFG_USM_AUTH=12345678&CFG_USM_PRIV=1234567"), E6);
  EXPECT_EQ(g_usm.count, users);
  // A row added is cleared first: leftovers in the free storage are not inherited.
  snprintf(g_usm.priv[users], 17, "leftover-secret");
  EXPECT_EQ(list("dev_iusm",
                 "CFG_DEV_ADD1=1&CFG_USM_USER=u8&CFG_USM_AUTH=12345678901234567890&CFG_USM_PRIV=&CFG_USM_SECURITY=1&"
                 "CFG_USM_PERMISSION=2"),
            R8);
  EXPECT_EQ(counters().localize, 1);
  ASSERT_EQ(g_usm.count, users + 1);
  EXPECT_STREQ(g_usm.user[users], "u8");
  EXPECT_STREQ(g_usm.auth[users], "1234567890123456");
  EXPECT_STREQ(g_usm.priv[users], "");
  EXPECT_EQ(g_usm.security[users], 1);
  EXPECT_EQ(g_usm.permission[users], 2);
  // An edit with empty pass phrases keeps the stored ones.
  std::string row = std::to_string(users + 1);
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_EDIT" + row + "=1&CFG_USM_USER=u8&CFG_USM_AUTH=&CFG_USM_SECURITY=2"), R8);
  EXPECT_STREQ(g_usm.auth[users], "1234567890123456");
  EXPECT_EQ(g_usm.security[users], 2);
  // Row 1 is the manager.
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_EDIT1=1&CFG_USM_USER=evil&CFG_USM_AUTH=12345678"),
            error("Cannot edit the manager!"));
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_DEL1=1"), error("Cannot delete the manager!"));
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_DEL" + row + "=1"), R8);
  EXPECT_EQ(g_usm.count, users);
  EXPECT_EQ(counters().localize, 3);
}

// The manager user keeps its row and name: the administrator may give it new pass phrases, a
// change of its name or its deletion is refused, and below the administrator it is not edited.
TEST_F(ListForms, TheAdministratorChangesTheManagersPassPhrases) {
  g_usm.count = 2;
  snprintf(g_usm.user[0], 17, "manager");
  snprintf(g_usm.auth[0], 17, "mq472816");
  snprintf(g_usm.priv[0], 17, "hv305749");
  g_usm.security[0] = 2;
  g_usm.permission[0] = 2;
  snprintf(g_usm.user[1], 17, "other");
  cfg_save();
  const std::string E9 = error("Cannot edit the manager!"), E10 = error("Cannot delete the manager!");
  struct Case {
    int level;
    std::string fields;
    std::string reply;
  } refused[] = {
      {0, "CFG_DEV_EDIT1=1&CFG_USM_USER=renamed&CFG_USM_AUTH=new-auth-1", E9},
      {0, "CFG_DEV_EDIT1=1&CFG_USM_USER=&CFG_USM_AUTH=new-auth-1", E9},
      {0, "CFG_DEV_EDIT1=1&CFG_USM_USER=other&CFG_USM_AUTH=new-auth-1", E9},
      {0, "CFG_DEV_DEL1=1", E10},
      {0, "CFG_DEV_EDIT1=1&CFG_USM_USER=manager&CFG_USM_AUTH=short", E6},
      {1, "CFG_DEV_EDIT1=1&CFG_USM_USER=manager&CFG_USM_AUTH=new-auth-1", E9},
      {1, "CFG_DEV_EDIT1=1&CFG_USM_AUTH=new-auth-1", E9},
  };
  Stored before = stored();
  for (const Case& c : refused) {
    session_level(c.level);
    EXPECT_EQ(list("dev_iusm", c.fields), c.reply) << c.level << " " << c.fields;
    EXPECT_TRUE(unchanged(before)) << c.level << " " << c.fields;
  }
  EXPECT_EQ(counters().localize, 0);

  session_level(0);
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_EDIT1=1&CFG_USM_USER=manager&CFG_USM_SECURITY=0&CFG_USM_AUTH=new-auth-1&"
                             "CFG_USM_PRIV=new-priv-1&CFG_USM_PERMISSION=0"),
            R8);
  EXPECT_STREQ(g_usm.user[0], "manager");
  EXPECT_STREQ(g_usm.auth[0], "new-auth-1");
  EXPECT_STREQ(g_usm.priv[0], "new-priv-1");
  EXPECT_EQ(g_usm.security[0], 2) << "only the pass phrases change";
  EXPECT_EQ(g_usm.permission[0], 2) << "the permission follows the management switch";
  EXPECT_EQ(g_usm.count, 2);
  EXPECT_STREQ(g_usm.user[1], "other");
  EXPECT_EQ(counters().localize, 1);
  // An empty pass phrase keeps the stored one; the name may be left out.
  EXPECT_EQ(list("dev_iusm", "CFG_DEV_EDIT1=1&CFG_USM_AUTH=&CFG_USM_PRIV=newer-priv"), R8);
  EXPECT_STREQ(g_usm.auth[0], "new-auth-1");
  EXPECT_STREQ(g_usm.priv[0], "newer-priv");
  cfg_set_defaults();
  cfg_load(nullptr);
  EXPECT_STREQ(g_usm.auth[0], "new-auth-1") << "stored in agent.ini";
  EXPECT_STREQ(g_usm.priv[0], "newer-priv");
}

TEST_F(ListForms, ClusterPasswordAndTest) {
  ASSERT_EQ(list("dev_icluster",
                 "CFG_CLUSTER_ADD1=1&CFG_CLUSTER_IP=vc1&CFG_CLUSTER_ACCOUNT=adm&CFG_CLUSTER_PASSWORD=pw1&CFG_CLUSTER_NAME=c1"),
            R4);
  ASSERT_EQ(list("dev_icluster", "CFG_CLUSTER_ADD1=1&CFG_CLUSTER_IP=vc2&CFG_CLUSTER_NAME=c2"), R4);
  EXPECT_EQ(list("dev_icluster", "CFG_CLUSTER_EDIT1=1&CFG_CLUSTER_IP=vc1b&CFG_CLUSTER_PASSWORD="), R4);
  EXPECT_STREQ(g_clusters.password[0], "pw1");
  EXPECT_STREQ(g_clusters.vcenter[0], "vc1b");
  EXPECT_EQ(list("dev_icluster", "CFG_CLUSTER_EDIT1=1&CFG_CLUSTER_NAME=a%0D%0Aecho+x"), error("Incorrect input!"));
  std::string before = ini();
  EXPECT_EQ(list("dev_icluster", "CFG_CLUSTER_TST2=1"),
            "Message: Redirect=/en/device/dev_config.asp\nTitle=Information\nBody=<font color=#008000>Please wait "
            "until the command is sent completely.</font>\n");
  EXPECT_EQ(log_count("Execute the VMWare cluster shutdown command."), 1);
  EXPECT_EQ(ini(), before);
  EXPECT_NE(read_file(dir.file("command/SetVar.VMCluster.cmd")).find("vc2"), std::string::npos);
}

// The trap sources and their alarm state stay together when rows are edited and deleted.
TEST_F(ListForms, SourceAlarmStateFollowsTheRows) {
  const char* ips[] = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};
  for (const char* ip : ips) ASSERT_EQ(list("dev_isource", std::string("CFG_DEV_ADD1=1&CFG_DEV_IP=") + ip), R4);
  g_settings.notify_period = 30;
  trap(1, 0, 5);
  trap(2, 0, 5);
  status_aggregate();
  for (int s = 0; s < 3; ++s) g_status.source_condition[s][0] = uint8_t(s);  // tell them apart
  g_status.max_level[3] = 3;
  uint32_t pending2 = pending(2, 0);
  uint32_t acked2 = g_status.acknowledged[2][0];
  ASSERT_NE(pending2, 0u);
  int notices2 = 0;
  for (int b = 0; b < 32; ++b) notices2 += g_status.notice_handle[0][2][b] != SCHED_NONE;
  ASSERT_GT(notices2, 0);

  // Deleting source 2 (position 1) moves source 3's state to position 1.
  ASSERT_EQ(list("dev_isource", "CFG_DEV_DEL2=1"), R4);
  ASSERT_EQ(g_source_ips.count, 2);
  EXPECT_STREQ(g_source_ips.ip[1], "127.0.0.3");
  EXPECT_EQ(pending(1, 0), pending2);
  EXPECT_EQ(g_status.acknowledged[1][0], acked2);
  EXPECT_EQ(g_status.source_condition[1][0], 2);
  EXPECT_EQ(g_status.max_level[2], 3);
  EXPECT_EQ(pending(2, 0), 0u);
  EXPECT_EQ(g_status.max_level[3], 0);
  EXPECT_EQ(g_status.source_condition[2][0], 0);
  int moved = 0;
  for (int b = 0; b < 32; ++b) {
    uint8_t h = g_status.notice_handle[0][1][b];
    EXPECT_EQ(g_status.notice_handle[0][2][b], SCHED_NONE);
    if (h == SCHED_NONE) continue;
    ++moved;
    ASSERT_TRUE(SchedulerApi.sched_find_id(h));
    EXPECT_EQ(sched_fired_param.source, 1);
  }
  EXPECT_EQ(moved, notices2);
  // Every queued notice belongs to a listed source.
  for (uint8_t k = 0; k < sched_repeat_ring.count; ++k)
    EXPECT_LT(sched_repeat_ring.slot[(sched_repeat_ring.head + k) % SCHED_REPEAT_SLOTS].param.source, 2);

  // Editing a source resets its position, conditions included.
  ASSERT_EQ(list("dev_isource", "CFG_DEV_EDIT2=1&CFG_DEV_IP=127.0.0.9"), R4);
  EXPECT_EQ(pending(1, 0), 0u);
  EXPECT_EQ(g_status.source_condition[1][0], 0);
  EXPECT_FALSE(SchedulerApi.sched_find_kind(SCHED_KIND_ALARM_BROADCAST));
  EXPECT_EQ(g_status.source_condition[0][0], 0);
}

}  // namespace
}  // namespace pages_test
