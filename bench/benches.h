#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/scratch_files.h"

namespace sorel::bench {

// One alternated round of the disk bench: the program's disk test and dd, in either order.
struct DiskRound {
  double program_seconds = 0;  // between the program's two clock readings
  std::string message_figure;  // the time its result message showed
  double dd_seconds = 0;       // dd process, start to exit
  double dd_own_seconds = 0;   // what dd itself reported
  FileFacts after_test;        // the program's test file right after its disk test
  std::int64_t a4_reads = 0;
  double cold_a4_ms = 0;  // first replay of a4 after the disk test
  double warm_a4_ms = 0;  // its immediate repeat
};

std::vector<DiskRound> RunDiskBench(const ScratchFiles& files, int rounds);

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
