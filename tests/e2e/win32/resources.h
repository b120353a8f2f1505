#pragma once

#include <string>

namespace driver {

// The executable's version record, icon and manifest, read from the file.
void CheckResources(const std::wstring& program);

}  // namespace driver
