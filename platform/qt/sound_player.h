#pragma once

#include <QSoundEffect>
#include <map>
#include <memory>
#include <string>

namespace sorel {

// Plays short WAV files asynchronously; starting one stops any other still playing.
class SoundPlayer {
 public:
  void Play(const std::string& path);

 private:
  std::map<std::string, std::unique_ptr<QSoundEffect>> effects_;
};

}  // namespace sorel
