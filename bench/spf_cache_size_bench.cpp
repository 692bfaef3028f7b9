// Memory and speed of the SPF result cache as it fills and empties: RSS
// before, after 200,000 and after 10 million distinct client/domain pairs
// (the bound raised to fit them), after the bound is lowered to a tenth and
// after the cache has emptied; the time that lowering takes; time per
// insert, per lookup hit and per lookup miss at both sizes; the spread of
// single-operation times while the table grows and while it empties, up to
// the slowest one. Prints one line per figure; run through bench/run.sh.
//
// Single-operation times are wall times. On a shared machine the slowest
// ones are mostly waits for a core; the percentiles show how rare they are.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "checks/spf_cache.hpp"

namespace {

using bench_clock = std::chrono::steady_clock;

constexpr int64_t start_time = 1700000000;
constexpr int32_t ttl = 36000;
constexpr std::size_t small_fill = 200000;
constexpr std::size_t large_fill = 10000000;
constexpr std::size_t batch = 100000;  // keys timed together for the averages

using key_text = std::array<char, 64>;

double rss_mib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return -1;
}

// The key of pair n: a client address and a sender domain, about 30 bytes.
void write_key(std::size_t n, key_text& key) {
  (void)std::snprintf(key.data(), key.size(), "10.%zu.%zu.%zu|d%zu.example", n >> 16 & 255,
                      n >> 8 & 255, n & 255, n);
}

// Keys of one timed batch, formatted before the clock starts. Made once, so
// the benchmark's own memory stays the same from one RSS figure to the next.
std::vector<key_text>& batch_keys() {
  static std::vector<key_text> keys(batch);
  return keys;
}

void fill_batch(std::size_t first, std::size_t stride, std::size_t modulo) {
  std::vector<key_text>& keys = batch_keys();
  for (std::size_t i = 0; i < keys.size(); ++i) write_key((first + i * stride) % modulo, keys[i]);
}

template <typename Operation>
double ns_per_key(Operation operation) {
  auto start = bench_clock::now();
  for (const key_text& key : batch_keys()) operation(key.data());
  std::chrono::duration<double, std::nano> spent = bench_clock::now() - start;
  return spent.count() / static_cast<double>(batch);
}

// Single-operation times in power-of-two nanosecond buckets, and the slowest.
struct latency_spread {
  std::array<std::size_t, 40> counts{};
  std::size_t total = 0;
  double slowest_ns = 0;
  std::size_t slowest_at = 0;

  template <typename Operation>
  void time(Operation operation) {
    auto before = bench_clock::now();
    operation();
    double ns = std::chrono::duration<double, std::nano>(bench_clock::now() - before).count();
    std::size_t bucket = 0;
    while (bucket + 1 < counts.size() && ns >= static_cast<double>(uint64_t{2} << bucket)) ++bucket;
    ++counts[bucket];
    if (ns > slowest_ns) {
      slowest_ns = ns;
      slowest_at = total;
    }
    ++total;
  }
  // Upper bound of the bucket that holds the given fraction of operations.
  double percentile_us(double fraction) const {
    auto wanted = static_cast<std::size_t>(fraction * static_cast<double>(total));
    std::size_t seen = 0;
    for (std::size_t bucket = 0; bucket < counts.size(); ++bucket) {
      seen += counts[bucket];
      if (seen >= wanted) return static_cast<double>(uint64_t{2} << bucket) / 1000;
    }
    return slowest_ns / 1000;
  }
  void print(const char* what) const {
    std::printf(
        "%s, %zu operations: 99%% under %.1f us, 99.99%% under %.1f us, slowest %.1f us "
        "(operation %zu)\n",
        what, total, percentile_us(0.99), percentile_us(0.9999), slowest_ns / 1000, slowest_at);
  }
};

// Inserts pairs [from, to) one at a time.
void fill(std::size_t from, std::size_t to, latency_spread& spread) {
  key_text key;
  for (std::size_t n = from; n < to; ++n) {
    write_key(n, key);
    spread.time([&] { spf_cache_insert(key.data(), ttl, 2, start_time); });
  }
}

// Hit, miss and insert times with `held` pairs in the cache; the insert
// batch adds the next `batch` pairs.
void print_speeds(std::size_t held) {
  fill_batch(12345, 7919, held);  // hits in a scattered order, as mail arrives
  int found = 0;
  double hit =
      ns_per_key([&](const char* key) { found += spf_cache_lookup(key, start_time) != 0; });
  fill_batch(held + large_fill, 1, SIZE_MAX);  // never stored
  double miss = ns_per_key([](const char* key) { (void)spf_cache_lookup(key, start_time); });
  fill_batch(held, 1, SIZE_MAX);
  double insert = ns_per_key([](const char* key) { spf_cache_insert(key, ttl, 2, start_time); });
  std::printf("at %8zu entries: lookup hit %6.0f ns, lookup miss %6.0f ns, insert %6.0f ns%s\n",
              held, hit, miss, insert, found == static_cast<int>(batch) ? "" : "  (hits missed!)");
}

}  // namespace

int main() {
  (void)batch_keys();
  if (!spf_cache_init(large_fill + 2 * batch)) {
    std::fprintf(stderr, "cache allocation failed\n");
    return 1;
  }
  std::printf("RSS empty cache:             %8.1f MiB\n", rss_mib());

  latency_spread growth;
  fill(0, small_fill - batch, growth);
  print_speeds(small_fill - batch);
  std::printf("RSS after %8zu pairs:     %8.1f MiB\n", spf_cache_entry_count(), rss_mib());

  fill(small_fill, large_fill - batch, growth);
  print_speeds(large_fill - batch);
  std::printf("RSS after %8zu pairs:     %8.1f MiB\n", spf_cache_entry_count(), rss_mib());
  growth.print("inserts while growing");

  // A reload lowers the bound: the entries closest to expiry go, a thousand
  // per hold of the lock.
  auto lowering = bench_clock::now();
  spf_cache_set_limit(large_fill / 10);
  std::chrono::duration<double> lowered_in = bench_clock::now() - lowering;
  std::printf("bound lowered to %zu entries in %.2f s; RSS %.1f MiB\n", spf_cache_entry_count(),
              lowered_in.count(), rss_mib());

  // Every entry has expired: lookups of an absent key drop them a few at a
  // time, and the table shrinks back.
  latency_spread emptying;
  auto start = bench_clock::now();
  key_text absent;
  write_key(SIZE_MAX / 2, absent);
  while (spf_cache_entry_count() > 0) {
    emptying.time([&] { (void)spf_cache_lookup(absent.data(), start_time + ttl); });
  }
  for (int n = 0; n < 100000; ++n) (void)spf_cache_lookup(absent.data(), start_time + ttl);
  std::chrono::duration<double> emptied_in = bench_clock::now() - start;
  std::printf("emptied by lookups in %.1f s (and 100000 more to finish shrinking the table)\n",
              emptied_in.count());
  emptying.print("lookups while emptying");
  std::printf("RSS after the cache emptied: %8.1f MiB\n", rss_mib());
  spf_cache_free();
  std::printf("RSS after spf_cache_free:    %8.1f MiB\n", rss_mib());
  return 0;
}
