#include "voicetest/read_traces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

namespace sorel {
namespace {

using Entries = std::vector<std::int32_t>;

constexpr std::int32_t kHigh = 12000000;
constexpr std::int32_t kBandEnd = 1000000;
constexpr std::int64_t kNear = 8192;

// The record an entry addresses: entry / 512 in double precision, rounded to nearest with exact
// halves going to the even neighbour (the default rounding mode does exactly that).
std::int32_t RecordOf(std::int32_t entry) {
  return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(entry) / 512.0));
}

Entries Trace(int number) {
  const std::span<const std::int32_t> trace = RecordedTrace(number);
  return Entries(trace.begin(), trace.end());
}

// Positions 1 to N - 2: what a replay reads.
Entries Reads(int number) {
  const Entries trace = Trace(number);
  if (trace.size() < 2) return {};
  return Entries(trace.begin() + 1, trace.end() - 1);
}

struct Expected {
  int number;
  std::size_t entries;
  std::int32_t lead;
  std::int32_t smallest;
  std::int32_t smallest_record;
  std::int32_t largest;
  std::int32_t largest_record;
  int equal;
  int same_record;
  int up_512;
  int up_1024;
  int distinct_records;
  int below_1m;
  int from_1m;
  int from_12m;
};

constexpr Expected kExpected[] = {
    {1, 128, 259447, 22893, 45, 363005596, 708995, 23, 31, 12, 5, 74, 51, 36, 39},
    {2, 235, 259447, 56893, 111, 300387960, 586695, 35, 45, 22, 8, 138, 72, 83, 78},
    {3, 253, 289814, 85526, 167, 306206424, 598059, 31, 41, 28, 8, 147, 80, 74, 97},
    {4, 305, 32576, 12571, 25, 356247328, 695796, 51, 68, 33, 8, 166, 85, 134, 84},
    {5, 200, 82145, 32576, 64, 272694512, 532606, 29, 37, 20, 4, 113, 66, 63, 69},
};

struct Group {
  int number;
  std::size_t position;  // of the first high entry
  Entries highs;
  std::int32_t low;
};

// Splits the read entries into two-level groups: one or more entries of 12000000 or more, then the
// entry after them. A run of highs at the very end (no low after it) is reported with low -1.
std::vector<Group> GroupsOf(int number) {
  const Entries reads = Reads(number);
  std::vector<Group> groups;
  std::size_t i = 0;
  while (i < reads.size()) {
    if (reads[i] < kHigh) {
      ++i;
      continue;
    }
    Group group{number, i + 1, {}, -1};
    while (i < reads.size() && reads[i] >= kHigh) group.highs.push_back(reads[i++]);
    if (i < reads.size()) group.low = reads[i++];
    groups.push_back(group);
  }
  return groups;
}

enum class Kind { kGroup, kCluster, kScattered };

// Group entries are the highs and the entry after each run of highs. Any other entry is clustered
// when a neighbouring non-group read entry lies within 8192 of it, and scattered otherwise.
std::vector<Kind> Classify(const Entries& reads) {
  std::vector<Kind> kinds(reads.size(), Kind::kCluster);
  for (std::size_t i = 0; i < reads.size(); ++i) {
    if (reads[i] >= kHigh || (i > 0 && reads[i - 1] >= kHigh)) kinds[i] = Kind::kGroup;
  }
  for (std::size_t i = 0; i < reads.size(); ++i) {
    if (kinds[i] == Kind::kGroup) continue;
    bool near = false;
    for (std::size_t j : {i - 1, i + 1}) {
      if (j < reads.size() && kinds[j] != Kind::kGroup &&
          std::abs(std::int64_t{reads[j]} - reads[i]) <= kNear) {
        near = true;
      }
    }
    kinds[i] = near ? Kind::kCluster : Kind::kScattered;
  }
  return kinds;
}

// The record rule itself, on the values that show its corners.
TEST(ReadTracesTest, RecordRuleRoundsHalvesToEven) {
  EXPECT_EQ(RecordOf(256), 0);
  EXPECT_EQ(RecordOf(257), 1);
  EXPECT_EQ(RecordOf(768), 2);
  EXPECT_EQ(RecordOf(1280), 2);
  EXPECT_EQ(RecordOf(1281), 3);
  EXPECT_EQ(RecordOf(178872), 349);
  EXPECT_EQ(RecordOf(259447), 507);
  EXPECT_EQ(RecordOf(677128), 1323);
  EXPECT_EQ(RecordOf(677141), 1323);
  EXPECT_EQ(RecordOf(5784832), 11298);
  EXPECT_EQ(RecordOf(12571), 25);
  EXPECT_EQ(RecordOf(363005596), 708995);
  // The integer form of the same rule agrees on every stored read entry.
  for (int number = 1; number <= 5; ++number) {
    for (std::int32_t v : Reads(number)) {
      const std::int32_t whole = v / 512;
      const std::int32_t rest = v % 512;
      const std::int32_t expected =
          whole + ((rest > 256 || (rest == 256 && whole % 2 != 0)) ? 1 : 0);
      ASSERT_EQ(RecordOf(v), expected) << "a" << number << " entry " << v;
    }
  }
}

// Lengths, terminators, leading entries, and what a replay of positions 1 to 1000 does.
TEST(ReadTracesTest, LayoutAndReplayLength) {
  EXPECT_TRUE(RecordedTrace(0).empty());
  EXPECT_TRUE(RecordedTrace(6).empty());
  EXPECT_TRUE(RecordedTrace(-1).empty());
  std::size_t all_entries = 0;
  std::size_t all_reads = 0;
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(testing::Message() << "a" << e.number);
    const Entries trace = Trace(e.number);
    ASSERT_EQ(trace.size(), e.entries);
    EXPECT_EQ(trace.back(), -1);
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(), [](std::int32_t v) { return v < 0; }), 1);
    EXPECT_EQ(trace.front(), e.lead);
    if (e.number <= 2) {
      EXPECT_EQ(std::count(trace.begin() + 1, trace.end(), e.lead), 0);
    } else {
      EXPECT_EQ(trace[0], trace[1]);
    }
    // The replay: positions 1 to 1000, ending at the first negative entry without reading it.
    std::size_t reads = 0;
    std::size_t end = 0;
    for (std::size_t i = 1; i <= 1000; ++i) {
      ASSERT_LT(i, trace.size()) << "replay runs past the end";
      if (trace[i] < 0) {
        end = i;
        break;
      }
      ++reads;
    }
    EXPECT_EQ(end, e.entries - 1);
    EXPECT_EQ(reads, e.entries - 2);
    all_entries += trace.size();
    all_reads += reads;
  }
  EXPECT_EQ(all_entries, 1121u);
  EXPECT_EQ(all_reads, 1111u);
  const Entries a1 = Reads(1);
  EXPECT_EQ(RecordOf(a1[0]), 349);
  EXPECT_EQ(RecordOf(a1[1]), 349);
  EXPECT_EQ(RecordOf(a1[2]), 352);
}

// Every listed position holds its listed value.
TEST(ReadTracesTest, ListedPositions) {
  const std::vector<std::tuple<int, std::size_t, Entries>> listed = {
      {1,
       0,
       {259447, 178872, 178872, 180078, 676954, 676954, 677128, 677128, 677141, 2621523, 2621523}},
      {1,
       25,
       {1239586, 2739275, 4818997, 2333056, 7919758, 1189750, 136219, 7055981, 2992185, 5832286}},
      {1, 58, {363005596}},
      {1,
       60,
       {119957960, 119958472, 3485637, 119957048, 119957560, 3485612, 119956448, 119956960, 3485593,
        119955908, 119956420, 3485576}},
      {1, 81, {249302, 249302, 249489, 249489, 249540, 249540, 249553, 249553}},
      {1, 121, {95738508, 95739020, 2776890, 95737204, 95738228, 2776859, -1}},
      {2,
       0,
       {259447, 182281, 182281, 1239586, 2739275, 3185547, 7122499, 233745584, 6799133, 233744540,
        233745564}},
      {2, 228, {36110244, 36110756, 1090218, 36109104, 36110128, 1090188, -1}},
      {3,
       0,
       {289814, 289814, 290868, 290868, 291136, 291136, 291163, 1296377, 231594252, 231594764,
        6737078}},
      {3, 246, {56386512, 56387024, 1713301, 56385796, 56386308, 1713283, -1}},
      {4,
       0,
       {32576, 32576, 49808, 3092601, 3092601, 3092626, 3092626, 3092792, 3092792, 3092809,
        3092809}},
      {4, 11, {12571}},
      {4, 298, {95701048, 95701560, 2775842, 95699776, 95700800, 2775811, -1}},
      {5, 0, {82145, 82145, 86390, 86390, 86613, 178872, 178872, 179468, 833045, 833045, 834393}},
      {5, 88, {5784832}},
      {5, 193, {1657206, 54571600, 1657195, 54570500, 54571524, 1657171, -1}},
  };
  for (const auto& [number, first, values] : listed) {
    const Entries trace = Trace(number);
    for (std::size_t k = 0; k < values.size(); ++k) {
      ASSERT_LT(first + k, trace.size());
      EXPECT_EQ(trace[first + k], values[k]) << "a" << number << " position " << first + k;
    }
  }
  // Position 59 of a1 and position 11 of a2 are the low entries of their groups.
  EXPECT_LT(Trace(1)[59], kHigh);
  EXPECT_LT(Trace(2)[11], kHigh);
}

// Smallest and largest read entries, their records, and the record range over all traces.
TEST(ReadTracesTest, SmallestLargestAndRecordRange) {
  std::int32_t lowest_record = 1 << 30;
  std::int32_t highest_record = 0;
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(testing::Message() << "a" << e.number);
    const Entries reads = Reads(e.number);
    const auto [smallest, largest] = std::minmax_element(reads.begin(), reads.end());
    EXPECT_EQ(*smallest, e.smallest);
    EXPECT_EQ(RecordOf(*smallest), e.smallest_record);
    EXPECT_EQ(*largest, e.largest);
    EXPECT_EQ(RecordOf(*largest), e.largest_record);
    EXPECT_GE(*smallest, 12571);
    for (std::int32_t v : reads) {
      lowest_record = std::min(lowest_record, RecordOf(v));
      highest_record = std::max(highest_record, RecordOf(v));
    }
  }
  EXPECT_EQ(lowest_record, 25);
  EXPECT_EQ(highest_record, 708995);
  EXPECT_LT(highest_record, 716800);
}

// The per-trace shape table: steps against the entry before (positions 2 to N - 2), distinct
// records and the three value bands.
TEST(ReadTracesTest, ShapeTable) {
  const int returns[] = {21, 50, 63, 69, 48};
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(testing::Message() << "a" << e.number);
    const Entries reads = Reads(e.number);
    int equal = 0, same_record = 0, up_512 = 0, up_1024 = 0;
    for (std::size_t i = 1; i < reads.size(); ++i) {
      equal += reads[i] == reads[i - 1];
      same_record += RecordOf(reads[i]) == RecordOf(reads[i - 1]);
      up_512 += std::int64_t{reads[i]} - reads[i - 1] == 512;
      up_1024 += std::int64_t{reads[i]} - reads[i - 1] == 1024;
    }
    std::set<std::int32_t> records;
    int below_1m = 0, from_1m = 0, from_12m = 0;
    for (std::int32_t v : reads) {
      records.insert(RecordOf(v));
      below_1m += v < kBandEnd;
      from_1m += v >= kBandEnd && v < kHigh;
      from_12m += v >= kHigh;
    }
    EXPECT_EQ(equal, e.equal);
    EXPECT_EQ(same_record, e.same_record);
    EXPECT_EQ(up_512, e.up_512);
    EXPECT_EQ(up_1024, e.up_1024);
    EXPECT_EQ(static_cast<int>(records.size()), e.distinct_records);
    EXPECT_EQ(below_1m, e.below_1m);
    EXPECT_EQ(from_1m, e.from_1m);
    EXPECT_EQ(from_12m, e.from_12m);
    // Reads that go back to a record read earlier, but not just before.
    EXPECT_EQ(static_cast<int>(reads.size()) - same_record - static_cast<int>(records.size()),
              returns[e.number - 1]);
  }
}

// Repeats, multiples of 512 and the one half-way entry, over all five traces.
TEST(ReadTracesTest, RepeatsMultiplesAndHalfway) {
  int repeats = 0;
  int multiples = 0;
  std::vector<std::pair<int, std::size_t>> halfway;
  for (int number = 1; number <= 5; ++number) {
    const Entries trace = Trace(number);
    for (std::size_t i = 1; i + 1 < trace.size(); ++i) {
      if (i >= 2 && trace[i] == trace[i - 1]) {
        ++repeats;
        EXPECT_LT(trace[i], kHigh) << "a" << number << " position " << i;
      }
      multiples += trace[i] % 512 == 0;
      if (trace[i] % 512 == 256) halfway.emplace_back(number, i);
    }
  }
  EXPECT_EQ(repeats, 169);
  EXPECT_EQ(multiples, 5);
  ASSERT_EQ(halfway.size(), 1u);
  EXPECT_EQ(halfway[0], std::make_pair(5, std::size_t{88}));
  EXPECT_EQ(Trace(5)[88], 5784832);
  EXPECT_EQ(RecordOf(5784832), 11298);
}

// Two-level groups: how many, their gaps, the ratio of first to low entry, and that every trace
// ends with a group's low entry.
TEST(ReadTracesTest, TwoLevelGroups) {
  int singles = 0, doubles = 0, in_ratio = 0, highs_in_groups = 0, highs = 0;
  std::map<std::int32_t, int> gaps;
  std::vector<std::tuple<int, std::int32_t, std::int32_t>> outside_ratio;
  for (int number = 1; number <= 5; ++number) {
    const Entries reads = Reads(number);
    highs += static_cast<int>(
        std::count_if(reads.begin(), reads.end(), [](std::int32_t v) { return v >= kHigh; }));
    const std::vector<Group> groups = GroupsOf(number);
    ASSERT_FALSE(groups.empty());
    for (const Group& g : groups) {
      ASSERT_TRUE(g.highs.size() == 1 || g.highs.size() == 2)
          << "a" << number << " position " << g.position;
      ASSERT_GT(g.low, 0) << "a" << number << " ends on a high entry";
      highs_in_groups += static_cast<int>(g.highs.size());
      if (g.highs.size() == 1) {
        ++singles;
      } else {
        ++doubles;
        ++gaps[g.highs[1] - g.highs[0]];
      }
      const double ratio = static_cast<double>(g.highs[0]) / g.low;
      if (ratio >= 32.9 && ratio <= 35.0) {
        ++in_ratio;
      } else {
        outside_ratio.emplace_back(number, g.highs[0], g.low);
      }
    }
    const Group& last = groups.back();
    EXPECT_EQ(last.position + last.highs.size(), reads.size()) << "a" << number;
  }
  EXPECT_EQ(singles + doubles, 220);
  EXPECT_EQ(singles, 73);
  EXPECT_EQ(doubles, 147);
  EXPECT_EQ(highs, highs_in_groups);
  EXPECT_EQ(highs, 367);
  EXPECT_EQ(gaps, (std::map<std::int32_t, int>{{512, 107}, {1024, 33}, {1536, 6}, {2048, 1}}));
  EXPECT_EQ(in_ratio, 219);
  ASSERT_EQ(outside_ratio.size(), 1u);
  EXPECT_EQ(outside_ratio[0], std::make_tuple(2, 42586808, 4145721));
}

// Values that recur across traces (distinct read-entry values).
TEST(ReadTracesTest, SharedValues) {
  std::set<std::int32_t> sets[6];
  for (int number = 1; number <= 5; ++number) {
    const Entries reads = Reads(number);
    sets[number] = std::set<std::int32_t>(reads.begin(), reads.end());
  }
  auto shared = [&](int a, int b) {
    return std::count_if(sets[a].begin(), sets[a].end(),
                         [&](std::int32_t v) { return sets[b].count(v) > 0; });
  };
  EXPECT_EQ(shared(1, 2), 21);
  EXPECT_EQ(shared(2, 3), 19);
  for (int a = 1; a <= 5; ++a) {
    for (int b = a + 1; b <= 5; ++b) {
      if ((a == 1 && b == 2) || (a == 2 && b == 3)) continue;
      EXPECT_LE(shared(a, b), 8) << "a" << a << " and a" << b;
    }
  }
  EXPECT_GE(shared(4, 5), 1);  // 32576
  EXPECT_GE(shared(1, 5), 1);  // 178872
  for (std::int32_t v : sets[1]) {
    EXPECT_FALSE(sets[2].count(v) && sets[3].count(v) && sets[4].count(v) && sets[5].count(v))
        << v << " is read by all five traces";
  }
}

// Stretches of clustered reads, scattered singles and groups: every trace has all three and ends
// with groups; clustered steps are small and ascending with median 184; repeats sit in clusters.
TEST(ReadTracesTest, Stretches) {
  std::vector<std::int64_t> steps;
  int near_steps = 0, ascending = 0;
  int clustered = 0, read_twice = 0;
  int scattered = 0, scattered_in_range = 0;
  int group_pairs = 0, stepping_down = 0;
  for (int number = 1; number <= 5; ++number) {
    SCOPED_TRACE(testing::Message() << "a" << number);
    const Entries reads = Reads(number);
    const std::vector<Kind> kinds = Classify(reads);
    std::set<Kind> seen;
    for (Kind k : kinds) seen.insert(k);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(kinds.back(), Kind::kGroup);
    for (std::size_t i = 0; i < reads.size(); ++i) {
      if (kinds[i] == Kind::kCluster) {
        ++clustered;
        const bool twice = (i > 0 && reads[i - 1] == reads[i]) ||
                           (i + 1 < reads.size() && reads[i + 1] == reads[i]);
        read_twice += twice;
      } else if (kinds[i] == Kind::kScattered) {
        ++scattered;
        scattered_in_range += reads[i] >= 100000 && reads[i] <= 11000000;
      }
      if (i == 0) continue;
      if (reads[i] == reads[i - 1]) {
        EXPECT_TRUE(kinds[i] == Kind::kCluster && kinds[i - 1] == Kind::kCluster)
            << "repeat outside a cluster at position " << i + 1;
      }
      if (kinds[i] == Kind::kCluster && kinds[i - 1] == Kind::kCluster) {
        const std::int64_t d = std::int64_t{reads[i]} - reads[i - 1];
        if (d != 0 && std::abs(d) <= kNear) {
          ++near_steps;
          ascending += d > 0;
        }
        if (d > 0 && d <= kNear) steps.push_back(d);
      }
    }
    const std::vector<Group> groups = GroupsOf(number);
    for (std::size_t g = 1; g < groups.size(); ++g) {
      const Group& a = groups[g - 1];
      const Group& b = groups[g];
      if (a.position + a.highs.size() + 1 != b.position) continue;  // not consecutive
      ++group_pairs;
      const std::int64_t down = std::int64_t{a.highs[0]} - b.highs[0];
      stepping_down += down > 0 && down <= 5000;
    }
  }
  ASSERT_FALSE(steps.empty());
  std::sort(steps.begin(), steps.end());
  const std::size_t n = steps.size();
  const double median =
      n % 2 ? static_cast<double>(steps[n / 2]) : (steps[n / 2 - 1] + steps[n / 2]) / 2.0;
  EXPECT_EQ(median, 184.0);
  const auto large =
      std::count_if(steps.begin(), steps.end(), [](std::int64_t d) { return d > 3000; });
  EXPECT_LT(large * 20, static_cast<std::int64_t>(n)) << "clustered steps are rarely large";
  EXPECT_GT(ascending * 4, near_steps * 3) << "clustered values usually ascend";
  EXPECT_GT(read_twice * 2, clustered) << "most clustered values are read twice";
  EXPECT_GT(scattered_in_range * 2, scattered) << "scattered reads mostly lie in 100000..11000000";
  EXPECT_GT(stepping_down * 2, group_pairs) << "consecutive groups often step downwards";
}

// The figures above do not move when an unlisted value slips by a digit inside its record, so the
// exact data is pinned as well: FNV-1a (64 bit) over all entries of a1..a5 in order, each as four
// little-endian bytes. A deliberate regeneration prints the new value (tools/gen_traces.py).
TEST(ReadTracesTest, Fingerprint) {
  std::uint64_t hash = 14695981039346656037ull;
  for (int number = 1; number <= 5; ++number) {
    for (std::int32_t v : Trace(number)) {
      const auto bits = static_cast<std::uint32_t>(v);
      for (int k = 0; k < 4; ++k) {
        hash ^= (bits >> (8 * k)) & 0xffu;
        hash *= 1099511628211ull;
      }
    }
  }
  EXPECT_EQ(hash, 0xcae0b02238f212f5ull);
}

}  // namespace
}  // namespace sorel
