// The Linux back end's message box, drawn off screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include "disktest/messages.h"
#include "platform/qt/message_box.h"

namespace sorel {
namespace {

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
