#include <tuple>
#include <vector>

#include "app/run_error.h"
#include "disktest/messages.h"
#include "tests/form_fixture.h"

namespace sorel::testing {
namespace {

std::string Sample(int number) {
  return "C:\\Program Files\\SorelCheck\\a" + std::to_string(number) + ".wav";
}

// After the disk test.
class VoiceTest : public FormFixture {
  void SetUp() override { StartProgram(); }
};

// Down and Up move the counter, which wraps within 0 to 4 from the 5 the disk test leaves;
// each step replays its own trace, then starts its own sample. Other keys do nothing.
TEST_F(VoiceTest, KeysWrapTheCounterAndPairEachTraceWithItsSample) {
  // Key, the counter after it, the records its replay reads.
  const std::tuple<std::int16_t, int, std::size_t> steps[] = {
      {13, 5, 0},        {kVkDown, 0, 126}, {kVkDown, 1, 233}, {kVkDown, 2, 251}, {kVkDown, 3, 303},
      {kVkDown, 4, 198}, {kVkDown, 0, 126}, {kVkUp, 4, 198},   {37, 4, 0},        {kVkUp, 3, 303},
      {kVkUp, 2, 251},   {kVkUp, 1, 233},   {kVkUp, 0, 126},   {65, 0, 0}};
  std::size_t sounds = 0;
  for (const auto& [key, counter, reads] : steps) {
    SCOPED_TRACE(::testing::Message() << key << " to " << counter);
    reads_.clear();
    const int events = platform_.events_processed();
    PressKey(key);
    EXPECT_EQ(form_.Cnt, counter);
    EXPECT_EQ(reads_.size(), reads);
    // The replay lets events through after every read.
    EXPECT_GE(platform_.events_processed() - events, static_cast<int>(reads));
    if (reads == 0) continue;
    ASSERT_EQ(platform_.sounds().size(), ++sounds);
    EXPECT_EQ(platform_.sounds().back(), Sample(counter + 1));
  }
  // The folder already ends in a backslash: none is added.
  form_.Cnt = 5;
  platform_.program_folder = "D:\\";
  PressKey(kVkUp);
  EXPECT_EQ(platform_.sounds().back(), "D:\\a5.wav");
  EXPECT_EQ(platform_.messages().size(), 3u);
  EXPECT_TRUE(platform_.window_loaded());
}

// Presses during a replay run after it, in order, each as its own step; a held key queues at
// most two, not minutes of replays.
TEST_F(VoiceTest, PressesDuringAReplayWaitForItUpToTwo) {
  platform_.QueueEvent([&] {
    for (int repeat = 0; repeat < 30; ++repeat) platform_.PressKey(kVkDown);
  });
  PressKey(kVkDown);
  EXPECT_EQ(platform_.sounds(), (std::vector<std::string>{Sample(1), Sample(2), Sample(3)}));
  EXPECT_EQ(reads_.size(), 126u + 233u + 251u);
  EXPECT_EQ(form_.Cnt, 2);
}

TEST_F(VoiceTest, EscapeDuringAReplayEndsItQuietly) {
  platform_.QueueEvent([&] { platform_.PressKey(kVkDown); });
  platform_.QueueEvent([&] { platform_.PressKey(kVkEscape); });
  PressKey(kVkDown);
  EXPECT_EQ(reads_.size(), 1u);
  EXPECT_TRUE(platform_.sounds().empty());
  EXPECT_EQ(platform_.messages().size(), 3u);
  EXPECT_FALSE(exit_status_.has_value());
  EXPECT_FALSE(TestFileExists());
}

// An error that leaves the key handler is reported under the application title; the program
// then ends without leaving its file behind. The counter keeps its value on overflow.
TEST(VoiceErrors, AreReportedAndEndTheProgramWithoutItsFile) {
  // Counter before the key; the key; whether a1 names a record that does not exist.
  const std::tuple<std::int16_t, std::int16_t, bool> cases[] = {
      {5, kVkDown, true}, {32767, kVkDown, false}, {-32768, kVkUp, false}};
  for (const auto& [counter, key, bad_trace] : cases) {
    SCOPED_TRACE(counter);
    ProgramRun run;
    run.StartProgram();
    run.form_.Cnt = counter;
    // 180078 names record 352 (entry / 512 rounded), 100 the record 0 that does not exist.
    if (bad_trace) run.form_.a1 = std::vector<std::int32_t>{259447, 180078, 100, 178872, -1};
    run.PressKey(key);
    EXPECT_EQ(run.exit_status_, 1);
    EXPECT_EQ(run.form_.Cnt, bad_trace ? 0 : counter);
    EXPECT_EQ(run.reads_, bad_trace ? std::vector<std::int32_t>{352} : std::vector<std::int32_t>{});
    EXPECT_TRUE(run.platform_.sounds().empty());
    ASSERT_EQ(run.platform_.messages().size(), 4u);
    EXPECT_EQ(run.platform_.messages()[3].prompt,
              UnhandledErrorMessage(bad_trace ? kErrBadRecordNumber : kErrOverflow));
    EXPECT_EQ(run.platform_.messages()[3].title, kApplicationTitle);
    EXPECT_EQ(run.platform_.messages()[3].style, MessageStyle::kCritical);
    EXPECT_FALSE(run.TestFileExists());
  }
}

}  // namespace
}  // namespace sorel::testing
