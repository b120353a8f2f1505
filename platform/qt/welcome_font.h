#pragma once

#include <QFont>
#include <QList>
#include <QSize>
#include <QString>

namespace sorel {

// A text that a label of size `box` must show whole (top-left aligned, not wrapped).
struct FittedText {
  QString text;
  QSize box;
};

// Whether every text shows whole in its box: no ink on or beyond the box's last row or column,
// where a cut line and a whole one look alike.
bool ShowsWhole(const QFont& font, const QList<FittedText>& texts);

// `request` with its installed families that show every text whole at the requested size put
// first (each group in the request's order), so that the size holds wherever such a face
// exists. Only when the face this resolves to still cuts a text is it scaled down, a pixel at a
// time, until none is cut.
QFont FittingFont(const QFont& request, const QList<FittedText>& texts);

}  // namespace sorel
