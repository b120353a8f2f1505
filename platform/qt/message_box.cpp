#include "platform/qt/message_box.h"

#include <QLabel>
#include <algorithm>

namespace sorel {

bool KeepLinesWhole(QMessageBox& box, const QString& text) {
  auto* label = box.findChild<QLabel*>("qt_msgbox_label");
  if (label == nullptr) return false;
  int widest = 0;
  for (const QString& line : text.split('\n')) {
    widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
  }
  label->setMinimumWidth(widest + 2);
  return true;
}

}  // namespace sorel
