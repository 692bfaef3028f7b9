// Runs the load: N connection threads, each with its own mta_session,
// sending M messages one after another until the count or the time limit is
// reached, and gathers what came back.
//
// run_load is called from the driver's main thread (and from tests); it
// starts and joins the connection threads itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver_options.hpp"
#include "load_stats.hpp"
#include "milterclient/mta_session.hpp"

struct load_result {
  std::uint64_t messages = 0;                           // messages started
  std::array<std::uint64_t, verdict_count> verdicts{};  // by verdict
  reply_tally replies;
  std::uint64_t connections_opened = 0;
  std::size_t stalled = 0;          // idle connections held during the run (--stall)
  double idle_cpu_seconds = 0;      // the filter's CPU while they were held alone (--idle)
  std::vector<std::string> errors;  // first few error texts
  std::uint64_t error_count = 0;
  std::vector<std::string> warnings;  // figures that could not be taken
  std::vector<double> latencies_ms;   // answered messages, sorted
  std::vector<double> waits_ms;       // their time waiting on the filter, sorted
  double wall_seconds = 0;
  bool stopped_by_time = false;
  std::optional<process_figures> filter_before;
  std::optional<process_figures> filter_after;
  std::uint32_t filter_protocol = 0;
  std::uint32_t filter_actions = 0;

  std::uint64_t answered() const {
    return messages - verdicts[static_cast<std::size_t>(verdict::failed)];
  }
};

load_result run_load(const driver_options& options, const test_message& message);

// Prints the human-readable report and the one-line "RESULT key=value ..."
// summary that bench/load.sh reads.
void print_load_result(const driver_options& options, const load_result& result);
