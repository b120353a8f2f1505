#include <array>

#include "app/form1.h"
#include "disktest/test_file.h"
#include "platform/seam/run_error.h"
#include "voicetest/read_traces.h"
#include "voicetest/record_number.h"
#include "voicetest/samples.h"

namespace sorel {
namespace {

// A replay visits at most this many positions after the leading entry.
constexpr int kLastTracePosition = 1000;

std::vector<std::int32_t> LoadTrace(int number) {
  const auto recorded = RecordedTrace(number);
  return {recorded.begin(), recorded.end()};
}

}  // namespace

void Form1::Form_Load() {
  a1 = LoadTrace(1);
  a2 = LoadTrace(2);
  a3 = LoadTrace(3);
  a4 = LoadTrace(4);
  a5 = LoadTrace(5);
}

void Form1::OneVoice() {
  if (Cnt > 4) Cnt = 0;
  if (Cnt < 0) Cnt = 4;
  const int sample = Cnt + 1;
  if (!RandGet()) return;
  platform_.StartSound(SamplePath(sample));
}

std::string Form1::SamplePath(int number) {
  std::string folder = platform_.ProgramFolder();
  return AddYen(folder) + SampleFileName(number);
}

std::vector<std::string> Form1::SamplePaths() {
  std::vector<std::string> paths;
  for (int number = 1; number <= kSampleCount; ++number) paths.push_back(SamplePath(number));
  return paths;
}

std::string Form1::AddYen(std::string& path) {
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

bool Form1::RandGet() {
  std::array<std::uint8_t, kRecordBufferSize> buffer{};
  // OneVoice keeps Cnt within 0 to 4.
  const std::array traces{&a1, &a2, &a3, &a4, &a5};
  const auto& trace = *traces.at(static_cast<std::size_t>(Cnt));
  // Keys pressed while the test file is being made, before it exists, read nothing.
  if (!test_file_.IsOpen()) return false;
  if (!trace.has_value()) throw RunError(kErrInternal);
  const std::vector<std::int32_t>& entries = *trace;
  for (int position = 1; position <= kLastTracePosition; ++position) {
    if (static_cast<std::size_t>(position) >= entries.size()) throw RunError(kErrInternal);
    const std::int32_t entry = entries[position];
    if (entry < 0) break;
    test_file_.ReadRecord(RecordNumberOf(entry), buffer);
    platform_.ProcessPendingEvents();
    // Escape during the replay: the file is gone with the window, the replay just stops.
    if (unloaded_ || !test_file_.IsOpen()) return false;
  }
  return true;
}

}  // namespace sorel
