// SPF questions through the daemon's own path, timed: the evaluator pool
// (spf/evaluator_pool.hpp) asking evaluation processes that a real
// spawner, started here as the root monitor starts it, provides. Against
// the system resolver (bench/spf_evaluation.sh runs it in the sandbox with
// a DNS server answering at once). Built from this file alone against this
// tree, where each question gets a fresh teslo-spf started by exec, or
// against an older tree whose spawner forks its processes in place and
// keeps them for reuse, so both paths are timed by the same program.
//
// Prints the first question's time (the spawner's start included); the
// wall time per question of COUNT asked one after another; the mean
// latency of COUNT/4 more asked 10 ms apart, as on a filter that is not
// saturated, where processes started ahead have had time to start; and the
// CPU time per question of both, of the whole process tree (this process,
// the spawner and every evaluation process its spawner reaped).
//
// usage: spf_pool_bench SENDER CLIENT COUNT [PROGRAM_DIRECTORY]
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "sandbox/process_spawner.hpp"
#include "sandbox/unprivileged_user.hpp"
#include "spf/evaluator_pool.hpp"
#include "spf/spf_asker.hpp"
#if __has_include("spf_evaluator/evaluator_process.hpp")
#define TESLO_SPAWNER_EXECUTES 1
#else
#include "spf/evaluator_process.hpp"
#endif

namespace {

using clock_type = std::chrono::steady_clock;

std::string program_directory;
std::vector<pid_t> spawners;

int bench_spawner() {
  auto account = find_unprivileged_account(nullptr);
  if (!account) return -1;
  pid_t pid = -1;
#ifdef TESLO_SPAWNER_EXECUTES
  int channel = start_process_spawner(*account, spf_evaluator_role, pid, program_directory);
#else
  int channel = start_process_spawner(*account, spf_evaluator_role, pid);
#endif
  if (channel >= 0) spawners.push_back(pid);
  return channel;
}

double seconds_of(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double tree_cpu_seconds() {
  rusage self{};
  rusage children{};
  (void)getrusage(RUSAGE_SELF, &self);
  (void)getrusage(RUSAGE_CHILDREN, &children);
  return seconds_of(self.ru_utime) + seconds_of(self.ru_stime) + seconds_of(children.ru_utime) +
         seconds_of(children.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: spf_pool_bench SENDER CLIENT COUNT [PROGRAM_DIRECTORY]\n");
    return 2;
  }
  if (argc == 5) program_directory = argv[4];
  spf_question question{};
  (void)std::snprintf(question.sender_addr, sizeof question.sender_addr, "%s", argv[1]);
  (void)std::snprintf(question.client_addr, sizeof question.client_addr, "%s", argv[2]);
  (void)std::snprintf(question.helo_name, sizeof question.helo_name, "mx.example.net");
  (void)std::snprintf(question.receiver_host, sizeof question.receiver_host, "mx.local");
  question.seconds_allowed = 20;
  int count = std::atoi(argv[3]);
  start_evaluation_processes(bench_spawner);

  auto first_started = clock_type::now();
  spf_evaluation first = ask_spf(question)->answer();
  std::chrono::duration<double, std::micro> first_wall = clock_type::now() - first_started;
  if (first.kind != spf_evaluation::answered) {
    std::fprintf(stderr, "spf_pool_bench: no answer (fault %d)\n", static_cast<int>(first.fault));
    return 1;
  }
  double cpu_before = tree_cpu_seconds();
  int result = -1;
  int faults = 0;
  auto started = clock_type::now();
  for (int n = 0; n < count; ++n) {
    spf_evaluation outcome = ask_spf(question)->answer();
    if (outcome.kind == spf_evaluation::answered) {
      result = outcome.result;
    } else {
      ++faults;
    }
  }
  std::chrono::duration<double, std::micro> wall = clock_type::now() - started;
  int spaced_count = count / 4;
  std::chrono::duration<double, std::micro> spaced{0};
  for (int n = 0; n < spaced_count; ++n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto asked = clock_type::now();
    if (ask_spf(question)->answer().kind != spf_evaluation::answered) ++faults;
    spaced += clock_type::now() - asked;
  }
  stop_evaluation_processes();
  for (pid_t pid : spawners) (void)waitpid(pid, nullptr, 0);
  double cpu = (tree_cpu_seconds() - cpu_before) * 1e6 / (count + spaced_count);
  std::printf(
      "questions %d result %d faults %d first_us %.0f wall_us %.1f tree_cpu_us %.1f "
      "spaced_us %.1f\n",
      count, result, faults, first_wall.count(), wall.count() / count, cpu,
      spaced_count > 0 ? spaced.count() / spaced_count : 0.0);
  return 0;
}
