// What the signature check of a downloaded program costs: the streamed
// Ed25519ph check of a file (file_signature_check) against the download of
// the same file from the local update server on loopback (download_to_file,
// real HTTP), in one run.
//
//   ./run build          (or: cmake --build build/native-release --target sign_bench)
//   build/native-release/bench/sign_bench [--benchmark_...] [MIB]
//
// MIB is the file's size in MiB (default 100). After the usual table, a
// summary gives the two times (the median of the repetitions when there are
// some, else the best single run) and the check's share of the download
// time. Loopback is the fastest network there is: over a real one the share
// is smaller still. The exit code is 1 when a download or a check fails.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "download.h"
#include "file_signature.h"
#include "update_server_harness.h"

namespace {

using namespace server_test;

struct setup {
  fs::path file;
  std::string url;
  signature_public_key key;
  file_signature signature;
};

void check(benchmark::State& state, const setup* s) {
  for (auto _ : state) {
    if (!file_signature_check(s->file.string(), s->key, s->signature)) {
      state.SkipWithError("the check failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(fs::file_size(s->file)));
}

void download(benchmark::State& state, const setup* s) {
  const std::string target = (s->file.parent_path() / "downloaded.exe").string();
  const auto bound = static_cast<std::int64_t>(fs::file_size(s->file)) + 1;
  for (auto _ : state) {
    if (!download_to_file(s->url, target, bound)) {
      state.SkipWithError("the download failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (bound - 1));
}

class summary_reporter : public benchmark::ConsoleReporter {
 public:
  bool failed() const { return failed_; }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) failed_ = true;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
      const double seconds = run.GetAdjustedRealTime() / 1e3;  // the unit is ms
      result& r = results_[run.run_name.function_name];
      if (median) {
        r.median = seconds;
      } else {
        r.best = r.best > 0 ? std::min(r.best, seconds) : seconds;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double c = results_["signature_check"].time();
    const double d = results_["loopback_download"].time();
    if (c <= 0 || d <= 0) return;
    std::printf("\n%14s %14s %14s\n", "check s", "download s", "check/download");
    std::printf("%14.3f %14.3f %14.3f\n", c, d, c / d);
  }

 private:
  struct result {
    double best = 0;
    double median = 0;
    double time() const { return median > 0 ? median : best; }
  };
  std::map<std::string, result> results_;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const long mib = argc > 1 ? std::atol(argv[1]) : 100;
  if (mib <= 0) {
    std::fprintf(stderr, "sign_bench: the size is a positive number of MiB\n");
    return 1;
  }
  temp_folder folder("sign-bench");
  setup s;
  s.file = folder.path() / "offered.exe";
  {
    // Random bytes: nothing on the way can shortcut them.
    std::mt19937_64 random(42);
    std::string chunk(1 << 20, '\0');
    std::ofstream out(s.file, std::ios::binary);
    for (long i = 0; i < mib; ++i) {
      for (char& c : chunk) c = static_cast<char>(random());
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
  }
  signature_secret_key secret;
  const std::string text =
      read_file(fs::path(SOURCE_DIR) / "tests/fixtures/signing/test_key.secret").substr(0, 128);
  if (!hex_decode(text, secret.data(), secret.size()) ||
      !file_signature_make(s.file.string(), secret, s.signature)) {
    std::fprintf(stderr, "sign_bench: cannot sign the file\n");
    return 1;
  }
  std::copy(secret.begin() + 32, secret.end(), s.key.begin());
  update_server server(scenario({{"/files/offered.exe", file_route(s.file)}}));
  if (!server.running()) {
    std::fprintf(stderr, "sign_bench: the update server did not start\n");
    return 1;
  }
  s.url = server.url("/files/offered.exe");
  download_service_start();

  // Wall time: the download waits on the server, which the client's CPU time misses.
  benchmark::RegisterBenchmark("signature_check", check, &s)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("loopback_download", download, &s)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  summary_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
