// Counting from many threads while the writer renders loses nothing: the
// last write holds every increment (run under ThreadSanitizer as well).
#include "metrics/counters.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "checks/spf_cache.hpp"
#include "metrics/metrics_writer.hpp"
#include "mtaconfig/mta_test_support.hpp"

TEST(metric_counters, concurrent_counts_all_reach_the_last_write) {
  constexpr int threads = 4;
  constexpr int per_thread = 20000;
  reset_metrics();
  mta_test::scratch_dir dir;
  std::string path = dir.path("teslo.prom");
  ASSERT_TRUE(start_metrics_writer(path, spf_cache_entry_count, std::chrono::milliseconds(1)));
  std::vector<std::thread> workers;
  for (int index = 0; index < threads; ++index) {
    workers.emplace_back([] {
      for (int round = 0; round < per_thread; ++round) {
        count(metric::connections);
        count_dnsbl_lookup(metric::dnsbl_not_listed, std::chrono::microseconds(round % 2000));
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  stop_metrics_writer();
  reset_metrics();

  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  std::string total = std::to_string(threads * per_thread);
  for (const std::string& line : {"teslo_connections_total " + total,
                                  "teslo_dnsbl_lookups_total{outcome=\"not_listed\"} " + total,
                                  "teslo_dnsbl_lookup_duration_seconds_count " + total}) {
    EXPECT_NE(text.str().find("\n" + line + "\n"), std::string::npos) << line;
  }
}
