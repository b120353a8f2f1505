#pragma once

#include <cstdint>
#include <span>

namespace sorel {

// The five recorded read patterns, exactly as stored: entry 0 is the leading entry (never read),
// then the read entries in replay order, then the terminator -1.
// number runs from 1 (a1) to 5 (a5); any other number gives an empty span.
std::span<const std::int32_t> RecordedTrace(int number);

}  // namespace sorel
