#pragma once

#include <string>

namespace sorel {

inline constexpr char kTestTitle[] = "動作確認";
inline constexpr char kFailureTitle[] = "エラーが発生しました";
inline constexpr char kApplicationTitle[] = "Project1";
inline constexpr char kProgressCaption[] = "ファイル作成中です...";

std::string StartMessage();
std::string ResultMessage(float elapsed_seconds);
std::string InstructionMessage();
std::string FailureMessage();
// What the user sees when an error escapes a window handler.
std::string UnhandledErrorMessage(int error_number);
// Japanese description of an error number, as shown to the user.
std::string ErrorDescription(int number);

// The elapsed time rounded to hundredths (halves to even) in plain form: "15", "12.5", "0.12".
std::string ElapsedTimeText(float seconds);

// end - start, across local midnight too.
float ElapsedSeconds(float start, float end);

}  // namespace sorel
