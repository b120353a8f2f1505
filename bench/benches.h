#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bench/scratch_files.h"

namespace sorel::bench {

// A dd run writing as much as the disk test (700 MiB from /dev/zero), flushed before it exits.
struct DdReference {
  std::string_view operands;  // after if= and of=
  std::string_view how;       // what sets its pace, for the table
};

// The disk test is held against the first: the device's own direct write, the floor.
inline constexpr std::array<DdReference, 3> kDdReferences{{
    {"bs=4M count=175 oflag=direct conv=fdatasync", "direct, one write at a time: the floor"},
    // The kernel splits each write into many requests in flight at once; the disk test keeps
    // 16 pieces in flight.
    {"bs=28M count=25 oflag=direct conv=fdatasync", "direct, a deep queue"},
    {"bs=1M count=700 conv=fdatasync", "through the page cache, then the flush"},
}};

// One round on one disk: the program's disk test and each dd, in an order that turns each round.
struct DiskRound {
  double program_seconds = 0;  // between the program's two clock readings
  std::string message_figure;  // the time its result message showed
  std::array<double, kDdReferences.size()> dd_seconds{};      // dd process, start to exit
  std::array<double, kDdReferences.size()> dd_own_seconds{};  // what dd itself reported
  FileFacts after_test;  // the program's test file right after its disk test
  std::int64_t a4_reads = 0;
  double cold_a4_ms = 0;  // first replay of a4 after the disk test
  double warm_a4_ms = 0;  // its immediate repeat
};

struct DiskUnderTest {
  std::string name;  // as the tables show it
  const ScratchFiles* files = nullptr;
  int rounds = 0;
};

// The disks' rounds interleaved in one run; the result holds each disk's rounds, in order.
std::vector<std::vector<DiskRound>> RunDiskBench(const std::vector<DiskUnderTest>& disks);

struct TraceFigures {
  int trace = 0;
  std::int64_t reads = 0;
  double program_us = 0;  // median key press to sound start, warm
  double bare_us = 0;     // median bare pread loop over the same records
};

struct ReplayResults {
  std::vector<TraceFigures> traces;
  int repetitions = 0;
  std::vector<double> a4_press_ms;  // key entering the program to the sound start, a4, warm
  FileFacts before;                 // the test file after the warm-up
};

ReplayResults RunReplayBench(const ScratchFiles& files, int repetitions, int presses);

}  // namespace sorel::bench
