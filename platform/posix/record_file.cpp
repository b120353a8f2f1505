// The record file on POSIX systems (Linux).
//   Naming:      the file is made unnamed in the path's folder (O_TMPFILE), so the kernel frees
//                it however the process ends, kill -9 and crashes included, and two runs never
//                meet. Where the file system refuses that, it is named at the path instead.
//   Ownership:   the folder is one every user may write to, so nothing found at the path is
//                trusted: a symbolic link is never followed, only a plain file of the user
//                running the program (one link, never a FIFO or a folder) is opened or removed,
//                and a run holds an exclusive lock on its named file while it is open, so that
//                a second run leaves it alone.
//   Cached pages: dropped with posix_fadvise after the write, so the first replay reads the disk.
//   Forced exit: a named file has no delete-on-close; the explicit deletions remove it.
//   Long write:  a worker thread writes and flushes behind as it goes (sync_file_range, Linux),
//                so that a stalled flush (a journal commit can hold one for most of a second)
//                never keeps the caller from serving its window.

#include "platform/seam/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

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

// Pieces whose write-back may still be running while the next ones are written: enough to keep
// the device busy, few enough that waiting for the oldest takes a moment, not seconds.
constexpr std::int64_t kPiecesInFlight = 16;

// Range flushes let the write-back follow the writing, so that dirty pages never pile up and
// no call, the final flush included, waits long. Only errors of the device count: a file
// system without range flushes leaves it all to the final flush.
void CheckRangeFlush(int result) {
  if (result != 0 && (errno == EIO || errno == ENOSPC)) RaiseFromErrno();
}

void StartWriteBack(int fd, std::int64_t at, std::int64_t size) {
  CheckRangeFlush(::sync_file_range(fd, at, size, SYNC_FILE_RANGE_WRITE));
}

void WaitForWriteBack(int fd, std::int64_t at, std::int64_t size) {
  CheckRangeFlush(::sync_file_range(
      fd, at, size,
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER));
}

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

// The path's folder, where the unnamed file lives.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void RecordFile::Open() {
  if (IsOpen()) throw RunError(kErrPathAccess);
  const int unnamed = ::open(FolderOf(path_).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0) {
    handle_ = unnamed;
    return;
  }
  // Older kernels see a folder opened for writing, file systems without it refuse it.
  if (errno != EISDIR && errno != EOPNOTSUPP) RaiseFromErrno();
  // Always a new file: the deletion before the test removed every earlier file of ours that no
  // live run holds, so what still stands at the path is not ours to write (another user's
  // file, a link, a FIFO, a file another run holds), and a file that existed before the
  // timing would spoil the figure.
  Descriptor file(::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | kNoSurprises, 0644));
  if (file.get() < 0) RaiseFromErrno();
  // The path check: another run's deletion may have taken the new file away before the lock.
  if (!OursLockedAndAt(path_, file.get())) {
    // The empty file is ours all the same; whatever replaced it at the path is not.
    if (PathNames(path_, file.get())) ::unlink(path_.c_str());
    throw RunError(kErrPathAccess);
  }
  handle_ = file.release();
}

namespace {

// Asks a running worker to stop at its next piece and waits for it; what it raised is dropped.
void StopWorker(std::future<bool>& worker, std::atomic<bool>& stop) noexcept {
  if (!worker.valid()) return;
  stop = true;
  worker.wait();
  worker = {};
}

}  // namespace

void RecordFile::Close() noexcept {
  if (!IsOpen()) return;
  // The worker must be done with the descriptor before it goes (and its number is reused).
  StopWorker(fill_, stop_fill_);
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

namespace {

// How often the caller is given the thread back while the worker writes.
constexpr auto kServeInterval = std::chrono::milliseconds(2);

// Zeros from `from` up to `to`, then the record, then the flush. False when `stop` ended it.
bool FillAndFlush(int fd, std::int64_t from, std::int64_t to, std::vector<std::uint8_t> record,
                  const std::atomic<bool>& stop) {
  const std::vector<std::uint8_t> zeros(kFillChunk, 0);
  std::int64_t on_device = from;  // the pieces before this are written back
  for (std::int64_t at = from; at < to; at += kFillChunk) {
    if (stop) return false;
    WriteAll(fd, zeros.data(), std::min(kFillChunk, to - at), at);
    StartWriteBack(fd, at, std::min(kFillChunk, to - at));
    if (at - on_device >= kPiecesInFlight * kFillChunk) {
      WaitForWriteBack(fd, on_device, kFillChunk);
      on_device += kFillChunk;
    }
  }
  // The last pieces one at a time, so that the final flush has little left to do.
  for (; on_device < to; on_device += kFillChunk) {
    if (stop) return false;
    WaitForWriteBack(fd, on_device, std::min(kFillChunk, to - on_device));
  }
  WriteAll(fd, record.data(), static_cast<std::int64_t>(record.size()), to);
  if (::fdatasync(fd) != 0) RaiseFromErrno();
  return true;
}

}  // namespace

bool RecordFile::WriteRecordExtending(std::int32_t record, std::span<const std::uint8_t> data,
                                      const BetweenPieces& between_pieces) {
  if (!IsOpen()) throw RunError(kErrBadFileNumber);
  const int fd = static_cast<int>(handle_);
  const std::int64_t offset = RecordOffset(record);
  struct stat info {};
  if (::fstat(fd, &info) != 0) RaiseFromErrno();
  std::vector<std::uint8_t> full_record(static_cast<std::size_t>(record_length_), 0);
  std::copy_n(data.begin(), std::min<std::size_t>(data.size(), full_record.size()),
              full_record.begin());
  // Sparse file systems would leave the gap unallocated and the write would measure nothing.
  const std::int64_t from = std::min<std::int64_t>(info.st_size, offset);
  stop_fill_ = false;
  if (!between_pieces) return FillAndFlush(fd, from, offset, std::move(full_record), stop_fill_);

  fill_ = std::async(std::launch::async, FillAndFlush, fd, from, offset, std::move(full_record),
                     std::cref(stop_fill_));
  do {
    // A close meanwhile has stopped the worker already and taken the file.
    if (!between_pieces() || !IsOpen()) {
      StopWorker(fill_, stop_fill_);
      return false;
    }
  } while (fill_.wait_for(kServeInterval) != std::future_status::ready);
  return std::exchange(fill_, {}).get();  // the worker's error, if any, is raised here
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

void RecordFile::CloseAndDelete() noexcept {
  // Checked while the file is still open and locked: the path may name another run's file by
  // now, or something another user put there.
  if (IsOpen() && PathNames(path_, static_cast<int>(handle_))) ::unlink(path_.c_str());
  Close();
}

// Ownership and the lock tell a leftover here, not its size.
void RecordFile::DeleteLeftover(std::int64_t /*leftover_size*/) noexcept {
  struct stat at_path {};
  if (::lstat(path_.c_str(), &at_path) != 0) return;
  if (S_ISLNK(at_path.st_mode)) {
    // The link itself, never what it points to; and only a link of ours.
    if (at_path.st_uid == ::geteuid()) ::unlink(path_.c_str());
    return;
  }
  if (!IsPlainFileOfOurs(at_path)) return;
  const Descriptor file(::open(path_.c_str(), O_RDONLY | kNoSurprises));
  // A live run holds its file locked: that one stays. A killed run's leftover has no locker.
  if (file.get() >= 0 && OursLockedAndAt(path_, file.get())) ::unlink(path_.c_str());
}

}  // namespace sorel
