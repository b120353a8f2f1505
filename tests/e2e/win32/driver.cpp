// Drives SorelCheck.exe as a user would, checking what the user sees against the program's own
// texts. run_e2e.py answers what only the host sees: sound, screen, the process, loaded DLLs.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/labels.h"
#include "disktest/messages.h"
#include "disktest/test_file.h"
#include "platform/win32/text.h"
#include "voicetest/samples.h"

namespace {

using sorel::LabelId;
using sorel::Utf16FromUtf8;

constexpr wchar_t kBox[] = L"#32770";
constexpr long long kFullSize = sorel::kRecordLength * sorel::kRecordWritten;
const std::wstring kTestFile = Utf16FromUtf8(sorel::kTestFilePath);
PROCESS_INFORMATION program{};
int failures = 0;

bool Check(bool ok, const std::wstring& what) {
  std::printf("%s - %s\n", ok ? "ok  " : "FAIL", sorel::Utf8FromUtf16(what).c_str());
  std::fflush(stdout);
  failures += ok ? 0 : 1;
  return ok;
}
bool Check(bool ok, const std::string& what) { return Check(ok, Utf16FromUtf8(what)); }

[[noreturn]] void Abort(const std::wstring& reason) {
  Check(false, reason);
  if (program.hProcess) TerminateProcess(program.hProcess, 99);
  std::exit(1);
}

// Asks run_e2e.py, which answers "ok", "no", or "skip REASON" when this machine cannot tell.
std::string HostsAnswer(const std::string& question) {
  std::printf("? %s\n", question.c_str());
  std::fflush(stdout);
  char answer[256] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return "no";
  return std::string(answer, std::strcspn(answer, "\r\n"));
}
bool AskHost(const std::string& question) { return HostsAnswer(question) == "ok"; }

void CheckOnHost(const std::string& question, const std::wstring& what) {
  const std::string answer = HostsAnswer(question);
  if (!answer.starts_with("skip ")) {
    Check(answer == "ok", what);
  } else {  // the test command lists it with the passing test
    std::printf("SKIPPED: %s: %s\n", sorel::Utf8FromUtf16(what).c_str(), answer.c_str() + 5);
  }
}

template <typename Condition>
bool WaitFor(Condition condition, DWORD timeout_ms = 60000) {
  for (const ULONGLONG end = GetTickCount64() + timeout_ms; !condition(); Sleep(2)) {
    if (GetTickCount64() >= end) return false;
  }
  return true;
}

std::wstring TextOf(HWND window) {  // from the window system: the program may be busy
  wchar_t text[2048] = {};
  InternalGetWindowText(window, text, 2048);
  return text;
}

// The program's visible top-level window of this class; Abort() if a timeout passes without one.
HWND WindowOf(const wchar_t* class_name, DWORD timeout_ms = 0) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        for (HWND at = nullptr; (at = FindWindowExW(nullptr, at, class_name, nullptr));) {
          DWORD process = 0;
          GetWindowThreadProcessId(at, &process);
          if (process == program.dwProcessId && IsWindowVisible(at)) return (found = at) != 0;
        }
        return false;
      },
      timeout_ms);
  if (found == nullptr && timeout_ms > 0) Abort(std::wstring(L"no window ") + class_name);
  return found;
}

HWND Label(HWND window, LabelId id) { return GetDlgItem(window, static_cast<int>(id)); }

// Label1 enabled or not, Label4 shown or not and always with its progress text.
bool Shows(HWND window, bool welcome_enabled, bool progress_shown) {
  HWND progress = Label(window, LabelId::kLabel4);
  return (IsWindowEnabled(Label(window, LabelId::kLabel1)) != 0) == welcome_enabled &&
         ((GetWindowLongW(progress, GWL_STYLE) & WS_VISIBLE) != 0) == progress_shown &&
         TextOf(progress) == Utf16FromUtf8(sorel::kProgressCaption);
}

void CheckBox(HWND box, HWND owner, const std::string& title, const std::string& text) {
  Check(TextOf(box) == Utf16FromUtf8(title) &&
            TextOf(GetDlgItem(box, 0xFFFF)) == Utf16FromUtf8(text) &&
            GetWindow(box, GW_OWNER) == owner && GetDlgItem(box, IDOK) &&
            !GetDlgItem(box, IDCANCEL),
        L"message box " + TextOf(box) + L": text, owned by the window, OK only");
}

void PressOk(HWND box) {
  PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  if (!WaitFor([&] { return !IsWindow(box); }, 10000)) Abort(L"the message box stayed");
}

// Keys as a user's come, through the system's input path, for whatever has the focus when they
// are taken: pressed in order and let go in reverse, so {VK_MENU, VK_F4} is Alt+F4.
void PressKeys(HWND in_front, std::initializer_list<WORD> keys) {
  const auto front = [&] {  // SetForegroundWindow takes effect later
    return GetForegroundWindow() == in_front || (SetForegroundWindow(in_front), false);
  };
  if (!WaitFor(front, 5000)) Abort(L"the window never came to the front");
  std::vector<INPUT> inputs;
  const auto add = [&](WORD key, DWORD up) {
    INPUT& input = inputs.emplace_back();
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up | (key == VK_DOWN || key == VK_UP ? KEYEVENTF_EXTENDEDKEY : 0);
  };
  for (const WORD key : keys) add(key, 0);
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) add(*key, KEYEVENTF_KEYUP);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
void PressKey(HWND in_front, WORD key) { PressKeys(in_front, {key}); }

// A click of the left button at a point of the screen, as the mouse makes it.
void ClickAt(POINT at) {
  SetCursorPos(at.x, at.y);
  INPUT click[2] = {};
  click[0].type = click[1].type = INPUT_MOUSE;
  click[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  click[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, click, sizeof(INPUT));
}

// The caption's close button, as the window's own hit test places it: the middle of the run of
// HTCLOSE along the caption's middle row.
POINT CloseButtonOf(HWND window) {
  RECT frame{};
  GetWindowRect(window, &frame);
  const long y = frame.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
  long sum = 0, count = 0;
  for (long x = frame.right - 96; x < frame.right; ++x) {
    DWORD_PTR hit = HTNOWHERE;
    SendMessageTimeoutW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, 1000, &hit);
    if (hit == HTCLOSE) sum += x, ++count;
  }
  if (count == 0) Abort(L"no close button on the caption");
  return {sum / count, y};
}

// A user's own c:\temp.txt holds zeros up to its size but for one byte somewhere, its mark; an
// earlier run's holds zeros only, and carries a date long past.
constexpr char kMark = 'x';
constexpr long long kNoMark = -1;
constexpr FILETIME kLongAgo{0x256D4000, 0x01BF53EB};  // 2000-01-01

OVERLAPPED At(long long offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

void PlantTestFile(long long size, long long mark_at) {
  const HANDLE file = CreateFileW(kTestFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  LARGE_INTEGER end{};
  end.QuadPart = size;
  OVERLAPPED mark = At(mark_at);
  const bool made = file != INVALID_HANDLE_VALUE &&
                    SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file) &&
                    (mark_at == kNoMark ? SetFileTime(file, nullptr, nullptr, &kLongAgo)
                                        : WriteFile(file, &kMark, 1, &written, &mark));
  CloseHandle(file);
  if (!made) Abort(L"cannot plant c:\\temp.txt");
}

bool TestFileMarked(long long mark_at) {
  const HANDLE file = CreateFileW(kTestFile.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  char mark = 0;
  DWORD got = 0;
  OVERLAPPED at = At(mark_at);
  const bool read = ReadFile(file, &mark, 1, &got, &at);
  CloseHandle(file);
  return read && got == 1 && mark == kMark;
}

bool TestFileDatedLongAgo() {
  WIN32_FILE_ATTRIBUTE_DATA file{};
  return GetFileAttributesExW(kTestFile.c_str(), GetFileExInfoStandard, &file) &&
         CompareFileTime(&file.ftLastWriteTime, &kLongAgo) == 0;
}

long long TestFileSize() {
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (!GetFileAttributesExW(kTestFile.c_str(), GetFileExInfoStandard, &file)) return -1;
  return static_cast<long long>(file.nFileSizeHigh) << 32 | file.nFileSizeLow;
}

// The screen inside Label1: text in this system colour on the window colour.
void CheckColours(HWND window, int text_colour, const wchar_t* what) {
  RECT at{};
  GetWindowRect(Label(window, LabelId::kLabel1), &at);
  char question[96];
  std::snprintf(question, sizeof question, "SHOT %ld %ld %ld %ld %06lx %06lx", at.left, at.top,
                at.right - at.left, at.bottom - at.top, GetSysColor(text_colour),
                GetSysColor(COLOR_WINDOW));
  CheckOnHost(question, what);
}

// From the start message to the instruction message closed, with what a user meets on the way.
void RunDiskTest(HWND window) {
  HWND box = WindowOf(kBox, 30000);
  CheckBox(box, window, sorel::kTestTitle, sorel::StartMessage());
  Check(GetSysColor(COLOR_WINDOW) == 0 && GetSysColor(COLOR_WINDOWTEXT) == 0xFFFFFF,
        L"high contrast: white window text on black");
  SetWindowPos(box, nullptr, 0, 400, 0, 0, SWP_NOSIZE | SWP_NOZORDER);  // off Label1
  Sleep(500);
  CheckColours(window, COLOR_GRAYTEXT, L"the disabled welcome text in the grey text colour");
  PressOk(box);

  WaitFor([&] { return Shows(window, false, true) && TestFileSize() > 0; });
  PressKey(window, VK_RETURN);
  Check(TestFileSize() < kFullSize && !WindowOf(kBox), L"Return pressed during the write");
  box = WindowOf(kBox, 60000);
  CheckOnHost("FLUSHED", L"the whole test file on the disk when the result shows");
  // The result's text around the time, from the program's message for 12.5 s.
  const std::wstring sample = Utf16FromUtf8(sorel::ResultMessage(12.5f));
  const std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
  Check(text.starts_with(sample.substr(0, sample.find(L"12.5"))) &&
            text.ends_with(sample.substr(sample.find(L"12.5") + 4)) && Shows(window, false, false),
        L"result message, progress hidden: " + text);
  Sleep(500);
  Check(IsWindow(box), L"the Return typed during the write left the result open");
  PressKey(box, VK_RETURN);
  Check(WaitFor([&] { return !IsWindow(box); }, 5000), L"the next Return closes it");

  box = WindowOf(kBox, 10000);
  CheckBox(box, window, sorel::kTestTitle, sorel::InstructionMessage());
  PressOk(box);
  Check(WaitFor([&] { return Shows(window, true, false); }), L"ready for keys");
  Sleep(300);
  CheckColours(window, COLOR_WINDOWTEXT, L"the welcome text in the window-text colour");
}

HWND Start(std::wstring path) {  // returns the main window
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, path.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &program)) {
    Abort(L"cannot start " + path);
  }
  return WindowOf(Utf16FromUtf8(sorel::kWindowCaption).c_str(), 60000);
}

DWORD ExitStatus() {
  DWORD status = 0;
  // One still running has failed already; it must not hold c:\temp.txt for the next case.
  if (WaitForSingleObject(program.hProcess, 20000) == WAIT_TIMEOUT) {
    TerminateProcess(program.hProcess, STILL_ACTIVE);
    WaitForSingleObject(program.hProcess, 5000);
  }
  GetExitCodeProcess(program.hProcess, &status);
  return status;
}

// Somebody's c:\temp.txt stays and the test fails: small, a byte over the test file's size, or of
// its size but with a mark at its start or in its last MiB.
void RunOverForeignFiles(const std::wstring& path) {
  for (const auto& [size, mark_at] : {std::pair{10LL, 0LL},
                                      {kFullSize + 1, 0LL},
                                      {kFullSize, 0LL},
                                      {kFullSize, kFullSize - 300'000}}) {
    PlantTestFile(size, mark_at);
    HWND window = Start(path);
    PressOk(WindowOf(kBox, 30000));
    HWND box = WindowOf(kBox, 60000);
    CheckBox(box, window, sorel::kFailureTitle, sorel::FailureMessage());
    PressOk(box);
    Check(ExitStatus() == 1, L"exit status 1");
    Check(TestFileSize() == size && TestFileMarked(mark_at),
          L"the file of " + std::to_wstring(size) + L" bytes marked at " +
              std::to_wstring(mark_at) + L" is as it was");
  }
  DeleteFileW(kTestFile.c_str());
}

// Live-region events of the program's windows, with the text their window showed then.
using Announcement = std::tuple<HWND, LONG, LONG, std::wstring, bool>;
std::vector<Announcement> announcements;

void CALLBACK OnLiveRegion(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                           DWORD) {
  announcements.push_back({window, object, child, TextOf(window), IsWindowVisible(window) != 0});
}

void DeliverEvents() {  // out-of-context events come as messages to this thread
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Asks what Windows asks before it calls a window hung, until `done`; returns how long it asked.
template <typename Condition>
ULONGLONG AskUntil(HWND window, Condition done) {
  constexpr UINT kAnswerWithin = 250;  // ms
  const ULONGLONG start = GetTickCount64();
  ULONGLONG last_answer = start, longest_gap = 0;
  int asked = 0, late = 0;
  for (; !done(); Sleep(5)) {
    DWORD_PTR result = 0;
    const ULONGLONG asked_at = GetTickCount64();
    const bool answered =
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerWithin, &result);
    const ULONGLONG now = GetTickCount64();
    ++asked;
    late += !answered || now - asked_at > kAnswerWithin;
    longest_gap = std::max(longest_gap, now - last_answer);
    if (answered) last_answer = now;
    DeliverEvents();
  }
  const ULONGLONG end = GetTickCount64();
  longest_gap = std::max(longest_gap, end - last_answer);  // a silence that lasts to the end
  Check(asked > 0 && late == 0, "asked " + std::to_string(asked) + " times in " +
                                    std::to_string(end - start) + " ms, " + std::to_string(late) +
                                    " late; longest gap " + std::to_string(longest_gap) + " ms");
  return end - start;
}

// The ways a window is closed mid-write: as the task bar does, and as the user does.
enum class Closing { kNone, kTaskBar, kAltF4, kCloseButton };

// A write to a slow disk: the window answers throughout. As Windows 10 the progress label
// announces itself once; as Windows 7 nothing is, and a close mid-write (by the task bar, Alt+F4
// or the caption's close button, all of which the program must take then) is prompt and quiet.
void RunWriting(HWND window, Closing closing) {
  constexpr DWORD kLiveRegionChanged = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED
  const HWINEVENTHOOK hook =
      SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, OnLiveRegion,
                      program.dwProcessId, 0, WINEVENT_OUTOFCONTEXT);
  announcements.clear();
  HWND box = WindowOf(kBox, 30000);
  const POINT close_button = closing == Closing::kCloseButton ? CloseButtonOf(window) : POINT{};
  PressOk(box);
  WaitFor([] { return TestFileSize() >= 0; }, 30000);
  const ULONGLONG write_start = GetTickCount64();
  if (closing == Closing::kNone) {
    HWND progress = Label(window, LabelId::kLabel4);
    // Until the figure is taken; a shorter write says little about a pump between 1 MiB pieces.
    const ULONGLONG took = AskUntil(window, [&] { return !IsWindowVisible(progress); });
    Check(took >= 3000, "the write lasted " + std::to_string(took) + " ms");
    DeliverEvents();
    const Announcement shown{progress, OBJID_CLIENT, CHILDID_SELF,
                             Utf16FromUtf8(sorel::kProgressCaption), true};
    Check(announcements == std::vector{shown},
          "one live-region event, from the progress label showing its text (" +
              std::to_string(announcements.size()) + " events)");
    PostMessageW(window, WM_CLOSE, 0, 0);
  } else {
    if (closing == Closing::kAltF4) {  // first the window menu's keys: no menu may hold it up
      AskUntil(window, [&] { return GetTickCount64() - write_start > 1000; });
      PressKeys(window, {VK_MENU, VK_SPACE});
    }
    AskUntil(window, [&] { return GetTickCount64() - write_start > 2000; });
    if (closing == Closing::kAltF4) Check(!WindowOf(L"#32768"), L"Alt+Space opened no menu");
    const bool still_writing = TestFileSize() >= 0 && !WindowOf(kBox);
    const ULONGLONG closed_at = GetTickCount64();
    if (closing == Closing::kTaskBar) PostMessageW(window, WM_CLOSE, 0, 0);
    if (closing == Closing::kAltF4) PressKeys(window, {VK_MENU, VK_F4});
    if (closing == Closing::kCloseButton) ClickAt(close_button);
    bool box_seen = false;
    WaitFor(
        [&] {
          box_seen = box_seen || WindowOf(kBox);
          return WaitForSingleObject(program.hProcess, 0) == WAIT_OBJECT_0;
        },
        10000);
    const ULONGLONG took = GetTickCount64() - closed_at;
    const std::wstring how[] = {L"", L"by WM_CLOSE", L"by Alt+F4", L"by the close button"};
    Check(still_writing && took <= 1000, L"closed mid-write " + how[static_cast<int>(closing)] +
                                             L", the program ended after " + std::to_wstring(took) +
                                             L" ms");
    Check(!box_seen, L"no message box on the way out");
    Check(announcements.empty(), L"as Windows 7, no live-region event");
  }
  UnhookWinEvent(hook);
}

// What the user does in one run of the program, up to its end.
void PlayScenario(const std::wstring& scenario, HWND window) {
  if (scenario == L"answers-writing") {
    RunWriting(window, Closing::kNone);
  } else if (scenario == L"run") {
    RunDiskTest(window);
    // Told apart by how long they sound: the samples in the exe's folder, not a system sound.
    for (const auto& [key, sample] : {std::pair{VK_DOWN, 1}, {VK_UP, 5}}) {
      CheckOnHost("LISTEN", L"no sound playing");
      PressKey(window, key);
      const std::string name = sorel::SampleFileName(sample);
      CheckOnHost("HEARD " + name,
                  Utf16FromUtf8((key == VK_DOWN ? "Down plays " : "Up plays ") + name));
    }
    CheckOnHost("PLANTED", L"SorelCheck did not load the winmm.dll beside it");
    PressKey(window, VK_ESCAPE);
  } else if (scenario == L"close-early") {
    HWND box = WindowOf(kBox, 30000);
    PostMessageW(window, WM_CLOSE, 0, 0);  // as the task bar would
    Check(WaitFor([&] { return !IsWindow(box); }, 10000), L"closing the window ends the message");
  } else if (scenario == L"kill-writing") {
    PressOk(WindowOf(kBox, 30000));
    WaitFor([&] { return TestFileSize() > 0; });
    Check(TestFileSize() < kFullSize && !WindowOf(kBox) && AskHost("KILL"),
          L"killed while writing");
  } else {  // kill-ready, end-session: the program waits for keys
    for (int box = 0; box < 3; ++box) PressOk(WindowOf(kBox, 60000));
    Check(TestFileSize() == kFullSize && !TestFileDatedLongAgo(),
          L"the test file is there, made anew");
    CheckOnHost(scenario == L"kill-ready" ? "KILL" : "END-SESSION", L"ended from outside");
  }
}

void CheckEnd(const std::wstring& scenario) {
  const DWORD status = ExitStatus();
  if (!scenario.starts_with(L"kill")) Check(status == 0, L"exit status 0");
  Check(WaitFor([] { return TestFileSize() < 0; }, 10000), L"no test file left");
}

void RunScenario(const std::wstring& scenario, const std::wstring& path) {
  if (scenario == L"foreign-file") return RunOverForeignFiles(path);
  // Wine's settings for SorelCheck.exe alone. The Windows version it tells: live regions are
  // spoken from Windows 8 on. Its own window frame, which a window manager would draw otherwise,
  // so that the caption's buttons are the program's, as on Windows.
  constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\SorelCheck.exe";
  const auto set = [](const wchar_t* key, const wchar_t* name, const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  };
  if (scenario == L"answers-writing") set(kAppDefaults, L"Version", L"win10");
  if (scenario == L"close-writing") {
    set(kAppDefaults, L"Version", L"win7");
    set(L"Software\\Wine\\AppDefaults\\SorelCheck.exe\\X11 Driver", L"Decorated", L"N");
  }
  // Shows the host that the planted winmm.dll beside us would be loaded from the exe's folder.
  if (scenario == L"run") LoadLibraryW(L"winmm.dll");
  // What an earlier run left, made over by this one.
  if (scenario == L"kill-ready") PlantTestFile(kFullSize, kNoMark);
  if (scenario == L"close-writing") {
    for (const Closing closing : {Closing::kTaskBar, Closing::kAltF4, Closing::kCloseButton}) {
      RunWriting(Start(path), closing);
      CheckEnd(scenario);
    }
  } else {
    PlayScenario(scenario, Start(path));
    CheckEnd(scenario);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, kAppDefaults);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 3) Abort(L"usage: driver SCENARIO PATH\\SorelCheck.exe");
  RunScenario(argv[1], argv[2]);
  return failures == 0 ? 0 : 1;
}
