#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <span>
#include <string>
#include <utility>

#include "platform/seam/run_error.h"

namespace sorel {

// A file of fixed-length records numbered from 1, at a path fixed for the object's life (on
// POSIX systems the file itself has no name there where the file system allows it, see Open),
// always made new by Open. Failures raise RunError. Implemented once for POSIX (platform/posix)
// and once for Win32 (platform/win32); each file opens with what it does differently.
//
// What stands at the test file's path may be somebody else's: on POSIX systems it lives in a
// folder that every user may write to, on Windows c:\temp.txt is a name people and other
// programs use. So the file layer never follows a link, never writes to a file it did not make,
// and deletes only its own file or an earlier run's.
class RecordFile {
 public:
  RecordFile(std::string path, std::int64_t record_length)
      : path_(std::move(path)), record_length_(record_length) {}
  ~RecordFile() { Close(); }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Creates a new file; anything already at the path is refused. A failed open leaves nothing
  // of its own behind. POSIX makes the file unnamed in the path's folder where the file system
  // allows it, so that the system frees it however the process ends; elsewhere it is named and
  // locked. Win32 opens with delete access, so other programs need delete sharing to open it.
  void Open();
  // Set before Open: the system deletes the file once its last handle is closed, however the
  // process ends. Only Windows offers this; elsewhere the explicit deletions remain the only
  // removal.
  void DeleteWhenLastClosed() { delete_when_last_closed_ = true; }
  bool IsOpen() const { return handle_ != kNoHandle; }
  void Close() noexcept;
  // Closes the file and deletes it, errors ignored. Only the file this object opened goes
  // (POSIX: only while the path still names it), and with no file open nothing does: a run
  // never removes another run's file or what took its place.
  void CloseAndDelete() noexcept;

  // Removes an earlier run's file at the path before a new one is made; a missing or
  // undeletable file, or anything that is not an earlier run's file, is passed over silently.
  // POSIX removes only a link of ours (never what it points to) or a plain file of ours that no
  // live run holds locked; Win32 only a plain file of exactly `leftover_size` bytes, the size a
  // run leaves, that no other program is writing.
  void DeleteLeftover(std::int64_t leftover_size) noexcept;

  const std::string& path() const { return path_; }

  // Called again and again while a long write runs; false stops the write.
  using BetweenPieces = std::function<bool()>;

  // Writes data into the start of record `record` and pads the record to its full length.
  // Space the file gains in front of the record is written with zeros (never over bytes that
  // existed) and everything is flushed to the device before this returns, so the time it
  // takes is the time the storage needs, on sparse file systems too. The zeros go in pieces of
  // 1 MiB, flushed as they go; `between_pieces` is called at least every few tens of
  // milliseconds meanwhile (POSIX: while a worker thread writes; Win32: after each piece).
  // False when it stopped the write, which then leaves the file as it is; Close stops it too.
  bool WriteRecordExtending(std::int32_t record, std::span<const std::uint8_t> data,
                            const BetweenPieces& between_pieces = {});

  // Fills data from the start of record `record` through the ordinary cached file access.
  void ReadRecord(std::int32_t record, std::span<std::uint8_t> data);

  // Asks the system to forget the file's cached pages, so the next reads come from the device.
  void DropCachedPages() noexcept;

  // Called with each record number just before it is read; lets tests watch the replay.
  void SetReadObserver(std::function<void(std::int32_t)> observer) {
    read_observer_ = std::move(observer);
  }

 private:
  static constexpr std::intptr_t kNoHandle = -1;

  std::int64_t RecordOffset(std::int32_t record) const {
    if (record < 1) throw RunError(kErrBadRecordNumber);
    return (static_cast<std::int64_t>(record) - 1) * record_length_;
  }

  std::string path_;
  std::int64_t record_length_;
  std::intptr_t handle_ = kNoHandle;
  bool delete_when_last_closed_ = false;
  // POSIX: the long write's worker, which Close stops and waits for before the file goes.
  std::future<bool> fill_;
  std::atomic<bool> stop_fill_{false};
  std::function<void(std::int32_t)> read_observer_;
};

}  // namespace sorel
