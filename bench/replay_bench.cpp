#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <stdexcept>

#include "app/form1.h"
#include "app/form_runner.h"
#include "bench/bench_platform.h"
#include "bench/benches.h"
#include "bench/stats.h"
#include "disktest/test_file.h"
#include "voicetest/read_traces.h"
#include "voicetest/record_number.h"

namespace sorel::bench {
namespace {

constexpr int kTraces = 5;

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "a" + std::to_string(n).
std::string TraceName(int trace) {
  std::string name = "a";
  name += std::to_string(trace);
  return name;
}

double MicrosecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// The records a replay of the trace reads, worked out from the data alone, not from the program.
std::vector<std::int32_t> RecordsOf(int trace) {
  const auto entries = RecordedTrace(trace);
  std::vector<std::int32_t> records;
  for (std::size_t position = 1; position < entries.size() && entries[position] >= 0; ++position) {
    records.push_back(RecordNumberOf(entries[position]));
  }
  return records;
}

// The reference: nothing but the reads, on a descriptor of our own to the same file.
double BareReplay(int fd, const std::vector<std::int64_t>& offsets) {
  std::array<std::uint8_t, kRecordBufferSize> buffer{};
  const auto start = Clock::now();
  for (std::int64_t offset : offsets) {
    if (::pread(fd, buffer.data(), buffer.size(), offset) < 0) {
      throw std::runtime_error("bare pread failed");
    }
  }
  return MicrosecondsBetween(start, Clock::now());
}

// Key press (Down, with Cnt set so it lands on the trace) to the sound start.
double ProgramReplay(Form1& form, BenchPlatform& platform, int trace) {
  form.Cnt = static_cast<std::int16_t>(trace - 2);
  const std::int64_t sounds = platform.sounds_started();
  platform.PressKey(kVkDown);
  if (platform.sounds_started() != sounds + 1 ||
      !platform.last_sound().ends_with(TraceName(trace) + ".wav")) {
    throw std::runtime_error("replay of " + TraceName(trace) + " started no sample");
  }
  return MicrosecondsBetween(platform.key_entered(), platform.sound_started());
}

class Descriptor {
 public:
  explicit Descriptor(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
  }
  ~Descriptor() { ::close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

ReplayResults RunReplayBench(const ScratchFiles& files, int repetitions, int presses) {
  const std::string& path = files.program_file();
  BenchPlatform platform;
  Form1 form(platform, path);
  FormRunner runner(form, platform);
  const std::vector<int> open_before = OpenDescriptors();
  runner.Start();
  platform.RunEventLoop();
  if (!form.test_file().IsOpen()) throw std::runtime_error("the disk test left no open file");

  const std::string test_file = FileOpenedSince(open_before);
  const Descriptor own(test_file);
  std::array<std::vector<std::int64_t>, kTraces + 1> offsets;
  for (int trace = 1; trace <= kTraces; ++trace) {
    const std::vector<std::int32_t> expected = RecordsOf(trace);
    // The program must read exactly these records, or the comparison would be unfair.
    std::vector<std::int32_t> read;
    form.test_file().SetReadObserver([&](std::int32_t record) { read.push_back(record); });
    ProgramReplay(form, platform, trace);
    form.test_file().SetReadObserver({});
    if (read != expected) {
      throw std::runtime_error(TraceName(trace) + ": the program read " +
                               std::to_string(read.size()) + " records, the trace gives " +
                               std::to_string(expected.size()));
    }
    for (std::int32_t record : expected) offsets[trace].push_back((record - 1) * kRecordLength);
  }
  for (int warm_up = 0; warm_up < 3; ++warm_up) {
    for (int trace = 1; trace <= kTraces; ++trace) {
      ProgramReplay(form, platform, trace);
      BareReplay(own.get(), offsets[trace]);
    }
  }

  ReplayResults results;
  results.before = FactsOf(test_file);
  std::fprintf(stderr, "replay bench: %lld of %lld pages of the test file cached after warm-up\n",
               static_cast<long long>(results.before.resident_pages),
               static_cast<long long>(results.before.pages));
  results.repetitions = repetitions;
  std::array<std::vector<double>, kTraces + 1> program_us, bare_us;
  for (int repetition = 0; repetition < repetitions; ++repetition) {
    for (int trace = 1; trace <= kTraces; ++trace) {
      // Alternated order: neither side always runs right after the other's cache misses.
      if (repetition % 2 == 0) {
        program_us[trace].push_back(ProgramReplay(form, platform, trace));
        bare_us[trace].push_back(BareReplay(own.get(), offsets[trace]));
      } else {
        bare_us[trace].push_back(BareReplay(own.get(), offsets[trace]));
        program_us[trace].push_back(ProgramReplay(form, platform, trace));
      }
    }
  }
  for (int trace = 1; trace <= kTraces; ++trace) {
    results.traces.push_back({trace, static_cast<std::int64_t>(offsets[trace].size()),
                              Median(program_us[trace]), Median(bare_us[trace])});
  }

  // Presses as a user makes them: Up onto a3, Down onto a4, again and again.
  form.Cnt = 3;
  for (int press = 0; press < presses; ++press) {
    platform.PressKey(kVkUp);
    const std::int64_t sounds = platform.sounds_started();
    platform.PressKey(kVkDown);
    if (platform.sounds_started() != sounds + 1 || !platform.last_sound().ends_with("a4.wav")) {
      throw std::runtime_error("a Down press onto a4 did not start a4.wav");
    }
    results.a4_press_ms.push_back(
        MicrosecondsBetween(platform.key_entered(), platform.sound_started()) / 1e3);
  }

  platform.CloseWindow();
  if (FactsOf(path).exists || FactsOf(test_file).exists) {
    throw std::runtime_error("the program left its test file behind");
  }
  return results;
}

}  // namespace sorel::bench
