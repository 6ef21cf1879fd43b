// SPDX-License-Identifier: Apache-2.0
// Throughput of Cargane's `upload` on the three benchmark bodies that
// make_bodies.py writes (directory in CARGANE_BENCH_BODIES): the body is
// handed over through MemoryHost and the files go to a scratch directory
// under /tmp (CARGANE_BENCH_SCRATCH). A warm-up request runs first, as
// busboy_bench.js does.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

#include "frame/MemoryHost.h"
#include "upload/upload.h"

namespace {

constexpr int kDefaultMaxFast = 64 * sizeof(size_t) / 4;

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// One request: a fresh page and component, and a fresh directory for the
// files. ext4 slows the creation of files right after many deletions, so
// nothing is deleted here (compare.py removes the directories when both
// benchmarks are done); the files of a finished run are truncated instead,
// which hands their page-cache pages back.
struct Request {
  std::shared_ptr<corvane::MemoryContext> page;
  std::shared_ptr<corvane::cargane::upload> component;

  Request(const std::string& body, const std::string& type,
          const std::filesystem::path& directory) {
    page = corvane::MemoryContext::New({body, "", {{"CONTENT_TYPE", type}}});
    component = std::make_shared<corvane::cargane::upload>();
    component->UpLoadPath(directory.string());
    component->FileExtensionList({});
    component->OnStartPage(page);
  }
};

void Upload(benchmark::State& state, const char* name) {
  const char* bodies = std::getenv("CARGANE_BENCH_BODIES");
  const char* scratch = std::getenv("CARGANE_BENCH_SCRATCH");
  if (bodies == nullptr || scratch == nullptr) {
    state.SkipWithError("CARGANE_BENCH_BODIES or _SCRATCH is not set");
    return;
  }
  std::filesystem::path folder(bodies);
  const std::string body = ReadWhole(folder / (std::string(name) + ".body"));
  const std::string type = ReadWhole(folder / (std::string(name) + ".type"));
  auto target =
      std::filesystem::path(scratch) / ("cargane-" + std::string(name));
  std::filesystem::create_directories(target);
  int run = 0;
  auto next_directory = [&] { return target / std::to_string(++run); };
  auto truncate_last_run = [&] {
    for (const auto& file :
         std::filesystem::directory_iterator(target / std::to_string(run))) {
      std::filesystem::resize_file(file.path(), 0);
    }
  };
  benchmark::DoNotOptimize(
      Request(body, type, next_directory()).component->Upload());  // warm-up
  truncate_last_run();
  for (auto _ : state) {
    state.PauseTiming();
    auto request = std::make_unique<Request>(body, type, next_directory());
    state.ResumeTiming();
    int16_t code = request->component->Upload();
    state.PauseTiming();
    if (code != 1) state.SkipWithError("upload did not return 1");
    request.reset();
    truncate_last_run();
    // malloc merges freed small blocks lazily, at the next large free; a
    // call of mallopt does it now, so the next request does not pay for the
    // destruction of this one.
    mallopt(M_MXFAST, kDefaultMaxFast);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(body.size()));
}

// Runs per body, the same as busboy_bench.js: few for the small files,
// whose deletion afterwards slows later file creation on ext4.
BENCHMARK_CAPTURE(Upload, one_file, "one_file")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(6);
BENCHMARK_CAPTURE(Upload, text_fields, "text_fields")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);
BENCHMARK_CAPTURE(Upload, small_files, "small_files")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace

// Freed memory stays with the process for the next request, as in a
// long-running host (and as Node keeps its buffers for busboy): on a virtual
// machine the first touch of fresh pages would otherwise dominate.
int main(int argc, char** argv) {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
