#include "tests/temp_folder.h"

#include <atomic>
#include <chrono>

namespace sorel::testing {

TempFolder::TempFolder() {
  static std::atomic<int> serial{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  // Disk-backed on purpose: the tests check allocation and the page cache.
#ifdef _WIN32
  const std::filesystem::path base = std::filesystem::temp_directory_path();
#else
  const std::filesystem::path base = "/var/tmp";
#endif
  path_ = base / ("sorelcheck-test-" + std::to_string(stamp) + "-" + std::to_string(serial++));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace sorel::testing
