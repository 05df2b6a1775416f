// Cost of the event log's appends: a plain append, and the append that finds 10000 lines and
// trims the oldest 2500 through Temp.Log (with its flush to disk). Runs in a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "service/events/event_defs.h"
#include "service/events/event_log.h"

namespace {

std::string g_dir;

void write_full_log() {
  std::string s;
  s.reserve(EVENT_LOG_MAX_LINES * 80);
  for (uint32_t i = 1; i <= EVENT_LOG_MAX_LINES; ++i)
    s += "192.168.10.20 2 03/05/2024 07:08:09 UPS on battery power, line " + std::to_string(i) + "\r\n";
  FILE* f = fopen((g_dir + "/_FILE_LOG.TXT").c_str(), "wb");
  fwrite(s.data(), 1, s.size(), f);
  fclose(f);
  event_log_line_count = evt_count_lines();
}

void BM_AppendThatTrims(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    write_full_log();
    state.ResumeTiming();
    EventApi.evt_log(u"0.0.0.0", 1, u"Service started", nullptr);
  }
  if (event_log_line_count != EVENT_LOG_MAX_LINES - EVENT_LOG_TRIM_LINES + 1) state.SkipWithError("trim did not run");
}
BENCHMARK(BM_AppendThatTrims)->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_PlainAppend(benchmark::State& state) {
  EventApi.evt_clear_log();
  for (auto _ : state) {
    EventApi.evt_log(u"10.0.0.7", 2, u"Login of %s from %s", u"admin", u"10.0.0.9", nullptr);
    if (event_log_line_count >= EVENT_LOG_MAX_LINES - 10) {
      state.PauseTiming();
      EventApi.evt_clear_log();
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_PlainAppend)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  char tmpl[] = "/tmp/vellmar-bench-evtlog-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  g_dir = tmpl;
  char16_t dir16[1024];
  text_utf8_to_utf16(dir16, 1024, g_dir.c_str());
  evt_init(dir16, u"English");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  evt_free_definitions();
  std::filesystem::remove_all(g_dir);
  return 0;
}
