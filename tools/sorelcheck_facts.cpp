// Prints the program's own facts as JSON: what the core puts on screen (line breaks as the
// window shows them), its test file, its samples and how many reads each trace's replay makes,
// so that the end-to-end runs and the benchmarks compare against these instead of retyping them.
#include <algorithm>
#include <iostream>
#include <string>

#include "app/labels.h"
#include "disktest/messages.h"
#include "disktest/test_file.h"
#include "voicetest/read_traces.h"
#include "voicetest/samples.h"

namespace {

std::string Json(const std::string& text) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    i += text.compare(i, 2, "\r\n") == 0;
    const char c = text[i];
    quoted += c == '\r' || c == '\n'  ? std::string("\\n")
              : c == '"' || c == '\\' ? std::string{'\\', c}
                                      : std::string(1, c);
  }
  return quoted + "\"";
}

}  // namespace

int main() {
  using namespace sorel;
  std::cout << "{\"caption\": " << Json(kWindowCaption) << ", \"client\": [" << kClientWidth << ", "
            << kClientHeight << "], \"labels\": [";
  for (const LabelLayout& l : kLabels) {
    std::cout << (l.id == kLabels[0].id ? "" : ", ") << "{\"caption\": " << Json(l.caption)
              << ", \"geometry\": [" << l.left << ", " << l.top << ", " << l.width << ", "
              << l.height << "], \"visible\": " << (l.visible_at_start ? "true" : "false")
              << ", \"announced\": "
              << (l.role == LabelRole::kAnnouncedWhenShown ? "true" : "false") << "}";
  }
  // The result message around its figure, which only the run itself knows.
  const std::string figure = ElapsedTimeText(12.5f), result = ResultMessage(12.5f);
  const std::size_t at = result.find(figure);
  std::cout << "], \"progress\": " << Json(kProgressCaption)
            << ", \"test_title\": " << Json(kTestTitle)
            << ", \"failure_title\": " << Json(kFailureTitle)
            << ", \"start\": " << Json(StartMessage()) << ", \"result\": ["
            << Json(result.substr(0, at)) << ", " << Json(result.substr(at + figure.size()))
            << "], \"instruction\": " << Json(InstructionMessage())
            << ", \"failure\": " << Json(FailureMessage())
            << ", \"test_file\": {\"named\": " << Json(kTestFilePath)
            << ", \"size\": " << kRecordLength * kRecordWritten << "}, \"samples\": [";
  for (int number = 1; number <= kSampleCount; ++number) {
    const auto trace = RecordedTrace(number);
    const auto reads = std::find(trace.begin() + 1, trace.end(), -1) - trace.begin() - 1;
    std::cout << (number > 1 ? ", " : "") << "{\"name\": " << Json(SampleFileName(number))
              << ", \"reads\": " << reads << "}";
  }
  std::cout << "]}\n";
}
