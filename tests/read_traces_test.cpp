#include "voicetest/read_traces.h"

#include <gtest/gtest.h>

#include <utility>

#include "disktest/test_file.h"
#include "voicetest/record_number.h"

namespace sorel {
namespace {

// The data is pinned byte for byte by tools/gen_traces.py --check; these are the properties the
// replay relies on, seen through the program's own record rule: from position 1, at most up to
// position 1000, records of the 700 MiB file until the -1 that ends the trace.
TEST(ReadTracesTest, EveryReplayStopsAtItsTerminatorAndReadsOnlyRecordsOfTheFile) {
  for (int number = 1; number <= 5; ++number) {
    const auto trace = RecordedTrace(number);
    ASSERT_GT(trace.size(), 2u);
    std::size_t i = 1;
    for (; i < 1000 && i < trace.size() && trace[i] >= 0; ++i) {
      const std::int32_t record = RecordNumberOf(trace[i]);
      EXPECT_TRUE(record >= 1 && record <= kRecordWritten) << "a" << number << " at " << i;
    }
    ASSERT_EQ(i, trace.size() - 1) << "a" << number << ": the -1 is not the last entry";
    EXPECT_EQ(trace[i], -1);
  }
  EXPECT_TRUE(RecordedTrace(0).empty());
  EXPECT_TRUE(RecordedTrace(6).empty());
}

TEST(RecordNumber, RoundsHalfToEven) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {
      {256, 0},      {257, 1},       {511, 1},         {512, 1},
      {768, 2},      {1280, 2},      {1281, 3},        {178872, 349},
      {180078, 352}, {677141, 1323}, {5784832, 11298}, {363005596, 708995}};
  for (const auto& [entry, record] : cases) EXPECT_EQ(RecordNumberOf(entry), record) << entry;
}

}  // namespace
}  // namespace sorel
