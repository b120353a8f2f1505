#pragma once

// The scripted back end: a window without a screen, for the unit tests.
//   Events:      the test delivers them (PressKey, CloseWindow) or queues user
//                actions that run when the program next processes pending events; calls the
//                core defers run then too, and in RunEventLoop, which returns once nothing is
//                left to deliver.
//   Type-ahead:  dropping it delivers the queued actions, as the real back ends serve a close
//                that came meanwhile; the core does not act on the keys among them.
//   Files:       the real file layer of the system it is built for, on a temp folder.
//   Sound:       records the paths it is asked to play; a missing sample is not noticed.
//   Ending:      EndProgram throws ProgramEnded instead of ending the process.

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/seam/platform.h"
#include "platform/seam/window_events.h"

namespace sorel {

// Thrown by EndProgram so a test can watch the program end without the process going away.
struct ProgramEnded {
  int exit_status;
};

// It records what the program shows and runs scripted user actions when the program lets
// events through or shows a message.
class ScriptedPlatform : public Platform {
 public:
  struct Message {
    std::string prompt;
    MessageStyle style;
    std::string title;
    std::string screen;  // what the window showed meanwhile, as Screen() gives it
    bool operator==(const Message&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Message& m) {
      return out << m.title << " " << static_cast<int>(m.style) << " over " << m.screen << ": "
                 << m.prompt;
    }
  };
  using Action = std::function<void()>;

  // User actions that wait for the next time the program processes pending events.
  void QueueEvent(Action action) { pending_events_.push_back(std::move(action)); }
  // What the user does while message number `index` (from 0) is shown, before pressing OK.
  std::map<std::size_t, Action> while_message_shown;
  // Clock readings handed out in order, the last one repeating; the action runs at each
  // reading, e.g. to look at the test file as the timed span ends.
  std::vector<float> clock{0.0f};
  Action at_clock_reading;
  std::string program_folder = "C:\\Program Files\\SorelCheck";

  // A key press and the window closed from outside, as the window system reports them.
  void PressKey(std::int16_t key_code);
  void CloseWindow();

  // What the screen shows: "pointer code/welcome panel on|off/announced label shown|hidden
  // caption".
  std::string Screen() const;
  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<std::string>& sounds() const { return sounds_; }
  bool window_open() const { return window_open_; }
  int windows_ended() const { return windows_ended_; }
  int events_processed() const { return events_processed_; }
  // How often the window was served during a long job.
  int window_served() const { return window_served_; }

  void ShowAndActivate() override;
  void RunEventLoop() override { DeliverQueued(); }
  void EndWindow() override {
    window_open_ = false;
    ++windows_ended_;
  }
  void CallFromEventLoop(std::function<void()> call) override {
    deferred_calls_.push_back(std::move(call));
  }
  void SetLabelCaption(LabelId label, const std::string& text) override {
    if (label == announced_) announced_caption_ = text;
  }
  void SetLabelVisible(LabelId label, bool visible) override {
    if (label == announced_) announced_visible_ = visible;
  }
  void SetLabelEnabled(LabelId label, bool enabled) override {
    if (label == welcome_) welcome_enabled_ = enabled;
  }
  void SetMousePointer(MousePointer pointer) override { pointer_ = pointer; }
  void ShowMessage(const std::string& prompt, MessageStyle style,
                   const std::string& title) override;
  // Calls the core deferred run first: they were queued by what happened before.
  void ProcessPendingEvents() override {
    ++events_processed_;
    for (Action& call : std::exchange(deferred_calls_, {})) call();
    for (Action& action : std::exchange(pending_events_, {})) action();
  }
  void KeepWindowAnswering() override {
    ++window_served_;
    ProcessPendingEvents();
  }
  // As the real ones: what came is delivered (a close is served, the core drops the keys).
  void DiscardTypeAhead() override { ProcessPendingEvents(); }
  [[noreturn]] void EndProgram(int exit_status) override { throw ProgramEnded{exit_status}; }
  float SecondsSinceMidnight() override {
    if (at_clock_reading) at_clock_reading();
    return clock[std::min(clock_next_++, clock.size() - 1)];
  }
  std::string ProgramFolder() override { return program_folder; }
  void PrepareSounds(const std::vector<std::string>&) override {}
  void StartSound(const std::string& path) override { sounds_.push_back(path); }

 private:
  void OpenWindowImpl(const WindowLayout& layout) override;
  void DeliverQueued() {
    while (!deferred_calls_.empty() || !pending_events_.empty()) ProcessPendingEvents();
  }

  std::deque<Action> pending_events_;
  std::deque<Action> deferred_calls_;
  std::size_t clock_next_ = 0;
  std::vector<Message> messages_;
  std::vector<std::string> sounds_;
  // The program changes only these: the welcome panel's state and the announced label's
  // caption and visibility.
  LabelId welcome_{}, announced_{};
  bool welcome_enabled_ = true;
  bool announced_visible_ = false;
  std::string announced_caption_;
  MousePointer pointer_ = MousePointer::kDefault;
  bool window_open_ = false;
  int windows_ended_ = 0;
  int events_processed_ = 0;
  int window_served_ = 0;
};

}  // namespace sorel
