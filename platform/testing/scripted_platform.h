#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace sorel {

class Form1;

// Thrown by EndProgram so a test can watch the program end without the process going away.
struct ProgramEnded {
  int exit_status;
};

// A back end without a screen: it records what the program shows and runs scripted user
// actions when the program lets events through or shows a message.
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

  // The form whose handlers this back end calls, as the window system would.
  void Attach(Form1& form) { form_ = &form; }

  // User actions that wait for the next time the program processes pending events.
  void QueueEvent(Action action) { pending_events_.push_back(std::move(action)); }
  // What the user does while message number `index` (from 0) is shown, before pressing OK.
  std::map<std::size_t, Action> while_message_shown;
  // Clock readings handed out in order, the last one repeating; the action runs at each
  // reading, e.g. to look at the test file as the timed span ends.
  std::vector<float> clock{0.0f};
  Action at_clock_reading;
  std::string program_folder = "C:\\Program Files\\SorelCheck";

  // Load and first activation (this runs the disk test), a key press, the window closed from
  // outside: as the window system delivers them, errors answered at the dispatch point.
  void StartProgram();
  void PressKey(std::int16_t key_code);
  void CloseWindow();

  // What the screen shows: "pointer code/Label1 on|off/Label4 shown|hidden caption".
  std::string Screen() const;
  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<std::string>& sounds() const { return sounds_; }
  bool window_loaded() const { return window_loaded_; }
  int events_processed() const { return events_processed_; }

  void SetLabelCaption(LabelId label, const std::string& text) override {
    if (label == LabelId::kLabel4) label4_caption_ = text;
  }
  void SetLabelVisible(LabelId label, bool visible) override {
    if (label == LabelId::kLabel4) label4_visible_ = visible;
  }
  void SetLabelEnabled(LabelId label, bool enabled) override {
    if (label == LabelId::kLabel1) label1_enabled_ = enabled;
  }
  void SetMousePointer(MousePointer pointer) override { pointer_ = pointer; }
  void ShowMessage(const std::string& prompt, MessageStyle style,
                   const std::string& title) override;
  void ProcessPendingEvents() override {
    ++events_processed_;
    for (Action& action : std::exchange(pending_events_, {})) action();
  }
  void DiscardTypeAhead() override {}
  void UnloadWindow() override;
  [[noreturn]] void EndProgram(int exit_status) override { throw ProgramEnded{exit_status}; }
  float SecondsSinceMidnight() override {
    if (at_clock_reading) at_clock_reading();
    return clock[std::min(clock_next_++, clock.size() - 1)];
  }
  std::string ProgramFolder() override { return program_folder; }
  void StartSound(const std::string& path) override { sounds_.push_back(path); }

 private:
  Form1* form_ = nullptr;
  std::deque<Action> pending_events_;
  std::size_t clock_next_ = 0;
  std::vector<Message> messages_;
  std::vector<std::string> sounds_;
  // The program changes only these: Label1's state and Label4's caption and visibility.
  bool label1_enabled_ = true;
  bool label4_visible_ = false;
  std::string label4_caption_ = "Label4";
  MousePointer pointer_ = MousePointer::kDefault;
  bool window_loaded_ = true;
  int events_processed_ = 0;
};

}  // namespace sorel
