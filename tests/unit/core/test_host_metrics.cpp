// Host figures: the parsers of /proc/stat, /proc/meminfo and /etc/os-release, disk use and
// processor load arithmetic, the OS description, and a collection over this machine with a disk
// name that measures nothing.
#include <gtest/gtest.h>

#include <string>

#include "common/settings.h"
#include "common/text.h"
#include "platform/system_info.h"
#include "service/alarm/status.h"
#include "service/core/host_metrics.h"

namespace {

TEST(HostMetrics, CpuTimesFromProcStat) {
  CpuTimes t;
  ASSERT_TRUE(sysinfo_parse_cpu_times("cpu  100 5 50 800 20 3 2 1 0 0\ncpu0 1 2 3 4\n", &t));
  EXPECT_EQ(t.total, 981u);
  EXPECT_EQ(t.busy, 161u);
  EXPECT_FALSE(sysinfo_parse_cpu_times("intr 1 2 3", &t));
  EXPECT_FALSE(sysinfo_parse_cpu_times("cpu  1 2", &t));
}

TEST(HostMetrics, ProcessorLoadIsTruncated) {
  EXPECT_EQ(sys_cpu_load(0, 0, 379, 1000), 37u);
  EXPECT_EQ(sys_cpu_load(10, 100, 10, 100), 0u);   // counters did not advance
  EXPECT_EQ(sys_cpu_load(50, 100, 40, 200), 0u);
}

TEST(HostMetrics, MemoryLoadFromMeminfo) {
  uint32_t load = 0;
  ASSERT_TRUE(sysinfo_parse_memory_load("MemTotal:  1000 kB\nMemFree:  100 kB\nMemAvailable:  250 kB\n", &load));
  EXPECT_EQ(load, 75u);
  EXPECT_FALSE(sysinfo_parse_memory_load("MemFree: 5 kB\n", &load));
}

TEST(HostMetrics, SystemNameFromOsRelease) {
  char name[64];
  ASSERT_TRUE(sysinfo_parse_os_release("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
                                       name, sizeof name));
  EXPECT_STREQ(name, "Debian GNU/Linux 12 (bookworm)");
  ASSERT_TRUE(sysinfo_parse_os_release("NAME=Alpine\nVERSION='3.19'\n", name, sizeof name));
  EXPECT_STREQ(name, "Alpine 3.19");
  EXPECT_FALSE(sysinfo_parse_os_release("ID=x\n", name, sizeof name));
  ASSERT_TRUE(sysinfo_parse_os_release("PRETTY_NAME=abcdefghij\n", name, 5));
  EXPECT_STREQ(name, "abcd");
}

TEST(HostMetrics, DescriptionText) {
  char out[128];
  sys_format_os_description("Debian GNU/Linux 12 (bookworm)", "6.1.0-18-amd64", "x86_64", out, sizeof out);
  EXPECT_STREQ(out, "Debian GNU/Linux 12 (bookworm) (kernel 6.1.0-18-amd64), 64-bit");
  sys_format_os_description("", "5.10", "i686", out, sizeof out);
  EXPECT_STREQ(out, "Linux (kernel 5.10), 32-bit");
  sys_format_os_description("X", "1", "sparc", out, sizeof out);
  EXPECT_STREQ(out, "X (kernel 1)");
}

TEST(HostMetrics, DescriptionOfThisMachineFitsItsRoom) {
  char16_t text[128];
  ASSERT_EQ(sys_get_os_description(text, 128), 1);
  EXPECT_GT(text_len16(text), 10u);
  EXPECT_LE(text_len16(text), 127u);
  EXPECT_EQ(sys_get_os_description(nullptr, 0), 1);
}

TEST(HostMetrics, DiskUse) {
  EXPECT_DOUBLE_EQ(sys_disk_used(25, 100), 0.75);
  EXPECT_DOUBLE_EQ(sys_disk_used(0, 0), 0.0);
}

TEST(HostMetrics, CollectionMeasuresPathsAndLeavesOthersZero) {
  cfg_set_defaults();   // Disk1..Disk8 are the drive names "C:\" ... "J:\": they measure nothing
  text_utf8_to_utf16(g_settings.disk_name[1], 17, "/");
  status_reset();
  g_status.disk_used[0] = 0.5;
  sys_cpu_counter_open();
  sys_collect_metrics();
  EXPECT_EQ(g_status.disk_used[0], 0.0);
  EXPECT_GT(g_status.disk_used[1], 0.0);
  EXPECT_LE(g_status.disk_used[1], 1.0);
  EXPECT_EQ(g_status.disk_used[2], 0.0);
  EXPECT_GT(g_status.memory_load, 0u);
  EXPECT_LE(g_status.memory_load, 100u);
  EXPECT_LE(g_status.cpu_load, 100u);
}

}  // namespace
