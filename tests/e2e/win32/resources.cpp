#include "resources.h"

#include <windows.h>

#include <set>
#include <utility>
#include <vector>

#include "report.h"

namespace driver {
namespace {

std::wstring VersionString(const std::vector<BYTE>& info, const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
  if (!VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return L"(missing)";
  }
  return value;
}

void CheckVersionRecord(const std::wstring& program) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  std::vector<BYTE> info(size);
  if (!Check(size > 0 && GetFileVersionInfoW(program.c_str(), 0, size, info.data()),
             L"the executable has a version record")) {
    return;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
  Check(fixed != nullptr && fixed->dwFileVersionMS == 0x00010000 && fixed->dwFileVersionLS == 0 &&
            fixed->dwProductVersionMS == 0x00010000 && fixed->dwProductVersionLS == 0,
        L"file and product version 1.0.0.0");
  Check(fixed != nullptr && fixed->dwFileType == VFT_APP, L"file type application");
  struct Translation {
    WORD language, code_page;
  }* translation = nullptr;
  VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                 &length);
  Check(translation != nullptr && length == sizeof(Translation) &&
            translation->language == 0x0411 && translation->code_page == 1200,
        L"version record in Japanese, Unicode");
  CheckText(VersionString(info, L"FileVersion"), L"1.00", L"FileVersion");
  CheckText(VersionString(info, L"ProductVersion"), L"1.00", L"ProductVersion");
  // Explorer and the task manager show it; it also proves the script's UTF-8 came through.
  CheckText(VersionString(info, L"FileDescription"), L"Sorel動作確認", L"FileDescription");
}

BOOL CALLBACK KeepFirstName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR first) {
  *reinterpret_cast<LPCWSTR*>(first) = name;
  return FALSE;
}

std::string ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
  HRSRC found = FindResourceW(module, name, type);
  if (found == nullptr) return {};
  const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  return data == nullptr ? std::string() : std::string(data, SizeofResource(module, found));
}

void CheckIconAndManifest(const std::wstring& program) {
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!Check(module != nullptr, L"the executable's resources can be read")) return;

  // Explorer shows the first icon group.
  LPCWSTR first_icon = nullptr;
  EnumResourceNamesW(module, RT_GROUP_ICON, KeepFirstName, reinterpret_cast<LONG_PTR>(&first_icon));
  const std::string group = first_icon ? ResourceBytes(module, first_icon, RT_GROUP_ICON) : "";
  // A 6-byte header with the count at 4, then 14-byte entries: width at 0, bits per pixel at 6.
  std::set<std::pair<int, int>> images;
  const int count = group.size() >= 6 ? static_cast<unsigned char>(group[4]) : 0;
  for (int i = 0; i < count && 6 + (i + 1) * 14 <= static_cast<int>(group.size()); ++i) {
    const char* entry = group.data() + 6 + i * 14;
    images.insert({static_cast<unsigned char>(entry[0]), static_cast<unsigned char>(entry[6])});
  }
  const std::set<std::pair<int, int>> wanted = {{16, 8}, {16, 32}, {24, 8}, {24, 32},
                                                {32, 8}, {32, 32}, {48, 8}, {48, 32}};
  Check(count == 8 && images == wanted, L"the program icon: 16, 24, 32, 48 px at 8 and 32 bpp");

  const std::string manifest = ResourceBytes(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  Check(manifest.find("<dpiAware") != std::string::npos, L"the manifest declares DPI awareness");
  Check(manifest.find("Microsoft.Windows.Common-Controls") != std::string::npos,
        L"the manifest asks for common controls 6");
  FreeLibrary(module);
}

}  // namespace

void CheckResources(const std::wstring& program) {
  CheckVersionRecord(program);
  CheckIconAndManifest(program);
}

}  // namespace driver
