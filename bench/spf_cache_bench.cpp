// How long the SPF step takes when the result is in the cache, and how long
// the bare cache lookup takes in a well-filled cache. Prints one line per
// figure; run through bench/run.sh.
//
// The log line of a hit is formatted as in the daemon, then dropped instead
// of going to syslog, so the figure is the filter's own cost.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "checks/spf_cache.hpp"
#include "checks/spf_step.hpp"
#include "common/text.hpp"
#include "connection/connection_context.hpp"
#include "spamconfig/spam_config.hpp"
#include "support/log_writer.hpp"
#include "support/spf_step_run.hpp"

namespace {

void drop_line(int, const char*) {}

using bench_clock = std::chrono::steady_clock;

// The settings of every evaluation: cache on, fail ejected.
spam_config_record bench_config{};

connection_context hit_context() {
  connection_context context{};
  copy_bounded(context.client_addr, "192.0.2.7");
  copy_bounded(context.client_name, "mx.example.org");
  copy_bounded(context.helo_name, "mx.example.org");
  copy_bounded(context.mail_from, "<alice@example.org>");
  copy_bounded(context.sender_addr, "alice@example.org");
  copy_bounded(context.receiver_host, "mail.example.com");
  copy_bounded(context.spf_cache_key, "192.0.2.7|example.org");
  return context;
}

// Nanoseconds per SPF step with a cache hit, best of `rounds`.
double step_hit_ns(int rounds, int calls) {
  connection_context context = hit_context();
  double best = 1e30;
  for (int round = 0; round < rounds; ++round) {
    auto start = bench_clock::now();
    for (int n = 0; n < calls; ++n) {
      context.spf_result = 5;
      run_spf_step(context, bench_config);
    }
    std::chrono::duration<double, std::nano> spent = bench_clock::now() - start;
    best = std::min(best, spent.count() / calls);
  }
  if (context.spf_result != 2) std::fprintf(stderr, "warning: the step missed the cache\n");
  return best;
}

// Nanoseconds per SPF step with a hit while `threads` threads run it at once.
double contended_hit_ns(int threads, int calls) {
  auto start = bench_clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([calls] {
      connection_context context = hit_context();
      for (int n = 0; n < calls; ++n) run_spf_step(context, bench_config);
    });
  }
  for (auto& worker : workers) worker.join();
  std::chrono::duration<double, std::nano> spent = bench_clock::now() - start;
  return spent.count() / (static_cast<double>(calls) * threads);
}

// Nanoseconds per bare lookup with `entries` keys in the cache.
double lookup_ns(int entries, int calls) {
  int64_t now = std::time(nullptr);
  std::vector<std::string> keys;
  for (int n = 0; n < entries; ++n) {
    keys.push_back("198.51." + std::to_string(n / 256 % 256) + "." + std::to_string(n % 256) +
                   "|domain" + std::to_string(n) + ".example");
    spf_cache_insert(keys.back().c_str(), 36000, 2, now);
  }
  int found = 0;
  auto start = bench_clock::now();
  for (int n = 0; n < calls; ++n) {
    found += spf_cache_lookup(keys[static_cast<std::size_t>(n) % keys.size()].c_str(), now) != 0;
  }
  std::chrono::duration<double, std::nano> spent = bench_clock::now() - start;
  if (found != calls)
    std::fprintf(stderr, "warning: %d of %d lookups missed\n", calls - found, calls);
  return spent.count() / calls;
}

}  // namespace

int main() {
  set_log_writer(drop_line);
  bench_config.ttl = 36000;
  bench_config.refusefail = 1;
  bench_config.spf = ACTION_EJECT;
  if (!spf_cache_init(default_spf_cache_size)) {
    std::fprintf(stderr, "cache allocation failed\n");
    return 1;
  }
  spf_cache_insert("192.0.2.7|example.org", 36000, 2, std::time(nullptr));

  std::printf("spf step, cache hit, 1 thread:   %8.1f ns per message\n", step_hit_ns(5, 1000000));
  std::printf("spf step, cache hit, 4 threads:  %8.1f ns per message (wall / messages)\n",
              contended_hit_ns(4, 250000));
  std::printf("cache lookup, 200000 entries:    %8.1f ns per lookup\n", lookup_ns(200000, 2000000));
  spf_cache_free();
  return 0;
}
