#include "platform/record_file.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "app/run_error.h"
#include "tests/file_helpers.h"
#include "tests/temp_folder.h"

namespace sorel::testing {
namespace {

TEST(RecordFile, ExtendingWriteKeepsExistingBytesAndPadsTheRecord) {
  TempFolder folder;
  const std::string path = folder.File("records.bin");
  { std::ofstream(path, std::ios::binary) << std::string(3000, 'e'); }

  RecordFile file(1024);
  file.Open(path);  // no truncation
  std::array<std::uint8_t, 512> data;
  data.fill(0xAB);
  file.WriteRecordExtending(5, data);
  file.Close();

  const std::string content = ReadAll(path);
  ASSERT_EQ(content.size(), 5u * 1024);
  EXPECT_EQ(content.substr(0, 3000), std::string(3000, 'e'));
  EXPECT_EQ(content.substr(3000, 1096), std::string(1096, '\0'));
  EXPECT_EQ(content.substr(4096, 512), std::string(512, '\xAB'));
  EXPECT_EQ(content.substr(4608), std::string(512, '\0'));
}

TEST(RecordFile, WriteInsideTheFileChangesOnlyItsRecord) {
  TempFolder folder;
  const std::string path = folder.File("records.bin");
  { std::ofstream(path, std::ios::binary) << std::string(8192, 'e'); }
  RecordFile file(1024);
  file.Open(path);
  const std::array<std::uint8_t, 512> zeros{};
  file.WriteRecordExtending(2, zeros);
  std::array<std::uint8_t, 512> back;
  back.fill(1);
  file.ReadRecord(3, back);
  EXPECT_EQ(back[0], 'e');
  file.Close();
  const std::string content = ReadAll(path);
  ASSERT_EQ(content.size(), 8192u);
  EXPECT_EQ(content.substr(1024, 1024), std::string(1024, '\0'));
  EXPECT_EQ(content[2048], 'e');
}

// The error numbers the user would see in a report.
TEST(RecordFile, FailuresRaiseRunErrors) {
  TempFolder folder;
  RecordFile file(1024);
  std::array<std::uint8_t, 512> buffer{};
  EXPECT_EQ(ErrorOf([&] { file.ReadRecord(1, buffer); }), kErrBadFileNumber);
  EXPECT_EQ(ErrorOf([&] { file.WriteRecordExtending(1, buffer); }), kErrBadFileNumber);

  std::filesystem::create_directories(folder.File("dir") + "/inside");
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
  std::filesystem::create_directories(folder.File("dir") + "/inside");
  DeleteEarlierTestFile(folder.File("dir"));
  EXPECT_TRUE(std::filesystem::exists(folder.File("dir") + "/inside"));
  { std::ofstream(folder.File("gone.txt")) << "x"; }
  DeleteEarlierTestFile(folder.File("gone.txt"));
  EXPECT_FALSE(std::filesystem::exists(folder.File("gone.txt")));
}

}  // namespace
}  // namespace sorel::testing
