#include "platform/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/run_error.h"

namespace sorel {
namespace {

// Large enough that the zero fill runs at the device's streaming speed.
constexpr std::int64_t kFillChunk = 1 << 20;

int ErrorNumberFor(int posix_error) {
  switch (posix_error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return kErrDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrPermissionDenied;
    case EBADF:
      return kErrBadFileNumber;
    case EIO:
      return kErrDeviceIo;
    default:
      return kErrPathAccess;
  }
}

[[noreturn]] void RaiseFromErrno() { throw RunError(ErrorNumberFor(errno)); }

void WriteAll(int fd, const std::uint8_t* data, std::int64_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t written = ::pwrite(fd, data, static_cast<size_t>(size), offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      RaiseFromErrno();
    }
    data += written;
    size -= written;
    offset += written;
  }
}

}  // namespace

void RecordFile::Open(const std::string& path) {
  if (IsOpen()) throw RunError(kErrPathAccess);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) RaiseFromErrno();
  handle_ = fd;
}

void RecordFile::Close() noexcept {
  if (!IsOpen()) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

void RecordFile::WriteRecordExtending(std::int32_t record, std::span<const std::uint8_t> data) {
  if (!IsOpen()) throw RunError(kErrBadFileNumber);
  const int fd = static_cast<int>(handle_);
  const std::int64_t offset = RecordOffset(record);
  struct stat info {};
  if (::fstat(fd, &info) != 0) RaiseFromErrno();

  // Sparse file systems would leave the gap unallocated and the write would measure nothing.
  const std::vector<std::uint8_t> zeros(kFillChunk, 0);
  for (std::int64_t at = info.st_size; at < offset; at += kFillChunk) {
    WriteAll(fd, zeros.data(), std::min(kFillChunk, offset - at), at);
  }
  std::vector<std::uint8_t> full_record(static_cast<std::size_t>(record_length_), 0);
  std::copy_n(data.begin(), std::min<std::size_t>(data.size(), full_record.size()),
              full_record.begin());
  WriteAll(fd, full_record.data(), record_length_, offset);
  if (::fdatasync(fd) != 0) RaiseFromErrno();
}

void RecordFile::ReadRecord(std::int32_t record, std::span<std::uint8_t> data) {
  if (!IsOpen()) throw RunError(kErrBadFileNumber);
  const std::int64_t offset = RecordOffset(record);
  if (read_observer_) read_observer_(record);
  ssize_t got;
  do {
    got = ::pread(static_cast<int>(handle_), data.data(), data.size(), offset);
  } while (got < 0 && errno == EINTR);
  if (got < 0) RaiseFromErrno();
  // Reading past the end leaves the rest of the buffer as it was, like a short record.
}

void RecordFile::DropCachedPages() noexcept {
  if (!IsOpen()) return;
  ::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_DONTNEED);
}

void RecordFile::CloseAndDelete(const std::string& path) noexcept {
  Close();
  ::unlink(path.c_str());
}

void DeleteEarlierTestFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace sorel
