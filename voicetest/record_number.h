#pragma once

#include <cstdint>

namespace sorel {

// Record addressed by a trace entry: entry / 512 rounded to nearest, exact halves to even.
constexpr std::int32_t RecordNumberOf(std::int32_t entry) {
  const std::int32_t whole = entry / 512;
  const std::int32_t rest = entry % 512;
  if (rest > 256 || (rest == 256 && whole % 2 != 0)) return whole + 1;
  return whole;
}

}  // namespace sorel
