#pragma once

#include <QTimer>
#include <chrono>
#include <map>
#include <string>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace sorel {

// Plays short WAV files through one stream of the sound server, opened at start with the
// samples already decoded, so that a sound starts as soon as the server can play it and the
// first play costs no more than a repeat. Starting one cuts off any other still playing.
// Without a server, or with an unreadable file, it stays silent.
class SoundPlayer {
 public:
  // Decodes the files at `paths` and opens the stream. Paths may use '\' as their separator.
  explicit SoundPlayer(const std::vector<std::string>& paths);
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // Returns at once. The path may use '\' as its separator.
  void Play(const std::string& path);

 private:
  struct Pcm {
    int rate = 0;
    int channels = 0;
    std::vector<char> bytes;  // signed 16-bit little-endian frames
  };

  static bool Decode(const std::string& path, Pcm& pcm);
  bool Start();
  void CloseStream();
  void Disconnect();
  void Connect();
  void OpenStream();
  void Write(const Pcm& pcm);
  static void OnContextState(pa_context* context, void* self);
  static void OnStreamState(pa_stream* stream, void* self);

  std::map<std::string, Pcm> samples_;
  int rate_ = 0;  // the stream's format: that of the first sample decoded
  int channels_ = 0;
  pa_threaded_mainloop* mainloop_ = nullptr;
  // Guarded by the mainloop's lock.
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  const Pcm* pending_ = nullptr;  // asked for before the stream was ready
  std::chrono::steady_clock::time_point connected_at_;
  // Corks the stream once the last sound has played: an open idle stream would keep the
  // sound device awake.
  QTimer idle_timer_;
};

}  // namespace sorel
