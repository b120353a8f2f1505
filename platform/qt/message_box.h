#pragma once

#include <QMessageBox>
#include <QString>

namespace sorel {

// Qt wraps anything wider than 500 px, which breaks Japanese lines mid-word: widens the box's
// text so that each line of `text` stays whole, as the lines were written. False when the
// box's text label could not be found (it has a private name that a Qt release could change).
bool KeepLinesWhole(QMessageBox& box, const QString& text);

}  // namespace sorel
