// One SPF evaluation, as the evaluation process makes it, timed: wall time
// and CPU time per evaluation, against the system resolver (bench/
// spf_evaluation.sh runs it in the sandbox with a DNS server answering at
// once or late). Built from this file alone against any tree whose
// evaluate_spf takes an spf_question, so an older tree's evaluation can be
// timed by the same program.
//
// usage: spf_evaluation_bench SENDER CLIENT COUNT
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "spf/evaluate_spf.hpp"

namespace {

double cpu_seconds() {
  rusage usage{};
  (void)getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: spf_evaluation_bench SENDER CLIENT COUNT\n");
    return 2;
  }
  spf_question question{};
  (void)std::snprintf(question.sender_addr, sizeof question.sender_addr, "%s", argv[1]);
  (void)std::snprintf(question.client_addr, sizeof question.client_addr, "%s", argv[2]);
  (void)std::snprintf(question.helo_name, sizeof question.helo_name, "mx.example.net");
  (void)std::snprintf(question.receiver_host, sizeof question.receiver_host, "mx.local");
  question.seconds_allowed = 20;
  int count = std::atoi(argv[3]);
  int result = -1;
  double cpu_before = cpu_seconds();
  auto started = std::chrono::steady_clock::now();
  for (int n = 0; n < count; ++n) result = evaluate_spf(question).result;
  std::chrono::duration<double, std::micro> wall = std::chrono::steady_clock::now() - started;
  double cpu = (cpu_seconds() - cpu_before) * 1e6;
  std::printf("evaluations %d result %d wall_us %.1f cpu_us %.1f\n", count, result,
              wall.count() / count, cpu / count);
  return 0;
}
