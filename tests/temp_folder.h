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

// Where the file that a record file at `path` has open can be looked at: that path, or on Linux,
// where the file has no name, its descriptor in /proc. Empty when there is none.
inline std::string OpenFileAt(const std::string& path) {
#ifndef _WIN32
  const std::string unnamed = std::filesystem::path(path).parent_path().string() + "/#";
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code gone;
    const std::string target = std::filesystem::read_symlink(fd.path(), gone).string();
    if (target.starts_with(unnamed) && target.ends_with(" (deleted)")) return fd.path().string();
  }
#endif
  return std::filesystem::exists(path) ? path : "";
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace sorel::testing
