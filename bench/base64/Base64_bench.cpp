// SPDX-License-Identifier: Apache-2.0
// Base64Encode, EncodeBase64Buffer and Base64Decode of libtallowin.so (the
// paths they select at run time) and every encoding and decoding path this
// processor runs, beside memcpy of the same size, in GB/s of the bytes
// (input when encoding, output when decoding).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base64/Decoder.h"
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

// `encode(input, size, output)` of random bytes into a buffer of the
// line-broken text's size, made once.
template <class Encode>
void TimeEncoding(benchmark::State& state, Encode encode) {
  auto size = static_cast<size_t>(state.range(0));
  auto input = RandomBytes(size);
  std::string output(
      static_cast<size_t>(Base64EncodeLength(static_cast<int64_t>(size))),
      '\0');
  for (auto _ : state) {
    encode(input.data(), size, output.data());
    benchmark::ClobberMemory();
  }
  ReportRate(state, size);
}

void BM_Base64Encode(benchmark::State& state) {
  TimeEncoding(state, [](const unsigned char* in, size_t n, char* out) {
    Base64Encode(in, static_cast<int32_t>(n), out);
  });
  state.SetLabel(corvane::tallowin::SelectedPath().name);
}

void BM_Base64EncodePortable(benchmark::State& state) {
  TimeEncoding(state, corvane::tallowin::PortablePath().lines);
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

// The text of `size` random bytes, line-broken or on one line.
std::string EncodedText(size_t size, bool lines) {
  auto input = RandomBytes(size);
  std::string text(
      static_cast<size_t>(Base64EncodeLength(static_cast<int64_t>(size))),
      '\0');
  if (lines) {
    Base64Encode(input.data(), static_cast<int32_t>(size), text.data());
  } else {
    char* end = corvane::tallowin::PortablePath().unbroken(input.data(), size,
                                                           text.data());
    text.resize(static_cast<size_t>(end - text.data()));
  }
  return text;
}

void BM_Base64Decode(benchmark::State& state) {
  auto size = static_cast<size_t>(state.range(0));
  std::string text = EncodedText(size, state.range(1) != 0);
  std::vector<unsigned char> output(static_cast<size_t>(
      Base64DecodeLength(static_cast<int64_t>(text.size()))));
  for (auto _ : state) {
    int32_t count = Base64Decode(text.data(), static_cast<int32_t>(text.size()),
                                 output.data(), nullptr);
    if (count != static_cast<int32_t>(size)) state.SkipWithError("decode");
    benchmark::ClobberMemory();
  }
  state.SetLabel(corvane::tallowin::SelectedDecoder().name);
  ReportRate(state, size);
}

// One encoding path, line-broken or on one line.
void EncodePath(benchmark::State& state,
                const corvane::tallowin::EncoderPath* path, bool lines) {
  if (lines) {
    TimeEncoding(state, path->lines);
  } else {
    TimeEncoding(state, path->unbroken);
  }
}

// The line-broken text of one path as Base64Encode writes a large text on
// a processor whose widest path it is (with non-temporal stores).
void EncodeStreamed(benchmark::State& state,
                    const corvane::tallowin::EncoderPath* path) {
  TimeEncoding(state, [path](const unsigned char* in, size_t n, char* out) {
    corvane::tallowin::EncodeLinesStreamed(*path, in, n, out);
  });
}

// One decoding path, on line-broken text or text on one line.
void DecodePath(benchmark::State& state,
                const corvane::tallowin::DecoderPath* path, bool lines) {
  auto size = static_cast<size_t>(state.range(0));
  std::string text = EncodedText(size, lines);
  std::vector<unsigned char> output(static_cast<size_t>(
      Base64DecodeLength(static_cast<int64_t>(text.size()))));
  for (auto _ : state) {
    auto result = path->decode(text.data(), text.size(), output.data());
    if (result.count != static_cast<int64_t>(size)) {
      state.SkipWithError("decode");
    }
    benchmark::ClobberMemory();
  }
  ReportRate(state, size);
}

constexpr int64_t kMiB = 1 << 20;

}  // namespace

BENCHMARK(BM_Memcpy)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK(BM_Base64Encode)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK(BM_Base64EncodePortable)->Arg(kMiB)->Arg(64 * kMiB);
BENCHMARK(BM_EncodeBase64Buffer)->Arg(kMiB)->Arg(64 * kMiB);
// Decoding, of line-broken text (1) and of text on one line (0).
BENCHMARK(BM_Base64Decode)->ArgsProduct({{kMiB, 64 * kMiB}, {1, 0}});

int main(int argc, char** argv) {
  using namespace corvane::tallowin;
  // Every path by name: BM_Encode{Lines,Unbroken,Streamed}/PATH and
  // BM_Decode{Lines,Unbroken}/PATH.
  for (const EncoderPath* path : {&PortablePath(), Avx2Path(), Avx512Path()}) {
    if (path == nullptr) continue;
    for (bool lines : {true, false}) {
      benchmark::RegisterBenchmark(
          (std::string(lines ? "BM_EncodeLines/" : "BM_EncodeUnbroken/") +
           path->name)
              .c_str(),
          EncodePath, path, lines)
          ->Arg(kMiB)
          ->Arg(64 * kMiB);
    }
    benchmark::RegisterBenchmark(
        (std::string("BM_EncodeStreamed/") + path->name).c_str(),
        EncodeStreamed, path)
        ->Arg(64 * kMiB);
  }
  // The AVX-512 path's streamed way (which Base64Decode takes for outputs
  // from 4 MiB) as BM_Decode{Lines,Unbroken}/avx512vbmi-streamed.
  static const DecoderPath streamed{
      "avx512vbmi-streamed",
      Avx512Decoder() != nullptr ? Avx512Decoder()->streamed : nullptr};
  for (const DecoderPath* path :
       {&PortableDecoder(), Avx2Decoder(), Avx512Decoder(),
        streamed.decode != nullptr ? &streamed : nullptr}) {
    if (path == nullptr) continue;
    for (bool lines : {true, false}) {
      benchmark::RegisterBenchmark(
          (std::string(lines ? "BM_DecodeLines/" : "BM_DecodeUnbroken/") +
           path->name)
              .c_str(),
          DecodePath, path, lines)
          ->Arg(kMiB)
          ->Arg(64 * kMiB);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
