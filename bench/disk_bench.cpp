#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

void DdRound(const std::string& path, DiskRound& round) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  const std::string output = "of=" + path;
  char* const argv[] = {const_cast<char*>("dd"),
                        const_cast<char*>("if=/dev/zero"),
                        const_cast<char*>(output.c_str()),
                        const_cast<char*>("bs=1M"),
                        const_cast<char*>("count=700"),
                        const_cast<char*>("conv=fdatasync"),
                        nullptr};
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
  const int spawned = posix_spawnp(&child, "dd", &actions, &attributes, argv, env.data());
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
  round.dd_seconds = SecondsBetween(start, end);
  round.dd_own_seconds = OwnFigureOfDd(report);
  ::unlink(path.c_str());
}

}  // namespace

std::vector<DiskRound> RunDiskBench(const ScratchFiles& files, int rounds) {
  // The first 700 MiB written after a pause takes several times longer here, whoever writes
  // it: one uncounted write gets that out of the way.
  DiskRound warm_up;
  DdRound(files.dd_file(), warm_up);
  std::fprintf(stderr, "warm-up write (not counted): dd %.3f s\n", warm_up.dd_seconds);

  std::vector<DiskRound> results(static_cast<std::size_t>(rounds));
  for (int index = 0; index < rounds; ++index) {
    DiskRound& round = results[static_cast<std::size_t>(index)];
    // Alternated, so a drift in the machine's load or the disk's state hits both sides alike.
    if (index % 2 == 0) {
      ProgramRound(files.program_file(), round);
      DdRound(files.dd_file(), round);
    } else {
      DdRound(files.dd_file(), round);
      ProgramRound(files.program_file(), round);
    }
    std::fprintf(stderr,
                 "disk round %d: program %.3f s (message %s s), dd %.3f s (dd says %.3f s); "
                 "after the test %.1f MiB allocated, %lld of %lld pages cached; "
                 "a4 (%lld reads) cold %.2f ms, warm %.3f ms\n",
                 index + 1, round.program_seconds, round.message_figure.c_str(), round.dd_seconds,
                 round.dd_own_seconds, static_cast<double>(round.after_test.allocated) / (1 << 20),
                 static_cast<long long>(round.after_test.resident_pages),
                 static_cast<long long>(round.after_test.pages),
                 static_cast<long long>(round.a4_reads), round.cold_a4_ms, round.warm_a4_ms);
  }
  return results;
}

}  // namespace sorel::bench
