// The record file on Windows.
//   Ownership:   the file is always made new; only a plain file of exactly the size a run leaves,
//                zeros wherever it is sampled, is taken for an earlier run's file and deleted,
//                through the handle that checked it.
//   Cached pages: the zero fill bypasses the system cache, so there are none to drop.
//   Forced exit: opened delete-on-close, the file goes with its last handle, however the
//                process ends.

#include "platform/seam/record_file.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "platform/win32/text.h"
#include "platform/win32/win32_errors.h"

namespace sorel {
namespace {

// Large enough that the zero fill runs at the device's streaming speed.
constexpr std::int64_t kFillChunk = 1 << 20;
// Unbuffered transfers start and end on sector boundaries; this is a multiple of every
// sector size in use.
constexpr std::int64_t kSectorMultiple = 64 << 10;
// 4K-sector drives are the largest sectors in use; unbuffered ranges and chunks must be whole
// sectors of them, and the ZeroBlock's page alignment covers the buffer.
static_assert(kSectorMultiple % 4096 == 0 && kFillChunk % 4096 == 0);
// A scanner or indexer that opens the test file meanwhile must not break the run. Delete
// sharing also lets the second, unbuffered handle coexist with the delete-on-close one.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

void WriteAt(HANDLE file, const std::uint8_t* data, std::int64_t size, std::int64_t offset) {
  while (size > 0) {
    OVERLAPPED position = At(offset);
    const DWORD wanted = static_cast<DWORD>(std::min<std::int64_t>(size, kFillChunk));
    DWORD written = 0;
    if (!WriteFile(file, data, wanted, &written, &position)) RaiseLastWin32Error();
    if (written == 0) throw RunError(kErrDeviceIo);
    data += written;
    size -= written;
    offset += written;
  }
}

// Page-aligned and zeroed by the system, so unbuffered writes can take it as it is.
class ZeroBlock {
 public:
  ZeroBlock()
      : data_(static_cast<std::uint8_t*>(
            VirtualAlloc(nullptr, kFillChunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {
    if (data_ == nullptr) throw RunError(kErrOutOfMemory);
  }
  ~ZeroBlock() { VirtualFree(data_, 0, MEM_RELEASE); }
  ZeroBlock(const ZeroBlock&) = delete;
  ZeroBlock& operator=(const ZeroBlock&) = delete;
  const std::uint8_t* data() const { return data_; }

 private:
  std::uint8_t* data_;
};

// False when between_pieces stopped it.
bool WriteZeros(HANDLE file, const ZeroBlock& zeros, std::int64_t from, std::int64_t to,
                const RecordFile::BetweenPieces& between_pieces) {
  for (std::int64_t at = from; at < to; at += kFillChunk) {
    WriteAt(file, zeros.data(), std::min(kFillChunk, to - at), at);
    if (between_pieces && !between_pieces()) return false;
  }
  return true;
}

class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() {
    if (*this) CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// NTFS zero-fills an extension by itself, ReFS, FAT and Wine leave it unwritten; written
// explicitly, the fill costs the same everywhere. Its aligned bulk goes through a second
// handle that bypasses the system cache and writes through to the device, so the timing
// includes the device and none of it is left in memory for the voice test's first replay.
bool FillWithZeros(HANDLE file, std::int64_t from, std::int64_t to,
                   const RecordFile::BetweenPieces& between_pieces) {
  const ZeroBlock zeros;
  const std::int64_t direct_from = (from + kSectorMultiple - 1) / kSectorMultiple * kSectorMultiple;
  const std::int64_t direct_to = to / kSectorMultiple * kSectorMultiple;
  if (direct_from >= direct_to) return WriteZeros(file, zeros, from, to, between_pieces);
  if (!WriteZeros(file, zeros, from, direct_from, between_pieces)) return false;
  {
    const UniqueHandle direct(ReOpenFile(file, GENERIC_WRITE, kShareAll,
                                         FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH));
    // A file system that refuses unbuffered access still gets its fill, through the cache.
    if (!WriteZeros(direct ? direct.get() : file, zeros, direct_from, direct_to, between_pieces)) {
      return false;
    }
  }
  return WriteZeros(file, zeros, direct_to, to, between_pieces);
}

// Every run's file holds nothing but zeros (the record it writes is empty), in this version and
// every earlier one. Another program's file of the same size almost never does:
// a header or trailer sits at its start or end, and data spreads through it. So the first and last
// MiB are read, and blocks evenly between them: a few MiB before the clock, instead of 700.
constexpr std::int64_t kEdgeSample = 1 << 20;
constexpr std::int64_t kInnerSamples = 32;
constexpr std::int64_t kInnerSample = 4096;

bool ReadsAsZeros(HANDLE file, std::int64_t offset, std::span<std::uint8_t> buffer) {
  OVERLAPPED position = At(offset);
  DWORD got = 0;
  return ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, &position) &&
         got == buffer.size() &&
         std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t byte) { return byte == 0; });
}

// In the order of their offsets, so that a disk's head sweeps once across the file.
bool SampledBlocksAreZeros(HANDLE file, std::int64_t size) {
  // nothrow: the caller promises no exceptions, and a file that is not read is not taken.
  const std::int64_t edge = std::min(kEdgeSample, size);
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[edge]);
  const std::span<std::uint8_t> edge_block(buffer.get(), static_cast<std::size_t>(edge));
  if (!buffer || !ReadsAsZeros(file, 0, edge_block)) return false;
  const std::int64_t between = size - 2 * kEdgeSample;
  for (std::int64_t sample = 1; between > 0 && sample <= kInnerSamples; ++sample) {
    const std::int64_t offset = kEdgeSample + between * sample / (kInnerSamples + 1);
    if (!ReadsAsZeros(file, offset / kInnerSample * kInnerSample, edge_block.first(kInnerSample))) {
      return false;
    }
  }
  return ReadsAsZeros(file, size - edge, edge_block);
}

// c:\temp.txt is a name people and other programs use too: only a plain file of exactly the size
// every run leaves, and zeros where it was sampled, is taken for a leftover.
bool IsEarlierTestFile(HANDLE file, std::int64_t leftover_size) {
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  constexpr DWORD kNotPlain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  return GetFileType(file) == FILE_TYPE_DISK &&
         GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
         (basic.FileAttributes & kNotPlain) == 0 &&
         GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) &&
         !standard.Directory && !standard.DeletePending && standard.NumberOfLinks == 1 &&
         standard.EndOfFile.QuadPart == leftover_size && SampledBlocksAreZeros(file, leftover_size);
}

// Deletes the file open as `file`, whatever its path names by now; the name goes when the last
// handle to the file closes.
void DeleteThrough(HANDLE file) {
  FILE_DISPOSITION_INFO deletion{TRUE};
  SetFileInformationByHandle(file, FileDispositionInfo, &deletion, sizeof deletion);
}

}  // namespace

void RecordFile::Open() {
  if (IsOpen()) throw RunError(kErrPathAccess);
  // Always a new file, so the write and the deletions only ever reach a file this run made:
  // whatever still stands at the path is somebody else's, and the disk test fails.
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT |
                      (delete_when_last_closed_ ? FILE_FLAG_DELETE_ON_CLOSE : 0);
  const HANDLE file =
      CreateFileW(Utf16FromUtf8(path_).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                  nullptr, CREATE_NEW, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) RaiseLastWin32Error();
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

void RecordFile::Close() noexcept {
  if (!IsOpen()) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
}

bool RecordFile::WriteRecordExtending(std::int32_t record, std::span<const std::uint8_t> data,
                                      const BetweenPieces& between_pieces) {
  if (!IsOpen()) throw RunError(kErrBadFileNumber);
  const HANDLE file = AsHandle(handle_);
  const std::int64_t offset = RecordOffset(record);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) RaiseLastWin32Error();
  // The file may be gone once between_pieces has run: its window was closed meanwhile.
  const auto still_wanted = [&] { return between_pieces() && IsOpen(); };
  if (size.QuadPart < offset && !FillWithZeros(file, size.QuadPart, offset,
                                               between_pieces ? still_wanted : BetweenPieces())) {
    return false;
  }

  std::vector<std::uint8_t> full_record(static_cast<std::size_t>(record_length_), 0);
  std::copy_n(data.begin(), std::min<std::size_t>(data.size(), full_record.size()),
              full_record.begin());
  WriteAt(file, full_record.data(), record_length_, offset);
  if (!FlushFileBuffers(file)) RaiseLastWin32Error();
  return true;
}

void RecordFile::ReadRecord(std::int32_t record, std::span<std::uint8_t> data) {
  if (!IsOpen()) throw RunError(kErrBadFileNumber);
  const std::int64_t offset = RecordOffset(record);
  if (read_observer_) read_observer_(record);
  OVERLAPPED position = At(offset);
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), data.data(), static_cast<DWORD>(data.size()), &got, &position) &&
      GetLastError() != ERROR_HANDLE_EOF) {
    RaiseLastWin32Error();
  }
  // Reading past the end leaves the rest of the buffer as it was, like a short record.
}

void RecordFile::DropCachedPages() noexcept {
  // Nothing left to do: the fill bypassed the cache (see FillWithZeros), and what did go
  // through it, the unaligned edges around the fill and the written record, lies outside
  // every record the voice test reads. Windows offers no unprivileged way to drop a file's
  // cached pages while a cached handle to it is open.
}

void RecordFile::CloseAndDelete() noexcept {
  // Through the handle: the path may name somebody else's file by now, and with nothing open
  // there is nothing of ours to delete.
  if (IsOpen()) DeleteThrough(AsHandle(handle_));
  Close();
}

void RecordFile::DeleteLeftover(std::int64_t leftover_size) noexcept {
  // Checked and deleted through one handle, so what goes is the file that was checked; without
  // write sharing nobody can change it meanwhile, and a file in use by a writer stays. A link
  // or junction is opened as itself, never followed, and a folder not at all.
  const UniqueHandle file(CreateFileW(Utf16FromUtf8(path_).c_str(),
                                      DELETE | FILE_READ_ATTRIBUTES | FILE_READ_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file && IsEarlierTestFile(file.get(), leftover_size)) DeleteThrough(file.get());
}

}  // namespace sorel
