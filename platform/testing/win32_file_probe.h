#pragma once

#include <cstdint>
#include <string>

// What another program sees of a file on Windows, for tests that keep windows.h out.
namespace sorel::testing {

// Bytes the file system has allocated to the file; unwritten (sparse) ranges count nothing.
std::int64_t AllocatedBytes(const std::string& path);

// Another program's read-write handle on an existing file, held until destroyed.
class ForeignHandle {
 public:
  // kReadWrite lets others read and write but not delete; kAll, as scanners and indexers
  // open files, lets them delete too.
  enum class Sharing { kReadWrite, kAll };
  ForeignHandle(const std::string& path, Sharing sharing);
  ~ForeignHandle();
  ForeignHandle(const ForeignHandle&) = delete;
  ForeignHandle& operator=(const ForeignHandle&) = delete;
  bool is_open() const;

 private:
  void* handle_;
};

}  // namespace sorel::testing
