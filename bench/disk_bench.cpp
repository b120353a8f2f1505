#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app/form1.h"
#include "app/form_runner.h"
#include "bench/bench_platform.h"
#include "bench/benches.h"

extern char** environ;

namespace sorel::bench {
namespace {

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Our own earlier deletions and other jobs' dirty data would otherwise be flushed by the
// measured fdatasync's journal commit.
void QuietenDisk() { ::sync(); }

std::string FigureOfResultMessage(const std::string& message) {
  const std::string before = "ファイル作成に";
  const std::size_t from = message.find(before);
  const std::size_t to = message.find("秒", from);
  if (from == std::string::npos || to == std::string::npos) return "?";
  return message.substr(from + before.size(), to - from - before.size());
}

// Times the replay a Down press starts when Cnt sits just below a4.
double PressForA4(Form1& form, BenchPlatform& platform, std::int64_t& reads) {
  form.Cnt = 2;
  const std::int64_t sounds = platform.sounds_started();
  const std::int64_t events = platform.events_processed();
  platform.PressKey(kVkDown);
  if (platform.sounds_started() != sounds + 1 || !platform.last_sound().ends_with("a4.wav")) {
    throw std::runtime_error("a Down press onto a4 did not start a4.wav");
  }
  reads = platform.events_processed() - events;
  return SecondsBetween(platform.key_entered(), platform.sound_started()) * 1e3;
}

void ProgramRound(const std::string& path, DiskRound& round) {
  BenchPlatform platform;
  Form1 form(platform, path);
  FormRunner runner(form, platform);
  QuietenDisk();
  const std::vector<int> open_before = OpenDescriptors();
  runner.Start();
  platform.RunEventLoop();
  const auto& readings = platform.clock_readings();
  if (readings.size() != 2 || platform.messages().size() < 2) {
    throw std::runtime_error("the disk test did not run to its result message");
  }
  round.program_seconds = SecondsBetween(readings[0], readings[1]);
  round.message_figure = FigureOfResultMessage(platform.messages()[1].prompt);
  const std::string test_file = FileOpenedSince(open_before);
  round.after_test = FactsOf(test_file);
  round.cold_a4_ms = PressForA4(form, platform, round.a4_reads);
  std::int64_t repeat_reads = 0;
  round.warm_a4_ms = PressForA4(form, platform, repeat_reads);
  platform.CloseWindow();
  if (FactsOf(path).exists || FactsOf(test_file).exists) {
    throw std::runtime_error("the program left its test file behind");
  }
}

double OwnFigureOfDd(const std::string& report) {
  const std::size_t at = report.find("copied, ");
  if (at == std::string::npos) return 0;
  return std::strtod(report.c_str() + at + 8, nullptr);
}

struct DdTiming {
  double seconds = 0;      // dd process, start to exit
  double own_seconds = 0;  // what dd itself reported
};

// dd's arguments as words; operands are separated by single spaces.
std::vector<std::string> DdArguments(const std::string& path, std::string_view operands) {
  std::vector<std::string> words = {"dd", "if=/dev/zero", "of=" + path};
  for (std::size_t from = 0; from < operands.size();) {
    const std::size_t to = std::min(operands.find(' ', from), operands.size());
    words.emplace_back(operands.substr(from, to - from));
    from = to + 1;
  }
  return words;
}

DdTiming TimeDd(const std::string& path, std::string_view operands) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  std::vector<std::string> words = DdArguments(path, operands);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // dd prints its figure in the C locale only with LC_ALL set: strtod below expects a dot.
  std::vector<char*> env;
  for (char** var = environ; *var != nullptr; ++var) {
    if (std::string_view(*var).starts_with("LC_ALL=")) continue;
    env.push_back(*var);
  }
  env.push_back(const_cast<char*>("LC_ALL=C"));
  env.push_back(nullptr);

  QuietenDisk();
  // Signals wait until the bench knows dd's id, so its cleanup can stop dd before removing.
  sigset_t stopping, previous, none;
  sigemptyset(&stopping);
  sigemptyset(&none);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, signal_number);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setsigmask(&attributes, &none);
  pthread_sigmask(SIG_BLOCK, &stopping, &previous);

  pid_t child = 0;
  const auto start = Clock::now();
  const int spawned = posix_spawnp(&child, "dd", &actions, &attributes, argv.data(), env.data());
  if (spawned == 0) ScratchFiles::SetWriterProcess(child);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[1]);
  if (spawned != 0) {
    ::close(pipe_fds[0]);
    throw std::runtime_error("could not start dd");
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const auto end = Clock::now();
  ScratchFiles::SetWriterProcess(0);
  std::string report;
  std::array<char, 512> chunk;
  for (ssize_t got; (got = ::read(pipe_fds[0], chunk.data(), chunk.size())) > 0;) {
    report.append(chunk.data(), static_cast<std::size_t>(got));
  }
  ::close(pipe_fds[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("dd failed: " + report);
  }
  ::unlink(path.c_str());
  return {SecondsBetween(start, end), OwnFigureOfDd(report)};
}

constexpr std::size_t kWriters = kDdReferences.size() + 1;  // the program, then each dd

void RunWriter(std::size_t writer, const ScratchFiles& files, DiskRound& round) {
  if (writer == 0) {
    ProgramRound(files.program_file(), round);
    return;
  }
  const DdTiming timing = TimeDd(files.dd_file(), kDdReferences[writer - 1].operands);
  round.dd_seconds[writer - 1] = timing.seconds;
  round.dd_own_seconds[writer - 1] = timing.own_seconds;
}

void ReportRound(const DiskUnderTest& disk, std::size_t index, const DiskRound& round) {
  std::fprintf(stderr, "%s, round %zu: program %.3f s (message %s s)", disk.name.c_str(), index + 1,
               round.program_seconds, round.message_figure.c_str());
  for (std::size_t dd = 0; dd < kDdReferences.size(); ++dd) {
    std::fprintf(stderr, "; dd %.*s %.3f s (dd says %.3f s)",
                 static_cast<int>(kDdReferences[dd].operands.size()),
                 kDdReferences[dd].operands.data(), round.dd_seconds[dd], round.dd_own_seconds[dd]);
  }
  std::fprintf(stderr,
               "; after the test %.1f MiB allocated, %lld of %lld pages cached; "
               "a4 (%lld reads) cold %.2f ms, warm %.3f ms\n",
               static_cast<double>(round.after_test.allocated) / (1 << 20),
               static_cast<long long>(round.after_test.resident_pages),
               static_cast<long long>(round.after_test.pages),
               static_cast<long long>(round.a4_reads), round.cold_a4_ms, round.warm_a4_ms);
}

// The disk with the smallest share of its rounds done, so that the disks' rounds interleave
// evenly; disks.size() once all are done.
std::size_t DiskFurthestBehind(const std::vector<DiskUnderTest>& disks,
                               const std::vector<std::vector<DiskRound>>& done) {
  std::size_t next = disks.size();
  for (std::size_t disk = 0; disk < disks.size(); ++disk) {
    const auto finished = static_cast<long long>(done[disk].size());
    if (finished >= disks[disk].rounds) continue;
    if (next == disks.size() ||
        finished * disks[next].rounds <
            static_cast<long long>(done[next].size()) * disks[disk].rounds) {
      next = disk;
    }
  }
  return next;
}

}  // namespace

std::vector<std::vector<DiskRound>> RunDiskBench(const std::vector<DiskUnderTest>& disks) {
  // The first 700 MiB written after a pause takes several times longer here, whoever writes
  // it: one uncounted write on each disk gets that out of the way.
  for (const DiskUnderTest& disk : disks) {
    const DdTiming warm_up = TimeDd(disk.files->dd_file(), kDdReferences.front().operands);
    std::fprintf(stderr, "%s, warm-up write (not counted): dd %.3f s\n", disk.name.c_str(),
                 warm_up.seconds);
  }
  std::vector<std::vector<DiskRound>> results(disks.size());
  for (std::size_t disk; (disk = DiskFurthestBehind(disks, results)) < disks.size();) {
    const std::size_t index = results[disk].size();
    DiskRound& round = results[disk].emplace_back();
    // Each writer takes each place in turn, so a drift in the machine's load or the disk's
    // state hits all of them alike.
    for (std::size_t place = 0; place < kWriters; ++place) {
      RunWriter((index + place) % kWriters, *disks[disk].files, round);
    }
    ReportRound(disks[disk], index, round);
  }
  return results;
}

}  // namespace sorel::bench
