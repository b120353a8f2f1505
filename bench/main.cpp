// Benchmarks of the disk test and the voice test against references measured in the same run.
// Prints progress to stderr and markdown tables of the results to stdout.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

#include "bench/bench_platform.h"
#include "bench/benches.h"
#include "bench/stats.h"

namespace sorel::bench {
namespace {

struct Options {
  std::string prefix = "/var/tmp/sorelcheck-bench-" + std::to_string(::getpid());
  std::string throttled_prefix;  // a second disk, the throttled one, its rounds interleaved
  int rounds = 9;
  int throttled_rounds = 5;
  int repetitions = 2000;
  int presses = 1000;
  bool disk_only = false;  // --only disk: the disk bench alone (its rows, its rounds)
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index];
    const char* value = argv[index + 1];
    if (name == "--prefix") {
      options.prefix = value;
    } else if (name == "--throttled-prefix") {
      options.throttled_prefix = value;
    } else if (name == "--rounds") {
      options.rounds = std::atoi(value);
    } else if (name == "--throttled-rounds") {
      options.throttled_rounds = std::atoi(value);
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
  if (options.rounds < 1 || options.throttled_rounds < 1 || options.repetitions < 1 ||
      options.presses < 1) {
    throw std::runtime_error("counts must be positive");
  }
  return options;
}

// scripts/slow_disk.sh says so when /var/tmp is its throttled device; the rows must not call
// that disk the fast one.
std::string ThrottledDiskName(const Options& options) {
  const char* rate = std::getenv("SORELCHECK_SLOW_DISK_RATE");
  if ((rate != nullptr) != !options.throttled_prefix.empty()) {
    throw std::runtime_error(
        "--throttled-prefix goes with scripts/slow_disk.sh, and under it the fast disk is "
        "--prefix (bench/run.sh --slow-disk does both)");
  }
  return rate == nullptr ? "" : "throttled to " + std::to_string(std::atoll(rate) >> 20) + " MiB/s";
}

// The folder the disk's files go to, as a user knows it: bench/run.sh reaches the real /var/tmp
// from inside the throttled disk's mount namespace through /proc/PID/root.
std::string FolderName(const std::string& prefix) {
  std::string folder = prefix.substr(0, prefix.find_last_of('/'));
  if (folder.starts_with("/proc/")) {
    const std::size_t root = folder.find("/root/");
    if (root != std::string::npos) folder.erase(0, root + 5);
  }
  return folder.empty() ? "/" : folder;
}

const char* Met(bool met) { return met ? "yes" : "**no**"; }

// The program's own cost may add at most 15 % to the device's direct write; a figure far below
// it would mean the flush is not in it.
constexpr double kMostOverFloor = 1.15;
constexpr double kLeastOverFloor = 0.75;

std::vector<double> ProgramSeconds(const std::vector<DiskRound>& rounds) {
  std::vector<double> seconds;
  for (const DiskRound& round : rounds) seconds.push_back(round.program_seconds);
  return seconds;
}

std::vector<double> DdSeconds(const std::vector<DiskRound>& rounds, std::size_t reference) {
  std::vector<double> seconds;
  for (const DiskRound& round : rounds) seconds.push_back(round.dd_seconds[reference]);
  return seconds;
}

std::string Command(const DdReference& reference) {
  return "`dd " + std::string(reference.operands) + "`";
}

void PrintDiskRow(const DiskUnderTest& disk, const std::vector<DiskRound>& rounds) {
  const double program = Median(ProgramSeconds(rounds));
  const double floor = Median(DdSeconds(rounds, 0));
  const double ratio = program / floor;
  std::printf(
      "| Disk test: 700 MiB test file, %s, median of %d alternated rounds | %.3f s | %s (%.*s) "
      "%.3f s | %.2f | %.2f to %.2f | %s |\n",
      disk.name.c_str(), disk.rounds, program, Command(kDdReferences[0]).c_str(),
      static_cast<int>(kDdReferences[0].how.size()), kDdReferences[0].how.data(), floor, ratio,
      kLeastOverFloor, kMostOverFloor, Met(ratio >= kLeastOverFloor && ratio <= kMostOverFloor));
}

void PrintColdRow(const DiskUnderTest& disk, const std::vector<DiskRound>& rounds) {
  std::vector<double> cold, warm;
  for (const DiskRound& round : rounds) {
    cold.push_back(round.cold_a4_ms);
    warm.push_back(round.warm_a4_ms);
  }
  const double ratio = Median(cold) / Median(warm);
  // "Clearly slower": the device shows through by a wide margin, not by noise.
  std::printf(
      "| First replay of a4 after the disk test, %s, median of %d | %.2f ms | its repeat %.3f ms "
      "| %.0fx | cold clearly slower | %s |\n",
      disk.name.c_str(), disk.rounds, Median(cold), Median(warm), ratio, Met(ratio >= 5));
}

void PrintReplayRows(const ReplayResults& replay) {
  for (const TraceFigures& trace : replay.traces) {
    const double ratio = trace.program_us / trace.bare_us;
    std::printf(
        "| Warm replay a%d (%lld reads), core only, key to the start call of the sound, "
        "median of %d | %.1f us | bare `pread` loop %.1f us | %.2f | at most 1.5 | %s |\n",
        trace.trace, static_cast<long long>(trace.reads), replay.repetitions, trace.program_us,
        trace.bare_us, ratio, Met(ratio <= 1.5));
  }
}

void PrintPressRow(const ReplayResults& replay) {
  if (replay.a4_press_ms.empty()) return;
  const double press_max = Maximum(replay.a4_press_ms);
  std::printf(
      "| Core only, key to the start call of the sound, a4 warm, %zu presses | median %.3f "
      "ms, max %.3f ms (99th percentile %.3f ms) | | | under 2 ms | %s |\n",
      replay.a4_press_ms.size(), Median(replay.a4_press_ms), press_max,
      Percentile(replay.a4_press_ms, 99), Met(press_max < 2.0));
}

void PrintWriterRow(const DiskUnderTest& disk, const std::string& writer,
                    const std::vector<double>& seconds, double floor) {
  std::printf("| %s, %d rounds | %s | %.3f s (%.3f to %.3f) | %.2f |\n", disk.name.c_str(),
              disk.rounds, writer.c_str(), Median(seconds),
              *std::min_element(seconds.begin(), seconds.end()), Maximum(seconds),
              Median(seconds) / floor);
}

void PrintWriterTable(const std::vector<DiskUnderTest>& disks,
                      const std::vector<std::vector<DiskRound>>& results) {
  std::printf("\n| Disk | 700 MiB written and flushed by | Median (range) | Over the floor |\n");
  std::printf("|---|---|---:|---:|\n");
  for (std::size_t disk = 0; disk < disks.size(); ++disk) {
    const double floor = Median(DdSeconds(results[disk], 0));
    PrintWriterRow(disks[disk], "SorelCheck's disk test", ProgramSeconds(results[disk]), floor);
    for (std::size_t reference = 0; reference < kDdReferences.size(); ++reference) {
      const DdReference& dd = kDdReferences[reference];
      PrintWriterRow(disks[disk], Command(dd) + ", " + std::string(dd.how),
                     DdSeconds(results[disk], reference), floor);
    }
  }
}

// How much of the program's lead over the one-write-at-a-time floor a deep queue alone gives.
void PrintQueueDepthNote(const DiskUnderTest& disk, const std::vector<DiskRound>& rounds) {
  const double floor = Median(DdSeconds(rounds, 0));
  const double lead = floor - Median(ProgramSeconds(rounds));
  const double deep_queue_lead = floor - Median(DdSeconds(rounds, 1));
  std::printf("%s: the floor minus the disk test %.3f s, minus the deep-queue dd %.3f s",
              disk.name.c_str(), lead, deep_queue_lead);
  if (lead > 0) {
    std::printf(" (queue depth alone: %.0f %% of the disk test's lead)",
                100 * deep_queue_lead / lead);
  }
  std::int64_t most_cached = 0;
  std::int64_t pages = 0;
  for (const DiskRound& round : rounds) {
    most_cached = std::max(most_cached, round.after_test.resident_pages);
    pages = round.after_test.pages;
  }
  std::printf(
      ". Pages of the test file still cached right after the disk test: at most %lld of "
      "%lld.\n",
      static_cast<long long>(most_cached), static_cast<long long>(pages));
}

void PrintTables(const std::vector<DiskUnderTest>& disks,
                 const std::vector<std::vector<DiskRound>>& results, const ReplayResults& replay) {
  std::printf("| Benchmark | SorelCheck | Reference, same run | Ratio | Target | Met |\n");
  std::printf("|---|---:|---:|---:|---|---|\n");
  for (std::size_t disk = 0; disk < disks.size(); ++disk) PrintDiskRow(disks[disk], results[disk]);
  PrintReplayRows(replay);
  for (std::size_t disk = 0; disk < disks.size(); ++disk) PrintColdRow(disks[disk], results[disk]);
  PrintPressRow(replay);
  PrintWriterTable(disks, results);
  std::printf("\n");
  for (std::size_t disk = 0; disk < disks.size(); ++disk) {
    PrintQueueDepthNote(disks[disk], results[disk]);
  }
  std::printf(
      "Machine: 2 cores, ext4, shared with other jobs while measured; figures are medians of "
      "rounds in one process, the writers' order turning each round and the disks' rounds "
      "interleaved. The replays run through the core on a bench back end whose event processing "
      "does nothing; the Qt window's processEvents after each read is not in these figures.\n");
}

// One test file at a time plus room to spare for whatever else the disk holds.
bool RoomFor(const ScratchFiles& files) {
  constexpr std::int64_t kNeeded = 2LL * 734003200;
  if (FreeBytesNear(files.program_file()) >= kNeeded) return true;
  std::fprintf(stderr, "not enough free space next to %s\n", files.program_file().c_str());
  return false;
}

int Run(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const std::string throttled = ThrottledDiskName(options);
  ScratchFiles files(options.prefix);
  std::vector<DiskUnderTest> disks = {{FolderName(options.prefix), &files, options.rounds}};
  std::optional<ScratchFiles> throttled_files;
  if (!throttled.empty()) {
    throttled_files.emplace(options.throttled_prefix);
    disks.push_back({throttled, &*throttled_files, options.throttled_rounds});
  }
  for (const DiskUnderTest& disk : disks) {
    if (!RoomFor(*disk.files)) return 1;
  }
  try {
    const std::vector<std::vector<DiskRound>> results = RunDiskBench(disks);
    ReplayResults replay;
    if (!options.disk_only) {
      std::fprintf(stderr, "replaying the traces...\n");
      replay = RunReplayBench(files, options.repetitions, options.presses);
    }
    PrintTables(disks, results, replay);
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
