#include "metrics/counters.hpp"

#include <algorithm>

namespace metrics_detail {
std::atomic<bool> counting{false};
metric_counters counters{};
}  // namespace metrics_detail

namespace {

using metrics_detail::add;
using metrics_detail::counters;

uint64_t read(const std::atomic<uint64_t>& counter) {
  return counter.load(std::memory_order_relaxed);
}

void clear(std::atomic<uint64_t>& counter) { counter.store(0, std::memory_order_relaxed); }

// Applies `visit` to each counter of `all` beside its place in `copy`.
template <class Counters, class Copy, class Visit>
void each_counter(Counters& all, Copy& copy, Visit visit) {
  for (std::size_t index = 0; index < metric_count; ++index)
    visit(all.plain[index], copy.plain[index]);
  for (std::size_t check = 0; check < check_count; ++check) {
    for (std::size_t action = 0; action < action_count; ++action) {
      visit(all.check_hits[check][action], copy.check_hits[check][action]);
    }
  }
  for (std::size_t result = 0; result < spf_result_count; ++result) {
    for (std::size_t source = 0; source < 2; ++source) {
      visit(all.spf_evaluations[result][source], copy.spf_evaluations[result][source]);
    }
  }
  for (std::size_t bucket = 0; bucket < latency_bucket_count; ++bucket) {
    visit(all.dnsbl_latency_buckets[bucket], copy.dnsbl_latency_buckets[bucket]);
  }
  visit(all.dnsbl_latency_nanoseconds, copy.dnsbl_latency_nanoseconds);
}

}  // namespace

void count_check_hit(spam_check check, check_action action) {
  if (!counting_enabled() || action == ACTION_OFF) return;
  add(counters.check_hits[static_cast<std::size_t>(check)][static_cast<std::size_t>(action) - 1]);
}

void count_spf_evaluation(int32_t result, spf_source source) {
  if (!counting_enabled()) return;
  std::size_t index = result >= 0 && static_cast<std::size_t>(result) < spf_result_count
                          ? static_cast<std::size_t>(result)
                          : 0;
  add(counters.spf_evaluations[index][static_cast<std::size_t>(source)]);
}

void count_dnsbl_lookup(metric outcome, std::chrono::steady_clock::duration took) {
  if (!counting_enabled()) return;
  count(outcome);
  auto nanoseconds = static_cast<uint64_t>(
      std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()));
  std::size_t bucket = 0;
  while (bucket < std::size(dnsbl_latency_bounds) &&
         nanoseconds > dnsbl_latency_bounds[bucket].nanoseconds) {
    ++bucket;
  }
  add(counters.dnsbl_latency_buckets[bucket]);
  counters.dnsbl_latency_nanoseconds.fetch_add(nanoseconds, std::memory_order_relaxed);
}

void enable_counting() { metrics_detail::counting.store(true, std::memory_order_relaxed); }

metric_snapshot take_metric_snapshot() {
  metric_snapshot snapshot{};
  each_counter(counters, snapshot,
               [](const std::atomic<uint64_t>& counter, uint64_t& copy) { copy = read(counter); });
  return snapshot;
}

void reset_metrics() {
  metrics_detail::counting.store(false, std::memory_order_relaxed);
  metric_snapshot unused{};
  each_counter(counters, unused, [](std::atomic<uint64_t>& counter, uint64_t&) { clear(counter); });
}
