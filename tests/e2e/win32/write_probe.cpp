// While SorelCheck writes its test file to a slow disk, asks its window what Windows asks before
// it calls a window hung (WM_NULL, abort if hung, 250 ms), listens for the progress label's
// live-region event, and in the second scenario closes the window mid-write. Started by
// run_e2e.py in place of the driver, under slow_c_drive.sh.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/labels.h"
#include "disktest/messages.h"
#include "disktest/test_file.h"
#include "platform/win32/text.h"

namespace {

using sorel::Utf16FromUtf8;

constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED
constexpr UINT kAnswerWithin = 250;           // ms
// Shorter writes would say little about a pump that runs between 1 MiB pieces.
constexpr double kShortestWrite = 3.0;  // s
PROCESS_INFORMATION program{};
int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s - %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  failures += ok ? 0 : 1;
}

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool TestFileExists() {
  return GetFileAttributesW(Utf16FromUtf8(sorel::kTestFilePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The program's visible top-level window of this class, or null.
HWND WindowOf(const wchar_t* class_name, const wchar_t* title = nullptr) {
  for (HWND at = nullptr; (at = FindWindowExW(nullptr, at, class_name, title));) {
    DWORD process = 0;
    GetWindowThreadProcessId(at, &process);
    if (process == program.dwProcessId && IsWindowVisible(at)) return at;
  }
  return nullptr;
}

template <typename Condition>
bool WaitFor(Condition condition, double seconds) {
  for (const double end = Now() + seconds; !condition(); Sleep(2)) {
    if (Now() >= end) return false;
  }
  return true;
}

// Live-region events of the program's windows, with the text their window showed then.
struct Announcement {
  HWND window;
  LONG object, child;
  std::wstring text;
  bool visible;
};
std::vector<Announcement> announcements;

void CALLBACK OnLiveRegion(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                           DWORD) {
  wchar_t text[256] = {};
  InternalGetWindowText(window, text, 256);  // from the window system: the program is busy
  announcements.push_back({window, object, child, text, IsWindowVisible(window) != FALSE});
}

void DeliverEvents() {  // out-of-context events come as messages to this thread
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

struct Answers {
  int asked = 0, late = 0;
  double longest_gap = 0;      // s without an answer
  double longest_gap_end = 0;  // when it ended
};

// Asks the window again and again until `done`.
template <typename Condition>
Answers AskUntil(HWND window, Condition done) {
  Answers answers;
  double last_answer = Now();
  const auto gap_until = [&](double now) {
    if (now - last_answer <= answers.longest_gap) return;
    answers.longest_gap = now - last_answer;
    answers.longest_gap_end = now;
  };
  while (!done()) {
    DWORD_PTR result = 0;
    const double asked_at = Now();
    const bool answered =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerWithin, &result) != 0;
    const double now = Now();
    ++answers.asked;
    if (!answered || now - asked_at > kAnswerWithin / 1000.0) ++answers.late;
    if (answered) {
      gap_until(now);
      last_answer = now;
    }
    DeliverEvents();
    Sleep(5);
  }
  gap_until(Now());  // a silence that lasts to the end
  return answers;
}

void Report(const Answers& answers, double start, double seconds) {
  char line[160];
  std::snprintf(line, sizeof line,
                "asked %d times in %.1f s of writing, %d not answered within %u ms, longest "
                "gap %.0f ms, ending %.1f s into the write",
                answers.asked, seconds, answers.late, kAnswerWithin, answers.longest_gap * 1000,
                answers.longest_gap_end - start);
  Check(answers.asked > 0 && answers.late == 0, line);
}

// The Windows version Wine tells SorelCheck.exe, for as long as this lives.
class RunningAs {
 public:
  explicit RunningAs(const wchar_t* version) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Version", REG_SZ, version,
                    static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
  }
  ~RunningAs() { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }

 private:
  static constexpr wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\SorelCheck.exe";
};

int Run(const std::wstring& scenario, std::wstring path) {
  // Live regions are spoken from Windows 8 on: the first scenario runs as Windows 10, the
  // second as Windows 7, where the program must announce nothing.
  const bool windows10 = scenario == L"answers-writing";
  const RunningAs version(windows10 ? L"win10" : L"win7");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, path.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &program)) {
    Check(false, "SorelCheck starts");
    return 1;
  }
  const HWINEVENTHOOK hook =
      SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, OnLiveRegion,
                      program.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
  const std::wstring caption = Utf16FromUtf8(sorel::kWindowCaption);
  HWND window = nullptr, box = nullptr;
  const bool started = WaitFor(
      [&] {
        return (window = WindowOf(caption.c_str(), caption.c_str())) && (box = WindowOf(L"#32770"));
      },
      60);
  if (!started) {
    Check(false, "the window and its start message");
    TerminateProcess(program.hProcess, 99);
    return 1;
  }
  PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  WaitFor(TestFileExists, 30);
  const double write_start = Now();

  if (windows10) {
    HWND progress = GetDlgItem(window, static_cast<int>(sorel::LabelId::kLabel4));
    // Until the progress label goes, which it does as soon as the figure is taken.
    const Answers answers = AskUntil(window, [&] { return !IsWindowVisible(progress); });
    const double seconds = Now() - write_start;
    Report(answers, write_start, seconds);
    Check(seconds >= kShortestWrite, "the write lasted " + std::to_string(seconds) + " s");
    DeliverEvents();
    const Announcement* got = announcements.size() == 1 ? &announcements.front() : nullptr;
    Check(got && got->window == progress && got->object == OBJID_CLIENT &&
              got->child == CHILDID_SELF && got->visible &&
              got->text == Utf16FromUtf8(sorel::kProgressCaption),
          "one live-region event, from the progress label showing its text (" +
              std::to_string(announcements.size()) + " events)");
    PostMessageW(window, WM_CLOSE, 0, 0);
    WaitForSingleObject(program.hProcess, 20000);
    Check(WaitFor([] { return !TestFileExists(); }, 10), "no test file left");
  } else {  // close-writing
    AskUntil(window, [&] { return Now() - write_start > 1.0; });
    const bool still_writing = TestFileExists() && !WindowOf(L"#32770");
    const double closed_at = Now();
    PostMessageW(window, WM_CLOSE, 0, 0);  // as the task bar would
    bool box_seen = false;
    WaitFor(
        [&] {
          box_seen = box_seen || WindowOf(L"#32770");
          return WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0;
        },
        10);
    const double took = Now() - closed_at;
    char line[96];
    std::snprintf(line, sizeof line, "closed mid-write, the program ended after %.0f ms",
                  took * 1000);
    Check(still_writing && took <= 1.0, line);
    Check(!box_seen, "no message box on the way out");
    Check(!TestFileExists(), "the test file went with it");
    Check(announcements.empty(), "as Windows 7, no live-region event");
  }
  UnhookWinEvent(hook);
  DWORD status = 0;
  GetExitCodeProcess(program.hProcess, &status);
  Check(status == 0, "exit status " + std::to_string(status));
  return failures == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 3) {
    Check(false, "usage: write_probe answers-writing|close-writing PATH\\SorelCheck.exe");
    return 2;
  }
  return Run(argv[1], argv[2]);
}
