#include "platform/qt/sound_player.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace sorel {
namespace {

// Retrying a server that is not there costs a connection attempt per key otherwise.
constexpr auto kRetryInterval = std::chrono::seconds(1);

void Drop(pa_operation* operation) {
  if (operation) pa_operation_unref(operation);
}

// The core joins the program's folder and a sample's name with a backslash on every system.
std::string LocalPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

SoundPlayer::SoundPlayer(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    Pcm pcm;
    if (Decode(LocalPath(path), pcm)) samples_.emplace(LocalPath(path), std::move(pcm));
  }
  idle_timer_.setSingleShot(true);
  QObject::connect(&idle_timer_, &QTimer::timeout, [this] {
    pa_threaded_mainloop_lock(mainloop_);
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
      Drop(pa_stream_cork(stream_, 1, nullptr, nullptr));
    }
    pa_threaded_mainloop_unlock(mainloop_);
  });
  // Without a sample there is nothing to play: no stream then.
  if (samples_.empty()) return;
  rate_ = samples_.begin()->second.rate;
  channels_ = samples_.begin()->second.channels;
  Start();
}

SoundPlayer::~SoundPlayer() {
  if (!mainloop_) return;
  pa_threaded_mainloop_lock(mainloop_);
  Disconnect();
  pa_threaded_mainloop_unlock(mainloop_);
  pa_threaded_mainloop_stop(mainloop_);
  pa_threaded_mainloop_free(mainloop_);
}

bool SoundPlayer::Decode(const std::string& path, Pcm& pcm) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> data{std::istreambuf_iterator<char>(file), {}};
  auto u16 = [&](std::size_t at) { return data[at] | data[at + 1] << 8; };
  auto u32 = [&](std::size_t at) { return std::uint32_t(u16(at) | u16(at + 2) << 16); };
  if (data.size() < 12 || std::memcmp(data.data(), "RIFF", 4) != 0 ||
      std::memcmp(data.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  bool have_format = false;
  for (std::size_t at = 12; at + 8 <= data.size();) {
    const std::size_t body = at + 8;
    const std::size_t size = std::min<std::size_t>(u32(at + 4), data.size() - body);
    if (std::memcmp(data.data() + at, "fmt ", 4) == 0 && size >= 16) {
      // Plain PCM, 16 bits: what the samples are made in.
      if (u16(body) != 1 || u16(body + 14) != 16) return false;
      pcm.channels = u16(body + 2);
      pcm.rate = static_cast<int>(u32(body + 4));
      have_format = true;
    } else if (std::memcmp(data.data() + at, "data", 4) == 0 && have_format) {
      if (pcm.channels < 1 || pcm.channels > int{PA_CHANNELS_MAX} || pcm.rate < 1) return false;
      const std::size_t frame = 2 * static_cast<std::size_t>(pcm.channels);
      pcm.bytes.assign(data.begin() + body, data.begin() + body + size / frame * frame);
      return !pcm.bytes.empty();
    }
    at = body + size + (size & 1);
  }
  return false;
}

bool SoundPlayer::Start() {
  if (mainloop_) return true;
  mainloop_ = pa_threaded_mainloop_new();
  if (mainloop_ && pa_threaded_mainloop_start(mainloop_) == 0) {
    pa_threaded_mainloop_lock(mainloop_);
    Connect();
    pa_threaded_mainloop_unlock(mainloop_);
    return true;
  }
  if (mainloop_) pa_threaded_mainloop_free(mainloop_);
  mainloop_ = nullptr;
  return false;
}

void SoundPlayer::CloseStream() {
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void SoundPlayer::Disconnect() {
  CloseStream();
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }
}

void SoundPlayer::Connect() {
  Disconnect();
  connected_at_ = std::chrono::steady_clock::now();
  context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "SorelCheck");
  if (!context_) return;
  pa_context_set_state_callback(context_, OnContextState, this);
  // A failure shows in the context's state; never start a server of our own.
  pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

void SoundPlayer::OpenStream() {
  CloseStream();
  const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate_),
                              static_cast<std::uint8_t>(channels_)};
  stream_ = pa_stream_new(context_, "SorelCheck voice", &format, nullptr);
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, OnStreamState, this);
  // A short target latency, and no pre-buffering: a sound plays as soon as it is written.
  pa_buffer_attr attr;
  attr.maxlength = static_cast<std::uint32_t>(-1);
  attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(10'000, &format));
  attr.prebuf = 0;
  attr.minreq = static_cast<std::uint32_t>(-1);
  attr.fragsize = static_cast<std::uint32_t>(-1);
  pa_stream_connect_playback(
      stream_, nullptr, &attr,
      static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY), nullptr,
      nullptr);
}

void SoundPlayer::OnContextState(pa_context* context, void* self) {
  if (pa_context_get_state(context) == PA_CONTEXT_READY) {
    static_cast<SoundPlayer*>(self)->OpenStream();
  }
}

void SoundPlayer::OnStreamState(pa_stream* stream, void* self) {
  auto* player = static_cast<SoundPlayer*>(self);
  if (pa_stream_get_state(stream) != PA_STREAM_READY) return;
  if (player->pending_) {
    player->Write(*player->pending_);
    player->pending_ = nullptr;
  } else {
    // A little silence into the corked stream, dropped by the first sound: the server sets up
    // its side of the transfer now, so that the first key costs no more than a repeat.
    const std::vector<char> silence(pa_usec_to_bytes(10'000, pa_stream_get_sample_spec(stream)));
    pa_stream_write(stream, silence.data(), silence.size(), nullptr, 0, PA_SEEK_RELATIVE);
  }
}

void SoundPlayer::Write(const Pcm& pcm) {
  // Running and emptied before the write: data written where an empty running stream is now
  // makes the server mix it in at once, instead of after what it has mixed ahead already.
  Drop(pa_stream_cork(stream_, 0, nullptr, nullptr));
  Drop(pa_stream_flush(stream_, nullptr, nullptr));
  pa_stream_write(stream_, pcm.bytes.data(), pcm.bytes.size(), nullptr, 0,
                  PA_SEEK_RELATIVE_ON_READ);
}

void SoundPlayer::Play(const std::string& path) {
  const std::string local_path = LocalPath(path);
  auto found = samples_.find(local_path);
  if (found == samples_.end()) {
    // Not there at start, or not one of ours: load it now, and keep it once loaded.
    Pcm pcm;
    if (!Decode(local_path, pcm)) return;
    found = samples_.emplace(local_path, std::move(pcm)).first;
  }
  const Pcm& pcm = found->second;
  if (rate_ == 0) {
    rate_ = pcm.rate;
    channels_ = pcm.channels;
  }
  // The one stream plays one format.
  if (pcm.rate != rate_ || pcm.channels != channels_ || !Start()) return;

  pa_threaded_mainloop_lock(mainloop_);
  if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY) {
    Write(pcm);
  } else {
    pending_ = &pcm;
    const pa_context_state_t state = context_ ? pa_context_get_state(context_) : PA_CONTEXT_FAILED;
    if (state == PA_CONTEXT_READY &&
        (!stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))) {
      OpenStream();
    } else if (!PA_CONTEXT_IS_GOOD(state) &&
               std::chrono::steady_clock::now() - connected_at_ >= kRetryInterval) {
      Connect();  // the server went away, or was not there at start
    }
  }
  pa_threaded_mainloop_unlock(mainloop_);
  const auto frames = pcm.bytes.size() / (2 * static_cast<std::size_t>(pcm.channels));
  idle_timer_.start(static_cast<int>(frames * 1000 / pcm.rate) + 1000);
}

}  // namespace sorel
