// SPDX-License-Identifier: Apache-2.0
// Base64Encode of libtallowin.so (the path it selects at run time) and the
// portable path alone, beside memcpy of the same size, in GB/s of input.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base64/Encoder.h"
#include "base64/Tallowin.h"

namespace {

std::vector<unsigned char> RandomBytes(size_t size) {
  std::vector<unsigned char> bytes(size);
  std::mt19937_64 random(42);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

void ReportRate(benchmark::State& state, size_t size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["GB/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * size) / 1e9,
                         benchmark::Counter::kIsRate);
}

void BM_Memcpy(benchmark::State& state) {
  auto size = static_cast<size_t>(state.range(0));
  auto input = RandomBytes(size);
  std::vector<unsigned char> output(size, 1);
  for (auto _ : state) {
    std::memcpy(output.data(), input.data(), size);
    benchmark::ClobberMemory();
  }
  ReportRate(state, size);
}

void BM_Base64Encode(benchmark::State& state) {
  auto size = static_cast<size_t>(state.range(0));
  auto input = RandomBytes(size);
  std::string output(
      static_cast<size_t>(Base64EncodeLength(static_cast<int64_t>(size))),
      '\0');
  for (auto _ : state) {
    Base64Encode(input.data(), static_cast<int32_t>(size), output.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(corvane::tallowin::SelectedPath().name);
  ReportRate(state, size);
}

void BM_Base64EncodePortable(benchmark::State& state) {
  auto size = static_cast<size_t>(state.range(0));
  auto input = RandomBytes(size);
  std::string output(
      static_cast<size_t>(Base64EncodeLength(static_cast<int64_t>(size))),
      '\0');
  for (auto _ : state) {
    corvane::tallowin::PortablePath().lines(input.data(), size, output.data());
    benchmark::ClobberMemory();
  }
  ReportRate(state, size);
}

void BM_EncodeBase64Buffer(benchmark::State& state) {
  auto size = static_cast<size_t>(state.range(0));
  auto input = RandomBytes(size);
  for (auto _ : state) {
    char* text = EncodeBase64Buffer(input.data(), static_cast<int32_t>(size));
    benchmark::DoNotOptimize(text);
    ReleaseBase64Buffer(text);
  }
  ReportRate(state, size);
}

constexpr int64_t kMiB = 1 << 20;

}  // namespace

BENCHMARK(BM_Memcpy)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK(BM_Base64Encode)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK(BM_Base64EncodePortable)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK(BM_EncodeBase64Buffer)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK_MAIN();
