#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/config/netsh_command.h"

namespace {

std::string build(bool add, uint32_t major, const char* folder) {
  char out[NETSH_COMMAND_ROOM];
  if (!netsh_build_command(out, sizeof out, add, major, "Vellmar 2012", folder)) return "<refused>";
  return out;
}

TEST(NetshCommand, TextsByOperatingSystemVersion) {
  struct Case {
    bool add;
    uint32_t major;
    const char* text;
  } cases[] = {
      {true, 10,
       "netsh advfirewall firewall add rule name=\"Vellmar 2012\" dir=in action=allow "
       "program=\"/opt/vellmar\\Brevanta.exe\" enable=yes"},
      {false, 10, "netsh advfirewall firewall delete rule name=\"Vellmar 2012\" program=\"/opt/vellmar\\Brevanta.exe\""},
      {true, 6,
       "netsh advfirewall firewall add rule name=\"Vellmar 2012\" dir=in action=allow "
       "program=\"/opt/vellmar\\Brevanta.exe\" enable=yes"},
      {true, 5, "netsh firewall add allowedprogram /opt/vellmar\\Brevanta.exe Vellmar 2012 ENABLE ALL"},
      {false, 0, "netsh firewall delete allowedprogram /opt/vellmar\\Brevanta.exe Vellmar 2012 ENABLE ALL"},
  };
  for (const auto& c : cases) EXPECT_EQ(build(c.add, c.major, "/opt/vellmar"), c.text) << c.major;
}

TEST(NetshCommand, FoldersTheInterpreterWouldMisreadOrThatDoNotFitAreRefused) {
  for (const char* folder : {"/opt/a\"b", "/opt/$(reboot)", "/opt/`id`", "/opt/a;b", "/opt/a\\b", "/opt/a\nb"})
    EXPECT_EQ(build(true, 10, folder), "<refused>") << folder;
  // The longest folder the installation path holds (259 bytes) fits the command room.
  std::string longest = "/" + std::string(258, 'd');
  EXPECT_NE(build(true, 10, longest.c_str()), "<refused>");
  char small[64];
  EXPECT_FALSE(netsh_build_command(small, sizeof small, true, 10, "Vellmar 2012", "/opt/vellmar"));
  EXPECT_STREQ(small, "");
}

// Arguments as /bin/sh splits the command texts above.
TEST(NetshCommand, TheStandInReadsBothFormsAsTheInterpreterSplitsThem) {
  struct Case {
    std::vector<const char*> argv;
    bool ok, add;
    const char* folder;
  } cases[] = {
      {{"netsh", "advfirewall", "firewall", "add", "rule", "name=Vellmar 2012", "dir=in", "action=allow",
        "program=/opt/vellmar\\Brevanta.exe", "enable=yes"},
       true, true, "/opt/vellmar"},
      {{"netsh", "advfirewall", "firewall", "delete", "rule", "name=Vellmar 2012", "program=/opt/vellmar\\Brevanta.exe"},
       true, false, "/opt/vellmar"},
      // The unquoted older form loses its backslash and splits the name.
      {{"netsh", "firewall", "add", "allowedprogram", "/opt/vellmarBrevanta.exe", "Vellmar", "2012", "ENABLE", "ALL"},
       true, true, "/opt/vellmar"},
      {{"netsh", "firewall", "delete", "allowedprogram", "/opt/vellmar/Brevanta.exe", "Vellmar", "2012", "ENABLE",
        "ALL"},
       true, false, "/opt/vellmar"},
      {{"netsh", "advfirewall", "firewall", "add", "rule", "name=Vellmar 2012", "program=/opt/vellmar/other"},
       false, false, ""},
      {{"netsh", "advfirewall", "firewall", "add", "rule", "program=/opt/vellmar\\Brevanta.exe"}, false, false, ""},
      {{"netsh", "interface", "show"}, false, false, ""},
      {{"netsh"}, false, false, ""},
  };
  for (const auto& c : cases) {
    NetshRequest r;
    bool ok = netsh_parse_arguments(int(c.argv.size()), c.argv.data(), &r);
    EXPECT_EQ(ok, c.ok) << c.argv.back();
    if (!ok || !c.ok) continue;
    EXPECT_EQ(r.add, c.add);
    EXPECT_STREQ(r.rule_name, "Vellmar 2012");
    EXPECT_STREQ(r.folder, c.folder);
  }
}

}  // namespace
