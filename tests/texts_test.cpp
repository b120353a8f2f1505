#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/labels.h"
#include "disktest/messages.h"
#include "platform/seam/run_error.h"

// What the user reads, byte for byte, checked here and nowhere else: the other tests and the
// end-to-end runs compare against what these functions and tables give.
namespace sorel {
namespace {

TEST(Texts, ExactlyAsTheUserReadsThem) {
  // The elapsed time: to hundredths, halves to even, in plain form.
  const std::pair<float, const char*> cases[] = {
      {15.0f, "15"},          {12.5f, "12.5"},     {15.338f, "15.34"},
      {0.125f, "0.12"},       {0.375f, "0.38"},    {0.005f, "0"},
      {1234.567f, "1234.57"}, {3.0999999f, "3.1"}, {0.01f, "0.01"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(ElapsedTimeText(seconds), text) << seconds;
  // A test that starts before midnight and ends after it must not report a negative time.
  EXPECT_FLOAT_EQ(ElapsedSeconds(86399.5f, 1.25f), 1.75f);
  EXPECT_EQ(StartMessage(),
            "音声テストファイルを作成します。\r"
            "テストファイルの作成が早いパソコンほど、ハードディスクの性能が高いパソコンです。\r"
            "標準の作成時間は、15秒程度です。");
  EXPECT_EQ(ResultMessage(15.338f),
            "音声テストファイルを作成しました。\rファイル作成に15.34秒かかりました。");
  EXPECT_EQ(InstructionMessage(),
            "Sorelを実際に使った感じを体験してみましょう。\r"
            "下矢印キーを押すと、Sorelの音声でしゃべります。\r"
            "キーを押した後、すぐにしゃべるかどうか レスポンスを確認してください。\r"
            "２回目に同じ言葉をしゃべるときは、メモリにアクセスするため すぐにしゃべります。\r"
            "１回目と２回目の音声レスポンスの違いが少ないほど、高い性能のパソコンです。\r"
            "終了したいときはEscapeキーを押してください。");
  EXPECT_EQ(FailureMessage(), "音声テストファイルの作成に失敗しました。\rプログラムを終了します。");
  EXPECT_EQ(UnhandledErrorMessage(kErrOverflow), "実行時エラー '6':\r\rオーバーフローしました。");
  EXPECT_EQ(UnhandledErrorMessage(kErrBadRecordNumber),
            "実行時エラー '63':\r\rレコード番号が不正です。");
  EXPECT_EQ((std::vector<std::string>{kTestTitle, kFailureTitle, kApplicationTitle}),
            (std::vector<std::string>{"動作確認", "エラーが発生しました", "Project1"}));
  // The box's icon as Windows takes it.
  EXPECT_EQ(static_cast<int>(MessageStyle::kInformation), 64);
  EXPECT_EQ(static_cast<int>(MessageStyle::kCritical), 16);
  EXPECT_EQ(
      (std::vector<std::string>{kWindowCaption, kProgressCaption, kWelcomeFontFamily}),
      (std::vector<std::string>{"Sorel動作確認", "ファイル作成中です...", "ＭＳ Ｐゴシック"}));
  EXPECT_EQ(std::tuple(kClientWidth, kClientHeight, kWelcomeFontPoints), std::tuple(524, 152, 12));
  std::ostringstream labels;
  for (const LabelLayout& l : kLabels) {
    labels << static_cast<int>(l.id) << " " << l.left << "," << l.top << " " << l.width << "x"
           << l.height << (l.visible_at_start ? " shown " : " hidden ") << l.caption << "|";
  }
  EXPECT_EQ(
      labels.str(),
      "1 8,8 505x89 shown Orvaneの案内へ ようこそ\r\n"
      "Orvaneは、Windowsの操作を 音声で案内するソフトです。\r\n"
      "Internet Explorerや Microsoft Word なども、音声でガイドします。\r\n"
      "お問い合わせは、ソルネ工房または、お近くの 販売店までどうぞ。\r\n"
      "この音声は、Sorel、ノエラがお届けしました！\r\n|"
      "2 8,104 465x25 shown 下矢印キーを押した後、すぐに音声が出力されるか調子を確認してください。|"
      "3 8,128 385x17 shown Escapeキーで終了します。|4 352,128 153x17 hidden Label4|");
}

}  // namespace
}  // namespace sorel
