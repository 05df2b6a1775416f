// CPU time of the SNMP agent per request inside the process: snmp_agent_handle (decoding, access
// or security checks, the MIB handler, the answer's encoding) on a prepared GetRequest for
// sysDescr, SNMPv1 and SNMPv3 authPriv (MD5/DES, keys localised once at start).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/codec.h"
#include "common/install.h"
#include "common/settings.h"
#include "common/text.h"
#include "platform/inet.h"
#include "service/alarm/status.h"
#include "service/core/net_address.h"
#include "service/snmp/snmp_agent.h"
#include "service/snmp/snmp_mib.h"
#include "support/snmp_request.h"

namespace {

const Ids kSysDescr = {1, 3, 6, 1, 2, 1, 1, 1, 0};
char g_folder[] = "/tmp/vellmar-bench-agent-XXXXXX";
uint8_t g_sender[INET_SOCKADDR_MAX];
uint32_t g_sender_length;

void remove_folder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

void start_agent() {
  static bool started = false;
  if (started) return;
  started = true;
  if (mkdtemp(g_folder) == nullptr) std::abort();
  std::atexit(remove_folder);
  text_copy8(InstallDir, sizeof InstallDir, g_folder);
  codec_table_init();
  cfg_set_defaults();
  status_reset();
  g_local_addresses.count = 1;
  inet_make_sockaddr(g_local_addresses.entries[0].sockaddr, LOCAL_SOCKADDR_SIZE, INET_FAMILY_IPV4,
                     Bytes{10, 0, 0, 1}.data(), 0, 0);
  std::memcpy(g_local_addresses.entries[0].mac, kRequestEngine.data() + 5, 6);
  snmp_agent_init(snmp_agent_mib_handler);
  snmp_agent_register_mib();
  static const uint8_t kLoopback[4] = {127, 0, 0, 1};
  g_sender_length = inet_make_sockaddr(g_sender, sizeof g_sender, INET_FAMILY_IPV4, kLoopback, 40000, 0);
}

Bytes get_pdu() {
  return tlv(0xA0, cat({integer(42), integer(0), integer(0), seq({seq({oid(kSysDescr), tlv(0x05, {})})})}));
}

void count_answer(const uint8_t*, uint32_t length, void* context) { *static_cast<int64_t*>(context) += length > 0; }

void handle_loop(benchmark::State& state, const Bytes& request) {
  uint8_t buffer[SNMP_AGENT_DATAGRAM_MAX];
  int64_t answers = 0;
  for (auto _ : state) {
    std::memcpy(buffer, request.data(), request.size());
    snmp_agent_handle(buffer, uint32_t(request.size()), g_sender, g_sender_length, count_answer, &answers);
  }
  if (answers != int64_t(state.iterations()) || g_snmp_request.pdu_type != 0xA2) state.SkipWithError("not answered");
  state.SetItemsProcessed(answers);
}

void BM_AgentGetV1(benchmark::State& state) {
  start_agent();
  handle_loop(state, seq({integer(0), octets("fenwix"), get_pdu()}));
}
BENCHMARK(BM_AgentGetV1);

void BM_AgentGetV3AuthPriv(benchmark::State& state) {
  start_agent();
  V3Request v;
  v.pdu = get_pdu();
  handle_loop(state, build_v3_request(v));
}
BENCHMARK(BM_AgentGetV3AuthPriv);

}  // namespace

BENCHMARK_MAIN();
