#pragma once

#include <cstdint>
#include <string>

namespace sorel::testing {

// What another program sees of a file on Windows, for tests that keep windows.h out.

// Bytes the file system has allocated to the file; unwritten (sparse) ranges count nothing.
std::int64_t AllocatedBytes(const std::string& path);

// Another program's read-write handle on an existing file, held until destroyed.
class ForeignHandle {
 public:
  enum class Sharing {
    kReadWrite,  // others may read and write it, but not delete it
    kAll,        // as a scanner or indexer opens it: others may even delete it
  };
  ForeignHandle(const std::string& path, Sharing sharing);
  ~ForeignHandle();
  ForeignHandle(const ForeignHandle&) = delete;
  ForeignHandle& operator=(const ForeignHandle&) = delete;

  bool is_open() const;

 private:
  void* handle_;
};

}  // namespace sorel::testing
