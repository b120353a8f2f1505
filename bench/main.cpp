// Benchmarks of the disk test and the voice test against references measured in the same run.
// Prints progress to stderr and a markdown table of the results to stdout.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_platform.h"
#include "bench/benches.h"
#include "bench/stats.h"

namespace sorel::bench {
namespace {

struct Options {
  std::string prefix = "/var/tmp/sorelcheck-bench-" + std::to_string(::getpid());
  int rounds = 9;
  int repetitions = 2000;
  int presses = 1000;
  bool disk_only = false;  // --only disk: the disk bench alone (its row, its rounds)
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index];
    const char* value = argv[index + 1];
    if (name == "--prefix") {
      options.prefix = value;
    } else if (name == "--rounds") {
      options.rounds = std::atoi(value);
    } else if (name == "--repetitions") {
      options.repetitions = std::atoi(value);
    } else if (name == "--presses") {
      options.presses = std::atoi(value);
    } else if (name == "--only" && std::string(value) == "disk") {
      options.disk_only = true;
    } else {
      throw std::runtime_error("unknown option " + name);
    }
  }
  if (argc % 2 == 0) throw std::runtime_error("every option needs a value");
  if (options.rounds < 1 || options.repetitions < 1 || options.presses < 1) {
    throw std::runtime_error("counts must be positive");
  }
  return options;
}

const char* Met(bool met) { return met ? "yes" : "**no**"; }

void PrintTable(const Options& options, const std::vector<DiskRound>& rounds,
                const ReplayResults& replay) {
  std::vector<double> program, dd, cold, warm;
  std::int64_t most_cached = 0;
  std::int64_t pages = 0;
  for (const DiskRound& round : rounds) {
    program.push_back(round.program_seconds);
    dd.push_back(round.dd_seconds);
    cold.push_back(round.cold_a4_ms);
    warm.push_back(round.warm_a4_ms);
    most_cached = std::max(most_cached, round.after_test.resident_pages);
    pages = round.after_test.pages;
  }
  const double disk_ratio = Median(program) / Median(dd);
  const double cold_ratio = Median(cold) / Median(warm);

  std::printf("| Benchmark | SorelCheck | Reference, same run | Ratio | Target | Met |\n");
  std::printf("|---|---:|---:|---:|---|---|\n");
  // scripts/slow_disk.sh says so when /var/tmp is its throttled device.
  const char* throttled = std::getenv("SORELCHECK_SLOW_DISK_RATE");
  const std::string disk =
      throttled != nullptr
          ? ", disk throttled to " + std::to_string(std::atoll(throttled) >> 20) + " MiB/s"
          : "";
  std::printf(
      "| Disk test: 700 MiB test file, median of %d alternated rounds%s | %.2f s | `dd bs=1M "
      "count=700 conv=fdatasync` %.2f s | %.2f | 0.9 to 1.15 | %s |\n",
      options.rounds, disk.c_str(), Median(program), Median(dd), disk_ratio,
      Met(disk_ratio >= 0.9 && disk_ratio <= 1.15));
  for (const TraceFigures& trace : replay.traces) {
    const double ratio = trace.program_us / trace.bare_us;
    std::printf(
        "| Warm replay a%d (%lld reads), core only, key to the start call of the sound, "
        "median of %d | %.1f us | bare `pread` loop %.1f us | %.2f | at most 1.5 | %s |\n",
        trace.trace, static_cast<long long>(trace.reads), replay.repetitions, trace.program_us,
        trace.bare_us, ratio, Met(ratio <= 1.5));
  }
  // "Clearly slower": the device shows through by a wide margin, not by noise.
  std::printf(
      "| First replay of a4 after the disk test, median of %d%s | %.2f ms | its repeat %.3f ms "
      "| %.0fx | cold clearly slower | %s |\n",
      options.rounds, disk.c_str(), Median(cold), Median(warm), cold_ratio, Met(cold_ratio >= 5));
  if (!replay.a4_press_ms.empty()) {
    const double press_median = Median(replay.a4_press_ms);
    const double press_max = Maximum(replay.a4_press_ms);
    std::printf(
        "| Core only, key to the start call of the sound, a4 warm, %zu presses | median %.3f "
        "ms, max %.3f ms (99th percentile %.3f ms) | | | under 2 ms | %s |\n",
        replay.a4_press_ms.size(), press_median, press_max, Percentile(replay.a4_press_ms, 99),
        Met(press_max < 2.0));
  }
  std::printf(
      "\nDisk test rounds ranged %.2f to %.2f s, dd %.2f to %.2f s. Pages of the test file "
      "still cached right after the disk test: at most %lld of %lld. Machine: 2 cores, ext4 "
      "under /var/tmp, shared with other jobs while measured; figures are medians of runs "
      "alternated in one process. The replays run through the core on a bench back end whose "
      "event processing does nothing; the Qt window's processEvents after each read is not in "
      "these figures.\n",
      *std::min_element(program.begin(), program.end()), Maximum(program),
      *std::min_element(dd.begin(), dd.end()), Maximum(dd), static_cast<long long>(most_cached),
      static_cast<long long>(pages));
}

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  ScratchFiles files(options.prefix);
  // One test file at a time plus room to spare for whatever else the machine writes.
  constexpr std::int64_t kNeeded = 2LL * 734003200;
  if (FreeBytesNear(files.program_file()) < kNeeded) {
    std::fprintf(stderr, "not enough free space next to %s\n", files.program_file().c_str());
    return 1;
  }
  try {
    const std::vector<DiskRound> rounds = RunDiskBench(files, options.rounds);
    ReplayResults replay;
    if (!options.disk_only) {
      std::fprintf(stderr, "replaying the traces...\n");
      replay = RunReplayBench(files, options.repetitions, options.presses);
    }
    PrintTable(options, rounds, replay);
    return 0;
  } catch (const ProgramEnded& ended) {
    std::fprintf(stderr, "the program ended with status %d (its disk test failed)\n",
                 ended.exit_status);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench failed: %s\n", error.what());
  }
  return 1;
}

}  // namespace
}  // namespace sorel::bench

int main(int argc, char** argv) {
  try {
    return sorel::bench::Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench failed: %s\n", error.what());
    return 2;
  }
}
