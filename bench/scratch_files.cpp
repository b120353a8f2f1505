#include "bench/scratch_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace sorel::bench {
namespace {

// Fixed storage: the signal handler may only touch what needs no allocation. Room for the
// files of two disks; an empty path is a free place.
constexpr std::size_t kMaxPath = 512;
constexpr std::size_t kMaxFiles = 4;
char g_files[kMaxFiles][kMaxPath];
volatile std::sig_atomic_t g_writer_pid = 0;

void RemoveAndDie(int signal_number) {
  if (const pid_t writer = g_writer_pid; writer > 0) {
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
  }
  for (const char* file : g_files) {
    if (file[0] != '\0') ::unlink(file);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void Register(const std::string& path) {
  if (path.empty() || path.size() >= kMaxPath) {
    throw std::runtime_error("unusable scratch path: " + path);
  }
  for (char* place : g_files) {
    if (place[0] != '\0') continue;
    std::memcpy(place, path.c_str(), path.size() + 1);
    return;
  }
  throw std::runtime_error("too many scratch files");
}

void Unregister(const std::string& path) noexcept {
  for (char* place : g_files) {
    if (path == place) place[0] = '\0';
  }
}

}  // namespace

ScratchFiles::ScratchFiles(const std::string& prefix)
    : program_file_(prefix + "-program.dat"), dd_file_(prefix + "-dd.dat") {
  Register(program_file_);
  Register(dd_file_);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal_number, RemoveAndDie);
  RemoveAll();
}

void ScratchFiles::SetWriterProcess(int pid) { g_writer_pid = pid; }

ScratchFiles::~ScratchFiles() {
  RemoveAll();
  Unregister(program_file_);
  Unregister(dd_file_);
}

void ScratchFiles::RemoveAll() const noexcept {
  ::unlink(program_file_.c_str());
  ::unlink(dd_file_.c_str());
}

std::int64_t FreeBytesNear(const std::string& path) {
  const std::string folder = path.substr(0, path.find_last_of('/') + 1);
  struct statvfs info {};
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) {
    throw std::runtime_error("statvfs failed for " + folder);
  }
  return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

FileFacts FactsOf(const std::string& path) {
  FileFacts facts;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return facts;
  facts.exists = true;
  struct stat info {};
  if (::fstat(fd, &info) == 0) {
    facts.size = info.st_size;
    facts.allocated = static_cast<std::int64_t>(info.st_blocks) * 512;
  }
  const std::int64_t page = ::sysconf(_SC_PAGESIZE);
  facts.pages = (facts.size + page - 1) / page;
  if (facts.size > 0) {
    // A mapping only to ask which pages are cached; it touches none of them.
    void* map = ::mmap(nullptr, static_cast<std::size_t>(facts.size), PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      std::vector<unsigned char> resident(static_cast<std::size_t>(facts.pages));
      if (::mincore(map, static_cast<std::size_t>(facts.size), resident.data()) == 0) {
        for (unsigned char flags : resident) facts.resident_pages += flags & 1;
      }
      ::munmap(map, static_cast<std::size_t>(facts.size));
    }
  }
  ::close(fd);
  return facts;
}

std::vector<int> OpenDescriptors() {
  DIR* listing = ::opendir("/proc/self/fd");
  if (listing == nullptr) throw std::runtime_error("cannot list /proc/self/fd");
  std::vector<int> descriptors;
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd != ::dirfd(listing)) descriptors.push_back(fd);
  }
  ::closedir(listing);
  std::sort(descriptors.begin(), descriptors.end());
  return descriptors;
}

std::string FileOpenedSince(const std::vector<int>& before) {
  std::vector<int> opened;
  for (int fd : OpenDescriptors()) {
    struct stat info {};
    if (!std::binary_search(before.begin(), before.end(), fd) && ::fstat(fd, &info) == 0 &&
        S_ISREG(info.st_mode)) {
      opened.push_back(fd);
    }
  }
  if (opened.size() != 1) {
    throw std::runtime_error(std::to_string(opened.size()) +
                             " regular files opened where the test file alone was expected");
  }
  return "/proc/self/fd/" + std::to_string(opened.front());
}

}  // namespace sorel::bench
