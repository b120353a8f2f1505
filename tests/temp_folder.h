#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sorel::testing {

// A fresh folder for one test, removed with everything in it afterwards. Disk-backed on
// purpose: the tests check allocation and the page cache, which a tmpfs /tmp would not show.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> serial{0};
#ifdef _WIN32
    path_ = std::filesystem::temp_directory_path();
#endif
    path_ /= "sorelcheck-test-" +
             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
             std::to_string(serial++);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_, ignored_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_ = "/var/tmp";
  std::error_code ignored_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace sorel::testing
