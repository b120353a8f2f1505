#pragma once

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace sorel::bench {

// Medians: other jobs share the machine, and one preempted sample must not move the figure.
inline double Median(std::vector<double> samples) {
  if (samples.empty()) throw std::runtime_error("median of no samples");
  std::sort(samples.begin(), samples.end());
  const std::size_t middle = samples.size() / 2;
  return samples.size() % 2 != 0 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

inline double Maximum(const std::vector<double>& samples) {
  if (samples.empty()) throw std::runtime_error("maximum of no samples");
  return *std::max_element(samples.begin(), samples.end());
}

// Nearest-rank percentile, p in (0, 100].
inline double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) throw std::runtime_error("percentile of no samples");
  std::sort(samples.begin(), samples.end());
  std::size_t rank =
      static_cast<std::size_t>(p / 100.0 * static_cast<double>(samples.size()) + 0.999999);
  rank = std::clamp<std::size_t>(rank, 1, samples.size());
  return samples[rank - 1];
}

}  // namespace sorel::bench
