// MD5 throughput and USM password-to-key time, ours against OpenSSL's EVP MD5 in the same
// run. After the runs the ratios ours/OpenSSL are printed (throughput, and speed of the key
// function, where 1.0 means as fast as OpenSSL).
#include "common/digest.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kBufferBytes = 65536;
constexpr size_t kUpdateBytes = 32768;  // our update takes at most 65535 bytes per call

std::vector<uint8_t> make_buffer() {
    std::vector<uint8_t> b(kBufferBytes);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 131 + 7);
    return b;
}

void BM_Md5Ours(benchmark::State& state) {
    const auto buf = make_buffer();
    uint8_t digest[16];
    for (auto _ : state) {
        Md5Context ctx;
        md5_init(&ctx);
        for (size_t off = 0; off < buf.size(); off += kUpdateBytes)
            md5_update(&ctx, buf.data() + off, uint16_t(kUpdateBytes));
        md5_final(&ctx, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBufferBytes));
}
BENCHMARK(BM_Md5Ours);

void BM_Md5OpenSSL(benchmark::State& state) {
    const auto buf = make_buffer();
    uint8_t digest[16];
    unsigned int n = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        for (size_t off = 0; off < buf.size(); off += kUpdateBytes)
            EVP_DigestUpdate(ctx, buf.data() + off, kUpdateBytes);
        EVP_DigestFinal_ex(ctx, digest, &n);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBufferBytes));
}
BENCHMARK(BM_Md5OpenSSL);

const uint8_t kPass[] = "maplesyrup";
const uint8_t kEngine[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

void BM_PasswordToKeyOurs(benchmark::State& state) {
    uint8_t key[16];
    Md5Context ctx;
    for (auto _ : state) {
        usm_password_to_key_md5(&ctx, key, kPass, 10, kEngine, sizeof kEngine);
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_PasswordToKeyOurs)->Unit(benchmark::kMillisecond);

// The same 1 MiB of repeated pass phrase in 64-byte updates, then the localisation.
void BM_PasswordToKeyOpenSSL(benchmark::State& state) {
    uint8_t key[16], ku[16];
    unsigned int n = 0;
    const size_t pass_len = 10;
    uint8_t ring[10 + 64];
    for (size_t j = 0; j < sizeof ring; ++j) ring[j] = kPass[j % pass_len];
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        size_t off = 0;
        for (size_t done = 0; done < 1048576; done += 64) {
            EVP_DigestUpdate(ctx, ring + off, 64);
            off = (off + 64) % pass_len;
        }
        EVP_DigestFinal_ex(ctx, ku, &n);
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        EVP_DigestUpdate(ctx, ku, 16);
        EVP_DigestUpdate(ctx, kEngine, sizeof kEngine);
        EVP_DigestUpdate(ctx, ku, 16);
        EVP_DigestFinal_ex(ctx, key, &n);
        benchmark::DoNotOptimize(key);
    }
    EVP_MD_CTX_free(ctx);
}
BENCHMARK(BM_PasswordToKeyOpenSSL)->Unit(benchmark::kMillisecond);

// Console output as usual, and the figures of each benchmark kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            Figures& f = figures_[run.benchmark_name()];
            f.time = run.GetAdjustedRealTime();
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) f.rate = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Summary() const {
        const auto ours = figures_.find("BM_Md5Ours");
        const auto theirs = figures_.find("BM_Md5OpenSSL");
        if (ours != figures_.end() && theirs != figures_.end() && theirs->second.rate > 0)
            std::printf("MD5 throughput: ours %.1f MB/s, OpenSSL %.1f MB/s, ratio ours/OpenSSL %.3f\n",
                        ours->second.rate / 1e6, theirs->second.rate / 1e6,
                        ours->second.rate / theirs->second.rate);
        const auto k_ours = figures_.find("BM_PasswordToKeyOurs");
        const auto k_theirs = figures_.find("BM_PasswordToKeyOpenSSL");
        if (k_ours != figures_.end() && k_theirs != figures_.end() && k_ours->second.time > 0)
            std::printf("Password to key: ours %.3f ms, OpenSSL %.3f ms, speed ratio ours/OpenSSL %.3f\n",
                        k_ours->second.time, k_theirs->second.time,
                        k_theirs->second.time / k_ours->second.time);
    }

private:
    struct Figures {
        double time = 0;  // adjusted real time per iteration, in the benchmark's unit
        double rate = 0;  // bytes per second, when the benchmark reports bytes
    };
    std::map<std::string, Figures> figures_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.Summary();
    benchmark::Shutdown();
    return 0;
}
