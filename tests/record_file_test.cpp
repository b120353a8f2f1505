#include "platform/record_file.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "app/run_error.h"
#include "tests/file_helpers.h"
#include "tests/temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sorel::testing {
namespace {

namespace fs = std::filesystem;

TEST(RecordFile, WritesPadRecordsAndKeepEverythingElse) {
  TempFolder folder;
  const std::string path = folder.File("records.bin");
  RecordFile file(1024);
  file.Open(path);
  std::array<std::uint8_t, 512> data;
  data.fill(0xAB);
  file.WriteRecordExtending(2, data);
  file.WriteRecordExtending(5, data);  // extends past record 2, which must survive
  data.fill(0);
  file.WriteRecordExtending(3, data);  // inside the file: only record 3 changes
  std::array<std::uint8_t, 512> back;
  back.fill(1);
  file.ReadRecord(2, back);
  EXPECT_EQ(back[511], 0xAB);
  file.Close();

  const std::string content = ReadAll(path);
  ASSERT_EQ(content.size(), 5u * 1024);
  EXPECT_EQ(content.substr(0, 1024), std::string(1024, '\0'));
  EXPECT_EQ(content.substr(1024, 512), std::string(512, '\xAB'));
  EXPECT_EQ(content.substr(1536, 2560), std::string(2560, '\0'));
  EXPECT_EQ(content.substr(4096, 512), std::string(512, '\xAB'));
  EXPECT_EQ(content.substr(4608), std::string(512, '\0'));
}

// The error numbers the user would see in a report.
TEST(RecordFile, FailuresRaiseRunErrors) {
  TempFolder folder;
  RecordFile file(1024);
  std::array<std::uint8_t, 512> buffer{};
  EXPECT_EQ(ErrorOf([&] { file.ReadRecord(1, buffer); }), kErrBadFileNumber);
  EXPECT_EQ(ErrorOf([&] { file.WriteRecordExtending(1, buffer); }), kErrBadFileNumber);

  fs::create_directories(folder.File("dir") + "/inside");
  EXPECT_NE(ErrorOf([&] { file.Open(folder.File("dir")); }), 0);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_NE(ErrorOf([&] { file.Open(folder.File("missing/x.txt")); }), 0);

  file.Open(folder.File("ok.bin"));
  EXPECT_EQ(ErrorOf([&] { file.ReadRecord(0, buffer); }), kErrBadRecordNumber);
  EXPECT_EQ(ErrorOf([&] { file.ReadRecord(-3, buffer); }), kErrBadRecordNumber);
  EXPECT_EQ(ErrorOf([&] { file.ReadRecord(1, buffer); }), 0);  // past the end reads nothing
  file.Close();
  file.Close();  // closing twice is harmless
}

TEST(RecordFile, DeletionIgnoresErrors) {
  TempFolder folder;
  DeleteEarlierTestFile(folder.File("never-existed"));
  fs::create_directories(folder.File("dir") + "/inside");
  DeleteEarlierTestFile(folder.File("dir"));
  EXPECT_TRUE(fs::exists(folder.File("dir") + "/inside"));
  { std::ofstream(folder.File("gone.txt")) << "x"; }
  DeleteEarlierTestFile(folder.File("gone.txt"));
  EXPECT_FALSE(fs::exists(folder.File("gone.txt")));
}

#ifndef _WIN32
// The test file's folder is shared by all users: what stands at the path may be a trap.
TEST(RecordFile, NeitherOpensNorDeletesWhatIsNotItsOwnPlainFile) {
  TempFolder folder;
  const std::string target = folder.File("someone's.txt");
  { std::ofstream(target) << "keep"; }
  const std::string link = folder.File("link"), second = folder.File("second-name");
  const std::string fifo = folder.File("fifo");
  fs::create_symlink(target, link);
  fs::create_hard_link(target, second);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {second, fifo, link}) {
    RecordFile file(1024);
    EXPECT_NE(ErrorOf([&] { file.Open(path); }), 0) << path;
    EXPECT_FALSE(file.IsOpen());
    DeleteEarlierTestFile(path);  // a FIFO must not block it; a link of ours goes
    EXPECT_EQ(fs::exists(fs::symlink_status(path)), path != link) << path;
  }
  EXPECT_EQ(ReadAll(target), "keep");  // never what a link points to
  EXPECT_EQ(fs::hard_link_count(target), 2u);
  fs::remove(second);  // no longer a second name: an ordinary leftover
  DeleteEarlierTestFile(target);
  EXPECT_FALSE(fs::exists(target));
}

TEST(RecordFile, ALiveRunsFileIsLeftAloneAndALeftoverIsDeleted) {
  TempFolder folder;
  const std::string path = folder.File("test.txt");
  RecordFile first(1024), second(1024);
  first.Open(path);
  const std::array<std::uint8_t, 512> zeros{};
  first.WriteRecordExtending(4, zeros);
  // Another open file description: what a second run would have.
  DeleteEarlierTestFile(path);
  EXPECT_EQ(ErrorOf([&] { second.Open(path); }), kErrPathAccess);
  second.CloseAndDelete(path);  // opened nothing, so deletes nothing
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 4u * 1024);

  first.Close();  // as a killed run would: the lock goes, the file stays
  ASSERT_TRUE(fs::exists(path));
  DeleteEarlierTestFile(path);
  EXPECT_FALSE(fs::exists(path));
}

TEST(RecordFile, RemovalAtExitLeavesAFileThatReplacedOursAlone) {
  TempFolder folder;
  const std::string path = folder.File("test.txt"), moved = folder.File("moved.txt");
  RecordFile file(1024);
  file.Open(path);
  fs::rename(path, moved);
  { std::ofstream(path) << "another run's"; }
  file.CloseAndDelete(path);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(ReadAll(path), "another run's");
  EXPECT_TRUE(fs::exists(moved));

  const std::string own = folder.File("own.txt");
  file.Open(own);
  file.CloseAndDelete(own);
  EXPECT_FALSE(fs::exists(own));
}
#endif

}  // namespace
}  // namespace sorel::testing
