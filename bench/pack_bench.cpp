// Decoding speed of pack blocks against zlib's inflate, on the same text
// and binary corpora, in one run; and the compression ratio of our writer
// next to zlib's level 6.
//
//   ./run build          (or: cmake --preset native-release &&
//                         cmake --build build/native-release --target pack_bench)
//   bench/make_corpus.sh build/native-release/bench-corpus
//   build/native-release/bench/pack_bench [--benchmark_...] [CORPUS_DIR]
//
// ./run test runs it once on a small corpus (tests/bench_smoke.cmake), to
// see that it still builds and runs, not to time anything.
// The corpus folder defaults to bench-corpus in the build folder. After the
// usual table, a summary gives per corpus the two decoding speeds (decoded
// bytes per second: the median of the repetitions when there are some,
// else the best single run) and their ratio. The exit code is 1 when a
// corpus cannot be loaded or a decoder fails on it.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pack.h"
#include "pack_writer.h"

namespace {

using bytes = std::vector<std::uint8_t>;

struct corpus {
  std::string name;
  bytes original;
  bytes pack_block;
  bytes zlib_stream;
};

std::vector<corpus>& corpora() {
  static std::vector<corpus> all;
  return all;
}

bool load(const std::string& folder, const std::string& name) {
  corpus c;
  c.name = name;
  if (!pack_read_file(folder + "/" + name + ".bin", c.original) || c.original.empty()) {
    std::fprintf(stderr, "pack_bench: cannot read %s/%s.bin (run bench/make_corpus.sh %s)\n",
                 folder.c_str(), name.c_str(), folder.c_str());
    return false;
  }
  c.pack_block = pack_compress(c.original.data(), c.original.size());
  uLongf zlib_size = compressBound(static_cast<uLong>(c.original.size()));
  c.zlib_stream.resize(zlib_size);
  if (compress2(c.zlib_stream.data(), &zlib_size, c.original.data(),
                static_cast<uLong>(c.original.size()), 6) != Z_OK) {
    return false;
  }
  c.zlib_stream.resize(zlib_size);
  // Both must give the original back before they are timed.
  bytes out(c.original.size());
  if (pack_decode(c.pack_block.data(), c.pack_block.size(), out.data(), out.size()) !=
          pack_status::ok ||
      out != c.original) {
    std::fprintf(stderr, "pack_bench: %s does not round-trip through the pack writer\n",
                 name.c_str());
    return false;
  }
  corpora().push_back(std::move(c));
  return true;
}

void set_counters(benchmark::State& state, const corpus& c, std::size_t compressed) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(c.original.size()));
  state.counters["ratio"] =
      static_cast<double>(c.original.size()) / static_cast<double>(compressed);
}

void decode_pack(benchmark::State& state, const corpus* c) {
  bytes out(c->original.size());
  for (auto _ : state) {
    const pack_status s =
        pack_decode(c->pack_block.data(), c->pack_block.size(), out.data(), out.size());
    if (s != pack_status::ok) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, *c, c->pack_block.size());
}

void inflate_zlib(benchmark::State& state, const corpus* c) {
  bytes out(c->original.size());
  for (auto _ : state) {
    uLongf size = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &size, c->zlib_stream.data(),
                   static_cast<uLong>(c->zlib_stream.size())) != Z_OK ||
        size != out.size()) {
      state.SkipWithError("inflate failed");
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, *c, c->zlib_stream.size());
}

// The console table, then a summary of speeds and their ratio per corpus.
class summary_reporter : public benchmark::ConsoleReporter {
 public:
  // A decoder failed on its corpus: the run is no measurement.
  bool failed() const { return failed_; }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) failed_ = true;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) continue;
      const auto rate = run.counters.find("bytes_per_second");
      const auto ratio = run.counters.find("ratio");
      if (rate == run.counters.end() || ratio == run.counters.end()) continue;
      result& r = results_[run.run_name.function_name];
      if (median) {
        r.median = rate->second.value;
      } else {
        r.best = std::max(r.best, rate->second.value);
      }
      r.ratio = ratio->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-8s %14s %14s %10s %12s %12s\n", "corpus", "pack MB/s", "inflate MB/s",
                "pack/zlib", "pack ratio", "zlib6 ratio");
    for (const corpus& c : corpora()) {
      const result& p = results_["pack_decode/" + c.name];
      const result& z = results_["zlib_inflate/" + c.name];
      if (p.speed() <= 0 || z.speed() <= 0) continue;
      std::printf("%-8s %14.1f %14.1f %10.2f %12.3f %12.3f\n", c.name.c_str(), p.speed() / 1e6,
                  z.speed() / 1e6, p.speed() / z.speed(), p.ratio, z.ratio);
    }
  }

 private:
  struct result {
    double best = 0;    // of the single runs
    double median = 0;  // of the repetitions, when there are some
    double ratio = 0;
    double speed() const { return median > 0 ? median : best; }
  };
  std::map<std::string, result> results_;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string folder = argc > 1 ? argv[1] : DEFAULT_CORPUS_DIR;
  for (const char* name : {"text", "binary"}) {
    if (!load(folder, name)) return 1;
  }
  for (const corpus& c : corpora()) {
    benchmark::RegisterBenchmark(("pack_decode/" + c.name).c_str(), decode_pack, &c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("zlib_inflate/" + c.name).c_str(), inflate_zlib, &c)
        ->Unit(benchmark::kMillisecond);
  }
  summary_reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
