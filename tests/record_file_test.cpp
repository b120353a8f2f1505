#include "platform/seam/record_file.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/seam/run_error.h"
#include "tests/temp_folder.h"

#ifdef _WIN32
#include "tests/win32_file_probe.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <functional>
#include <utility>

// Runs once just before the file layer's next lock attempt: lets a test put another run's
// lock in the way, between the creation of a file and its locking.
std::function<void(int fd)> before_next_lock;
// While set, unnamed files are refused as by a file system that has none.
bool refuse_unnamed_files = false;

// These take the place of the C library's for this test program.
extern "C" int flock(int fd, int operation) noexcept {
  if (before_next_lock) std::exchange(before_next_lock, {})(fd);
  return static_cast<int>(::syscall(SYS_flock, fd, operation));
}
extern "C" int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  if (refuse_unnamed_files && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}
#endif

namespace sorel::testing {
namespace {

namespace fs = std::filesystem;

// The size a run leaves; the POSIX layer tells a leftover by its owner and lock instead.
constexpr std::int64_t kLeftover = 734'003'200;

TEST(RecordFile, WritesPadRecordsAndKeepEverythingElse) {
  TempFolder folder;
  const std::string path = folder.File("records.bin");
  RecordFile file(path, 1024);
  file.Open();
  std::array<std::uint8_t, 512> data, back{};
  data.fill(0xAB);
  file.WriteRecordExtending(2, data);
  file.WriteRecordExtending(5, data);  // extends past record 2, which must survive
  file.ReadRecord(2, back);
  EXPECT_EQ(back, data);
  data.fill(0);
  file.WriteRecordExtending(3, data);  // inside the file: only record 3 changes
#ifdef _WIN32
  file.Close();  // while it is open, a reader needs delete sharing
#endif
  const std::string written(512, '\xAB'), zeros(1024, '\0');
  EXPECT_EQ(ReadAll(OpenFileAt(path)),
            zeros + written + zeros + zeros.substr(512) + zeros + written + zeros.substr(512));
}

#ifndef _WIN32
// The test file lives in a folder that all users share, so it has no name there: whatever
// stands at the path (another user's file, another run's) stays as it was, and two files of
// the same path never meet.
TEST(RecordFile, AnUnnamedFileRunsBesideWhateverIsAtThePath) {
  TempFolder folder;
  const std::string path = folder.File("test.txt");
  { std::ofstream(path) << "theirs"; }
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  }
  RecordFile first(path, 1024), second(path, 1024);
  first.Open();
  second.Open();
  const std::array<std::uint8_t, 1> data{0x5A};
  std::array<std::uint8_t, 1> back{};
  first.WriteRecordExtending(3, data);
  second.ReadRecord(3, back);
  EXPECT_EQ(back[0], 0) << "two runs share one file";
  second.CloseAndDelete();
  first.CloseAndDelete();
  EXPECT_EQ(ReadAll(path), "theirs");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.File("")), {}), 1) << "a name was left";
}

// Where the file system has no unnamed files, the file is named at the path, where it may meet
// traps: nothing there that is not the user's own plain file is opened or deleted, and root may
// write and delete anything, so another user's plain file must stay all the same.
class NamedRecordFile : public ::testing::Test {
  void SetUp() override { refuse_unnamed_files = true; }
  void TearDown() override { refuse_unnamed_files = false; }
};

TEST_F(NamedRecordFile, NeitherOpensNorDeletesWhatIsNotItsOwnPlainFile) {
  TempFolder folder;
  const std::string target = folder.File("someone's.txt"), link = folder.File("link"),
                    second = folder.File("second-name"), fifo = folder.File("fifo"),
                    dir = folder.File("dir"), theirs = folder.File("theirs");
  { std::ofstream(target) << "keep"; }
  { std::ofstream(theirs) << "theirs"; }
  fs::create_symlink(target, link);
  fs::create_hard_link(target, second);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir);
  std::vector<std::string> paths = {second, fifo, dir, link};
  if (::geteuid() == 0 && ::chown(theirs.c_str(), 65534, 65534) == 0) paths.push_back(theirs);
  for (const std::string& path : paths) {
    RecordFile file(path, 1024);
    EXPECT_THROW(file.Open(), RunError) << path;
    file.DeleteLeftover(kLeftover);  // a FIFO must not block it; a link of ours goes
    EXPECT_EQ(fs::exists(fs::symlink_status(path)), path != link) << path;
  }
  EXPECT_EQ(ReadAll(target), "keep");  // never what a link points to
  EXPECT_EQ(ReadAll(theirs), "theirs");
  EXPECT_EQ(fs::hard_link_count(target), 2u);
  fs::remove(second);  // no longer a second name: an ordinary leftover
  RecordFile(target, 1024).DeleteLeftover(kLeftover);
  EXPECT_FALSE(fs::exists(target));
}

// A run never removes another run's file: not one that a live run holds locked, nor one that
// replaced ours at the path. A leftover of a run that died goes.
TEST_F(NamedRecordFile, AnotherRunsFileStaysAndALeftoverGoes) {
  TempFolder folder;
  const std::string path = folder.File("test.txt");
  RecordFile first(path, 1024), second(path, 1024);
  first.Open();
  ASSERT_TRUE(fs::exists(path));
  // Another open file description: what a second run would have.
  second.DeleteLeftover(kLeftover);
  EXPECT_THROW(second.Open(), RunError);
  second.CloseAndDelete();  // opened nothing, so deletes nothing
  ASSERT_TRUE(fs::exists(path));
  first.Close();  // as a killed run would: the lock goes, the file stays
  ASSERT_TRUE(fs::exists(path));
  second.DeleteLeftover(kLeftover);
  EXPECT_FALSE(fs::exists(path));

  first.Open();
  fs::rename(path, folder.File("moved.txt"));
  { std::ofstream(path) << "another run's"; }
  first.CloseAndDelete();
  EXPECT_EQ(ReadAll(path), "another run's");
}

// A run whose new file another run's deletion locked first (and was killed before removing)
// fails without leaving that empty file behind.
TEST_F(NamedRecordFile, AFailedOpenLeavesNoFileBehind) {
  TempFolder folder;
  const std::string path = folder.File("test.txt");
  int other_run = -1;
  before_next_lock = [&](int fd) {
    other_run = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::syscall(SYS_flock, other_run, LOCK_EX | LOCK_NB), 0);
  };
  RecordFile file(path, 1024);
  EXPECT_THROW(file.Open(), RunError);
  ::close(other_run);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
}

#else
// An earlier run's file, exactly the test file's size and zeros wherever it is sampled, goes
// before a run, but not while another program holds it: then it stays, and the opening fails
// without deleting it. Zeros of another size stay, and so does somebody's data spread wider
// than the samples' spacing.
// (Marks at the start and in the last MiB stay in the Windows end-to-end run, which sees the
// failure message too.)
TEST(RecordFile, OnlyAnEarlierTestFileMakesWayAndOnlyWhenNobodyHoldsIt) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  std::ofstream(path).close();
  fs::resize_file(path, kLeftover + 4096);  // zeros, but not of the size a run leaves
  RecordFile(path, 1024).DeleteLeftover(kLeftover);
  ASSERT_TRUE(fs::exists(path)) << "a file of another size";
  {
    std::ofstream theirs(path, std::ios::binary);
    theirs.seekp(kLeftover / 3);
    theirs << std::string(32 << 20, 'x');
  }
  fs::resize_file(path, kLeftover);
  RecordFile(path, 1024).DeleteLeftover(kLeftover);
  ASSERT_TRUE(fs::exists(path)) << "somebody's data in the middle";
  fs::resize_file(path, 0);
  fs::resize_file(path, kLeftover);  // zeros only, as a run leaves it
  {
    const auto holder = OpenAsAnotherProgram(path, false);
    RecordFile file(path, 1024);
    file.DeleteLeftover(kLeftover);
    file.DeleteWhenLastClosed();
    EXPECT_THROW(file.Open(), RunError);
    file.CloseAndDelete();
    EXPECT_EQ(fs::file_size(path), static_cast<std::uintmax_t>(kLeftover));
  }
  RecordFile(path, 1024).DeleteLeftover(kLeftover);  // no longer held: a leftover
  EXPECT_FALSE(fs::exists(path));
}

// The test file as the program opens it: the system removes it when the last handle closes,
// also when a scanner still held it as the program let go.
TEST(RecordFile, ADeleteOnCloseFileGoesWithItsLastHandle) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  RecordFile file(path, 1024);
  file.DeleteWhenLastClosed();
  file.Open();
  std::array<std::uint8_t, 512> data, back{};
  data.fill(0x5A);
  file.WriteRecordExtending(200, data);  // far enough in for the unbuffered second handle
  auto scanner = OpenAsAnotherProgram(path, true);
  ASSERT_TRUE(scanner);
  file.ReadRecord(200, back);
  EXPECT_EQ(back, data);
  file.Close();
  scanner.reset();
  EXPECT_FALSE(fs::exists(path));
}
#endif

}  // namespace
}  // namespace sorel::testing
