// Shared set-up of the alarm engine tests: a fresh installation folder with the event texts and
// the command scripts, factory settings, two listed sources, an empty scheduler and a reset status
// record. Power actions always go to the folder's power.log; alarm lines are recorded.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/alarm/alarm_state.h"
#include "service/alarm/countdown.h"
#include "service/alarm/status.h"
#include "service/core/scheduler.h"
#include "service/events/event_defs.h"
#include "service/snmp/trap_state.h"
#include "support/temp_dir.h"

namespace alarm_test {

inline std::string u8(const char16_t* s) {
  char out[1024];
  text_utf16_to_utf8(out, sizeof out, s ? s : u"");
  return out;
}

struct SentLine {
  uint32_t level;
  std::string source;
  std::string message;
};

inline std::vector<SentLine>& sent_lines() {
  static std::vector<SentLine> lines;
  return lines;
}

inline void record_line(uint32_t level, const char16_t* source, const char16_t* message) {
  sent_lines().push_back({level, u8(source), u8(message)});
}

class AlarmFixture : public ::testing::Test {
 protected:
  TempDir dir;
  std::string saved_simulate;
  bool had_simulate = false;

  void SetUp() override {
    setenv("VELLMAR_TEST", "1", 1);
    const char* sim = getenv("VELLMAR_POWER_SIMULATE");
    had_simulate = sim != nullptr;
    if (sim) saved_simulate = sim;
    setenv("VELLMAR_POWER_SIMULATE", dir.file("power.log").c_str(), 1);

    namespace fs = std::filesystem;
    std::string data = std::string(VELLMAR_SOURCE_DIR) + "/data";
    fs::copy(data + "/Language", dir.file("Language"), fs::copy_options::recursive);
    fs::copy(data + "/command", dir.file("command"), fs::copy_options::recursive);
    // As an installation is, whatever the checkout's umask: nobody else may change the scripts.
    for (const auto& e : fs::recursive_directory_iterator(dir.path))
      fs::permissions(e.path(), fs::perms::group_write | fs::perms::others_write, fs::perm_options::remove);
    snprintf(InstallDir, sizeof InstallDir, "%s", dir.path.c_str());
    text_utf8_to_utf16(InstallDirW, 260, InstallDir);

    cfg_set_defaults();
    memset(&g_clusters, 0, sizeof g_clusters);
    g_source_ips.count = 2;
    g_source_ips.logical = 0;
    snprintf(g_source_ips.ip[0], 52, "127.0.0.1");
    snprintf(g_source_ips.ip[1], 52, "127.0.0.2");

    codec_table_init();
    sched_init();
    sched_next_param = SchedParam{};
    status_reset();
    evt_init(InstallDirW, u"English");
    status_copy_event_levels();
    g_countdown_announced = -1;
    g_shutdown_fired = 0;
    trap_state_reset();
    sent_lines().clear();
    alarm_send_line = record_line;
  }

  void TearDown() override {
    evt_free_definitions();
    if (had_simulate) setenv("VELLMAR_POWER_SIMULATE", saved_simulate.c_str(), 1);
    else setenv("VELLMAR_POWER_SIMULATE", "/dev/null", 1);
  }

  // An enterprise-specific trap of the source, group and event, as the receiver leaves it.
  void trap(int source, int group, int event) {
    TrapState.source_index = source;
    TrapState.trap_group = group;
    TrapState.generic_trap = 6;
    TrapState.specific_trap = event;
    ups_event_process();
  }

  void generic(int source, int number) {
    TrapState.source_index = source;
    TrapState.generic_trap = number;
    ups_event_process();
  }

  std::vector<std::string> log_lines() {
    std::vector<std::string> v;
    std::string s = read_file(dir.file("_FILE_LOG.TXT"));
    size_t at = 0;
    while (at < s.size()) {
      size_t nl = s.find("\r\n", at);
      if (nl == std::string::npos) nl = s.size();
      v.push_back(s.substr(at, nl - at));
      at = nl + 2;
    }
    return v;
  }

  int log_count(const std::string& part) {
    int n = 0;
    for (const std::string& line : log_lines()) n += line.find(part) != std::string::npos;
    return n;
  }

  std::string name(uint8_t group, uint32_t n) { return u8(evt_name(group, n)); }

  std::string power_log() { return read_file(dir.file("power.log")); }

  uint32_t pending(int source, int group) { return g_status.pending[source + 1][group]; }
};

}  // namespace alarm_test
