// Drives SorelCheck.exe as a user would and checks what the user sees, with the texts and the
// layout from the program's own tables. run_e2e.py starts it under Wine and answers what only
// the host sees: sound, screen, disk, the process and the DLLs it loaded.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/labels.h"
#include "disktest/messages.h"
#include "disktest/test_file.h"
#include "platform/win32/text.h"

namespace {

using sorel::LabelId;
using sorel::Utf16FromUtf8;

constexpr wchar_t kBox[] = L"#32770";
constexpr long long kFullSize = 734003200;
PROCESS_INFORMATION program{};
int failures = 0;

struct Abort {
  std::wstring reason;
};

bool Check(bool ok, const std::wstring& what) {
  std::printf("%s - %s\n", ok ? "ok  " : "FAIL", sorel::Utf8FromUtf16(what).c_str());
  std::fflush(stdout);
  failures += ok ? 0 : 1;
  return ok;
}

// Asks run_e2e.py about what only the host sees; true when it answers "ok".
bool AskHost(const std::string& question) {
  std::printf("? %s\n", question.c_str());
  std::fflush(stdout);
  char answer[16] = {};
  return std::fgets(answer, sizeof answer, stdin) != nullptr && std::strncmp(answer, "ok", 2) == 0;
}

template <typename Condition>
bool WaitFor(Condition condition, DWORD timeout_ms = 60000) {
  for (const ULONGLONG end = GetTickCount64() + timeout_ms;; Sleep(2)) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
  }
}

std::wstring TextOf(HWND window) {  // from the window system: the program may be busy
  wchar_t text[2048] = {};
  InternalGetWindowText(window, text, 2048);
  return text;
}

// The program's visible top-level window of this class, or null.
HWND WindowOf(const wchar_t* class_name) {
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, class_name, nullptr));) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == program.dwProcessId && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

HWND WaitForWindow(const wchar_t* class_name, const wchar_t* which) {
  HWND window = nullptr;
  if (!WaitFor([&] { return (window = WindowOf(class_name)) != nullptr; })) {
    throw Abort{std::wstring(L"no ") + which};
  }
  return window;
}

void ExpectExit(DWORD wanted) {
  DWORD status = 0;
  if (WaitForSingleObject(program.hProcess, 20000) != WAIT_OBJECT_0) throw Abort{L"no exit"};
  GetExitCodeProcess(program.hProcess, &status);
  Check(status == wanted, L"exit status " + std::to_wstring(status));
}

HWND Label(HWND window, LabelId id) { return GetDlgItem(window, static_cast<int>(id)); }

// What the disk test changes, in one line.
std::wstring State(bool welcome_enabled, bool progress_shown, const std::wstring& progress) {
  return std::wstring(welcome_enabled ? L"Label1 on, " : L"Label1 off, ") +
         (progress_shown ? L"Label4 shown " : L"Label4 hidden ") + progress;
}
std::wstring StateOf(HWND window) {
  HWND progress = Label(window, LabelId::kLabel4);
  return State(IsWindowEnabled(Label(window, LabelId::kLabel1)),
               GetWindowLongW(progress, GWL_STYLE) & WS_VISIBLE, TextOf(progress));
}
const std::wstring kCaption = Utf16FromUtf8(sorel::kProgressCaption);

int Scaled(int pixels) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return MulDiv(pixels, dpi, 96);
}

void CheckWindow(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  Check(TextOf(window) == Utf16FromUtf8(sorel::kWindowCaption) &&
            !(GetWindowLongW(window, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX)) &&
            client.right == Scaled(sorel::kClientWidth) &&
            client.bottom == Scaled(sorel::kClientHeight),
        L"caption, fixed frame, client area");
  for (const sorel::LabelLayout& expected : sorel::kLabels) {
    HWND label = Label(window, expected.id);
    RECT at{};
    GetWindowRect(label, &at);
    MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&at), 2);
    const RECT wanted{Scaled(expected.left), Scaled(expected.top),
                      Scaled(expected.left + expected.width),
                      Scaled(expected.top + expected.height)};
    const LONG style = GetWindowLongW(label, GWL_STYLE);
    Check(TextOf(label) == Utf16FromUtf8(expected.caption) && EqualRect(&at, &wanted) &&
              ((style & WS_VISIBLE) != 0) == expected.visible_at_start && (style & SS_NOPREFIX) &&
              !(style & WS_TABSTOP),
          L"Label" + std::to_wstring(static_cast<int>(expected.id)) +
              L": text, place, visibility, no prefix, no tab stop");
  }
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
  if (!WaitFor([&] { return !IsWindow(box); }, 10000)) throw Abort{L"the message box stayed"};
}

// A key as a user's comes: into the input queue, for whatever has the focus when it is taken.
void PressKey(HWND window, WORD key) {  // window: the one in front
  if (!WaitFor([&] { return GetForegroundWindow() == window || (SetForegroundWindow(window), 0); },
               5000)) {
    throw Abort{L"the window never came to the front"};
  }
  INPUT strokes[2] = {};
  for (INPUT& stroke : strokes) {
    stroke.type = INPUT_KEYBOARD;
    stroke.ki.wVk = key;
    stroke.ki.dwFlags = key == VK_DOWN || key == VK_UP ? KEYEVENTF_EXTENDEDKEY : 0;
  }
  strokes[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(2, strokes, sizeof(INPUT));
}

long long TestFileSize() {
  WIN32_FILE_ATTRIBUTE_DATA file{};
  if (!GetFileAttributesExW(Utf16FromUtf8(sorel::kTestFilePath).c_str(), GetFileExInfoStandard,
                            &file)) {
    return -1;
  }
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
  Check(AskHost(question), what);
}

// Start to instruction message closed, checking what a user meets on the way.
void RunDiskTest(HWND window) {
  HWND box = WaitForWindow(kBox, L"start message");
  CheckBox(box, window, sorel::kTestTitle, sorel::StartMessage());
  Check(GetSysColor(COLOR_WINDOW) == 0 && GetSysColor(COLOR_WINDOWTEXT) == 0xFFFFFF,
        L"high contrast: white window text on black");
  SetWindowPos(box, nullptr, 0, Scaled(400), 0, 0, SWP_NOSIZE | SWP_NOZORDER);  // off Label1
  Sleep(500);
  CheckColours(window, COLOR_GRAYTEXT, L"the disabled welcome text in the grey text colour");
  PressOk(box);

  WaitFor([&] { return StateOf(window) == State(false, true, kCaption) && TestFileSize() > 0; });
  PressKey(window, VK_RETURN);
  Check(TestFileSize() < kFullSize && !WindowOf(kBox), L"Return pressed during the write");
  box = WaitForWindow(kBox, L"result message");
  const std::wstring sample = Utf16FromUtf8(sorel::ResultMessage(12.5f));
  const std::size_t head = sample.find(L"12.5"), tail = sample.size() - head - 4;
  const std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
  const bool framed = text.size() > head + tail && text.starts_with(sample.substr(0, head)) &&
                      text.ends_with(sample.substr(head + 4));
  const std::wstring time = framed ? text.substr(head, text.size() - head - tail) : L"";
  Check(!time.empty() && time.find_first_not_of(L"0123456789.") == std::wstring::npos &&
            std::wcstod(time.c_str(), nullptr) > 0,
        L"result message, " + time + L" s");
  Check(StateOf(window) == State(false, false, kCaption), L"progress hidden for the result");
  Check(AskHost("FILE"), L"the host sees the file written out");
  Sleep(500);
  Check(IsWindow(box), L"the Return typed during the write left the result open");
  PressKey(box, VK_RETURN);
  Check(WaitFor([&] { return !IsWindow(box); }, 5000), L"the next Return closes it");

  box = WaitForWindow(kBox, L"instruction message");
  CheckBox(box, window, sorel::kTestTitle, sorel::InstructionMessage());
  PressOk(box);
  Check(WaitFor([&] { return StateOf(window) == State(true, false, kCaption); }),
        L"ready for keys");
  Sleep(300);
  CheckColours(window, COLOR_WINDOWTEXT, L"the welcome text in the window-text colour");
}

void RunScenario(const std::wstring& scenario, const std::wstring& path) {
  // The driver sits beside the planted winmm.dll: the host sees it loaded here, as it would be
  // in SorelCheck if that searched its own folder.
  if (scenario == L"run") LoadLibraryW(L"winmm.dll");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command = L"\"" + path + L"\"";
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &program)) {
    throw Abort{L"cannot start " + path};
  }
  HWND window = WaitForWindow(Utf16FromUtf8(sorel::kWindowCaption).c_str(), L"window");
  if (scenario == L"run") {
    CheckWindow(window);
    RunDiskTest(window);
    for (WORD key : {VK_DOWN, VK_UP}) {
      Check(AskHost("QUIET"), L"no sound playing");
      PressKey(window, key);
      Check(AskHost("SOUND"), key == VK_DOWN ? L"Down plays a sample" : L"Up plays a sample");
    }
    Check(AskHost("PLANTED"), L"SorelCheck did not load the winmm.dll beside it");
    PressKey(window, VK_ESCAPE);
    ExpectExit(0);
  } else if (scenario == L"close-early") {
    HWND box = WaitForWindow(kBox, L"start message");
    PostMessageW(window, WM_CLOSE, 0, 0);  // as the task bar would
    Check(WaitFor([&] { return !IsWindow(box); }, 10000), L"closing the window ends the message");
    ExpectExit(0);
  } else if (scenario == L"failure") {
    PressOk(WaitForWindow(kBox, L"start message"));
    HWND box = WaitForWindow(kBox, L"failure message");
    CheckBox(box, window, sorel::kFailureTitle, sorel::FailureMessage());
    Check(StateOf(window) == State(false, true, kCaption), L"progress still shown");
    PressOk(box);
    ExpectExit(1);
    return;  // the host checks that the folder at the path stays
  } else if (scenario == L"kill-writing") {
    PressOk(WaitForWindow(kBox, L"start message"));
    WaitFor([&] { return TestFileSize() > 0; });
    Check(TestFileSize() < kFullSize && !WindowOf(kBox), L"the file is being written");
    Check(AskHost("KILL"), L"killed from outside");
  } else {  // kill-ready, end-session: the program waits for keys
    for (const wchar_t* which : {L"start message", L"result message", L"instruction message"}) {
      PressOk(WaitForWindow(kBox, which));
    }
    Check(TestFileSize() == kFullSize, L"the test file is there");
    Check(AskHost(scenario == L"kill-ready" ? "KILL" : "END-SESSION"), L"ended from outside");
  }
  Check(WaitFor([] { return TestFileSize() < 0; }, 10000), L"c:\\temp.txt is gone");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  try {
    if (argc != 3) throw Abort{L"usage: driver SCENARIO PATH\\SorelCheck.exe"};
    RunScenario(argv[1], argv[2]);
  } catch (const Abort& abort) {
    Check(false, abort.reason);
  }
  if (program.hProcess) TerminateProcess(program.hProcess, 99);
  std::printf("driver: %d checks failed\n", failures);
  return failures == 0 ? 0 : 1;
}
