#include "disktest/messages.h"

#include <charconv>
#include <cmath>
#include <initializer_list>

#include "platform/seam/run_error.h"

namespace sorel {
namespace {

// Message boxes join their lines with a bare CR; the back ends turn it into their line break.
std::string JoinLines(std::initializer_list<const char*> lines) {
  std::string prompt;
  for (const char* line : lines) {
    if (!prompt.empty()) prompt += '\r';
    prompt += line;
  }
  return prompt;
}

}  // namespace

std::string StartMessage() {
  return JoinLines(
      {"音声テストファイルを作成します。",
       "テストファイルの作成が早いパソコンほど、ハードディスクの性能が高いパソコンです。",
       "標準の作成時間は、15秒程度です。"});
}

std::string ResultMessage(float elapsed_seconds) {
  const std::string second_line =
      "ファイル作成に" + ElapsedTimeText(elapsed_seconds) + "秒かかりました。";
  return JoinLines({"音声テストファイルを作成しました。", second_line.c_str()});
}

std::string InstructionMessage() {
  return JoinLines(
      {"Sorelを実際に使った感じを体験してみましょう。",
       "下矢印キーを押すと、Sorelの音声でしゃべります。",
       "キーを押した後、すぐにしゃべるかどうか レスポンスを確認してください。",
       "２回目に同じ言葉をしゃべるときは、メモリにアクセスするため すぐにしゃべります。",
       "１回目と２回目の音声レスポンスの違いが少ないほど、高い性能のパソコンです。",
       "終了したいときはEscapeキーを押してください。"});
}

std::string FailureMessage() {
  return JoinLines({"音声テストファイルの作成に失敗しました。", "プログラムを終了します。"});
}

std::string UnhandledErrorMessage(int error_number) {
  const std::string first = "実行時エラー '" + std::to_string(error_number) + "':";
  return JoinLines({first.c_str(), "", ErrorDescription(error_number).c_str()});
}

std::string ErrorDescription(int number) {
  switch (number) {
    case kErrOverflow:
      return "オーバーフローしました。";
    case kErrOutOfMemory:
      return "メモリが不足しています。";
    case kErrBadFileNumber:
      return "ファイル名または番号が不正です。";
    case kErrDeviceIo:
      return "デバイス I/O エラーです。";
    case kErrDiskFull:
      return "ディスクの空き容量が不足しています。";
    case kErrBadRecordNumber:
      return "レコード番号が不正です。";
    case kErrPermissionDenied:
      return "書き込みできません。";
    case kErrPathAccess:
      return "パス名が無効です。";
    default:
      return "アプリケーション定義またはオブジェクト定義のエラーです。";
  }
}

std::string ElapsedTimeText(float seconds) {
  // Single precision throughout; nearbyint rounds exact halves to even in the default mode.
  float rounded = std::nearbyint(seconds * 100.0f) / 100.0f;
  if (rounded == 0.0f) rounded = 0.0f;  // never show "-0"
  char text[32];
  const auto result =
      std::to_chars(text, text + sizeof text, rounded, std::chars_format::general, 7);
  return std::string(text, result.ptr);
}

float ElapsedSeconds(float start, float end) {
  constexpr float kSecondsPerDay = 86400.0f;
  return end < start ? end + kSecondsPerDay - start : end - start;
}

}  // namespace sorel
