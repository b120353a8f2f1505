#pragma once

#include "platform/seam/record_file.h"

namespace sorel {

// While one of these lives, a process that ends through exit() without the window's unload
// (Qt does so when the display goes away) still closes and removes the test file.
class RemovalAtExit {
 public:
  explicit RemovalAtExit(RecordFile& test_file);
  ~RemovalAtExit();
  RemovalAtExit(const RemovalAtExit&) = delete;
  RemovalAtExit& operator=(const RemovalAtExit&) = delete;
};

}  // namespace sorel
