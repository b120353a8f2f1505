#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "app/form1.h"
#include "platform/testing/scripted_platform.h"
#include "tests/temp_folder.h"

namespace sorel::testing {

// A 4 MiB test file: what the program does with it does not depend on its size, and the suite
// stays light on the disk. One test makes the real 700 MiB file.
inline constexpr std::int32_t kSmallRecordWritten = 4096;

// One program run against the scripted back end, with its test file in a temp folder and every
// record that a replay reads logged.
class ProgramRun {
 public:
  explicit ProgramRun(std::int32_t record_written = kSmallRecordWritten)
      : test_file_path_(folder_.File("temp.txt")),
        form_(platform_, test_file_path_, record_written) {
    platform_.Attach(form_);
    platform_.clock = {100.0f, 115.0f};
    form_.test_file().SetReadObserver([this](std::int32_t record) { reads_.push_back(record); });
  }

  // Load and first activation, or a key, as the back end delivers them; notes the exit status
  // if the program ended itself.
  void StartProgram() {
    Run([&] { platform_.StartProgram(); });
  }
  void PressKey(std::int16_t key) {
    Run([&] { platform_.PressKey(key); });
  }
  bool TestFileExists() const { return std::filesystem::exists(test_file_path_); }

  TempFolder folder_;
  std::string test_file_path_;
  ScriptedPlatform platform_;
  Form1 form_;
  std::optional<int> exit_status_;
  std::vector<std::int32_t> reads_;

 private:
  template <typename Body>
  void Run(Body&& body) {
    try {
      body();
    } catch (const ProgramEnded& ended) {
      exit_status_ = ended.exit_status;
    }
  }
};

class FormFixture : public ::testing::Test, public ProgramRun {};

}  // namespace sorel::testing
