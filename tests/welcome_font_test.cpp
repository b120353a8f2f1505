// The labels' font choice with IPA (P)Gothic, VL (P)Gothic and Noto Sans CJK JP installed (the
// test's fontconfig file lists just their folders), drawn off screen.
#include "platform/qt/welcome_font.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>

#include "app/labels.h"
#include "disktest/messages.h"

namespace sorel {
namespace {

const QString kNoto = "Noto Sans CJK JP";

FittedText Shown(LabelId id, const char* text = nullptr) {
  for (const LabelLayout& label : kLabels) {
    if (label.id == id) {
      return {QString::fromUtf8(text ? text : label.caption).replace("\r\n", "\n"),
              QSize(label.width, label.height)};
    }
  }
  return {};
}

QFont Request(const QStringList& families, int points) {
  QFont font;
  font.setFamilies(families);
  font.setPointSize(points);
  return font;
}

// The largest size that shows the texts whole: one pixel more cuts them.
void ExpectLargestWhole(const QFont& font, const QList<FittedText>& texts) {
  EXPECT_TRUE(ShowsWhole(font, texts));
  QFont larger = font;
  larger.setPixelSize(QFontInfo(font).pixelSize() + 1);
  EXPECT_FALSE(ShowsWhole(larger, texts));
}

TEST(FittingFont, FacesThatFitComeFirstAndKeepTheRequestedSize) {
  const QList<FittedText> welcome = {Shown(LabelId::kLabel1)};
  EXPECT_FALSE(ShowsWhole(Request({kNoto}, 12), welcome));

  // Noto Sans CJK JP does not fit at 12 points, and the first family is not installed.
  QFont font =
      FittingFont(Request({kNoto, "ＭＳ Ｐゴシック", "VL PGothic", "IPAPGothic"}, 12), welcome);
  EXPECT_EQ(font.families(), QStringList({"VL PGothic", "IPAPGothic", kNoto, "ＭＳ Ｐゴシック"}));
  EXPECT_EQ(QFontInfo(font).family(), "VL PGothic");
  EXPECT_EQ(font.pointSize(), 12);
  EXPECT_TRUE(ShowsWhole(font, welcome));

  // IPAPGothic's five lines end on the label's last row but one: it fits as it is.
  font = FittingFont(Request({"IPAPGothic", kNoto}, 12), welcome);
  EXPECT_EQ(font.families(), QStringList({"IPAPGothic", kNoto}));
  EXPECT_EQ(font.pointSize(), 12);
  EXPECT_TRUE(ShowsWhole(font, welcome));

  const QList<FittedText> window = {Shown(LabelId::kLabel2), Shown(LabelId::kLabel3),
                                    Shown(LabelId::kLabel4, kProgressCaption)};
  font = FittingFont(Request({kNoto, "IPAPGothic"}, 9), window);
  EXPECT_EQ(QFontInfo(font).family(), "IPAPGothic");
  EXPECT_EQ(font.pointSize(), 9);
}

TEST(FittingFont, AFaceThatCannotFitIsScaledDownUntilNothingIsCut) {
  const QList<FittedText> welcome = {Shown(LabelId::kLabel1)};
  QFont font = FittingFont(Request({kNoto}, 12), welcome);
  EXPECT_EQ(QFontInfo(font).family(), kNoto);
  EXPECT_LT(QFontInfo(font).pixelSize(), 16);
  ExpectLargestWhole(font, welcome);

  // Noto's descenders reach Label3's last row at 9 points.
  const QList<FittedText> window = {Shown(LabelId::kLabel2), Shown(LabelId::kLabel3),
                                    Shown(LabelId::kLabel4, kProgressCaption)};
  font = FittingFont(Request({kNoto}, 9), window);
  EXPECT_LT(QFontInfo(font).pixelSize(), 12);
  ExpectLargestWhole(font, window);

  // Too wide rather than too high: the longest line is 445 pixels in IPAPGothic.
  QList<FittedText> narrow = welcome;
  narrow[0].box.setWidth(400);
  font = FittingFont(Request({"IPAPGothic"}, 12), narrow);
  EXPECT_EQ(QFontInfo(font).family(), "IPAPGothic");
  ExpectLargestWhole(font, narrow);
}

}  // namespace
}  // namespace sorel

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
