#include <vector>

#include "disktest/messages.h"
#include "tests/form_fixture.h"
#include "voicetest/record_number.h"

namespace sorel::testing {
namespace {

// After the disk test, with every record read by a replay logged.
class VoiceTest : public FormFixture {
 protected:
  void SetUp() override {
    StartProgram();
    ASSERT_TRUE(form_.test_file().IsOpen());
    form_.test_file().SetReadObserver([this](std::int32_t record) { reads_.push_back(record); });
  }

  std::string Sample(int number) const {
    return "C:\\Program Files\\SorelCheck\\a" + std::to_string(number) + ".wav";
  }

  std::vector<std::int32_t> reads_;
};

TEST_F(VoiceTest, FirstDownReplaysTheFirstTraceThenStartsItsSample) {
  PressKey(kVkDown);
  EXPECT_EQ(form_.Cnt, 0);
  ASSERT_EQ(reads_.size(), 126u);
  EXPECT_EQ(std::vector<std::int32_t>(reads_.begin(), reads_.begin() + 3),
            (std::vector<std::int32_t>{349, 349, 352}));
  EXPECT_EQ(platform_.sounds(), std::vector<std::string>{Sample(1)});
  // The replay lets events through after every read.
  EXPECT_GE(platform_.events_processed(), 126);
}

TEST_F(VoiceTest, FirstUpReplaysTheLastTrace) {
  PressKey(kVkUp);
  EXPECT_EQ(form_.Cnt, 4);
  EXPECT_EQ(reads_.size(), 198u);
  EXPECT_EQ(platform_.sounds(), std::vector<std::string>{Sample(5)});
}

TEST_F(VoiceTest, CounterWrapsAndPairsTracesWithSamples) {
  const std::size_t reads_per_trace[] = {126, 233, 251, 303, 198};
  // Down from the state the disk test leaves: a1..a5, then a1 again.
  for (int press = 0; press < 6; ++press) {
    reads_.clear();
    PressKey(kVkDown);
    const int expected = press % 5;
    EXPECT_EQ(form_.Cnt, expected);
    EXPECT_EQ(reads_.size(), reads_per_trace[expected]);
    EXPECT_EQ(platform_.sounds().back(), Sample(expected + 1));
  }
  // Up from 0: 4 (from -1), 3, 2, 1, 0.
  for (int expected : {4, 3, 2, 1, 0}) {
    PressKey(kVkUp);
    EXPECT_EQ(form_.Cnt, expected);
    EXPECT_EQ(platform_.sounds().back(), Sample(expected + 1));
  }
  EXPECT_EQ(platform_.messages().size(), 3u);
}

TEST_F(VoiceTest, OtherKeysDoNothing) {
  for (std::int16_t key : {13, 32, 37, 39, 65, 0}) PressKey(key);
  EXPECT_EQ(form_.Cnt, 5);
  EXPECT_TRUE(reads_.empty());
  EXPECT_TRUE(platform_.sounds().empty());
  EXPECT_TRUE(platform_.window_loaded());
}

TEST_F(VoiceTest, SampleFolderGetsExactlyOneBackslash) {
  platform_.SetProgramFolder("D:\\");
  PressKey(kVkDown);
  platform_.SetProgramFolder("D:\\Check");
  PressKey(kVkDown);
  EXPECT_EQ(platform_.sounds(), (std::vector<std::string>{"D:\\a1.wav", "D:\\Check\\a2.wav"}));
}

// Presses during a replay wait for it, in order, with a bounded backlog.
TEST_F(VoiceTest, PressDuringAReplayRunsAfterItAsItsOwnStep) {
  platform_.QueueEvent([&] { platform_.PressKey(kVkDown); });
  PressKey(kVkDown);
  EXPECT_EQ(reads_.size(), 126u + 233u);
  EXPECT_EQ(platform_.sounds(), (std::vector<std::string>{Sample(1), Sample(2)}));
  EXPECT_EQ(form_.Cnt, 1);
}

TEST_F(VoiceTest, HeldKeyQueuesOnlyABoundedBacklog) {
  platform_.QueueEvent([&] {
    for (int repeat = 0; repeat < 30; ++repeat) platform_.PressKey(kVkUp);
  });
  PressKey(kVkUp);
  EXPECT_EQ(platform_.sounds().size(), 1 + kMaxPendingPresses);
  EXPECT_EQ(form_.Cnt, 4 - static_cast<int>(kMaxPendingPresses));
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

// An error that leaves the key handler: reported under the application title, then the
// program ends without leaving its file behind.
TEST_F(VoiceTest, ReadErrorIsReportedAndTheFileRemoved) {
  form_.a1 = std::vector<std::int32_t>{259447, 178872, 100, 180078, -1};  // 100: record 0
  PressKey(kVkDown);
  EXPECT_EQ(exit_status_, 1);
  EXPECT_EQ(reads_, std::vector<std::int32_t>{349});
  EXPECT_TRUE(platform_.sounds().empty());
  ASSERT_EQ(platform_.messages().size(), 4u);
  EXPECT_EQ(platform_.messages()[3].title, "Project1");
  EXPECT_EQ(platform_.messages()[3].prompt, UnhandledErrorMessage(63));
  EXPECT_FALSE(TestFileExists());
}

TEST_F(VoiceTest, CounterOverflowIsAnErrorThatKeepsTheCounter) {
  form_.Cnt = 32767;
  PressKey(kVkDown);
  EXPECT_EQ(exit_status_, 1);
  EXPECT_EQ(form_.Cnt, 32767);
  EXPECT_EQ(platform_.messages().back().prompt, "実行時エラー '6':\r\rオーバーフローしました。");
  EXPECT_TRUE(reads_.empty());
  EXPECT_FALSE(TestFileExists());
}

TEST_F(VoiceTest, UnderflowAtTheOtherEnd) {
  form_.Cnt = -32768;
  PressKey(kVkUp);
  EXPECT_EQ(exit_status_, 1);
  EXPECT_EQ(form_.Cnt, -32768);
}

class VoiceBeforeTheFile : public FormFixture {};

TEST_F(VoiceBeforeTheFile, KeysDuringTheDiskTestReadAndPlayNothing) {
  platform_.QueueEvent([&] { platform_.PressKey(kVkDown); });
  StartProgram();
  EXPECT_TRUE(platform_.sounds().empty());
  EXPECT_FALSE(exit_status_.has_value());
  EXPECT_EQ(platform_.messages().size(), 3u);
  EXPECT_EQ(form_.Cnt, 0);  // the press moved the counter from 5, wrapping to 0
  EXPECT_TRUE(form_.test_file().IsOpen());
}

TEST(AddYen, EndsInExactlyOneBackslash) {
  ScriptedPlatform platform;
  Form1 form(platform, "unused");
  const struct {
    std::string path, result;
  } cases[] = {{"", "\\"}, {"D:\\", "D:\\"}, {"D:\\Check", "D:\\Check\\"}, {"a/", "a/\\"}};
  for (const auto& c : cases) {
    std::string path = c.path;
    EXPECT_EQ(form.AddYen(path), c.result);
    EXPECT_EQ(path, c.result) << "the argument is extended in place";
  }
}

TEST(RecordNumber, RoundsHalfToEven) {
  const struct {
    std::int32_t entry, record;
  } cases[] = {{256, 0},    {257, 1},       {768, 2},       {1280, 2},          {1281, 3},
               {511, 1},    {512, 1},       {178872, 349},  {180078, 352},      {5784832, 11298},
               {12571, 25}, {677128, 1323}, {677141, 1323}, {363005596, 708995}};
  for (const auto& c : cases) EXPECT_EQ(RecordNumberOf(c.entry), c.record) << c.entry;
}

}  // namespace
}  // namespace sorel::testing
