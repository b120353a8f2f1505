#pragma once

#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "app/run_error.h"

namespace sorel::testing {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The number of the RunError that action raised, or 0 when it raised none.
inline int ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const RunError& error) {
    return error.number();
  }
  return 0;
}

}  // namespace sorel::testing
