#include <algorithm>
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

class DiskTest : public FormFixture {};

const std::string kProgress = kProgressCaption;

// Pages of the file that are dirty or being written back; -1 where that is unknown: kernels
// before 6.5 lack cachestat (451 on every architecture), there residency alone is checked.
std::int64_t UnflushedPages([[maybe_unused]] const std::string& path) {
#ifdef _WIN32
  return -1;
#else
  std::uint64_t range[2] = {0, 0};  // offset, length: the whole file
  std::uint64_t pages[5] = {};      // cached, dirty, writeback, evicted, recently evicted
  const int fd = ::open(path.c_str(), O_RDONLY);
  const long result = ::syscall(451, fd, range, pages, 0);
  ::close(fd);
  return result == 0 ? static_cast<std::int64_t>(pages[1] + pages[2]) : -1;
#endif
}

#ifndef _WIN32
std::size_t ResidentPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  const auto size = static_cast<std::size_t>(::lseek(fd, 0, SEEK_END));
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  std::vector<unsigned char> pages((size + ::sysconf(_SC_PAGESIZE) - 1) / ::sysconf(_SC_PAGESIZE));
  ::mincore(map, size, pages.data());
  ::munmap(map, size);
  ::close(fd);
  return std::count_if(pages.begin(), pages.end(), [](unsigned char page) { return page & 1; });
}
#endif

// The one run with the real file; the clock passes midnight during the write.
TEST(FullSizeDiskTest, ShowsTheTimeAndLeavesTheWholeFileOpenAllocatedAndUncached) {
  ProgramRun run(kRecordWritten);
  std::int64_t unflushed_at_end = -1;
  run.platform_.clock = {86399.0f, 14.0f};
  run.platform_.at_clock_reading = [&] { unflushed_at_end = UnflushedPages(run.test_file_path_); };
  run.StartProgram();

  ASSERT_FALSE(run.exit_status_.has_value());
  const std::string prompts[] = {StartMessage(), ResultMessage(15.0f), InstructionMessage()};
  const std::string screens[] = {"0/off/hidden Label4", "0/off/hidden " + kProgress,
                                 "0/off/hidden " + kProgress};
  ASSERT_EQ(run.platform_.messages().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(run.platform_.messages()[i].prompt, prompts[i]);
    EXPECT_EQ(run.platform_.messages()[i].title, kTestTitle);
    EXPECT_EQ(run.platform_.messages()[i].style, MessageStyle::kInformation);
    EXPECT_EQ(run.platform_.messages()[i].screen, screens[i]) << "pointer/Label1/Label4";
  }
  EXPECT_EQ(run.platform_.Screen(), "0/on/hidden " + kProgress);
  EXPECT_EQ(run.form_.Cnt, 5);
  EXPECT_TRUE(run.form_.test_file().IsOpen());

  const std::int64_t size = 734003200;
  EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(run.test_file_path_)), size);
  // Really allocated, not a sparse file whose creation measured nothing.
#ifdef _WIN32
  EXPECT_GE(AllocatedBytes(run.test_file_path_), size);
#else
  struct stat info {};
  ASSERT_EQ(::stat(run.test_file_path_.c_str(), &info), 0);
  EXPECT_GE(static_cast<std::int64_t>(info.st_blocks) * 512, size);
  // Evicted after the timed span, so the first replay reads the disk.
  EXPECT_LT(ResidentPages(run.test_file_path_), 64u);
#endif
  EXPECT_LE(unflushed_at_end, 0) << "the timed span ended before the file was on the device";
}

// A Down pressed meanwhile moves the counter (from 5, wrapping to 0) but reads and plays nothing.
TEST_F(DiskTest, ShowsProgressDuringTheWriteRunsOnceAndDeletesAnEarlierFileFirst) {
  { std::ofstream(test_file_path_, std::ios::binary) << std::string(4096, 'x'); }
  std::string during;
  platform_.QueueEvent([&] {
    during = platform_.Screen();
    platform_.PressKey(kVkDown);
  });
  StartProgram();
  EXPECT_EQ(during, "11/off/shown " + kProgress);
  EXPECT_EQ(std::filesystem::file_size(test_file_path_), 4096u * 1024);
  EXPECT_TRUE(platform_.sounds().empty());
  form_.Form_Activate();  // e.g. after another window was active
  EXPECT_EQ(platform_.messages().size(), 3u);
  EXPECT_EQ(form_.Cnt, 0);

  std::ifstream file(test_file_path_, std::ios::binary);
  EXPECT_EQ(file.get(), 0) << "the earlier file was written over instead of deleted";
}

#ifndef _WIN32
// A full disk: the failure message over the screen as the failure left it, the program ends,
// and the half-made file does not stay. A file size limit fails the write with EFBIG halfway.
TEST_F(DiskTest, FullDiskEndsTheProgramWithoutItsFile) {
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
  EXPECT_FALSE(TestFileExists());
  ASSERT_EQ(platform_.messages().size(), 2u);
  EXPECT_EQ(platform_.messages()[1].prompt, FailureMessage());
  EXPECT_EQ(platform_.messages()[1].title, kFailureTitle);
  EXPECT_EQ(platform_.messages()[1].style, MessageStyle::kInformation);
  EXPECT_EQ(platform_.messages()[1].screen, "11/off/shown " + kProgress);
}
#endif

// Closing the window at any point stops the run there and leaves no file, without changing
// the counter or playing anything; terminate's second deletion then finds nothing, silently.
TEST(DiskTestClosed, AnywhereStopsTheRunAndLeavesNoFile) {
  const struct {
    int message;        // the box during which the window closes; -1: Escape during the progress,
    std::size_t shown;  // 3: Escape once the test is done
  } cases[] = {{0, 1}, {-1, 1}, {1, 2}, {2, 3}, {3, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    ProgramRun run;
    if (c.message < 0) {
      run.platform_.QueueEvent([&] { run.platform_.PressKey(kVkEscape); });
    } else {
      run.platform_.while_message_shown[c.message] = [&] { run.platform_.CloseWindow(); };
    }
    run.StartProgram();
    if (c.message == 3) {
      ASSERT_TRUE(run.TestFileExists());
      run.PressKey(kVkEscape);
    }
    EXPECT_FALSE(run.platform_.window_loaded());
    EXPECT_FALSE(run.TestFileExists());
    EXPECT_FALSE(run.form_.test_file().IsOpen());
    run.form_.Form_Terminate();
    EXPECT_FALSE(run.exit_status_.has_value());
    EXPECT_EQ(run.platform_.messages().size(), c.shown);
    EXPECT_EQ(run.form_.Cnt, 5);
    EXPECT_TRUE(run.platform_.sounds().empty());
  }
}

}  // namespace
}  // namespace sorel::testing
