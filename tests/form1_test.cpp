#include "app/form1.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "app/form_runner.h"
#include "disktest/messages.h"
#include "disktest/test_file.h"
#include "platform/seam/run_error.h"
#include "platform/testing/scripted_platform.h"
#include "tests/temp_folder.h"
#include "voicetest/read_traces.h"
#include "voicetest/record_number.h"

#ifdef _WIN32
#include "tests/win32_file_probe.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The window object's behaviour, against the scripted back end.
namespace sorel::testing {
namespace {

namespace fs = std::filesystem;

// One program run against the scripted back end, with its test file in a temp folder and every
// record that a replay reads logged. A 4 MiB file by default: what the program does with it
// does not depend on its size, and the suite stays light on the disk.
class ProgramRun {
 public:
  explicit ProgramRun(std::int32_t record_written = 4096, const std::string& folder = "")
      : test_file_path_(folder_.File(folder.empty() ? "temp.txt" : folder + "/temp.txt")),
        form_(platform_, test_file_path_, record_written) {
    form_.test_file().SetReadObserver([this](std::int32_t record) { reads_.push_back(record); });
  }

  // Load, show and the first activation, whose handler (the disk test) runs from the event loop
  // and not inside the activation; or a key. Notes the exit status if the program ended itself.
  void StartProgram() {
    Run([this] {
      runner_.Start();
      EXPECT_TRUE(platform_.messages().empty()) << "the disk test ran inside the activation";
      platform_.RunEventLoop();
    });
  }
  void PressKey(std::int16_t key) {
    Run([&] { platform_.PressKey(key); });
  }
  std::string TestFile() const { return OpenFileAt(test_file_path_); }
  bool NothingLeft() {
    return !form_.test_file().IsOpen() && TestFile().empty() && !fs::exists(test_file_path_);
  }

  TempFolder folder_;
  std::string test_file_path_;
  ScriptedPlatform platform_;
  Form1 form_;
  FormRunner runner_{form_, platform_};
  std::optional<int> exit_status_;
  std::vector<std::int32_t> reads_;

 private:
  template <typename Action>
  void Run(Action action) {
    try {
      action();
    } catch (const ProgramEnded& ended) {
      exit_status_ = ended.exit_status;
    }
  }
};

using Message = ScriptedPlatform::Message;
const std::string kProgress = kProgressCaption;
constexpr auto kInfo = MessageStyle::kInformation;

// The reads a replay of trace `number` makes: its entries from position 1 up to the -1.
std::size_t ReadsOf(int number) {
  const auto trace = RecordedTrace(number);
  return static_cast<std::size_t>(std::find(trace.begin() + 1, trace.end(), -1) - trace.begin()) -
         1;
}

#ifndef _WIN32
// The file's pages in the page cache, and of those the dirty or written-back ones; none where
// that is unknown (kernels before 6.5 lack cachestat, 451 on every architecture).
std::optional<std::pair<std::uint64_t, std::uint64_t>> CachedAndUnflushed(const std::string& path) {
  std::uint64_t range[2] = {0, 0};  // offset, length: the whole file
  std::uint64_t pages[5] = {};      // cached, dirty, writeback, evicted, recently evicted
  const int fd = ::open(path.c_str(), O_RDONLY);
  const long result = ::syscall(451, fd, range, pages, 0);
  ::close(fd);
  if (result != 0) return std::nullopt;
  return std::pair{pages[0], pages[1] + pages[2]};
}
#endif

// The one run with the real file, made beside an earlier run's leftover (which goes) while the
// clock passes midnight. A Down pressed just before the write moves the counter (from 5,
// wrapping to 0) but reads and plays nothing; during the write the window is served and keys,
// Escape included, are not acted on; the test runs once, however often the window is activated.
TEST(DiskTest, ShowsProgressAndTheTimeAndLeavesTheWholeFileOpenAllocatedAndUncached) {
  ProgramRun run(kRecordWritten);
  const std::string& leftover = run.test_file_path_;
  std::ofstream(leftover).close();
  fs::resize_file(leftover, 734003200);  // zeros, as every run leaves
  const auto yesterday = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(leftover, yesterday);
  std::string during;
  run.platform_.QueueEvent([&] {
    during = run.platform_.Screen();
    run.platform_.PressKey(kVkDown);
  });
  run.platform_.clock = {86399.0f, 14.0f};
  [[maybe_unused]] std::optional<std::pair<std::uint64_t, std::uint64_t>> at_end;  // Linux's
  bool timing = false;
  run.platform_.at_clock_reading = [&] {
    if (!std::exchange(timing, true)) {  // as the timed span starts
      run.platform_.QueueEvent([&] {
        run.platform_.PressKey(kVkDown);
        run.platform_.PressKey(kVkEscape);
      });
      return;
    }
#ifndef _WIN32
    at_end = CachedAndUnflushed(run.TestFile());
#endif
  };
  run.StartProgram();
  run.form_.Form_Activate();

  EXPECT_EQ(run.platform_.messages(),
            (std::vector<Message>{
                {StartMessage(), kInfo, kTestTitle, "0/off/hidden Label4"},
                {ResultMessage(15.0f), kInfo, kTestTitle, "0/off/hidden " + kProgress},
                {InstructionMessage(), kInfo, kTestTitle, "0/off/hidden " + kProgress}}))
      << "pointer/Label1/Label4";
  EXPECT_EQ(during, "11/off/shown " + kProgress);
  EXPECT_EQ(run.platform_.Screen(), "0/on/hidden " + kProgress);
  EXPECT_EQ(run.form_.Cnt, 0);
  EXPECT_GE(run.platform_.window_served(), 1);
  EXPECT_TRUE(run.platform_.sounds().empty());
  EXPECT_TRUE(run.form_.test_file().IsOpen());
  // On Windows the new file takes its name.
  EXPECT_TRUE(!fs::exists(leftover) || fs::last_write_time(leftover) > yesterday)
      << "the earlier run's file is still there";

  const std::string file = run.TestFile();
  ASSERT_FALSE(file.empty());
  const std::int64_t size = 734003200;
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(file)), size);
  // Really allocated, not a sparse file whose creation measured nothing.
#ifdef _WIN32
  EXPECT_GE(AllocatedBytes(file), size);
#else
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_GE(static_cast<std::int64_t>(status.st_blocks) * 512, size);
  const auto now = CachedAndUnflushed(file);
  if (!now) GTEST_SKIP() << "no cachestat on this kernel: the flush and eviction are unchecked";
  EXPECT_EQ(at_end->second, 0u) << "the timed span ended before the file was on the device";
  EXPECT_LT(now->first, 64u) << "cached still: the first replay would not read the disk";
#endif
}

// Where the disk test fails: the failure message over the screen as the failure left it, and
// the program ends with nothing left on the disk. Closing the window under the message ends it
// at once, as the user asked, with nothing else shown.
TEST(DiskTest, AFailureShowsItsMessageAndEndsWithoutTheFile) {
  enum class Failure { kNoFolder, kDiskFull };
  for (const auto& [failure, closed] : {std::pair{Failure::kNoFolder, false},
                                        {Failure::kNoFolder, true},
                                        {Failure::kDiskFull, false}}) {
    SCOPED_TRACE(static_cast<int>(failure) * 2 + closed);
#ifdef _WIN32
    if (failure == Failure::kDiskFull) continue;  // no file size limit to fail the write with
#endif
    ProgramRun run(failure == Failure::kDiskFull ? 4096 : 64,
                   failure == Failure::kNoFolder ? "missing" : "");
    if (closed) run.platform_.while_message_shown[1] = [&] { run.platform_.CloseWindow(); };
#ifndef _WIN32
    // A file size limit fails the write with EFBIG halfway, as a full disk would.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{failure == Failure::kDiskFull ? 1 << 20 : saved.rlim_cur, saved.rlim_max};
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    run.StartProgram();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
#else
    run.StartProgram();
#endif
    EXPECT_EQ(run.exit_status_, closed ? 0 : 1);
    EXPECT_TRUE(run.NothingLeft());
    ASSERT_EQ(run.platform_.messages().size(), 2u);
    EXPECT_EQ(run.platform_.messages()[1],
              (Message{FailureMessage(), kInfo, kFailureTitle, "11/off/shown " + kProgress}));
  }
}

// Closing the window at any point stops the run there: nothing more shows or plays, the
// counter keeps its value (but for the Down whose replay the Escape cuts short; a press
// waiting for that replay is dropped) and no file is left. Once unloaded, no event reaches the
// form however the back end still reports one, and of several close requests only the first
// unloads; terminate's second deletion finds nothing.
TEST(DiskTest, ClosingAnywhereStopsTheRunAndNothingFollowsTheUnload) {
  enum class ClosedAt {
    kStartBox,
    kBeforeWrite,
    kWrite,
    kTypeAheadDrop,
    kResultBox,
    kInstructionBox,
    kReplay
  };
  const std::pair<ClosedAt, std::size_t> cases[] = {
      // and the boxes shown by then
      {ClosedAt::kStartBox, 1},      {ClosedAt::kBeforeWrite, 1}, {ClosedAt::kWrite, 1},
      {ClosedAt::kTypeAheadDrop, 1}, {ClosedAt::kResultBox, 2},   {ClosedAt::kInstructionBox, 3},
      {ClosedAt::kReplay, 3}};
  for (const auto& [closed_at, shown] : cases) {
    SCOPED_TRACE(static_cast<int>(closed_at));
    ProgramRun run;
    ScriptedPlatform& platform = run.platform_;
    const auto close = [&] { platform.CloseWindow(); };
    switch (closed_at) {
      case ClosedAt::kStartBox:
      case ClosedAt::kResultBox:
      case ClosedAt::kInstructionBox:
        platform.while_message_shown[shown - 1] = close;
        break;
      case ClosedAt::kBeforeWrite:  // Escape, while the progress label is being drawn
        platform.QueueEvent([&] { platform.PressKey(kVkEscape); });
        break;
      case ClosedAt::kWrite:
      case ClosedAt::kTypeAheadDrop:  // once the write is over, before the result
        platform.at_clock_reading = [&, at_end = closed_at == ClosedAt::kTypeAheadDrop] {
          if (at_end == (platform.window_served() > 0)) platform.QueueEvent(close);
        };
        break;
      case ClosedAt::kReplay:
        break;
    }
    run.StartProgram();
    if (closed_at == ClosedAt::kReplay) {
      ASSERT_TRUE(run.form_.test_file().IsOpen());
      platform.QueueEvent([&] { platform.PressKey(kVkDown); });
      platform.QueueEvent([&] { platform.PressKey(kVkEscape); });
      run.PressKey(kVkDown);
    }
    EXPECT_FALSE(platform.window_open());
    EXPECT_TRUE(run.NothingLeft());
    run.runner_.CloseRequested();
    run.runner_.KeyDown(kVkDown, 0);
    run.runner_.Activated();
    platform.RunEventLoop();
    run.runner_.Finish();
    EXPECT_EQ(platform.windows_ended(), 1);
    if (closed_at == ClosedAt::kWrite) {
      EXPECT_EQ(platform.window_served(), 1) << "the write went on";
    }
    EXPECT_FALSE(run.exit_status_.has_value());
    EXPECT_EQ(platform.messages().size(), shown);
    EXPECT_EQ(run.form_.Cnt, closed_at == ClosedAt::kReplay ? 0 : 5);
    EXPECT_EQ(run.reads_.size(), closed_at == ClosedAt::kReplay ? 1u : 0u);
    EXPECT_TRUE(platform.sounds().empty());
  }
}

std::string Sample(int number) {
  return "C:\\Program Files\\SorelCheck\\a" + std::to_string(number) + ".wav";
}

// After the disk test.
class VoiceTest : public ::testing::Test, public ProgramRun {
  void SetUp() override { StartProgram(); }
};

// Down and Up move the counter, which wraps within 0 to 4 from the 5 the disk test leaves;
// each step replays its own trace, then starts its own sample. Other keys do nothing.
TEST_F(VoiceTest, KeysWrapTheCounterAndPairEachTraceWithItsSample) {
  // Key and the counter after it.
  const std::pair<std::int16_t, int> steps[] = {
      {13, 5},      {kVkDown, 0}, {kVkDown, 1}, {kVkDown, 2}, {kVkDown, 3},
      {kVkDown, 4}, {kVkDown, 0}, {kVkUp, 4},   {37, 4},      {kVkUp, 3},
      {kVkUp, 2},   {kVkUp, 1},   {kVkUp, 0},   {65, 0}};
  std::size_t sounds = 0;
  for (const auto& [key, counter] : steps) {
    SCOPED_TRACE(::testing::Message() << key << " to " << counter);
    const bool plays = key == kVkDown || key == kVkUp;
    reads_.clear();
    const int events = platform_.events_processed();
    PressKey(key);
    EXPECT_EQ(form_.Cnt, counter);
    EXPECT_EQ(reads_.size(), plays ? ReadsOf(counter + 1) : 0u);
    // The replay lets events through after every read.
    EXPECT_GE(platform_.events_processed() - events, static_cast<int>(reads_.size()));
    if (!plays) continue;
    ASSERT_EQ(platform_.sounds().size(), ++sounds);
    EXPECT_EQ(platform_.sounds().back(), Sample(counter + 1));
  }
  // The folder already ends in a backslash: none is added.
  form_.Cnt = 5;
  platform_.program_folder = "D:\\";
  PressKey(kVkUp);
  EXPECT_EQ(platform_.sounds().back(), "D:\\a5.wav");
  EXPECT_EQ(platform_.messages().size(), 3u);
}

// Presses during a replay run after it, in order, each as its own step; a held key queues at
// most two, not minutes of replays.
TEST_F(VoiceTest, PressesDuringAReplayWaitForItUpToTwo) {
  platform_.QueueEvent([&] {
    for (int repeat = 0; repeat < 30; ++repeat) platform_.PressKey(kVkDown);
  });
  PressKey(kVkDown);
  EXPECT_EQ(platform_.sounds(), (std::vector<std::string>{Sample(1), Sample(2), Sample(3)}));
  EXPECT_EQ(reads_.size(), ReadsOf(1) + ReadsOf(2) + ReadsOf(3));
  EXPECT_EQ(form_.Cnt, 2);
}

// An error that leaves the key handler is reported under the application title; the file is
// gone before the report shows, and the program then ends, at once (and as asked, with status
// 0) when the window is closed under the report. The counter keeps its value on overflow.
TEST(VoiceErrors, AreReportedAndEndTheProgramWithoutItsFile) {
  // Counter before the key; the key; whether a1 names a record that does not exist; closed.
  const std::tuple<std::int16_t, std::int16_t, bool, bool> cases[] = {
      {5, kVkDown, true, false}, {32767, kVkDown, false, false}, {-32768, kVkUp, false, true}};
  for (const auto& [counter, key, bad_trace, closed] : cases) {
    SCOPED_TRACE(counter);
    ProgramRun run;
    run.StartProgram();
    run.form_.Cnt = counter;
    // 180078 names record 352 (entry / 512 rounded), 100 the record 0 that does not exist.
    if (bad_trace) run.form_.a1 = std::vector<std::int32_t>{259447, 180078, 100, 178872, -1};
    bool nothing_left_during_report = false;
    run.platform_.while_message_shown[3] = [&] {
      nothing_left_during_report = run.NothingLeft();
      if (closed) run.platform_.CloseWindow();
    };
    run.PressKey(key);
    EXPECT_TRUE(nothing_left_during_report);
    EXPECT_EQ(run.exit_status_, closed ? 0 : 1);
    EXPECT_EQ(run.form_.Cnt, bad_trace ? 0 : counter);
    EXPECT_EQ(run.reads_, bad_trace ? std::vector<std::int32_t>{352} : std::vector<std::int32_t>{});
    EXPECT_TRUE(run.platform_.sounds().empty());
    ASSERT_EQ(run.platform_.messages().size(), 4u);
    EXPECT_EQ(run.platform_.messages().back(),
              (Message{UnhandledErrorMessage(bad_trace ? kErrBadRecordNumber : kErrOverflow),
                       MessageStyle::kCritical, kApplicationTitle, "0/on/hidden " + kProgress}));
  }
}

TEST(RecordNumber, RoundsHalfToEven) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {256, 0}, {257, 1}, {768, 2}, {1280, 2}, {178872, 349}, {363005596, 708995}};
  for (const auto& [entry, record] : cases) EXPECT_EQ(RecordNumberOf(entry), record) << entry;
}

}  // namespace
}  // namespace sorel::testing
