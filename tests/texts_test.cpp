#include <gtest/gtest.h>

#include <utility>

#include "disktest/messages.h"

// The rules behind the texts; the texts themselves are checked where the user meets them (the
// end-to-end runs read every one through the accessibility tree and the Windows driver).
namespace sorel {
namespace {

TEST(Texts, TheFigureIsRoundedToHundredthsHalvesToEvenInPlainForm) {
  const std::pair<float, const char*> cases[] = {
      {15.0f, "15"},          {12.5f, "12.5"},     {15.338f, "15.34"},
      {0.125f, "0.12"},       {0.375f, "0.38"},    {0.005f, "0"},
      {1234.567f, "1234.57"}, {3.0999999f, "3.1"}, {0.01f, "0.01"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(ElapsedTimeText(seconds), text) << seconds;
  // A test that starts before midnight and ends after it must not report a negative time.
  EXPECT_FLOAT_EQ(ElapsedSeconds(86399.5f, 1.25f), 1.75f);
  // A box's lines are joined by a bare CR, which each back end turns into its line break.
  EXPECT_EQ(ResultMessage(15.338f),
            "音声テストファイルを作成しました。\rファイル作成に15.34秒かかりました。");
}

}  // namespace
}  // namespace sorel
