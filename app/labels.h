#pragma once

#include "disktest/messages.h"
#include "platform/seam/platform.h"

namespace sorel {

inline constexpr char kWindowCaption[] = "Sorel動作確認";

// Pixel geometry at 96 dpi of the window's client area and its four labels.
inline constexpr int kClientWidth = 524;
inline constexpr int kClientHeight = 152;

inline constexpr LabelLayout kLabels[] = {
    {LabelId::kLabel1, LabelRole::kWelcomePanel, 8, 8, 505, 89, true,
     "Orvaneの案内へ ようこそ\r\n"
     "Orvaneは、Windowsの操作を 音声で案内するソフトです。\r\n"
     "Internet Explorerや Microsoft Word なども、音声でガイドします。\r\n"
     "お問い合わせは、ソルネ工房または、お近くの 販売店までどうぞ。\r\n"
     "この音声は、Sorel、ノエラがお届けしました！\r\n"},
    {LabelId::kLabel2, LabelRole::kText, 8, 104, 465, 25, true,
     "下矢印キーを押した後、すぐに音声が出力されるか調子を確認してください。"},
    {LabelId::kLabel3, LabelRole::kText, 8, 128, 385, 17, true, "Escapeキーで終了します。"},
    // The progress note: spoken as it shows, so that the wait for the test file is not silent.
    {LabelId::kLabel4, LabelRole::kAnnouncedWhenShown, 352, 128, 153, 17, false, "Label4",
     kProgressCaption},
};

// The welcome label's own font; the others use the window's.
inline constexpr char kWelcomeFontFamily[] = "ＭＳ Ｐゴシック";
inline constexpr int kWelcomeFontPoints = 12;

inline constexpr WindowLayout kWindowLayout{kWindowCaption, kClientWidth,       kClientHeight,
                                            kLabels,        kWelcomeFontFamily, kWelcomeFontPoints};

}  // namespace sorel
