#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/firewall.h"
#include "support/temp_dir.h"

namespace {

const char kAddScript[] =
    "add table inet Vellmar_2012\n"
    "delete table inet Vellmar_2012\n"
    "table inet Vellmar_2012 {\n"
    "\tchain input {\n"
    "\t\ttype filter hook input priority filter; policy accept;\n"
    "\t\tudp dport { 161, 162 } accept\n"
    "\t\ttcp dport { 80, 443 } accept\n"
    "\t}\n"
    "}\n";
const char kDeleteScript[] = "add table inet Vellmar_2012\ndelete table inet Vellmar_2012\n";
const FirewallPort kPorts[] = {{FIREWALL_UDP, 161}, {FIREWALL_UDP, 162}, {FIREWALL_TCP, 80}, {FIREWALL_TCP, 443}};

TEST(Firewall, ScriptsOfAddAndDelete) {
  char out[1024];
  ASSERT_GT(firewall_script(out, sizeof out, "Vellmar 2012", kPorts, 4), 0u);
  EXPECT_STREQ(out, kAddScript);
  ASSERT_GT(firewall_script(out, sizeof out, "Vellmar 2012", nullptr, 0), 0u);
  EXPECT_STREQ(out, kDeleteScript);
  // Ports that repeat are listed once, port 0 not at all, a protocol without ports has no line.
  const FirewallPort same[] = {{FIREWALL_UDP, 162}, {FIREWALL_UDP, 162}, {FIREWALL_TCP, 0}};
  ASSERT_GT(firewall_script(out, sizeof out, "x;y", same, 3), 0u);
  EXPECT_EQ(std::string(out).find("udp dport { 162 } accept"), std::string(out).find("udp dport"));
  EXPECT_EQ(std::string(out).find("tcp"), std::string::npos);
  EXPECT_NE(std::string(out).find("table inet x_y {"), std::string::npos);
  // A name that does not begin with a letter still gives an nft name; an empty one none.
  ASSERT_GT(firewall_script(out, sizeof out, "2012", nullptr, 0), 0u);
  EXPECT_STREQ(out, "add table inet r012\ndelete table inet r012\n");
  EXPECT_EQ(firewall_script(out, sizeof out, "", nullptr, 0), 0u);
  EXPECT_EQ(firewall_script(out, 40, "Vellmar 2012", kPorts, 4), 0u) << "too small a room";
}

TEST(Firewall, SimulationRecordsAndTestsNeverReachTheRealFirewall) {
  TempDir dir;
  std::string log = dir.file("firewall.log");
  setenv("VELLMAR_FIREWALL_SIMULATE", log.c_str(), 1);
  EXPECT_TRUE(firewall_add_rule("Vellmar 2012", kPorts, 4));
  EXPECT_TRUE(firewall_delete_rule("Vellmar 2012"));
  EXPECT_EQ(read_file(log), std::string(kAddScript) + kDeleteScript);
  unsetenv("VELLMAR_FIREWALL_SIMULATE");
  const char* was = getenv("VELLMAR_TEST");
  std::string saved = was ? was : "";
  setenv("VELLMAR_TEST", "1", 1);
  EXPECT_FALSE(firewall_add_rule("Vellmar 2012", kPorts, 4));
  EXPECT_FALSE(firewall_delete_rule("Vellmar 2012"));
  if (was) setenv("VELLMAR_TEST", saved.c_str(), 1);
  else unsetenv("VELLMAR_TEST");
}

}  // namespace
