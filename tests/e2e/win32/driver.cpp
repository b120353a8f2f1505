// Drives SorelCheck.exe as a user would and checks what the user sees. Runs under Windows or
// Wine, started by run_e2e.py, which answers what only the host can see (sound, icon, disk).
// Usage: driver run|close|close-early|failure PATH\SorelCheck.exe
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/testing/win32_file_probe.h"
#include "platform/win32/text.h"
#include "program_view.h"
#include "report.h"
#include "resources.h"

namespace driver {
namespace {

constexpr wchar_t kCaption[] = L"Sorel動作確認";
constexpr wchar_t kTestFile[] = L"C:\\temp.txt";
constexpr long long kTestFileSize = 734003200;
constexpr wchar_t kTestTitle[] = L"動作確認";
constexpr wchar_t kStartText[] =
    L"音声テストファイルを作成します。\r"
    L"テストファイルの作成が早いパソコンほど、ハードディスクの性能が高いパソコンです。\r"
    L"標準の作成時間は、15秒程度です。";
constexpr wchar_t kResultHead[] = L"音声テストファイルを作成しました。\rファイル作成に";
constexpr wchar_t kResultTail[] = L"秒かかりました。";
constexpr wchar_t kInstructionText[] =
    L"Sorelを実際に使った感じを体験してみましょう。\r"
    L"下矢印キーを押すと、Sorelの音声でしゃべります。\r"
    L"キーを押した後、すぐにしゃべるかどうか レスポンスを確認してください。\r"
    L"２回目に同じ言葉をしゃべるときは、メモリにアクセスするため すぐにしゃべります。\r"
    L"１回目と２回目の音声レスポンスの違いが少ないほど、高い性能のパソコンです。\r"
    L"終了したいときはEscapeキーを押してください。";
constexpr wchar_t kFailureTitle[] = L"エラーが発生しました";
constexpr wchar_t kFailureText[] =
    L"音声テストファイルの作成に失敗しました。\rプログラムを終了します。";

// The two labels that the disk test changes, as one line: what the user sees of its progress.
constexpr wchar_t kBeforeTheFile[] = L"Label1 disabled, Label4 hidden \"Label4\"";
constexpr wchar_t kMakingTheFile[] = L"Label1 disabled, Label4 shown \"ファイル作成中です...\"";
constexpr wchar_t kFileMade[] = L"Label1 disabled, Label4 hidden \"ファイル作成中です...\"";
constexpr wchar_t kReady[] = L"Label1 enabled, Label4 hidden \"ファイル作成中です...\"";

struct ExpectedLabel {
  int id;
  int left, top, width, height;  // pixels at 96 dpi
  bool visible;
  const wchar_t* text;
};

constexpr ExpectedLabel kLabels[] = {
    {1, 8, 8, 505, 89, true,
     L"Orvaneの案内へ ようこそ\r\n"
     L"Orvaneは、Windowsの操作を 音声で案内するソフトです。\r\n"
     L"Internet Explorerや Microsoft Word なども、音声でガイドします。\r\n"
     L"お問い合わせは、ソルネ工房または、お近くの 販売店までどうぞ。\r\n"
     L"この音声は、Sorel、ノエラがお届けしました！\r\n"},
    {2, 8, 104, 465, 25, true,
     L"下矢印キーを押した後、すぐに音声が出力されるか調子を確認してください。"},
    {3, 8, 128, 385, 17, true, L"Escapeキーで終了します。"},
    {4, 352, 128, 153, 17, false, L"Label4"},
};

std::wstring TestLabels(HWND window) {
  const LabelView welcome = ReadLabel(window, 1);
  const LabelView progress = ReadLabel(window, 4);
  return std::wstring(welcome.enabled ? L"Label1 enabled" : L"Label1 disabled") +
         (progress.visible ? L", Label4 shown \"" : L", Label4 hidden \"") + progress.text + L"\"";
}

int Scaled(int pixels) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return MulDiv(pixels, dpi, 96);
}

std::wstring Geometry(const RECT& rect) {
  return std::to_wstring(rect.left) + L"," + std::to_wstring(rect.top) + L" " +
         std::to_wstring(rect.right - rect.left) + L"x" + std::to_wstring(rect.bottom - rect.top);
}

void CheckWindow(HWND window) {
  CheckText(TextOf(window), kCaption, L"caption");
  CheckText(ClassOf(window), kCaption, L"window class");
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  Check((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) != 0,
        L"a title bar with the system menu");
  Check((style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) == 0,
        L"a fixed frame: no sizing border, no maximise box");
  RECT client{};
  GetClientRect(window, &client);
  const RECT wanted_client{0, 0, Scaled(524), Scaled(152)};
  Check(EqualRect(&client, &wanted_client) != FALSE, L"client area " + Geometry(client));

  int controls = 0;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    ++controls;
  }
  Check(controls == 4, L"four controls, got " + std::to_wstring(controls));
  for (const ExpectedLabel& expected : kLabels) {
    const std::wstring name = L"Label" + std::to_wstring(expected.id);
    const LabelView label = ReadLabel(window, expected.id);
    CheckText(ClassOf(GetDlgItem(window, expected.id)), L"Static", name + L" class");
    CheckText(label.text, expected.text, name + L" text");
    const RECT wanted{Scaled(expected.left), Scaled(expected.top),
                      Scaled(expected.left + expected.width),
                      Scaled(expected.top + expected.height)};
    Check(EqualRect(&label.rect, &wanted) != FALSE, name + L" at " + Geometry(label.rect));
    Check(label.visible == expected.visible, name + (expected.visible ? L" visible" : L" hidden"));
    // Label1 is the one the disk test disables, and it may have begun by now.
    if (expected.id != 1) Check(label.enabled, name + L" enabled");
    Check((label.style & SS_NOPREFIX) != 0, name + L" shows & as it is");
    Check((label.style & WS_TABSTOP) == 0, name + L" is no tab stop");
    if (expected.id != 1) {
      Check((label.style & SS_TYPEMASK) == SS_LEFTNOWORDWRAP, name + L" does not wrap");
    }
  }
}

void CheckMessageBox(HWND box, HWND owner, const std::wstring& title, const std::wstring& text,
                     const std::wstring& which) {
  CheckText(TextOf(box), title, which + L" title");
  CheckText(TextOf(GetDlgItem(box, 0xFFFF)), text, which + L" text");
  Check(GetWindow(box, GW_OWNER) == owner, which + L" is owned by the window");
  Check(GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDCANCEL) == nullptr &&
            GetDlgItem(box, IDYES) == nullptr,
        which + L" has the one button OK");
  bool icon = false;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    icon |= (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child);
  }
  Check(icon, which + L" shows an icon");
}

void CheckResultMessage(HWND box) {
  CheckText(TextOf(box), kTestTitle, L"result message title");
  const std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
  const std::wstring head = kResultHead, tail = kResultTail;
  std::wstring time;
  if (text.size() > head.size() + tail.size() && text.starts_with(head) && text.ends_with(tail)) {
    time = text.substr(head.size(), text.size() - head.size() - tail.size());
  }
  wchar_t* end = nullptr;
  const double seconds = time.empty() ? -1 : std::wcstod(time.c_str(), &end);
  Check(end != nullptr && *end == L'\0' && seconds > 0,
        L"result message: \"" + Shown(text) + L"\"");
  Check(time.find_first_not_of(L"0123456789.") == std::wstring::npos &&
            (time.find(L'.') == std::wstring::npos || time.back() != L'0'),
        L"the time is plain: \"" + time + L"\"");
}

void CheckTestFile() {
  WIN32_FILE_ATTRIBUTE_DATA file{};
  const bool exists = GetFileAttributesExW(kTestFile, GetFileExInfoStandard, &file);
  const long long size = (static_cast<long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
  Check(exists && size == kTestFileSize, L"c:\\temp.txt has " + std::to_wstring(size) + L" bytes");
  const long long allocated = sorel::testing::AllocatedBytes(sorel::Utf8FromUtf16(kTestFile));
  Check(allocated >= kTestFileSize,
        L"c:\\temp.txt is allocated, not sparse: " + std::to_wstring(allocated) + L" bytes");
  Check(AskHost("FILE"), L"the host sees the file written out");
}

// From the start to the instruction message closed: the disk test as the user sees it.
void RunDiskTest(const Program& program, HWND window) {
  HWND box = WaitForMessageBox(program, 30000, L"start");
  CheckMessageBox(box, window, kTestTitle, kStartText, L"start message");
  CheckText(TestLabels(window), kBeforeTheFile, L"while the start message is shown");
  PressOk(box);

  // The write blocks the program: what it showed before stays on screen meanwhile.
  std::wstring during;
  WaitFor([&] { return (during = TestLabels(window)) == kMakingTheFile || MessageBoxOf(program); },
          120000, 2);
  CheckText(during, kMakingTheFile, L"while the file is created");

  box = WaitForMessageBox(program, 120000, L"result");
  CheckResultMessage(box);
  CheckText(TestLabels(window), kFileMade, L"while the result is shown");
  CheckTestFile();
  PressOk(box);

  box = WaitForMessageBox(program, 20000, L"instruction");
  CheckMessageBox(box, window, kTestTitle, kInstructionText, L"instruction message");
  PressOk(box);
  WaitFor([&] { return ReadLabel(window, 1).enabled; }, 10000);
  CheckText(TestLabels(window), kReady, L"after the disk test");
}

void CheckReadyWindow(const Program& program, HWND window) {
  BringToFront(window);
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  GetGUIThreadInfo(program.thread_id(), &thread);
  Check(thread.hwndFocus == window, L"the keyboard focus is on the window, not on a label");
  Check(AskHost("ICON"), L"the window shows the program's icon");
}

void ExpectCleanExit(const Program& program) {
  DWORD status = 0;
  if (!program.WaitForExit(20000, status)) throw Abort{L"the program did not end"};
  Check(status == 0, L"exit status " + std::to_wstring(status));
  Check(GetFileAttributesW(kTestFile) == INVALID_FILE_ATTRIBUTES, L"c:\\temp.txt is gone");
}

void RunScenario(const std::wstring& scenario, const std::wstring& path) {
  if (scenario == L"run") CheckResources(path);
  Program program(path);
  HWND window = WaitForMainWindow(program, kCaption);
  Say(L"the window is up");

  if (scenario == L"close-early") {
    HWND box = WaitForMessageBox(program, 30000, L"start");
    // As the task bar or a log-off would, while the start message is up: nothing is made.
    PostMessageW(window, WM_CLOSE, 0, 0);
    Check(WaitFor([&] { return !IsWindow(box); }, 10000), L"closing the window ends the message");
    ExpectCleanExit(program);
  } else if (scenario == L"failure") {
    PressOk(WaitForMessageBox(program, 30000, L"start"));
    HWND box = WaitForMessageBox(program, 120000, L"failure");
    CheckMessageBox(box, window, kFailureTitle, kFailureText, L"failure message");
    CheckText(TestLabels(window), kMakingTheFile, L"while the failure is shown");
    PressOk(box);
    DWORD status = 0;
    if (!program.WaitForExit(20000, status)) throw Abort{L"the program did not end"};
    Check(status == 1, L"exit status after the failure " + std::to_wstring(status));
    const DWORD attributes = GetFileAttributesW(kTestFile);
    Check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY),
          L"the folder at c:\\temp.txt is left alone");
  } else {
    CheckWindow(window);
    RunDiskTest(program, window);
    CheckReadyWindow(program, window);
    if (scenario == L"close") {
      PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close button
    } else {
      for (WORD key : {VK_DOWN, VK_UP}) {
        Check(AskHost("LISTEN"), L"the sink is quiet");
        PressKey(window, key);
        Check(AskHost("SOUND"), key == VK_DOWN ? L"Down plays a sample" : L"Up plays a sample");
        Check(MessageBoxOf(program) == nullptr, L"no message after the key");
      }
      PressKey(window, VK_ESCAPE);
    }
    ExpectCleanExit(program);
  }
}

}  // namespace
}  // namespace driver

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 3) {
    driver::Say(L"usage: driver run|close|close-early|failure PATH\\SorelCheck.exe");
    return 2;
  }
  try {
    driver::RunScenario(argv[1], argv[2]);
  } catch (const driver::Abort& abort) {
    driver::Check(false, abort.reason);
  }
  const int failures = driver::FailureCount();
  driver::Say(L"driver: " + std::to_wstring(failures) + L" checks failed");
  return failures == 0 ? 0 : 1;
}
