#include <csignal>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include "platform/testing/win32_file_probe.h"
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "disktest/messages.h"
#include "tests/form_fixture.h"

namespace sorel::testing {
namespace {

constexpr std::int64_t kTestFileSize = 734003200;

class DiskTest : public FormFixture {};

class FullSizeDiskTest : public FormFixture {
 protected:
  FullSizeDiskTest() : FormFixture(kRecordWritten) {}
};

#ifndef _WIN32
std::size_t ResidentPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  struct stat info {};
  ::fstat(fd, &info);
  void* map = ::mmap(nullptr, info.st_size, PROT_READ, MAP_SHARED, fd, 0);
  const long page = ::sysconf(_SC_PAGESIZE);
  std::vector<unsigned char> residency((info.st_size + page - 1) / page);
  ::mincore(map, info.st_size, residency.data());
  ::munmap(map, info.st_size);
  ::close(fd);
  std::size_t resident = 0;
  for (unsigned char flag : residency) resident += flag & 1;
  return resident;
}
#endif

TEST_F(FullSizeDiskTest, FullRunShowsTheMessagesAndLeavesTheFileOpenAndUncached) {
  platform_.SetClock({100.0f, 115.338f});
  StartProgram();

  ASSERT_FALSE(exit_status_.has_value());
  const auto& messages = platform_.messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].prompt, StartMessage());
  EXPECT_EQ(messages[0].prompt,
            "音声テストファイルを作成します。\rテストファイルの作成が早いパソコンほど、"
            "ハードディスクの性能が高いパソコンです。\r標準の作成時間は、15秒程度です。");
  EXPECT_EQ(messages[1].prompt,
            "音声テストファイルを作成しました。\rファイル作成に15.34秒かかりました。");
  EXPECT_EQ(messages[2].prompt, InstructionMessage());
  for (const auto& message : messages) {
    EXPECT_EQ(message.title, "動作確認");
    EXPECT_EQ(static_cast<int>(message.style), 64);
  }
  // Pointer / welcome label / progress label while each box was up.
  EXPECT_EQ(platform_.screen_at_messages(),
            (std::vector<std::string>{"0/off/hidden", "0/off/hidden", "0/off/hidden"}));
  EXPECT_TRUE(platform_.label(LabelId::kLabel1).enabled);
  EXPECT_EQ(platform_.label(LabelId::kLabel4).caption, "ファイル作成中です...");
  EXPECT_FALSE(platform_.label(LabelId::kLabel4).visible);
  EXPECT_EQ(platform_.pointer(), MousePointer::kDefault);
  EXPECT_EQ(form_.Cnt, 5);
  EXPECT_TRUE(form_.test_file().IsOpen());
  EXPECT_GE(platform_.events_processed(), 1);

  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(test_file_path_)), kTestFileSize);
#ifdef _WIN32
  // Really allocated, not a sparse file whose creation measured nothing.
  EXPECT_GE(AllocatedBytes(test_file_path_), kTestFileSize);
#else
  struct stat info {};
  ASSERT_EQ(::stat(test_file_path_.c_str(), &info), 0);
  // Really allocated, not a sparse file whose creation measured nothing.
  EXPECT_GE(static_cast<std::int64_t>(info.st_blocks) * 512, kTestFileSize);
  // Evicted after the timed span, so the first replay is served by the device.
  EXPECT_LT(ResidentPages(test_file_path_), 64u);
#endif
}

TEST_F(DiskTest, RunsOnceAndDeletesAnEarlierFileFirst) {
  {
    std::ofstream earlier(test_file_path_, std::ios::binary);
    earlier << std::string(4096, 'x');
  }
  StartProgram();
  const std::size_t shown = platform_.messages().size();
  form_.Cnt = 2;
  form_.Form_Activate();  // e.g. after another window was active
  EXPECT_EQ(platform_.messages().size(), shown);
  EXPECT_EQ(form_.Cnt, 2);

  std::ifstream file(test_file_path_, std::ios::binary);
  char first = 'x';
  file.read(&first, 1);
  EXPECT_EQ(first, '\0') << "the earlier file was written over instead of deleted";
}

TEST_F(DiskTest, ProgressIsShownWhileTheFileIsCreated) {
  std::string during;
  platform_.QueueEvent([&] {
    during = std::to_string(static_cast<int>(platform_.pointer())) + "/" +
             platform_.label(LabelId::kLabel4).caption + "/" +
             (platform_.label(LabelId::kLabel4).visible ? "shown" : "hidden") + "/" +
             (platform_.label(LabelId::kLabel1).enabled ? "on" : "off");
  });
  StartProgram();
  EXPECT_EQ(during, "11/ファイル作成中です.../shown/off");
}

TEST_F(DiskTest, MidnightDuringTheTestGivesThePositiveTime) {
  platform_.SetClock({86399.0f, 14.0f});
  StartProgram();
  ASSERT_GE(platform_.messages().size(), 2u);
  EXPECT_EQ(platform_.messages()[1].prompt,
            "音声テストファイルを作成しました。\rファイル作成に15秒かかりました。");
}

// Failure paths: the failure message, no result, the program ends, no 700 MiB file stays.
TEST_F(DiskTest, FileThatCannotBeCreatedEndsTheProgramWithTheFailureMessage) {
  std::filesystem::create_directories(test_file_path_ + "/occupied");
  StartProgram();

  ASSERT_EQ(exit_status_, 1);
  const auto& messages = platform_.messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].title, "エラーが発生しました");
  EXPECT_EQ(messages[1].prompt,
            "音声テストファイルの作成に失敗しました。\rプログラムを終了します。");
  EXPECT_EQ(static_cast<int>(messages[1].style), 64);
  // The screen stays as the failure left it.
  EXPECT_EQ(platform_.screen_at_messages()[1], "11/off/shown");
  EXPECT_TRUE(std::filesystem::is_directory(test_file_path_));
}

#ifndef _WIN32
TEST_F(DiskTest, FullDiskRemovesThePartialFile) {
  // A file size limit fails the write with EFBIG halfway, as a full disk would.
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_FSIZE, &small);
  StartProgram();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_EQ(exit_status_, 1);
  ASSERT_EQ(platform_.messages().size(), 2u);
  EXPECT_EQ(platform_.messages()[1].title, "エラーが発生しました");
  EXPECT_FALSE(TestFileExists());
}
#endif

// Closing the window before the file is made stops the test: nothing is created.
TEST_F(DiskTest, EscapeWhileTheProgressIsDrawnStopsBeforeTheFileIsMade) {
  platform_.QueueEvent([&] { platform_.PressKey(kVkEscape); });
  StartProgram();
  EXPECT_FALSE(exit_status_.has_value());
  EXPECT_FALSE(platform_.window_loaded());
  EXPECT_EQ(platform_.messages().size(), 1u);
  EXPECT_FALSE(TestFileExists());
  EXPECT_FALSE(form_.test_file().IsOpen());
}

TEST_F(DiskTest, WindowClosedDuringAMessageStopsTheTest) {
  platform_.WhileMessageShown(0, [&] { platform_.CloseWindow(); });
  StartProgram();
  EXPECT_EQ(platform_.messages().size(), 1u);
  EXPECT_FALSE(TestFileExists());
}

// Exit clean-up: unload and terminate each close and delete, errors ignored.
TEST_F(DiskTest, EscapeAndTerminateRemoveTheFile) {
  StartProgram();
  ASSERT_TRUE(TestFileExists());
  PressKey(kVkEscape);
  EXPECT_FALSE(platform_.window_loaded());
  EXPECT_FALSE(form_.test_file().IsOpen());
  EXPECT_FALSE(TestFileExists());
  EXPECT_EQ(form_.Cnt, 5);
  EXPECT_TRUE(platform_.sounds().empty());
  form_.Form_Terminate();  // second deletion finds nothing and stays silent
  EXPECT_FALSE(exit_status_.has_value());
  EXPECT_EQ(platform_.messages().size(), 3u);
}

TEST_F(DiskTest, CloseWithTheFileAlreadyDeletedByHandIsQuiet) {
  StartProgram();
  std::filesystem::remove(test_file_path_);
  platform_.CloseWindow();
  form_.Form_Terminate();
  EXPECT_EQ(platform_.messages().size(), 3u);
  EXPECT_FALSE(exit_status_.has_value());
}

}  // namespace
}  // namespace sorel::testing
