// The daemon's counters: what happened to connections, messages, checks,
// lookups and reloads since start-up.
//
// Any thread counts, without a lock: every counter is a std::atomic<uint64_t>
// incremented with memory_order_relaxed (a count needs no ordering with
// anything else). Counting is off until enable_counting() (start-up does that
// when orvane.conf names a "metricsfile"), so a daemon without metrics pays
// one relaxed load per call. The writer (metrics_writer.hpp) takes a snapshot
// every 15 seconds and renders it (exposition.hpp).
//
// Each call on the message path is one short line, e.g.
// count(metric::connections).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "spamconfig/spam_config.hpp"

enum class spam_check;

// The plain counters, each one series of the exposition.
enum class metric : std::size_t {
  connections,
  messages_started,
  messages_ended,
  messages_aborted,
  // Refusals on the spot.
  refused_blacklisted_client,
  refused_malformed_recipient,
  refused_undisclosed_recipients,
  // End-of-message replies, one per check.
  refused_eom_helo,
  refused_eom_to,
  refused_eom_spf,
  refused_eom_harmful,
  refused_eom_ddns,
  refused_eom_dnsbl,
  // Messages exempt from the spam actions, by the first cause found.
  exempt_whitelisted_client,
  exempt_large_message,
  exempt_authenticated,
  exempt_verified_certificate,
  exempt_whitelisted_sender,
  exempt_whitelisted_recipient,
  // DNS blocklist lookups by outcome.
  dnsbl_listed,
  dnsbl_not_listed,
  dnsbl_error_answer,
  dnsbl_failure,
  copy_recipients_added,
  copy_rules_reloaded,
  copy_rules_reload_failed,
  settings_reloaded,
  settings_reload_failed,
  internal_errors,
  // SPF evaluations that gave no answer, by cause.
  spf_fault_died,
  spf_fault_timed_out,
  spf_fault_unavailable,
};
inline constexpr std::size_t metric_count =
    static_cast<std::size_t>(metric::spf_fault_unavailable) + 1;

// Where an SPF result came from.
enum class spf_source : std::size_t { fresh, cached };

// SPF results as spf/spf_result.hpp numbers them: 0 invalid, 1 neutral, 2 pass, 3 fail,
// 4 softfail, 5 none, 6 temperror, 7 permerror.
inline constexpr std::size_t spf_result_count = 8;
inline constexpr std::size_t check_count = 6;   // spam_check
inline constexpr std::size_t action_count = 3;  // header, eject, quarantine

// Upper bounds of the blocklist latency histogram; one more bucket (+Inf)
// follows the last.
struct latency_bound {
  uint64_t nanoseconds;
  const char* text;  // the "le" label
};
inline constexpr latency_bound dnsbl_latency_bounds[] = {
    {500'000, "0.0005"},   {1'000'000, "0.001"},   {2'500'000, "0.0025"}, {5'000'000, "0.005"},
    {10'000'000, "0.01"},  {25'000'000, "0.025"},  {50'000'000, "0.05"},  {100'000'000, "0.1"},
    {250'000'000, "0.25"}, {500'000'000, "0.5"},   {1'000'000'000, "1"},  {2'500'000'000, "2.5"},
    {5'000'000'000, "5"},  {10'000'000'000, "10"},
};
inline constexpr std::size_t latency_bucket_count = std::size(dnsbl_latency_bounds) + 1;

struct metric_counters {
  std::atomic<uint64_t> plain[metric_count];
  std::atomic<uint64_t> check_hits[check_count][action_count];
  std::atomic<uint64_t> spf_evaluations[spf_result_count][2];
  std::atomic<uint64_t> dnsbl_latency_buckets[latency_bucket_count];  // not cumulative
  std::atomic<uint64_t> dnsbl_latency_nanoseconds;
};

// A copy of every counter at one moment (each read on its own).
struct metric_snapshot {
  uint64_t plain[metric_count];
  uint64_t check_hits[check_count][action_count];
  uint64_t spf_evaluations[spf_result_count][2];
  uint64_t dnsbl_latency_buckets[latency_bucket_count];
  uint64_t dnsbl_latency_nanoseconds;
};

namespace metrics_detail {
extern std::atomic<bool> counting;
extern metric_counters counters;
inline void add(std::atomic<uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }
}  // namespace metrics_detail

inline bool counting_enabled() { return metrics_detail::counting.load(std::memory_order_relaxed); }

inline void count(metric which) {
  if (counting_enabled())
    metrics_detail::add(metrics_detail::counters.plain[static_cast<std::size_t>(which)]);
}

// A check raised the flag that `action` names (ACTION_OFF counts nothing).
void count_check_hit(spam_check check, check_action action);

// One SPF result; a value outside 0 to 7 counts as invalid.
void count_spf_evaluation(int32_t result, spf_source source);

// One blocklist lookup: its outcome (one of the dnsbl_* metrics) and how long
// the resolver took.
void count_dnsbl_lookup(metric outcome, std::chrono::steady_clock::duration took);

// Counting starts (start-up, before the first connection).
void enable_counting();

metric_snapshot take_metric_snapshot();

// Every counter back to 0 and counting off (for tests).
void reset_metrics();
