#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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

// Rule sets as `nft list ruleset` prints them, and the chain that keeps our accept rule from
// taking effect ("" when none does).
struct ListingCase {
  const char* what;
  const char* listing;
  const char* block;  // "family table chain policy|rule"
};

const ListingCase kListings[] = {
    {"policy drop", "table inet filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy drop;\n"
                    "\t\tiifname \"lo\" accept\n\t}\n}\n",
     "inet filter input policy"},
    {"final drop under accept",
     "table ip filter {\n\tchain INPUT {\n\t\ttype filter hook input priority filter; policy accept;\n"
     "\t\tct state established,related accept\n\t\tcounter packets 3 bytes 180 drop\n\t}\n}\n",
     "ip filter INPUT rule"},
    {"final reject with its arguments",
     "table inet firewalld {\n\tchain filter_INPUT {\n\t\ttype filter hook input priority filter + 10; policy accept;\n"
     "\t\tjump filter_INPUT_ZONES\n\t\treject with icmpx admin-prohibited\n\t}\n\n\tchain filter_INPUT_ZONES {\n"
     "\t}\n}\n",
     "inet firewalld filter_INPUT rule"},
    {"logged drop with braces in quotes, after a set",
     "table ip6 guard {\n\tset allowed {\n\t\ttype ipv6_addr\n\t\telements = { ::1,\n\t\t\t     fe80::1 }\n\t}\n\n"
     "\tchain in {\n\t\ttype filter hook input priority 0; policy accept;\n\t\tip6 saddr @allowed accept\n"
     "\t\tlog prefix \"in { \" flags all drop comment \"the end }\"\n\t}\n}\n",
     "ip6 guard in rule"},
    {"a later table blocks", "table ip nat {\n\tchain pre {\n\t\ttype nat hook prerouting priority dstnat; policy accept;\n"
                             "\t}\n}\ntable ip filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy drop;\n"
                             "\t}\n}\n",
     "ip filter input policy"},
    {"our own table", "table inet Vellmar_2012 {\n\tchain input {\n\t\ttype filter hook input priority filter; policy drop;\n"
                      "\t}\n}\n", ""},
    {"a conditional last rule", "table inet filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy accept;\n"
                                "\t\ttcp dport 22 drop\n\t}\n}\n", ""},
    {"the output hook", "table inet filter {\n\tchain output {\n\t\ttype filter hook output priority filter; policy drop;\n"
                        "\t}\n}\n", ""},
    {"a chain without hook", "table inet filter {\n\tchain rest {\n\t\tdrop\n\t}\n}\n", ""},
    {"a bridge table", "table bridge filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy drop;\n"
                       "\t}\n}\n", ""},
    {"a drop that is not the last rule",
     "table inet filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy accept;\n\t\tdrop\n"
     "\t\taccept\n\t}\n}\n", ""},
    {"cut before the chain ends", "table inet filter {\n\tchain input {\n\t\ttype filter hook input priority filter; policy drop;\n", ""},
    {"empty", "", ""},
};

TEST(Firewall, ChainsOfOtherTablesThatDropThePackets) {
  for (const auto& c : kListings) {
    FirewallBlock b;
    bool found = firewall_block_in_listing(c.listing, strlen(c.listing), "Vellmar 2012", &b);
    std::string got = found ? std::string(b.family) + " " + b.table + " " + b.chain + (b.by_policy ? " policy" : " rule") : "";
    EXPECT_EQ(got, c.block) << c.what;
  }
  // Only the bytes given are read.
  const char* listing = kListings[0].listing;
  FirewallBlock b;
  EXPECT_FALSE(firewall_block_in_listing(listing, 20, "Vellmar 2012", &b));
}

TEST(Firewall, NoRuleSetIsReadUnderSimulationOrUnderTest) {
  const char* was = getenv("VELLMAR_TEST");
  std::string saved = was ? was : "";
  setenv("VELLMAR_TEST", "1", 1);
  unsetenv("VELLMAR_FIREWALL_NFT");
  FirewallBlock b;
  EXPECT_FALSE(firewall_find_block("Vellmar 2012", &b));
  EXPECT_FALSE(firewall_rule_present("Vellmar 2012"));
  // A named nft that fails (here /bin/false) reads as an empty rule set.
  setenv("VELLMAR_FIREWALL_NFT", "/bin/false", 1);
  EXPECT_FALSE(firewall_find_block("Vellmar 2012", &b));
  EXPECT_FALSE(firewall_rule_present("Vellmar 2012"));
  unsetenv("VELLMAR_FIREWALL_NFT");
  if (was) setenv("VELLMAR_TEST", saved.c_str(), 1);
  else unsetenv("VELLMAR_TEST");
}

}  // namespace
