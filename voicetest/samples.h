#pragma once

#include <string>

namespace sorel {

inline constexpr int kSampleCount = 5;

// The voice sample that follows the replay of trace `number` (1 to 5), beside the executable.
inline std::string SampleFileName(int number) {
  std::string name = "a";
  name += std::to_string(number);
  return name + ".wav";
}

}  // namespace sorel
