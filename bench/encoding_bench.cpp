// Base64 of 1 MiB through EncodeStr, beside a plain table-driven encoder written here as
// the yardstick; bytes_per_second of both are reported.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "HttpProt/Encoding.h"

namespace {

const std::string& OneMiB() {
  static const std::string data = [] {
    std::mt19937 rng(1);
    std::string s(1 << 20, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
  }();
  return data;
}

std::string PlainBase64(const std::string& in) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  std::string out((n + 2) / 3 * 4, '=');
  size_t o = 0, i = 0;
  for (; i + 3 <= n; i += 3) {
    out[o++] = table[p[i] >> 2];
    out[o++] = table[((p[i] & 3) << 4) | (p[i + 1] >> 4)];
    out[o++] = table[((p[i + 1] & 15) << 2) | (p[i + 2] >> 6)];
    out[o++] = table[p[i + 2] & 63];
  }
  if (n - i == 1) {
    out[o++] = table[p[i] >> 2];
    out[o++] = table[(p[i] & 3) << 4];
  } else if (n - i == 2) {
    out[o++] = table[p[i] >> 2];
    out[o++] = table[((p[i] & 3) << 4) | (p[i + 1] >> 4)];
    out[o++] = table[(p[i + 1] & 15) << 2];
  }
  return out;
}

void BM_EncodeStrBase64(benchmark::State& state) {
  const std::string& data = OneMiB();
  for (auto _ : state) benchmark::DoNotOptimize(EncodeStr(encBase64, data));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_EncodeStrBase64);

void BM_PlainTableBase64(benchmark::State& state) {
  const std::string& data = OneMiB();
  if (PlainBase64(data) != EncodeStr(encBase64, data)) {
    state.SkipWithError("yardstick disagrees with EncodeStr");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(PlainBase64(data));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_PlainTableBase64);

void BM_EncodeStrUUEncode(benchmark::State& state) {
  const std::string& data = OneMiB();
  for (auto _ : state) benchmark::DoNotOptimize(EncodeStr(encUUEncode, data));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_EncodeStrUUEncode);

}  // namespace

BENCHMARK_MAIN();
