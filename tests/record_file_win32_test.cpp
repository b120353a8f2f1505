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
  std::ofstream(path, std::ios::binary) << std::string(10, 'e');
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
