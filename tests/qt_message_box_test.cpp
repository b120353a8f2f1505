#include <gtest/gtest.h>

#include <QLabel>

#include "disktest/messages.h"
#include "platform/qt/message_box.h"

// The Linux back end keeps each line of a message box whole by finding the box's text label
// under a name private to Qt: a Qt release that renames it would quietly bring back the
// mid-word wraps.
namespace sorel::testing {
namespace {

TEST(QtMessageBox, KeepsTheLongestInstructionLineWhole) {
  QString text = QString::fromStdString(InstructionMessage());
  text.replace('\r', '\n');
  QMessageBox box(QMessageBox::Information, "title", text, QMessageBox::Ok);
  ASSERT_TRUE(KeepLinesWhole(box, text));
  const auto* label = box.findChild<QLabel*>("qt_msgbox_label");
  int widest = 0;
  for (const QString& line : text.split('\n')) {
    widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
  }
  EXPECT_GT(label->minimumWidth(), widest);
}

}  // namespace
}  // namespace sorel::testing
