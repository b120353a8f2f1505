#include "platform/record_file.h"

#include "app/run_error.h"

namespace sorel {

std::int64_t RecordFile::RecordOffset(std::int32_t record) const {
  if (record < 1) throw RunError(kErrBadRecordNumber);
  return (static_cast<std::int64_t>(record) - 1) * record_length_;
}

}  // namespace sorel
