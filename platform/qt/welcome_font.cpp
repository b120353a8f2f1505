#include "platform/qt/welcome_font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QPainter>

namespace sorel {
namespace {

bool ShowsWhole(const QFont& font, const FittedText& fitted) {
  // Drawn as a label draws it, on twice its box: whatever would be clipped still leaves ink.
  const QSize box = fitted.box;
  QImage image(box * 2, QImage::Format_Alpha8);
  image.fill(0);
  QPainter painter(&image);
  painter.setFont(font);
  painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignTop, fitted.text);
  painter.end();
  for (int y = 0; y < image.height(); ++y) {
    const uchar* row = image.constScanLine(y);
    for (int x = y < box.height() - 1 ? box.width() - 1 : 0; x < image.width(); ++x) {
      if (row[x] != 0) return false;
    }
  }
  return true;
}

QFont WithPixelSize(QFont font, int pixels) {
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

bool ShowsWhole(const QFont& font, const QList<FittedText>& texts) {
  // In pixels as the screen resolves it, so that the image's own resolution plays no part.
  const QFont on_screen = WithPixelSize(font, QFontInfo(font).pixelSize());
  for (const FittedText& fitted : texts) {
    if (!ShowsWhole(on_screen, fitted)) return false;
  }
  return true;
}

QFont FittingFont(const QFont& request, const QList<FittedText>& texts) {
  QStringList fitting, others;
  for (const QString& family : request.families()) {
    QFont face = request;
    face.setFamilies({family});
    const bool fits = QFontDatabase::hasFamily(family) && ShowsWhole(face, texts);
    (fits ? fitting : others).append(family);
  }
  QFont font = request;
  font.setFamilies(fitting + others);
  if (ShowsWhole(font, texts)) return font;

  const int requested = QFontInfo(font).pixelSize();
  QFont smaller = font;
  for (int pixels = requested - 1; pixels >= requested / 2; --pixels) {
    smaller = WithPixelSize(font, pixels);
    if (ShowsWhole(smaller, texts)) break;
  }
  return smaller;
}

}  // namespace sorel
