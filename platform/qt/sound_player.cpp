#include "platform/qt/sound_player.h"

#include <QUrl>

namespace sorel {

void SoundPlayer::Play(const std::string& path) {
  // The form builds the path with backslashes, the separator of its home system.
  QString local_path = QString::fromStdString(path);
  local_path.replace('\\', '/');

  for (auto& [other_path, effect] : effects_) effect->stop();
  auto& effect = effects_[path];
  if (!effect) {
    // Kept after the first use, so a repeat starts without loading the file again.
    effect = std::make_unique<QSoundEffect>();
    effect->setSource(QUrl::fromLocalFile(local_path));
  }
  effect->play();
}

}  // namespace sorel
