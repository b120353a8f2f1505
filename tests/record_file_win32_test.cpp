#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "app/run_error.h"
#include "platform/record_file.h"
#include "platform/testing/win32_file_probe.h"
#include "platform/win32/win32_errors.h"
#include "tests/file_helpers.h"
#include "tests/form_fixture.h"
#include "tests/temp_folder.h"

namespace sorel::testing {
namespace {

void MakeFile(const std::string& path, std::size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'e');
}

bool AllBytesAre(const std::string& content, std::size_t from, std::size_t to, char value) {
  return content.find_first_not_of(value, from) >= to;
}

// The layer writes the aligned middle of a gap through an unbuffered handle and the ragged
// edges through the cached one: gaps that start and end on either side of those boundaries
// (64 KiB units, 1 MiB chunks) must come out as plain zeros around the old bytes.
TEST(Win32RecordFile, GapsAroundTheUnbufferedFillComeOutAsZeros) {
  const struct {
    std::size_t existing;
    std::int32_t record;
  } cases[] = {
      {0, 1},        {0, 65},       {0, 66},       {3000, 5},     {3000, 300},
      {65536, 1089}, {65535, 1089}, {70000, 3000}, {131072, 129},
  };
  for (const auto& c : cases) {
    TempFolder folder;
    const std::string path = folder.File("records.bin");
    MakeFile(path, c.existing);
    RecordFile file(1024);
    file.Open(path);
    std::array<std::uint8_t, 512> data;
    data.fill(0xAB);
    file.WriteRecordExtending(c.record, data);
    file.Close();

    const std::string content = ReadAll(path);
    const std::size_t offset = (c.record - 1) * std::size_t{1024};
    SCOPED_TRACE(std::to_string(c.existing) + " bytes, record " + std::to_string(c.record));
    ASSERT_EQ(content.size(), offset + 1024);
    EXPECT_TRUE(AllBytesAre(content, 0, c.existing, 'e'));
    EXPECT_TRUE(AllBytesAre(content, c.existing, offset, '\0'));
    EXPECT_TRUE(AllBytesAre(content, offset, offset + 512, '\xAB'));
    EXPECT_TRUE(AllBytesAre(content, offset + 512, offset + 1024, '\0'));
  }
}

// A sparse gap would make the timed write measure nothing.
TEST(Win32RecordFile, TheGapIsAllocatedNotSparse) {
  TempFolder folder;
  const std::string path = folder.File("records.bin");
  RecordFile file(1024);
  file.Open(path);
  const std::array<std::uint8_t, 512> zeros{};
  file.WriteRecordExtending(4097, zeros);  // 4 MiB in
  EXPECT_GE(AllocatedBytes(path), 4097 * 1024);
}

TEST(Win32RecordFile, AFileAnotherProgramHoldsExclusivelyCannotBeOpened) {
  TempFolder folder;
  const std::string path = folder.File("held.bin");
  MakeFile(path, 10);
  ForeignHandle other(path, ForeignHandle::Sharing::kNone);
  ASSERT_TRUE(other.is_open());
  RecordFile file(1024);
  EXPECT_EQ(ErrorOf([&] { file.Open(path); }), kErrPermissionDenied);
  EXPECT_FALSE(file.IsOpen());
}

TEST(Win32RecordFile, OtherProgramsMayOpenTheFileWhileTheTestHoldsIt) {
  TempFolder folder;
  const std::string path = folder.File("shared.bin");
  RecordFile file(1024);
  file.Open(path);
  ForeignHandle other(path, ForeignHandle::Sharing::kReadWrite);
  EXPECT_TRUE(other.is_open());
}

TEST(Win32RecordFile, DeletingTheOpenFileKeepsItReadableUntilItIsClosed) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  RecordFile file(1024);
  file.Open(path);
  std::array<std::uint8_t, 512> data;
  data.fill(0x5A);
  file.WriteRecordExtending(3, data);

  DeleteEarlierTestFile(path);
  std::array<std::uint8_t, 512> back{};
  file.ReadRecord(3, back);
  EXPECT_EQ(back, data);
  file.Close();
  EXPECT_FALSE(std::filesystem::exists(path));

  // The next run's test file can take its place.
  file.Open(path);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(Win32RecordFile, AFileHeldWithoutDeleteSharingSurvivesTheDeletionQuietly) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  MakeFile(path, 10);
  {
    ForeignHandle other(path, ForeignHandle::Sharing::kReadWrite);
    ASSERT_TRUE(other.is_open());
    DeleteEarlierTestFile(path);
  }
  EXPECT_EQ(ReadAll(path), std::string(10, 'e'));
}

TEST(Win32Errors, MapToTheRunErrorsTheUserSees) {
  const struct {
    unsigned long win32_error;
    int run_error;
  } cases[] = {
      {5, kErrPermissionDenied},   // access denied, e.g. a folder at the path
      {32, kErrPermissionDenied},  // sharing violation
      {112, kErrDiskFull},         // disk full
      {39, kErrDiskFull},          // handle disk full
      {6, kErrBadFileNumber},      // invalid handle
      {23, kErrDeviceIo},          // CRC error
      {1117, kErrDeviceIo},        // I/O device error
      {3, kErrPathAccess},         // path not found
      {123, kErrPathAccess},       // bad file name
  };
  for (const auto& c : cases)
    EXPECT_EQ(RunErrorNumberFor(c.win32_error), c.run_error) << c.win32_error;
}

// A test file that another program holds exclusively: not deleted, not opened, the failure
// message ends the run and the file stays as it was.
class Win32DiskTest : public FormFixture {};

TEST_F(Win32DiskTest, ATestFileHeldByAnotherProgramEndsTheRunAndStays) {
  MakeFile(test_file_path_, 100);
  {
    ForeignHandle other(test_file_path_, ForeignHandle::Sharing::kNone);
    ASSERT_TRUE(other.is_open());
    StartProgram();
  }
  EXPECT_EQ(exit_status_, 1);
  ASSERT_EQ(platform_.messages().size(), 2u);
  EXPECT_EQ(platform_.messages()[1].title, "エラーが発生しました");
  EXPECT_EQ(ReadAll(test_file_path_), std::string(100, 'e'));
}

}  // namespace
}  // namespace sorel::testing
