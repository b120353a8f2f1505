#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>

#include "app/run_error.h"
#include "platform/record_file.h"
#include "platform/testing/win32_file_probe.h"
#include "tests/file_helpers.h"
#include "tests/temp_folder.h"

namespace sorel::testing {
namespace {

void MakeFile(const std::string& path, std::size_t size) {
  std::ofstream(path, std::ios::binary) << std::string(size, 'e');
}

bool AllBytesAre(const std::string& content, std::size_t from, std::size_t to, char value) {
  return content.find_first_not_of(value, from) >= to;
}

// The aligned middle of a gap goes through an unbuffered handle, the ragged edges through the
// cached one: gaps that start and end on either side of those boundaries (64 KiB units, 1 MiB
// chunks) must come out as plain zeros around the old bytes, allocated rather than sparse.
TEST(Win32RecordFile, GapsAroundTheUnbufferedFillComeOutAsZeros) {
  const struct {
    std::size_t existing;
    std::int32_t record;
  } cases[] = {{0, 1}, {0, 66}, {3000, 300}, {65535, 1089}, {70000, 3000}, {131072, 4097}};
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
    EXPECT_GE(AllocatedBytes(path), static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(AllBytesAre(content, 0, c.existing, 'e'));
    EXPECT_TRUE(AllBytesAre(content, c.existing, offset, '\0'));
    EXPECT_TRUE(AllBytesAre(content, offset, offset + 512, '\xAB'));
    EXPECT_TRUE(AllBytesAre(content, offset + 512, offset + 1024, '\0'));
  }
}

// The test file as the program opens it: the system removes it when the last handle closes,
// also when a scanner still held it as the program let go.
TEST(Win32RecordFile, ADeleteOnCloseFileGoesWithItsLastHandle) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  RecordFile file(1024);
  file.DeleteWhenLastClosed();
  file.Open(path);
  std::array<std::uint8_t, 512> data;
  data.fill(0x5A);
  file.WriteRecordExtending(200, data);  // far enough in for the unbuffered second handle
  std::optional<ForeignHandle> scanner(std::in_place, path, ForeignHandle::Sharing::kAll);
  ASSERT_TRUE(scanner->is_open());
  std::array<std::uint8_t, 512> back{};
  file.ReadRecord(200, back);
  EXPECT_EQ(back, data);
  file.Close();
  scanner.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

// Delete-on-close needs delete access: a file held without delete sharing can be neither
// removed nor opened, and stays as it was.
TEST(Win32RecordFile, AFileHeldWithoutDeleteSharingIsLeftAlone) {
  TempFolder folder;
  const std::string path = folder.File("temp.txt");
  MakeFile(path, 10);
  {
    ForeignHandle other(path, ForeignHandle::Sharing::kReadWrite);
    ASSERT_TRUE(other.is_open());
    DeleteEarlierTestFile(path);
    RecordFile file(1024);
    file.DeleteWhenLastClosed();
    EXPECT_EQ(ErrorOf([&] { file.Open(path); }), kErrPermissionDenied);
  }
  EXPECT_EQ(ReadAll(path), std::string(10, 'e'));
}

}  // namespace
}  // namespace sorel::testing
