#pragma once

#include <string>
#include <string_view>

namespace sorel {

// The program keeps its texts in UTF-8; the Win32 calls take UTF-16.
std::wstring Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::wstring_view text);

}  // namespace sorel
