// The labels' font choice with IPA (P)Gothic, VL (P)Gothic and Noto Sans CJK JP installed (the
// test's fontconfig file lists just their folders), drawn off screen.
#include "platform/qt/welcome_font.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <string>
#include <tuple>

#include "app/labels.h"
#include "disktest/messages.h"
#include "platform/qt/message_box.h"

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

const QList<FittedText> kWelcome = {Shown(LabelId::kLabel1)};
const QList<FittedText> kOthers = {Shown(LabelId::kLabel2), Shown(LabelId::kLabel3),
                                   Shown(LabelId::kLabel4, kProgressCaption)};

// With several faces installed, those that fit the texts at the requested size come first (the
// first one asked for is not installed; Noto Sans CJK JP fits neither the welcome text at 12
// points nor, with its descenders on Label3's last row, the others at 9).
TEST(FittingFont, FacesThatFitComeFirstAndKeepTheRequestedSize) {
  QFont font =
      FittingFont(Request({kNoto, "ＭＳ Ｐゴシック", "VL PGothic", "IPAPGothic"}, 12), kWelcome);
  EXPECT_EQ(font.families(), QStringList({"VL PGothic", "IPAPGothic", kNoto, "ＭＳ Ｐゴシック"}));
  EXPECT_EQ(QFontInfo(font).family(), "VL PGothic");
  EXPECT_EQ(font.pointSize(), 12);
  EXPECT_TRUE(ShowsWhole(font, kWelcome));

  // IPAPGothic's five lines end on the label's last row but one: it fits as it is.
  font = FittingFont(Request({"IPAPGothic", kNoto}, 12), kWelcome);
  EXPECT_EQ(font.families(), QStringList({"IPAPGothic", kNoto}));
  EXPECT_EQ(font.pointSize(), 12);

  font = FittingFont(Request({kNoto, "IPAPGothic"}, 9), kOthers);
  EXPECT_EQ(QFontInfo(font).family(), "IPAPGothic");
  EXPECT_EQ(font.pointSize(), 9);
}

// A face that cannot fit is scaled down to the largest size that shows the texts whole: one
// pixel more cuts them. Too wide as well as too high: the longest welcome line is 445 pixels in
// IPAPGothic.
TEST(FittingFont, AFaceThatCannotFitIsScaledDownUntilNothingIsCut) {
  QList<FittedText> narrow = kWelcome;
  narrow[0].box.setWidth(400);
  const std::tuple<QString, int, QList<FittedText>> cases[] = {
      {kNoto, 12, kWelcome}, {kNoto, 9, kOthers}, {"IPAPGothic", 12, narrow}};
  for (const auto& [family, points, texts] : cases) {
    SCOPED_TRACE(family.toStdString() + " " + std::to_string(points));
    const QFont font = FittingFont(Request({family}, points), texts);
    EXPECT_EQ(QFontInfo(font).family(), family);
    EXPECT_LT(QFontInfo(font).pixelSize(), QFontInfo(Request({family}, points)).pixelSize());
    EXPECT_TRUE(ShowsWhole(font, texts));
    QFont larger = font;
    larger.setPixelSize(QFontInfo(font).pixelSize() + 1);
    EXPECT_FALSE(ShowsWhole(larger, texts));
  }
}

// Qt wraps a box's text at 500 px, mid-word in Japanese; the fix finds the box's text label
// under a name private to Qt, which a Qt release could change.
TEST(MessageBox, ShowsEveryLineOfTheLongestMessageWhole) {
  const QString text = QString::fromStdString(InstructionMessage()).replace('\r', '\n');
  QMessageBox box(QMessageBox::Information, "", text, QMessageBox::Ok);
  ASSERT_TRUE(KeepLinesWhole(box, text));
  box.show();
  QApplication::processEvents();
  const auto* label = box.findChild<QLabel*>("qt_msgbox_label");
  EXPECT_LT(label->height(), (text.count('\n') + 2) * label->fontMetrics().lineSpacing());
}

}  // namespace
}  // namespace sorel

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
