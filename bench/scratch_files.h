#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sorel::bench {

// The 700 MiB files a bench run writes on one disk (a run may hold those of two). They are removed
// when this goes away and when the process is stopped by SIGINT, SIGTERM or SIGHUP, so a broken run
// leaves no disk space taken.
class ScratchFiles {
 public:
  // prefix: a path such as /var/tmp/sorelcheck-bench-1234; the files get suffixes of it.
  explicit ScratchFiles(const std::string& prefix);
  ~ScratchFiles();
  ScratchFiles(const ScratchFiles&) = delete;
  ScratchFiles& operator=(const ScratchFiles&) = delete;

  // A child writing one of the files (dd): stopped first on a signal, or it would go on writing
  // after the removal. 0 when none runs.
  static void SetWriterProcess(int pid);

  const std::string& program_file() const { return program_file_; }
  const std::string& dd_file() const { return dd_file_; }
  void RemoveAll() const noexcept;

 private:
  std::string program_file_;
  std::string dd_file_;
};

// Free bytes for an unprivileged writer in the folder that holds path.
std::int64_t FreeBytesNear(const std::string& path);

struct FileFacts {
  bool exists = false;
  std::int64_t size = 0;
  std::int64_t allocated = 0;  // bytes the file system really holds for it
  std::int64_t pages = 0;
  std::int64_t resident_pages = 0;  // pages in the page cache
};
FileFacts FactsOf(const std::string& path);

// The program's test file on Linux has no name: the bench reaches it through the descriptor
// the program opened, as /proc/self/fd/N.
std::vector<int> OpenDescriptors();
// The one regular file opened since `before`; throws unless there is exactly one.
std::string FileOpenedSince(const std::vector<int>& before);

}  // namespace sorel::bench
