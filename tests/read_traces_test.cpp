#include "voicetest/read_traces.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "disktest/test_file.h"
#include "voicetest/record_number.h"

namespace sorel {
namespace {

// The data is pinned byte for byte by tools/gen_traces.py --check; these are the properties the
// replay relies on, seen through the program's own record rule.
TEST(ReadTracesTest, EveryReplayStopsAtItsTerminatorAndReadsOnlyRecordsOfTheFile) {
  for (int number = 1; number <= 5; ++number) {
    SCOPED_TRACE(testing::Message() << "a" << number);
    const std::span<const std::int32_t> trace = RecordedTrace(number);
    ASSERT_FALSE(trace.empty());
    EXPECT_GT(trace[0], 0);
    // Positions 1 to 1000, up to the first negative entry, as the replay walks them.
    std::size_t i = 1;
    for (; i <= 1000 && i < trace.size() && trace[i] >= 0; ++i) {
      const std::int32_t record = RecordNumberOf(trace[i]);
      EXPECT_TRUE(record >= 1 && record <= kRecordWritten)
          << "position " << i << " reads record " << record;
    }
    ASSERT_LT(i, 1000u);
    EXPECT_EQ(i, trace.size() - 1) << "the terminator is not the last entry";
    EXPECT_EQ(trace[i], -1);
  }
  EXPECT_TRUE(RecordedTrace(0).empty());
  EXPECT_TRUE(RecordedTrace(6).empty());
}

TEST(RecordNumber, RoundsHalfToEven) {
  const struct {
    std::int32_t entry, record;
  } cases[] = {{256, 0},      {257, 1},       {511, 1},         {512, 1},
               {768, 2},      {1280, 2},      {1281, 3},        {178872, 349},
               {180078, 352}, {677141, 1323}, {5784832, 11298}, {363005596, 708995}};
  for (const auto& c : cases) EXPECT_EQ(RecordNumberOf(c.entry), c.record) << c.entry;
}

}  // namespace
}  // namespace sorel
