#include <gtest/gtest.h>

#include "disktest/messages.h"

namespace sorel {
namespace {

TEST(ElapsedTimeText, RoundsToHundredthsHalvesToEvenInPlainForm) {
  const struct {
    float seconds;
    const char* text;
  } cases[] = {
      {15.0f, "15"},       {12.5f, "12.5"}, {15.338f, "15.34"}, {0.125f, "0.12"},
      {0.375f, "0.38"},    {0.004f, "0"},   {0.0f, "0"},        {1234.567f, "1234.57"},
      {3.0999999f, "3.1"}, {0.01f, "0.01"}, {2.5f, "2.5"},      {0.005f, "0"},
  };
  for (const auto& c : cases) EXPECT_EQ(ElapsedTimeText(c.seconds), c.text) << c.seconds;
}

TEST(ElapsedSeconds, PlainDifferenceAndAcrossMidnight) {
  EXPECT_FLOAT_EQ(ElapsedSeconds(100.0f, 115.0f), 15.0f);
  EXPECT_FLOAT_EQ(ElapsedSeconds(7.5f, 7.5f), 0.0f);
  // A test that starts before midnight and ends after it must not report a negative time.
  EXPECT_FLOAT_EQ(ElapsedSeconds(86399.5f, 1.25f), 1.75f);
  EXPECT_EQ(ElapsedTimeText(ElapsedSeconds(86395.0f, 10.0f)), "15");
}

TEST(Messages, ResultLineEmbedsTheTimeText) {
  EXPECT_EQ(ResultMessage(15.338f),
            "音声テストファイルを作成しました。\rファイル作成に15.34秒かかりました。");
  EXPECT_EQ(UnhandledErrorMessage(6), "実行時エラー '6':\r\rオーバーフローしました。");
}

}  // namespace
}  // namespace sorel
