#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "disktest/test_file.h"
#include "platform/seam/platform.h"
#include "platform/seam/record_file.h"
#include "platform/seam/window_events.h"

// Where Form1's members are defined:
//   app/form1.cpp                constructor, Form_KeyDown, the error report, RemoveTestFile
//   disktest/disk_test.cpp       Form_Activate and the timed creation of the test file
//   disktest/removal_at_exit.cpp Form_Unload, Form_Terminate, ProcessPendingEventsIgnoringErrors
//   voicetest/voice.cpp          Form_Load, OneVoice, AddYen, RandGet, SamplePaths
// Its events reach it through FormRunner (app/form_runner.h), which holds the rules of when.

namespace sorel {

class RunError;

// Presses that wait while a voice step runs; a held key must not queue minutes of replays.
inline constexpr std::size_t kMaxPendingPresses = 2;

// The program's one window object: all state of the run and the handlers of its events.
class Form1 {
 public:
  // The test file's path and the record the disk test writes (so the file's size) are fixed
  // for the program; tests pass a temp folder and a small file.
  explicit Form1(Platform& platform, std::string test_file_path = kTestFilePath,
                 std::int32_t record_written = kRecordWritten);

  // Window events, delivered by FormRunner.
  void Form_Load();
  void Form_Activate();
  void Form_KeyDown(std::int16_t& KeyCode, std::int16_t& Shift);
  void Form_Unload(std::int16_t& Cancel);
  void Form_Terminate();

  // Voice response test.
  void OneVoice();
  std::string AddYen(std::string& path);
  // False when the replay was cut short: window unloaded, or no test file open yet.
  bool RandGet();

  // Reports an error that left a handler, removes the test file and ends the program; after
  // the window was closed there is nobody to tell, and the run goes on to its end.
  void ReportUnhandledError(const RunError& error);
  // Closes and deletes the test file, errors ignored.
  void RemoveTestFile() noexcept;

  // The voice samples, as OneVoice names them.
  std::vector<std::string> SamplePaths();

  RecordFile& test_file() { return test_file_; }
  bool unloaded() const { return unloaded_; }
  // While the test file is being written, between its clock readings.
  bool writing() const { return writing_; }
  // While the failure message or an error report shows: the run is over and its file gone.
  bool ending() const { return ending_; }

  std::int16_t Cnt = 0;
  std::optional<std::vector<std::int32_t>> a1, a2, a3, a4, a5;

 private:
  void RunDiskTest();
  bool ShowTestMessage(const std::string& prompt);
  [[noreturn]] void FailDiskTest();
  void ProcessPendingEventsIgnoringErrors();
  void VoiceStep(std::int16_t key_code);
  std::string SamplePath(int number);

  Platform& platform_;
  const std::int32_t record_written_;
  RecordFile test_file_;
  std::optional<std::int16_t> run_once_marker_;
  bool unloaded_ = false;
  bool writing_ = false;
  bool ending_ = false;
  bool voice_step_running_ = false;
  std::deque<std::int16_t> pending_presses_;
};

}  // namespace sorel
