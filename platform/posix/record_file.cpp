#include "platform/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
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

// The test file lives in a folder every user may write to: whatever stands at the path may
// belong to someone else. A link is never followed and a FIFO must not block the opening.
constexpr int kNoSurprises = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool IsPlainFileOfOurs(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == ::geteuid();
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether path, not followed, still names the file open as fd.
bool PathNames(const std::string& path, int fd) {
  struct stat at_path {};
  struct stat opened {};
  return ::lstat(path.c_str(), &at_path) == 0 && ::fstat(fd, &opened) == 0 &&
         SameFile(at_path, opened);
}

// The lock belongs to the open file description: another run (or another open of the file in
// this process) cannot take it while we hold it, and it goes when its holder dies.
bool LockForThisRun(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Whether fd is a plain file of ours that no other run holds, now locked for this one, and
// still the file that path names.
bool OursLockedAndAt(const std::string& path, int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && IsPlainFileOfOurs(info) && LockForThisRun(fd) &&
         PathNames(path, fd);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

void RecordFile::Open(const std::string& path) {
  if (IsOpen()) throw RunError(kErrPathAccess);
  // Always a new file: the deletion before the test removed every earlier file of ours that no
  // live run holds, so what still stands at the path is not ours to write (another user's
  // file, a link, a FIFO, a file another run holds), and a file that existed before the
  // timing would spoil the figure.
  Descriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kNoSurprises, 0644));
  if (file.get() < 0) RaiseFromErrno();
  // The path check: another run's deletion may have taken the new file away before the lock.
  if (!OursLockedAndAt(path, file.get())) {
    // The empty file is ours all the same; whatever replaced it at the path is not.
    if (PathNames(path, file.get())) ::unlink(path.c_str());
    throw RunError(kErrPathAccess);
  }
  handle_ = file.release();
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
  // Checked while the file is still open and locked: the path may name another run's file by
  // now, or something another user put there.
  if (IsOpen() && PathNames(path, static_cast<int>(handle_))) ::unlink(path.c_str());
  Close();
}

void DeleteEarlierTestFile(const std::string& path) noexcept {
  struct stat at_path {};
  if (::lstat(path.c_str(), &at_path) != 0) return;
  if (S_ISLNK(at_path.st_mode)) {
    // The link itself, never what it points to; and only a link of ours.
    if (at_path.st_uid == ::geteuid()) ::unlink(path.c_str());
    return;
  }
  if (!IsPlainFileOfOurs(at_path)) return;
  const Descriptor file(::open(path.c_str(), O_RDONLY | kNoSurprises));
  // A live run holds its file locked: that one stays. A killed run's leftover has no locker.
  if (file.get() >= 0 && OursLockedAndAt(path, file.get())) ::unlink(path.c_str());
}

}  // namespace sorel
