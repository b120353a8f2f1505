#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What another program sees of a file on Windows, for tests that keep windows.h out.
namespace sorel::testing {

// Bytes the file system has allocated to the file; unwritten (sparse) ranges count nothing.
std::int64_t AllocatedBytes(const std::string& path);

// Another program's read-write handle on an existing file, closed with its last copy; null
// when refused. Scanners and indexers also share delete access.
std::shared_ptr<void> OpenAsAnotherProgram(const std::string& path, bool share_delete);

}  // namespace sorel::testing
